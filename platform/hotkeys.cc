#include "platform/hotkeys.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/device.h"
#include "platform/local_socket.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// The layout of run/hotkeys (docs/formats/hotkeys.md).
constexpr char kMagic[4] = {'T', 'H', 'K', '1'};
constexpr size_t kHeaderSize = 16;
constexpr size_t kEntrySize = 20;
constexpr uint32_t kMaxEntries = 4096;
constexpr uint32_t kForegroundBackOverridden = 1;
constexpr size_t kMessageSize = 20;
// How long a caller waits for the registry's lock at most.
constexpr auto kLockPatience = std::chrono::milliseconds(1000);

void PutLe(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

// Makes run/ in an existing device; false when the device is not there
// (a device that was removed is never made again as a side effect).
bool EnsureRunDir(const fs::path& run) {
  std::error_code ec;
  if (!fs::is_directory(run.parent_path(), ec)) return false;
  fs::create_directory(run, ec);
  return fs::is_directory(run, ec);
}

struct Registry {
  pid_t foreground = 0;
  uint32_t foreground_flags = 0;
  std::vector<HotkeyEntry> entries;
};

// The registry file, opened and locked for one read-change-write.
class LockedRegistry {
 public:
  static std::optional<LockedRegistry> Open(Status* status) {
    fs::path run = DeviceRunDir();
    if (!EnsureRunDir(run)) {
      *status = Status(ErrorCode::kNotFound, "no device at " + run.string());
      return std::nullopt;
    }
    fs::path path = run / "hotkeys";
    UniqueFd fd(
        open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd) {
      *status = Status::FromErrno("open", path.string(), errno);
      return std::nullopt;
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    while (fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
      if ((errno != EAGAIN && errno != EACCES && errno != EINTR) ||
          std::chrono::steady_clock::now() >= deadline) {
        *status = Status(ErrorCode::kTimeout,
                         "the hotkey registry stayed locked: " + path.string());
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return LockedRegistry(std::move(fd));
  }

  // The registry as stored, entries of ended processes dropped. A damaged
  // file reads as an empty registry (and is replaced by the next write).
  Registry Read() {
    Registry registry;
    std::string bytes;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
      ssize_t n = pread(fd_.get(), buffer, sizeof buffer, offset);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
      offset += n;
    }
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, 4) != 0)
      return registry;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    uint32_t count = static_cast<uint32_t>(GetLe(data + 12, 4));
    if (count > kMaxEntries || bytes.size() < kHeaderSize + count * kEntrySize)
      return registry;
    registry.foreground = static_cast<pid_t>(GetLe(data + 4, 4));
    registry.foreground_flags = static_cast<uint32_t>(GetLe(data + 8, 4));
    if (registry.foreground != 0 && !ProcessAlive(registry.foreground)) {
      registry.foreground = 0;
      registry.foreground_flags = 0;
      changed_ = true;
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* e = data + kHeaderSize + i * kEntrySize;
      HotkeyEntry entry;
      entry.pid = static_cast<pid_t>(GetLe(e, 4));
      entry.window = static_cast<uint32_t>(GetLe(e + 4, 4));
      entry.id = static_cast<int32_t>(GetLe(e + 8, 4));
      entry.modifiers = static_cast<uint32_t>(GetLe(e + 12, 4));
      entry.key_code = static_cast<uint16_t>(GetLe(e + 16, 2));
      if (ProcessAlive(entry.pid)) {
        registry.entries.push_back(entry);
      } else {
        changed_ = true;
      }
    }
    return registry;
  }

  // True when Read dropped something that the file should lose too.
  bool changed() const { return changed_; }

  Status Write(const Registry& registry) {
    std::string bytes(kHeaderSize + registry.entries.size() * kEntrySize, '\0');
    auto* data = reinterpret_cast<uint8_t*>(bytes.data());
    std::memcpy(data, kMagic, 4);
    PutLe(data + 4, static_cast<uint32_t>(registry.foreground), 4);
    PutLe(data + 8, registry.foreground_flags, 4);
    PutLe(data + 12, registry.entries.size(), 4);
    for (size_t i = 0; i < registry.entries.size(); ++i) {
      const HotkeyEntry& entry = registry.entries[i];
      uint8_t* e = data + kHeaderSize + i * kEntrySize;
      PutLe(e, static_cast<uint32_t>(entry.pid), 4);
      PutLe(e + 4, entry.window, 4);
      PutLe(e + 8, static_cast<uint32_t>(entry.id), 4);
      PutLe(e + 12, entry.modifiers, 4);
      PutLe(e + 16, entry.key_code, 2);
    }
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = pwrite(fd_.get(), bytes.data() + done, bytes.size() - done,
                         static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Status::FromErrno("write", "run/hotkeys", errno);
      done += static_cast<size_t>(n);
    }
    if (ftruncate(fd_.get(), static_cast<off_t>(bytes.size())) != 0)
      return Status::FromErrno("truncate", "run/hotkeys", errno);
    changed_ = false;
    return Status::Ok();
  }

 private:
  explicit LockedRegistry(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;  // the lock goes with it
  bool changed_ = false;
};

// Reads the registry under its lock, lets `change` edit it, and writes it
// back when `change` returned OK (or when dead entries were dropped).
template <class Change>
Status Update(Change change) {
  Status status;
  std::optional<LockedRegistry> file = LockedRegistry::Open(&status);
  if (!file) return status;
  Registry registry = file->Read();
  Status result = change(registry);
  if (result.ok() || file->changed()) {
    Status written = file->Write(registry);
    if (!written.ok()) return written;
  }
  return result;
}

Status PostTo(pid_t pid, uint32_t message, uint64_t first, int64_t second) {
  WindowRef ref{KeyEndpointPath(pid), pid};
  return PostWindowMessage(ref, message, first, second);
}

constexpr HardwareKeyName kKeyNames[] = {
    {"Action", 0, 13},
    {"Left", 0, 37},
    {"Up", 0, 38},
    {"Right", 0, 39},
    {"Down", 0, 40},
    {"Button1", kHotkeyWin, 193},
    {"Button2", kHotkeyWin, 194},
    {"Button3", kHotkeyWin, 195},
    {"Button4", kHotkeyWin, 196},
    {"Button5", kHotkeyWin, 197},
    {"Button6", kHotkeyWin, 198},
    {"Remote1", kHotkeyWin, 202},
    {"Remote2", kHotkeyWin, 203},
    {"Remote3", kHotkeyWin, 204},
    {"Remote4", kHotkeyWin, 205},
    {"Remote1", 0, 142},
    {"Remote2", 0, 141},
    {"Remote3", 0, 139},
    {"Remote4", 0, 138},
    {"Remote5", 0, 140},
    {"Remote6", 0, 137},
    {"Remote7", 0, 136},
    {"Volumn Up", 0, 117},
    {"Volumn Down", 0, 118},
    {"Record", 0, 121},
};

}  // namespace

std::span<const HardwareKeyName> HardwareKeyNames() { return kKeyNames; }

const HardwareKeyName* FindHardwareKey(std::string_view name) {
  for (const HardwareKeyName& key : kKeyNames) {
    std::string_view known = key.name;
    if (known.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(known[i])) ==
             std::tolower(static_cast<unsigned char>(name[i]));
    }
    if (same) return &key;
  }
  return nullptr;
}

