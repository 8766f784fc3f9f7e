// deviced as devicectl drives it: a real daemon process on a scratch
// device, with cemapi.dll and the test rule client installed in \Windows\.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "device/cemapi/message_store.h"
#include "device/deviced/messaging_service.h"
#include "device/deviced/protocol.h"
#include "device/deviced/testing/spam_rule_client.h"
#include "platform/com.h"
#include "platform/device.h"
#include "platform/kernel_objects.h"
#include "platform/registry.h"
#include "platform/testing/temp_device.h"
#include "platform/unicode.h"

namespace {

namespace fs = std::filesystem;
using device::deviced::Exchange;
using device::deviced::SplitFields;
using platform::RegistryKey;
using platform::RegistryRoot;

std::string Devicectl(const std::string& args) {
  return platform::testing::Devicectl(args).out;
}

std::string ClsidText() {
  return platform::ToUtf8(
      platform::GuidToString(device::deviced::testing::kSpamRuleClientClsid));
}

class DevicedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path lib = platform::testing::BinDir().parent_path() / "lib";
    fs::path windows = device_.HostPath("\\Windows\\");
    fs::create_directories(windows);
    fs::copy_file(lib / "libcemapi.so", windows / "cemapi.dll");
    fs::copy_file(lib / "libspamruleclient.so", windows / "spamrule.dll");
    std::optional<RegistryKey> server = RegistryKey::Create(
        RegistryRoot::kClassesRoot,
        u"CLSID\\" + platform::FromUtf8(ClsidText()) + u"\\InprocServer32");
    ASSERT_TRUE(server);
    ASSERT_TRUE(server->SetString(u"", u"\\Windows\\spamrule.dll").ok());
  }

  // No deviced outlives the test.
  void TearDown() override {
    for (const std::string& other : other_devices_) {
      Devicectl("--device '" + other + "' stop");
    }
    Devicectl("stop");
    std::ifstream file(device::deviced::PidPath());
    long pid = 0;
    if (file >> pid && pid > 0) kill(static_cast<pid_t>(pid), SIGKILL);
  }

  // Registers the test client under the rules key with `enabled` as data.
  void RegisterRule(uint32_t enabled) {
    std::optional<RegistryKey> rules = RegistryKey::Create(
        RegistryRoot::kLocalMachine, device::deviced::kRuleClientsKey);
    ASSERT_TRUE(rules);
    ASSERT_TRUE(rules->SetDword(platform::FromUtf8(ClsidText()), enabled).ok());
  }

  static std::string DebugLog() {
    return platform::testing::ReadHostFile(platform::DeviceDebugLogPath());
  }

  // Spins until debug.log holds `text`, for at most about 20 s.
  static bool LogShows(const std::string& text) {
    for (int i = 0; i < 2000; ++i) {
      if (DebugLog().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::vector<std::u16string> InboxTexts() {
    std::vector<std::u16string> texts;
    if (auto messages =
            device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kInbox)) {
      for (const device::cemapi::PhoneMessage& m : *messages)
        texts.push_back(m.text);
    }
    return texts;
  }

  platform::testing::TempDevice device_;
  std::vector<std::string> other_devices_;  // stopped in TearDown too
};

TEST(DevicedProtocol, EscapedFieldsSurviveAndMalformedOnesAreRefused) {
  std::string text = "line one\nline\ttwo\r\\end\\n";
  std::string line =
      device::deviced::JoinFields({"receive", "+86 1", "", text});
  EXPECT_EQ(line.find('\n'), std::string::npos);
  std::optional<std::vector<std::string>> fields = SplitFields(line);
  ASSERT_TRUE(fields);
  EXPECT_EQ(*fields, (std::vector<std::string>{"receive", "+86 1", "", text}));

  EXPECT_FALSE(SplitFields("receive\\"));   // a lone trailing backslash
  EXPECT_FALSE(SplitFields("receive\\x"));  // an unknown escape
  EXPECT_FALSE(SplitFields("a\nb"));        // a raw line break
  EXPECT_EQ(SplitFields("")->size(), 1u);
}

TEST_F(DevicedTest, StartIsIdempotentAndStopCleansUp) {
  EXPECT_EQ(Devicectl("stop"), "deviced was not running\n");
  std::string first = Devicectl("start");
  ASSERT_EQ(first.rfind("deviced started (pid ", 0), 0u) << first;
  std::string pid = first.substr(21, first.find(')') - 21);
  EXPECT_EQ(Devicectl("start"), "deviced already running (pid " + pid + ")\n");

  std::ifstream pid_file(device::deviced::PidPath());
  std::string written;
  pid_file >> written;
  EXPECT_EQ(written, pid);
  EXPECT_TRUE(fs::exists(device::deviced::SocketPath()));

  // A malformed or unknown request gets an error and the daemon goes on.
  std::optional<std::string> reply = Exchange({"receive", "only sender"}, 5000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->rfind("error\t", 0), 0u) << *reply;
  reply = Exchange({"receive", "1", "not a time", "x"}, 5000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->rfind("error\t", 0), 0u) << *reply;
  reply = Exchange({"ping"}, 5000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, "ok\t" + pid);

  EXPECT_EQ(Devicectl("stop"), "deviced stopped (pid " + pid + ")\n");
  EXPECT_FALSE(fs::exists(device::deviced::PidPath()));
  EXPECT_FALSE(fs::exists(device::deviced::SocketPath()));
  platform::Status status;
  EXPECT_FALSE(Exchange({"ping"}, 1000, &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kUnavailable);
  EXPECT_EQ(Devicectl("stop"), "deviced was not running\n");
}

// A device whose run/ path is too long for a socket address: deviced binds
// and devicectl connects through /proc/self/fd.
TEST_F(DevicedTest, WorksOnADeviceWithALongPath) {
  fs::path deep = device_.root().parent_path() / std::string(60, 'd') /
                  std::string(60, 'e');
  ASSERT_GT((deep / "run" / "deviced.sock").string().size(), 108u);
  other_devices_.push_back(deep.string());
  std::string flag = "--device '" + deep.string() + "' ";
  ASSERT_NE(Devicectl(flag + "init").find("initialised"), std::string::npos);
  fs::create_directories(deep / "fs" / "Windows");
  fs::copy_file(
      platform::testing::BinDir().parent_path() / "lib" / "libcemapi.so",
      deep / "fs" / "Windows" / "cemapi.dll");
  EXPECT_EQ(Devicectl(flag + "start").rfind("deviced started", 0), 0u);
  EXPECT_EQ(
      Devicectl(flag + "receive --from 7 deep").rfind("left in the Inbox", 0),
      0u);
  EXPECT_NE(Devicectl(flag + "inbox").find("  7  0x00000000  deep"),
            std::string::npos);
  EXPECT_EQ(Devicectl(flag + "stop").rfind("deviced stopped", 0), 0u);
  EXPECT_FALSE(fs::exists(deep / "run" / "deviced.sock"));
}

TEST_F(DevicedTest, WithoutRuleClientsMessagesStayInTheInbox) {
  // receive starts deviced when needed and says so.
  std::string out = Devicectl(
      "receive --from +8613900000000 --at '2026-03-04 05:06:07' "
      "'two\nlines'");
  EXPECT_NE(out.find("deviced was not running; started it"), std::string::npos)
      << out;
  EXPECT_NE(out.find("left in the Inbox"), std::string::npos) << out;

  // An enabled value that names no registered class is skipped.
  std::optional<RegistryKey> rules = RegistryKey::Create(
      RegistryRoot::kLocalMachine, device::deviced::kRuleClientsKey);
  ASSERT_TRUE(rules);
  ASSERT_TRUE(
      rules->SetDword(u"{00000000-1111-2222-3333-444444444444}", 1).ok());
  ASSERT_TRUE(rules->SetDword(u"not a clsid", 1).ok());
  out = Devicectl("receive --from 10086 'spam but nobody filters'");
  EXPECT_EQ(out.rfind("left in the Inbox", 0), 0u) << out;

  std::optional<std::vector<device::cemapi::PhoneMessage>> inbox =
      device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kInbox);
  ASSERT_TRUE(inbox);
  ASSERT_EQ(inbox->size(), 2u);
  const device::cemapi::PhoneMessage& first = (*inbox)[1];  // the older one
  EXPECT_EQ(first.text, u"two\nlines");
  EXPECT_EQ(first.address, u"+8613900000000");
  EXPECT_EQ(first.flags, 0u);
  std::optional<platform::SystemTime> t =
      platform::FileTimeToSystemTime(first.delivery_time);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->year, 2026);
  EXPECT_EQ(t->hour, 5);
  EXPECT_EQ(t->second, 7);
  EXPECT_EQ((*inbox)[0].text, u"spam but nobody filters");
}

