#include "audio/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

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

class DeviceFileSource final : public Source {
 public:
  explicit DeviceFileSource(std::unique_ptr<platform::files::File> file)
      : file_(std::move(file)), size_(file_->Size()) {}
  size_t Read(void* buffer, size_t size) override {
    size_t n = file_->Read(buffer, size);
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

 private:
  std::unique_ptr<platform::files::File> file_;
  std::optional<uint64_t> size_;
  uint64_t offset_ = 0;
};

class HostFileSource final : public Source {
 public:
  HostFileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~HostFileSource() override { close(fd_); }
  size_t Read(void* buffer, size_t size) override {
    // A small read-ahead buffer: the readers take bytes a few at a time.
    uint8_t* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
      if (begin_ == end_) {
        if (size - done >= sizeof buffer_) {
          ssize_t n =
              pread(fd_, out + done, size - done, static_cast<off_t>(offset_));
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) break;
          offset_ += static_cast<uint64_t>(n);
          done += static_cast<size_t>(n);
          continue;
        }
        ssize_t n =
            pread(fd_, buffer_, sizeof buffer_, static_cast<off_t>(offset_));
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
  int fd_;
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

std::unique_ptr<Source> OpenDeviceFile(std::u16string_view device_path) {
  std::unique_ptr<platform::files::File> file =
      platform::files::File::Open(device_path, "rb");
  if (file == nullptr) return nullptr;
  return std::make_unique<DeviceFileSource>(std::move(file));
}

std::unique_ptr<Source> OpenHostFile(const std::filesystem::path& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<HostFileSource>(fd,
                                          static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<Source> MemorySource(std::vector<uint8_t> bytes) {
  return std::make_unique<BytesSource>(std::move(bytes));
}

}  // namespace audio
