// Locks that processes of a device take on a small file beside what they
// guard: one writer of a document at a time, and readers that never see a
// header half written.
//
// A LockFile is a plain device file (created when missing, never removed)
// with a few numbered slots. Each slot can be held shared or exclusive; the
// locks are the host's open-file-description locks, so
//  - they belong to this LockFile object: two objects in one process
//    conflict like two processes do, and closing any other descriptor of the
//    file releases nothing;
//  - they end with the object, and with the process however it ends
//    (SIGKILL included): a lock left by a dead process is simply free;
//  - they are advisory: only callers that take them are kept out.
// The slots lie far past the file's contents, so the file itself can hold
// a line of text naming the current holder ("pelicorde.exe pid 4242") for
// the message a refused caller shows.
//
// Waiting is always bounded: TryLock never waits, Lock waits at most the
// time given (polling, so a holder that dies mid-wait frees the slot for
// the next poll).
//
// Thread safety: one thread uses a LockFile at a time.
#ifndef TELVANE_PLATFORM_FILE_LOCK_H_
#define TELVANE_PLATFORM_FILE_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace platform {

enum class LockKind { kShared, kExclusive };

class LockFile {
 public:
  // Opens (creating when missing) the lock file at the device path. Fails
  // with the host's reason when it can be neither opened nor created.
  static std::unique_ptr<LockFile> Open(std::u16string_view device_path,
                                        Status* status = nullptr);
  ~LockFile();  // releases every slot this object holds
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Takes `slot` (0..63) at once: kBusy when another holder's lock
  // conflicts. Taking a slot this object already holds changes its kind.
  Status TryLock(int slot, LockKind kind);
  // The same, waiting up to `timeout_ms` for a conflicting holder to let go
  // (kBusy when it does not).
  Status Lock(int slot, LockKind kind, uint32_t timeout_ms);
  void Unlock(int slot);

  // The holder's line of text (empty when none was written).
  std::string ReadHolder();
  // Replaces the file's text with `holder`.
  Status WriteHolder(std::string_view holder);

 private:
  LockFile(UniqueFd fd, std::string host_path);

  UniqueFd fd_;  // the object's locks go with it
  std::string host_path_;
};

// "<program> pid <pid>": how a holder names itself, from /proc/self.
std::string ThisProcessAsHolder();

}  // namespace platform

#endif  // TELVANE_PLATFORM_FILE_LOCK_H_
