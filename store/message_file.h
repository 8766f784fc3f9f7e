// MessageFile: one ".zud" document on disk.
//
// Layout (docs/formats/zud.md has the byte tables): a 120-byte header at
// offset 0 that points to the current index; then, appended in order, node
// records (104 bytes each, with a compressed body after a record whose
// payload flag is set) and index blocks (the tree's shape and titles, one
// written at every save). Records never move. Old indexes and the records of
// deleted nodes stay as dead space until the file is compacted.
//
// Masking: texts in the header and in records, and the index text, are
// XOR-ed word by word with the complement of a key stored beside them; every
// write takes a fresh key, so the same record never looks the same twice.
//
// Durability: records are committed to storage when appended; a save writes
// the new index and commits it before the header points to it, so a crash
// at any moment leaves the last completed save (or the one before it, which
// the registry remembers) readable.
//
// Damage: a document is outside input. Every length read from the file is
// checked against the file's size before anything is allocated or read; a
// damaged index or record fails that operation cleanly.
//
// Thread safety: every operation takes the file's own re-entrant lock; use
// Guard to keep a sequence of calls (read a record, then its payload)
// together.
#ifndef TELVANE_STORE_MESSAGE_FILE_H_
#define TELVANE_STORE_MESSAGE_FILE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/status.h"

namespace store {

inline constexpr size_t kFileHeaderSize = 120;
inline constexpr size_t kNodeRecordSize = 104;
inline constexpr size_t kIndexBlockSize = 20;
inline constexpr uint32_t kFormatVersion = 3;
// Pieces of the index text are converted and written this many wide
// characters at a time.
inline constexpr size_t kIndexPieceChars = 102400;

// Record types.
inline constexpr uint32_t kRecordCompressed = 3;  // every record written now
inline constexpr uint32_t kRecordLegacyRaw0 = 0;  // read only: raw, masked body
inline constexpr uint32_t kRecordLegacyRaw1 = 1;

// Node kinds, as the tree's image numbers.
enum NodeImage : uint32_t {
  kImageFolder = 1,
  kImageMessageRead = 2,
  kImageMessageUnread = 3,
  kImageRecycleBinEmpty = 4,
  kImageRecycleBinFull = 5,
  kImageUp = 6,  // list view only, never stored
};
// How the Recycle Bin's image is stored in an index's item table.
inline constexpr uint32_t kStoredRecycleBinEmpty = 70;
inline constexpr uint32_t kStoredRecycleBinFull = 71;

// XORs `word_count` consecutive 32-bit little-endian words of `area` with
// `mask`. The same call masks and unmasks.
void MaskWords(uint32_t mask, uint8_t* area, size_t word_count);

// The 120-byte header, kept unmasked in memory.
struct FileHeader {
  std::array<uint8_t, kFileHeaderSize> bytes{};

  uint32_t index_offset() const;
  void set_index_offset(uint32_t offset);
  double modify_date() const;  // OLE automation date, local time
  void set_modify_date(double date);
  double build_date() const;
  void set_build_date(double date);
  uint32_t key() const;
  // The 12-byte password field and the 16-byte author field as wide text
  // (converted from the device's ANSI code page; a full field has no NUL).
  std::u16string password() const;
  std::u16string author() const;
  // Stores the text converted to the code page, cut to what fits whole
  // characters into the field, and clears the rest of the field.
  void set_password(std::u16string_view password);
  void set_author(std::u16string_view author);
  uint32_t version() const;
  bool has_magic() const;  // "Zorel" at offset 64
};

// The 104-byte node record, kept unmasked in memory.
struct NodeRecord {
  std::array<uint8_t, kNodeRecordSize> bytes{};

  uint32_t type() const;
  void set_type(uint32_t type);
  std::u16string author() const;                 // 16 bytes at 4
  void set_author(std::u16string_view author);
  double date() const;                           // OLE date at 20
  void set_date(double date);
  uint32_t key() const;                          // at 28
  bool has_payload() const;                      // flag at 32
  void set_has_payload(bool has);
  std::u16string sender() const;                 // 52 bytes at 36
  void set_sender(std::u16string_view sender);
  std::u16string password() const;               // 12 bytes at 88
  void set_password(std::u16string_view password);
};

// One tree item of an index, in pre-order.
struct IndexEntry {
  int depth = 0;              // 0 for root items
  std::u16string title;
  uint32_t record_offset = 0; // 0 for the Recycle Bin
  uint32_t image = kImageFolder;  // 1..5 as in the tree (never 70/71)
};

// What LoadIndex or a verification found wrong and skipped.
struct LoadReport {
  bool used_fallback_index = false;  // the header's index was unreadable
  std::vector<std::string> problems;
};

class MessageFile {
 public:
  MessageFile();
  ~MessageFile();
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;

  // Creates (truncating) a document at the device path with the header
  // template (author and password set, the rest zero): 140 bytes, an empty
  // index at 120. The file is open afterwards.
  platform::Status Create(std::u16string_view path, const FileHeader& header_template);
  // Opens an existing document for update and reads its header.
  platform::Status Open(std::u16string_view path);
  void Close();
  bool IsOpen() const;
  const std::u16string& path() const { return path_; }

  FileHeader& header() { return header_; }
  const FileHeader& header() const { return header_; }
  void MarkHeaderDirty() { header_dirty_ = true; }
  bool header_dirty() const { return header_dirty_; }
  void MarkModified() { modified_ = true; }
  bool modified() const { return modified_; }

  std::optional<NodeRecord> ReadRecord(uint32_t offset,
                                       platform::Status* status = nullptr);
  // The body bytes (multibyte, with their terminating NUL as stored) of the
  // record at `offset`, read with `record` (from ReadRecord).
  std::optional<std::string> ReadPayload(uint32_t offset, const NodeRecord& record,
                                         platform::Status* status = nullptr);
  // Appends the record (type 0/1 become 3) and, when `body` is given, its
  // payload (multibyte bytes including the terminating NUL); sets the
  // record's payload flag accordingly. Returns the record's offset.
  std::optional<uint32_t> AppendRecord(NodeRecord record,
                                       std::optional<std::string_view> body,
                                       platform::Status* status = nullptr);
  // Rewrites the record in place with a fresh key.
  platform::Status RewriteRecord(uint32_t offset, const NodeRecord& record);

  // Writes the tree (pre-order entries) as a new index when the document is
  // modified, commits it, remembers the previous index offset in the
  // registry and points the header (in memory) at the new one.
  platform::Status SaveIndex(const std::vector<IndexEntry>& entries);
  // Reads the current index (falling back to the one the registry
  // remembers when the header's cannot be read).
  std::optional<std::vector<IndexEntry>> LoadIndex(LoadReport* report = nullptr,
                                                   platform::Status* status = nullptr);
  // Writes the header when it is dirty (modify date now, fresh key).
  platform::Status FlushHeader();
  // Writes a compacted copy of the document (only the records the entries
  // reach, the header's author and password) to `new_path`.
  platform::Status CompactTo(std::u16string_view new_path,
                             const std::vector<IndexEntry>& entries);

  // The file's own re-entrant lock, for sequences of calls.
  class Guard {
   public:
    explicit Guard(MessageFile& file) : lock_(file.mutex_) {}
   private:
    std::unique_lock<std::recursive_mutex> lock_;
  };

 private:
  mutable std::recursive_mutex mutex_;
  std::unique_ptr<platform::files::File> file_;
  std::u16string path_;
  FileHeader header_;
  bool modified_ = false;
  bool header_dirty_ = false;
};

}  // namespace store

#endif  // TELVANE_STORE_MESSAGE_FILE_H_
