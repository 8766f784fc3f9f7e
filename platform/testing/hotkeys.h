// For tests that press the device's keys into a running program (with
// `devicectl press` or platform::PressKey): waits until the program is
// ready to take them, so that a press is not sent before its window holds
// the key or has come to the front.
#ifndef TELVANE_PLATFORM_TESTING_HOTKEYS_H_
#define TELVANE_PLATFORM_TESTING_HOTKEYS_H_

#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "platform/hotkeys.h"
#include "platform/testing/wait.h"

namespace platform::testing {

// Whether process `pid` came to hold a hotkey with `key_code` (any
// modifiers, any of its windows) within the test's patience.
inline bool WaitForHotkey(pid_t pid, uint16_t key_code) {
  return WaitUntil([&] {
    for (const HotkeyEntry& entry : ListHotkeys()) {
      if (entry.pid == pid && entry.key_code == key_code) return true;
    }
    return false;
  });
}

// Whether process `pid` came to the front of the device within the test's
// patience (one of its windows was activated).
inline bool WaitForForeground(pid_t pid) {
  return WaitUntil([&] {
    std::optional<ForegroundProcess> front = GetForegroundProcess();
    return front.has_value() && front->pid == pid;
  });
}

}  // namespace platform::testing

#endif  // TELVANE_PLATFORM_TESTING_HOTKEYS_H_
