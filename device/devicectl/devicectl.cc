// devicectl: the simulated phone's command-line tool.
//
//   devicectl [--device DIR] COMMAND ...
//
// The device is DIR, else $TELVANE_DEVICE, else ~/.local/share/telvane/device.
// Every command prints what it did; every failure prints one line on stderr
// starting with "devicectl: " and exits with a non-zero code (2 for a usage
// error, 1 for anything else).
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
using device::devicectl::Fail;
using device::devicectl::FormatUtcTime;
using device::devicectl::kFailure;
using device::devicectl::kUsageError;
using device::devicectl::OneLine;
using device::devicectl::RequireDevice;
using device::devicectl::U16;
using device::devicectl::U8;
using device::devicectl::UsageError;
using platform::ErrorCode;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryType;
using platform::RegistryValue;
using platform::Status;

constexpr const char* kUsage =
    "usage: devicectl [--device DIR] COMMAND ...\n"
    "\n"
    "commands:\n"
    "  init [DIR]                    make a device (DIR, else the current "
    "device)\n"
    "  install BUILD_DIR             copy the built programs and libraries "
    "into the device\n"
    "  status                        show the device: settings, files, named "
    "objects, windows\n"
    "  config [get KEY | set KEY VALUE | list]\n"
    "                                read or change the device's settings\n"
    "  registry get ROOT KEY [NAME]  print a value (NAME omitted: the default "
    "value)\n"
    "  registry set ROOT KEY NAME (--dword N | --sz TEXT | --binary HEX)\n"
    "  registry delete ROOT KEY [NAME]\n"
    "                                delete a value, or the key with all its "
    "subkeys\n"
    "  registry dump [ROOT [KEY]]    print keys and values in .reg form\n"
    "  boot                          power on: clear named objects, start "
    "deviced,\n"
    "                                which runs the StartUp shortcuts once\n"
    "  shutdown                      power off: stop deviced, clear every "
    "named\n"
    "                                object of the device\n"
    "  log                           print the device's debug.log\n"
    "  inbox                         list the phone's SMS Inbox: entry id, "
    "time (UTC),\n"
    "                                address, message flags, text\n"
    "  sent-items                    list the phone's SMS Sent Items the same "
    "way\n"
    "  store add-sent --to NUMBER [--at TIME] TEXT\n"
    "  store add-inbox --from NUMBER [--at TIME] TEXT\n"
    "                                put a message straight into the phone's "
    "store\n"
    "                                (TIME: \"YYYY-MM-DD HH:MM[:SS]\" UTC, "
    "default now)\n"
    "  store delete ENTRY_ID         delete a message of the phone's store "
    "(hex id)\n"
    "  start                         start deviced, the messaging service "
    "(reuses a running one)\n"
    "  stop                          stop deviced (fine when it is not "
    "running)\n"
    "  receive --from NUMBER [--at TIME] TEXT\n"
    "                                deliver an incoming SMS through deviced "
    "(starting it\n"
    "                                when needed) and tell what became of it\n"
    "  post CLASS TITLE MESSAGE [FIRST [SECOND]]\n"
    "                                post a window message to a program's "
    "window, as\n"
    "                                another program would (273 FIRST: a menu "
    "command)\n"
    "";

// Printed after the commands of every group.
constexpr const char* kUsageNotes =
    "\n"
    "ROOT is HKCR, HKLM or HKCU (or the HKEY_ names). Use \"\" or @ for the\n"
    "default value's NAME.\n";

void PrintUsage(std::ostream& out) {
  out << kUsage << device::devicectl::kRadioUsage << device::devicectl::kLedsUsage
      << device::devicectl::kContactsUsage << device::devicectl::kCallsUsage << kUsageNotes;
}

// Stops a running deviced (defined with the daemon commands below).
Status StopDeviced(std::optional<pid_t>* pid_out);

// ---------------------------------------------------------------- init

