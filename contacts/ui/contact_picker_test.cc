// The contact picker over a store read from the real pimstore.dll of a
// scratch device, run modally and driven by a dialog script the way a user
// would: keys, taps, menu commands, and the dialogs it opens.
#include "contacts/ui/contact_picker.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "contacts/testing/phone_contacts.h"
#include "contacts/ui/group_dialog.h"
#include "contacts/ui/photo_loader.h"
#include "kit/file_browser.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"
#include "platform/unicode.h"
#include "settings/settings_store.h"

namespace contacts::ui {
namespace {

namespace fs = std::filesystem;
namespace cmds = kit::cmds;
using kit::DeviceDialog;
using platform::testing::BinDir;
using platform::testing::Devicectl;
using platform::testing::ReadHostFile;
using platform::testing::TempDevice;
using platform::testing::WaitUntil;

// Ten contacts with numbers (sorted: Anna ... Ivy, Zoe) and one without.
constexpr char kCards[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Carl\r\nTEL;TYPE=CELL:0301\r\n"
    "CATEGORIES:Friends,Work\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\nTEL;TYPE=CELL:0101\r\n"
    "TEL;TYPE=HOME:0102\r\nCATEGORIES:Friends\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bert\r\nTEL;TYPE=WORK:0201\r\n"
    "CATEGORIES:Work\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cleo\r\nTEL;TYPE=CELL:0302\r\nEND:"
    "VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Dora\r\nTEL;TYPE=CELL:0401\r\n"
    "CATEGORIES:Family\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Emil\r\nTEL;TYPE=CELL:0501\r\nEND:"
    "VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Fay\r\nTEL;TYPE=CELL:0601\r\nEND:"
    "VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Gus\r\nTEL;TYPE=CELL:0701\r\nEND:"
    "VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ivy\r\nTEL;TYPE=CELL:0901\r\nEND:"
    "VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Zoe\r\nTEL;TYPE=CELL:2601\r\nEND:"
    "VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Nobody\r\nCATEGORIES:Lonely\r\n"
    "END:VCARD\r\n";

constexpr char16_t kGroupFile[] = u"\\smsgroup.ini";
constexpr char16_t kPhotoFolder[] = u"\\photo\\";

// The bytes of `text` in UTF-16LE.
std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

class ContactPickerTest : public ::testing::Test {
 protected:
  // One device for the whole suite: the libraries installed and the cards
  // imported once.
  static void SetUpTestSuite() {
    kit::testing::EnsureApplication();
    device_ = new TempDevice();
    ASSERT_NO_FATAL_FAILURE(
        contacts::testing::InstallContactLibraries(*device_));
    ImportCards(kCards);
  }
  static void TearDownTestSuite() {
    delete device_;
    device_ = nullptr;
  }

  static void ImportCards(const std::string& cards) {
    contacts::testing::ImportCards(*device_, cards);
  }

  void SetUp() override {
    fs::remove(Host(kGroupFile));
    fs::remove_all(Host(kPhotoFolder));
    fs::create_directories(Host(kPhotoFolder));
    store_.Load();
    ASSERT_TRUE(store_.groups().Load(kGroupFile).ok());
    settings_.set_show_photo(0);
    settings_.set_photo_folder(kPhotoFolder);
    settings_.set_last_dir(u"\\");
  }
  void TearDown() override {
    kit::SetDialogScript({});
    kit::SetMessageScript({});
  }

  static fs::path Host(std::u16string_view device_path) {
    return device_->HostPath(platform::ToUtf8(device_path));
  }

  PickerEnvironment Environment(bool touch_screen = false) {
    return PickerEnvironment{&store_, &settings_, touch_screen};
  }

  // Runs `steps` on the picker, and `nested` on every dialog it opens.
  void Script(std::function<void(ContactPicker*)> steps,
              std::function<void(DeviceDialog*)> nested = {}) {
    kit::SetDialogScript([steps, nested](DeviceDialog* dialog) {
      if (auto* picker = qobject_cast<ContactPicker*>(dialog)) {
        steps(picker);
      } else {
        ASSERT_TRUE(nested) << "unexpected dialog " << dialog->template_id();
        nested(dialog);
      }
    });
  }

  void AddFamily() {
    ASSERT_TRUE(store_.groups().AddGroup(u"Family"));
    ASSERT_TRUE(store_.groups().AddMember(0, u"Mum", u"0123"));
    ASSERT_TRUE(store_.groups().AddMember(0, u"Dad", u"0456"));
    ASSERT_TRUE(store_.groups().AddMember(0, u"Kid", u"0789"));
  }

  // A picture file on the device.
  static void WritePicture(std::u16string_view device_path, QColor color,
                           int size = 64) {
    QImage image(size, size / 2, QImage::Format_RGB32);
    image.fill(color);
    fs::path host = Host(device_path);
    fs::create_directories(host.parent_path());
    ASSERT_TRUE(image.save(QString::fromStdString(host.string())));
  }

  static std::vector<std::u16string> Names(const ContactPicker* picker) {
    std::vector<std::u16string> names;
    for (const PickerItem& item : picker->list().items()) {
      names.emplace_back(picker->list().Name(item));
    }
    return names;
  }
  static size_t Row(const ContactPicker* picker, std::u16string_view name) {
    std::vector<std::u16string> names = Names(picker);
    return static_cast<size_t>(std::find(names.begin(), names.end(), name) -
                               names.begin());
  }
  static std::u16string Selected(const ContactPicker* picker) {
    const PickerList& list = picker->list();
    if (!list.selected()) return u"(none)";
    return std::u16string(list.Name(list.items()[*list.selected()]));
  }
  static void Press(ContactPicker* picker, int key, const QString& text = {},
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(picker->list_view(), &event);
  }
  static QPoint RowPoint(ContactPicker* picker, size_t row, int x) {
    QListView* view = picker->list_view();
    QRect rect =
        view->visualRect(view->model()->index(static_cast<int>(row), 0));
    return QPoint(rect.left() + x, rect.center().y());
  }
  // Opens the soft-key menu as a tap on "Menu" does, and closes it again.
  static QMenu* OpenMenu(ContactPicker* picker) {
    picker->soft_keys()->OpenMenu();
    QMenu* menu = picker->soft_keys()->menu();
    menu->hide();
    return menu;
  }
  static bool Enabled(QMenu* menu, uint32_t command) {
    QAction* action = kit::FindCommand(menu, command);
    return action != nullptr && action->isEnabled();
  }

  static TempDevice* device_;
  ContactStore store_;
  settings::SettingsStore settings_;
};

TempDevice* ContactPickerTest::device_ = nullptr;

// ---- Choosing

TEST_F(ContactPickerTest, SeveralChoicesHandBackTickedContactsAndGroups) {
  AddFamily();
  Script([](ContactPicker* picker) {
    EXPECT_EQ(picker->title_bar()->caption(), QStringLiteral("Contacts"));
    EXPECT_EQ(picker->template_id(), kPickerTemplate);
    EXPECT_EQ(kit::FindControl<QListView>(picker, kPickerListId),
              picker->list_view());
    // The group first, then the contacts with a number, by name; the first
    // item added (the group) is selected.
    EXPECT_EQ(Names(picker),
              (std::vector<std::u16string>{u"Family", u"Anna", u"Bert", u"Carl",
                                           u"Cleo", u"Dora", u"Emil", u"Fay",
                                           u"Gus", u"Ivy", u"Zoe"}));
    EXPECT_EQ(Selected(picker), u"Family");
    EXPECT_EQ(picker->list_view()->currentIndex().row(), 0);

    // Enter ticks the selection, a tap at the left edge ticks a row, a tap
    // further right only selects.
    Press(picker, Qt::Key_Return);
    QWidget* viewport = picker->list_view()->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, RowPoint(picker, 3, 5));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, RowPoint(picker, 2, 20));
    EXPECT_EQ(Selected(picker), u"Bert");
    QTest::mouseClick(viewport, Qt::LeftButton, {}, RowPoint(picker, 1, 40));
    EXPECT_EQ(Selected(picker), u"Anna");
    std::vector<bool> ticks;
    for (const PickerItem& item : picker->list().items()) {
      ticks.push_back(item.ticked);
    }
    EXPECT_EQ(ticks, (std::vector<bool>{true, false, true, true, false, false,
                                        false, false, false, false, false}));
    picker->Dispatch(cmds::kPickerConfirm);
  });
  std::u16string output = u"untouched";
  ASSERT_EQ(RunContactPicker(nullptr, Environment(), kPickerMultiple, &output),
            kPickerConfirmed);
  EXPECT_EQ(output,
            u";\"Mum\"<0123>;\"Dad\"<0456>;\"Kid\"<0789>;\"Bert\"<0201>"
            u";\"Carl\"<0301>");

