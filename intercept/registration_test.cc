#include "intercept/registration.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/registry_faults.h"
#include "platform/testing/temp_device.h"

namespace intercept {
namespace {

namespace fs = std::filesystem;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryType;
using platform::RegistryValue;

constexpr char16_t kAppFolder[] = u"\\Program Files\\Telvane\\";

using platform::testing::ReadHostFile;
using platform::testing::WriteHostFile;

// The exact bytes of a REG_SZ value: UTF-16LE with the terminator.
std::string SzBytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes + std::string(2, '\0');
}

RegistryValue ReadValue(RegistryRoot root, std::u16string_view key,
                        std::u16string_view name) {
  RegistryValue value;
  std::optional<RegistryKey> open = RegistryKey::Open(root, key);
  EXPECT_TRUE(open.has_value());
  if (open) {
    EXPECT_TRUE(open->Query(name, 4096, &value).ok());
  }
  return value;
}

TEST(Registration, RuleClientRegistersExactlyAndUnregistersKeepingTheCopy) {
  platform::testing::TempDevice device;
  WriteHostFile(device.HostPath("\\Program Files\\Telvane\\inrelay.dll"),
                "library v1");
  EXPECT_FALSE(IsRuleClientRegistered());
  EXPECT_TRUE(RegisterRuleClient(kAppFolder).ok());
  EXPECT_TRUE(IsRuleClientRegistered());

  RegistryValue server = ReadValue(
      RegistryRoot::kClassesRoot,
      u"\\CLSID\\{20F58816-51E4-418D-92DD-8390021DCDCA}\\InprocServer32", u"");
  EXPECT_EQ(server.type, RegistryType::kSz);
  EXPECT_EQ(server.data, SzBytes(u"inrelay.dll"));
  EXPECT_EQ(server.data.size(), (11u + 1) * 2);
  RegistryValue rule =
      ReadValue(RegistryRoot::kLocalMachine,
                u"\\Software\\Microsoft\\Inbox\\Svc\\SMS\\Rules",
                u"{20F58816-51E4-418D-92DD-8390021DCDCA}");
  EXPECT_EQ(rule.type, RegistryType::kDword);
  EXPECT_EQ(rule.data, std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(ReadHostFile(device.HostPath("\\Windows\\inrelay.dll")),
            "library v1");

  // The server name is compared with its case: a differently cased value
  // is not registered, and registering again rewrites it (and the copy).
  auto server_key =
      RegistryKey::Open(RegistryRoot::kClassesRoot, RuleClientServerKey());
  ASSERT_TRUE(server_key.has_value());
  ASSERT_TRUE(server_key->SetString(u"", u"InRelay.dll").ok());
  EXPECT_FALSE(IsRuleClientRegistered());
  WriteHostFile(device.HostPath("\\Program Files\\Telvane\\inrelay.dll"),
                "library v2");
  EXPECT_TRUE(RegisterRuleClient(kAppFolder).ok());
  EXPECT_TRUE(IsRuleClientRegistered());
  EXPECT_EQ(server_key->QueryString(u"", 260), u"inrelay.dll");
  EXPECT_EQ(ReadHostFile(device.HostPath("\\Windows\\inrelay.dll")),
            "library v2");

  // A Rules value other than 1 is not registered either.
  auto rules = RegistryKey::Open(RegistryRoot::kLocalMachine, kRulesKey);
  ASSERT_TRUE(rules.has_value());
  ASSERT_TRUE(rules->SetDword(kRuleClientClsid, 2).ok());
  EXPECT_FALSE(IsRuleClientRegistered());

  EXPECT_TRUE(UnregisterRuleClient().ok());
  EXPECT_FALSE(IsRuleClientRegistered());
  EXPECT_FALSE(RegistryKey::Open(RegistryRoot::kClassesRoot,
                                 u"\\CLSID\\{20F58816-51E4-418D-92DD-"
                                 u"8390021DCDCA}")
                   .has_value());
  EXPECT_FALSE(rules->QueryDword(kRuleClientClsid).has_value());
  EXPECT_TRUE(RegistryKey::Open(RegistryRoot::kLocalMachine, kRulesKey));
  EXPECT_TRUE(fs::exists(device.HostPath("\\Windows\\inrelay.dll")));
  EXPECT_TRUE(UnregisterRuleClient().ok());  // nothing left: fine
}

// A registration that cannot be made whole is reported with its cause and
// leaves the registry as it was.
TEST(Registration, RuleClientFailuresAreReportedAndChangeNothing) {
  platform::testing::TempDevice device;
  // No library to copy: the messaging service would load an older copy, or
  // none, so nothing is registered.
  platform::Status status = RegisterRuleClient(u"\\Nowhere\\");
  EXPECT_EQ(status.code(), platform::ErrorCode::kNotFound);
  EXPECT_NE(status.message().find("\\Nowhere\\inrelay.dll"), std::string::npos)
      << status.ToString();
  EXPECT_FALSE(IsRuleClientRegistered());
  EXPECT_FALSE(
      RegistryKey::Open(RegistryRoot::kClassesRoot, RuleClientServerKey()));

  // A copy the host refuses: an older copy stays in \Windows\ and the
  // registration is not made over it.
  WriteHostFile(device.HostPath("\\Program Files\\Telvane\\inrelay.dll"),
                "library v2");
  WriteHostFile(device.HostPath("\\Windows\\inrelay.dll"), "library v1");
  {
    platform::testing::FileFaults faults;
    faults.FailCall(platform::files::FileCall::kWrite, 1, ENOSPC);
    status = RegisterRuleClient(kAppFolder);
    EXPECT_TRUE(faults.fired());
  }
  EXPECT_EQ(status.code(), platform::ErrorCode::kIoError);
  EXPECT_NE(status.message().find("No space left"), std::string::npos)
      << status.ToString();
  EXPECT_FALSE(IsRuleClientRegistered());
  EXPECT_EQ(ReadHostFile(device.HostPath("\\Windows\\inrelay.dll")),
            "library v1");

  // A registry write that fails leaves none of the values.
  {
    platform::testing::RegistryFaults faults;
    faults.FailWrite(4);
    status = RegisterRuleClient(kAppFolder);
    EXPECT_TRUE(faults.fired());
  }
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("registry"), std::string::npos)
      << status.ToString();
  EXPECT_FALSE(IsRuleClientRegistered());
  EXPECT_FALSE(
      RegistryKey::Open(RegistryRoot::kClassesRoot, RuleClientServerKey()));

  // Unregistering removes the Rules value even when the class key cannot
  // go, and reports that it could not.
  ASSERT_TRUE(RegisterRuleClient(kAppFolder).ok());
  {
    platform::testing::RegistryFaults faults;
    faults.FailWrite(platform::RegistryWriteKind::kDeleteKey, 1);
    status = UnregisterRuleClient();
    EXPECT_TRUE(faults.fired());
  }
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("class key"), std::string::npos)
      << status.ToString();
  EXPECT_FALSE(IsRuleClientRegistered());
  EXPECT_TRUE(
      RegistryKey::Open(RegistryRoot::kClassesRoot, RuleClientServerKey()));
}

