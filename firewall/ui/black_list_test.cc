// The Black List editor, run modally and driven by a dialog script the way
// a user would: typing into the fields, tapping rows, menu commands and the
// contact picker over contacts imported into the real pimstore.dll of a
// scratch device.
#include "firewall/ui/black_list.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "contacts/testing/phone_contacts.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"

namespace firewall::ui {
namespace {

namespace fs = std::filesystem;
namespace cmds = kit::cmds;
using contacts::ui::ContactPicker;
using kit::DeviceDialog;
using platform::testing::BinDir;
using platform::testing::Devicectl;
using platform::testing::TempDevice;

constexpr char kCards[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\nTEL;TYPE=CELL:0101\r\nEND:"
    "VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bert\r\nTEL;TYPE=WORK:0201\r\nEND:"
    "VCARD\r\n";

// Every row as "name/number", top to bottom, joined by ", ".
std::string Rows(BlackListDialog* dialog) {
  QStringList rows;
  QTreeWidget* list = dialog->list();
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    rows << list->topLevelItem(i)->text(0) + "/" +
                list->topLevelItem(i)->text(1);
  }
  return rows.join(QStringLiteral(", ")).toStdString();
}

// The Black List in the same shape.
std::string Entries(const FilterSet& set) {
  std::string entries;
  for (const BlackListEntry& entry : set.black_list) {
    if (!entries.empty()) entries += ", ";
    entries += kit::Q(entry.name).toStdString() + "/" +
               kit::Q(entry.phone).toStdString();
  }
  return entries;
}

// The selected row, or -1.
int Selected(BlackListDialog* dialog) {
  QTreeWidgetItem* item = dialog->list()->currentItem();
  if (item == nullptr || !item->isSelected()) return -1;
  return dialog->list()->indexOfTopLevelItem(item);
}

void Tap(BlackListDialog* dialog, int row) {
  dialog->list()->setCurrentItem(dialog->list()->topLevelItem(row));
}

void Fill(BlackListDialog* dialog, const QString& name, const QString& phone) {
  dialog->name_field()->setText(name);
  dialog->phone_field()->setText(phone);
}

void PressBack(QWidget* widget) {
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(widget, &back);
}

class BlackListTest : public ::testing::Test {
 protected:
  // One device for the whole suite: the libraries installed and the cards
  // imported once.
  static void SetUpTestSuite() {
    kit::testing::EnsureApplication();
    device_ = new TempDevice();
    ASSERT_NO_FATAL_FAILURE(
        contacts::testing::InstallContactLibraries(*device_));
    ASSERT_NO_FATAL_FAILURE(contacts::testing::ImportCards(*device_, kCards));
  }
  static void TearDownTestSuite() {
    delete device_;
    device_ = nullptr;
  }

  void SetUp() override {
    store_.Load();
    settings_.set_show_photo(0);
  }
  void TearDown() override { kit::SetDialogScript({}); }

  // Runs `steps` on the Black List dialog, and `picker` on every contact
  // picker it opens.
  void Script(std::function<void(BlackListDialog*)> steps,
              std::function<void(ContactPicker*)> picker = {}) {
    kit::SetDialogScript([steps, picker](DeviceDialog* dialog) {
      if (auto* black_list = qobject_cast<BlackListDialog*>(dialog)) {
        steps(black_list);
      } else if (auto* contacts = qobject_cast<ContactPicker*>(dialog)) {
        ASSERT_TRUE(picker) << "unexpected contact picker";
        picker(contacts);
      } else {
        FAIL() << "unexpected dialog " << dialog->template_id();
      }
    });
  }

  int Run() {
    return RunBlackList(nullptr, &set_,
                        contacts::ui::PickerEnvironment{&store_, &settings_});
  }