bool ProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return false;
  std::string text((std::istreambuf_iterator<char>(stat)),
                   std::istreambuf_iterator<char>());
  // "pid (comm) S ...": the state follows the last ')'.
  size_t paren = text.rfind(')');
  if (paren == std::string::npos || paren + 2 >= text.size()) return false;
  char state = text[paren + 2];
  return state != 'Z' && state != 'X' && state != 'x';
}

bool SameHotkey(uint32_t modifiers_a, uint16_t key_a, uint32_t modifiers_b,
                uint16_t key_b) {
  constexpr uint32_t kIgnored = kHotkeyWin | kHotkeyKeyUp;
  return key_a == key_b &&
         (modifiers_a & ~kIgnored) == (modifiers_b & ~kIgnored);
}

std::optional<KeyNotification> DecodeKeyMessage(const PostedMessage& message) {
  KeyNotification key;
  if (message.message == kHotkeyMessage) {
    key.hotkey = true;
    key.window = static_cast<uint32_t>(message.first >> 32);
    key.id = static_cast<int32_t>(message.first & 0xFFFFFFFFu);
    key.modifiers = static_cast<uint32_t>(message.second & 0xFFFF);
    key.key_code = static_cast<uint16_t>((message.second >> 16) & 0xFFFF);
    return key;
  }
  if (message.message == kKeyDownMessage || message.message == kKeyUpMessage) {
    key.key_code = static_cast<uint16_t>(message.first & 0xFFFF);
    key.modifiers =
        static_cast<uint32_t>(message.second & 0xFFFF) & ~kHotkeyKeyUp;
    if (message.message == kKeyUpMessage) key.modifiers |= kHotkeyKeyUp;
    return key;
  }
  return std::nullopt;
}