TEST(Registration, TodayItemWrittenExactlyAndDeletedWhole) {
  platform::testing::TempDevice device;
  EXPECT_FALSE(IsTodayItemRegistered());
  ASSERT_TRUE(SetTodayItem(true, kAppFolder).ok());
  EXPECT_TRUE(IsTodayItemRegistered());
  auto items = RegistryKey::Open(RegistryRoot::kLocalMachine,
                                 u"\\SOFTWARE\\Microsoft\\Today\\Items");
  ASSERT_TRUE(items.has_value());
  EXPECT_EQ(items->Subkeys(), std::vector<std::u16string>{u"\"Telvane\""});
  std::u16string key = u"\\SOFTWARE\\Microsoft\\Today\\Items\\\"Telvane\"";
  for (auto [name, number] : {std::pair{u"Type", 4}, std::pair{u"Enabled", 1},
                              std::pair{u"Options", 1}}) {
    RegistryValue value = ReadValue(RegistryRoot::kLocalMachine, key, name);
    EXPECT_EQ(value.type, RegistryType::kDword);
    EXPECT_EQ(value.data,
              std::string(1, static_cast<char>(number)) + std::string(3, '\0'));
  }
  RegistryValue dll = ReadValue(RegistryRoot::kLocalMachine, key, u"DLL");
  EXPECT_EQ(dll.type, RegistryType::kSz);
  EXPECT_EQ(dll.data, SzBytes(u"\\Program Files\\Telvane\\pelicordep.dll"));

  // Off deletes the key with anything under it; the parent stays.
  ASSERT_TRUE(
      RegistryKey::Create(RegistryRoot::kLocalMachine, key + u"\\Extra"));
  EXPECT_TRUE(SetTodayItem(false, kAppFolder).ok());
  EXPECT_FALSE(IsTodayItemRegistered());
  EXPECT_FALSE(
      RegistryKey::Open(RegistryRoot::kLocalMachine, key + u"\\Extra"));
  EXPECT_TRUE(items->Subkeys().empty());
  EXPECT_TRUE(SetTodayItem(false, kAppFolder).ok());  // already gone: fine

  // A failed write leaves no half-written item, and says why.
  {
    platform::testing::RegistryFaults faults;
    faults.FailWrite(3);
    platform::Status status = SetTodayItem(true, kAppFolder);
    EXPECT_TRUE(faults.fired());
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.message().find("Today item"), std::string::npos)
        << status.ToString();
  }
  EXPECT_FALSE(IsTodayItemRegistered());
  ASSERT_TRUE(SetTodayItem(true, kAppFolder).ok());
  {
    platform::testing::RegistryFaults faults;
    faults.FailWrite(platform::RegistryWriteKind::kDeleteKey, 1);
    EXPECT_FALSE(SetTodayItem(false, kAppFolder).ok());
  }
  EXPECT_TRUE(IsTodayItemRegistered());
}