  // Nothing ticked still confirms, with an empty text; Check All and
  // Uncheck All set every tick.
  Script([](ContactPicker* picker) {
    picker->Dispatch(cmds::kCheckAll);
    for (const PickerItem& item : picker->list().items()) {
      EXPECT_TRUE(item.ticked);
    }
    picker->Dispatch(cmds::kUncheckAll);
    picker->Dispatch(kit::kCommandOk);  // the title bar's OK button
  });
  ASSERT_EQ(RunContactPicker(nullptr, Environment(), kPickerMultiple, &output),
            kPickerConfirmed);
  EXPECT_EQ(output, u"");

  // Cancel and the Back key leave the text alone.
  output = u"kept";
  Script([](ContactPicker* picker) {
    picker->Dispatch(cmds::kCheckAll);
    picker->Dispatch(cmds::kCancel);
  });
  EXPECT_EQ(RunContactPicker(nullptr, Environment(), kPickerMultiple, &output),
            kPickerCancelled);
  Script([](ContactPicker* picker) { Press(picker, Qt::Key_Escape); });
  EXPECT_EQ(RunContactPicker(nullptr, Environment(), kPickerMultiple, &output),
            kPickerCancelled);
  EXPECT_EQ(output, u"kept");

  // Another mode: no groups, no "Send Group" entries.
  Script([](ContactPicker* picker) {
    EXPECT_EQ(picker->list().items().size(), 10u);
    QMenu* groups = picker->soft_keys()->menu()->findChild<QMenu*>(
        QStringLiteral("menu.") + QString::number(kit::ids::kSendGroup));
    ASSERT_NE(groups, nullptr);
    EXPECT_FALSE(groups->menuAction()->isVisible());
    Press(picker, Qt::Key_Select);
    picker->Dispatch(cmds::kPickerConfirm);
  });
  ASSERT_EQ(RunContactPicker(nullptr, Environment(), 1, &output),
            kPickerConfirmed);
  EXPECT_EQ(output, u";\"Carl\"<0301>");
}

TEST_F(ContactPickerTest, SingleChoiceHandsBackNumberAndName) {
  AddFamily();  // not listed in single-choice mode
  Script([](ContactPicker* picker) {
    EXPECT_EQ(Names(picker).front(), u"Anna");
    EXPECT_EQ(picker->soft_keys()->left_key()->text(), QStringLiteral("OK"));
    Press(picker, Qt::Key_B, QStringLiteral("b"));
    EXPECT_EQ(Selected(picker), u"Bert");
    Press(picker, Qt::Key_Return);  // Enter confirms
  });
  std::u16string number;
  std::u16string name;
  ASSERT_EQ(PickContact(nullptr, Environment(), &number, &name),
            kPickerConfirmed);
  EXPECT_EQ(number, u"0201");  // Bert's only number is a work number
  EXPECT_EQ(name, u"Bert");

  // "*" moves Anna's chosen number to home and back; "1" does the same.
  // The information window shows it with the check sign.
  Script([](ContactPicker* picker) {
    Press(picker, Qt::Key_A, QStringLiteral("a"));
    Press(picker, Qt::Key_Asterisk, QStringLiteral("*"));
    EXPECT_TRUE(picker->info_window()->isVisible());
    EXPECT_EQ(picker->info_window()->text(),
              QString::fromUtf16(u"Anna\nM: 0101\nH: 0102 \u221A"));
    Press(picker, Qt::Key_1, QStringLiteral("1"));
    EXPECT_EQ(picker->info_window()->text(),
              QString::fromUtf16(u"Anna\nM: 0101 \u221A\nH: 0102"));
    Press(picker, Qt::Key_Asterisk, QStringLiteral("*"));
    picker->Dispatch(cmds::kPickerConfirm);
  });
  std::u16string output;
  ASSERT_EQ(RunContactPicker(nullptr, Environment(), kPickerSingle, &output),
            kPickerConfirmed);
  EXPECT_EQ(output, u"0102");

  // Without a selection (an empty store) OK does nothing.
  ContactStore empty;
  Script([](ContactPicker* picker) {
    picker->Dispatch(cmds::kPickerConfirm);
    EXPECT_TRUE(picker->isVisible());
  });
  PickerEnvironment nothing{&empty, &settings_, false};
  EXPECT_EQ(PickContact(nullptr, nothing, &number, &name), kPickerCancelled);
}

// ---- Categories, refresh and finding

TEST_F(ContactPickerTest, CategoriesFilterAndTheMenuFollows) {
  AddFamily();
  // The "Category" popup's entries after "All", and which one is checked.
  auto entries = [](ContactPicker* picker) {
    QMenu* popup = picker->soft_keys()->menu()->findChild<QMenu*>(
        QStringLiteral("menu.") + QString::number(kit::ids::kCategoryMenu));
    std::vector<QString> texts;
    for (QAction* action : popup->actions()) {
      texts.push_back(QString::number(kit::CommandOf(action)) + " " +
                      action->text() + (action->isChecked() ? " *" : ""));
    }
    return texts;
  };
  Script([&](ContactPicker* picker) {
    EXPECT_EQ(
        entries(picker),
        (std::vector<QString>{"40460 All *", "40461 Friends", "40462 Work",
                              "40463 Family", "40464 Lonely", "40465 SIM"}));
    picker->Dispatch(cmds::kCategoryBase + 1);  // Work
    EXPECT_EQ(Names(picker),
              (std::vector<std::u16string>{u"Family", u"Bert", u"Carl"}));
    EXPECT_EQ(
        entries(picker),
        (std::vector<QString>{"40460 All", "40461 Friends", "40462 Work *",
                              "40463 Family", "40464 Lonely", "40465 SIM"}));
    // A category no listed contact carries leaves the groups alone.
    picker->Dispatch(cmds::kCategoryBase + 3);
    EXPECT_EQ(Names(picker), (std::vector<std::u16string>{u"Family"}));
    picker->Dispatch(cmds::kCategoryBase + 4);
    EXPECT_EQ(Names(picker), (std::vector<std::u16string>{u"Family"}));

    // Refresh reads the phone again and keeps the category.
    picker->Dispatch(cmds::kCategoryBase + 0);  // Friends
    ImportCards(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Hal\r\nTEL;TYPE=CELL:0801\r\n"
        "CATEGORIES:Friends\r\nEND:VCARD\r\n");
    picker->Dispatch(cmds::kRefresh);
    EXPECT_EQ(Names(picker), (std::vector<std::u16string>{u"Family", u"Anna",
                                                          u"Carl", u"Hal"}));
    EXPECT_EQ(entries(picker)[1], QStringLiteral("40461 Friends *"));
    picker->Dispatch(cmds::kAllCategories);
    EXPECT_EQ(picker->list().items().size(), 12u);
    EXPECT_EQ(entries(picker)[0], QStringLiteral("40460 All *"));
    picker->Dispatch(cmds::kCancel);
  });
  std::u16string output;
  RunContactPicker(nullptr, Environment(), kPickerMultiple, &output);
  // Put the phone back as the other tests know it.
  ASSERT_EQ(Devicectl("contacts clear").exit_code, 0);
  ImportCards(kCards);
}

TEST_F(ContactPickerTest, FindingByKeysAndTabs) {
  // A keypad phone: 2 pressed three times finds a, b, c; 3 finds d, e, f
  // (the numeric pad's keys too); letters find directly. Photo rows do not
  // all fit: the found row is scrolled into view.
  Script([](ContactPicker* picker) {
    EXPECT_EQ(picker->tab_header(), nullptr);
    QListView* view = picker->list_view();
    const QModelIndex zoe =
        view->model()->index(static_cast<int>(Row(picker, u"Zoe")), 0);
    auto in_view = [view](const QModelIndex& index) {
      return view->viewport()->rect().contains(view->visualRect(index));
    };
    EXPECT_FALSE(in_view(zoe));
    std::vector<std::u16string> found;
    for (int i = 0; i < 3; ++i) {
      Press(picker, Qt::Key_2, QStringLiteral("2"));
      found.push_back(Selected(picker));
    }
    for (int i = 0; i < 3; ++i) {
      Press(picker, Qt::Key_3, QStringLiteral("3"), Qt::KeypadModifier);
      found.push_back(Selected(picker));
    }
    // 9 has w, x, y, z: only "z" has a name.
    Press(picker, Qt::Key_9, QStringLiteral("9"));
    found.push_back(Selected(picker));
    EXPECT_EQ(view->currentIndex(), zoe);
    EXPECT_TRUE(in_view(zoe));
    Press(picker, Qt::Key_C, QStringLiteral("C"));
    found.push_back(Selected(picker));
    Press(picker, Qt::Key_C, QStringLiteral("c"));
    found.push_back(Selected(picker));
    EXPECT_EQ(found, (std::vector<std::u16string>{u"Anna", u"Bert", u"Carl",
                                                  u"Dora", u"Emil", u"Fay",
                                                  u"Zoe", u"Carl", u"Cleo"}));
    // Right and Left page through the list.
    Press(picker, Qt::Key_A, QStringLiteral("a"));
    Press(picker, Qt::Key_Right);
    size_t paged = *picker->list().selected();
    EXPECT_GT(paged, 1u);
    Press(picker, Qt::Key_Left);
    EXPECT_LT(*picker->list().selected(), paged);
    picker->Dispatch(cmds::kCancel);
  });
  std::u16string output;
  settings_.set_show_photo(1);
  RunContactPicker(nullptr, Environment(), kPickerSingle, &output);

  // A touch-screen device: the tab row above the list; tapping "cde" again
  // and again finds c, d, e; digits find nothing.
  Script([](ContactPicker* picker) {
    ASSERT_NE(picker->tab_header(), nullptr);
    std::vector<QString> tabs;
    for (auto* button : picker->tab_header()->findChildren<QPushButton*>()) {
      tabs.push_back(button->text());
    }
    EXPECT_EQ(tabs, (std::vector<QString>{"#ab", "cde", "fgh", "ijk", "lmn",
                                          "opq", "rst", "uvw", "xyz"}));
    auto* cde =
        picker->tab_header()->findChild<QPushButton*>(QStringLiteral("tab.1"));
    std::vector<std::u16string> found;
    for (int i = 0; i < 4; ++i) {
      cde->click();
      found.push_back(Selected(picker));
    }
    EXPECT_EQ(found, (std::vector<std::u16string>{u"Cleo", u"Dora", u"Emil",
                                                  u"Carl"}));
    Press(picker, Qt::Key_2, QStringLiteral("2"));
    EXPECT_EQ(Selected(picker), u"Carl");
    picker->Dispatch(cmds::kCancel);
  });
  RunContactPicker(nullptr, Environment(true), kPickerSingle, &output);
}

// ---- The information window

TEST_F(ContactPickerTest, InformationWindowShowsDetailsAwayFromTheItem) {
  AddFamily();
  Script([](ContactPicker* picker) {
    QLabel* info = picker->info_window();
    const int screen_top = picker->mapToGlobal(QPoint(0, 0)).y();
    const int half = picker->height() / 2;
    EXPECT_TRUE(info->isWindow());

    // The group at the top: its details in the lower half.
    ASSERT_TRUE(picker->SelectItem(0));
    picker->ShowInfoNow();
    EXPECT_EQ(info->text(), QStringLiteral("<Group>\nFamily\nMum\nDad\n..."));
    EXPECT_EQ(info->height(), picker->height() / 3);
    EXPECT_GE(info->y(), screen_top + half);

    // Zoe at the bottom: the upper half.
    ASSERT_TRUE(picker->SelectItem(Row(picker, u"Zoe")));
    EXPECT_FALSE(info->isVisible());  // a new selection hides the old one
    picker->ShowInfoNow();
    EXPECT_EQ(info->text(), QStringLiteral("Zoe\nM: 2601 \u221A"));
    EXPECT_LE(info->geometry().bottom(), screen_top + half);

    // The real delays: shown two seconds after the selection, hidden three
    // seconds later.
    info->hide();
    ASSERT_TRUE(picker->SelectItem(Row(picker, u"Bert")));
    EXPECT_TRUE(WaitUntil([&] {
      QApplication::processEvents();
      return info->isVisible();
    }));
    EXPECT_EQ(info->text(), QStringLiteral("Bert\nW: 0201 \u221A"));
    EXPECT_TRUE(WaitUntil([&] {
      QApplication::processEvents();
      return !info->isVisible();
    }));
    picker->Dispatch(cmds::kCancel);
  });
  std::u16string output;
  RunContactPicker(nullptr, Environment(), kPickerMultiple, &output);
}

// ---- The menu

TEST_F(ContactPickerTest, MenuEntriesFollowTheSelection) {
  AddFamily();
  WritePicture(u"\\photo\\Dora.bmp", Qt::red);
  Script([](ContactPicker* picker) {
    ASSERT_TRUE(picker->SelectItem(Row(picker, u"Family")));
    QMenu* menu = OpenMenu(picker);
    EXPECT_TRUE(Enabled(menu, cmds::kEditGroup));
    EXPECT_TRUE(Enabled(menu, cmds::kDeleteGroup));
    EXPECT_FALSE(Enabled(menu, cmds::kAddToGroup));
    EXPECT_FALSE(Enabled(menu, cmds::kSetPhoto));
    EXPECT_FALSE(Enabled(menu, cmds::kDeletePhoto));
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kShowPhoto)->isChecked());

    ASSERT_TRUE(picker->SelectItem(Row(picker, u"Anna")));
    menu = OpenMenu(picker);
    EXPECT_FALSE(Enabled(menu, cmds::kEditGroup));
    EXPECT_FALSE(Enabled(menu, cmds::kDeleteGroup));
    EXPECT_TRUE(Enabled(menu, cmds::kAddToGroup));
    EXPECT_TRUE(Enabled(menu, cmds::kSetPhoto));
    EXPECT_FALSE(Enabled(menu, cmds::kDeletePhoto));  // Anna has none

    ASSERT_TRUE(picker->SelectItem(Row(picker, u"Dora")));
    EXPECT_TRUE(Enabled(OpenMenu(picker), cmds::kDeletePhoto));
    picker->Dispatch(cmds::kCancel);
  });
  std::u16string output;
  RunContactPicker(nullptr, Environment(), kPickerMultiple, &output);

  // Nothing to select: every entry that needs a selection is off.
  ContactStore empty;
  settings_.set_show_photo(1);
  Script([](ContactPicker* picker) {
    QMenu* menu = OpenMenu(picker);
    for (uint32_t command :
         {cmds::kEditGroup, cmds::kDeleteGroup, cmds::kAddToGroup,
          cmds::kSetPhoto, cmds::kDeletePhoto}) {
      EXPECT_FALSE(Enabled(menu, command)) << command;
    }
    EXPECT_TRUE(kit::FindCommand(menu, cmds::kShowPhoto)->isChecked());
    picker->Dispatch(cmds::kCancel);
  });
  PickerEnvironment nothing{&empty, &settings_, false};
  RunContactPicker(nullptr, nothing, kPickerMultiple, &output);
}

