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

  // Reads up to `size` bytes at the stream's position into `buffer`; *got
  // is the number read, short only at the end of the file. A read the host
  // refuses (an I/O error, a stream not open for reading, a closed file)
  // fails with its cause; *got then counts the bytes that came before the
  // failure, which are in `buffer` but are not the file's whole content
  // there. A short read is never a failure, and a failure is never only
  // short: a caller that needs `size` bytes checks both.
  Status Read(void* buffer, size_t size, size_t* got);
  // Like fwrite: the number of bytes transferred; short on an error.
  size_t Write(const void* buffer, size_t size);
  // Reads up to `size` bytes at `offset` straight from the file, without
  // moving the stream's position or using its buffer (buffered writes are
  // written first, and a failure to write them fails the read). *got and
  // the failures as for Read.
  Status ReadAt(void* buffer, size_t size, uint64_t offset, size_t* got);
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
  // for that). After Close() reads, Seek and Flush fail, writes transfer
  // nothing, Tell is -1 and Size nullopt; a second Close() is ok.
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

// Reads a whole file into *bytes. kNotFound when it does not exist (or a
// folder on its path does not); any other failure when it exists but cannot
// be read whole: a folder, link or anything but a plain file
// (kAccessDenied), no permission (kAccessDenied), an I/O error (kIoError),
// or a file that ends before, or goes on past, the size it had when it was
// opened (kIoError). On any failure *bytes is empty: a part is never
// reported as the whole.
Status ReadWhole(std::u16string_view path, std::string* bytes);

// Replaces the file at `path` with `bytes`, or creates it, so that a crash
// or a failure at any point leaves the old file or the new one, whole:
//  1. the bytes go to a new file beside it under a name nobody else uses
//     (".NAME.PID-N.tmp"), which is committed to storage (fdatasync);
//  2. that file is renamed over `path` in one step;
//  3. the folder is committed, so that the rename survives a power loss.
// The new file keeps the old one's permission bits (a new file: 0666 less
// the umask). A failure before step 2 removes the new file, leaves the old
// one untouched and is reported with its real cause; a failure of step 3
// is reported with the new file already in place. Only a crash before step
// 2 can leave the new file behind under its temporary name, which nothing
// reads. Refused with nothing changed: a read-only file (kAccessDenied),
// a folder or anything but a plain file at `path` (kAccessDenied), a
// missing folder (kNotFound).
Status WriteFileAtomically(std::u16string_view path, std::string_view bytes);

// Renames a file or a folder. An existing file at `to` is replaced in one
// step (a crash leaves one or the other, whole), unless it is read-only
// (kAccessDenied); an existing folder at `to`, or any existing entry when
// `from` is a folder, is kAlreadyExists. A name that differs only in case
// renames the entry to that case. The folder entries are committed. A
// missing `from` is kNotFound, as is a missing folder of `to`.
Status Rename(std::u16string_view from, std::u16string_view to);

// Copies a file (and its read-only state). With fail_if_exists an existing
// target is kAlreadyExists; otherwise it is replaced. The copy is written
// and committed as by WriteFileAtomically, so a crash leaves the old or the
// new file, whole (a crash in the middle may leave a ".NAME.PID-N.tmp" file
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

// ---------------------------------------------------------------------------
// Fault injection
//
// Every call of this file that reads, writes or commits a file goes through
// one narrow seam, so that a test can fail any of them as the host would,
// or cut a transfer short, and then look at what a save left behind (as
// LevelDB's fault-injection Env and SQLite's test VFS do). The test-facing
// side is platform/testing/file_faults.h. The calls, by kind:
//
//   kCreate      File::Open in a writing mode (create or truncate); the new
//                file of WriteFileAtomically and Copy
//   kRead        File::Read, File::ReadAt; every read of ReadWhole and of
//                Copy's source
//   kWrite       File::Write; the writes of WriteFileAtomically and Copy
//   kFlush       File::Flush handing buffered data to the host
//   kSync        committing a file's data to storage: File::Flush in a "c"
//                mode, WriteFileAtomically and Copy before their rename
//   kTruncate    File::Truncate
//   kRename      Rename; the step of WriteFileAtomically and Copy that puts
//                the new file in place
//   kSyncFolder  committing a folder entry: after a created file's first
//                committing Flush, a rename or an atomic replace
//
// What the seam promises:
//  - Without an injector every call costs one predictable branch.
//  - With one, the injector is asked just before the call is made, on the
//    calling thread, with the host path and, for reads and writes, the
//    number of bytes the call is about to move. It may let the call go on,
//    fail it with an errno value, or (reads and writes) let only a prefix
//    of the bytes move.
//  - A failed call has no effect on the host, and the caller sees exactly
//    what it would see had the host refused with that errno: the same
//    Status, the same cleanup. (Data a failed File::Flush did not hand on
//    stays in the stream's buffer, as after a real failed flush.)
//  - A cut write puts only the prefix into the file and reports the short
//    count (File::Write returns it; the atomic replace and Copy fail with
//    kIoError). A cut read returns only the prefix, as a short read of the
//    host would: File::Read and File::ReadAt report it as the end of the
//    file, ReadWhole and Copy read on, and a read cut to nothing looks like
//    the end of the file to all of them. A failed read fails File::Read,
//    File::ReadAt, ReadWhole and Copy with that errno's status.
//  - Nothing else (Resolve, Find, Attributes, Delete, closing, removing a
//    failed save's new file) goes through the seam.

enum class FileCall : uint8_t {
  kCreate,
  kRead,
  kWrite,
  kFlush,
  kSync,
  kTruncate,
  kRename,
  kSyncFolder,
};
inline constexpr size_t kFileCallKinds = 8;
const char* FileCallName(FileCall call);  // "create", "read", ...

// What the seam does with one call.
struct FileFault {
  int error = 0;  // not 0: the call fails with this errno value
  // Reads and writes: move at most this many bytes and report that count.
  std::optional<size_t> transfer;
};

class FileFaultInjector {
 public:
  // Asked before every call of the seam. `size` is the number of bytes a
  // read or write is about to move (0 for the other kinds).
  // REQUIRES: safe to call from several threads at once.
  virtual FileFault Before(FileCall call, const std::filesystem::path& host,
                           size_t size) = 0;

 protected:
  ~FileFaultInjector() = default;
};

// Installs `injector` for the whole process (nullptr removes it) and
// returns the one installed before.
// REQUIRES: no call of this file runs on another thread meanwhile, and the
// injector lives until it is removed.
FileFaultInjector* SetFileFaultInjector(FileFaultInjector* injector);

}  // namespace platform::files

#endif  // TELVANE_PLATFORM_FILES_H_
