// devicectl: the simulated phone's command-line tool.
//
//   devicectl [--device DIR] COMMAND ...
//
// The device is DIR, else $TELVANE_DEVICE, else ~/.local/share/telvane/device.
// Every command prints what it did; every failure prints one line on stderr
// starting with "devicectl: " and exits with a non-zero code (2 for a usage
// error, 1 for anything else). `devicectl --help` lists the commands,
// `devicectl COMMAND --help` tells one.
#include "device/devicectl/devicectl.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "cli/times.h"
#include "device/cemapi/message_store.h"
#include "device/deviced/protocol.h"
#include "platform/codepage.h"
#include "platform/device.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/time.h"
#include "platform/unicode.h"
#include "platform/window_endpoints.h"

namespace {

namespace fs = std::filesystem;
using cli::Fail;
using cli::kFailure;
using cli::U16;
using cli::U8;
using cli::UsageError;
using device::devicectl::FormatUtcTime;
using device::devicectl::OneLine;
using device::devicectl::RequireDevice;
using platform::ErrorCode;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryType;
using platform::RegistryValue;
using platform::Status;

// Stops a running deviced (defined with the daemon commands below).
Status StopDeviced(std::optional<pid_t>* pid_out);

// ---------------------------------------------------------------- init

int Init(const std::string& folder) {
  if (!folder.empty()) setenv("TELVANE_DEVICE", folder.c_str(), 1);
  bool existed = platform::DeviceExists();
  Status status = platform::InitialiseDevice();
  if (!status.ok()) return Fail("init: " + status.ToString());
  std::cout << (existed ? "device already initialised at "
                        : "initialised device at ")
            << platform::DeviceRoot().string() << "\n";
  return 0;
}

// ---------------------------------------------------------------- install

struct InstallEntry {
  const char* build_file;   // relative to the build folder
  const char* device_path;  // where it goes
  bool needs_phone;         // installed only on a device with a phone
};

// Every file a build can produce that belongs on the device. Files a build
// does not have (yet) are skipped.
constexpr InstallEntry kInstallTable[] = {
    {"bin/pelicorde", "\\Program Files\\Telvane\\pelicorde.exe", false},
    {"bin/loader", "\\Program Files\\Telvane\\loader.exe", false},
    {"lib/libinrelay.so", "\\Program Files\\Telvane\\inrelay.dll", false},
    {"lib/libpelicordep.so", "\\Program Files\\Telvane\\pelicordep.dll", false},
    {"lib/libcemapi.so", "\\Windows\\cemapi.dll", false},
    {"lib/libsms.so", "\\Windows\\sms.dll", false},
    {"lib/libcellcore.so", "\\Windows\\cellcore.dll", false},
    {"lib/libpimstore.so", "\\Windows\\pimstore.dll", false},
    {"lib/libwaveapi.so", "\\Windows\\waveapi.dll", false},
    {"lib/libphone.so", "\\Windows\\phone.dll", true},
    {"bin/todayshell", "\\Windows\\todayshell.exe", false},
};

Status InstallFile(const fs::path& from, const std::u16string& device_path) {
  Status status;
  std::optional<fs::path> to = platform::files::Resolve(device_path, &status);
  if (!to) return status;
  std::error_code ec;
  fs::create_directories(to->parent_path(), ec);
  // Through a temporary name, so a running program keeps its old file.
  fs::path temporary =
      to->parent_path() / ("." + to->filename().string() + ".new");
  fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
  if (ec)
    return Status(ErrorCode::kIoError,
                  "copy " + from.string() + ": " + ec.message());
  fs::permissions(temporary, fs::status(from).permissions(), ec);
  fs::rename(temporary, *to, ec);
  if (ec) {
    fs::remove(temporary, ec);
    return Status(ErrorCode::kIoError,
                  "install " + to->string() + ": " + ec.message());
  }
  return Status::Ok();
}

Status InstallTree(const fs::path& from, const std::u16string& device_folder,
                   int* count) {
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(from, ec)) {
    if (!entry.is_regular_file()) continue;
    std::u16string relative = U16(fs::relative(entry.path(), from).string());
    for (char16_t& c : relative) {
      if (c == u'/') c = u'\\';
    }
    Status status = InstallFile(entry.path(), device_folder + relative);
    if (!status.ok()) return status;
    ++*count;
  }
  return Status::Ok();
}

