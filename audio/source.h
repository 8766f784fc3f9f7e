// Where the player's bytes come from: a device file, a host file, memory
// or an HTTP stream, behind one small reader interface so that the
// recogniser, the WAV reader and the decoders work on any of them (and
// tests and fuzzers feed them bytes from memory).
//
// Thread-compatible: a Source is used by one thread at a time.
#ifndef TELVANE_AUDIO_SOURCE_H_
#define TELVANE_AUDIO_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace platform::files {
class File;
}

namespace audio {

class Source {
 public:
  virtual ~Source() = default;
  // Reads up to `size` bytes; fewer only at the end of the data (or on an
  // error, which ends the data). 0 means the end.
  virtual size_t Read(void* buffer, size_t size) = 0;
  // Moves to an absolute offset; false when the source cannot go there
  // (past the end is allowed for files; reads then give 0).
  virtual bool Seek(uint64_t offset) = 0;
  // The total size, when the source knows it.
  virtual std::optional<uint64_t> Size() = 0;
  // The current offset.
  virtual uint64_t Tell() const = 0;
  // Why the data ended early: the first read that failed, or ok while every
  // read got what the source holds.
  virtual platform::Status failure() const { return platform::Status::Ok(); }

  // Reads until `size` bytes or the end; the number read.
  size_t ReadFully(void* buffer, size_t size);
  // Skips `size` bytes (by seeking when the size is known); false when the
  // data ends first.
  bool Skip(uint64_t size);
};

// A file on the device, by its device path, or nullptr with *status (when
// given) saying "cannot open PATH: " and why, with the code of the cause
// (kNotFound for a missing file, kAccessDenied for a folder, ...).
std::unique_ptr<Source> OpenDeviceFile(std::u16string_view device_path,
                                       platform::Status* status = nullptr);
// A file on the host, by its host path; failures as for OpenDeviceFile.
std::unique_ptr<Source> OpenHostFile(const std::filesystem::path& path,
                                     platform::Status* status = nullptr);
// A copy of `bytes`.
std::unique_ptr<Source> MemorySource(std::vector<uint8_t> bytes);

}  // namespace audio

#endif  // TELVANE_AUDIO_SOURCE_H_
