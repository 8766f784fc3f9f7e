// The Filter List, run modally and driven by a dialog script the way a user
// would: tapping rows, pressing keys, choosing menu commands. The Filter
// Edit dialogs it opens are the real ones, answered by the same script.
#include "firewall/ui/filter_list.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"

namespace firewall::ui {
namespace {

using kit::DeviceDialog;
namespace cmds = kit::cmds;

FilterRecord Named(std::u16string_view name) {
  FilterRecord filter = NewFilter();
  filter.SetName(name);
  filter.apply_to_all = 1;
  return filter;
}

std::vector<std::u16string> Names(const FilterSet& set) {
  std::vector<std::u16string> names;
  for (const FilterRecord& filter : set.filters) names.push_back(filter.name);
  return names;
}

class FilterListTest : public ::testing::Test {
 protected:
  using Answer = std::function<void(DeviceDialog*)>;

  void SetUp() override {
    kit::testing::EnsureApplication();
    environment_.settings = &settings_;
    environment_.app_folder = u"\\Program Files\\Pelicorde\\";
    kit::SetMessageScript([this](const kit::MessageRequest& request) {
      messages_.push_back(request);
      return message_answer_;
    });
  }
  void TearDown() override {
    kit::SetDialogScript({});
    kit::SetMessageScript({});
  }

  // Runs the Filter List with `steps`. Every other dialog (Filter Edit and
  // what it opens) takes the next answer of answers_; without one it is
  // left open, which cancels it.
  int RunList(std::function<void(FilterListDialog*)> steps) {
    kit::SetDialogScript([this, steps](DeviceDialog* dialog) {
      if (auto* list = qobject_cast<FilterListDialog*>(dialog)) {
        list->resize(240, 320);
        steps(list);
        return;
      }
      opened_.push_back(dialog->title_bar()->caption());
      if (answers_.empty()) return;
      Answer answer = std::move(answers_.front());
      answers_.pop_front();
      answer(dialog);
    });
    return RunFilterList(nullptr, &set_, environment_);
  }

  // Filter Edit's OK on a filter without rules: "Apply to All" first.
  static void EditOk(DeviceDialog* dialog) {
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) {
      if (box->text() == kit::Str(kit::ids::kApplyToAll)) {
        box->setChecked(true);
      }
    }
    dialog->Dispatch(cmds::kOk);
  }

  static void Tap(FilterListDialog* dialog, int row, int x,
                  QEvent::Type type = QEvent::MouseButtonPress) {
    QListView* view = dialog->list();
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    const QPointF at(rect.left() + x, rect.center().y());
    QMouseEvent press(type, at, view->viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at,
                        view->viewport()->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &release);
  }

  static void Key(FilterListDialog* dialog, Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(dialog->list(), &event);
  }