Status RegisterHotkey(pid_t pid, uint32_t window, int32_t id,
                      uint32_t modifiers, uint16_t key_code) {
  return Update([&](Registry& registry) {
    for (const HotkeyEntry& entry : registry.entries) {
      bool same_window = entry.pid == pid && entry.window == window;
      if (same_window && entry.id == id) {
        return Status(ErrorCode::kAlreadyExists,
                      "the window has hotkey " + std::to_string(id));
      }
      if (!same_window &&
          SameHotkey(entry.modifiers, entry.key_code, modifiers, key_code)) {
        return Status(ErrorCode::kBusy, "the key is held by process " +
                                            std::to_string(entry.pid));
      }
    }
    if (registry.entries.size() >= kMaxEntries)
      return Status(ErrorCode::kBusy, "the hotkey registry is full");
    registry.entries.push_back(
        HotkeyEntry{pid, window, id, modifiers, key_code});
    return Status::Ok();
  });
}

Status UnregisterHotkey(pid_t pid, uint32_t window, int32_t id) {
  return Update([&](Registry& registry) {
    for (auto it = registry.entries.begin(); it != registry.entries.end();
         ++it) {
      if (it->pid == pid && it->window == window && it->id == id) {
        registry.entries.erase(it);
        return Status::Ok();
      }
    }
    return Status(ErrorCode::kNotFound, "no such hotkey");
  });
}

Status UnregisterWindowHotkeys(pid_t pid, uint32_t window) {
  return Update([&](Registry& registry) {
    std::erase_if(registry.entries, [&](const HotkeyEntry& entry) {
      return entry.pid == pid && entry.window == window;
    });
    return Status::Ok();
  });
}

Status UnregisterProcessHotkeys(pid_t pid) {
  return Update([&](Registry& registry) {
    std::erase_if(registry.entries,
                  [&](const HotkeyEntry& entry) { return entry.pid == pid; });
    if (registry.foreground == pid) {
      registry.foreground = 0;
      registry.foreground_flags = 0;
    }
    return Status::Ok();
  });
}

std::vector<HotkeyEntry> ListHotkeys() {
  std::vector<HotkeyEntry> entries;
  Update([&](Registry& registry) {
    entries = registry.entries;
    return Status(ErrorCode::kNotFound, "read only");
  }).IgnoreError();
  return entries;
}

std::optional<HotkeyEntry> FindHotkeyOwner(uint32_t modifiers,
                                           uint16_t key_code) {
  for (const HotkeyEntry& entry : ListHotkeys()) {
    if (SameHotkey(entry.modifiers, entry.key_code, modifiers, key_code))
      return entry;
  }
  return std::nullopt;
}

Status SetForegroundProcess(pid_t pid, bool back_overridden) {
  return Update([&](Registry& registry) {
    registry.foreground = pid;
    registry.foreground_flags = back_overridden ? kForegroundBackOverridden : 0;
    return Status::Ok();
  });
}

std::optional<ForegroundProcess> GetForegroundProcess() {
  std::optional<ForegroundProcess> found;
  Update([&](Registry& registry) {
    if (registry.foreground != 0) {
      found = ForegroundProcess{
          registry.foreground,
          (registry.foreground_flags & kForegroundBackOverridden) != 0};
    }
    return Status(ErrorCode::kNotFound, "read only");
  }).IgnoreError();
  return found;
}

