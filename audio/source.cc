#include "audio/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/unicode.h"
#include "platform/unique_fd.h"

namespace audio {

size_t Source::ReadFully(void* buffer, size_t size) {
  uint8_t* at = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    size_t n = Read(at + done, size - done);
    if (n == 0) break;
    done += n;
  }
  return done;
}

bool Source::Skip(uint64_t size) {
  std::optional<uint64_t> total = Size();
  if (total) {
    uint64_t target = Tell() + size;
    if (target > *total) return false;
    return Seek(target);
  }
  uint8_t scratch[4096];
  while (size > 0) {
    size_t n = Read(scratch, std::min<uint64_t>(size, sizeof scratch));
    if (n == 0) return false;
    size -= n;
  }
  return true;
}

namespace {

// "cannot open NAME: not found", or with the cause's own words for the
// rarer failures; ok for ok.
platform::Status CannotOpen(const std::string& name,
                            const platform::Status& cause) {
  if (cause.ok()) return cause;
  std::string message =
      "cannot open " + name + ": " + platform::ErrorCodeName(cause.code());
  if (cause.code() != platform::ErrorCode::kNotFound &&
      !cause.message().empty()) {
    message += " (" + cause.message() + ")";
  }
  return platform::Status(cause.code(), std::move(message));
}

class DeviceFileSource final : public Source {
 public:
  explicit DeviceFileSource(std::unique_ptr<platform::files::File> file)
      : file_(std::move(file)), size_(file_->Size()) {}
  size_t Read(void* buffer, size_t size) override {
    size_t n = 0;
    // A read that fails ends the stream where it failed, as the end of the
    // file would; failure() keeps why.
    platform::Status read = file_->Read(buffer, size, &n);
    if (!read.ok() && failure_.ok()) failure_ = std::move(read);
    offset_ += n;
    return n;
  }
  bool Seek(uint64_t offset) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    if (!file_->Seek(static_cast<int64_t>(offset), SEEK_SET).ok()) {
      return false;
    }
    offset_ = offset;
    return true;
  }
  std::optional<uint64_t> Size() override { return size_; }
  uint64_t Tell() const override { return offset_; }
  platform::Status failure() const override { return failure_; }

 private:
  std::unique_ptr<platform::files::File> file_;
  std::optional<uint64_t> size_;
  uint64_t offset_ = 0;
  platform::Status failure_;  // of the first read that failed
};

class HostFileSource final : public Source {
 public:
  HostFileSource(platform::UniqueFd fd, uint64_t size)
      : fd_(std::move(fd)), size_(size) {}
  size_t Read(void* buffer, size_t size) override {
    // A small read-ahead buffer: the readers take bytes a few at a time.
    uint8_t* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
      if (begin_ == end_) {
        if (size - done >= sizeof buffer_) {
          ssize_t n = pread(fd_.get(), out + done, size - done,
                            static_cast<off_t>(offset_));
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) break;
          offset_ += static_cast<uint64_t>(n);
          done += static_cast<size_t>(n);
          continue;
        }
        ssize_t n = pread(fd_.get(), buffer_, sizeof buffer_,
                          static_cast<off_t>(offset_));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        begin_ = 0;
        end_ = static_cast<size_t>(n);
      }
      size_t n = std::min(size - done, end_ - begin_);
      std::memcpy(out + done, buffer_ + begin_, n);
      begin_ += n;
      offset_ += n;
      done += n;
    }
    return done;
  }
  bool Seek(uint64_t offset) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    begin_ = end_ = 0;
    offset_ = offset;
    return true;
  }
  std::optional<uint64_t> Size() override { return size_; }
  uint64_t Tell() const override { return offset_; }

 private:
  platform::UniqueFd fd_;
  uint64_t size_;
  uint64_t offset_ = 0;  // of the next byte handed out
  uint8_t buffer_[16384];
  size_t begin_ = 0, end_ = 0;
};

class BytesSource final : public Source {
 public:
  explicit BytesSource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  size_t Read(void* buffer, size_t size) override {
    if (offset_ >= bytes_.size()) return 0;
    size_t n = std::min<uint64_t>(size, bytes_.size() - offset_);
    std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return n;
  }
  bool Seek(uint64_t offset) override {
    offset_ = offset;
    return true;
  }
  std::optional<uint64_t> Size() override { return bytes_.size(); }
  uint64_t Tell() const override { return offset_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t offset_ = 0;
};

}  // namespace

std::unique_ptr<Source> OpenDeviceFile(std::u16string_view device_path,
                                       platform::Status* status) {
  platform::Status opened;
  std::unique_ptr<platform::files::File> file =
      platform::files::File::Open(device_path, "rb", &opened);
  if (status != nullptr) {
    *status = CannotOpen(platform::ToUtf8(device_path), opened);
  }
  if (file == nullptr) return nullptr;
  return std::make_unique<DeviceFileSource>(std::move(file));
}

std::unique_ptr<Source> OpenHostFile(const std::filesystem::path& path,
                                     platform::Status* status) {
  platform::Status local;
  platform::Status& result = status != nullptr ? *status : local;
  platform::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    result = CannotOpen(path.string(),
                        platform::Status::FromErrno("open", "", errno));
    return nullptr;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) {
    result = CannotOpen(path.string(),
                        platform::Status::FromErrno("stat", "", errno));
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    result = CannotOpen(
        path.string(),
        platform::Status(platform::ErrorCode::kAccessDenied, "not a file"));
    return nullptr;
  }
  result = platform::Status::Ok();
  return std::make_unique<HostFileSource>(std::move(fd),
                                          static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<Source> MemorySource(std::vector<uint8_t> bytes) {
  return std::make_unique<BytesSource>(std::move(bytes));
}

}  // namespace audio
