#include "platform/debug.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/testing/temp_device.h"

namespace platform {
namespace {

std::vector<std::string> LogLines() {
  std::ifstream log(DeviceDebugLogPath());
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

TEST(DebugOutputTest, OneLinePerCallWithItsOrigin) {
  testing::TempDevice device;
  DebugOutput(u"CFactory Deleted!\r\n");
  DebugPrintf("Factory Reference is now %d\r\n", 2);
  DebugOutput(std::string_view("two\r\nparts"));
  DebugOutput(u"\u672a\u8bfb");  // wide text lands as UTF-8
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 4u);
  std::regex prefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+ platform_test\] )");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_search(line, prefix)) << line;
  EXPECT_TRUE(lines[0].ends_with("] CFactory Deleted!"));
  EXPECT_TRUE(lines[1].ends_with("] Factory Reference is now 2"));
  EXPECT_TRUE(lines[2].ends_with("] two\\nparts"));  // still one line
  EXPECT_TRUE(lines[3].ends_with("] \xe6\x9c\xaa\xe8\xaf\xbb"));
  std::string long_text(5000, 'x');
  DebugPrintf("%s", long_text.c_str());
  EXPECT_TRUE(LogLines().back().ends_with(long_text));
}

TEST(DebugOutputTest, ConcurrentProcessesNeverInterleave) {
  testing::TempDevice device;
  constexpr int kProcesses = 4;
  constexpr int kLines = 200;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::string filler(300, static_cast<char>('a' + p));
      for (int i = 0; i < kLines; ++i) DebugPrintf("writer %d line %d %s", p, i, filler.c_str());
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::map<int, int> next_line;
  std::regex shape(R"(\] writer (\d) line (\d+) ([a-z])+$)");
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kProcesses * kLines));
  for (const std::string& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_search(line, match, shape)) << line.substr(0, 80);
    int writer = std::stoi(match[1]);
    EXPECT_EQ(std::stoi(match[2]), next_line[writer]++);  // in order per writer
    EXPECT_EQ(line.back(), 'a' + writer);
  }
}

}  // namespace
}  // namespace platform
