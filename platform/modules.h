// Program and library files, and loading libraries by name.
//
// Device programs are ELF files stored under device names: the executable
// `pelicorde` is installed as "pelicorde.exe", the shared library
// `libinrelay.so` as "inrelay.dll". A running program knows its own device
// path from where its file lies inside the device's fs/ folder. A program
// or library started from outside the device (a test binary, the build tree)
// takes its folder from TELVANE_APP_FOLDER (a device path), by default
// "\Program Files\Telvane\", and its name from the device-name rule.
#ifndef TELVANE_PLATFORM_MODULES_H_
#define TELVANE_PLATFORM_MODULES_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform {

// The device name of a host file name: "libX.so" -> "X.dll", a name without
// an extension -> "X.exe", anything else unchanged.
std::u16string DeviceFileNameFor(std::string_view host_file_name);

// The device path of the running program, e.g.
// "\Program Files\Telvane\pelicorde.exe".
std::u16string ProgramFileName();
// The device path of the library or program that holds `address` (a
// function or object of that module).
std::u16string ModuleFileName(const void* address);
// The folder of a device path with its trailing "\": "\a\b.exe" -> "\a\".
std::u16string FolderOf(std::u16string_view device_path);

// A loaded library. Loading the same file twice shares one copy; the
// library is unloaded when its last Library object goes.
class Library {
 public:
  // Loads a library. A name with a "\" or "/" is a device path; a bare name
  // is searched in the running program's folder, then in "\Windows\"
  // (ignoring case). The built-in "Coredll.dll" always loads.
  static std::unique_ptr<Library> Load(std::u16string_view name,
                                       Status* status = nullptr);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // The entry point exported under `name`, or nullptr.
  void* Symbol(const char* name) const;
  // The device path it was loaded from ("\Windows\sms.dll"); for the
  // built-in library its bare name.
  const std::u16string& device_path() const { return device_path_; }

 private:
  Library(void* handle, std::u16string device_path)
      : handle_(handle), device_path_(std::move(device_path)) {}
  void* handle_;  // dlopen handle; nullptr for the built-in library
  std::u16string device_path_;
};

}  // namespace platform

#endif  // TELVANE_PLATFORM_MODULES_H_
