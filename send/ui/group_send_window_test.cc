// The group sending window, run modally and driven by a dialog script the
// way a user would, sending through the real sms.dll of a scratch device.
#include "send/ui/group_send_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <vector>

#include "kit/menu_table.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/wait.h"
#include "send/testing/radio_device.h"

namespace send::ui {
namespace {

using send::testing::RadioDevice;
using send::testing::RadioLines;
using ::testing::ElementsAre;

class GroupSendWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { kit::testing::EnsureApplication(); }
  void TearDown() override { kit::SetDialogScript({}); }

  // Runs `steps` on the next window that Run() shows.
  static void Script(std::function<void(GroupSendWindow*)> steps) {
    kit::SetDialogScript([steps](kit::DeviceDialog* dialog) {
      auto* window = qobject_cast<GroupSendWindow*>(dialog);
      ASSERT_NE(window, nullptr);
      steps(window);
    });
  }

  // Turns the window's event loop until the sending is complete.
  static bool WaitComplete(GroupSendWindow* window) {
    return platform::testing::WaitUntil([window] {
      QApplication::processEvents();
      return window->state() == GroupSender::State::kComplete;
    });
  }

  static std::vector<std::string> Column(GroupSendWindow* window, int column) {
    std::vector<std::string> texts;
    for (int i = 0; i < window->list()->topLevelItemCount(); ++i) {
      texts.push_back(
          window->list()->topLevelItem(i)->text(column).toStdString());
    }
    return texts;
  }

  static void Press(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
  }

