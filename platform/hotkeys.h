// The device's hotkeys and hardware key presses, shared by every program on
// the device.
//
// A hotkey is a key (key code and modifiers) that one window of one program
// holds: every press of it on the device is notified to that window instead
// of going to the program in front. The registry is one small file,
// run/hotkeys, read and replaced under an open-file-description lock (see
// docs/formats/hotkeys.md); the lock is held only for the read and the
// write, never while anything else waits, and dies with its holder.
//
// A program that takes hotkeys or key presses publishes one key endpoint, a
// UNIX datagram socket run/keys.<pid>. A press is posted to it as a window
// message datagram (docs/formats/window-messages.md):
//  - to the owner of a hotkey: kHotkeyMessage, first parameter the window
//    token in the high 32 bits and the hotkey's identifier in the low 32,
//    second parameter the modifiers in the low 16 bits (kHotkeyKeyUp on a
//    release) and the key code in bits 16 to 31;
//  - with no owner, to the device's foreground program (the program whose
//    window was activated last): kKeyDownMessage or kKeyUpMessage, first
//    parameter the key code, second parameter the modifiers.
// Posting never blocks: when the endpoint is full or gone, the press is
// lost, not the caller's time.
//
// Entries of a process that has ended (however it ended) are dropped
// wherever they are found, so a killed program never keeps a key.
//
// Thread safety: every call may run on any thread; calls of different
// threads and processes are serialised by the file's lock.
#ifndef TELVANE_PLATFORM_HOTKEYS_H_
#define TELVANE_PLATFORM_HOTKEYS_H_

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/unique_fd.h"
#include "platform/window_endpoints.h"

namespace platform {

inline constexpr uint32_t kHotkeyMessage = 0x0312;
inline constexpr uint32_t kKeyDownMessage = 0x0100;
inline constexpr uint32_t kKeyUpMessage = 0x0101;

inline constexpr uint32_t kHotkeyAlt = 0x0001;
inline constexpr uint32_t kHotkeyControl = 0x0002;
inline constexpr uint32_t kHotkeyShift = 0x0004;
inline constexpr uint32_t kHotkeyWin = 0x0008;
// In a registration: the holder is notified of releases too. In a
// notification: this is a release.
inline constexpr uint32_t kHotkeyKeyUp = 0x1000;

// The key code of the Back key.
inline constexpr uint16_t kBackKeyCode = 27;

// The device's hardware keys by name, in the order the program lists them
// (a name may appear twice: the first entry is the key's usual code).
struct HardwareKeyName {
  const char* name;
  uint32_t modifiers;  // what the device sends with the key
  uint16_t key_code;
};
std::span<const HardwareKeyName> HardwareKeyNames();
// The first key named `name` (letter case ignored), or nullptr.
const HardwareKeyName* FindHardwareKey(std::string_view name);

// One hotkey of the registry.
struct HotkeyEntry {
  pid_t pid = 0;           // the owning process
  uint32_t window = 0;     // the window token, chosen by the owner
  int32_t id = 0;          // the owner's identifier for it
  uint32_t modifiers = 0;  // as registered (kHotkeyKeyUp included)
  uint16_t key_code = 0;
};

// A hotkey notification or key message, decoded.
struct KeyNotification {
  bool hotkey = false;     // a hotkey notification, else a key message
  uint32_t window = 0;     // hotkey: the window token
  int32_t id = 0;          // hotkey: its identifier
  uint32_t modifiers = 0;  // kHotkeyKeyUp set on a release
  uint16_t key_code = 0;
};

// Decodes a message received on a key endpoint; nullopt for any other
// message.
std::optional<KeyNotification> DecodeKeyMessage(const PostedMessage& message);

// True when the two keys are the same hotkey: equal key codes and equal
// modifiers, the Win modifier and kHotkeyKeyUp left out.
bool SameHotkey(uint32_t modifiers_a, uint16_t key_a, uint32_t modifiers_b,
                uint16_t key_b);

// Registers hotkey `id` of window `window` of process `pid`. kBusy when
// another live window holds the same key, kAlreadyExists when the window
// already has `id`, kTimeout when the registry stayed locked.
Status RegisterHotkey(pid_t pid, uint32_t window, int32_t id,
                      uint32_t modifiers, uint16_t key_code);
// Unregisters hotkey `id` of the window; kNotFound when it had none.
Status UnregisterHotkey(pid_t pid, uint32_t window, int32_t id);
// Unregisters every hotkey of the window.
Status UnregisterWindowHotkeys(pid_t pid, uint32_t window);
// Unregisters every hotkey of the process (a program ending).
Status UnregisterProcessHotkeys(pid_t pid);
// The live entries of the registry, in registration order.
std::vector<HotkeyEntry> ListHotkeys();
// The first live entry holding the key; nullopt when nobody holds it.
std::optional<HotkeyEntry> FindHotkeyOwner(uint32_t modifiers,
                                           uint16_t key_code);

// Foreground program: the process whose window was activated last, and
// whether that window takes the Back key itself (a press of Back then goes
// to it as a key message even when another window holds Back).
Status SetForegroundProcess(pid_t pid, bool back_overridden);
struct ForegroundProcess {
  pid_t pid = 0;
  bool back_overridden = false;
};
// The foreground program while it lives.
std::optional<ForegroundProcess> GetForegroundProcess();

// Presses (or releases) a key on the device: notifies the owner of the
// hotkey (a release only when it registered kHotkeyKeyUp), else posts a key
// message to the foreground program; with neither, nothing happens. The
// Back key goes to a foreground program that overrides it first. Returns
// the process it went to, or 0.
pid_t PressKey(uint16_t key_code, uint32_t modifiers, bool up);

// Posts a hotkey notification for `entry` to its process's key endpoint.
Status PostHotkey(const HotkeyEntry& entry, uint32_t modifiers,
                  uint16_t key_code, bool up);
// Posts a key message to the key endpoint of `pid`.
Status PostKey(pid_t pid, uint16_t key_code, uint32_t modifiers, bool up);

// The key endpoint of process `pid` (run/keys.<pid>).
std::filesystem::path KeyEndpointPath(pid_t pid);

// This process's key endpoint: bound at Publish, removed when destroyed.
// Not thread-safe; owned by the thread that reads it.
class KeyEndpoint {
 public:
  static std::unique_ptr<KeyEndpoint> Publish(Status* status = nullptr);
  ~KeyEndpoint();
  KeyEndpoint(const KeyEndpoint&) = delete;
  KeyEndpoint& operator=(const KeyEndpoint&) = delete;

  int fd() const { return fd_.get(); }
  const std::filesystem::path& path() const { return path_; }
  // The next waiting key message, without blocking; nullopt when none.
  // Datagrams that are not key messages are dropped.
  std::optional<KeyNotification> Receive();
  // Waits up to `timeout_ms` for the next key message.
  std::optional<KeyNotification> Wait(int timeout_ms);

 private:
  KeyEndpoint(UniqueFd fd, std::filesystem::path path)
      : fd_(std::move(fd)), path_(std::move(path)) {}
  UniqueFd fd_;
  std::filesystem::path path_;
};

// Whether `pid` names a process that is running (not ended, not a zombie).
bool ProcessAlive(pid_t pid);

}  // namespace platform

#endif  // TELVANE_PLATFORM_HOTKEYS_H_
