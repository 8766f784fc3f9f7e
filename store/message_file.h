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
// Durability: records are committed to storage when appended, each with a
// note (store/journal.h) that says where it was filed; a save writes the
// new index and a note vouching for it, commits them, and only then points
// the header to it. A crash at any moment leaves the last completed save
// readable, and the notes after it bring back what was filed since.
//
// One writer: a document is written by one MessageFile at a time, in any
// process. Opening for writing (and Create) takes the exclusive writer lock
// of the lock file beside the document (path + ".lock",
// platform/file_lock.h) and holds it until Close; a second writer is
// refused at once (kBusy, naming the holder). Readers take no writer lock;
// they read the header under the lock file's header slot, which a writer
// holds while it rewrites the header, so a reader always starts from a
// whole header and a saved index.
//
// Padding: while a document is open, the file may run past its logical end
// (the end of the last record or index written) with zeros, written ahead in
// chunks so that committing an append overwrites space the file already has
// instead of growing it (the commit then need not update the file's size).
// FlushHeader and Close truncate the file to its logical end, so a saved or
// closed document holds no padding. A document left padded by a crash reads
// fine: Open takes the whole file as written, the zeros stay as dead space
// until compaction.
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

#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/status.h"
#include "store/journal.h"

namespace store {

inline constexpr size_t kFileHeaderSize = 120;
inline constexpr size_t kNodeRecordSize = 104;
inline constexpr size_t kIndexBlockSize = 20;
// A new file's empty index sits at kFileHeaderSize; records come after it.
inline constexpr uint32_t kFirstRecordOffset =
    kFileHeaderSize + kIndexBlockSize;
inline constexpr uint32_t kFormatVersion = 3;
// Pieces of the index text are converted and written this many wide
// characters at a time.
inline constexpr size_t kIndexPieceChars = 102400;

// The registry key (current user) whose values, named by a document's full
// device path, remember the index that was current before the last save.
inline constexpr char16_t kIndexRegistryKey[] = u"Software\\Pelicorde\\Index";

// Record types.
inline constexpr uint32_t kRecordCompressed = 3;  // every record written now
inline constexpr uint32_t kRecordLegacyRaw0 = 0;  // read only: raw, masked body
inline constexpr uint32_t kRecordLegacyRaw1 = 1;
// Bodies are compressed with zlib at this level, one stream per body.
inline constexpr int kCompressionLevel = 5;

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

// The 104-byte node record, kept unmasked in memory. On disk the key field
// holds the key t and the texts are masked with ~t; in memory (after
// ReadRecord) the key field holds the mask ~t itself, which is what unmasks
// an older record's raw body. Writes always take a fresh key, so callers
// never set it.
struct NodeRecord {
  std::array<uint8_t, kNodeRecordSize> bytes{};

  uint32_t type() const;
  void set_type(uint32_t type);
  std::u16string author() const;  // 16 bytes at 4
  void set_author(std::u16string_view author);
  double date() const;  // OLE date at 20
  void set_date(double date);
  uint32_t key() const;      // at 28 (the mask, see above)
  bool has_payload() const;  // flag at 32
  void set_has_payload(bool has);
  std::u16string sender() const;  // 52 bytes at 36, NUL kept
  void set_sender(std::u16string_view sender);
  // The same with the code page given (one the caller has just read).
  void set_sender(std::u16string_view sender, uint32_t code_page);
  std::u16string password() const;  // 12 bytes at 88
  void set_password(std::u16string_view password);
};

// One tree item of an index, in pre-order.
struct IndexEntry {
  int depth = 0;  // 0 for root items
  std::u16string title;
  uint32_t record_offset = 0;     // 0 for the Recycle Bin
  uint32_t image = kImageFolder;  // 1..5 as in the tree (never 70/71)
};

// What opening a document found, and what it did about it.
struct LoadReport {
  bool used_fallback_index = false;  // the header's index was unreadable
  // Damage found in the index that was loaded, and in the notes.
  std::vector<std::string> problems;
  uint32_t header_index = 0;  // the index the header points to
  uint32_t index_used = 0;    // the index the tree was loaded from
  uint64_t index_end = 0;     // where that index ends
  // A save whose index and note were committed but whose header write never
  // happened (a crash in between): its index was used.
  bool used_noted_index = false;
  // What the notes after the index brought back (or, opened for reading
  // only, would bring back).
  int recovered_messages = 0;
  int recovered_folders = 0;
  int recovered_edits = 0;  // nodes that got the record an edit wrote
  // The phone's copies of the messages put back whose answer (take it out
  // of the phone's Inbox) a crash may have kept from going out: the caller
  // takes them out of the Inbox, so that each is kept once.
  std::vector<PhoneCopy> released;
  // Records filed after the save whose bytes no longer match their note.
  int bad_records = 0;
  // After the last note: bytes of a write that was cut short, or records an
  // older writer appended without notes.
  uint64_t unnoted_bytes = 0;
  // Intact message records that nothing reaches: neither the index in use
  // nor a note. Counted when the document is damaged or has unnoted
  // records; `telvane zud recover` gathers them into "\Recovered".
  int unreached_messages = 0;
  // Where a copy of the damaged file was kept before the first write to it
  // (empty when none was needed or the document was opened for reading).
  std::u16string damaged_copy;