TEST_F(DevicedTest, RuleClientDeletesSpamLeavesTheRestAndFailuresAreSurvived) {
  ASSERT_EQ(Devicectl("start").rfind("deviced started", 0), 0u);
  // Registered but disabled (data 0): not called.
  RegisterRule(0);
  EXPECT_EQ(Devicectl("receive --from 1 'spam while disabled'")
                .rfind("left in the Inbox", 0),
            0u);
  // Enabled without a restart: the registry is read for every message.
  RegisterRule(1);
  EXPECT_EQ(Devicectl("receive --from 2 'spam offer'"),
            "deleted by a rule client (" + ClsidText() + ")\n");
  EXPECT_EQ(Devicectl("receive --from 3 hello").rfind("left in the Inbox", 0),
            0u);
  // The client fails this one: the message stays and deviced keeps serving.
  EXPECT_EQ(Devicectl("receive --from 4 fail").rfind("left in the Inbox", 0),
            0u);
  EXPECT_EQ(Devicectl("receive --from 5 'spam again'"),
            "deleted by a rule client (" + ClsidText() + ")\n");

  EXPECT_EQ(InboxTexts(), (std::vector<std::u16string>{
                              u"fail", u"hello", u"spam while disabled"}));
  std::ifstream log(platform::DeviceDebugLogPath());
  std::string text((std::istreambuf_iterator<char>(log)),
                   std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("failed ProcessMessage"), std::string::npos);
  // Activated and initialised once for all the messages.
  size_t loaded = text.find("rule client " + ClsidText() + " loaded");
  ASSERT_NE(loaded, std::string::npos);
  EXPECT_EQ(text.find("rule client " + ClsidText() + " loaded", loaded + 1),
            std::string::npos);
  EXPECT_EQ(Devicectl("stop").rfind("deviced stopped", 0), 0u);
}

