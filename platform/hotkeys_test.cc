#include "platform/hotkeys.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/device.h"
#include "platform/local_socket.h"
#include "platform/testing/hotkeys.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"

namespace platform {
namespace {

// A process that takes Button1 (with the Win modifier) as hotkey 9 of its
// window 3, reports on `to_parent` ('y' when registered), then reports the
// first key notification it gets and waits to be killed.
pid_t StartHolder(int* from_child) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  pid_t child = fork();
  if (child != 0) {
    close(pipe_fds[1]);
    *from_child = pipe_fds[0];
    return child;
  }
  close(pipe_fds[0]);
  auto endpoint = KeyEndpoint::Publish();
  bool ok = endpoint != nullptr &&
            RegisterHotkey(getpid(), 3, 9, kHotkeyWin, 193).ok();
  char byte = ok ? 'y' : 'n';
  if (write(pipe_fds[1], &byte, 1) != 1 || !ok) _exit(1);
  std::optional<KeyNotification> key = endpoint->Wait(20000);
  if (key) {
    uint32_t seen[5] = {key->hotkey, key->window,
                        static_cast<uint32_t>(key->id), key->modifiers,
                        key->key_code};
    if (write(pipe_fds[1], seen, sizeof seen) != sizeof seen) _exit(2);
  }
  for (;;) pause();
}

TEST(Hotkeys, AKeyBelongsToOneLiveWindowOfTheDevice) {
  testing::TempDevice device;
  int from_child = -1;
  pid_t child = StartHolder(&from_child);
  ASSERT_GT(child, 0);
  char byte = 0;
  ASSERT_EQ(read(from_child, &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  ASSERT_TRUE(testing::WaitForHotkey(child, 193));

  EXPECT_EQ(RegisterHotkey(getpid(), 1, 1, 0, 193).code(), ErrorCode::kBusy)
      << "the Win modifier is not compared";
  EXPECT_EQ(RegisterHotkey(getpid(), 1, 1, kHotkeyKeyUp, 193).code(),
            ErrorCode::kBusy);
  EXPECT_TRUE(RegisterHotkey(getpid(), 1, 1, kHotkeyShift, 193).ok());
  std::optional<HotkeyEntry> owner = FindHotkeyOwner(kHotkeyWin, 193);
  ASSERT_TRUE(owner.has_value());
  EXPECT_EQ(owner->pid, child);

  EXPECT_EQ(PressKey(193, kHotkeyWin, false), child);
  uint32_t seen[5] = {};
  ASSERT_EQ(read(from_child, seen, sizeof seen),
            static_cast<ssize_t>(sizeof seen));
  EXPECT_EQ(seen[0], 1u) << "a hotkey notification";
  EXPECT_EQ(seen[1], 3u);
  EXPECT_EQ(seen[2], 9u);
  EXPECT_EQ(seen[3], kHotkeyWin);
  EXPECT_EQ(seen[4], 193u);
  close(from_child);

  // Killed, never asked to let go: its key is free all the same (before
  // its parent has even collected it).
  ASSERT_EQ(kill(child, SIGKILL), 0);
  ASSERT_TRUE(testing::WaitUntil([&] { return !ProcessAlive(child); }));
  EXPECT_TRUE(RegisterHotkey(getpid(), 1, 2, 0, 193).ok());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  for (const HotkeyEntry& entry : ListHotkeys()) EXPECT_EQ(entry.pid, getpid());
  EXPECT_EQ(ListHotkeys().size(), 2u);
}

// A plain socket at this process's key endpoint, to see the bytes posted.
class RawEndpoint {
 public:
  RawEndpoint() {
    fd_ = UniqueFd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address;
    int dir_fd;
    if (!MakeLocalSocketAddress(KeyEndpointPath(getpid()), &address, &dir_fd))
      return;
    UniqueFd dir(dir_fd);
    if (bind(fd_.get(), reinterpret_cast<sockaddr*>(&address),
             sizeof address) != 0) {
      fd_.Reset();
    }
  }
  ~RawEndpoint() { unlink(KeyEndpointPath(getpid()).c_str()); }
  bool ok() const { return fd_.valid(); }

  // The next datagram, in hex; "" when none waits.
  std::string Next() {
    unsigned char buffer[64];
    ssize_t n = recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    std::string hex;
    for (ssize_t i = 0; i < n; ++i) {
      char two[4];
      std::snprintf(two, sizeof two, "%s%02x", i == 0 ? "" : " ", buffer[i]);
      hex += two;
    }
    return hex;
  }

 private:
  UniqueFd fd_;
};

TEST(Hotkeys, APressIsPostedAsOneDatagram) {
  testing::TempDevice device;
  RawEndpoint endpoint;
  ASSERT_TRUE(endpoint.ok());
  pid_t self = getpid();

  // Nobody holds the key and no program is in front: nothing happens.
  EXPECT_EQ(PressKey(65, 0, false), 0);
  EXPECT_EQ(endpoint.Next(), "");

  ASSERT_TRUE(RegisterHotkey(self, 0x01020304, 2, kHotkeyKeyUp, 27).ok());
  EXPECT_EQ(RegisterHotkey(self, 0x01020304, 2, 0, 28).code(),
            ErrorCode::kAlreadyExists);
  ASSERT_TRUE(RegisterHotkey(self, 5, 40001, kHotkeyAlt, 13).ok());
  EXPECT_EQ(PressKey(27, 0, false), self);
  EXPECT_EQ(PressKey(27, 0, true), self);
  EXPECT_EQ(PressKey(13, kHotkeyAlt, false), self);
  EXPECT_EQ(PressKey(13, kHotkeyAlt, true), 0) << "releases not asked for";
  EXPECT_EQ(endpoint.Next(),
            "12 03 00 00 02 00 00 00 04 03 02 01 00 00 1b 00 00 00 00 00");
  EXPECT_EQ(endpoint.Next(),
            "12 03 00 00 02 00 00 00 04 03 02 01 00 10 1b 00 00 00 00 00");
  EXPECT_EQ(endpoint.Next(),
            "12 03 00 00 41 9c 00 00 05 00 00 00 01 00 0d 00 00 00 00 00");
  EXPECT_EQ(endpoint.Next(), "");

  // A key nobody holds goes to the program in front as a key message.
  ASSERT_TRUE(SetForegroundProcess(self, false).ok());
  EXPECT_EQ(PressKey(193, kHotkeyWin, false), self);
  EXPECT_EQ(PressKey(193, kHotkeyWin, true), self);
  EXPECT_EQ(endpoint.Next(),
            "00 01 00 00 c1 00 00 00 00 00 00 00 08 00 00 00 00 00 00 00");
  EXPECT_EQ(endpoint.Next(),
            "01 01 00 00 c1 00 00 00 00 00 00 00 08 00 00 00 00 00 00 00");

  // A program in front that takes Back itself gets it before its holder.
  ASSERT_TRUE(UnregisterHotkey(self, 0x01020304, 2).ok());
  EXPECT_EQ(UnregisterHotkey(self, 0x01020304, 2).code(), ErrorCode::kNotFound);
  ASSERT_TRUE(RegisterHotkey(self, 7, 2, 0, 27).ok());
  ASSERT_TRUE(SetForegroundProcess(self, true).ok());
  EXPECT_EQ(PressKey(27, 0, false), self);
  EXPECT_EQ(endpoint.Next(),
            "00 01 00 00 1b 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");

  // Ending the program lets everything go.
  ASSERT_TRUE(UnregisterProcessHotkeys(self).ok());
  EXPECT_TRUE(ListHotkeys().empty());
  EXPECT_FALSE(GetForegroundProcess().has_value());
}

TEST(Hotkeys, PressesWithoutAListenerAreLost) {
  testing::TempDevice device;
  // Registered, but the process publishes no endpoint: the press is lost
  // and the caller goes on.
  ASSERT_TRUE(RegisterHotkey(getpid(), 1, 1, 0, 117).ok());
  EXPECT_EQ(PressKey(117, 0, false), 0);

  // A full endpoint loses what does not fit, and never blocks.
  RawEndpoint endpoint;
  ASSERT_TRUE(endpoint.ok());
  int posted = 0;
  for (int i = 0; i < 100000 && PressKey(117, 0, false) != 0; ++i) ++posted;
  EXPECT_GT(posted, 0);
  EXPECT_LT(posted, 100000);
  EXPECT_EQ(PressKey(117, 0, false), 0);
}

TEST(Hotkeys, TheRegistryFileIsReplacedWhenDamaged) {
  testing::TempDevice device;
  std::filesystem::path file = DeviceRunDir() / "hotkeys";
  testing::WriteHostFile(file, "THK1\x05garbage");
  EXPECT_TRUE(ListHotkeys().empty());
  ASSERT_TRUE(RegisterHotkey(1, 2, 3, kHotkeyShift, 0x1234).ok())
      << "pid 1 lives as long as the machine";
  std::string bytes = testing::ReadHostFile(file);
  const char expected[] =
      "THK1"
      "\0\0\0\0"  // no program in front
      "\0\0\0\0"
      "\1\0\0\0"  // one entry
      "\1\0\0\0\2\0\0\0\3\0\0\0\4\0\0\0\x34\x12\0\0";
  EXPECT_EQ(bytes, std::string(expected, sizeof expected - 1));

  // A program in front that has ended is forgotten.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(SetForegroundProcess(getpid(), false).ok() ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(GetForegroundProcess().has_value());
}

}  // namespace
}  // namespace platform
