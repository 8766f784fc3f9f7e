#include "platform/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/codepage.h"
#include "platform/debug.h"
#include "platform/device.h"
#include "platform/files.h"
#include "platform/unicode.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace platform {
namespace {

// The environment of a device program: ours, with TELVANE_DEVICE naming
// this device and without TELVANE_APP_FOLDER (the program lies inside the
// device and finds its own folder).
std::vector<std::string> ProgramEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry = *e;
    if (entry.starts_with("TELVANE_DEVICE=") ||
        entry.starts_with("TELVANE_APP_FOLDER=")) {
      continue;
    }
    env.emplace_back(entry);
  }
  env.push_back("TELVANE_DEVICE=" + DeviceRoot().string());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::optional<pid_t> StartProgram(std::u16string_view device_path,
                                  const std::vector<std::u16string>& arguments,
                                  const StartOptions& options, Status* status) {
  auto fail = [&](Status s) -> std::optional<pid_t> {
    DebugOutput("start " + ToUtf8(device_path) + ": " + s.ToString());
    if (status != nullptr) *status = std::move(s);
    return std::nullopt;
  };
  Status resolve_status;
  std::optional<std::filesystem::path> host =
      files::Resolve(device_path, &resolve_status);
  if (!host) return fail(resolve_status);
  if (!files::Exists(device_path) || files::IsFolder(device_path)) {
    return fail(
        Status(ErrorCode::kNotFound, "no program " + ToUtf8(device_path)));
  }
  if (access(host->c_str(), X_OK) != 0) {
    return fail(Status::FromErrno("execute", ToUtf8(device_path), errno));
  }

  // Everything the child needs is built before fork: after it, only
  // async-signal-safe calls.
  std::string host_path = host->string();
  std::vector<std::string> argv_strings{ToUtf8(device_path)};
  for (const std::u16string& argument : arguments) {
    argv_strings.push_back(ToUtf8(argument));
  }
  std::vector<std::string> env_strings = ProgramEnvironment();
  std::vector<char*> argv = Pointers(argv_strings);
  std::vector<char*> envp = Pointers(env_strings);

  int report[2];  // the grandchild's pid, or the exec error, comes back here
  if (pipe2(report, O_CLOEXEC) != 0)
    return fail(Status::FromErrno("pipe", "", errno));
  UniqueFd report_read(report[0]);
  UniqueFd report_write(report[1]);
  pid_t child = fork();
  if (child < 0) return fail(Status::FromErrno("fork", "", errno));
  if (child == 0) {
    report_read.Reset();
    if (options.detached) {
      setsid();
      pid_t grandchild = fork();
      if (grandchild != 0) {
        int32_t value = grandchild > 0 ? grandchild : -errno;
        ssize_t ignored = write(report_write.get(), &value, sizeof value);
        (void)ignored;
        _exit(0);
      }
    }
    if (!options.inherit_output) {
      int null_fd = open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        dup2(null_fd, STDIN_FILENO);
        dup2(null_fd, STDOUT_FILENO);
        dup2(null_fd, STDERR_FILENO);
        if (null_fd > STDERR_FILENO) close(null_fd);
      }
    }
    signal(SIGPIPE, SIG_DFL);
    execve(host_path.c_str(), argv.data(), envp.data());
    int32_t value = -errno;
    ssize_t ignored = write(report_write.get(), &value, sizeof value);
    (void)ignored;
    _exit(127);
  }
  report_write.Reset();
  pid_t result = child;
  int32_t value = 0;
  ssize_t n;
  do {
    n = read(report_read.get(), &value, sizeof value);
  } while (n < 0 && errno == EINTR);
  if (options.detached) {
    int ignored;
    waitpid(child, &ignored, 0);
    if (n == sizeof value && value > 0) {
      result = value;
      // A second report means the grandchild's exec failed.
      int32_t exec_error = 0;
      ssize_t m;
      do {
        m = read(report_read.get(), &exec_error, sizeof exec_error);
      } while (m < 0 && errno == EINTR);
      if (m == sizeof exec_error && exec_error < 0) n = m, value = exec_error;
    }
  }
  report_read.Reset();
  if (n == sizeof value && value < 0) {
    if (!options.detached) {
      int ignored;
      waitpid(child, &ignored, 0);
    }
    return fail(Status::FromErrno("execute", ToUtf8(device_path), -value));
  }
  return result;
}

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= line.size()) break;
    std::u16string argument;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      char16_t c = line[i];
      if (c == u'\\' && i + 1 < line.size() && line[i + 1] == u'"') {
        argument += u'"';
        ++i;
      } else if (c == u'"') {
        quoted = !quoted;
      } else if (!quoted && (c == u' ' || c == u'\t')) {
        break;
      } else {
        argument += c;
      }
    }
    out.push_back(std::move(argument));
  }
  return out;
}