  // True when something was found that the user must hear about: the
  // header's index could not be used, the index or the notes are damaged,
  // or messages are unreachable.
  bool damaged() const {
    return used_fallback_index || !problems.empty() || bad_records > 0 ||
           unreached_messages > 0;
  }
};

// What the notes of one stretch of a document say (ScanNotes).
struct NoteScan {
  struct Entry {
    uint64_t at = 0;  // where the note lies
    Note note;
  };
  std::vector<Entry> notes;  // sound notes, in file order
  // Every record met, each [offset, end).
  std::vector<std::pair<uint32_t, uint32_t>> records;
  // Records with no note after them and something after them: written by
  // an older writer.
  std::vector<std::pair<uint32_t, uint32_t>> unnoted_records;
  // A record with no note that is the last thing written (only zeros
  // follow): a write cut short by a crash when the writer leaves notes,
  // else an older writer's last record.
  std::optional<std::pair<uint32_t, uint32_t>> last_unnoted_record;
  // Bytes that are neither records, indexes, notes nor zeros (a write cut
  // short, or damage).
  uint64_t unknown_bytes = 0;
  // Bytes after the last note that are not zero.
  uint64_t unnoted_bytes = 0;
};

// How a document is opened.
enum class Access {
  kWrite,  // "rb+c", the writer lock held until Close
  kRead,   // "rb", no writer lock, nothing is ever written
};

class MessageFile {
 public:
  MessageFile();
  ~MessageFile();
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;

  // Creates (truncating) a document at the device path with the header
  // template (author and password set, the rest zero): 140 bytes, an empty
  // index at 120. The file is open for writing afterwards. kBusy when
  // another writer holds the document.
  platform::Status Create(std::u16string_view path,
                          const FileHeader& header_template);
  // Opens an existing document and reads its header. The magic and the
  // version are not checked. Fails (and stays closed) when the file cannot
  // be opened or is shorter than a header; for writing also with kBusy
  // (the message names the holder) when another writer holds it. `lock` is
  // a writer lock already held for this path (see CloseKeepingLock).
  platform::Status Open(std::u16string_view path,
                        Access access = Access::kWrite,
                        std::unique_ptr<platform::LockFile> lock = nullptr);
  // Truncates the padding (committing that), closes the handle (without
  // writing the header: FlushHeader first) and resets every field; the
  // writer lock is released.
  void Close();
  // The same, but the writer lock stays held and is handed to the caller
  // (to reopen the document, or to replace its file, with no other writer
  // in between). Null when the file was not open for writing.
  std::unique_ptr<platform::LockFile> CloseKeepingLock();
  bool IsOpen() const;
  // Open for writing and writes allowed (see ForbidWrites).
  bool writable() const { return file_ != nullptr && writer_ && !forbidden_; }
  // Until Close every write fails with kAccessDenied, and SaveIndex and
  // FlushHeader fail too (a damaged document that could not be copied
  // first stays as it is); the writer lock stays held.
  void ForbidWrites() { forbidden_ = true; }
  // The writer lock file of a document.
  static std::u16string LockPath(std::u16string_view path);
  // Who holds the document for writing, as the holder named itself
  // ("pelicorde.exe pid 4242"); empty when nobody does.
  static std::string WriterOf(std::u16string_view path);
  const std::u16string& path() const { return path_; }
  // The end of the last record or index written (the file's size once it
  // is saved or closed; 0 when no file is open).
  uint64_t logical_end() const {
    Guard guard(const_cast<MessageFile&>(*this));
    return logical_end_;
  }