  RadioDevice radio_;
};

TEST_F(GroupSendWindowTest, ListsTheRecipientsAndCancelSendsNothing) {
  Script([](GroupSendWindow* window) {
    EXPECT_EQ(window->template_id(), kGroupSendTemplate);
    EXPECT_EQ(window->title_bar()->caption(), QStringLiteral("Group Sending"));
    EXPECT_EQ(window->info()->text(),
              QStringLiteral(
                  "It can't be stopped when sending SMS. Press OK to start."));
    EXPECT_EQ(window->list()->headerItem()->text(0), QStringLiteral("Send To"));
    EXPECT_EQ(window->list()->headerItem()->text(1), QStringLiteral("Status"));
    // The empty piece between two ";" gives no row.
    EXPECT_THAT(Column(window, 0), ElementsAre("Ann", "Bob", "10086"));
    EXPECT_THAT(Column(window, 1), ElementsAre("", "", ""));
    EXPECT_EQ(window->list()->currentItem(), window->list()->topLevelItem(0));
    EXPECT_TRUE(window->list()->topLevelItem(0)->isSelected());

    window->resize(240, 320);
    QApplication::processEvents();
    EXPECT_EQ(window->list()->columnWidth(1), kGroupStatusColumnWidth);
    EXPECT_EQ(window->list()->columnWidth(0) + kGroupStatusColumnWidth,
              window->list()->viewport()->width());
    window->Dispatch(kit::cmds::kCancel);
  });
  EXPECT_EQ(
      RunGroupSend(nullptr, u"\"Ann\"<111>;;\"Bob\"<222>;10086", u"hi", false),
      kGroupSendCancelled);

  // The title bar's OK button and Back cancel as well before the sending.
  for (uint32_t command : {kit::kCommandOk, kit::kCommandCancel}) {
    Script([command](GroupSendWindow* window) { window->Dispatch(command); });
    EXPECT_EQ(RunGroupSend(nullptr, u"111", u"hi", false), kGroupSendCancelled);
  }
  Script([](GroupSendWindow* window) { Press(window, Qt::Key_Escape); });
  EXPECT_EQ(RunGroupSend(nullptr, u"111", u"hi", false), kGroupSendCancelled);
  EXPECT_TRUE(RadioLines(true).empty());
}

TEST_F(GroupSendWindowTest, SendsToEveryRowAndIgnoresOkAndCancelMeanwhile) {
  Script([](GroupSendWindow* window) {
    window->Dispatch(kit::cmds::kOk);
    // The reports reach the window only through its event loop, which has
    // not turned since OK: the window is sending.
    EXPECT_EQ(window->state(), GroupSender::State::kSending);
    window->Dispatch(kit::cmds::kOk);
    window->Dispatch(kit::cmds::kCancel);
    window->Dispatch(kit::kCommandOk);
    Press(window, Qt::Key_Escape);
    window->close();  // the window's close button
    EXPECT_TRUE(window->isVisible());

    ASSERT_TRUE(WaitComplete(window));
    EXPECT_TRUE(window->isVisible());
    EXPECT_THAT(Column(window, 1),
                ElementsAre("Success", "Success", "Success"));
    EXPECT_EQ(window->info()->text(),
              QStringLiteral("Send complete! Press OK to exit"));
    window->Dispatch(kit::cmds::kCancel);  // ignored once complete too
    EXPECT_TRUE(window->isVisible());
    window->Dispatch(kit::cmds::kOk);
  });
  EXPECT_EQ(RunGroupSend(nullptr, u"\"Ann\"<111>;\"Bob\"<222>;333", u"flash!",
                         /*flash=*/true),
            kGroupSendDone);
  // One submission per recipient, each started once, class 0 and no
  // status report.
  EXPECT_THAT(RadioLines(true),
              ElementsAre("111 type=0 class=0 options=0 flash!",
                          "222 type=0 class=0 options=0 flash!",
                          "333 type=0 class=0 options=0 flash!"));
}

TEST_F(GroupSendWindowTest, ShowsEachFailureAndPagesWithLeftAndRight) {
  RadioDevice::Set(device::sms::kSettingRefuseTypes, "0,1,2,3,5");
  RadioDevice::Set(device::sms::kSettingRefuseMatch, "2*");
  std::u16string recipients;
  for (int i = 0; i < 40; ++i) {
    recipients += (i % 2 == 0 ? u"1" : u"2") +
                  std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) +
                  u";";
  }
  Script([](GroupSendWindow* window) {
    window->resize(240, 320);
    QApplication::processEvents();
    QTreeWidget* list = window->list();
    Press(list, Qt::Key_Right);
    const int paged = list->indexOfTopLevelItem(list->currentItem());
    EXPECT_GT(paged, 1);
    Press(list, Qt::Key_Left);
    EXPECT_EQ(list->indexOfTopLevelItem(list->currentItem()), 0);

    window->Dispatch(kit::cmds::kOk);
    ASSERT_TRUE(WaitComplete(window));
    std::vector<std::string> statuses = Column(window, 1);
    ASSERT_EQ(statuses.size(), 40u);
    for (size_t i = 0; i < statuses.size(); ++i) {
      EXPECT_EQ(statuses[i], i % 2 == 0 ? "Success" : "Fail") << i;
    }
    // The last row reported was scrolled into view.
    QRect last = list->visualItemRect(list->topLevelItem(39));
    EXPECT_TRUE(list->viewport()->rect().contains(last)) << last.y();
    window->Dispatch(kit::cmds::kOk);
  });
  EXPECT_EQ(RunGroupSend(nullptr, recipients, u"x", false), kGroupSendDone);
  EXPECT_EQ(RadioLines().size(), 20u);
}

TEST_F(GroupSendWindowTest, ClosableWithOkWhenTheRadioCannotOpen) {
  RadioDevice::Set(device::sms::kSettingOpenFails, "1");
  Script([](GroupSendWindow* window) {
    window->Dispatch(kit::cmds::kOk);
    ASSERT_TRUE(WaitComplete(window));
    EXPECT_THAT(Column(window, 1), ElementsAre("", ""));
    EXPECT_EQ(window->info()->text(),
              QStringLiteral("The SMS radio could not be opened, so nothing "
                             "was sent. Press OK to exit"));
    window->Dispatch(kit::cmds::kOk);
  });
  // Nothing went out, so the compose window is not told to file anything.
  EXPECT_EQ(RunGroupSend(nullptr, u"1;2", u"x", false), kGroupSendCancelled);
  EXPECT_TRUE(RadioLines(true).empty());
}

}  // namespace
}  // namespace send::ui
