// Window endpoints: how one program finds another's top-level window and
// posts it a message (the single-instance wake-up, a second start posting
// its first instance's main window).
//
// A program publishes a window by class and title; the endpoint is a UNIX
// datagram socket in the device's run/ folder named
// "win.<16 hex digits of a hash of class and title>.<pid>". Another program
// finds it by the same class and title and posts it a message: one
// datagram of 20 bytes (message, first parameter, second parameter; see
// docs/formats/window-messages.md). Posting never blocks; messages wait in
// the socket until the owner reads them. An endpoint whose process is gone
// is removed when it is found.
#ifndef TELVANE_PLATFORM_WINDOW_ENDPOINTS_H_
#define TELVANE_PLATFORM_WINDOW_ENDPOINTS_H_

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace platform {

struct PostedMessage {
  uint32_t message = 0;
  uint64_t first = 0;  // the first (word) parameter
  int64_t second = 0;  // the second (long) parameter
};

// A published window of this process. Not thread-safe; owned by the thread
// that runs the window.
class WindowEndpoint {
 public:
  static std::unique_ptr<WindowEndpoint> Publish(std::u16string_view class_name,
                                                 std::u16string_view title,
                                                 Status* status = nullptr);
  ~WindowEndpoint();  // unpublishes
  WindowEndpoint(const WindowEndpoint&) = delete;
  WindowEndpoint& operator=(const WindowEndpoint&) = delete;

  // Readable when a message waits (for poll or a socket notifier).
  int fd() const { return fd_.get(); }
  // The next waiting message, without blocking; nullopt when none.
  std::optional<PostedMessage> Receive();
  // Waits up to `timeout_ms` for the next message.
  std::optional<PostedMessage> WaitMessage(int timeout_ms);

 private:
  WindowEndpoint(UniqueFd fd, std::filesystem::path path)
      : fd_(std::move(fd)), path_(std::move(path)) {}
  UniqueFd fd_;
  std::filesystem::path path_;
};

// A window of another (or this) process, found by class and title.
struct WindowRef {
  std::filesystem::path endpoint;
  pid_t pid = 0;
};

// The first live window with this class and title; nullopt when none.
std::optional<WindowRef> FindTopLevelWindow(std::u16string_view class_name,
                                            std::u16string_view title);

// Posts a message; kNotFound when the window is gone.
Status PostWindowMessage(const WindowRef& window, uint32_t message,
                         uint64_t first, int64_t second);

}  // namespace platform

#endif  // TELVANE_PLATFORM_WINDOW_ENDPOINTS_H_
