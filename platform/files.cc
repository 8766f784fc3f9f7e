#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/device.h"
#include "platform/unicode.h"
#include "platform/unique_fd.h"

namespace platform::files {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxComponentBytes = 255;
// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochInFileTimeSeconds = 11644473600ULL;

void Fail(Status* status, Status failure) {
  if (status != nullptr) *status = std::move(failure);
}

void SetOk(Status* status) {
  if (status != nullptr) *status = Status::Ok();
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The components of a device path, checked and converted to host names.
// Empty and "." components are dropped.
Status SplitDevicePath(std::u16string_view path,
                       std::vector<std::string>* components) {
  components->clear();
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::u16string_view component = path.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == u".") continue;
    if (component == u"..") {
      return Status(ErrorCode::kAccessDenied,
                    "\"..\" is not allowed in a device path");
    }
    for (char16_t c : component) {
      if (c < 0x20) {
        return Status(ErrorCode::kInvalidArgument,
                      "control character in a device path");
      }
      if (c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' ||
          c == u'?' || c == u'*') {
        return Status(
            ErrorCode::kInvalidArgument,
            "character not allowed in a device name: " + ToUtf8(component));
      }
    }
    std::string name = ToUtf8(component);
    if (name.size() > kMaxComponentBytes) {
      return Status(ErrorCode::kInvalidArgument,
                    "device name longer than 255 bytes");
    }
    components->push_back(std::move(name));
  }
  return Status::Ok();
}

// The entry of `folder` whose name equals `name` ignoring case; the first in
// case-insensitive order when several do. Empty when none does (or the
// folder cannot be read).
std::string FindIgnoringCase(const fs::path& folder, const std::string& name) {
  std::u16string wanted = FromUtf8(name);
  std::string best;
  std::u16string best_wide;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return best;
  while (dirent* entry = readdir(dir)) {
    std::string_view host_name = entry->d_name;
    if (host_name == "." || host_name == "..") continue;
    std::u16string wide = FromUtf8(host_name);
    if (!EqualsIgnoreCase(wide, wanted)) continue;
    if (best.empty() || CompareIgnoreCase(wide, best_wide) < 0) {
      best = host_name;
      best_wide = std::move(wide);
    }
  }
  closedir(dir);
  return best;
}

FileTime ToFileTime(int64_t seconds, int64_t nanoseconds) {
  int64_t since_1601 =
      seconds + static_cast<int64_t>(kUnixEpochInFileTimeSeconds);
  if (since_1601 < 0) return FileTime{};
  return FileTime::FromValue(static_cast<uint64_t>(since_1601) * 10'000'000ULL +
                             static_cast<uint64_t>(nanoseconds) / 100);
}

// Attributes of a host entry, or nullopt for entries a device cannot hold
// (links, sockets, pipes, device nodes).
std::optional<uint32_t> AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return kAttributeDirectory;
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  uint32_t attributes = kAttributeArchive;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
  return attributes;
}

// lstat on a resolved path, with the failure as a status.
Status LStat(const fs::path& host, struct stat* st) {
  if (lstat(host.c_str(), st) != 0) {
    return Status::FromErrno("lstat", host.string(), errno);
  }
  return Status::Ok();
}

// Resolves and lstats `path`; the status says kNotFound when it is missing.
Status ResolveExisting(std::u16string_view path, fs::path* host,
                       struct stat* st) {
  Status status;
  std::optional<fs::path> resolved = Resolve(path, &status);
  if (!resolved) return status;
  *host = std::move(*resolved);
  return LStat(*host, st);
}

// The injector, when a test installed one (see SetFileFaultInjector).
std::atomic<FileFaultInjector*> fault_injector{nullptr};

// The seam: what the injector says about one call; nothing without one.
FileFault Ask(FileCall call, const fs::path& host, size_t size = 0) {
  FileFaultInjector* injector = fault_injector.load(std::memory_order_acquire);
  if (injector == nullptr) [[likely]] {
    return FileFault{};
  }
  return injector->Before(call, host, size);
}

