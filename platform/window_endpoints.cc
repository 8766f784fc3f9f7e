#include "platform/window_endpoints.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/local_socket.h"
#include "platform/unicode.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMessageSize = 20;

std::string EndpointStem(std::u16string_view class_name,
                         std::u16string_view title) {
  uint64_t hash = 1469598103934665603ULL;
  auto mix = [&hash](std::u16string_view text) {
    for (char16_t c : text) {
      hash ^= static_cast<uint8_t>(c);
      hash *= 1099511628211ULL;
      hash ^= static_cast<uint8_t>(c >> 8);
      hash *= 1099511628211ULL;
    }
  };
  mix(class_name);
  hash ^= 0xFF;  // separates ("ab","c") from ("a","bc")
  hash *= 1099511628211ULL;
  mix(title);
  char hex[17];
  for (int i = 15; i >= 0; --i) {
    hex[i] = "0123456789abcdef"[hash & 0xF];
    hash >>= 4;
  }
  hex[16] = '\0';
  return std::string("win.") + hex + ".";
}

void PutLe(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

}  // namespace

std::unique_ptr<WindowEndpoint> WindowEndpoint::Publish(
    std::u16string_view class_name, std::u16string_view title, Status* status) {
  auto fail = [&](Status s) -> std::unique_ptr<WindowEndpoint> {
    if (status != nullptr) *status = std::move(s);
    return nullptr;
  };
  fs::path run = DeviceRunDir();
  std::error_code ec;
  fs::create_directories(run, ec);
  fs::path path =
      run / (EndpointStem(class_name, title) + std::to_string(getpid()));
  Status bound;
  UniqueFd fd = BindDatagramSocket(path, &bound);
  if (!fd) return fail(std::move(bound));
  return std::unique_ptr<WindowEndpoint>(
      new WindowEndpoint(std::move(fd), path));
}

WindowEndpoint::~WindowEndpoint() {
  fd_.Reset();
  unlink(path_.c_str());
}

std::optional<PostedMessage> WindowEndpoint::Receive() {
  uint8_t buffer[64];
  for (;;) {
    ssize_t n = recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (static_cast<size_t>(n) != kMessageSize) continue;  // not ours: drop
    PostedMessage message;
    message.message = static_cast<uint32_t>(GetLe(buffer, 4));
    message.first = GetLe(buffer + 4, 8);
    message.second = static_cast<int64_t>(GetLe(buffer + 12, 8));
    return message;
  }
}

std::optional<PostedMessage> WindowEndpoint::WaitMessage(int timeout_ms) {
  if (std::optional<PostedMessage> message = Receive()) return message;
  pollfd p{fd_.get(), POLLIN, 0};
  int rc;
  do {
    rc = poll(&p, 1, timeout_ms);
  } while (rc < 0 && errno == EINTR);
  if (rc <= 0) return std::nullopt;
  return Receive();
}

std::optional<WindowRef> FindTopLevelWindow(std::u16string_view class_name,
                                            std::u16string_view title) {
  std::string stem = EndpointStem(class_name, title);
  std::vector<WindowRef> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(DeviceRunDir(), ec)) {
    std::string name = entry.path().filename().string();
    if (name.compare(0, stem.size(), stem) != 0) continue;
    char* end = nullptr;
    long pid = std::strtol(name.c_str() + stem.size(), &end, 10);
    if (end == nullptr || *end != '\0' || pid <= 0) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      fs::remove(entry.path(), ec);  // its process is gone
      continue;
    }
    found.push_back(WindowRef{entry.path(), static_cast<pid_t>(pid)});
  }
  if (found.empty()) return std::nullopt;
  std::sort(
      found.begin(), found.end(),
      [](const WindowRef& a, const WindowRef& b) { return a.pid < b.pid; });
  return found.front();
}

Status PostWindowMessage(const WindowRef& window, uint32_t message,
                         uint64_t first, int64_t second) {
  UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return Status::FromErrno("socket", "", errno);
  sockaddr_un address;
  int dir_fd;
  if (!MakeLocalSocketAddress(window.endpoint, &address, &dir_fd)) {
    return Status(ErrorCode::kNotFound, "window endpoint unreachable");
  }
  UniqueFd dir(dir_fd);
  uint8_t buffer[kMessageSize];
  PutLe(buffer, message, 4);
  PutLe(buffer + 4, first, 8);
  PutLe(buffer + 12, static_cast<uint64_t>(second), 8);
  ssize_t n = sendto(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT,
                     reinterpret_cast<sockaddr*>(&address), sizeof address);
  int send_errno = errno;
  if (n == static_cast<ssize_t>(sizeof buffer)) return Status::Ok();
  if (send_errno == ECONNREFUSED || send_errno == ENOENT) {
    return Status(ErrorCode::kNotFound, "window is gone");
  }
  return Status::FromErrno("post to", window.endpoint.string(), send_errno);
}

}  // namespace platform
