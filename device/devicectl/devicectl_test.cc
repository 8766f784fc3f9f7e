// Runs the real devicectl binary against a scratch device.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/hotkeys.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/testing/temp_device.h"

namespace {

using Result = platform::testing::CommandResult;

using platform::testing::Devicectl;

TEST(Devicectl, InitMakesADeviceAndStatusShowsIt) {
  platform::testing::TempDevice scratch;
  std::string other = (scratch.root().parent_path() / "second").string();
  Result init = Devicectl("init " + other);
  EXPECT_EQ(init.exit_code, 0) << init.out;
  EXPECT_NE(init.out.find("initialised device at " + other), std::string::npos);
  EXPECT_TRUE(
      std::filesystem::exists(std::filesystem::path(other) / "device.db"));
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(other) /
                                            "fs" / "Windows"));

  Result again = Devicectl("init " + other);
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_NE(again.out.find("already initialised"), std::string::npos);

  Result status = Devicectl("--device " + other + " status");
  EXPECT_EQ(status.exit_code, 0) << status.out;
  EXPECT_NE(status.out.find("codepage"), std::string::npos);
  EXPECT_NE(status.out.find("\\Program Files\\Telvane\\"), std::string::npos);

  Result missing = Devicectl("--device " + other + "-none status");
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_NE(missing.out.find("not initialised"), std::string::npos);
}

TEST(Devicectl, RegistryRoundTripsEveryType) {
  platform::testing::TempDevice device;
  Result set = Devicectl(
      "registry set HKCU 'Software\\Pelicorde' DisplayMode --dword 2");
  ASSERT_EQ(set.exit_code, 0) << set.out;
  EXPECT_EQ(
      Devicectl("registry get hkcu 'software\\pelicorde' displaymode").out,
      "\"DisplayMode\"=dword:00000002\n");

  ASSERT_EQ(
      Devicectl(
          "registry set HKCU 'Software\\Pelicorde' Sign --sz 'Hi, \"me\"'")
          .exit_code,
      0);
  EXPECT_EQ(Devicectl("registry get HKCU 'Software\\Pelicorde' Sign").out,
            "\"Sign\"=\"Hi, \\\"me\\\"\"\n");
  // The stored size of a string is (length + 1) x 2 bytes.
  std::optional<platform::RegistryKey> key = platform::RegistryKey::Open(
      platform::RegistryRoot::kCurrentUser, u"Software\\Pelicorde");
  ASSERT_TRUE(key.has_value());
  platform::RegistryValue value;
  ASSERT_TRUE(key->Query(u"Sign", 1024, &value).ok());
  EXPECT_EQ(value.data.size(), (8u + 1u) * 2u);

  ASSERT_EQ(
      Devicectl(
          "registry set HKCU 'Software\\Pelicorde' Font --binary f4,ff,00,01")
          .exit_code,
      0);
  EXPECT_EQ(Devicectl("registry get HKCU 'Software\\Pelicorde' Font").out,
            "\"Font\"=hex:f4,ff,00,01\n");

  ASSERT_EQ(
      Devicectl(
          "registry set HKCR 'CLSID\\{X}\\InprocServer32' @ --sz inrelay.dll")
          .exit_code,
      0);
  Result dump = Devicectl("registry dump HKCR");
  EXPECT_NE(
      dump.out.find(
          "[HKEY_CLASSES_ROOT\\CLSID\\{X}\\InprocServer32]\n@=\"inrelay.dll\""),
      std::string::npos)
      << dump.out;

  EXPECT_EQ(
      Devicectl("registry delete HKCU 'Software\\Pelicorde' Sign").exit_code,
      0);
  EXPECT_NE(Devicectl("registry get HKCU 'Software\\Pelicorde' Sign").exit_code,
            0);
  EXPECT_EQ(Devicectl("registry delete HKCU Software").exit_code, 0);
  EXPECT_NE(Devicectl("registry get HKCU 'Software\\Pelicorde' DisplayMode")
                .exit_code,
            0);
}