int Install(const fs::path& build) {
  if (!RequireDevice()) return kFailure;
  if (!fs::is_directory(build))
    return Fail("install: no build folder " + build.string());
  bool phone = platform::GetDeviceSettingInt("phone", 1) != 0;
  int installed = 0;
  for (const InstallEntry& entry : kInstallTable) {
    fs::path from = build / entry.build_file;
    std::u16string to = U16(entry.device_path);
    if (entry.needs_phone && !phone) {
      // A device without a phone has no phone.dll at all.
      if (platform::files::Exists(to)) {
        platform::files::Delete(to).IgnoreError();
        std::cout << "removed " << entry.device_path
                  << " (the device has no phone)\n";
      }
      continue;
    }
    if (!fs::is_regular_file(from)) continue;
    Status status = InstallFile(from, to);
    if (!status.ok()) return Fail("install: " + status.ToString());
    std::cout << "installed " << entry.device_path << "\n";
    ++installed;
  }
  // Data that ships beside the program (skins, sounds), when built.
  for (const char* folder : {"skins", "sounds"}) {
    fs::path from = build / "share" / folder;
    if (!fs::is_directory(from)) continue;
    int count = 0;
    Status status = InstallTree(
        from, u"\\Program Files\\Telvane\\" + U16(folder) + u"\\", &count);
    if (!status.ok()) return Fail("install: " + status.ToString());
    std::cout << "installed " << count
              << " file(s) into \\Program Files\\Telvane\\" << folder << "\\\n";
    installed += count;
  }
  if (installed == 0)
    std::cout << "nothing to install from " << build.string() << "\n";
  Status registered = device::devicectl::RegisterInstalledServers();
  if (!registered.ok()) return Fail("install: " + registered.ToString());
  return 0;
}

// ---------------------------------------------------------------- config

int ConfigList() {
  if (!RequireDevice()) return kFailure;
  for (const platform::DeviceSettingInfo& info :
       platform::KnownDeviceSettings()) {
    std::string value = platform::GetDeviceSetting(info.key).value_or("");
    std::printf("%-14s %-10s %s%s\n", info.key, value.c_str(), info.description,
                value == info.default_value ? "" : " (changed)");
  }
  return 0;
}

int ConfigGet(const std::string& key) {
  if (!RequireDevice()) return kFailure;
  std::optional<std::string> value = platform::GetDeviceSetting(key);
  if (!value) return Fail("unknown device setting \"" + key + "\"");
  std::cout << *value << "\n";
  return 0;
}

int ConfigSet(const std::string& key, const std::string& value) {
  if (!RequireDevice()) return kFailure;
  Status status = platform::SetDeviceSetting(key, value);
  if (!status.ok()) return Fail(status.ToString());
  std::cout << key << " = " << value << "\n";
  return 0;
}

// ---------------------------------------------------------------- registry

std::string Hex(std::string_view bytes, const char* separator) {
  std::string out;
  char buffer[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += separator;
    std::snprintf(buffer, sizeof buffer, "%02x",
                  static_cast<unsigned char>(bytes[i]));
    out += buffer;
  }
  return out;
}

std::optional<std::string> ParseHex(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits += c;
  }
  if (digits.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < digits.size(); i += 2) {
    out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::u16string StringData(const RegistryValue& value) {
  std::u16string text;
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    char16_t c = static_cast<unsigned char>(value.data[i]) |
                 (static_cast<unsigned char>(value.data[i + 1]) << 8);
    if (c == 0) break;
    text += c;
  }
  return text;
}

std::string QuoteRegString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// One value in .reg form: "Name"=dword:00000001
std::string FormatValue(const RegistryValue& value) {
  std::string name = value.name.empty() ? "@" : QuoteRegString(U8(value.name));
  uint32_t dword = 0;
  switch (value.type) {
    case RegistryType::kDword:
      if (value.data.size() == 4) {
        for (int i = 3; i >= 0; --i)
          dword = (dword << 8) | static_cast<unsigned char>(value.data[i]);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "dword:%08x", dword);
        return name + "=" + buffer;
      }
      break;
    case RegistryType::kSz:
      if (value.data.size() % 2 == 0) {
        return name + "=" + QuoteRegString(U8(StringData(value)));
      }
      break;
    case RegistryType::kBinary:
      return name + "=hex:" + Hex(value.data, ",");
    default:
      break;
  }
  return name + "=hex(" + std::to_string(static_cast<uint32_t>(value.type)) +
         "):" + Hex(value.data, ",");
}

std::optional<RegistryRoot> RootArg(const std::string& text, int* error) {
  std::optional<RegistryRoot> root = platform::ParseRegistryRoot(text);
  if (!root)
    *error = UsageError("unknown registry root \"" + text +
                        "\" (HKCR, HKLM or HKCU)");
  return root;
}

std::u16string ValueNameArg(const std::string& text) {
  return text == "@" ? std::u16string() : U16(text);
}

