// Addresses of the device's local (UNIX-domain) sockets in run/, shared by
// the window endpoints and deviced.
#ifndef TELVANE_PLATFORM_LOCAL_SOCKET_H_
#define TELVANE_PLATFORM_LOCAL_SOCKET_H_

#include <sys/un.h>

#include <filesystem>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace platform {

// Fills `address` for the socket file `path`. A path too long for sun_path
// (a device root deep in the host's tree) is reached through a descriptor
// of its folder, "/proc/self/fd/N/name": then *dir_fd is that descriptor,
// which the caller closes after its bind, connect or send; otherwise -1.
// False (nothing left open) when the path cannot be expressed at all.
bool MakeLocalSocketAddress(const std::filesystem::path& path,
                            sockaddr_un* address, int* dir_fd);

// A non-blocking datagram socket bound to `path` (a leftover file of an
// earlier process with the same name is replaced); an empty descriptor and
// the cause in *status when it cannot be made.
UniqueFd BindDatagramSocket(const std::filesystem::path& path, Status* status);

}  // namespace platform

#endif  // TELVANE_PLATFORM_LOCAL_SOCKET_H_
