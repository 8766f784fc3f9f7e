#include "device/deviced/protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/device.h"
#include "platform/local_socket.h"
#include "platform/unique_fd.h"

namespace device::deviced {

namespace fs = std::filesystem;
using platform::ErrorCode;
using platform::Status;

fs::path SocketPath() { return platform::DeviceRunDir() / "deviced.sock"; }
fs::path PidPath() { return platform::DeviceRunDir() / "deviced.pid"; }
fs::path LockPath() { return platform::DeviceRunDir() / "deviced.lock"; }

std::string EscapeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<std::string> UnescapeField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    if (c == '\t' || c == '\n' || c == '\r') return std::nullopt;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i == field.size()) return std::nullopt;
    switch (field[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

std::string JoinFields(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    line += EscapeField(fields[i]);
  }
  return line;
}

std::optional<std::vector<std::string>> SplitFields(std::string_view line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    std::string_view raw = line.substr(start, tab == std::string_view::npos
                                                  ? std::string_view::npos
                                                  : tab - start);
    std::optional<std::string> field = UnescapeField(raw);
    if (!field) return std::nullopt;
    fields.push_back(std::move(*field));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return fields;
}

std::optional<std::string> Exchange(const std::vector<std::string>& request,
                                    int timeout_ms, Status* status) {
  auto fail = [&](Status s) -> std::optional<std::string> {
    if (status != nullptr) *status = std::move(s);
    return std::nullopt;
  };
  platform::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return fail(Status::FromErrno("socket", "", errno));
  sockaddr_un address;
  int dir_fd;
  fs::path path = SocketPath();
  if (!platform::MakeLocalSocketAddress(path, &address, &dir_fd)) {
    return fail(Status(ErrorCode::kUnavailable,
                       "deviced socket unreachable: " + path.string()));
  }
  platform::UniqueFd dir(dir_fd);
  int rc =
      connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  int connect_errno = errno;
  dir.Reset();
  if (rc != 0) {
    return fail(Status(ErrorCode::kUnavailable,
                       "deviced is not running (" + path.string() + ": " +
                           std::strerror(connect_errno) + ")"));
  }
  std::string line = JoinFields(request) + "\n";
  size_t sent = 0;
  while (sent < line.size()) {
    ssize_t n =
        send(fd.get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int e = errno;
      return fail(Status::FromErrno("send to", path.string(), e));
    }
    sent += static_cast<size_t>(n);
  }
  std::string reply;
  for (;;) {
    size_t end = reply.find('\n');
    if (end != std::string::npos) {
      reply.resize(end);
      return reply;
    }
    pollfd p{fd.get(), POLLIN, 0};
    int ready = poll(&p, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      return fail(Status(ErrorCode::kTimeout, "deviced did not answer"));
    }
    char buffer[4096];
    ssize_t n = recv(fd.get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      return fail(Status(ErrorCode::kUnavailable,
                         "deviced closed the connection without a reply"));
    }
    reply.append(buffer, static_cast<size_t>(n));
    if (reply.size() > (1u << 20)) {
      return fail(Status(ErrorCode::kInvalidArgument, "reply too long"));
    }
  }
}

}  // namespace device::deviced