void Dump(const RegistryKey& key) {
  std::u16string path = key.path();
  std::cout << "[" << platform::RegistryRootName(key.root())
            << (path.empty() ? "" : "\\") << U8(path) << "]\n";
  for (const RegistryValue& value : key.Values())
    std::cout << FormatValue(value) << "\n";
  std::cout << "\n";
  for (const std::u16string& sub : key.Subkeys()) {
    std::u16string child = path.empty() ? sub : path + u"\\" + sub;
    if (std::optional<RegistryKey> subkey =
            RegistryKey::Open(key.root(), child)) {
      Dump(*subkey);
    }
  }
}

// What the registry commands are given.
struct RegistryArgs {
  std::string root;
  std::string key;
  std::optional<std::string> name;  // "" or "@": the default value
  std::optional<std::string> dword;
  std::optional<std::string> sz;
  std::optional<std::string> binary;
};

int RegistryGet(const RegistryArgs& args) {
  if (!RequireDevice()) return kFailure;
  int error = 0;
  std::optional<RegistryRoot> root = RootArg(args.root, &error);
  if (!root) return error;
  std::u16string name = args.name ? ValueNameArg(*args.name) : u"";
  Status status;
  std::optional<RegistryKey> key =
      RegistryKey::Open(*root, U16(args.key), &status);
  if (!key) return Fail("registry get: " + status.ToString());
  RegistryValue value;
  size_t needed = 0;
  status = key->Query(name, 1 << 20, &value, &needed);
  if (!status.ok()) return Fail("registry get: " + status.ToString());
  std::cout << FormatValue(value) << "\n";
  return 0;
}

int RegistrySet(const RegistryArgs& args) {
  if (!args.dword && !args.sz && !args.binary) {
    return UsageError(
        "registry set needs one of --dword N, --sz TEXT and --binary HEX");
  }
  if (!RequireDevice()) return kFailure;
  int error = 0;
  std::optional<RegistryRoot> root = RootArg(args.root, &error);
  if (!root) return error;
  // The value first: a bad one changes nothing.
  uint32_t dword = 0;
  std::optional<std::string> bytes;
  if (args.dword) {
    const std::string& data = *args.dword;
    char* end = nullptr;
    errno = 0;
    unsigned long long n = std::strtoull(data.c_str(), &end, 0);
    if (data.empty() || *end != '\0' || errno != 0 || n > 0xFFFFFFFFull ||
        data[0] == '-') {
      return UsageError("--dword needs a number from 0 to 4294967295");
    }
    dword = static_cast<uint32_t>(n);
  } else if (args.binary) {
    bytes = ParseHex(*args.binary);
    if (!bytes) return UsageError("--binary needs hex bytes, e.g. 01,ff,20");
  }
  std::u16string name = ValueNameArg(args.name.value_or(""));
  Status status;
  std::optional<RegistryKey> key =
      RegistryKey::Create(*root, U16(args.key), nullptr, &status);
  if (!key) return Fail("registry set: " + status.ToString());
  if (args.dword) {
    status = key->SetDword(name, dword);
  } else if (args.sz) {
    status = key->SetString(name, U16(*args.sz));
  } else {
    status = key->SetBinary(name, *bytes);
  }
  if (!status.ok()) return Fail("registry set: " + status.ToString());
  RegistryValue value;
  if (key->Query(name, 1 << 20, &value).ok())
    std::cout << FormatValue(value) << "\n";
  return 0;
}

int RegistryDelete(const RegistryArgs& args) {
  if (!RequireDevice()) return kFailure;
  int error = 0;
  std::optional<RegistryRoot> root = RootArg(args.root, &error);
  if (!root) return error;
  std::u16string path = U16(args.key);
  Status status;
  if (args.name) {
    std::optional<RegistryKey> key = RegistryKey::Open(*root, path, &status);
    if (!key) return Fail("registry delete: " + status.ToString());
    status = key->DeleteValue(ValueNameArg(*args.name));
  } else {
    status = platform::DeleteRegistryKey(*root, path);
  }
  if (!status.ok()) return Fail("registry delete: " + status.ToString());
  std::cout << "deleted\n";
  return 0;
}

int RegistryDump(const std::optional<std::string>& root_name,
                 const std::string& key_path) {
  if (!RequireDevice()) return kFailure;
  std::vector<RegistryRoot> roots = {RegistryRoot::kClassesRoot,
                                     RegistryRoot::kLocalMachine,
                                     RegistryRoot::kCurrentUser};
  if (root_name) {
    int error = 0;
    std::optional<RegistryRoot> root = RootArg(*root_name, &error);
    if (!root) return error;
    roots = {*root};
  }
  for (RegistryRoot root : roots) {
    Status status;
    std::optional<RegistryKey> key =
        RegistryKey::Open(root, U16(key_path), &status);
    if (!key) return Fail("registry dump: " + status.ToString());
    Dump(*key);
  }
  return 0;
}

// ---------------------------------------------------------------- status

