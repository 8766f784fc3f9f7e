#include "platform/kernel_objects.h"

#include <dirent.h>
#include <sys/mman.h>

#include <string>

#include "platform/device.h"

namespace platform {

Status ClearNamedObjects() {
  std::string prefix = "telvane." + DeviceId() + ".";
  DIR* dir = opendir("/dev/shm");
  if (dir == nullptr) return Status::FromErrno("open", "/dev/shm", errno);
  Status result;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    if (shm_unlink(("/" + name).c_str()) != 0 && errno != ENOENT) {
      result = Status::FromErrno("shm_unlink", name, errno);
    }
  }
  closedir(dir);
  return result;
}

}  // namespace platform