  FileHeader& header() { return header_; }
  const FileHeader& header() const { return header_; }
  void MarkHeaderDirty() { header_dirty_ = true; }
  bool header_dirty() const { return header_dirty_; }
  void MarkModified() { modified_ = true; }
  bool modified() const { return modified_; }

  // Failures: kIoError when the host refuses a read or write;
  // kInvalidArgument for a damaged document (a length or offset that does
  // not fit the file, a corrupt body); kAccessDenied when no file is open.

  // Reads the record at `offset` (which must lie after the first index
  // block and wholly inside the file).
  std::optional<NodeRecord> ReadRecord(uint32_t offset,
                                       platform::Status* status = nullptr);
  // The body bytes (multibyte, with their terminating NUL as stored) of the
  // record at `offset`, read with `record` (from ReadRecord). A record
  // without the payload flag has an empty body. A compressed body must
  // inflate to exactly its stored raw length; a stream that is cut short
  // without being corrupt (older writers cut bodies whose compressed form
  // passed 2048 bytes) yields the part it holds. Fails for a corrupt stream,
  // one that inflates to more or ends early, or an unknown record type.
  std::optional<std::string> ReadPayload(uint32_t offset,
                                         const NodeRecord& record,
                                         platform::Status* status = nullptr);
  // Appends the record (type 0/1 become 3, 2 becomes 4) and, when `body` is
  // given, its payload (multibyte bytes including the terminating NUL,
  // compressed whole whatever its size); sets the record's payload flag
  // accordingly and the modified flag. Record and payload are committed to
  // storage together. Returns the record's offset. The record has no note:
  // a crash before the next save leaves it unreached (the program files
  // through AppendNotedRecord).
  std::optional<uint32_t> AppendRecord(NodeRecord record,
                                       std::optional<std::string_view> body,
                                       platform::Status* status = nullptr);
  // The same with `note` (kFiled or kRetagged) written after the payload in
  // the same write and committed with it; the note's target fields are
  // filled in here (offset, size and CRC-32 of record and payload).
  std::optional<uint32_t> AppendNotedRecord(
      NodeRecord record, std::optional<std::string_view> body, Note note,
      platform::Status* status = nullptr);
  // Appends a note on its own (kWithdrawn), committing it when asked.
  platform::Status AppendNote(const Note& note, bool commit);
  // Rewrites the record in place with a fresh key and commits it, with a
  // kRewritten note that vouches for the new bytes (so a record filed since
  // the last save is still recovered after its author or password
  // changed). The offset must be one ReadRecord accepts.
  // Bulk filing (an import of thousands of messages): with false, appended
  // records are written but committed only by the next SaveIndex (or a later
  // committing append), so a crash may lose the records of the batch - never
  // what the last save holds. True (the default) commits every append.
  void set_commit_appends(bool commit) { commit_appends_ = commit; }
  platform::Status RewriteRecord(uint32_t offset, const NodeRecord& record);

  // Writes the tree (pre-order entries) as a new index when the document is
  // modified (nothing happens otherwise), commits it, remembers the previous
  // index offset in the registry and points the header (in memory) at the
  // new one, marking it dirty: FlushHeader must follow for the save to take
  // effect on disk. A failure leaves the header as it was. CR, LF and NUL
  // in titles, and tabs at their start, are written as spaces (they would
  // break the index's lines).
  platform::Status SaveIndex(const std::vector<IndexEntry>& entries);
  // Reads the current index (falling back to the one the registry
  // remembers when the header's cannot be read; the header's offset then
  // changes in memory). Text damage (no final NUL, a line count that
  // differs from the item count) loads the sound part and is listed in the
  // report. Entries carry the depth as stored (the count of leading tabs);
  // images 70/71 come back as 4/5, any other image as stored.
  std::optional<std::vector<IndexEntry>> LoadIndex(
      LoadReport* report = nullptr, platform::Status* status = nullptr);
  // Reads the index at `offset` (which a note vouched for); the header's
  // index offset becomes it, in memory. Fills the report's index fields.
  std::optional<std::vector<IndexEntry>> LoadIndexAt(
      uint32_t offset, LoadReport* report, platform::Status* status = nullptr);
  // Walks the file from `from` to its end: sound notes in order, records
  // with no note after them, bytes that are nothing known. Notes are
  // checked whole (their own checksum); their targets are not (CheckTarget).
  // `thorough` steps over unknown bytes one at a time looking for records
  // (for salvage) instead of jumping to the next note.
  std::optional<NoteScan> ScanNotes(uint64_t from,
                                    platform::Status* status = nullptr,
                                    bool thorough = false);
  // True when the `size` bytes at `offset` lie inside the file and have the
  // CRC-32 `crc` (what a note recorded of its target).
  bool CheckTarget(uint32_t offset, uint32_t size, uint32_t crc);
  // Writes the header when it is dirty (modify date now, fresh key) and
  // cuts the padding, committing both.
  platform::Status FlushHeader();
  // Writes a compacted copy of the document (only the records the entries
  // reach, the header's author and password) to `new_path` and commits it;
  // older uncompressed records are rewritten compressed. Fails, removing the
  // partial copy, when a record the entries reach cannot be read, and
  // refuses to write over the open file itself. This object is unchanged.
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
  // One zlib stream, reset for every body (defined in message_file.cc).
  struct Deflater;