// ---- Photos

TEST_F(ContactPickerTest, SetPhotoThenDeletePhoto) {
  settings_.set_show_photo(1);
  settings_.set_last_dir(u"\\My Pictures\\");
  WritePicture(u"\\My Pictures\\face.jpg", Qt::blue, 80);
  WritePicture(u"\\photo\\Bert.bmp", Qt::green, 40);
  const std::string face = ReadHostFile(Host(u"\\My Pictures\\face.jpg"));
  Script(
      [](ContactPicker* picker) {
        EXPECT_EQ(picker->row_height(), kPhotoRowHeight);
        EXPECT_EQ(picker->list_view()
                      ->visualRect(picker->list_view()->model()->index(0, 0))
                      .height(),
                  kPhotoRowHeight);
        ASSERT_TRUE(picker->WaitForPhotos(platform::testing::kPatience));
        const size_t anna = Row(picker, u"Anna");
        const size_t bert = Row(picker, u"Bert");
        EXPECT_TRUE(picker->photo(anna).isNull());  // the stock picture
        EXPECT_EQ(picker->photo(bert).size(), QSize(26, 13));

        // The browser starts in the last folder; the file chosen there is
        // copied under Anna's name and shown, scaled into 26 pixels.
        ASSERT_TRUE(picker->SelectItem(anna));
        picker->Dispatch(cmds::kSetPhoto);
        ASSERT_TRUE(picker->WaitForPhotos(platform::testing::kPatience));
        EXPECT_EQ(picker->photo(anna).size(), QSize(26, 13));

        picker->Dispatch(cmds::kDeletePhoto);
        EXPECT_TRUE(picker->photo(anna).isNull());
        picker->Dispatch(cmds::kCancel);
      },
      [](DeviceDialog* dialog) {
        ASSERT_EQ(dialog->template_id(), kit::kFileBrowserTemplate);
        auto* browser = static_cast<kit::FileBrowserDialog*>(dialog);
        EXPECT_EQ(browser->folder(), u"\\My Pictures\\");
        auto* files = kit::FindControl<QTreeWidget>(dialog, kit::kFileList);
        ASSERT_EQ(files->topLevelItemCount(), 2);  // "..", face.jpg
        EXPECT_EQ(files->topLevelItem(1)->text(0), QStringLiteral("face.jpg"));
        browser->Activate(1);
      });
  std::u16string output;
  RunContactPicker(nullptr, Environment(), kPickerMultiple, &output);
  // The copy was there until "Delete Photo" removed it.
  EXPECT_FALSE(fs::exists(Host(u"\\photo\\Anna.jpg")));
  EXPECT_EQ(ReadHostFile(Host(u"\\My Pictures\\face.jpg")), face);
  EXPECT_TRUE(fs::exists(Host(u"\\photo\\Bert.bmp")));
  EXPECT_EQ(settings_.last_dir(), u"\\My Pictures\\");

  // Keeping the copy: without photos shown nothing is loaded, the file is
  // in place, byte for byte.
  settings_.set_show_photo(0);
  Script(
      [](ContactPicker* picker) {
        picker->SelectItem(Row(picker, u"Anna"));
        picker->Dispatch(cmds::kSetPhoto);
        EXPECT_FALSE(picker->photo_loader()->busy());
        picker->Dispatch(cmds::kCancel);
      },
      [](DeviceDialog* dialog) {
        static_cast<kit::FileBrowserDialog*>(dialog)->Activate(1);
      });
  RunContactPicker(nullptr, Environment(), kPickerSingle, &output);
  EXPECT_EQ(ReadHostFile(Host(u"\\photo\\Anna.jpg")), face);

  // A photo folder that is not there: an "Error" box names the copy, and
  // nothing is written.
  settings_.set_photo_folder(u"\\Nowhere\\");
  std::vector<kit::MessageRequest> told;
  kit::SetMessageScript([&](const kit::MessageRequest& request) {
    told.push_back(request);
    return kit::kAnswerOk;
  });
  Script(
      [](ContactPicker* picker) {
        picker->SelectItem(Row(picker, u"Cleo"));
        picker->Dispatch(cmds::kSetPhoto);
        picker->Dispatch(cmds::kCancel);
      },
      [](DeviceDialog* dialog) {
        static_cast<kit::FileBrowserDialog*>(dialog)->Activate(1);
      });
  RunContactPicker(nullptr, Environment(), kPickerSingle, &output);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].caption, QStringLiteral("Error"));
  EXPECT_TRUE(told[0].text.startsWith(
      QStringLiteral("\\Nowhere\\Cleo.jpg could not be saved: ")))
      << told[0].text.toStdString();
  EXPECT_FALSE(fs::exists(Host(u"\\Nowhere")));
}