  platform::testing::TempDevice device_;
  settings::SettingsStore settings_;
  FilterEditEnvironment environment_;
  FilterSet set_;
  std::deque<Answer> answers_;
  std::vector<QString> opened_;  // captions of the dialogs the list opened
  std::vector<kit::MessageRequest> messages_;
  int message_answer_ = kit::kAnswerCancel;
};

TEST_F(FilterListTest, NewFiltersGoOnTopNamedByTheirCount) {
  answers_ = {EditOk, EditOk};
  EXPECT_EQ(RunList([](FilterListDialog* dialog) {
              EXPECT_EQ(dialog->title_bar()->caption(),
                        QStringLiteral("Filters"));
              EXPECT_EQ(dialog->objectName(), QStringLiteral("dialog.47100"));
              EXPECT_EQ(kit::FindControl<QListView>(dialog, kFilterListId),
                        dialog->list());
              dialog->Dispatch(cmds::kNewFilter);
              dialog->Dispatch(cmds::kNewFilter);
              EXPECT_EQ(dialog->SelectedRow(), 0);
              dialog->Dispatch(cmds::kDone);
            }),
            kFilterListDone);
  EXPECT_EQ(opened_, std::vector<QString>(2, QStringLiteral("Filter Edit")));
  EXPECT_TRUE(messages_.empty());
  ASSERT_EQ(Names(set_),
            (std::vector<std::u16string>{u"Filter 1", u"Filter 0"}));
  for (const FilterRecord& filter : set_.filters) {
    EXPECT_EQ(filter.enabled, 1);
    EXPECT_EQ(filter.apply_to_all, 1);
    EXPECT_TRUE(filter.Has(kUnreadAlert));  // the initial actions
    EXPECT_EQ(filter.Value(kSaveToFolder), kDefaultFolder);
  }
}

TEST_F(FilterListTest, CancelledCreationAddsNothing) {
  set_.filters = {Named(u"Kept")};
  // Filter Edit cancelled; Fast Create whose rule editing is cancelled;
  // and the same from the tap-and-hold menu.
  EXPECT_EQ(
      RunList([](FilterListDialog* dialog) {
        dialog->Dispatch(cmds::kNewFilter);
        dialog->Dispatch(cmds::kFastCreate);
        ASSERT_NE(dialog->context_menu(), nullptr);
        kit::FindCommand(dialog->context_menu(), cmds::kNewFilter)->trigger();
        EXPECT_EQ(dialog->list()->model()->rowCount(), 1);
        dialog->Dispatch(cmds::kCancel);
      }),
      kFilterListCancelled);
  ASSERT_GE(opened_.size(), 3u);
  EXPECT_EQ(opened_.front(), QStringLiteral("Filter Edit"));
  EXPECT_EQ(Names(set_), std::vector<std::u16string>{u"Kept"});
}

TEST_F(FilterListTest, CheckImageAndArrowsToggleWithoutOpening) {
  set_.filters = {Named(u"First"), Named(u"Second")};
  EXPECT_EQ(RunList([this](FilterListDialog* dialog) {
              // A tap on the check image toggles and redraws the row; just
              // right of it selects.
              QListView* view = dialog->list();
              dialog->SelectRow(1);
              const QRect row = view->visualRect(view->model()->index(1, 0));
              const QImage checked = view->viewport()->grab(row).toImage();
              Tap(dialog, 1, kCheckZone - 1);
              EXPECT_EQ(set_.filters[1].enabled, 0);
              EXPECT_NE(view->viewport()->grab(row).toImage(), checked);
              EXPECT_EQ(dialog->SelectedRow(), 1);
              Tap(dialog, 0, kCheckZone);
              EXPECT_EQ(set_.filters[0].enabled, 1);
              EXPECT_EQ(dialog->SelectedRow(), 0);
              Tap(dialog, 0, 2);
              EXPECT_EQ(set_.filters[0].enabled, 0);

              // Left and Right toggle the selected row and keep it.
              Key(dialog, Qt::Key_Left);
              EXPECT_EQ(set_.filters[0].enabled, 1);
              Key(dialog, Qt::Key_Right);
              EXPECT_EQ(set_.filters[0].enabled, 0);
              EXPECT_EQ(dialog->SelectedRow(), 0);
              EXPECT_EQ(set_.filters[1].enabled, 0);
              dialog->Dispatch(cmds::kDone);
            }),
            kFilterListDone);
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(set_.filters[0].enabled, 0);
  EXPECT_EQ(set_.filters[1].enabled, 0);
}

TEST_F(FilterListTest, EditOpensTheSelectedFilter) {
  set_.filters = {Named(u"Alpha"), Named(u"Beta")};
  // Each answer renames the filter it was opened on.
  auto rename = [](QString from, QString to) {
    return [from, to](DeviceDialog* dialog) {
      bool found = false;
      for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) {
        if (edit->text() == from) {
          edit->setText(to);
          found = true;
        }
      }
      EXPECT_TRUE(found) << from.toStdString();
      EditOk(dialog);
    };
  };
  answers_ = {rename("Beta", "Beta 2"), rename("Alpha", "Alpha 2"),
              rename("Beta 2", "Beta 3")};
  RunList([](FilterListDialog* dialog) {
    dialog->SelectRow(1);
    dialog->Dispatch(cmds::kEditFilter);
    Tap(dialog, 0, 40);
    Tap(dialog, 0, 40, QEvent::MouseButtonDblClick);
    dialog->SelectRow(1);
    Key(dialog, Qt::Key_Return);
    dialog->Dispatch(cmds::kDone);
  });
  EXPECT_EQ(opened_.size(), 3u);
  EXPECT_EQ(Names(set_), (std::vector<std::u16string>{u"Alpha 2", u"Beta 3"}));
}

TEST_F(FilterListTest, UpAndDownSwapWithTheNeighbour) {
  set_.filters = {Named(u"A"), Named(u"B"), Named(u"C")};
  RunList([this](FilterListDialog* dialog) {
    // Nothing moves past either end.
    dialog->SelectRow(0);
    dialog->Dispatch(cmds::kMoveUp);
    EXPECT_EQ(Names(set_), (std::vector<std::u16string>{u"A", u"B", u"C"}));
    EXPECT_EQ(dialog->SelectedRow(), 0);
    dialog->SelectRow(2);
    dialog->Dispatch(cmds::kMoveDown);
    EXPECT_EQ(Names(set_), (std::vector<std::u16string>{u"A", u"B", u"C"}));
    EXPECT_EQ(dialog->SelectedRow(), 2);

    // The selection follows the filter.
    dialog->Dispatch(cmds::kMoveUp);
    EXPECT_EQ(Names(set_), (std::vector<std::u16string>{u"A", u"C", u"B"}));
    EXPECT_EQ(dialog->SelectedRow(), 1);
    kit::FindCommand(dialog->context_menu(), cmds::kMoveUp)->trigger();
    EXPECT_EQ(Names(set_), (std::vector<std::u16string>{u"C", u"A", u"B"}));
    EXPECT_EQ(dialog->SelectedRow(), 0);
    dialog->Dispatch(cmds::kMoveDown);
    EXPECT_EQ(Names(set_), (std::vector<std::u16string>{u"A", u"C", u"B"}));
    EXPECT_EQ(dialog->SelectedRow(), 1);
    EXPECT_EQ(dialog->list()->model()->index(1, 0).data().toString(),
              QStringLiteral("C"));
    dialog->Dispatch(cmds::kDone);
  });
  EXPECT_TRUE(opened_.empty());
}