TEST(Devicectl, ErrorsAreClearAndNonZero) {
  platform::testing::TempDevice device;
  struct Case {
    const char* args;
    int exit_code;
    const char* says;
  } cases[] = {
      {"", 2, "usage"},
      {"frobnicate", 2, "unknown command"},
      {"registry set HKXX Key Name --dword 1", 2, "unknown registry root"},
      {"registry set HKCU Key Name --dword -1", 2, "--dword"},
      {"registry set HKCU Key Name --dword 4294967296", 2, "--dword"},
      {"registry set HKCU Key Name --binary zz", 2, "--binary"},
      {"registry get HKCU NoSuchKey Name", 1, "not found"},
      {"config set codepage 437", 1, "accepts"},
      {"config get nonsense", 1, "unknown device setting"},
      {"install /no/such/folder", 1, "no build folder"},
      // Refused before anything is done, with where the command's help is.
      {"registry get HKCU", 2,
       "registry get needs the KEY\n"
       "run 'devicectl registry get --help' for its usage"},
      {"registry set HKCU Key Name", 2, "needs one of --dword N"},
      {"registry set HKCU Key Name --dword 1 --sz x", 2, "not both"},
      {"sent --all --clear", 2, "not both"},
      {"receive --from 1 --at 2026-02-30T10:00 x", 2, "--at needs a time"},
      {"config frob", 2, "config: unknown subcommand \"frob\""},
      {"status --device x", 2, "status: unknown option --device"},
      {"post Dialog Telvane 273 1 2 3", 2, "\"3\" is one too many"},
      {"post Dialog Telvane lots", 2, "not a number: lots"},
      {"press Button7", 2, "unknown key \"Button7\": a key code or one of"},
      {"press 65536", 2, "unknown key"},
      {"press", 2, "press needs the KEY"},
  };
  for (const Case& c : cases) {
    Result result = Devicectl(c.args);
    EXPECT_EQ(result.exit_code, c.exit_code) << c.args << ": " << result.out;
    EXPECT_NE(result.out.find(c.says), std::string::npos)
        << c.args << ": " << result.out;
  }
}

TEST(Devicectl, HelpOnTheToolAndEveryCommand) {
  Result tool = Devicectl("--help");
  EXPECT_EQ(tool.exit_code, 0) << tool.out;
  EXPECT_EQ(tool.out.rfind("usage: devicectl [OPTIONS] COMMAND ...\n", 0), 0u)
      << tool.out;
  for (const char* command :
       {"init",  "install",  "status",   "config",  "registry",
        "boot",  "shutdown", "log",      "inbox",   "sent-items",
        "store", "start",    "stop",     "receive", "post",
        "sent",  "leds",     "contacts", "sim",     "calls"}) {
    EXPECT_NE(tool.out.find("\n  " + std::string(command) + " "),
              std::string::npos)
        << command;
  }
  EXPECT_EQ(Devicectl("help").out, tool.out);
  Result bare = Devicectl("");
  EXPECT_EQ(bare.exit_code, 2);
  EXPECT_EQ(bare.out, tool.out) << "the help, on stderr";

  // A command's help names what it needs, even when nothing else is given.
  Result add = Devicectl("store add-sent --help");
  EXPECT_EQ(add.exit_code, 0) << add.out;
  EXPECT_EQ(
      add.out.rfind(
          "usage: devicectl store add-sent --to NUMBER [OPTIONS] TEXT\n", 0),
      0u)
      << add.out;
  EXPECT_NE(add.out.find("--at TIME"), std::string::npos) << add.out;
  EXPECT_EQ(Devicectl("help store add-sent").out, add.out);
  Result set = Devicectl("-d /no/device registry set -h");
  EXPECT_EQ(set.exit_code, 0) << set.out;
  EXPECT_NE(set.out.find("--dword N"), std::string::npos) << set.out;
  EXPECT_NE(set.out.find("ROOT is HKCR, HKLM or HKCU"), std::string::npos);
}

TEST(Devicectl, TimesAreUtcUnlessTheyNameTheirOffset) {
  platform::testing::TempDevice device;
  ASSERT_EQ(Devicectl("store add-inbox --from 1 --at '2026-03-04 05:06:07' a")
                .exit_code,
            0);
  ASSERT_EQ(Devicectl("store add-inbox --from 2 --at 2026-03-04T13:08+08:00 b")
                .exit_code,
            0);
  ASSERT_EQ(
      Devicectl("store add-inbox --from 3 --at 2026-03-04T05:09Z c").exit_code,
      0);
  Result inbox = Devicectl("inbox");
  EXPECT_NE(inbox.out.find("  2026-03-04 05:06:07  1  "), std::string::npos)
      << inbox.out;
  EXPECT_NE(inbox.out.find("  2026-03-04 05:08:00  2  "), std::string::npos)
      << inbox.out;
  EXPECT_NE(inbox.out.find("  2026-03-04 05:09:00  3  "), std::string::npos)
      << inbox.out;
}

