#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

bool MakeLocalSocketAddress(const std::filesystem::path& path,
                            sockaddr_un* address, int* dir_fd) {
  *dir_fd = -1;
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::string text = path.string();
  UniqueFd dir;
  if (text.size() >= sizeof address->sun_path) {
    dir.Reset(
        open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return false;
    text = "/proc/self/fd/" + std::to_string(dir.get()) + "/" +
           path.filename().string();
    if (text.size() >= sizeof address->sun_path) return false;
  }
  std::memcpy(address->sun_path, text.data(), text.size());
  *dir_fd = dir.Release();
  return true;
}

}  // namespace platform
