// deviced: the simulated phone's messaging service daemon.
//
//   deviced            (started by `devicectl start`; no arguments)
//
// Serves the control protocol (docs/formats/deviced-protocol.md) on
// run/deviced.sock, one request at a time, until asked to stop or sent
// SIGTERM/SIGINT. While it runs it holds an exclusive lock on
// run/deviced.lock (a second deviced of the same device exits at once) and
// its pid is in run/deviced.pid; both the socket and the pid file are
// removed when it exits. Everything it has to say goes to debug.log.
//
// Nothing a rule client does can keep it from serving or from stopping:
// each ProcessMessage call has a budget (MessagingService), and a call
// still stuck when deviced stops is left behind, the process ending
// without running destructors under it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "device/deviced/messaging_service.h"
#include "device/deviced/protocol.h"
#include "platform/debug.h"
#include "platform/device.h"
#include "platform/local_socket.h"
#include "platform/processes.h"
#include "platform/unicode.h"
#include "platform/unique_fd.h"

namespace {

namespace fs = std::filesystem;
using device::deviced::DeliveryOutcome;
using device::deviced::MessagingService;
using platform::Status;

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

// Reads one request line (at most 1 MiB) within a few seconds.
std::optional<std::string> ReadLine(int fd) {
  std::string line;
  for (;;) {
    size_t end = line.find('\n');
    if (end != std::string::npos) {
      line.resize(end);
      return line;
    }
    if (line.size() > (1u << 20)) return std::nullopt;
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, 5000);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char buffer[4096];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    line.append(buffer, static_cast<size_t>(n));
  }
}

void WriteLine(int fd, const std::vector<std::string>& fields) {
  std::string line = device::deviced::JoinFields(fields) + "\n";
  size_t sent = 0;
  while (sent < line.size()) {
    ssize_t n = send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the client went away
    sent += static_cast<size_t>(n);
  }
}

std::optional<uint64_t> ParseNumber(const std::string& text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    uint64_t next = value * 10 + static_cast<uint64_t>(c - '0');
    if (next / 10 != value) return std::nullopt;
    value = next;
  }
  return value;
}

// Serves one request; false when deviced should stop.
bool Serve(int fd, std::unique_ptr<MessagingService>& service) {
  std::optional<std::string> line = ReadLine(fd);
  if (!line) return true;
  std::optional<std::vector<std::string>> request =
      device::deviced::SplitFields(*line);
  if (!request || request->empty()) {
    WriteLine(fd, {"error", "malformed request"});
    return true;
  }
  const std::string& verb = (*request)[0];
  if (verb == "ping" && request->size() == 1) {
    WriteLine(fd, {"ok", std::to_string(getpid())});
    return true;
  }
  if (verb == "boot" && request->size() == 1) {
    // The phone's boot: every StartUp shortcut runs once.
    int started = platform::RunStartupShortcuts();
    platform::DebugPrintf("deviced: boot started %d program(s)\n", started);
    WriteLine(fd, {"ok", std::to_string(started)});
    return true;
  }
  if (verb == "stop" && request->size() == 1) {
    WriteLine(fd, {"ok", std::to_string(getpid())});
    return false;
  }
  if (verb == "receive" && request->size() == 4) {
    if (service == nullptr) {
      Status open_status;
      service = MessagingService::Open(&open_status);
      if (service == nullptr) {
        WriteLine(fd, {"error", "no message store: " + open_status.ToString()});
        return true;
      }
    }
    const std::string& time_text = (*request)[2];
    platform::FileTime at;
    if (time_text.empty()) {
      at = platform::SystemTimeToFileTime(platform::CurrentSystemTime())
               .value_or(platform::FileTime{});
    } else if (std::optional<uint64_t> value = ParseNumber(time_text)) {
      at = platform::FileTime::FromValue(*value);
    } else {
      WriteLine(fd, {"error", "bad delivery time \"" + time_text + "\""});
      return true;
    }
    Status status;
    std::optional<DeliveryOutcome> outcome =
        service->Receive(platform::FromUtf8((*request)[1]),
                         platform::FromUtf8((*request)[3]), at, &status);
    if (!outcome) {
      platform::DebugPrintf("deviced: cannot store an SMS: %s\n",
                            status.ToString().c_str());
      WriteLine(fd, {"error", status.ToString()});
    } else if (outcome->deleted) {
      WriteLine(fd, {"deleted", Hex(outcome->entry_id),
                     platform::ToUtf8(outcome->deleted_by)});
    } else {
      WriteLine(fd, {"inbox", Hex(outcome->entry_id)});
    }
    return true;
  }
  WriteLine(fd, {"error", "unknown request \"" + verb + "\""});
  return true;
}

}  // namespace

