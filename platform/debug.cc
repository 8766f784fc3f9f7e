#include "platform/debug.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/device.h"
#include "platform/unicode.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

std::string ProgramName() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "?";
  path[n] = '\0';
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace

void DebugOutput(std::string_view text) {
  if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") {
    text.remove_suffix(2);
  } else if (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  std::string body;
  body.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n') {
      body += "\\n";  // one call, one log line
    } else {
      body += text[i];
    }
  }

  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03ld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec,
                now.tv_nsec / 1000000);
  static const std::string program = ProgramName();
  std::string line = std::string(stamp) + " [" + std::to_string(getpid()) +
                     " " + program + "] " + body + "\n";

  const char* echo = std::getenv("TELVANE_DEBUG");
  if (echo != nullptr && std::strcmp(echo, "1") == 0) {
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
  }
  UniqueFd debug_log(open(DeviceDebugLogPath().c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!debug_log) return;
  // One write with O_APPEND: lines of concurrent processes stay whole.
  ssize_t written = write(debug_log.get(), line.data(), line.size());
  (void)written;
}

void DebugOutput(std::u16string_view text) { DebugOutput(ToUtf8(text)); }

void DebugPrintf(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buffer) {
    DebugOutput(std::string_view(buffer, static_cast<size_t>(n)));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  big.pop_back();
  DebugOutput(std::string_view(big));
}

}  // namespace platform
