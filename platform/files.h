// Files on device paths.
//
// A device path is absolute, "\"-separated ("\Program Files\Telvane\sms.zud");
// "/" is accepted as a separator too, and a path without a leading
// separator is taken from the root. It maps into the device's fs/ folder.
// The device's file system ignores case: each component is looked up
// without regard to case ("\windows\X" and "\Windows\x" are one file); a
// name that does not exist yet is created with the case given.
//
// A path that would leave fs/ is refused with kAccessDenied, never followed:
// a ".." component anywhere in the path, or an existing component that is a
// symbolic link (a device has no links). Characters the device forbids in
// names (NUL and other control characters, < > : " | ? *) and components
// longer than 255 UTF-8 bytes are refused with kInvalidArgument. An
// existing component in the middle of a path that is not a folder is
// kNotFound. "." and empty components are skipped.
//
// Thread safety: every function may be called from any thread; a File is
// used by one thread at a time. Nothing here locks against other programs
// changing fs/ at the same moment (as on the device).
#ifndef TELVANE_PLATFORM_FILES_H_
#define TELVANE_PLATFORM_FILES_H_

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/time.h"

namespace platform::files {

// Attribute bits as the platform reports them.
inline constexpr uint32_t kAttributeReadOnly = 0x01;
inline constexpr uint32_t kAttributeHidden = 0x02;
inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeArchive = 0x20;
inline constexpr uint32_t kAttributeNormal = 0x80;

// The host path of a device path. Existing components are matched ignoring
// case; the missing tail is appended as given (so the result names where a
// new file or folder would be created).
std::optional<std::filesystem::path> Resolve(std::u16string_view device_path,
                                             Status* status = nullptr);

// The device path of a host path inside the device's fs/ folder
// ("\Program Files\Telvane\pelicorde.exe"); nullopt for paths outside it.
std::optional<std::u16string> ToDevicePath(const std::filesystem::path& host);

// An open file, a buffered stream like the platform's C library streams.
// Modes: "rb" (read an existing file), "rb+" (read and write an existing
// file), "wb" (create or truncate, write), "wb+" (create or truncate, read
// and write); a trailing "c" ("rbc", "rb+c", "wbc", "wb+c") makes Flush()
// commit the data to storage (fsync), and a new file's folder entry with it.
// Any other mode is kInvalidArgument. "rb"/"rb+" on a missing file is
// kNotFound; a folder, a symbolic link or anything but a plain file is
// kAccessDenied. Reads and writes may be mixed freely (the stream
// repositions itself between them).
class File {
 public:
  static std::unique_ptr<File> Open(std::u16string_view device_path,
                                    std::string_view mode,
                                    Status* status = nullptr);
  ~File();  // closes (without a commit)
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Like fread/fwrite: the number of bytes transferred; short at the end of
  // the file or on an error.
  size_t Read(void* buffer, size_t size);
  size_t Write(const void* buffer, size_t size);
  // Reads up to `size` bytes at `offset` straight from the file, without
  // moving the stream's position or using its buffer (buffered writes are
  // written first). The number of bytes read; short at the end of the file
  // or on an error.
  size_t ReadAt(void* buffer, size_t size, uint64_t offset);
  // whence: SEEK_SET, SEEK_CUR or SEEK_END. Seeking past the end is allowed.
  Status Seek(int64_t offset, int whence);
  int64_t Tell() const;
  // Writes buffered data; with a "c" mode also commits it to storage.
  Status Flush();
  std::optional<uint64_t> Size();
  // Writes buffered data and sets the file's size to `size` (cutting it or
  // extending it with zeros); the position is left where it was. Commits
  // nothing: Flush() after it for that.
  Status Truncate(uint64_t size);
  // Writes buffered data and closes, without a commit (call Flush() first
  // for that). After Close() reads and writes transfer nothing, Seek and
  // Flush fail, Tell is -1 and Size nullopt; a second Close() is ok.
  Status Close();

 private:
  enum class LastOperation { kNone, kRead, kWrite };

  File(std::FILE* stream, bool commit, bool created,
       std::filesystem::path host_path);
  // Repositions the stream when the direction of transfer changes.
  void Switch(LastOperation next);

  std::FILE* stream_;  // null after Close()
  bool commit_;
  bool created_;  // the folder entry still needs a commit
  std::filesystem::path host_path_;
  LastOperation last_ = LastOperation::kNone;
};

struct FindData {
  std::u16string name;  // the entry's name as stored
  uint32_t attributes = 0;
  uint64_t size = 0;  // 0 for folders
  FileTime creation_time;
  FileTime last_access_time;
  FileTime last_write_time;
};

// Every entry of a folder matching the pattern's last component ("*" and
// "?" wildcards, ignoring case; "*.*" matches every name), in name order
// (ignoring case). "." and ".." are never listed, nor symbolic links and
// other entries a device cannot hold. Folders have kAttributeDirectory,
// files kAttributeArchive (plus kAttributeReadOnly when the owner may not
// write them). The host keeps no creation time: it reads as the last write
// time. kNotFound when the folder does not exist (or is not a folder); an
// empty list when nothing matches.
std::vector<FindData> Find(std::u16string_view pattern,
                           Status* status = nullptr);

// First/next enumeration over the same, in the same order.
class Finder {
 public:
  // False when nothing matches (or the folder cannot be read).
  bool First(std::u16string_view pattern, FindData* data);
  bool Next(FindData* data);

 private:
  std::vector<FindData> entries_;
  size_t next_ = 0;
};

// True when the wildcard pattern matches the name (ignoring case): "*" any
// run, "?" one UTF-16 unit. As on the platform a trailing ".*" also matches
// a name without a dot ("*.*" matches "README").
bool MatchesPattern(std::u16string_view pattern, std::u16string_view name);

// Copies a file (and its read-only state). With fail_if_exists an existing
// target is kAlreadyExists; otherwise it is replaced. The copy is committed
// to storage and replaces the target atomically: a crash leaves the old or
// the new file, whole (a crash in the middle may leave a ".copy-*.tmp" file
// beside it). A missing source is kNotFound, a folder kAccessDenied; a copy
// of a file onto itself is kAccessDenied and changes nothing.
Status Copy(std::u16string_view from, std::u16string_view to,
            bool fail_if_exists);
// A file, not a folder (kAccessDenied); kNotFound when missing.
Status Delete(std::u16string_view path);
// kAlreadyExists when the name exists; kNotFound when the parent is missing.
Status CreateFolder(std::u16string_view path);
// kNotFound when missing or not a folder; kAccessDenied when the folder is
// not empty or is the root.
Status RemoveFolder(std::u16string_view path);
// Attributes as Find reports them. Size is 0 for a folder.
std::optional<uint32_t> Attributes(std::u16string_view path,
                                   Status* status = nullptr);
std::optional<uint64_t> Size(std::u16string_view path,
                             Status* status = nullptr);
// True for an existing file or folder (never for a link or a bad path).
bool Exists(std::u16string_view path);
bool IsFolder(std::u16string_view path);

}  // namespace platform::files

#endif  // TELVANE_PLATFORM_FILES_H_
