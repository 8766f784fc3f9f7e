#include "intercept/registration.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

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
  EXPECT_EQ(RegisterRuleClient(kAppFolder), kRegistrationOk);
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
  EXPECT_EQ(RegisterRuleClient(kAppFolder), kRegistrationOk);
  EXPECT_TRUE(IsRuleClientRegistered());
  EXPECT_EQ(server_key->QueryString(u"", 260), u"inrelay.dll");
  EXPECT_EQ(ReadHostFile(device.HostPath("\\Windows\\inrelay.dll")),
            "library v2");

  // A Rules value other than 1 is not registered either.
  auto rules = RegistryKey::Open(RegistryRoot::kLocalMachine, kRulesKey);
  ASSERT_TRUE(rules.has_value());
  ASSERT_TRUE(rules->SetDword(kRuleClientClsid, 2).ok());
  EXPECT_FALSE(IsRuleClientRegistered());

  EXPECT_EQ(UnregisterRuleClient(), kRegistrationOk);
  EXPECT_FALSE(IsRuleClientRegistered());
  EXPECT_FALSE(RegistryKey::Open(RegistryRoot::kClassesRoot,
                                 u"\\CLSID\\{20F58816-51E4-418D-92DD-"
                                 u"8390021DCDCA}")
                   .has_value());
  EXPECT_FALSE(rules->QueryDword(kRuleClientClsid).has_value());
  EXPECT_TRUE(RegistryKey::Open(RegistryRoot::kLocalMachine, kRulesKey));
  EXPECT_TRUE(fs::exists(device.HostPath("\\Windows\\inrelay.dll")));
  EXPECT_EQ(UnregisterRuleClient(), kRegistrationOk);  // nothing left: fine

  // Without a library to copy the registration still succeeds.
  fs::remove(device.HostPath("\\Program Files\\Telvane\\inrelay.dll"));
  EXPECT_EQ(RegisterRuleClient(u"\\Nowhere\\"), kRegistrationOk);
  EXPECT_TRUE(IsRuleClientRegistered());
}

TEST(Registration, TodayItemWrittenExactlyAndDeletedWhole) {
  platform::testing::TempDevice device;
  EXPECT_FALSE(IsTodayItemRegistered());
  SetTodayItem(true, kAppFolder);
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
  SetTodayItem(false, kAppFolder);
  EXPECT_FALSE(IsTodayItemRegistered());
  EXPECT_FALSE(
      RegistryKey::Open(RegistryRoot::kLocalMachine, key + u"\\Extra"));
  EXPECT_TRUE(items->Subkeys().empty());
  SetTodayItem(false, kAppFolder);  // already gone: harmless
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

  ApplyAutostart(true, kAppFolder, program);
  EXPECT_EQ(ReadHostFile(device.HostPath("\\Windows\\loader.exe")),
            "loader v1");
  EXPECT_EQ(ReadHostFile(device.HostPath("\\Windows\\StartUp\\Pelicorde.lnk")),
            std::to_string(line.size()) +
                "#\\windows\\loader.exe \"\\Program Files\\Telvane\\"
                "pelicorde.exe\"");

  ApplyAutostart(false, kAppFolder, program);
  EXPECT_FALSE(platform::files::Exists(u"\\windows\\loader.exe"));
  EXPECT_FALSE(platform::files::Exists(AutostartShortcutPath()));

  // Off deletes the loader even when there is no shortcut.
  WriteHostFile(device.HostPath("\\Windows\\loader.exe"), "stray");
  ApplyAutostart(false, kAppFolder, program);
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

  ApplyAutostart(true, kAppFolder, u"\\Program Files\\Telvane\\pelicorde.exe");
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
