#include "tools/telvane/host_device.h"

#include <stdlib.h>

#include "platform/device.h"
#include "platform/files.h"

namespace tools::telvane {

namespace fs = std::filesystem;

HostDevice::~HostDevice() {
  if (view_root_.empty()) return;
  platform::ShutdownDevice().IgnoreError();
  std::error_code ec;
  fs::remove(view_root_ / "fs", ec);  // the link, never what it points to
  fs::remove_all(view_root_, ec);
}

std::optional<std::u16string> HostDevice::Attach(const fs::path& host_path,
                                                 platform::Status* status) {
  std::error_code ec;
  fs::path absolute = fs::absolute(host_path, ec).lexically_normal();
  if (ec) {
    *status = platform::Status(platform::ErrorCode::kInvalidArgument,
                               "bad path " + host_path.string());
    return std::nullopt;
  }
  auto host_device_path = [&absolute] {
    std::u16string device_path;
    for (const fs::path& part : absolute.relative_path()) {
      device_path += u"\\" + part.u16string();
    }
    return device_path;
  };
  if (!view_root_.empty()) return host_device_path();  // the view sees all
  // Inside the current device: use it as it is.
  if (platform::DeviceExists()) {
    fs::path parent = fs::weakly_canonical(absolute.parent_path(), ec);
    if (!ec) {
      if (std::optional<std::u16string> device_path =
              platform::files::ToDevicePath(parent / absolute.filename())) {
        return device_path;
      }
    }
  }
  // Elsewhere: a view device whose file system is the host's.
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") +
                        "/telvane-view-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *status = platform::Status::FromErrno("mkdtemp", pattern, errno);
    return std::nullopt;
  }
  view_root_ = pattern;
  setenv("TELVANE_DEVICE", view_root_.c_str(), 1);
  *status = platform::InitialiseDevice();
  if (!status->ok()) return std::nullopt;
  fs::remove_all(view_root_ / "fs", ec);
  fs::create_directory_symlink("/", view_root_ / "fs", ec);
  if (ec) {
    *status = platform::Status(platform::ErrorCode::kIoError,
                               "cannot link the view device: " + ec.message());
    return std::nullopt;
  }
  return host_device_path();
}

}  // namespace tools::telvane
