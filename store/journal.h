// Notes: what the writer of a document leaves in its dead space so that a
// crash loses nothing.
//
// Records are appended the moment a node is made, but the tree that reaches
// them is written only at the next save. So that a crash in between loses
// no message, every append carries a note in the same write (and the same
// commit): "the record at X, of Y bytes with checksum Z, was filed under
// this folder path with this title and image". Every save leaves a note
// after its index too. Notes lie where no index points, so a reader that
// knows only the plain format never sees them; compaction drops them with
// the rest of the dead space.
//
// At open, the notes after the index in use say what happened since that
// save: the records filed after it are put back where they were filed, a
// save whose header write never happened is taken as the current one, and
// a filing that was withdrawn stays out. docs/formats/zud.md has the layout.
//
// A note is trusted only whole: its checksum must match, and the checksum
// it records for its target (the record, or the index) must match the
// bytes there. A torn or forged note is skipped and reported.
#ifndef TELVANE_STORE_JOURNAL_H_
#define TELVANE_STORE_JOURNAL_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace store {

// "ZudNote" and 0x1A: no record (type 0..4) or index block (0) starts so.
inline constexpr char kNoteMagic[8] = {'Z', 'u', 'd', 'N', 'o', 't', 'e', 0x1A};
inline constexpr size_t kNoteMagicSize = 8;
inline constexpr size_t kNoteHeaderSize = 64;  // up to the texts
inline constexpr size_t kMaxNoteSize = 1 << 20;

enum class NoteKind : uint32_t {
  // A new record was filed as a node (a message, a draft, a folder).
  kFiled = 1,
  // An index was written; the target is the whole index.
  kSaved = 2,
  // The filing of the target record did not take place after all (its
  // verdict came too late): recovery leaves it out.
  kWithdrawn = 3,
  // A node's record was replaced by the target (an edited body, an updated
  // draft): the node that had the previous record gets the new one.
  kRetagged = 4,
  // The target record was rewritten in place (a new author or password):
  // its bytes now have the note's CRC-32.
  kRewritten = 5,
};

// Flags of a note.
inline constexpr uint32_t kNoteInRecycleBin = 1;  // the path starts at the
                                                  // Recycle Bin
// The filing went with the answer that takes the message out of the phone's
// Inbox: when it is put back after a crash, the phone's copy (the one with
// the note's delivery time and fingerprint) goes, as the answer would have
// taken it.
inline constexpr uint32_t kNoteReleased = 2;

struct Note {
  NoteKind kind = NoteKind::kFiled;
  uint32_t target_offset = 0;    // the record (or the index block)
  uint32_t target_size = 0;      // its bytes: record and payload, or the index
  uint32_t target_crc = 0;       // CRC-32 of those bytes as written
  uint32_t image = 0;            // kFiled, kRetagged: the node's image (1..3)
  uint32_t flags = 0;            // kNoteInRecycleBin
  uint32_t previous_offset = 0;  // kRetagged: the record replaced
  // kFiled with kNoteReleased: the message's delivery time as the phone's
  // store gave it (FILETIME), and MessageFingerprint of its sender and text.
  uint64_t delivery_time = 0;
  uint32_t fingerprint = 0;
  // kFiled: the parent folder's titles from the root (or from the Recycle
  // Bin, with kNoteInRecycleBin); empty for a root item.
  std::vector<std::u16string> path;
  std::u16string title;  // kFiled, kRetagged
};

// What tells a message in the phone's store from another with the same
// delivery time: the CRC-32 of its sender, a NUL, and its text, as UTF-16LE.
uint32_t MessageFingerprint(std::u16string_view sender,
                            std::u16string_view body);

// The phone's copy of a received message: its delivery time as the phone's
// store gave it (FILETIME) and the fingerprint of what the program got.
struct PhoneCopy {
  uint64_t delivery_time = 0;
  uint32_t fingerprint = 0;
};

// CRC-32 (zlib's polynomial) of `size` bytes, continuing from `crc` (0 to
// start).
uint32_t Crc32(const void* data, size_t size, uint32_t crc = 0);
// The CRC-32 of A followed by B, from the CRC of each and B's length.
uint32_t Crc32Combine(uint32_t crc_a, uint32_t crc_b, uint64_t size_b);

// The note's bytes, its texts masked with ~key. Texts are cut to what a
// title may hold; a note that would pass kMaxNoteSize keeps only as much of
// its path as fits (the deepest folders are dropped; recovery then files
// the node higher up rather than not at all).
std::string EncodeNote(const Note& note, uint32_t key);

// Decodes the note at the start of `bytes` (which begin with the magic).
// Nullopt when the size is out of range or runs past `bytes`, the checksum
// does not match, or the contents do not parse. `*size` gets the note's
// size when it decodes.
std::optional<Note> DecodeNote(std::string_view bytes, size_t* size);

}  // namespace store

#endif  // TELVANE_STORE_JOURNAL_H_
