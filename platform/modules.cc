#include "platform/modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/threads.h"
#include "platform/unicode.h"

namespace platform {
namespace {

constexpr char16_t kBuiltinCoredll[] = u"Coredll.dll";
constexpr char16_t kDefaultAppFolder[] = u"\\Program Files\\Telvane\\";

// A host file's device path: where it lies inside fs/, else the app folder
// (TELVANE_APP_FOLDER) and its device name.
std::u16string DevicePathOfHostFile(const std::filesystem::path& host) {
  if (std::optional<std::u16string> inside = files::ToDevicePath(host)) {
    return *inside;
  }
  std::u16string folder = kDefaultAppFolder;
  if (const char* env = std::getenv("TELVANE_APP_FOLDER");
      env != nullptr && *env != '\0') {
    folder = FromUtf8(env);
    if (folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
  }
  return folder + DeviceFileNameFor(host.filename().string());
}

}  // namespace

std::u16string DeviceFileNameFor(std::string_view host_file_name) {
  std::string_view name = host_file_name;
  if (name.size() > 6 && name.substr(0, 3) == "lib" &&
      name.substr(name.size() - 3) == ".so") {
    return FromUtf8(name.substr(3, name.size() - 6)) + u".dll";
  }
  if (name.find('.') == std::string_view::npos) {
    return FromUtf8(name) + u".exe";
  }
  return FromUtf8(name);
}

std::u16string ProgramFileName() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::u16string(kDefaultAppFolder) + u"unknown.exe";
  path[n] = '\0';
  return DevicePathOfHostFile(path);
}

std::u16string ModuleFileName(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 ||
      info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
    return ProgramFileName();
  }
  char resolved[4096];
  const char* file = info.dli_fname;
  if (realpath(file, resolved) != nullptr) file = resolved;
  return DevicePathOfHostFile(file);
}

std::u16string FolderOf(std::u16string_view device_path) {
  size_t slash = device_path.find_last_of(u"\\/");
  if (slash == std::u16string_view::npos) return u"\\";
  return std::u16string(device_path.substr(0, slash + 1));
}

std::unique_ptr<Library> Library::Load(std::u16string_view name,
                                       Status* status) {
  auto fail = [&](Status s) -> std::unique_ptr<Library> {
    if (status != nullptr) *status = std::move(s);
    return nullptr;
  };
  if (name.empty()) return fail(Status(ErrorCode::kInvalidArgument, "empty library name"));
  if (EqualsIgnoreCase(name, kBuiltinCoredll)) {
    return std::unique_ptr<Library>(new Library(nullptr, kBuiltinCoredll));
  }
  std::vector<std::u16string> candidates;
  if (name.find_first_of(u"\\/") != std::u16string_view::npos) {
    candidates.emplace_back(name);
  } else {
    candidates.push_back(FolderOf(ProgramFileName()) + std::u16string(name));
    candidates.push_back(u"\\Windows\\" + std::u16string(name));
  }
  std::string last_error = "not found";
  for (const std::u16string& candidate : candidates) {
    std::optional<std::filesystem::path> host = files::Resolve(candidate);
    if (!host || !files::Exists(candidate) || files::IsFolder(candidate)) continue;
    void* handle = dlopen(host->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* error = dlerror();
      last_error = error != nullptr ? error : "cannot load";
      continue;
    }
    std::u16string device_path =
        files::ToDevicePath(*host).value_or(candidate);
    return std::unique_ptr<Library>(new Library(handle, device_path));
  }
  return fail(Status(ErrorCode::kNotFound,
                     "load library " + ToUtf8(name) + ": " + last_error));
}

Library::~Library() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* Library::Symbol(const char* name) const {
  if (handle_ == nullptr) {
    if (std::strcmp(name, "CeSetThreadPriority") == 0) {
      return reinterpret_cast<void*>(&CeSetThreadPriority);
    }
    return nullptr;
  }
  return dlsym(handle_, name);
}

}  // namespace platform
