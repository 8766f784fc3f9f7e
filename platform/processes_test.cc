#include "platform/processes.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

void InstallTestProgram(const testing::TempDevice& device,
                        const std::string& device_path) {
  fs::path target = device.HostPath(device_path);
  fs::create_directories(target.parent_path());
  fs::copy_file(testing::BinDir() / "devicetestprogram", target,
                fs::copy_options::overwrite_existing);
}

// Waits (bounded) for the test program's output file and returns it.
std::string WaitForOutput(const fs::path& file) {
  EXPECT_TRUE(testing::WaitUntil([&] { return fs::exists(file); })) << file;
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CommandLines, SplitLikeTheDevice) {
  using Args = std::vector<std::u16string>;
  EXPECT_EQ(
      SplitCommandLine(
          u"\\windows\\loader.exe \"\\Program Files\\Telvane\\pelicorde.exe\""),
      (Args{u"\\windows\\loader.exe",
            u"\\Program Files\\Telvane\\pelicorde.exe"}));
  EXPECT_EQ(SplitCommandLine(u"  a\t\tb  "), (Args{u"a", u"b"}));
  EXPECT_EQ(SplitCommandLine(u"say \\\"hi\\\" \"x y\"z"),
            (Args{u"say", u"\"hi\"", u"x yz"}));
  EXPECT_EQ(SplitCommandLine(u"\"\" end"), (Args{u"", u"end"}));
  EXPECT_EQ(SplitCommandLine(u"\"unterminated quote"),
            (Args{u"unterminated quote"}));
  EXPECT_TRUE(SplitCommandLine(u"   ").empty());
}

TEST(Shortcuts, WriteReadAndRejectDamage) {
  testing::TempDevice device;
  std::u16string line =
      u"\\windows\\loader.exe \"\\Program Files\\Telvane\\pelicorde.exe\"";
  ASSERT_TRUE(CreateShortcut(u"\\Windows\\StartUp\\Pelicorde.lnk", line).ok());
  std::ifstream raw(device.HostPath("\\Windows\\StartUp\\Pelicorde.lnk"));
  std::string text((std::istreambuf_iterator<char>(raw)),
                   std::istreambuf_iterator<char>());
  EXPECT_EQ(
      text,
      std::to_string(line.size()) + "#" +
          "\\windows\\loader.exe \"\\Program Files\\Telvane\\pelicorde.exe\"");
  EXPECT_EQ(ReadShortcut(u"\\windows\\startup\\pelicorde.LNK"), line);

  EXPECT_EQ(ParseShortcut("12#\\x\\prog.exe\r\n"), u"\\x\\prog.exe");
  EXPECT_EQ(ParseShortcut("99#\\x\\prog.exe"),
            u"\\x\\prog.exe");  // count is advisory
  for (const char* bad : {"", "#\\x.exe", "12\\x.exe", "ab#\\x.exe", "12#",
                          "12#\r\n", "1234567890#\\x.exe", "-3#\\x.exe"}) {
    EXPECT_FALSE(ParseShortcut(bad).has_value()) << bad;
  }
  Status status;
  EXPECT_FALSE(
      ReadShortcut(u"\\Windows\\StartUp\\missing.lnk", &status).has_value());
  EXPECT_EQ(status.code(), ErrorCode::kNotFound);
}

TEST(StartProgramTest, RunsTheDeviceFileWithTheDevice) {
  testing::TempDevice device;
  InstallTestProgram(device, "\\Windows\\echo.exe");
  fs::path output = device.root().parent_path() / "out.txt";
  setenv("TELVANE_TEST_OUTPUT", output.c_str(), 1);
  setenv("TELVANE_APP_FOLDER", "\\Elsewhere\\", 1);  // not passed on

  StartOptions attached;
  attached.detached = false;
  Status status;
  std::optional<pid_t> pid = StartProgram(
      u"\\WINDOWS\\Echo.exe", {u"one", u"two words", u""}, attached, &status);
  ASSERT_TRUE(pid.has_value()) << status.ToString();
  int exit_status = 0;
  ASSERT_EQ(waitpid(*pid, &exit_status, 0), *pid);
  EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0);
  EXPECT_EQ(WaitForOutput(output),
            "\\WINDOWS\\Echo.exe\none\ntwo words\n\ndevice=" +
                device.root().string() + "\nprogram=\\Windows\\echo.exe\n");
  unsetenv("TELVANE_APP_FOLDER");

  // Detached: no child to reap, the program runs all the same.
  fs::remove(output);
  pid = StartCommandLine(u"\\windows\\echo.exe \"quoted arg\"");
  ASSERT_TRUE(pid.has_value());
  EXPECT_NE(WaitForOutput(output).find("\nquoted arg\n"), std::string::npos);
  EXPECT_EQ(waitpid(-1, &exit_status, WNOHANG), -1);  // no children of ours

  // Failures: missing file, a folder, a file that is not a program, escape.
  EXPECT_FALSE(
      StartProgram(u"\\Windows\\none.exe", {}, {}, &status).has_value());
  EXPECT_EQ(status.code(), ErrorCode::kNotFound);
  EXPECT_FALSE(StartProgram(u"\\Windows", {}, {}, &status).has_value());
  fs::path text_file = device.HostPath("\\Windows\\notes.exe");
  std::ofstream(text_file) << "not a program";
  fs::permissions(text_file, fs::perms::owner_all);
  EXPECT_FALSE(
      StartProgram(u"\\Windows\\notes.exe", {}, attached, &status).has_value());
  EXPECT_FALSE(status.ok());
  EXPECT_FALSE(StartProgram(u"\\..\\..\\bin\\sh", {}, {}, &status).has_value());
  EXPECT_FALSE(StartCommandLine(u"  ", {}, &status).has_value());
  unsetenv("TELVANE_TEST_OUTPUT");
}

TEST(StartProgramTest, BootRunsStartupShortcuts) {
  testing::TempDevice device;
  InstallTestProgram(device, "\\Windows\\echo.exe");
  fs::path output = device.root().parent_path() / "boot.txt";
  setenv("TELVANE_TEST_OUTPUT", output.c_str(), 1);
  ASSERT_TRUE(
      CreateShortcut(
          u"\\Windows\\StartUp\\Echo.lnk",
          u"\\windows\\echo.exe \"\\Program Files\\Telvane\\pelicorde.exe\"")
          .ok());
  // A damaged shortcut is skipped; the others still run.
  std::ofstream(device.HostPath("\\Windows\\StartUp\\Broken.lnk")) << "garbage";
  EXPECT_EQ(RunStartupShortcuts(), 1);
  EXPECT_NE(
      WaitForOutput(output).find("\n\\Program Files\\Telvane\\pelicorde.exe\n"),
      std::string::npos);
  unsetenv("TELVANE_TEST_OUTPUT");
}

}  // namespace
}  // namespace platform
