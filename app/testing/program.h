// For tests that run the built program as a real process on the test's
// device (TELVANE_DEVICE is inherited), offscreen.
#ifndef TELVANE_APP_TESTING_PROGRAM_H_
#define TELVANE_APP_TESTING_PROGRAM_H_

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/main_window.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"
#include "platform/window_endpoints.h"

namespace app::testing {

inline std::filesystem::path Program() {
  return platform::testing::BinDir() / "pelicorde";
}

// Starts the program offscreen; returns its process id.
inline pid_t StartProgram() {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string path = Program().string();
    execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Waits (up to a generous deadline) until `done` holds.
using platform::testing::WaitUntil;

// The running program's main window, as a second start finds it.
inline std::optional<platform::WindowRef> MainWindowRef() {
  return platform::FindTopLevelWindow(kWindowClass, u"Telvane");
}

// Sends `signal` and waits for the process; its wait status.
inline int StopProgram(pid_t pid, int signal = SIGTERM) {
  kill(pid, signal);
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

}  // namespace app::testing

#endif  // TELVANE_APP_TESTING_PROGRAM_H_
