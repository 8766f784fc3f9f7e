// Timed messages kept in "\Scheduled" of a real document on a scratch
// device: what is stored, when it is due, that it survives the program's
// end without a save, and that sending it takes it out.
#include "send/schedule.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/testing/temp_device.h"
#include "send/filing.h"
#include "text/text.h"

namespace send {
namespace {

using store::Node;

constexpr char16_t kPath[] = u"\\My Documents\\timed.zud";

platform::SystemTime At(int hour, int minute) {
  platform::SystemTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 9;
  t.hour = static_cast<uint16_t>(hour);
  t.minute = static_cast<uint16_t>(minute);
  return t;
}

SendRequest Timed(std::u16string recipients, std::u16string text,
                  platform::SystemTime due, uint32_t flags = 0) {
  SendRequest request;
  request.recipients = std::move(recipients);
  request.text = std::move(text);
  request.flags = flags | kSendFlagTimed;
  request.due_time = due;
  return request;
}

TEST(ScheduleTest, MessagesWaitInTheFolderUntilTheyAreDue) {
  platform::testing::TempDevice device;
  settings::SettingsStore settings;
  settings.set_send_title(text::kTitleSummary);
  store::Document document;
  ASSERT_TRUE(document.New(kPath, {}).ok());
  ASSERT_TRUE(
      ScheduleMessage(document, settings,
                      Timed(u"\"Ann\"<+15550100>;5550101", u"Happy birthday!",
                            At(8, 0), kSendFlagFlash | kSendFlagStatusReport))
          .ok());
  ASSERT_TRUE(ScheduleMessage(document, settings,
                              Timed(u"5550102", u"Later", At(9, 30)))
                  .ok());
  Node* folder = document.FindOrCreateFolderPath(kScheduledFolderPath);
  ASSERT_EQ(folder->child_count(), 2u);
  EXPECT_EQ(folder->child(0)->title().substr(0, kFlashTitleMark.size()),
            kFlashTitleMark);
  EXPECT_EQ(document.ReadNodeBody(folder->child(0)).value_or(u""),
            SentContent(u"\"Ann\"<+15550100>;5550101", u"Happy birthday!"));

  // Before either is due: nothing, and when the first will be.
  std::optional<platform::SystemTime> next;
  EXPECT_TRUE(DueMessages(document, At(7, 59), &next).empty());
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(next->hour, 8);
  EXPECT_EQ(next->minute, 0);

  // The first, due: recipients, text, flash (the status report follows the
  // setting when it goes out) and the node as its draft.
  std::vector<ScheduledMessage> due = DueMessages(document, At(8, 0), &next);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].request.recipients, u"\"Ann\"<+15550100>;5550101");
  EXPECT_EQ(due[0].request.text, u"Happy birthday!");
  EXPECT_EQ(due[0].request.flags, kSendFlagFlash);
  ASSERT_TRUE(due[0].request.draft.has_value());
  EXPECT_EQ(due[0].request.draft->node, folder->child(0));
  EXPECT_EQ(next->hour, 9);

  // Sent: filed in the Sent Box, and the node leaves the folder.
  SendRequest sent = due[0].request;
  ASSERT_NE(
      FileSendResult(document, settings, sent,
                     static_cast<uint32_t>(SendResultKind::kSent), At(8, 0)),
      nullptr);
  EXPECT_EQ(folder->child_count(), 1u);
  EXPECT_EQ(document.WellKnownFolder(store::kFolderSentBox)->child_count(), 1u);
  ASSERT_TRUE(document.Close().ok());
}

TEST(ScheduleTest, AScheduledMessageSurvivesAnEndWithoutSave) {
  platform::testing::TempDevice device;
  settings::SettingsStore settings;
  {
    store::Document document;
    ASSERT_TRUE(document.New(kPath, {}).ok());
    ASSERT_TRUE(document.Close().ok());
  }
  // A process that schedules the message and ends at once, without a save
  // (as a kill would end the program).
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    store::Document document;
    bool ok = document.Open(kPath).ok() &&
              ScheduleMessage(document, settings,
                              Timed(u"5550100", u"Wake up", At(7, 0)))
                  .ok();
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  store::Document document;
  ASSERT_TRUE(document.Open(kPath).ok());
  std::vector<ScheduledMessage> due = DueMessages(document, At(7, 1));
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].request.text, u"Wake up");
}

TEST(ScheduleTest, WhatCannotBeKeptWholeIsRefusedAndNothingIsWritten) {
  platform::testing::TempDevice device;
  settings::SettingsStore settings;
  store::Document document;
  ASSERT_TRUE(document.New(kPath, {}).ok());
  const std::u16string huge(kMaxContentBytes, u'x');
  EXPECT_EQ(
      ScheduleMessage(document, settings, Timed(u"5550100", huge, At(7, 0)))
          .code(),
      platform::ErrorCode::kInvalidArgument);
  SendRequest bad_time = Timed(u"5550100", u"hi", At(7, 0));
  bad_time.due_time.month = 13;
  EXPECT_FALSE(ScheduleMessage(document, settings, bad_time).ok());
  EXPECT_TRUE(DueMessages(document, At(23, 0)).empty());

  // Nodes of the folder that are not outgoing messages are passed over.
  Node* folder = document.FindOrCreateFolderPath(kScheduledFolderPath);
  ASSERT_NE(document.StoreMessage(folder, u"5550100", u"a received message",
                                  platform::CurrentSystemTime()),
            nullptr);
  EXPECT_TRUE(DueMessages(document, At(23, 0)).empty());

  store::Document closed;
  EXPECT_FALSE(
      ScheduleMessage(closed, settings, Timed(u"5550100", u"hi", At(7, 0)))
          .ok());
}

TEST(ScheduleTest, SplitSentContent) {
  auto parts = SplitSentContent(SentContent(u"1;2", u"a\r\n--\r\nb"));
  ASSERT_TRUE(parts.has_value());
  EXPECT_EQ(parts->first, u"1;2");
  EXPECT_EQ(parts->second, u"a\r\n--\r\nb");
  EXPECT_FALSE(SplitSentContent(u"Send To:1").has_value());
  EXPECT_FALSE(SplitSentContent(u"hello").has_value());
}

}  // namespace
}  // namespace send
