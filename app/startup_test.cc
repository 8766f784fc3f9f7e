// The program's single instance, with two real processes of the built
// pelicorde on one temporary device.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "app/testing/program.h"
#include "platform/kernel_objects.h"
#include "platform/testing/temp_device.h"
#include "platform/window_endpoints.h"
#include "settings/settings_store.h"

namespace app {
namespace {

using namespace std::chrono_literals;

using testing::MainWindowRef;
using testing::Program;
using testing::WaitUntil;

pid_t Start() { return testing::StartProgram(); }

class StartupTest : public ::testing::Test {
 protected:
  std::string DebugLog() const {
    std::ifstream in(device_.root() / "debug.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Logged(pid_t pid, const std::string& text) const {
    std::string tag = "[" + std::to_string(pid) + " ";
    std::string log = DebugLog();
    for (size_t at = log.find(tag); at != std::string::npos;
         at = log.find(tag, at + 1)) {
      size_t end = log.find('\n', at);
      if (log.substr(at, end - at).find(text) != std::string::npos) {
        return true;
      }
    }
    return false;
  }
  static void Stop(pid_t pid) { testing::StopProgram(pid); }

  platform::testing::TempDevice device_;
};

TEST_F(StartupTest, SecondStartWakesTheHiddenFirstAndExits) {
  ASSERT_TRUE(std::filesystem::exists(Program()));
  {
    settings::SettingsStore store;
    store.set_auto_hide(1);
    ASSERT_TRUE(store.Save().ok());
  }
  pid_t first = Start();
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitUntil([] { return MainWindowRef().has_value(); }));
  EXPECT_EQ(MainWindowRef()->pid, first);
  ASSERT_TRUE(WaitUntil([&] { return Logged(first, "window hidden"); }));
  EXPECT_FALSE(Logged(first, "window shown"));

  // The second start posts its wake-up and ends with 0 on its own.
  pid_t second = Start();
  int status = -1;
  ASSERT_EQ(waitpid(second, &status, 0), second);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(WaitUntil([&] { return Logged(first, "window shown"); }));
  EXPECT_FALSE(Logged(second, "window"));
  Stop(first);

  // An instance that ended without releasing the mutex does not keep the
  // next start from running.
  pid_t third = Start();
  ASSERT_TRUE(WaitUntil([&] {
    std::optional<platform::WindowRef> window = MainWindowRef();
    return window.has_value() && window->pid == third;
  }));
  Stop(third);
}

// Whether `pid` has put a handler on SIGTERM (its "SigCgt" mask).
bool CatchesTermination(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      uint64_t mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (SIGTERM - 1)) & 1;
    }
  }
  return false;
}

TEST_F(StartupTest, ATerminationRequestDuringStartEndsTheProgramCleanly) {
  // As early as the program takes the signal, and again the moment its
  // window can be found (it may still be initialising): both end with 0.
  pid_t early = Start();
  ASSERT_GT(early, 0);
  ASSERT_TRUE(WaitUntil([&] { return CatchesTermination(early); }));
  int status = testing::StopProgram(early);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);

  pid_t found = Start();
  ASSERT_TRUE(WaitUntil([&] {
    std::optional<platform::WindowRef> window = MainWindowRef();
    return window.has_value() && window->pid == found;
  }));
  status = testing::StopProgram(found);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(StartupTest, WithoutTheUnreadCountTheProgramSaysWhyAndEnds) {
  // A block of that name too small for the count cannot be mapped.
  bool existed = false;
  auto blocker =
      platform::SharedMemory::CreateOrOpen("ZUD_SmsCount", 1, &existed);
  ASSERT_TRUE(blocker.has_value());
  pid_t pid = Start();
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(Logged(pid, "ZUD_SmsCount cannot be created"));
  EXPECT_FALSE(MainWindowRef().has_value());
}

}  // namespace
}  // namespace app