Status PostHotkey(const HotkeyEntry& entry, uint32_t modifiers,
                  uint16_t key_code, bool up) {
  uint32_t flags = (modifiers & ~kHotkeyKeyUp) | (up ? kHotkeyKeyUp : 0);
  uint64_t first =
      (uint64_t{entry.window} << 32) | static_cast<uint32_t>(entry.id);
  int64_t second =
      static_cast<int64_t>((uint64_t{key_code} << 16) | (flags & 0xFFFF));
  return PostTo(entry.pid, kHotkeyMessage, first, second);
}

Status PostKey(pid_t pid, uint16_t key_code, uint32_t modifiers, bool up) {
  return PostTo(pid, up ? kKeyUpMessage : kKeyDownMessage, key_code,
                static_cast<int64_t>(modifiers & ~kHotkeyKeyUp & 0xFFFF));
}

pid_t PressKey(uint16_t key_code, uint32_t modifiers, bool up) {
  std::optional<HotkeyEntry> owner;
  std::optional<ForegroundProcess> foreground;
  Update([&](Registry& registry) {
    if (registry.foreground != 0) {
      foreground = ForegroundProcess{
          registry.foreground,
          (registry.foreground_flags & kForegroundBackOverridden) != 0};
    }
    for (const HotkeyEntry& entry : registry.entries) {
      if (SameHotkey(entry.modifiers, entry.key_code, modifiers, key_code)) {
        owner = entry;
        break;
      }
    }
    return Status(ErrorCode::kNotFound, "read only");
  }).IgnoreError();
  if (key_code == kBackKeyCode && foreground && foreground->back_overridden) {
    return PostKey(foreground->pid, key_code, modifiers, up).ok()
               ? foreground->pid
               : 0;
  }
  if (owner) {
    if (up && (owner->modifiers & kHotkeyKeyUp) == 0) return 0;
    return PostHotkey(*owner, modifiers, key_code, up).ok() ? owner->pid : 0;
  }
  if (foreground) {
    return PostKey(foreground->pid, key_code, modifiers, up).ok()
               ? foreground->pid
               : 0;
  }
  return 0;
}

fs::path KeyEndpointPath(pid_t pid) {
  return DeviceRunDir() / ("keys." + std::to_string(pid));
}

std::unique_ptr<KeyEndpoint> KeyEndpoint::Publish(Status* status) {
  auto fail = [&](Status s) -> std::unique_ptr<KeyEndpoint> {
    if (status != nullptr) *status = std::move(s);
    return nullptr;
  };
  if (!EnsureRunDir(DeviceRunDir())) {
    return fail(
        Status(ErrorCode::kNotFound, "no device at " + DeviceRoot().string()));
  }
  fs::path path = KeyEndpointPath(getpid());
  Status bound;
  UniqueFd fd = BindDatagramSocket(path, &bound);
  if (!fd) return fail(std::move(bound));
  return std::unique_ptr<KeyEndpoint>(new KeyEndpoint(std::move(fd), path));
}

KeyEndpoint::~KeyEndpoint() {
  fd_.Reset();
  unlink(path_.c_str());
}

std::optional<KeyNotification> KeyEndpoint::Receive() {
  uint8_t buffer[64];
  for (;;) {
    ssize_t n = recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (static_cast<size_t>(n) != kMessageSize) continue;
    PostedMessage message;
    message.message = static_cast<uint32_t>(GetLe(buffer, 4));
    message.first = GetLe(buffer + 4, 8);
    message.second = static_cast<int64_t>(GetLe(buffer + 12, 8));
    if (std::optional<KeyNotification> key = DecodeKeyMessage(message))
      return key;
  }
}

std::optional<KeyNotification> KeyEndpoint::Wait(int timeout_ms) {
  if (std::optional<KeyNotification> key = Receive()) return key;
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return std::nullopt;
    pollfd p{fd_.get(), POLLIN, 0};
    int rc = poll(&p, 1, static_cast<int>(left.count()));
    if (rc < 0 && errno != EINTR) return std::nullopt;
    if (std::optional<KeyNotification> key = Receive()) return key;
    if (rc == 0) return std::nullopt;
  }
}

}  // namespace platform
