// The little-endian UTF-16 text files of the contacts folder (the group file
// and the sentence file): a byte-order mark, then lines ending in "\r\n".
//
// Reading skips the first two bytes whatever they hold (the byte-order mark
// of a sound file) and splits the rest the way the program's line reader
// does: a line is at most kMaxLineChars characters and ends after its line
// feed; a longer line comes back in pieces of kMaxLineChars characters, each
// piece a line of its own. A last odd byte is dropped. Nothing is decoded
// beyond taking pairs of bytes as UTF-16 units, so any bytes are accepted.
#ifndef TELVANE_CONTACTS_WIDE_TEXT_FILE_H_
#define TELVANE_CONTACTS_WIDE_TEXT_FILE_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace contacts {

inline constexpr size_t kMaxLineChars = 259;
inline constexpr char16_t kByteOrderMark = 0xFEFF;

// The lines of a file's bytes (line breaks kept, as read).
std::vector<std::u16string> SplitWideLines(std::string_view bytes);

// The byte-order mark and `text` as UTF-16LE bytes.
std::string WideFileBytes(std::u16string_view text);

// Reads a whole device file (platform::files::ReadWhole): kNotFound when it
// does not exist; another failure, with `bytes` empty, when it exists but
// cannot be read whole.
platform::Status ReadWideFile(std::u16string_view device_path,
                              std::string* bytes);

// Replaces (or creates) a device file with `bytes` in one step
// (platform::files::WriteFileAtomically): a crash or a failure leaves the
// old file or the new one, whole, and a failure is reported with its cause.
// A read-only file is not replaced (kAccessDenied).
platform::Status WriteWideFileBytes(std::u16string_view device_path,
                                    std::string_view bytes);
// The same with WideFileBytes(text).
platform::Status WriteWideFile(std::u16string_view device_path,
                               std::u16string_view text);

}  // namespace contacts

#endif  // TELVANE_CONTACTS_WIDE_TEXT_FILE_H_
