#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace platform {

bool MakeLocalSocketAddress(const std::filesystem::path& path,
                            sockaddr_un* address, int* dir_fd) {
  *dir_fd = -1;
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::string text = path.string();
  if (text.size() >= sizeof address->sun_path) {
    *dir_fd =
        open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (*dir_fd < 0) return false;
    text = "/proc/self/fd/" + std::to_string(*dir_fd) + "/" +
           path.filename().string();
    if (text.size() >= sizeof address->sun_path) {
      close(*dir_fd);
      *dir_fd = -1;
      return false;
    }
  }
  std::memcpy(address->sun_path, text.data(), text.size());
  return true;
}

}  // namespace platform