Status SyncFolder(const fs::path& folder) {
  if (FileFault fault = Ask(FileCall::kSyncFolder, folder); fault.error != 0) {
    return Status::FromErrno("fsync", folder.string(), fault.error);
  }
  UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return Status::FromErrno("open", folder.string(), errno);
  if (fsync(fd.get()) != 0) {
    return Status::FromErrno("fsync", folder.string(), errno);
  }
  return Status::Ok();
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// One read through the seam: like read(2), EINTR retried.
ssize_t ReadSome(int fd, void* buffer, size_t size, const fs::path& host) {
  FileFault fault = Ask(FileCall::kRead, host, size);
  if (fault.error != 0) {
    errno = fault.error;
    return -1;
  }
  if (fault.transfer) size = std::min(size, *fault.transfer);
  if (size == 0) return 0;
  for (;;) {
    ssize_t n = read(fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

// Writes all of `data` to `fd` as one call of the seam.
Status WriteFully(int fd, const char* data, size_t size, const fs::path& host) {
  FileFault fault = Ask(FileCall::kWrite, host, size);
  if (fault.error != 0) {
    return Status::FromErrno("write", host.string(), fault.error);
  }
  size_t allowed = fault.transfer ? std::min(size, *fault.transfer) : size;
  if (!WriteAll(fd, data, allowed)) {
    return Status::FromErrno("write", host.string(), errno);
  }
  if (allowed < size) {
    return Status(ErrorCode::kIoError, "write " + host.string() + ": only " +
                                           std::to_string(allowed) + " of " +
                                           std::to_string(size) +
                                           " bytes written");
  }
  return Status::Ok();
}

Status SyncData(int fd, const fs::path& host) {
  if (FileFault fault = Ask(FileCall::kSync, host); fault.error != 0) {
    return Status::FromErrno("fdatasync", host.string(), fault.error);
  }
  if (fdatasync(fd) != 0) {
    return Status::FromErrno("fdatasync", host.string(), errno);
  }
  return Status::Ok();
}

bool IsReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

// Matches pattern against name from the given positions: "*" any run, "?"
// one code unit, everything else one unit ignoring case. Greedy with one
// backtracking point, so the cost is at most pattern size x name size.
bool Match(std::u16string_view pattern, std::u16string_view name) {
  size_t p = 0, n = 0;
  size_t star = std::u16string_view::npos, star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      star_name = n;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' || pattern[p] == name[n] ||
                FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++star_name;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

std::atomic<uint64_t> temporary_counter{0};

// Creates a new, empty file beside `target` under a name nobody else uses
// (".NAME.PID-N.tmp", or ".telvane.PID-N.tmp" when that would be too
// long), with `mode` (less the umask), open for writing.
Status CreateBeside(const fs::path& target, mode_t mode, fs::path* temporary,
                    UniqueFd* fd) {
  const fs::path folder = target.parent_path();
  const std::string name = target.filename().string();
  auto candidate = [&]() {
    std::string suffix = "." + std::to_string(getpid()) + "-" +
                         std::to_string(temporary_counter++) + ".tmp";
    std::string base = "." + name;
    if (base.size() + suffix.size() > kMaxComponentBytes) base = ".telvane";
    return folder / (base + suffix);
  };
  *temporary = candidate();
  if (FileFault fault = Ask(FileCall::kCreate, *temporary); fault.error != 0) {
    return Status::FromErrno("create", temporary->string(), fault.error);
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (attempt > 0) *temporary = candidate();
    fd->Reset(open(temporary->c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (fd->valid()) return Status::Ok();
    if (errno != EEXIST) break;
  }
  return Status::FromErrno("create", temporary->string(), errno);
}

// Commits the new file `fd` (written completely), closes it and puts it in
// place of `target` in one step (with `no_replace`, only where nothing is),
// then commits the folder. Before the rename any failure removes the new
// file; the target is then as it was.
Status PutInPlace(UniqueFd fd, const fs::path& temporary,
                  const fs::path& target, bool no_replace) {
  Status status = SyncData(fd.get(), temporary);
  // Closed here, not by the holder, so that a failed close fails the save.
  if (close(fd.Release()) != 0 && status.ok()) {
    status = Status::FromErrno("close", temporary.string(), errno);
  }
  if (status.ok()) {
    if (FileFault fault = Ask(FileCall::kRename, target); fault.error != 0) {
      status = Status::FromErrno("rename", target.string(), fault.error);
    } else if (no_replace) {
      if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(),
                    RENAME_NOREPLACE) != 0) {
        int error = errno;
        if (error == EINVAL || error == ENOSYS) {
          // A file system without RENAME_NOREPLACE: link() never replaces.
          if (link(temporary.c_str(), target.c_str()) != 0) {
            status = Status::FromErrno("link", target.string(), errno);
          }
        } else {
          status = Status::FromErrno("rename", target.string(), error);
        }
      }
    } else if (rename(temporary.c_str(), target.c_str()) != 0) {
      status = Status::FromErrno("rename", target.string(), errno);
    }
  }
  // Gone after a rename; after link() or a failure it is still there.
  unlink(temporary.c_str());
  if (!status.ok()) return status;
  return SyncFolder(target.parent_path());
}

// The folder that will hold `target`: kNotFound unless it is one.
Status CheckFolderOf(const fs::path& target) {
  struct stat st;
  fs::path folder = target.parent_path();
  if (Status s = LStat(folder, &st); !s.ok()) return s;
  if (!S_ISDIR(st.st_mode)) {
    return Status(ErrorCode::kNotFound, "not a folder: " + folder.string());
  }
  return Status::Ok();
}

}  // namespace

std::optional<fs::path> Resolve(std::u16string_view device_path,
                                Status* status) {
  std::vector<std::string> components;
  if (Status split = SplitDevicePath(device_path, &components); !split.ok()) {
    Fail(status, split);
    return std::nullopt;
  }
  fs::path host = DeviceFsRoot();
  bool existing = true;  // everything so far exists on the host
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string& component = components[i];
    if (!existing) {
      host /= component;
      continue;
    }
    struct stat st;
    fs::path candidate = host / component;
    if (lstat(candidate.c_str(), &st) != 0) {
      int error = errno;
      if (error != ENOENT) {
        Fail(status, Status::FromErrno("lstat", candidate.string(), error));
        return std::nullopt;
      }
      std::string match = FindIgnoringCase(host, component);
      if (match.empty() ||
          lstat((host / match).c_str(), &st) != 0) {  // gone meanwhile
        existing = false;
        host = std::move(candidate);
        continue;
      }
      candidate = host / match;
    }
    if (S_ISLNK(st.st_mode)) {
      Fail(status,
           Status(ErrorCode::kAccessDenied,
                  "symbolic link in a device path: " + candidate.string()));
      return std::nullopt;
    }
    if (i + 1 < components.size() && !S_ISDIR(st.st_mode)) {
      Fail(status,
           Status(ErrorCode::kNotFound, "not a folder: " + candidate.string()));
      return std::nullopt;
    }
    host = std::move(candidate);
  }
  SetOk(status);
  return host;
}

std::optional<std::u16string> ToDevicePath(const fs::path& host) {
  std::error_code ec;
  fs::path absolute = fs::absolute(host, ec);
  if (ec) return std::nullopt;
  absolute = absolute.lexically_normal();
  fs::path root = DeviceFsRoot().lexically_normal();
  auto a = absolute.begin();
  for (const fs::path& part : root) {
    if (part.empty()) continue;  // a trailing separator
    if (a == absolute.end() || *a != part) return std::nullopt;
    ++a;
  }
  std::u16string device;
  for (; a != absolute.end(); ++a) {
    if (a->empty()) continue;
    device += u'\\';
    device += FromUtf8(a->native());
  }
  if (device.empty()) device.push_back(u'\\');
  return device;
}

// ---------------------------------------------------------------------------
// File

File::File(std::FILE* stream, bool commit, bool created, fs::path host_path)
    : stream_(stream),
      commit_(commit),
      created_(created),
      host_path_(std::move(host_path)) {}

File::~File() {
  if (stream_ != nullptr) std::fclose(stream_);
}

std::unique_ptr<File> File::Open(std::u16string_view device_path,
                                 std::string_view mode, Status* status) {
  bool write;
  bool commit = false;
  std::string_view base = mode;
  if (base.size() > 2 && base.back() == 'c') {
    commit = true;
    base.remove_suffix(1);
  }
  if (base == "rb" || base == "rb+") {
    write = false;
  } else if (base == "wb" || base == "wb+") {
    write = true;
  } else {
    Fail(status, Status(ErrorCode::kInvalidArgument,
                        "unknown file mode \"" + std::string(mode) + "\""));
    return nullptr;
  }
  bool update = base.back() == '+';

  std::optional<fs::path> host = Resolve(device_path, status);
  if (!host) return nullptr;
  if (write) {
    if (FileFault fault = Ask(FileCall::kCreate, *host); fault.error != 0) {
      Fail(status, Status::FromErrno("open", host->string(), fault.error));
      return nullptr;
    }
  }

  // O_NONBLOCK keeps a planted pipe from blocking the open; it is cleared
  // once the entry is known to be a regular file. O_NOFOLLOW refuses a link
  // planted at the last component after Resolve looked.
  int access = update ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
  int flags = access | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  int fd = -1;
  bool created = false;
  for (int attempt = 0; attempt < 4 && fd < 0; ++attempt) {
    if (write) {
      // Exclusive create first, so that we know whether the folder entry
      // is new and needs a commit of its own.
      fd = open(host->c_str(), flags | O_CREAT | O_EXCL, 0666);
      if (fd >= 0) {
        created = true;
        break;
      }
      if (errno != EEXIST) break;
      fd = open(host->c_str(), flags | O_TRUNC);
      if (fd < 0 && errno == ENOENT) continue;  // removed meanwhile
    } else {
      fd = open(host->c_str(), flags);
    }
    break;
  }
  if (fd < 0) {
    int error = errno;
    if (error == ELOOP) {
      Fail(status, Status(ErrorCode::kAccessDenied,
                          "symbolic link in a device path: " + host->string()));
    } else {
      Fail(status, Status::FromErrno("open", host->string(), error));
    }
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    Fail(status,
         Status(ErrorCode::kAccessDenied, "not a file: " + host->string()));
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const char* stdio_mode =
      update ? (write ? "wb+" : "rb+") : (write ? "wb" : "rb");
  std::FILE* stream = fdopen(fd, stdio_mode);
  if (stream == nullptr) {
    int error = errno;
    close(fd);
    Fail(status, Status::FromErrno("fdopen", host->string(), error));
    return nullptr;
  }
  SetOk(status);
  return std::unique_ptr<File>(
      new File(stream, commit, created, std::move(*host)));
}

void File::Switch(LastOperation next) {
  // The C library asks for a positioning call between reading and writing
  // on one stream; a seek to the current position is one.
  if (last_ != LastOperation::kNone && last_ != next) {
    fseeko(stream_, 0, SEEK_CUR);
  }
  last_ = next;
}

Status File::Read(void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (stream_ == nullptr) {
    return Status(ErrorCode::kInvalidArgument, "file is closed");
  }
  if (size == 0) return Status::Ok();
  FileFault fault = Ask(FileCall::kRead, host_path_, size);
  if (fault.error != 0) {
    return Status::FromErrno("read", host_path_.string(), fault.error);
  }
  if (fault.transfer) size = std::min(size, *fault.transfer);
  if (size == 0) return Status::Ok();
  Switch(LastOperation::kRead);
  *got = std::fread(buffer, 1, size, stream_);
  if (*got < size && std::ferror(stream_)) {
    int error = errno;
    std::clearerr(stream_);  // a later read may try again
    return Status::FromErrno("read", host_path_.string(), error);
  }
  return Status::Ok();
}

size_t File::Write(const void* buffer, size_t size) {
  if (stream_ == nullptr || size == 0) return 0;
  FileFault fault = Ask(FileCall::kWrite, host_path_, size);
  if (fault.error != 0) {
    errno = fault.error;
    return 0;
  }
  if (fault.transfer) size = std::min(size, *fault.transfer);
  if (size == 0) return 0;
  Switch(LastOperation::kWrite);
  return std::fwrite(buffer, 1, size, stream_);
}

Status File::ReadAt(void* buffer, size_t size, uint64_t offset, size_t* got) {
  *got = 0;
  if (stream_ == nullptr) {
    return Status(ErrorCode::kInvalidArgument, "file is closed");
  }
  if (size == 0) return Status::Ok();
  if (last_ == LastOperation::kWrite && std::fflush(stream_) != 0) {
    return Status::FromErrno("flush", host_path_.string(), errno);
  }
  FileFault fault = Ask(FileCall::kRead, host_path_, size);
  if (fault.error != 0) {
    return Status::FromErrno("read", host_path_.string(), fault.error);
  }
  if (fault.transfer) size = std::min(size, *fault.transfer);
  while (*got < size) {
    const uint64_t at = offset + *got;
    if (at > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) break;
    ssize_t n = pread(fileno(stream_), static_cast<char*>(buffer) + *got,
                      size - *got, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::FromErrno("read", host_path_.string(), errno);
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return Status::Ok();
}

Status File::Seek(int64_t offset, int whence) {
  if (stream_ == nullptr) {
    return Status(ErrorCode::kInvalidArgument, "file is closed");
  }
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) {
    return Status(ErrorCode::kInvalidArgument, "bad seek origin");
  }
  if (fseeko(stream_, static_cast<off_t>(offset), whence) != 0) {
    return Status::FromErrno("seek", host_path_.string(), errno);
  }
  last_ = LastOperation::kNone;
  return Status::Ok();
}

int64_t File::Tell() const {
  if (stream_ == nullptr) return -1;
  return static_cast<int64_t>(ftello(stream_));
}

Status File::Flush() {
  if (stream_ == nullptr) {
    return Status(ErrorCode::kInvalidArgument, "file is closed");
  }
  if (FileFault fault = Ask(FileCall::kFlush, host_path_); fault.error != 0) {
    return Status::FromErrno("flush", host_path_.string(), fault.error);
  }
  if (std::fflush(stream_) != 0) {
    return Status::FromErrno("flush", host_path_.string(), errno);
  }
  if (!commit_) return Status::Ok();
  // The data and what is needed to read it back (its size); timestamps
  // need not reach storage.
  if (Status status = SyncData(fileno(stream_), host_path_); !status.ok()) {
    return status;
  }
  if (created_) {
    Status status = SyncFolder(host_path_.parent_path());
    if (!status.ok()) return status;
    created_ = false;
  }
  return Status::Ok();
}

std::optional<uint64_t> File::Size() {
  if (stream_ == nullptr) return std::nullopt;
  if (last_ == LastOperation::kWrite && std::fflush(stream_) != 0) {
    return std::nullopt;
  }
  struct stat st;
  if (fstat(fileno(stream_), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

Status File::Truncate(uint64_t size) {
  if (stream_ == nullptr) {
    return Status(ErrorCode::kInvalidArgument, "file is closed");
  }
  if (size > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
    return Status(ErrorCode::kInvalidArgument, "size too large");
  }
  if (FileFault fault = Ask(FileCall::kTruncate, host_path_);
      fault.error != 0) {
    return Status::FromErrno("truncate", host_path_.string(), fault.error);
  }
  if (std::fflush(stream_) != 0) {
    return Status::FromErrno("flush", host_path_.string(), errno);
  }
  if (ftruncate(fileno(stream_), static_cast<off_t>(size)) != 0) {
    return Status::FromErrno("truncate", host_path_.string(), errno);
  }
  return Status::Ok();
}

Status File::Close() {
  if (stream_ == nullptr) return Status::Ok();
  std::FILE* stream = stream_;
  stream_ = nullptr;
  if (std::fclose(stream) != 0) {
    return Status::FromErrno("close", host_path_.string(), errno);
  }
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// Find

bool MatchesPattern(std::u16string_view pattern, std::u16string_view name) {
  if (Match(pattern, name)) return true;
  // As on the platform, a trailing ".*" also matches a name without an
  // extension: "*.*" matches every name, "readme.*" matches "README".
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*") {
    return Match(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

std::vector<FindData> Find(std::u16string_view pattern, Status* status) {
  std::vector<FindData> found;
  size_t last = pattern.size();
  while (last > 0 && !IsSeparator(pattern[last - 1])) --last;
  std::u16string_view folder_path = pattern.substr(0, last);
  std::u16string_view wildcard = pattern.substr(last);

  fs::path folder;
  struct stat st;
  if (Status s = ResolveExisting(folder_path, &folder, &st); !s.ok()) {
    Fail(status, s);
    return found;
  }
  if (!S_ISDIR(st.st_mode)) {
    Fail(status,
         Status(ErrorCode::kNotFound, "not a folder: " + folder.string()));
    return found;
  }
  int dir_fd =
      open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  DIR* dir = dir_fd >= 0 ? fdopendir(dir_fd) : nullptr;
  if (dir == nullptr) {
    int error = errno;
    if (dir_fd >= 0) close(dir_fd);
    Fail(status, Status::FromErrno("opendir", folder.string(), error));
    return found;
  }
  while (dirent* entry = readdir(dir)) {
    std::string_view host_name = entry->d_name;
    if (host_name == "." || host_name == "..") continue;
    std::u16string name = FromUtf8(host_name);
    if (!MatchesPattern(wildcard, name)) continue;
    struct stat entry_stat;
    if (fstatat(dir_fd, entry->d_name, &entry_stat, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;  // removed meanwhile
    }
    std::optional<uint32_t> attributes = AttributesOf(entry_stat);
    if (!attributes) continue;  // links and special files are not listed
    FindData data;
    data.name = std::move(name);
    data.attributes = *attributes;
    if (S_ISREG(entry_stat.st_mode)) {
      data.size = static_cast<uint64_t>(entry_stat.st_size);
    }
    // The host keeps no creation time in struct stat; the last change of
    // the contents is the closest honest answer.
    data.last_write_time =
        ToFileTime(entry_stat.st_mtim.tv_sec, entry_stat.st_mtim.tv_nsec);
    data.creation_time = data.last_write_time;
    data.last_access_time =
        ToFileTime(entry_stat.st_atim.tv_sec, entry_stat.st_atim.tv_nsec);
    found.push_back(std::move(data));
  }
  closedir(dir);
  std::sort(found.begin(), found.end(),
            [](const FindData& a, const FindData& b) {
              return CompareIgnoreCase(a.name, b.name) < 0;
            });
  SetOk(status);
  return found;
}

bool Finder::First(std::u16string_view pattern, FindData* data) {
  entries_ = Find(pattern);
  next_ = 0;
  return Next(data);
}

bool Finder::Next(FindData* data) {
  if (next_ >= entries_.size() || data == nullptr) return false;
  *data = entries_[next_++];
  return true;
}

// ---------------------------------------------------------------------------
// Whole-file operations

Status Copy(std::u16string_view from, std::u16string_view to,
            bool fail_if_exists) {
  fs::path source;
  struct stat source_stat;
  if (Status s = ResolveExisting(from, &source, &source_stat); !s.ok()) {
    return s;
  }
  if (!S_ISREG(source_stat.st_mode)) {
    return Status(ErrorCode::kAccessDenied, "not a file: " + source.string());
  }
  Status status;
  std::optional<fs::path> target = Resolve(to, &status);
  if (!target) return status;
  fs::path folder = target->parent_path();
  struct stat st;
  if (Status s = LStat(folder, &st); !s.ok()) return s;
  if (!S_ISDIR(st.st_mode)) {
    return Status(ErrorCode::kNotFound, "not a folder: " + folder.string());
  }
  if (lstat(target->c_str(), &st) == 0) {
    if (fail_if_exists) {
      return Status(ErrorCode::kAlreadyExists, "exists: " + target->string());
    }
    if (!S_ISREG(st.st_mode)) {
      return Status(ErrorCode::kAccessDenied,
                    "not a file: " + target->string());
    }
    if (st.st_dev == source_stat.st_dev && st.st_ino == source_stat.st_ino) {
      return Status(ErrorCode::kAccessDenied,
                    "cannot copy a file onto itself: " + target->string());
    }
  }

  UniqueFd in(
      open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!in) return Status::FromErrno("open", source.string(), errno);
  if (fstat(in.get(), &source_stat) != 0 || !S_ISREG(source_stat.st_mode)) {
    return Status(ErrorCode::kAccessDenied, "not a file: " + source.string());
  }

  // The copy is written beside the target under a name nobody else uses,
  // committed, then renamed over it.
  fs::path temporary;
  UniqueFd out;
  status = CreateBeside(*target, 0600, &temporary, &out);
  if (!status.ok()) return status;
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = ReadSome(in.get(), buffer, sizeof buffer, source);
    if (n < 0) {
      status = Status::FromErrno("read", source.string(), errno);
      break;
    }
    if (n == 0) break;
    status = WriteFully(out.get(), buffer, static_cast<size_t>(n), temporary);
    if (!status.ok()) break;
  }
  in.Reset();
  if (status.ok() && fchmod(out.get(), source_stat.st_mode & 07777) != 0) {
    status = Status::FromErrno("chmod", temporary.string(), errno);
  }
  if (!status.ok()) {
    out.Reset();
    unlink(temporary.c_str());
    return status;
  }
  return PutInPlace(std::move(out), temporary, *target, fail_if_exists);
}

Status ReadWhole(std::u16string_view path, std::string* bytes) {
  bytes->clear();
  Status status;
  std::optional<fs::path> host = Resolve(path, &status);
  if (!host) return status;
  UniqueFd fd(
      open(host->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) {
    int error = errno;
    if (error == ELOOP) {
      return Status(ErrorCode::kAccessDenied,
                    "symbolic link in a device path: " + host->string());
    }
    return Status::FromErrno("open", host->string(), error);
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) {
    return Status::FromErrno("fstat", host->string(), errno);
  }
  if (!S_ISREG(st.st_mode)) {
    return Status(ErrorCode::kAccessDenied, "not a file: " + host->string());
  }
  if (static_cast<uint64_t>(st.st_size) > std::string().max_size()) {
    return Status(ErrorCode::kIoError, "too large to read: " + host->string());
  }
  // Read up to the size the file has now, then once more to see that it
  // ends there.
  const size_t size = static_cast<size_t>(st.st_size);
  std::string data(size, '\0');
  size_t done = 0;
  for (;;) {
    char probe;
    bool filled = done == size;
    ssize_t n = ReadSome(fd.get(), filled ? &probe : data.data() + done,
                         filled ? 1 : size - done, *host);
    if (n < 0) return Status::FromErrno("read", host->string(), errno);
    if (n == 0) break;
    if (filled) {
      return Status(ErrorCode::kIoError,
                    "read " + host->string() + ": grew while being read");
    }
    done += static_cast<size_t>(n);
  }
  if (done != size) {
    return Status(ErrorCode::kIoError, "read " + host->string() +
                                           ": ended after " +
                                           std::to_string(done) + " of " +
                                           std::to_string(size) + " bytes");
  }
  *bytes = std::move(data);
  return Status::Ok();
}

Status WriteFileAtomically(std::u16string_view path, std::string_view bytes) {
  Status status;
  std::optional<fs::path> target = Resolve(path, &status);
  if (!target) return status;
  if (Status s = CheckFolderOf(*target); !s.ok()) return s;
  struct stat st;
  bool replacing = false;
  if (lstat(target->c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      return Status(ErrorCode::kAccessDenied,
                    "not a file: " + target->string());
    }
    if (IsReadOnly(st)) {
      return Status(ErrorCode::kAccessDenied, "read-only: " + target->string());
    }
    replacing = true;
  } else if (errno != ENOENT) {
    return Status::FromErrno("lstat", target->string(), errno);
  }

  fs::path temporary;
  UniqueFd fd;
  status = CreateBeside(*target, replacing ? 0600 : 0666, &temporary, &fd);
  if (!status.ok()) return status;
  status = WriteFully(fd.get(), bytes.data(), bytes.size(), temporary);
  if (status.ok() && replacing && fchmod(fd.get(), st.st_mode & 07777) != 0) {
    status = Status::FromErrno("chmod", temporary.string(), errno);
  }
  if (!status.ok()) {
    fd.Reset();
    unlink(temporary.c_str());
    return status;
  }
  return PutInPlace(std::move(fd), temporary, *target, /*no_replace=*/false);
}

Status Rename(std::u16string_view from, std::u16string_view to) {
  fs::path source;
  struct stat source_stat;
  if (Status s = ResolveExisting(from, &source, &source_stat); !s.ok()) {
    return s;
  }
  if (!S_ISREG(source_stat.st_mode) && !S_ISDIR(source_stat.st_mode)) {
    return Status(ErrorCode::kAccessDenied,
                  "not a file or folder: " + source.string());
  }
  if (source == DeviceFsRoot()) {
    return Status(ErrorCode::kAccessDenied, "cannot rename the root folder");
  }
  Status status;
  std::optional<fs::path> target = Resolve(to, &status);
  if (!target) return status;
  if (Status s = CheckFolderOf(*target); !s.ok()) return s;
  struct stat st;
  if (lstat(target->c_str(), &st) == 0) {
    if (st.st_dev == source_stat.st_dev && st.st_ino == source_stat.st_ino) {
      // The same entry: only the case of its name changes (or nothing).
      std::vector<std::string> components;
      if (Status s = SplitDevicePath(to, &components); !s.ok()) return s;
      target = target->parent_path() / components.back();
      if (*target == source) return Status::Ok();
    } else if (S_ISDIR(st.st_mode) || S_ISDIR(source_stat.st_mode)) {
      return Status(ErrorCode::kAlreadyExists, "exists: " + target->string());
    } else if (!S_ISREG(st.st_mode)) {
      return Status(ErrorCode::kAccessDenied,
                    "not a file: " + target->string());
    } else if (IsReadOnly(st)) {
      return Status(ErrorCode::kAccessDenied, "read-only: " + target->string());
    }
  } else if (errno != ENOENT) {
    return Status::FromErrno("lstat", target->string(), errno);
  }
  if (FileFault fault = Ask(FileCall::kRename, *target); fault.error != 0) {
    return Status::FromErrno("rename", target->string(), fault.error);
  }
  if (rename(source.c_str(), target->c_str()) != 0) {
    return Status::FromErrno("rename", target->string(), errno);
  }
  status = SyncFolder(target->parent_path());
  if (status.ok() && source.parent_path() != target->parent_path()) {
    status = SyncFolder(source.parent_path());
  }
  return status;
}

Status Delete(std::u16string_view path) {
  fs::path host;
  struct stat st;
  if (Status s = ResolveExisting(path, &host, &st); !s.ok()) return s;
  if (S_ISDIR(st.st_mode)) {
    return Status(ErrorCode::kAccessDenied, "is a folder: " + host.string());
  }
  if (unlink(host.c_str()) != 0) {
    return Status::FromErrno("unlink", host.string(), errno);
  }
  return Status::Ok();
}

Status CreateFolder(std::u16string_view path) {
  Status status;
  std::optional<fs::path> host = Resolve(path, &status);
  if (!host) return status;
  if (mkdir(host->c_str(), 0777) != 0) {
    return Status::FromErrno("mkdir", host->string(), errno);
  }
  return Status::Ok();
}

Status RemoveFolder(std::u16string_view path) {
  fs::path host;
  struct stat st;
  if (Status s = ResolveExisting(path, &host, &st); !s.ok()) return s;
  if (!S_ISDIR(st.st_mode)) {
    return Status(ErrorCode::kNotFound, "not a folder: " + host.string());
  }
  if (host == DeviceFsRoot()) {
    return Status(ErrorCode::kAccessDenied, "cannot remove the root folder");
  }
  if (rmdir(host.c_str()) != 0) {
    int error = errno;
    if (error == ENOTEMPTY || error == EEXIST) {
      return Status(ErrorCode::kAccessDenied,
                    "folder is not empty: " + host.string());
    }
    return Status::FromErrno("rmdir", host.string(), error);
  }
  return Status::Ok();
}

std::optional<uint32_t> Attributes(std::u16string_view path, Status* status) {
  fs::path host;
  struct stat st;
  if (Status s = ResolveExisting(path, &host, &st); !s.ok()) {
    Fail(status, s);
    return std::nullopt;
  }
  std::optional<uint32_t> attributes = AttributesOf(st);
  if (!attributes) {
    Fail(status, Status(ErrorCode::kAccessDenied,
                        "not a device file: " + host.string()));
    return std::nullopt;
  }
  SetOk(status);
  return attributes;
}

std::optional<uint64_t> Size(std::u16string_view path, Status* status) {
  fs::path host;
  struct stat st;
  if (Status s = ResolveExisting(path, &host, &st); !s.ok()) {
    Fail(status, s);
    return std::nullopt;
  }
  if (S_ISDIR(st.st_mode)) {
    SetOk(status);
    return 0;
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(status, Status(ErrorCode::kAccessDenied,
                        "not a device file: " + host.string()));
    return std::nullopt;
  }
  SetOk(status);
  return static_cast<uint64_t>(st.st_size);
}

bool Exists(std::u16string_view path) { return Attributes(path).has_value(); }

bool IsFolder(std::u16string_view path) {
  std::optional<uint32_t> attributes = Attributes(path);
  return attributes && (*attributes & kAttributeDirectory) != 0;
}

// ---------------------------------------------------------------------------
// Fault injection

const char* FileCallName(FileCall call) {
  switch (call) {
    case FileCall::kCreate:
      return "create";
    case FileCall::kRead:
      return "read";
    case FileCall::kWrite:
      return "write";
    case FileCall::kFlush:
      return "flush";
    case FileCall::kSync:
      return "sync";
    case FileCall::kTruncate:
      return "truncate";
    case FileCall::kRename:
      return "rename";
    case FileCall::kSyncFolder:
      return "sync folder";
  }
  return "unknown";
}

FileFaultInjector* SetFileFaultInjector(FileFaultInjector* injector) {
  return fault_injector.exchange(injector, std::memory_order_acq_rel);
}

}  // namespace platform::files