// A rule client that does not come back from ProcessMessage: deviced
// answers anyway once the call's budget is spent, skips the client while
// the call is out, uses it again when it has returned, and neither stop
// nor shutdown waits for it.
TEST_F(DevicedTest, AStuckRuleClientNeverStopsTheService) {
  using device::deviced::testing::kHangReleaseEventName;
  ASSERT_EQ(Devicectl("start").rfind("deviced started", 0), 0u);
  RegisterRule(1);
  bool existed = false;
  std::optional<platform::NamedEvent> release =
      platform::NamedEvent::CreateOrOpen(kHangReleaseEventName, false, false,
                                         &existed);
  ASSERT_TRUE(release.has_value());
  const std::string client = "rule client " + ClsidText();

  EXPECT_EQ(Devicectl("receive --from 1 hang").rfind("left in the Inbox", 0),
            0u);
  EXPECT_NE(DebugLog().find(client + " did not return from ProcessMessage"),
            std::string::npos);
  // Still out: not called, so this spam stays.
  EXPECT_EQ(Devicectl("receive --from 2 'spam while stuck'")
                .rfind("left in the Inbox", 0),
            0u);
  EXPECT_NE(DebugLog().find(client + " is still in an earlier ProcessMessage"),
            std::string::npos);
  // Back from the call: called again.
  ASSERT_TRUE(release->Set().ok());
  ASSERT_TRUE(LogShows(client + " returned from ProcessMessage"));
  EXPECT_EQ(Devicectl("receive --from 3 'spam again'"),
            "deleted by a rule client (" + ClsidText() + ")\n");

  // Stuck again: stop does not wait for the call, nor does shutdown.
  EXPECT_EQ(Devicectl("receive --from 4 hang").rfind("left in the Inbox", 0),
            0u);
  EXPECT_EQ(Devicectl("stop").rfind("deviced stopped", 0), 0u);
  EXPECT_NE(DebugLog().find("1 rule client call(s) still running"),
            std::string::npos);
  ASSERT_EQ(Devicectl("start").rfind("deviced started", 0), 0u);
  EXPECT_EQ(Devicectl("receive --from 5 hang").rfind("left in the Inbox", 0),
            0u);
  platform::testing::CommandResult shutdown =
      platform::testing::Devicectl("shutdown");
  EXPECT_EQ(shutdown.exit_code, 0) << shutdown.out;
  EXPECT_EQ(shutdown.out.rfind("device shut down", 0), 0u) << shutdown.out;

  EXPECT_EQ(InboxTexts(), (std::vector<std::u16string>{
                              u"hang", u"hang", u"spam while stuck", u"hang"}));
}

}  // namespace
