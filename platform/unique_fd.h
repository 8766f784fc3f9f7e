// UniqueFd: the one owner of a file descriptor. It closes the descriptor
// when it goes out of scope, on every path, and can hand it on (move) or
// give it up (Release). No Telvane code calls close() on a descriptor it
// keeps past one statement; it holds a UniqueFd instead.
#ifndef TELVANE_PLATFORM_UNIQUE_FD_H_
#define TELVANE_PLATFORM_UNIQUE_FD_H_

#include <unistd.h>

#include <utility>

namespace platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }

  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }

  // Gives the descriptor up without closing it.
  [[nodiscard]] int Release() { return std::exchange(fd_, -1); }

  // Closes the descriptor held, if any, and holds `fd` instead. An
  // interrupted close() is not retried: on Linux the descriptor is gone.
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace platform

#endif  // TELVANE_PLATFORM_UNIQUE_FD_H_
