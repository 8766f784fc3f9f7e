#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/files.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

// Slot i is the one byte at kSlotBase + i, far past any holder text.
constexpr off_t kSlotBase = off_t{1} << 30;
constexpr int kSlotCount = 64;
constexpr size_t kMaxHolderBytes = 256;

Status SlotRange(int slot, struct flock* lock) {
  if (slot < 0 || slot >= kSlotCount) {
    return Status(ErrorCode::kInvalidArgument,
                  "lock slot " + std::to_string(slot) + " out of range");
  }
  *lock = {};
  lock->l_whence = SEEK_SET;
  lock->l_start = kSlotBase + slot;
  lock->l_len = 1;
  return Status::Ok();
}

}  // namespace

LockFile::LockFile(UniqueFd fd, std::string host_path)
    : fd_(std::move(fd)), host_path_(std::move(host_path)) {}

LockFile::~LockFile() = default;

std::unique_ptr<LockFile> LockFile::Open(std::u16string_view device_path,
                                         Status* status) {
  Status resolved;
  std::optional<std::filesystem::path> host =
      files::Resolve(device_path, &resolved);
  if (!host) {
    if (status != nullptr) *status = resolved;
    return nullptr;
  }
  UniqueFd fd(
      open(host->c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd) {
    if (status != nullptr)
      *status = Status::FromErrno("open", host->string(), errno);
    return nullptr;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (status != nullptr) {
      *status = Status(ErrorCode::kAccessDenied,
                       "not a lock file: " + host->string());
    }
    return nullptr;
  }
  if (status != nullptr) *status = Status::Ok();
  return std::unique_ptr<LockFile>(new LockFile(std::move(fd), host->string()));
}

Status LockFile::TryLock(int slot, LockKind kind) {
  struct flock lock;
  Status status = SlotRange(slot, &lock);
  if (!status.ok()) return status;
  lock.l_type = kind == LockKind::kShared ? F_RDLCK : F_WRLCK;
  if (fcntl(fd_.get(), F_OFD_SETLK, &lock) == 0) return Status::Ok();
  if (errno == EAGAIN || errno == EACCES) {
    return Status(ErrorCode::kBusy, host_path_ + ": slot " +
                                        std::to_string(slot) +
                                        " is held by another process");
  }
  return Status::FromErrno("lock", host_path_, errno);
}

Status LockFile::Lock(int slot, LockKind kind, uint32_t timeout_ms) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  auto pause = std::chrono::microseconds(50);
  for (;;) {
    Status status = TryLock(slot, kind);
    if (status.code() != ErrorCode::kBusy) return status;
    if (std::chrono::steady_clock::now() >= deadline) return status;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(5000));
  }
}

void LockFile::Unlock(int slot) {
  struct flock lock;
  if (!SlotRange(slot, &lock).ok()) return;
  lock.l_type = F_UNLCK;
  fcntl(fd_.get(), F_OFD_SETLK, &lock);
}

std::string LockFile::ReadHolder() {
  char buffer[kMaxHolderBytes];
  ssize_t n = pread(fd_.get(), buffer, sizeof buffer, 0);
  if (n <= 0) return {};
  std::string text(buffer, static_cast<size_t>(n));
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return text;
}

Status LockFile::WriteHolder(std::string_view holder) {
  std::string line(holder.substr(0, kMaxHolderBytes - 1));
  line += '\n';
  if (ftruncate(fd_.get(), 0) != 0)
    return Status::FromErrno("truncate", host_path_, errno);
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = pwrite(fd_.get(), line.data() + done, line.size() - done,
                       static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Status::FromErrno("write", host_path_, errno);
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

std::string ThisProcessAsHolder() {
  std::error_code ec;
  std::filesystem::path self =
      std::filesystem::read_symlink("/proc/self/exe", ec);
  std::string name = ec ? std::string("a program") : self.filename().string();
  // Device programs carry their device names on the host ("pelicorde.exe").
  return name + " pid " + std::to_string(getpid());
}

}  // namespace platform
