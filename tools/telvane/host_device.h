// Lets a tool work on a document anywhere on the host with the device's own
// libraries, which see files only through device paths.
//
// A document inside the current device's fs/ is used in place, on that
// device. A document elsewhere is reached through a scratch "view" device
// whose fs/ folder is a link to the host's root, so "/tmp/a.zud" is the
// device path "\tmp\a.zud". The view device has its own registry and named
// objects: a tool never disturbs a running program's unread count, and the
// index fallback it records for such a file lasts for the run only.
#ifndef TELVANE_TOOLS_TELVANE_HOST_DEVICE_H_
#define TELVANE_TOOLS_TELVANE_HOST_DEVICE_H_

#include <filesystem>
#include <optional>
#include <string>

#include "platform/status.h"

namespace tools::telvane {

class HostDevice {
 public:
  HostDevice() = default;
  ~HostDevice();  // removes a view device
  HostDevice(const HostDevice&) = delete;
  HostDevice& operator=(const HostDevice&) = delete;

  // Makes `host_path` reachable and returns its device path.
  std::optional<std::u16string> Attach(const std::filesystem::path& host_path,
                                       platform::Status* status);

 private:
  std::filesystem::path view_root_;  // empty unless a view device was made
};

}  // namespace tools::telvane

#endif  // TELVANE_TOOLS_TELVANE_HOST_DEVICE_H_