std::vector<std::string> NamedObjects() {
  std::vector<std::string> names;
  std::string prefix = "telvane." + platform::DeviceId() + ".";
  if (DIR* dir = opendir("/dev/shm")) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.compare(0, prefix.size(), prefix) == 0) {
        names.push_back(name.substr(prefix.size()));
      }
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void ListFolder(const std::u16string& folder) {
  std::vector<platform::files::FindData> entries =
      platform::files::Find(folder + u"*.*");
  std::cout << "  " << U8(folder) << (entries.empty() ? "  (empty)" : "")
            << "\n";
  for (const platform::files::FindData& entry : entries) {
    bool is_folder = entry.attributes & platform::files::kAttributeDirectory;
    if (is_folder) {
      std::printf("    %-28s <folder>\n", (U8(entry.name) + "\\").c_str());
    } else {
      std::printf("    %-28s %llu bytes\n", U8(entry.name).c_str(),
                  static_cast<unsigned long long>(entry.size));
    }
  }
}

int StatusCommand() {
  std::cout << "device: " << platform::DeviceRoot().string() << "\n";
  if (!platform::DeviceExists()) {
    std::cout << "state: not initialised (make it with: devicectl init)\n";
    return kFailure;
  }
  std::cout << "id: " << platform::DeviceId() << "\n";
  std::cout << "settings:\n";
  for (const platform::DeviceSettingInfo& info :
       platform::KnownDeviceSettings()) {
    std::string value = platform::GetDeviceSetting(info.key).value_or("");
    std::printf("  %-14s %s%s\n", info.key, value.c_str(),
                value == info.default_value ? "" : " (changed)");
  }
  std::cout << "files:\n";
  ListFolder(u"\\Program Files\\Telvane\\");
  ListFolder(u"\\Windows\\");
  ListFolder(platform::StartupFolder() + u"\\");
  std::vector<std::string> objects = NamedObjects();
  std::cout << "named objects: " << (objects.empty() ? "none" : "") << "\n";
  for (const std::string& name : objects) std::cout << "  " << name << "\n";
  int windows = 0;
  std::error_code ec;
  for (const auto& entry :
       fs::directory_iterator(platform::DeviceRunDir(), ec)) {
    if (entry.path().filename().string().rfind("win.", 0) == 0) ++windows;
  }
  std::cout << "published windows: " << windows << "\n";
  std::error_code size_ec;
  uintmax_t log_size = fs::file_size(platform::DeviceDebugLogPath(), size_ec);
  std::cout << "debug.log: " << (size_ec ? 0 : log_size) << " bytes\n";
  return 0;
}

// ---------------------------------------------------------------- power

void StopTodayScreen();

int Shutdown() {
  if (!RequireDevice()) return kFailure;
  std::optional<pid_t> pid;
  Status status = StopDeviced(&pid);
  if (!status.ok()) return Fail("shutdown: " + status.ToString());
  StopTodayScreen();
  size_t objects = NamedObjects().size();
  status = platform::ShutdownDevice();
  if (!status.ok()) return Fail("shutdown: " + status.ToString());
  std::cout << "device shut down (" << objects << " named object(s) cleared)\n";
  return 0;
}

int Log() {
  if (!RequireDevice()) return kFailure;
  std::ifstream log(platform::DeviceDebugLogPath(), std::ios::binary);
  if (!log) return 0;  // nothing logged yet
  std::cout << log.rdbuf();
  return 0;
}

// ---------------------------------------------------------------- store

int ListPhoneFolder(device::cemapi::FolderRole role, const char* title) {
  if (!RequireDevice()) return kFailure;
  Status status;
  std::optional<std::vector<device::cemapi::PhoneMessage>> messages =
      device::cemapi::ListSmsFolder(role, &status);
  if (!messages) return Fail(status.ToString());
  std::cout << title << ": " << messages->size() << " message(s)\n";
  for (const device::cemapi::PhoneMessage& m : *messages) {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%08x", m.flags);
    std::cout << Hex(m.entry_id(), "") << "  " << FormatUtcTime(m.delivery_time)
              << "  " << U8(m.address) << "  " << flags << "  "
              << OneLine(m.text) << "\n";
  }
  return 0;
}

// What `store add-sent`, `store add-inbox` and `receive` are given.
struct MessageArgs {
  std::string address;                     // --to or --from
  std::optional<platform::SystemTime> at;  // UTC
  std::string text;
};

// The file time of --at, else now.
platform::FileTime TimeOf(const MessageArgs& args) {
  return platform::SystemTimeToFileTime(args.at ? *args.at
                                                : platform::CurrentSystemTime())
      .value_or(platform::FileTime{});
}