  // Creates the file with its header and empty index; commits it only when
  // `commit` is set.
  platform::Status CreateLocked(std::u16string_view path,
                                const FileHeader& header_template, bool commit);
  // Appends to *out the record as it is stored (type 0/1 become 3, 2
  // becomes 4, the payload flag set, masked with `key`, which must be a
  // fresh one) followed by its payload: `body` compressed when given, else
  // `raw_payload` as it is.
  platform::Status EncodeRecord(NodeRecord record,
                                std::optional<std::string_view> body,
                                std::string_view raw_payload, uint32_t key,
                                std::string* out);
  platform::Status CheckOpen() const;
  // True when a file is open; otherwise false, with *status (when given)
  // saying so.
  bool Ready(platform::Status* status) const;
  // The logical end: reads are checked against it (never fails).
  std::optional<uint64_t> FileSize(platform::Status* status);
  // After bytes were written up to `end`: when that passed the padded size,
  // writes zeros from `end` on (an eighth of the document, kPadChunkMin to
  // kPadChunkMax). Commits nothing.
  platform::Status PadAfter(uint64_t end);

  static constexpr uint64_t kPadChunkMin = 64 * 1024;
  static constexpr uint64_t kPadChunkMax = 1024 * 1024;

  // AppendRecord and AppendNotedRecord (`note` null: none).
  std::optional<uint32_t> Append(NodeRecord record,
                                 std::optional<std::string_view> body,
                                 Note* note, platform::Status* status);
  // Writes `bytes` at the logical end, pads and commits (when appends
  // commit); on success the logical end moves past them.
  platform::Status AppendBytes(std::string_view bytes, bool commit);
  // The bytes of the record at `offset` and its payload, from the record
  // as stored (`stored`: masked, as read from the file).
  std::optional<uint32_t> RecordExtent(uint32_t offset,
                                       const NodeRecord& stored,
                                       platform::Status* status);
  // Fails unless the file is open for writing and writes are allowed.
  platform::Status CheckWritable() const;
  // Takes the writer lock of `path` (or uses `held`); kBusy names the
  // holder.
  platform::Status TakeWriterLock(std::u16string_view path,
                                  std::unique_ptr<platform::LockFile> held);
  // Reads the header bytes at 0 under the lock file's header slot.
  platform::Status ReadHeader(FileHeader* header);

  mutable std::recursive_mutex mutex_;
  std::unique_ptr<platform::files::File> file_;
  // The writer lock (slot 0 exclusive while open for writing); for a
  // reader, the lock file when it could be opened (slot 1 shared around
  // header reads). Null otherwise.
  std::unique_ptr<platform::LockFile> lock_;
  bool writer_ = false;     // opened for writing: lock_ holds the writer slot
  bool forbidden_ = false;  // ForbidWrites
  std::u16string path_;
  std::u16string registry_name_;  // value name under kIndexRegistryKey
  FileHeader header_;
  bool modified_ = false;
  bool header_dirty_ = false;
  bool commit_appends_ = true;
  uint64_t logical_end_ = 0;    // where the next record or index goes
  uint64_t physical_size_ = 0;  // the file's size, padding included
  // Kept between appends so that a body costs no allocation: the deflate
  // state (about 256 KB, made on first use) and the bytes of one append.
  std::unique_ptr<Deflater> deflater_;
  std::string append_buffer_;
};

}  // namespace store

#endif  // TELVANE_STORE_MESSAGE_FILE_H_
