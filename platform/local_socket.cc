#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

UniqueFd BindDatagramSocket(const std::filesystem::path& path, Status* status) {
  UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) {
    *status = Status::FromErrno("socket", "", errno);
    return UniqueFd();
  }
  sockaddr_un address;
  int dir_fd;
  if (!MakeLocalSocketAddress(path, &address, &dir_fd)) {
    *status = Status(ErrorCode::kInvalidArgument,
                     "endpoint path too long: " + path.string());
    return UniqueFd();
  }
  UniqueFd dir(dir_fd);
  unlink(path.c_str());  // a leftover of an earlier process with our pid
  int rc =
      bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  int bind_errno = errno;
  dir.Reset();
  if (rc != 0) {
    *status = Status::FromErrno("bind", path.string(), bind_errno);
    return UniqueFd();
  }
  return fd;
}

}  // namespace platform