TEST_F(ContactPickerTest, ShowPhotoFlipsAndSavesTheSetting) {
  WritePicture(u"\\photo\\Carl.jpg", Qt::yellow);
  Script([](ContactPicker* picker) {
    QListView* view = picker->list_view();
    auto height = [view] {
      return view->visualRect(view->model()->index(0, 0)).height();
    };
    EXPECT_EQ(height(), kRowHeight);
    EXPECT_FALSE(picker->photo_loader()->busy());
    picker->Dispatch(cmds::kShowPhoto);
    EXPECT_EQ(height(), kPhotoRowHeight);
    ASSERT_TRUE(picker->WaitForPhotos(platform::testing::kPatience));
    EXPECT_FALSE(picker->photo(Row(picker, u"Carl")).isNull());
    EXPECT_TRUE(picker->photo(Row(picker, u"Anna")).isNull());
    picker->Dispatch(cmds::kCancel);
  });
  std::u16string output;
  RunContactPicker(nullptr, Environment(), kPickerMultiple, &output);
  EXPECT_EQ(settings_.show_photo(), 1);
  settings::SettingsStore reread;
  reread.Load();
  EXPECT_EQ(reread.show_photo(), 1);

  Script([](ContactPicker* picker) {
    picker->Dispatch(cmds::kShowPhoto);
    EXPECT_EQ(picker->row_height(), kRowHeight);
    picker->Dispatch(cmds::kCancel);
  });
  RunContactPicker(nullptr, Environment(), kPickerMultiple, &output);
  reread.Load();
  EXPECT_EQ(reread.show_photo(), 0);
}

