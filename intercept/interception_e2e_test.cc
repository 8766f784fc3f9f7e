// The whole road of one incoming SMS through real processes: devicectl
// hands it to deviced, deviced stores it in the phone's Inbox and calls
// inrelay.dll (activated through the registry), inrelay queues it in the
// shared buffer, and this process's intake answers with a verdict.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "device/cemapi/message_store.h"
#include "intercept/intake.h"
#include "intercept/phone_inbox.h"
#include "intercept/registration.h"
#include "platform/testing/temp_device.h"
#include "platform/unicode.h"

namespace intercept {
namespace {

using Result = platform::testing::CommandResult;

using platform::testing::Devicectl;

class Interception : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string build = platform::testing::BinDir().parent_path().string();
    Result install = Devicectl("install " + build);
    ASSERT_EQ(install.exit_code, 0) << install.out;
    platform::Status registered =
        RegisterRuleClient(u"\\Program Files\\Telvane\\");
    ASSERT_TRUE(registered.ok()) << registered.ToString();
    ASSERT_TRUE(IsRuleClientRegistered());
    Result start = Devicectl("start");
    ASSERT_EQ(start.exit_code, 0) << start.out;
  }
  void TearDown() override { Devicectl("stop"); }

  platform::testing::TempDevice device_;
};

TEST_F(Interception, WithoutTheProgramMessagesStayInTheInbox) {
  Result receive = Devicectl("receive --from 10086 hello");
  EXPECT_EQ(receive.exit_code, 0) << receive.out;
  EXPECT_NE(receive.out.find("left in the Inbox"), std::string::npos)
      << receive.out;
  auto inbox =
      device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kInbox);
  ASSERT_TRUE(inbox.has_value());
  ASSERT_EQ(inbox->size(), 1u);
  EXPECT_EQ(inbox->front().text, u"hello");
}

TEST_F(Interception, AVerdictFromTheIntakeDeletesTheMessage) {
  std::optional<platform::NamedEvent> delete_event = CreateDeleteEvent();
  ASSERT_TRUE(delete_event.has_value());
  std::mutex mutex;
  std::vector<std::u16string> seen;
  Intake intake;
  ASSERT_TRUE(intake.StartIntake([&](const IncomingSms& sms) -> uint32_t {
    {
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back(std::u16string(sms.sender) + u"|" +
                     std::u16string(sms.body));
    }
    // The firewall's verdict for anything but "keep": out of the Inbox.
    if (sms.body != u"keep me") delete_event->Set().IgnoreError();
    return 1;
  }));

  Result spam = Devicectl("receive --from 10086 'win a prize'");
  EXPECT_NE(spam.out.find("deleted by a rule client"), std::string::npos)
      << spam.out;
  Result keep = Devicectl("receive --from '+8613800138000' 'keep me'");
  EXPECT_NE(keep.out.find("left in the Inbox"), std::string::npos) << keep.out;
  std::u16string long_text(1000, u'\u4e2d');  // through an overflow area
  Result long_one =
      Devicectl("receive --from 95555 '" + platform::ToUtf8(long_text) + "'");
  EXPECT_NE(long_one.out.find("deleted by a rule client"), std::string::npos)
      << long_one.out;

  intake.StopIntake();
  EXPECT_TRUE(intake.WaitStopped(10000));
  {
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], u"10086|win a prize");
    EXPECT_EQ(seen[1], u"+8613800138000|keep me");
    EXPECT_EQ(seen[2], u"95555|" + long_text);
  }
  auto inbox =
      device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kInbox);
  ASSERT_TRUE(inbox.has_value());
  ASSERT_EQ(inbox->size(), 1u);
  EXPECT_EQ(inbox->front().text, u"keep me");

  // After the program stops, the rule client no longer waits for it.
  Result after = Devicectl("receive --from 10086 later");
  EXPECT_NE(after.out.find("left in the Inbox"), std::string::npos)
      << after.out;
}

// The program filed a message and died before its answer went out: the
// rule client gave up and the message stayed in the phone's Inbox. When the
// filing is put back, the copy the answer would have taken goes.
TEST_F(Interception, ACopyAnAnswerNeverTookIsTakenAfterwards) {
  std::mutex mutex;
  std::vector<store::PhoneCopy> filed;
  Intake intake;
  ASSERT_TRUE(intake.StartIntake([&](const IncomingSms& sms) -> uint32_t {
    std::lock_guard<std::mutex> lock(mutex);
    if (sms.body != u"keep me") {
      filed.push_back({sms.delivery_time.value(),
                       store::MessageFingerprint(sms.sender, sms.body)});
    }
    return 1;  // and no answer: the program "died" here
  }));
  ASSERT_EQ(Devicectl("receive --from 10086 'filed, then a crash'").exit_code,
            0);
  ASSERT_EQ(Devicectl("receive --from 10086 'keep me'").exit_code, 0);
  // Longer than the shared buffer passes on: the fingerprint is of the part
  // the program got.
  std::u16string long_text(2000, u'\u4e2d');
  ASSERT_EQ(
      Devicectl("receive --from 95555 '" + platform::ToUtf8(long_text) + "'")
          .exit_code,
      0);
  intake.StopIntake();
  ASSERT_TRUE(intake.WaitStopped(10000));
  ASSERT_EQ(filed.size(), 2u);
  ASSERT_EQ(
      device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kInbox)->size(),
      3u);

  platform::Status status;
  std::optional<int> removed = RemoveFromPhoneInbox(filed, &status);
  ASSERT_TRUE(removed.has_value()) << status.ToString();
  EXPECT_EQ(*removed, 2);
  auto inbox =
      device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kInbox);
  ASSERT_EQ(inbox->size(), 1u);
  EXPECT_EQ(inbox->front().text, u"keep me");
  // Nothing is taken twice, and nothing that merely looks alike.
  EXPECT_EQ(RemoveFromPhoneInbox(filed), 0);
  store::PhoneCopy other = filed[0];
  other.fingerprint ^= 1;
  EXPECT_EQ(RemoveFromPhoneInbox(std::vector{other}), 0);
  EXPECT_EQ(
      device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kInbox)->size(),
      1u);
}

}  // namespace
}  // namespace intercept