TEST(Devicectl, ConfigAndShutdown) {
  platform::testing::TempDevice device;
  EXPECT_EQ(Devicectl("config set codepage 1252").exit_code, 0);
  EXPECT_EQ(Devicectl("config get codepage").out, "1252\n");
  EXPECT_EQ(platform::GetDeviceSetting("codepage"), "1252");
  EXPECT_EQ(Devicectl("shutdown").exit_code, 0);
}

TEST(Devicectl, BootRunsTheStartUpShortcutsThroughDeviced) {
  platform::testing::TempDevice device;
  // A start-up program that records how it was started.
  std::filesystem::path program = device.HostPath("\\Windows\\recorder.exe");
  std::filesystem::copy_file(platform::testing::BinDir() / "devicetestprogram",
                             program);
  std::filesystem::path output = device.root().parent_path() / "boot.txt";
  setenv("TELVANE_TEST_OUTPUT", output.c_str(), 1);
  ASSERT_TRUE(platform::CreateShortcut(u"\\Windows\\StartUp\\Recorder.lnk",
                                       u"\\Windows\\recorder.exe first")
                  .ok());
  Result boot = Devicectl("boot");
  EXPECT_EQ(boot.exit_code, 0) << boot.out;
  EXPECT_NE(boot.out.find("1 start-up program(s) started"), std::string::npos)
      << boot.out;
  for (int i = 0; i < 500 && !std::filesystem::exists(output); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream in(output);
  std::string text((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\\Windows\\recorder.exe\nfirst\n"), std::string::npos)
      << text;
  Result shutdown = Devicectl("shutdown");
  EXPECT_EQ(shutdown.exit_code, 0) << shutdown.out;
  EXPECT_EQ(Devicectl("stop").out, "deviced was not running\n");
  unsetenv("TELVANE_TEST_OUTPUT");
}

TEST(Devicectl, BootStartsTheTodayScreenBeforeTheStartUpPrograms) {
  platform::testing::TempDevice device;
  // A stand-in Today screen that records how it was started.
  std::filesystem::path shell = device.HostPath("\\Windows\\todayshell.exe");
  std::filesystem::create_directories(shell.parent_path());
  std::filesystem::copy_file(platform::testing::BinDir() / "devicetestprogram",
                             shell);
  std::filesystem::path output = device.root().parent_path() / "today.txt";
  setenv("TELVANE_TEST_OUTPUT", output.c_str(), 1);
  Result boot = Devicectl("boot");
  EXPECT_EQ(boot.exit_code, 0) << boot.out;
  const size_t screen = boot.out.find("Today screen started");
  const size_t startup = boot.out.find("start-up program(s) started");
  ASSERT_NE(screen, std::string::npos) << boot.out;
  EXPECT_LT(screen, startup) << boot.out;
  for (int i = 0; i < 500 && !std::filesystem::exists(output); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream in(output);
  std::string text((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("program=\\Windows\\todayshell.exe\n"), std::string::npos)
      << text;
  EXPECT_EQ(Devicectl("shutdown").exit_code, 0);
  unsetenv("TELVANE_TEST_OUTPUT");
}

TEST(Devicectl, PressReachesTheHolderOrTheProgramInFront) {
  platform::testing::TempDevice device;
  // This test is the program: it holds two keys and is in front.
  std::unique_ptr<platform::KeyEndpoint> endpoint =
      platform::KeyEndpoint::Publish();
  ASSERT_NE(endpoint, nullptr);
  ASSERT_TRUE(platform::RegisterHotkey(getpid(), 1, 193, 0, 193).ok());
  ASSERT_TRUE(
      platform::RegisterHotkey(getpid(), 1, 117, platform::kHotkeyKeyUp, 117)
          .ok());
  ASSERT_TRUE(platform::SetForegroundProcess(getpid(), false).ok());

  for (const char* args : {"press button1", "press 'Volumn Up' --up",
                           "press 0x41", "press BACK --up"}) {
    Result result = Devicectl(args);
    EXPECT_EQ(result.exit_code, 0) << args << ": " << result.out;
    EXPECT_EQ(result.out, "") << args;
  }
  struct Seen {
    bool hotkey;
    int32_t id;
    uint32_t modifiers;
    uint16_t key_code;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  while (std::optional<platform::KeyNotification> key = endpoint->Receive())
    seen.push_back({key->hotkey, key->id, key->modifiers, key->key_code});
  EXPECT_EQ(seen, (std::vector<Seen>{
                      {true, 193, platform::kHotkeyWin, 193},
                      {true, 117, platform::kHotkeyKeyUp, 117},
                      {false, 0, 0, 0x41},
                      {false, 0, platform::kHotkeyKeyUp, 27},
                  }));
}

}  // namespace