int StoreDelete(const std::string& entry_id) {
  std::optional<std::string> id = ParseHex(entry_id);
  if (!id) return UsageError("store delete: ENTRY_ID must be hex");
  if (!RequireDevice()) return kFailure;
  Status status = device::cemapi::DeleteMessage(*id);
  if (!status.ok()) return Fail("store delete: " + status.ToString());
  std::cout << "deleted " << Hex(*id, "") << "\n";
  return 0;
}

// store add-sent (`sent`) or store add-inbox.
int StoreAdd(bool sent, const MessageArgs& args) {
  const std::string verb = sent ? "add-sent" : "add-inbox";
  if (args.address.empty()) {
    return UsageError("store " + verb + " needs " + (sent ? "--to" : "--from") +
                      " NUMBER");
  }
  if (!RequireDevice()) return kFailure;
  Status status;
  std::optional<std::string> id =
      sent ? device::cemapi::AddSentSms(U16(args.address), U16(args.text),
                                        TimeOf(args), &status)
           : device::cemapi::DeliverIncomingSms(
                 U16(args.address), U16(args.text), TimeOf(args), &status);
  if (!id) return Fail("store " + verb + ": " + status.ToString());
  std::cout << "added " << Hex(*id, "") << " to "
            << (sent ? "Sent Items" : "Inbox") << "\n";
  return 0;
}

// ---------------------------------------------------------------- deviced

// Asks the running deviced for its pid; nullopt when none answers.
std::optional<pid_t> PingDeviced() {
  std::optional<std::string> reply = device::deviced::Exchange({"ping"}, 5000);
  if (!reply) return std::nullopt;
  std::optional<std::vector<std::string>> fields =
      device::deviced::SplitFields(*reply);
  if (!fields || fields->size() != 2 || (*fields)[0] != "ok")
    return std::nullopt;
  return static_cast<pid_t>(std::atoi((*fields)[1].c_str()));
}

std::optional<pid_t> ReadPidFile() {
  std::ifstream file(device::deviced::PidPath());
  long pid = 0;
  if (!(file >> pid) || pid <= 0) return std::nullopt;
  return static_cast<pid_t>(pid);
}

// A process that exited but was not reaped yet (state Z) counts as gone.
bool Alive(pid_t pid) {
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  size_t paren = line.rfind(')');
  return paren == std::string::npos || paren + 2 >= line.size() ||
         line[paren + 2] != 'Z';
}

// Starts deviced (the binary next to this one) detached from us: a
// grandchild in its own session, so nobody has to reap it.
Status SpawnDeviced() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return Status(ErrorCode::kUnavailable, "cannot find devicectl");
  fs::path binary = self.parent_path() / "deviced";
  if (access(binary.c_str(), X_OK) != 0) {
    return Status(ErrorCode::kUnavailable,
                  "no deviced next to devicectl (" + binary.string() + ")");
  }
  std::string device_root = platform::DeviceRoot().string();
  pid_t child = fork();
  if (child < 0) return Status::FromErrno("fork", "", errno);
  if (child == 0) {
    setsid();
    if (fork() != 0) _exit(0);
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
      if (null_fd > 2) close(null_fd);
    }
    setenv("TELVANE_DEVICE", device_root.c_str(), 1);
    setenv("TELVANE_APP_FOLDER", "\\Windows\\", 1);
    execl(binary.c_str(), "deviced", static_cast<char*>(nullptr));
    _exit(127);
  }
  int child_status = 0;
  while (waitpid(child, &child_status, 0) < 0 && errno == EINTR) {
  }
  return Status::Ok();
}

// Makes sure deviced runs; *started tells whether this call started it.
std::optional<pid_t> EnsureDeviced(bool* started, Status* status) {
  *started = false;
  if (std::optional<pid_t> pid = PingDeviced()) return pid;
  *status = SpawnDeviced();
  if (!status->ok()) return std::nullopt;
  *started = true;
  for (int i = 0; i < 200; ++i) {  // up to 20 s (sanitizer builds are slow)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (std::optional<pid_t> pid = PingDeviced()) return pid;
  }
  *status = Status(ErrorCode::kTimeout,
                   "deviced did not come up (see devicectl log)");
  return std::nullopt;
}

int Start() {
  if (!RequireDevice()) return kFailure;
  bool started = false;
  Status status;
  std::optional<pid_t> pid = EnsureDeviced(&started, &status);
  if (!pid) return Fail("start: " + status.ToString());
  std::cout << (started ? "deviced started (pid "
                        : "deviced already running (pid ")
            << *pid << ")\n";
  return 0;
}