TEST_F(FilterListTest, DeleteAsksWithTheName) {
  set_.filters = {Named(u"Family"), Named(u"Work"), Named(u"Ads")};
  RunList([this](FilterListDialog* dialog) {
    dialog->SelectRow(1);
    message_answer_ = kit::kAnswerCancel;
    dialog->Dispatch(cmds::kDelete);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text,
              QStringLiteral("Are you sure to delete Filter: Work"));
    EXPECT_EQ(messages_[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(messages_[0].buttons, kit::Buttons::kOkCancel);
    EXPECT_EQ(set_.filters.size(), 3u);

    message_answer_ = kit::kAnswerOk;
    dialog->Dispatch(cmds::kDelete);
    EXPECT_EQ(Names(set_), (std::vector<std::u16string>{u"Family", u"Ads"}));
    EXPECT_EQ(dialog->SelectedRow(), 1);
    EXPECT_EQ(dialog->list()->model()->rowCount(), 2);
    dialog->Dispatch(cmds::kDelete);  // the last row: the one above follows
    EXPECT_EQ(dialog->SelectedRow(), 0);
    dialog->Dispatch(cmds::kDelete);
    EXPECT_EQ(dialog->SelectedRow(), -1);
    dialog->Dispatch(cmds::kDelete);  // an empty list: nothing to ask
    dialog->Dispatch(cmds::kMoveUp);
    dialog->Dispatch(cmds::kEditFilter);
    EXPECT_EQ(messages_.size(), 4u);
    // Back ends the list as cancelled.
    QKeyEvent back(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dialog->list(), &back);
    EXPECT_FALSE(dialog->isVisible());
  });
  EXPECT_TRUE(set_.filters.empty());
  EXPECT_TRUE(opened_.empty());
}

TEST(FilterRowTest, ActionIconsInDrawingOrder) {
  kit::testing::EnsureApplication();
  FilterRecord filter;
  EXPECT_TRUE(ActionIcons(filter).empty());
  filter.Set(kSaveToFolder, u"\\Inbox");
  filter.Set(kUserDefinedSentence, u"Hi");
  EXPECT_TRUE(ActionIcons(filter).empty());  // slots 0 and 7 have none
  for (int slot = 0; slot < kActionSlotCount; ++slot) {
    filter.Set(slot, std::nullopt);
  }
  const std::vector<int> all = {kPlaySound,     kVibrate,    kDontShowInInbox,
                                kSpecificPhoto, kAutoReply,  kShowPopupWindow,
                                kAutoForward,   kUnreadAlert};
  EXPECT_EQ(ActionIcons(filter), all);
  filter.Clear(kVibrate);
  filter.Clear(kAutoReply);
  EXPECT_EQ(ActionIcons(filter),
            (std::vector<int>{kPlaySound, kDontShowInInbox, kSpecificPhoto,
                              kShowPopupWindow, kAutoForward, kUnreadAlert}));

  // Every icon is its own 16 by 16 picture.
  EXPECT_TRUE(ActionIcon(kSaveToFolder).isNull());
  EXPECT_TRUE(ActionIcon(kUserDefinedSentence).isNull());
  for (size_t i = 0; i < all.size(); ++i) {
    QImage icon = ActionIcon(all[i]);
    EXPECT_EQ(icon.size(), QSize(kActionIconSize, kActionIconSize));
    for (size_t j = 0; j < i; ++j) EXPECT_NE(icon, ActionIcon(all[j]));
  }
}

TEST(FilterRowTest, LongNamesAreCutWithTwoDots) {
  kit::testing::EnsureApplication();
  const QFontMetrics metrics{QFont()};
  const QString name = QStringLiteral("Messages from the office");
  const int whole = metrics.horizontalAdvance(name);
  EXPECT_EQ(CutName(name, metrics, whole), name);
  const QString cut = CutName(name, metrics, whole / 2);
  EXPECT_TRUE(cut.endsWith(QStringLiteral(".."))) << cut.toStdString();
  EXPECT_TRUE(name.startsWith(cut.chopped(2)));
  EXPECT_LE(metrics.horizontalAdvance(cut), whole / 2);
  EXPECT_GT(cut.size(), 2);
  EXPECT_EQ(CutName(name, metrics, 0), QStringLiteral(".."));
}

}  // namespace
}  // namespace firewall::ui