TEST(Registration, AutostartWritesTheShortcutAndRemovesBothFiles) {
  platform::testing::TempDevice device;
  WriteHostFile(device.HostPath("\\Program Files\\Telvane\\loader.exe"),
                "loader v1");
  std::u16string program = u"\\Program Files\\Telvane\\pelicorde.exe";
  EXPECT_EQ(AutostartShortcutPath(), u"\\Windows\\StartUp\\Pelicorde.lnk");
  std::u16string line = AutostartCommandLine(program);
  EXPECT_EQ(
      line,
      u"\\windows\\loader.exe \"\\Program Files\\Telvane\\pelicorde.exe\"");

  ASSERT_TRUE(ApplyAutostart(true, kAppFolder, program).ok());
  EXPECT_EQ(ReadHostFile(device.HostPath("\\Windows\\loader.exe")),
            "loader v1");
  EXPECT_EQ(ReadHostFile(device.HostPath("\\Windows\\StartUp\\Pelicorde.lnk")),
            std::to_string(line.size()) +
                "#\\windows\\loader.exe \"\\Program Files\\Telvane\\"
                "pelicorde.exe\"");

  EXPECT_TRUE(ApplyAutostart(false, kAppFolder, program).ok());
  EXPECT_FALSE(platform::files::Exists(u"\\windows\\loader.exe"));
  EXPECT_FALSE(platform::files::Exists(AutostartShortcutPath()));

  // Off deletes the loader even when there is no shortcut.
  WriteHostFile(device.HostPath("\\Windows\\loader.exe"), "stray");
  EXPECT_TRUE(ApplyAutostart(false, kAppFolder, program).ok());
  EXPECT_FALSE(platform::files::Exists(u"\\windows\\loader.exe"));
}

TEST(Registration, AutostartFailuresAreReported) {
  platform::testing::TempDevice device;
  std::u16string program = u"\\Program Files\\Telvane\\pelicorde.exe";
  // No loader to copy: no shortcut that would start nothing.
  platform::Status status = ApplyAutostart(true, kAppFolder, program);
  EXPECT_EQ(status.code(), platform::ErrorCode::kNotFound);
  EXPECT_NE(status.message().find("loader.exe"), std::string::npos)
      << status.ToString();
  EXPECT_FALSE(platform::files::Exists(AutostartShortcutPath()));

  // A shortcut the host will not write.
  WriteHostFile(device.HostPath("\\Program Files\\Telvane\\loader.exe"),
                "loader");
  fs::create_directories(device.HostPath("\\Windows\\StartUp\\Pelicorde.lnk"));
  status = ApplyAutostart(true, kAppFolder, program);
  EXPECT_EQ(status.code(), platform::ErrorCode::kAccessDenied);
  EXPECT_NE(status.message().find("start-up shortcut"), std::string::npos)
      << status.ToString();

  // Off: a shortcut that cannot be deleted is reported, and the loader
  // goes all the same.
  status = ApplyAutostart(false, kAppFolder, program);
  EXPECT_EQ(status.code(), platform::ErrorCode::kAccessDenied);
  EXPECT_NE(status.message().find("Pelicorde.lnk"), std::string::npos)
      << status.ToString();
  EXPECT_FALSE(platform::files::Exists(u"\\windows\\loader.exe"));
}

// Waits (bounded) for the test program's output file and returns it.
std::string WaitForOutput(const fs::path& file) {
  for (int i = 0; i < 2000 && !fs::exists(file); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ReadHostFile(file);
}

TEST(Registration, BootStartsTheProgramThroughTheLoader) {
  platform::testing::TempDevice device;
  fs::path bin = platform::testing::BinDir();
  fs::path folder = device.HostPath("\\Program Files\\Telvane");
  fs::create_directories(folder);
  fs::copy_file(bin / "loader", folder / "loader.exe");
  fs::copy_file(bin / "devicetestprogram", folder / "pelicorde.exe");
  fs::path output = device.root().parent_path() / "started.txt";
  setenv("TELVANE_TEST_OUTPUT", output.c_str(), 1);

  ASSERT_TRUE(ApplyAutostart(true, kAppFolder,
                             u"\\Program Files\\Telvane\\pelicorde.exe")
                  .ok());
  EXPECT_EQ(platform::RunStartupShortcuts(), 1);
  std::string text = WaitForOutput(output);
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "\\Program Files\\Telvane\\pelicorde.exe");
  EXPECT_NE(text.find("\nprogram=\\Program Files\\Telvane\\pelicorde.exe\n"),
            std::string::npos);

  // The loader reports a failure in its exit status.
  platform::StartOptions attached;
  attached.detached = false;
  for (std::vector<std::u16string> arguments : {std::vector<std::u16string>{},
                                                {u"\\Program Files\\none.exe"},
                                                {u"a", u"b"}}) {
    std::optional<pid_t> pid =
        platform::StartProgram(u"\\windows\\loader.exe", arguments, attached);
    ASSERT_TRUE(pid.has_value());
    int status = 0;
    ASSERT_EQ(waitpid(*pid, &status, 0), *pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  }
  unsetenv("TELVANE_TEST_OUTPUT");
}

}  // namespace
}  // namespace intercept