TEST_F(ContactPickerTest, ClosingMidLoadStopsTheLoader) {
  for (const char16_t* name : {u"Anna", u"Bert", u"Carl", u"Cleo", u"Dora",
                               u"Emil", u"Fay", u"Gus", u"Ivy", u"Zoe"}) {
    WritePicture(std::u16string(kPhotoFolder) + name + u".jpg", Qt::gray, 400);
  }
  PhotoLoader* loader = nullptr;
  Script([&](ContactPicker* picker) {
    loader = picker->photo_loader();
    picker->Dispatch(cmds::kShowPhoto);
    // No picture can have arrived: the UI thread has not turned since.
    ASSERT_TRUE(loader->busy());
    picker->Dispatch(cmds::kCancel);
    EXPECT_FALSE(loader->busy());
    QApplication::processEvents();
    for (size_t i = 0; i < picker->list().items().size(); ++i) {
      EXPECT_TRUE(picker->photo(i).isNull()) << i;
    }
  });
  std::u16string output;
  EXPECT_EQ(RunContactPicker(nullptr, Environment(), kPickerMultiple, &output),
            kPickerCancelled);
}

// ---- Send groups

TEST_F(ContactPickerTest, AddToGroupSavesTheGroupFile) {
  AddFamily();
  ASSERT_TRUE(store_.groups().Save().ok());
  Script(
      [](ContactPicker* picker) {
        picker->SelectItem(Row(picker, u"Bert"));
        Press(picker, Qt::Key_Return);
        picker->SelectItem(Row(picker, u"Anna"));
        Press(picker, Qt::Key_Asterisk, QStringLiteral("*"));  // home
        Press(picker, Qt::Key_Return);
        picker->Dispatch(cmds::kAddToGroup);
        // A new group: the list shows it, the ticks and numbers stay.
        EXPECT_EQ(Names(picker)[0], u"Family");
        EXPECT_EQ(Names(picker)[1], u"Team");
        EXPECT_EQ(Selected(picker), u"Anna");
        EXPECT_TRUE(picker->list().items()[Row(picker, u"Anna")].ticked);
        EXPECT_TRUE(picker->list().items()[Row(picker, u"Bert")].ticked);
        picker->Dispatch(cmds::kPickerConfirm);
      },
      [](DeviceDialog* dialog) {
        ASSERT_EQ(dialog->template_id(), kGroupTemplate);
        kit::FindControl<QLineEdit>(dialog, kGroupNameEdit)
            ->setText(QStringLiteral("Team"));
        kit::FindControl<QPushButton>(dialog, kGroupAddButton)->click();
        auto* list = kit::FindControl<QTreeWidget>(dialog, kGroupList);
        list->setCurrentItem(list->topLevelItem(1));
        dialog->Dispatch(cmds::kDone);
      });
  std::u16string output;
  ASSERT_EQ(RunContactPicker(nullptr, Environment(), kPickerMultiple, &output),
            kPickerConfirmed);
  EXPECT_EQ(output, u";\"Anna\"<0102>;\"Bert\"<0201>");
  EXPECT_EQ(ReadHostFile(Host(kGroupFile)),
            Utf16Le(u"\uFEFF[Team]\r\nAnna|0102\r\nBert|0201\r\n"
                    u"[Family]\r\nMum|0123\r\nDad|0456\r\nKid|0789\r\n"));
}

