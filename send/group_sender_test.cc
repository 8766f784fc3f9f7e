// Group sending through the real sms.dll, and `telvane send` end to end.
#include "send/group_sender.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "send/testing/radio_device.h"

namespace send {
namespace {

using send::testing::RadioDevice;
using send::testing::RadioLines;
using ::testing::ElementsAre;

class StatusLog : public GroupSendObserver {
 public:
  void ItemStatusChanged(size_t index, GroupItemStatus status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string_view text = GroupStatusText(status);
    events_.push_back(std::to_string(index) + " " +
                      std::string(text.begin(), text.end()));
  }
  void SendingFinished(bool opened) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(opened ? "finished" : "finished without radio");
  }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST(GroupSender, ItemsComeFromTheRecipientEntries) {
  std::vector<GroupItem> items = GroupItemsFromRecipients(
      u"\"Ann\"<138 0013 8000>;;\"Bob\"<(555) 010-2000>;10086;\"\";10086");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].display_name, u"Ann");
  EXPECT_EQ(items[0].number, u"13800138000");
  EXPECT_EQ(items[1].display_name, u"Bob");
  EXPECT_EQ(items[1].number, u"5550102000");
  EXPECT_EQ(items[2].display_name, u"10086");
  EXPECT_EQ(items[3].number, u"10086");  // duplicates stay
  EXPECT_TRUE(GroupItemsFromRecipients(u";;").empty());
}

TEST(GroupSender, SendsEachItemWithOneOpenAndReportsStatuses) {
  RadioDevice radio;
  RadioDevice::Set(device::sms::kSettingRefuseTypes, "0,1,2,3,5");
  RadioDevice::Set(device::sms::kSettingRefuseMatch, "666");
  StatusLog log;
  GroupSender sender(GroupItemsFromRecipients(u"\"Ann\"<111>;666;222"),
                     u"flash!", /*flash=*/true, &log);
  EXPECT_EQ(sender.state(), GroupSender::State::kReady);
  ASSERT_TRUE(sender.Start());
  EXPECT_FALSE(sender.Start());  // OK is ignored while sending
  sender.Wait();
  EXPECT_EQ(sender.state(), GroupSender::State::kComplete);
  EXPECT_THAT(log.events(),
              ElementsAre("0 Sending", "0 Success", "1 Sending", "1 Fail",
                          "2 Sending", "2 Success", "finished"));
  // Class 0 for a flash message, never a status report.
  EXPECT_THAT(RadioLines(), ElementsAre("111 type=0 class=0 options=0 flash!",
                                        "222 type=0 class=0 options=0 flash!"));
}

TEST(GroupSender, EndsClosableWhenTheRadioCannotOpen) {
  for (bool installed : {true, false}) {
    RadioDevice radio(installed);
    RadioDevice::Set(device::sms::kSettingOpenFails, "1");
    StatusLog log;
    GroupSender sender(GroupItemsFromRecipients(u"1;2"), u"x", false, &log);
    ASSERT_TRUE(sender.Start());
    sender.Wait();
    EXPECT_EQ(sender.state(), GroupSender::State::kComplete) << installed;
    EXPECT_THAT(log.events(), ElementsAre("finished without radio"));
    EXPECT_TRUE(RadioLines(true).empty());
  }
}

// `telvane send` on a device made as a user would: devicectl init and
// install.
TEST(TelvaneSend, SendsThroughTheInstalledLibrary) {
  RadioDevice radio(/*install_sms=*/false);
  const std::string bin = platform::testing::BinDir().string();
  const std::string build = platform::testing::BinDir().parent_path().string();
  auto run = [&](const std::string& command) {
    return platform::testing::RunCommand(command + " 2>&1 </dev/null");
  };
  platform::testing::CommandResult installed =
      run(bin + "/devicectl install " + build);
  ASSERT_EQ(installed.exit_code, 0) << installed.out;

  platform::testing::CommandResult sent =
      run(bin + "/telvane send '\"Bob\"<+1 (555) 010-2000>;;10086;' hello");
  EXPECT_EQ(sent.exit_code, 0) << sent.out;
  EXPECT_EQ(sent.out, "+15550102000  sent\n10086  sent\n");
  platform::testing::CommandResult log = run(bin + "/devicectl sent");
  EXPECT_NE(log.out.find("2 submission(s)"), std::string::npos) << log.out;
  const size_t first = log.out.find("+15550102000  type=0 class=1");
  const size_t second = log.out.find("10086  type=0 class=1");
  EXPECT_NE(first, std::string::npos) << log.out;
  EXPECT_NE(second, std::string::npos) << log.out;
  EXPECT_LT(first, second);

  // A time already past goes out at once; flags reach the radio.
  sent = run(bin + "/telvane send --flash --report --at 2000-01-01T00:00 7 x");
  EXPECT_EQ(sent.exit_code, 0) << sent.out;
  EXPECT_THAT(RadioLines(),
              ::testing::Contains("7 type=0 class=0 options=2 x"));

  // Refused everywhere: reported, exit 1; radio off: nothing sent, exit 1.
  RadioDevice::Set(device::sms::kSettingRefuseTypes, "0,1,2,3,5");
  sent = run(bin + "/telvane send 8 x");
  EXPECT_EQ(sent.exit_code, 1);
  EXPECT_EQ(sent.out, "8  failed\n");
  RadioDevice::Set(device::sms::kSettingOpenFails, "1");
  sent = run(bin + "/telvane send 9 x");
  EXPECT_EQ(sent.exit_code, 1);
  EXPECT_NE(sent.out.find("SmsOpen failed"), std::string::npos) << sent.out;
  EXPECT_EQ(run(bin + "/telvane send onlyone").exit_code, 2);
  EXPECT_EQ(run(bin + "/telvane send --at never 1 x").exit_code, 2);
}

}  // namespace
}  // namespace send