  static TempDevice* device_;
  contacts::ContactStore store_;
  settings::SettingsStore settings_;
  FilterSet set_;
};

TempDevice* BlackListTest::device_ = nullptr;

TEST_F(BlackListTest, ShowsTheEntriesAndAddsOnlyWhenBothFieldsAreFilled) {
  set_.black_list = {{u"Spam", u"0900"}, {u"Ads", u"1234"}};
  Script([](BlackListDialog* dialog) {
    EXPECT_EQ(dialog->title_bar()->caption(), QStringLiteral("Blacklist"));
    EXPECT_EQ(dialog->soft_keys()->left_key()->text(), QStringLiteral("Done"));
    for (uint32_t command :
         {cmds::kAdd, cmds::kDelete, cmds::kSelectFromContact}) {
      EXPECT_NE(kit::FindCommand(dialog->soft_keys()->menu(), command),
                nullptr);
    }
    EXPECT_EQ(kit::FindControl<QLineEdit>(dialog, 1035), dialog->name_field());
    EXPECT_EQ(kit::FindControl<QLineEdit>(dialog, 1103), dialog->phone_field());
    EXPECT_EQ(kit::FindControl<QTreeWidget>(dialog, 1001), dialog->list());
    EXPECT_EQ(dialog->phone_field()->inputMethodHints(), Qt::ImhPreferNumbers);
    QTreeWidgetItem* header = dialog->list()->headerItem();
    EXPECT_EQ(header->text(0), QStringLiteral("Name"));
    EXPECT_EQ(header->text(1), QStringLiteral("Number"));
    EXPECT_EQ(Rows(dialog), "Spam/0900, Ads/1234");
    EXPECT_EQ(Selected(dialog), 0);

    // One field empty: nothing happens, and what was typed stays.
    Fill(dialog, QStringLiteral("Nuisance"), QString());
    dialog->Dispatch(cmds::kAdd);
    Fill(dialog, QString(), QStringLiteral("5555"));
    dialog->Dispatch(cmds::kAdd);
    EXPECT_EQ(Rows(dialog), "Spam/0900, Ads/1234");
    EXPECT_EQ(dialog->phone_field()->text(), QStringLiteral("5555"));

    // Both filled: appended to the list, and the fields are emptied.
    Fill(dialog, QStringLiteral("Nuisance"), QStringLiteral("5555"));
    dialog->Dispatch(cmds::kAdd);
    EXPECT_EQ(Rows(dialog), "Spam/0900, Ads/1234, Nuisance/5555");
    EXPECT_TRUE(dialog->name_field()->text().isEmpty());
    EXPECT_TRUE(dialog->phone_field()->text().isEmpty());
    dialog->Dispatch(cmds::kDone);
  });
  EXPECT_EQ(Run(), kBlackListDone);
  EXPECT_EQ(Entries(set_), "Spam/0900, Ads/1234, Nuisance/5555");
}

TEST_F(BlackListTest, DoneAddsTheFilledFieldsFirst) {
  Script([](BlackListDialog* dialog) {
    Fill(dialog, QStringLiteral("Spam"), QStringLiteral("0900"));
    dialog->Dispatch(cmds::kDone);
  });
  EXPECT_EQ(Run(), kBlackListDone);
  EXPECT_EQ(Entries(set_), "Spam/0900");

  // Only the name: nothing is added, and the dialog still ends as done (the
  // caller saves the file either way).
  Script([](BlackListDialog* dialog) {
    Fill(dialog, QStringLiteral("Ads"), QString());
    dialog->Dispatch(cmds::kDone);
  });
  EXPECT_EQ(Run(), kBlackListDone);
  EXPECT_EQ(Entries(set_), "Spam/0900");

  // The title bar's OK button is Done too.
  Script([](BlackListDialog* dialog) {
    Fill(dialog, QStringLiteral("Ads"), QStringLiteral("1234"));
    dialog->title_bar()->ok_button()->click();
  });
  EXPECT_EQ(Run(), kBlackListDone);
  EXPECT_EQ(Entries(set_), "Spam/0900, Ads/1234");
}

TEST_F(BlackListTest, CancelAndBackKeepWhatWasAdded) {
  // Back in a field erases a character and leaves the dialog open; Back in
  // the list cancels, without adding the filled fields. What "Add" did
  // stays.
  Script([](BlackListDialog* dialog) {
    Fill(dialog, QStringLiteral("Spam"), QStringLiteral("0900"));
    dialog->Dispatch(cmds::kAdd);
    Fill(dialog, QStringLiteral("Ads"), QStringLiteral("12345"));
    dialog->phone_field()->setFocus();
    PressBack(dialog->phone_field());
    EXPECT_EQ(dialog->phone_field()->text(), QStringLiteral("1234"));
    EXPECT_TRUE(dialog->isVisible());
    dialog->list()->setFocus();
    PressBack(dialog->list());
    EXPECT_FALSE(dialog->isVisible());  // closed by Back, not by the script
  });
  EXPECT_EQ(Run(), kBlackListCancelled);
  EXPECT_EQ(Entries(set_), "Spam/0900");

  Script([](BlackListDialog* dialog) {
    Fill(dialog, QStringLiteral("Ads"), QStringLiteral("1234"));
    dialog->Dispatch(kit::kCommandCancel);
  });
  EXPECT_EQ(Run(), kBlackListCancelled);
  EXPECT_EQ(Entries(set_), "Spam/0900");
}

TEST_F(BlackListTest, DeleteRemovesTheSelectedRowsEntry) {
  set_.black_list = {{u"A", u"1"}, {u"B", u"2"}, {u"C", u"3"}, {u"D", u"4"}};
  Script([](BlackListDialog* dialog) {
    // From the menu: the row below moves up and is selected.
    Tap(dialog, 1);
    dialog->Dispatch(cmds::kDelete);
    EXPECT_EQ(Rows(dialog), "A/1, C/3, D/4");
    EXPECT_EQ(Selected(dialog), 1);

    // From the row's tap-and-hold menu.
    ASSERT_NE(dialog->row_menu(), nullptr);
    QAction* remove = kit::FindCommand(dialog->row_menu(), cmds::kDelete);
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(remove->text(), QStringLiteral("Delete"));
    Tap(dialog, 2);
    remove->trigger();
    EXPECT_EQ(Rows(dialog), "A/1, C/3");
    EXPECT_EQ(Selected(dialog), 1);

    // Without a selected row nothing goes.
    dialog->list()->clearSelection();
    dialog->Dispatch(cmds::kDelete);
    EXPECT_EQ(Rows(dialog), "A/1, C/3");
    dialog->Dispatch(cmds::kDone);
  });
  EXPECT_EQ(Run(), kBlackListDone);
  EXPECT_EQ(Entries(set_), "A/1, C/3");
}

TEST_F(BlackListTest, SelectFromContactFillsBothFields) {
  // Confirmed: the contact's number and name replace what was typed; the
  // fields are only filled, nothing is added until "Add" or "Done".
  Script(
      [](BlackListDialog* dialog) {
        Fill(dialog, QStringLiteral("typed"), QStringLiteral("999"));
        dialog->Dispatch(cmds::kSelectFromContact);
        EXPECT_EQ(dialog->name_field()->text(), QStringLiteral("Bert"));
        EXPECT_EQ(dialog->phone_field()->text(), QStringLiteral("0201"));
        EXPECT_EQ(Rows(dialog), "");
        dialog->Dispatch(cmds::kDone);
      },
      [](ContactPicker* picker) {
        EXPECT_EQ(picker->mode(), contacts::kPickerSingle);
        const contacts::PickerList& list = picker->list();
        for (size_t i = 0; i < list.items().size(); ++i) {
          if (list.Name(list.items()[i]) == u"Bert") {
            ASSERT_TRUE(picker->SelectItem(i));
          }
        }
        picker->Dispatch(cmds::kPickerConfirm);
      });
  EXPECT_EQ(Run(), kBlackListDone);
  EXPECT_EQ(Entries(set_), "Bert/0201");

  // Cancelled: the fields keep what was typed.
  Script(
      [](BlackListDialog* dialog) {
        Fill(dialog, QStringLiteral("typed"), QStringLiteral("999"));
        dialog->Dispatch(cmds::kSelectFromContact);
        EXPECT_EQ(dialog->name_field()->text(), QStringLiteral("typed"));
        EXPECT_EQ(dialog->phone_field()->text(), QStringLiteral("999"));
        dialog->Dispatch(kit::kCommandCancel);
      },
      [](ContactPicker* picker) { picker->Dispatch(cmds::kCancel); });
  EXPECT_EQ(Run(), kBlackListCancelled);
  EXPECT_EQ(Entries(set_), "Bert/0201");
}

}  // namespace
}  // namespace firewall::ui