TEST_F(ContactPickerTest, EditAndDeleteGroups) {
  AddFamily();
  ASSERT_TRUE(store_.groups().AddGroup(u"Club"));
  Script(
      [this](ContactPicker* picker) {
        // A double tap on a group edits its members; OK saves them.
        const size_t family = Row(picker, u"Family");
        const QPoint at = RowPoint(picker, family, 60);
        QWidget* viewport = picker->list_view()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        EXPECT_EQ(store_.groups().groups()[1].members.size(), 4u);

        // "Delete Group" removes the selected group at once.
        picker->SelectItem(Row(picker, u"Club"));
        picker->Dispatch(cmds::kDeleteGroup);
        EXPECT_EQ(Names(picker)[0], u"Family");
        EXPECT_EQ(Names(picker)[1], u"Anna");
        picker->Dispatch(cmds::kCancel);
      },
      [](DeviceDialog* dialog) {
        ASSERT_EQ(dialog->template_id(), kMemberTemplate);
        kit::FindControl<QLineEdit>(dialog, kGroupNameEdit)
            ->setText(QStringLiteral("Gran"));
        kit::FindControl<QLineEdit>(dialog, kMemberPhoneEdit)
            ->setText(QStringLiteral("0999"));
        dialog->Dispatch(cmds::kGroupAdd);
        dialog->Dispatch(cmds::kDone);
      });
  std::u16string output;
  RunContactPicker(nullptr, Environment(), kPickerMultiple, &output);
  EXPECT_EQ(ReadHostFile(Host(kGroupFile)),
            Utf16Le(u"\uFEFF[Family]\r\nMum|0123\r\nDad|0456\r\nKid|0789\r\n"
                    u"Gran|0999\r\n"));
}

}  // namespace
}  // namespace contacts::ui