std::optional<pid_t> StartCommandLine(std::u16string_view command_line,
                                      const StartOptions& options,
                                      Status* status) {
  std::vector<std::u16string> parts = SplitCommandLine(command_line);
  if (parts.empty()) {
    if (status != nullptr)
      *status = Status(ErrorCode::kInvalidArgument, "empty command line");
    return std::nullopt;
  }
  std::u16string program = parts.front();
  parts.erase(parts.begin());
  return StartProgram(program, parts, options, status);
}

Status CreateShortcut(std::u16string_view shortcut_path,
                      std::u16string_view command_line) {
  std::string text =
      std::to_string(command_line.size()) + "#" + WideToMultiByte(command_line);
  Status status;
  std::unique_ptr<files::File> file =
      files::File::Open(shortcut_path, "wbc", &status);
  if (file == nullptr) return status;
  if (file->Write(text.data(), text.size()) != text.size()) {
    return Status(ErrorCode::kIoError, "write " + ToUtf8(shortcut_path));
  }
  status = file->Flush();
  if (!status.ok()) return status;
  return file->Close();
}

std::optional<std::u16string> ParseShortcut(std::string_view text) {
  size_t hash = text.find('#');
  if (hash == 0 || hash == std::string_view::npos || hash > 9)
    return std::nullopt;
  int count = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + hash, count);
  if (ec != std::errc() || end != text.data() + hash || count < 0)
    return std::nullopt;
  std::string_view rest = text.substr(hash + 1);
  size_t line_end = rest.find_first_of("\r\n");
  if (line_end != std::string_view::npos) rest = rest.substr(0, line_end);
  if (rest.empty()) return std::nullopt;
  // The count is advisory: the device's shell runs the line it finds.
  return MultiByteToWide(rest);
}

std::optional<std::u16string> ReadShortcut(std::u16string_view shortcut_path,
                                           Status* status) {
  std::unique_ptr<files::File> file =
      files::File::Open(shortcut_path, "rb", status);
  if (file == nullptr) return std::nullopt;
  char buffer[2048];
  size_t n = 0;
  if (Status read = file->Read(buffer, sizeof buffer, &n); !read.ok()) {
    if (status != nullptr) *status = std::move(read);
    return std::nullopt;
  }
  std::optional<std::u16string> line =
      ParseShortcut(std::string_view(buffer, n));
  if (!line && status != nullptr) {
    *status = Status(ErrorCode::kInvalidArgument,
                     "not a shortcut: " + ToUtf8(shortcut_path));
  }
  return line;
}

std::u16string StartupFolder() { return u"\\Windows\\StartUp"; }

int RunStartupShortcuts() {
  int started = 0;
  for (const files::FindData& entry :
       files::Find(StartupFolder() + u"\\*.lnk")) {
    if (entry.attributes & files::kAttributeDirectory) continue;
    std::u16string path = StartupFolder() + u"\\" + entry.name;
    Status status;
    std::optional<std::u16string> line = ReadShortcut(path, &status);
    if (!line) {
      DebugOutput("boot: " + status.ToString());
      continue;
    }
    if (StartCommandLine(*line, StartOptions{}, &status)) {
      ++started;
      DebugOutput(u"boot: started " + *line);
    }
  }
  return started;
}

}  // namespace platform