// Stops deviced when it runs; *pid_out is the pid it had (nullopt when none
// ran). Fails when it would not exit.
Status StopDeviced(std::optional<pid_t>* pid_out) {
  std::optional<pid_t> pid = PingDeviced();
  if (pid) {
    device::deviced::Exchange({"stop"}, 5000).reset();
  } else {
    // Not answering: a stuck or half-started one still gets its signal.
    pid = ReadPidFile();
    if (pid && Alive(*pid)) {
      kill(*pid, SIGTERM);
    } else {
      pid.reset();
    }
  }
  *pid_out = pid;
  if (pid) {
    for (int i = 0; i < 100 && Alive(*pid); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (Alive(*pid)) {
      return Status(ErrorCode::kTimeout,
                    "deviced (pid " + std::to_string(*pid) + ") did not exit");
    }
  }
  std::error_code ec;
  fs::remove(device::deviced::PidPath(), ec);
  fs::remove(device::deviced::SocketPath(), ec);
  return Status::Ok();
}

int Stop() {
  std::optional<pid_t> pid;
  Status status = StopDeviced(&pid);
  if (!status.ok()) return Fail("stop: " + status.ToString());
  if (pid) {
    std::cout << "deviced stopped (pid " << *pid << ")\n";
  } else {
    std::cout << "deviced was not running\n";
  }
  return 0;
}

// The device's Today screen (device/todayshell).
constexpr std::u16string_view kTodayScreen = u"\\Windows\\todayshell.exe";

// Ends the Today screen when it runs: it holds named objects that a boot
// or a shutdown clears.
void StopTodayScreen() {
  std::optional<platform::WindowRef> screen =
      platform::FindTopLevelWindow(u"DesktopExplorerWindow", u"Desktop");
  if (!screen || screen->pid <= 0) return;
  kill(screen->pid, SIGTERM);
  for (int i = 0; i < 50 && Alive(screen->pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// Power on: whatever ran is stopped, every named object cleared, deviced
// started, the Today screen started (when installed), and deviced runs the
// StartUp shortcuts once, as the phone does.
int Boot() {
  if (!RequireDevice()) return kFailure;
  std::optional<pid_t> old_pid;
  Status status = StopDeviced(&old_pid);
  StopTodayScreen();
  if (status.ok()) status = platform::ShutdownDevice();
  if (!status.ok()) return Fail("boot: " + status.ToString());
  bool started = false;
  std::optional<pid_t> pid = EnsureDeviced(&started, &status);
  if (!pid) return Fail("boot: " + status.ToString());
  // The home screen comes up before the start-up programs.
  if (platform::files::Exists(kTodayScreen)) {
    Status shell_status;
    if (platform::StartProgram(kTodayScreen, {}, {}, &shell_status)) {
      std::cout << "Today screen started\n";
    } else {
      std::cerr << "devicectl: boot: the Today screen did not start: "
                << shell_status.ToString() << "\n";
    }
  }
  std::optional<std::string> reply =
      device::deviced::Exchange({"boot"}, 60000, &status);
  std::optional<std::vector<std::string>> fields;
  if (reply) fields = device::deviced::SplitFields(*reply);
  if (!fields || fields->size() != 2 || (*fields)[0] != "ok") {
    return Fail("boot: deviced did not run the start-up programs" +
                (reply ? " (" + *reply + ")" : " (" + status.ToString() + ")"));
  }
  std::cout << "device booted (deviced pid " << *pid << ", " << (*fields)[1]
            << " start-up program(s) started)\n";
  return 0;
}

int Receive(const MessageArgs& args) {
  if (args.address.empty()) return UsageError("receive needs --from NUMBER");
  if (!RequireDevice()) return kFailure;
  bool started = false;
  Status status;
  if (!EnsureDeviced(&started, &status))
    return Fail("receive: " + status.ToString());
  if (started) std::cerr << "devicectl: deviced was not running; started it\n";
  std::optional<std::string> reply = device::deviced::Exchange(
      {"receive", args.address,
       args.at ? std::to_string(TimeOf(args).value()) : "", args.text},
      60000, &status);
  if (!reply) return Fail("receive: " + status.ToString());
  std::optional<std::vector<std::string>> fields =
      device::deviced::SplitFields(*reply);
  if (!fields || fields->empty()) return Fail("receive: malformed reply");
  const std::vector<std::string>& f = *fields;
  if (f[0] == "inbox" && f.size() == 2) {
    std::cout << "left in the Inbox (entry id " << f[1] << ")\n";
    return 0;
  }
  if (f[0] == "deleted" && f.size() == 3) {
    std::cout << "deleted by a rule client (" << f[2] << ")\n";
    return 0;
  }
  return Fail("receive: " + (f.size() > 1 ? f[1] : f[0]));
}

// What `post` is given: the window, then the message and its two numbers.
struct PostArgs {
  std::string window_class;
  std::string title;
  std::string message;
  std::string first = "0";
  std::string second = "0";
};

int Post(const PostArgs& args) {
  uint64_t numbers[3] = {0, 0, 0};
  const std::string* texts[3] = {&args.message, &args.first, &args.second};
  for (size_t i = 0; i < 3; ++i) {
    const std::string& text = *texts[i];
    char* end = nullptr;
    errno = 0;
    numbers[i] = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') {
      return UsageError("not a number: " + text);
    }
  }
  if (!RequireDevice()) return kFailure;
  std::optional<platform::WindowRef> window =
      platform::FindTopLevelWindow(U16(args.window_class), U16(args.title));
  if (!window) {
    return Fail("no window \"" + args.title + "\" of class " +
                args.window_class);
  }
  Status status =
      platform::PostWindowMessage(*window, static_cast<uint32_t>(numbers[0]),
                                  numbers[1], static_cast<int64_t>(numbers[2]));
  if (!status.ok()) return Fail(status.ToString());
  return 0;
}

// ---------------------------------------------------------------- commands

// Adds --to or --from, --at and TEXT, the options of a message.
void AddMessageOptions(CLI::App* command, const char* address,
                       const std::string& address_help, MessageArgs* args) {
  command->add_option(address, args->address, address_help)
      ->type_name("NUMBER")
      ->required();
  cli::AddTimeOption(command, "--at", &args->at, cli::Zone::kUtc,
                     "the time it was sent (default now)");
  command->add_option("TEXT", args->text, "the text (quote it)")->required();
}

void AddDeviceCommands(cli::Tool& tool) {
  CLI::App* root = tool.root();
  auto folder = std::make_shared<std::string>();
  tool.AddCommand(root, "init", "make a device (DIR, else the current device)",
                  [folder] { return Init(*folder); })
      ->add_option("DIR", *folder, "the device's folder");

  auto build = std::make_shared<std::string>();
  tool.AddCommand(root, "install",
                  "copy the built programs and libraries into the device",
                  [build] { return Install(*build); })
      ->add_option("BUILD_DIR", *build, "the build folder")
      ->required();

  tool.AddCommand(root, "status",
                  "show the device: settings, files, named objects, windows",
                  StatusCommand);

  CLI::App* config = tool.AddCommand(
      root, "config", "read or change the device's settings (as `config list`)",
      ConfigList);
  tool.AddCommand(config, "list",
                  "every device setting: key, value, what it is", ConfigList);
  auto setting = std::make_shared<std::pair<std::string, std::string>>();
  tool.AddCommand(config, "get", "print one setting's value",
                  [setting] { return ConfigGet(setting->first); })
      ->add_option("KEY", setting->first, "the setting")
      ->required();
  CLI::App* config_set = tool.AddCommand(
      config, "set", "change one setting",
      [setting] { return ConfigSet(setting->first, setting->second); });
  config_set->add_option("KEY", setting->first, "the setting")->required();
  config_set->add_option("VALUE", setting->second, "its new value")->required();

  CLI::App* registry =
      tool.AddCommand(root, "registry", "read or change the device's registry");
  const std::string roots =
      "ROOT is HKCR, HKLM or HKCU (or the HKEY_ names). Use \"\" or @ for the\n"
      "default value's NAME.";
  registry->footer(roots);
  auto value = std::make_shared<RegistryArgs>();
  auto add_key = [value, roots](CLI::App* command) {
    command->footer(roots);
    command->add_option("ROOT", value->root, "HKCR, HKLM or HKCU")->required();
    command->add_option("KEY", value->key, "the key's path")->required();
  };
  CLI::App* get = tool.AddCommand(
      registry, "get", "print a value (NAME omitted: the default value)",
      [value] { return RegistryGet(*value); });
  add_key(get);
  get->add_option("NAME", value->name, "the value's name");
  CLI::App* set =
      tool.AddCommand(registry, "set", "set a value, making the key",
                      [value] { return RegistrySet(*value); });
  add_key(set);
  set->add_option("NAME", value->name, "the value's name")->required();
  CLI::Option* dword =
      set->add_option("--dword", value->dword, "a DWORD: 0 to 4294967295")
          ->type_name("N");
  CLI::Option* sz =
      set->add_option("--sz", value->sz, "a string")->type_name("TEXT");
  set->add_option("--binary", value->binary, "bytes, e.g. 01,ff,20")
      ->type_name("HEX")
      ->excludes(dword)
      ->excludes(sz);
  dword->excludes(sz);
  CLI::App* remove = tool.AddCommand(
      registry, "delete", "delete a value, or the key with all its subkeys",
      [value] { return RegistryDelete(*value); });
  add_key(remove);
  remove->add_option("NAME", value->name, "the value (omitted: the key)");
  auto dump_root = std::make_shared<std::optional<std::string>>();
  CLI::App* dump = tool.AddCommand(
      registry, "dump", "print keys and values in .reg form",
      [dump_root, value] { return RegistryDump(*dump_root, value->key); });
  dump->footer(roots);
  dump->add_option("ROOT", *dump_root, "HKCR, HKLM or HKCU (default all)");
  dump->add_option("KEY", value->key, "the key to start at");

  tool.AddCommand(root, "boot",
                  "power on: clear named objects, start deviced and the "
                  "Today screen (todayshell.exe), then deviced runs the "
                  "StartUp shortcuts once",
                  Boot);
  tool.AddCommand(root, "shutdown",
                  "power off: stop deviced and the Today screen, clear every "
                  "named object of the device",
                  Shutdown);
  tool.AddCommand(root, "log", "print the device's debug.log", Log);
  tool.AddCommand(
      root, "inbox",
      "list the phone's SMS Inbox: entry id, time (UTC), address, message "
      "flags, text",
      [] {
        return ListPhoneFolder(device::cemapi::FolderRole::kInbox, "Inbox");
      });
  tool.AddCommand(root, "sent-items",
                  "list the phone's SMS Sent Items the same way", [] {
                    return ListPhoneFolder(
                        device::cemapi::FolderRole::kSentItems, "Sent Items");
                  });

  CLI::App* store =
      tool.AddCommand(root, "store",
                      "put a message straight into the phone's store, or "
                      "delete one");
  auto sent = std::make_shared<MessageArgs>();
  AddMessageOptions(
      tool.AddCommand(store, "add-sent", "put a message into Sent Items",
                      [sent] { return StoreAdd(true, *sent); }),
      "--to", "the recipient", sent.get());
  auto received = std::make_shared<MessageArgs>();
  AddMessageOptions(
      tool.AddCommand(store, "add-inbox", "put a message into the Inbox",
                      [received] { return StoreAdd(false, *received); }),
      "--from", "the sender", received.get());
  auto entry_id = std::make_shared<std::string>();
  tool.AddCommand(store, "delete", "delete a message of the phone's store",
                  [entry_id] { return StoreDelete(*entry_id); })
      ->add_option("ENTRY_ID", *entry_id, "its entry id, in hex (as listed)")
      ->required();

  tool.AddCommand(root, "start",
                  "start deviced, the messaging service (reuses a running one)",
                  Start);
  tool.AddCommand(root, "stop", "stop deviced (fine when it is not running)",
                  Stop);
  auto incoming = std::make_shared<MessageArgs>();
  AddMessageOptions(
      tool.AddCommand(root, "receive",
                      "deliver an incoming SMS through deviced (starting it "
                      "when needed) and tell what became of it",
                      [incoming] { return Receive(*incoming); }),
      "--from", "the sender", incoming.get());

  auto post = std::make_shared<PostArgs>();
  CLI::App* post_command = tool.AddCommand(
      root, "post",
      "post a window message to a program's window, as another program "
      "would",
      [post] { return Post(*post); });
  post_command->add_option("CLASS", post->window_class, "the window's class")
      ->required();
  post_command->add_option("TITLE", post->title, "the window's title")
      ->required();
  post_command
      ->add_option("MESSAGE", post->message,
                   "the message's number (273 with FIRST: a menu command)")
      ->required();
  post_command->add_option("FIRST", post->first,
                           "its first parameter (default 0)");
  post_command->add_option("SECOND", post->second,
                           "its second parameter (default 0)");
}

}  // namespace

namespace device::devicectl {

std::string FormatUtcTime(platform::FileTime time) {
  std::optional<platform::SystemTime> t = platform::FileTimeToSystemTime(time);
  if (!t) return "(bad time " + std::to_string(time.value()) + ")";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", t->year,
                t->month, t->day, t->hour, t->minute, t->second);
  return buffer;
}

// The text on one line: CR, LF and backslash escaped.
std::string OneLine(std::u16string_view text) {
  std::string out;
  for (char c : U8(text)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

bool RequireDevice() {
  if (platform::DeviceExists()) return true;
  Fail("no device at " + platform::DeviceRoot().string() +
       " (make one with: devicectl init)");
  return false;
}

}  // namespace device::devicectl

int main(int argc, char** argv) {
  cli::Tool tool("devicectl",
                 "the simulated phone's control panel: makes a device, "
                 "installs a build into it, boots it, and shows and changes "
                 "what the phone holds");
  tool.root()
      ->add_option_function<std::string>(
          "-d,--device",
          [](const std::string& folder) {
            setenv("TELVANE_DEVICE", folder.c_str(), 1);
          },
          "the device's folder (else $TELVANE_DEVICE, else "
          "~/.local/share/telvane/device)")
      ->type_name("DIR");
  AddDeviceCommands(tool);
  device::devicectl::AddRadioCommands(tool);
  device::devicectl::AddLedsCommands(tool);
  device::devicectl::AddContactsCommands(tool);
  device::devicectl::AddCallsCommands(tool);
  device::devicectl::AddPressCommands(tool);
  return tool.Run(argc, argv);
}