int Init(const std::vector<std::string>& args) {
  if (args.size() > 1) return UsageError("init takes at most one folder");
  if (args.size() == 1) setenv("TELVANE_DEVICE", args[0].c_str(), 1);
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

int Install(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("install needs the build folder");
  if (!RequireDevice()) return kFailure;
  fs::path build = args[0];
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

int Config(const std::vector<std::string>& args) {
  if (!RequireDevice()) return kFailure;
  if (args.empty() || args[0] == "list") {
    for (const platform::DeviceSettingInfo& info :
         platform::KnownDeviceSettings()) {
      std::string value = platform::GetDeviceSetting(info.key).value_or("");
      std::printf("%-14s %-10s %s%s\n", info.key, value.c_str(),
                  info.description,
                  value == info.default_value ? "" : " (changed)");
    }
    return 0;
  }
  if (args[0] == "get") {
    if (args.size() != 2) return UsageError("config get needs one KEY");
    std::optional<std::string> value = platform::GetDeviceSetting(args[1]);
    if (!value) return Fail("unknown device setting \"" + args[1] + "\"");
    std::cout << *value << "\n";
    return 0;
  }
  if (args[0] == "set") {
    if (args.size() != 3) return UsageError("config set needs KEY and VALUE");
    Status status = platform::SetDeviceSetting(args[1], args[2]);
    if (!status.ok()) return Fail(status.ToString());
    std::cout << args[1] << " = " << args[2] << "\n";
    return 0;
  }
  return UsageError("config: unknown subcommand \"" + args[0] + "\"");
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

int Registry(const std::vector<std::string>& args) {
  if (!RequireDevice()) return kFailure;
  if (args.empty())
    return UsageError("registry needs get, set, delete or dump");
  const std::string& verb = args[0];
  int error = 0;
  if (verb == "dump") {
    if (args.size() > 3) return UsageError("registry dump [ROOT [KEY]]");
    std::vector<RegistryRoot> roots = {RegistryRoot::kClassesRoot,
                                       RegistryRoot::kLocalMachine,
                                       RegistryRoot::kCurrentUser};
    if (args.size() >= 2) {
      std::optional<RegistryRoot> root = RootArg(args[1], &error);
      if (!root) return error;
      roots = {*root};
    }
    std::u16string path = args.size() == 3 ? U16(args[2]) : u"";
    for (RegistryRoot root : roots) {
      Status status;
      std::optional<RegistryKey> key = RegistryKey::Open(root, path, &status);
      if (!key) return Fail("registry dump: " + status.ToString());
      Dump(*key);
    }
    return 0;
  }
  if (args.size() < 3)
    return UsageError("registry " + verb + " needs ROOT and KEY");
  std::optional<RegistryRoot> root = RootArg(args[1], &error);
  if (!root) return error;
  std::u16string path = U16(args[2]);
  Status status;

  if (verb == "get") {
    if (args.size() > 4) return UsageError("registry get ROOT KEY [NAME]");
    std::u16string name = args.size() == 4 ? ValueNameArg(args[3]) : u"";
    std::optional<RegistryKey> key = RegistryKey::Open(*root, path, &status);
    if (!key) return Fail("registry get: " + status.ToString());
    RegistryValue value;
    size_t needed = 0;
    status = key->Query(name, 1 << 20, &value, &needed);
    if (!status.ok()) return Fail("registry get: " + status.ToString());
    std::cout << FormatValue(value) << "\n";
    return 0;
  }
  if (verb == "set") {
    if (args.size() != 6) {
      return UsageError(
          "registry set ROOT KEY NAME (--dword N | --sz TEXT | --binary HEX)");
    }
    std::u16string name = ValueNameArg(args[3]);
    const std::string& kind = args[4];
    const std::string& data = args[5];
    std::optional<RegistryKey> key =
        RegistryKey::Create(*root, path, nullptr, &status);
    if (!key) return Fail("registry set: " + status.ToString());
    if (kind == "--dword") {
      char* end = nullptr;
      errno = 0;
      unsigned long long n = std::strtoull(data.c_str(), &end, 0);
      if (data.empty() || *end != '\0' || errno != 0 || n > 0xFFFFFFFFull ||
          data[0] == '-') {
        return UsageError("--dword needs a number from 0 to 4294967295");
      }
      status = key->SetDword(name, static_cast<uint32_t>(n));
    } else if (kind == "--sz") {
      status = key->SetString(name, U16(data));
    } else if (kind == "--binary") {
      std::optional<std::string> bytes = ParseHex(data);
      if (!bytes) return UsageError("--binary needs hex bytes, e.g. 01,ff,20");
      status = key->SetBinary(name, *bytes);
    } else {
      return UsageError("registry set: unknown type \"" + kind + "\"");
    }
    if (!status.ok()) return Fail("registry set: " + status.ToString());
    RegistryValue value;
    if (key->Query(name, 1 << 20, &value).ok())
      std::cout << FormatValue(value) << "\n";
    return 0;
  }
  if (verb == "delete") {
    if (args.size() > 4) return UsageError("registry delete ROOT KEY [NAME]");
    if (args.size() == 4) {
      std::optional<RegistryKey> key = RegistryKey::Open(*root, path, &status);
      if (!key) return Fail("registry delete: " + status.ToString());
      status = key->DeleteValue(ValueNameArg(args[3]));
    } else {
      status = platform::DeleteRegistryKey(*root, path);
    }
    if (!status.ok()) return Fail("registry delete: " + status.ToString());
    std::cout << "deleted\n";
    return 0;
  }
  return UsageError("registry: unknown subcommand \"" + verb + "\"");
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

int StatusCommand(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("status takes no arguments");
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

int Shutdown(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("shutdown takes no arguments");
  if (!RequireDevice()) return kFailure;
  std::optional<pid_t> pid;
  Status status = StopDeviced(&pid);
  if (!status.ok()) return Fail("shutdown: " + status.ToString());
  size_t objects = NamedObjects().size();
  status = platform::ShutdownDevice();
  if (!status.ok()) return Fail("shutdown: " + status.ToString());
  std::cout << "device shut down (" << objects << " named object(s) cleared)\n";
  return 0;
}

int Log(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("log takes no arguments");
  if (!RequireDevice()) return kFailure;
  std::ifstream log(platform::DeviceDebugLogPath(), std::ios::binary);
  if (!log) return 0;  // nothing logged yet
  std::cout << log.rdbuf();
  return 0;
}

// ---------------------------------------------------------------- store

// "YYYY-MM-DD HH:MM[:SS]" (or with a "T") as UTC.
std::optional<platform::FileTime> ParseUtcTime(const std::string& text) {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char separator = 0;
  char rest = 0;
  int n = std::sscanf(text.c_str(), "%4u-%2u-%2u%c%2u:%2u:%2u%c", &year, &month,
                      &day, &separator, &hour, &minute, &second, &rest);
  if ((n != 6 && n != 7) || (separator != ' ' && separator != 'T')) {
    return std::nullopt;
  }
  platform::SystemTime time;
  time.year = static_cast<uint16_t>(year);
  time.month = static_cast<uint16_t>(month);
  time.day = static_cast<uint16_t>(day);
  time.hour = static_cast<uint16_t>(hour);
  time.minute = static_cast<uint16_t>(minute);
  time.second = static_cast<uint16_t>(second);
  return platform::SystemTimeToFileTime(time);
}

int ListPhoneFolder(device::cemapi::FolderRole role, const char* title,
                    const std::vector<std::string>& args) {
  if (!args.empty())
    return UsageError(std::string(title) + " takes no arguments");
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

int Store(const std::vector<std::string>& args) {
  if (args.empty())
    return UsageError("store needs add-sent, add-inbox or delete");
  if (!RequireDevice()) return kFailure;
  const std::string& verb = args[0];
  if (verb == "delete") {
    if (args.size() != 2) return UsageError("store delete needs one ENTRY_ID");
    std::optional<std::string> id = ParseHex(args[1]);
    if (!id) return UsageError("store delete: ENTRY_ID must be hex");
    Status status = device::cemapi::DeleteMessage(*id);
    if (!status.ok()) return Fail("store delete: " + status.ToString());
    std::cout << "deleted " << Hex(*id, "") << "\n";
    return 0;
  }
  if (verb != "add-sent" && verb != "add-inbox") {
    return UsageError("store: unknown subcommand \"" + verb + "\"");
  }
  const char* address_flag = verb == "add-sent" ? "--to" : "--from";
  std::optional<std::string> address;
  std::optional<platform::FileTime> at;
  std::optional<std::string> text;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == address_flag || args[i] == "--at") {
      if (i + 1 == args.size()) return UsageError(args[i] + " needs a value");
      if (args[i] == "--at") {
        at = ParseUtcTime(args[i + 1]);
        if (!at) return UsageError("--at needs \"YYYY-MM-DD HH:MM[:SS]\"");
      } else {
        address = args[i + 1];
      }
      ++i;
    } else if (!text) {
      text = args[i];
    } else {
      return UsageError("store " + verb + ": one TEXT only (quote it)");
    }
  }
  if (!address || address->empty()) {
    return UsageError("store " + verb + " needs " + address_flag + " NUMBER");
  }
  if (!text) return UsageError("store " + verb + " needs the TEXT");
  platform::FileTime time =
      at ? *at
         : platform::SystemTimeToFileTime(platform::CurrentSystemTime())
               .value_or(platform::FileTime{});
  Status status;
  std::optional<std::string> id =
      verb == "add-sent"
          ? device::cemapi::AddSentSms(U16(*address), U16(*text), time, &status)
          : device::cemapi::DeliverIncomingSms(U16(*address), U16(*text), time,
                                       &status);
  if (!id) return Fail("store " + verb + ": " + status.ToString());
  std::cout << "added " << Hex(*id, "") << " to "
            << (verb == "add-sent" ? "Sent Items" : "Inbox") << "\n";
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

int Start(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("start takes no arguments");
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

int Stop(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("stop takes no arguments");
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

// Power on: whatever ran is stopped, every named object cleared, deviced
// started, and deviced runs the StartUp shortcuts once, as the phone does.
int Boot(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("boot takes no arguments");
  if (!RequireDevice()) return kFailure;
  std::optional<pid_t> old_pid;
  Status status = StopDeviced(&old_pid);
  if (status.ok()) status = platform::ShutdownDevice();
  if (!status.ok()) return Fail("boot: " + status.ToString());
  bool started = false;
  std::optional<pid_t> pid = EnsureDeviced(&started, &status);
  if (!pid) return Fail("boot: " + status.ToString());
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

int Receive(const std::vector<std::string>& args) {
  std::optional<std::string> sender;
  std::optional<platform::FileTime> at;
  std::optional<std::string> text;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--from" || args[i] == "--at") {
      if (i + 1 == args.size()) return UsageError(args[i] + " needs a value");
      if (args[i] == "--at") {
        at = ParseUtcTime(args[i + 1]);
        if (!at) return UsageError("--at needs \"YYYY-MM-DD HH:MM[:SS]\"");
      } else {
        sender = args[i + 1];
      }
      ++i;
    } else if (!text) {
      text = args[i];
    } else {
      return UsageError("receive: one TEXT only (quote it)");
    }
  }
  if (!sender || sender->empty())
    return UsageError("receive needs --from NUMBER");
  if (!text) return UsageError("receive needs the TEXT");
  if (!RequireDevice()) return kFailure;
  bool started = false;
  Status status;
  if (!EnsureDeviced(&started, &status))
    return Fail("receive: " + status.ToString());
  if (started) std::cerr << "devicectl: deviced was not running; started it\n";
  std::optional<std::string> reply = device::deviced::Exchange(
      {"receive", *sender, at ? std::to_string(at->value()) : "", *text}, 60000,
      &status);
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

int Post(const std::vector<std::string>& args) {
  if (args.size() < 3 || args.size() > 5) {
    return UsageError("post needs CLASS TITLE MESSAGE [FIRST [SECOND]]");
  }
  if (!RequireDevice()) return kFailure;
  uint64_t numbers[3] = {0, 0, 0};
  for (size_t i = 2; i < args.size(); ++i) {
    char* end = nullptr;
    errno = 0;
    numbers[i - 2] = std::strtoull(args[i].c_str(), &end, 0);
    if (errno != 0 || end == args[i].c_str() || *end != '\0') {
      return UsageError("not a number: " + args[i]);
    }
  }
  std::optional<platform::WindowRef> window =
      platform::FindTopLevelWindow(U16(args[0]), U16(args[1]));
  if (!window) return Fail("no window \"" + args[1] + "\" of class " + args[0]);
  Status status =
      platform::PostWindowMessage(*window, static_cast<uint32_t>(numbers[0]),
                                  numbers[1], static_cast<int64_t>(numbers[2]));
  if (!status.ok()) return Fail(status.ToString());
  return 0;
}

int Fail(const std::string& message, int code) {
  std::cerr << "devicectl: " << message << "\n";
  return code;
}

int UsageError(const std::string& message) {
  std::cerr << "devicectl: " << message << "\n"
            << "run 'devicectl help' for the commands\n";
  return kUsageError;
}

bool RequireDevice() {
  if (platform::DeviceExists()) return true;
  Fail("no device at " + platform::DeviceRoot().string() +
       " (make one with: devicectl init)");
  return false;
}

std::u16string U16(const std::string& text) { return platform::FromUtf8(text); }
std::string U8(std::u16string_view text) { return platform::ToUtf8(text); }

}  // namespace device::devicectl

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  while (!args.empty() && (args[0] == "--device" || args[0] == "-d")) {
    if (args.size() < 2) return UsageError(args[0] + " needs a folder");
    setenv("TELVANE_DEVICE", args[1].c_str(), 1);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    PrintUsage(std::cerr);
    return kUsageError;
  }
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "help" || command == "--help" || command == "-h") {
    PrintUsage(std::cout);
    return 0;
  }
  if (command == "init") return Init(args);
  if (command == "install") return Install(args);
  if (command == "status") return StatusCommand(args);
  if (command == "config") return Config(args);
  if (command == "registry") return Registry(args);
  if (command == "boot") return Boot(args);
  if (command == "shutdown") return Shutdown(args);
  if (command == "log") return Log(args);
  if (command == "inbox")
    return ListPhoneFolder(device::cemapi::FolderRole::kInbox, "Inbox", args);
  if (command == "sent-items") {
    return ListPhoneFolder(device::cemapi::FolderRole::kSentItems, "Sent Items", args);
  }
  if (command == "store") return Store(args);
  if (command == "start") return Start(args);
  if (command == "stop") return Stop(args);
  if (command == "receive") return Receive(args);
  if (command == "post") return device::devicectl::Post(args);
  if (command == "sent") return device::devicectl::SentCommand(args);
  if (command == "leds") return device::devicectl::LedsCommand(args);
  if (command == "contacts") return device::devicectl::ContactsCommand(args);
  if (command == "sim") return device::devicectl::SimCommand(args);
  if (command == "calls") return device::devicectl::CallsCommand(args);
  return UsageError("unknown command \"" + command + "\"");
}