int main() {
  // deviced's own folder is \Windows\, where the system libraries are.
  setenv("TELVANE_APP_FOLDER", "\\Windows\\", 0);
  if (!platform::DeviceExists()) {
    platform::DebugPrintf("deviced: no device at %s\n",
                          platform::DeviceRoot().c_str());
    return 1;
  }
  std::error_code ec;
  fs::create_directories(platform::DeviceRunDir(), ec);

  // The lock goes with the descriptor, closed once the service is gone.
  platform::UniqueFd lock(open(device::deviced::LockPath().c_str(),
                               O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!lock || flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    platform::DebugOutput("deviced: already running, this one exits");
    return 3;
  }

  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Status status;
  // A device without its message store (cemapi.dll not installed yet) still
  // boots; receiving tries to open the store again each time.
  std::unique_ptr<MessagingService> service = MessagingService::Open(&status);
  if (service == nullptr) {
    platform::DebugPrintf("deviced: no message store yet: %s\n",
                          status.ToString().c_str());
  }

  fs::path socket_path = device::deviced::SocketPath();
  platform::UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address;
  int dir_fd = -1;
  if (!listener ||
      !platform::MakeLocalSocketAddress(socket_path, &address, &dir_fd)) {
    platform::DebugPrintf("deviced: cannot make socket %s\n",
                          socket_path.c_str());
    return 1;
  }
  unlink(socket_path.c_str());  // a leftover: we hold the lock
  platform::UniqueFd dir(dir_fd);
  int rc = bind(listener.get(), reinterpret_cast<sockaddr*>(&address),
                sizeof address);
  int bind_errno = errno;
  dir.Reset();
  if (rc != 0 || listen(listener.get(), 16) != 0) {
    platform::DebugPrintf(
        "deviced: %s\n",
        Status::FromErrno("bind", socket_path.string(), bind_errno)
            .ToString()
            .c_str());
    return 1;
  }
  fs::path pid_path = device::deviced::PidPath();
  {
    fs::path temporary = pid_path;
    temporary += ".new";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file != nullptr) {
      std::fprintf(file, "%d\n", static_cast<int>(getpid()));
      std::fclose(file);
      fs::rename(temporary, pid_path, ec);
    }
  }
  platform::DebugPrintf("deviced: serving on %s (pid %d)\n",
                        socket_path.c_str(), static_cast<int>(getpid()));

  bool running = true;
  while (running && !g_stop) {
    pollfd p{listener.get(), POLLIN, 0};
    int ready = poll(&p, 1, 500);
    if (ready <= 0) continue;  // timeout or a signal: check g_stop
    platform::UniqueFd client(
        accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) continue;
    running = Serve(client.get(), service);
  }

  platform::DebugOutput("deviced: stopping");
  listener.Reset();
  unlink(socket_path.c_str());
  fs::remove(pid_path, ec);
  if (int stuck = service != nullptr ? service->OutstandingCalls() : 0) {
    // A thread is still inside a client: releasing the client, or the
    // libraries' static destructors at exit, would pull things from under
    // it. The kernel takes the rest (the lock goes with the process).
    platform::DebugPrintf(
        "deviced: %d rule client call(s) still running, left behind\n", stuck);
    _exit(0);
  }
  service.reset();
  lock.Reset();
  return 0;
}
