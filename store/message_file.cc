#include "store/message_file.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/time.h"
#include "store/little_endian.h"

namespace store {
namespace {

using platform::ErrorCode;
using platform::Status;
using platform::files::File;

// Header fields.
constexpr size_t kHeaderIndexOffset = 8;
constexpr size_t kHeaderModifyDate = 12;
constexpr size_t kHeaderKey = 20;
constexpr size_t kHeaderPassword = 24;
constexpr size_t kHeaderPasswordSize = 12;
constexpr size_t kHeaderAuthor = 36;
constexpr size_t kHeaderAuthorSize = 16;
constexpr size_t kHeaderMaskedWords = 7;  // password and author, 24..51
constexpr size_t kHeaderBuildDate = 52;
constexpr size_t kHeaderMagic = 64;
constexpr char kMagic[] = "Zorel";
constexpr size_t kMagicSize = 5;
constexpr size_t kHeaderVersion = 72;

// Record fields.
constexpr size_t kRecordType = 0;
constexpr size_t kRecordAuthor = 4;
constexpr size_t kRecordAuthorSize = 16;
constexpr size_t kRecordDate = 20;
constexpr size_t kRecordKey = 28;
constexpr size_t kRecordPayloadFlag = 32;
constexpr size_t kRecordSender = 36;
constexpr size_t kRecordSenderSize = 52;
constexpr size_t kRecordPassword = 88;
constexpr size_t kRecordPasswordSize = 12;

// Index block fields.
constexpr size_t kIndexKey = 4;
constexpr size_t kIndexCount = 8;
constexpr size_t kIndexTextLength = 12;
constexpr size_t kItemSize = 8;

// The text of a field: up to its first NUL, or the whole field.
std::u16string FieldText(const uint8_t* field, size_t size) {
  const uint8_t* end = std::find(field, field + size, 0);
  return platform::MultiByteToWide(std::string_view(
      reinterpret_cast<const char*>(field), static_cast<size_t>(end - field)));
}

// Stores the text converted to the code page (the device's when none is
// given), at most `limit` bytes of whole characters, and clears the rest of
// the field.
void SetFieldText(uint8_t* field, size_t size, size_t limit,
                  std::u16string_view text, std::optional<uint32_t> code_page) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char16_t c) { return c < 0x80; });
  if (ascii) {
    // Every code page stores ASCII as the same single bytes, so the
    // device's (a settings look-up) is not needed.
    std::memset(field, 0, size);
    const size_t count = std::min(text.size(), limit);
    for (size_t i = 0; i < count; ++i) field[i] = static_cast<uint8_t>(text[i]);
    return;
  }
  if (!code_page) code_page = platform::AnsiCodePage();
  std::string bytes = platform::WideToMultiByte(text, *code_page);
  if (bytes.size() > limit) {
    // Character by character (a surrogate pair is one character) until the
    // next one would not fit.
    bytes.clear();
    size_t i = 0;
    while (i < text.size()) {
      size_t n = 1;
      if (text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < text.size() &&
          text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        n = 2;
      }
      std::string one =
          platform::WideToMultiByte(text.substr(i, n), *code_page);
      if (bytes.size() + one.size() > limit) break;
      bytes += one;
      i += n;
    }
  }
  std::memset(field, 0, size);
  std::memcpy(field, bytes.data(), bytes.size());
}

// Keys: the tick count, moved on when it has not changed since the last key
// this process handed out, so that two writes never share a key. NextKeys
// hands out `count` consecutive keys at once (the first is returned), as
// that many calls in a row would.
uint32_t NextKeys(uint32_t count) {
  static std::atomic<uint32_t> last{0};
  uint32_t previous = last.load();
  uint32_t key;
  do {
    key = platform::TickCount();
    if (static_cast<int32_t>(key - previous) <= 0) key = previous + 1;
  } while (!last.compare_exchange_weak(previous, key + (count - 1)));
  return key;
}

uint32_t NextKey() { return NextKeys(1); }

double NowOleDate() {
  return platform::SystemTimeToVariantTime(platform::CurrentLocalTime())
      .value_or(0.0);
}

void MaskHeader(uint8_t* bytes) {
  MaskWords(~LoadU32(bytes + kHeaderKey), bytes + kHeaderPassword,
            kHeaderMaskedWords);
}

void MaskRecord(uint8_t* bytes, uint32_t mask) {
  MaskWords(mask, bytes + kRecordAuthor, kRecordAuthorSize / 4);
  MaskWords(mask, bytes + kRecordSender, kRecordSenderSize / 4);
  MaskWords(mask, bytes + kRecordPassword, kRecordPasswordSize / 4);
}

Status Damaged(const std::string& what) {
  return Status(ErrorCode::kInvalidArgument, "damaged document: " + what);
}

Status ShortIo(const char* what) {
  return Status(ErrorCode::kIoError, std::string("short ") + what);
}

void SetStatus(Status* out, Status status) {
  if (out != nullptr) *out = std::move(status);
}

Status WriteAll(File& file, const void* data, size_t size) {
  if (size == 0) return Status::Ok();
  if (file.Write(data, size) != size) return ShortIo("write");
  return Status::Ok();
}

Status ReadAll(File& file, void* data, size_t size) {
  if (size == 0) return Status::Ok();
  size_t got = 0;
  if (Status read = file.Read(data, size, &got); !read.ok()) return read;
  if (got != size) return ShortIo("read");
  return Status::Ok();
}

// The frame of a record's payload (docs/formats/zud.md, "Payloads"), right
// after the record:
//   type 3:       Z:u32 R:u32 zlib-stream[Z]
//   types 0, 1:   L:u32 masked-bytes[L]
// A record of any other type that says it has a payload is measured like
// types 0 and 1. Every reader of a payload decodes its frame once, with
// DecodePayloadFrame, before it reads or allocates anything for the bytes
// that follow the lengths.
struct PayloadFrame {
  uint64_t lengths_at = 0;    // right after the record
  uint32_t lengths_size = 0;  // 8 (Z and R) or 4 (L)
  uint32_t stored = 0;        // Z or L: the bytes after the lengths
  uint32_t raw = 0;           // R (type 3)

  uint64_t data_at() const { return lengths_at + lengths_size; }
  // The whole payload: lengths and stored bytes.
  uint64_t size() const { return lengths_size + uint64_t{stored}; }
};

std::string BodyOf(uint32_t offset) {
  return "body of the record at " + std::to_string(offset);
}

// Whether the payload of a record of `type` can be read.
bool ReadablePayloadType(uint32_t type) {
  return type == kRecordCompressed || type == kRecordLegacyRaw0 ||
         type == kRecordLegacyRaw1;
}

Status UnknownRecordType(uint32_t offset, uint32_t type) {
  return Damaged("record at " + std::to_string(offset) + " has unknown type " +
                 std::to_string(type));
}

// The frame of the payload of the record at `offset`, of `type`, in a file
// whose contents end at `end`: damaged when the lengths lie outside the file
// or the stored bytes run past its end. `read(void* out, size_t size,
// uint64_t at)` reads the lengths (which lie before `end`) and returns a
// Status, whose failure is returned as it is.
template <typename ReadLengths>
std::optional<PayloadFrame> DecodePayloadFrame(uint32_t offset, uint32_t type,
                                               uint64_t end, ReadLengths read,
                                               Status* status) {
  PayloadFrame frame;
  frame.lengths_at = uint64_t{offset} + kNodeRecordSize;
  frame.lengths_size = type == kRecordCompressed ? 8 : 4;
  if (frame.data_at() > end) {
    SetStatus(status, Damaged(BodyOf(offset) + " lies outside the file"));
    return std::nullopt;
  }
  uint8_t lengths[8] = {};
  if (Status io = read(lengths, frame.lengths_size, frame.lengths_at);
      !io.ok()) {
    SetStatus(status, std::move(io));
    return std::nullopt;
  }
  frame.stored = LoadU32(lengths);
  if (type == kRecordCompressed) frame.raw = LoadU32(lengths + 4);
  if (frame.stored > end - frame.data_at()) {
    SetStatus(status,
              Damaged(BodyOf(offset) + " runs past the end of the file"));
    return std::nullopt;
  }
  return frame;
}

// The registry remembers, per document, the index before the last save.
std::optional<uint32_t> RememberedIndex(std::u16string_view name) {
  std::optional<platform::RegistryKey> key = platform::RegistryKey::Open(
      platform::RegistryRoot::kCurrentUser, kIndexRegistryKey);
  if (!key) return std::nullopt;
  return key->QueryDword(name);
}

// Best effort: the registry value is a fallback, never needed for a save.
void RememberIndex(std::u16string_view name, uint32_t offset) {
  std::optional<platform::RegistryKey> key = platform::RegistryKey::Create(
      platform::RegistryRoot::kCurrentUser, kIndexRegistryKey);
  if (key) key->SetDword(name, offset).IgnoreError();
}

void ForgetIndex(std::u16string_view name) {
  std::optional<platform::RegistryKey> key = platform::RegistryKey::Open(
      platform::RegistryRoot::kCurrentUser, kIndexRegistryKey);
  if (key) key->DeleteValue(name).IgnoreError();
}

// The document's full device path as the file system stores it.
std::u16string RegistryName(std::u16string_view path) {
  if (std::optional<std::filesystem::path> host =
          platform::files::Resolve(path)) {
    if (std::optional<std::u16string> device =
            platform::files::ToDevicePath(*host)) {
      return *device;
    }
  }
  return std::u16string(path);
}

// Appends a title as one index line may hold it.
void AppendLineTitle(std::u16string_view title, std::u16string* out) {
  const size_t start = out->size();
  out->append(title);
  bool leading = true;
  for (size_t i = start; i < out->size(); ++i) {
    char16_t& c = (*out)[i];
    if (c == u'\r' || c == u'\n' || c == u'\0' || (leading && c == u'\t')) {
      c = u' ';
    } else {
      leading = false;
    }
  }
}

// Writes an index for `entries` at `position` (the document's logical
// end) without committing it. On success *offset is where its block starts
// and *end where the index ends.
Status WriteIndex(File& file, uint64_t position,
                  const std::vector<IndexEntry>& entries,
                  const std::vector<uint32_t>* record_offsets, uint32_t* offset,
                  uint64_t* end, uint32_t* crc = nullptr) {
  if (position + kIndexBlockSize > UINT32_MAX) {
    return Status(ErrorCode::kIoError, "document too large");
  }
  const uint32_t t = NextKey();
  const uint32_t mask = ~t;
  if (entries.size() > UINT32_MAX / kItemSize) {
    return Status(ErrorCode::kInvalidArgument, "too many items");
  }
  Status status = file.Seek(static_cast<int64_t>(position), SEEK_SET);
  if (!status.ok()) return status;
  uint8_t block[kIndexBlockSize] = {};
  StoreU32(block + kIndexKey, t);
  StoreU32(block + kIndexCount, static_cast<uint32_t>(entries.size()));
  status = WriteAll(file, block, sizeof block);
  if (!status.ok()) return status;

  uint64_t text_length = 0;
  uint32_t text_crc = 0;  // of the text and table as written
  std::vector<uint8_t> table(entries.size() * kItemSize);
  if (!entries.empty()) {
    const uint32_t code_page = platform::AnsiCodePage();
    std::u16string piece;
    piece.reserve(kIndexPieceChars);
    std::string carry;  // 0 to 3 bytes not yet masked and written
    auto flush_piece = [&](bool last) -> Status {
      std::string bytes =
          std::move(carry) + platform::WideToMultiByte(piece, code_page);
      piece.clear();
      const size_t whole = bytes.size() / 4 * 4;
      MaskWords(mask, reinterpret_cast<uint8_t*>(bytes.data()), whole / 4);
      const size_t count = last ? bytes.size() : whole;
      carry.assign(bytes, count, std::string::npos);
      text_length += count;
      text_crc = Crc32(bytes.data(), count, text_crc);
      return WriteAll(file, bytes.data(), count);
    };
    for (size_t i = 0; i < entries.size(); ++i) {
      const IndexEntry& entry = entries[i];
      const size_t tabs = static_cast<size_t>(std::max(entry.depth, 0));
      const size_t line_size = tabs + entry.title.size() + 2;
      if (!piece.empty() && piece.size() + line_size >= kIndexPieceChars) {
        status = flush_piece(false);
        if (!status.ok()) return status;
      }
      piece.append(tabs, u'\t');
      AppendLineTitle(entry.title, &piece);
      piece += u"\r\n";
      uint32_t image = entry.image;
      uint32_t record_offset = record_offsets != nullptr ? (*record_offsets)[i]
                                                         : entry.record_offset;
      if (image == kImageRecycleBinEmpty || image == kImageRecycleBinFull) {
        image = image == kImageRecycleBinEmpty ? kStoredRecycleBinEmpty
                                               : kStoredRecycleBinFull;
        record_offset = 0;
      }
      StoreU32(&table[i * kItemSize], record_offset);
      StoreU32(&table[i * kItemSize + 4], image);
    }
    piece += u'\0';
    status = flush_piece(true);
    if (!status.ok()) return status;
  }
  status = WriteAll(file, table.data(), table.size());
  if (!status.ok()) return status;
  if (position + kIndexBlockSize + text_length + table.size() > UINT32_MAX) {
    return Status(ErrorCode::kIoError, "document too large");
  }
  text_crc = Crc32(table.data(), table.size(), text_crc);
  StoreU32(block + kIndexTextLength, static_cast<uint32_t>(text_length));
  status = file.Seek(static_cast<int64_t>(position), SEEK_SET);
  if (status.ok()) status = WriteAll(file, block, sizeof block);
  if (!status.ok()) return status;
  *offset = static_cast<uint32_t>(position);
  *end = position + kIndexBlockSize + text_length + table.size();
  if (crc != nullptr) {
    *crc = Crc32Combine(Crc32(block, sizeof block), text_crc,
                        text_length + table.size());
  }
  return Status::Ok();
}

struct LoadedIndex {
  std::vector<IndexEntry> entries;
  uint32_t text_length = 0;
  uint64_t end = 0;  // where the index's item table ends
};

// Reads the index whose block is at `offset`. Fails when the block, the text
// or the item table does not lie inside the file; damage inside the text
// loads what is sound and is listed in `report`.
std::optional<LoadedIndex> ReadIndexAt(File& file, uint64_t file_size,
                                       uint32_t offset, LoadReport& report,
                                       Status* status) {
  const std::string where = "index at " + std::to_string(offset);
  if (offset < kFileHeaderSize ||
      uint64_t{offset} + kIndexBlockSize > file_size) {
    SetStatus(status, Damaged(where + " lies outside the file"));
    return std::nullopt;
  }
  uint8_t block[kIndexBlockSize];
  Status io = file.Seek(offset, SEEK_SET);
  if (io.ok()) io = ReadAll(file, block, sizeof block);
  if (!io.ok()) {
    SetStatus(status, io);
    return std::nullopt;
  }
  const uint32_t mask = ~LoadU32(block + kIndexKey);
  const uint32_t count = LoadU32(block + kIndexCount);
  const uint32_t text_length = LoadU32(block + kIndexTextLength);
  const uint64_t room = file_size - offset - kIndexBlockSize;
  if (uint64_t{text_length} + uint64_t{count} * kItemSize > room) {
    SetStatus(status, Damaged(where + ": text and item table (" +
                              std::to_string(text_length) + " bytes, " +
                              std::to_string(count) +
                              " items) run past the end of the file"));
    return std::nullopt;
  }
  std::string text(text_length, '\0');
  std::vector<uint8_t> table(size_t{count} * kItemSize);
  io = ReadAll(file, text.data(), text.size());
  if (io.ok()) io = ReadAll(file, table.data(), table.size());
  if (!io.ok()) {
    SetStatus(status, io);
    return std::nullopt;
  }

  LoadedIndex loaded;
  loaded.text_length = text_length;
  loaded.end = uint64_t{offset} + kIndexBlockSize + text_length +
               uint64_t{count} * kItemSize;
  if (text_length == 0) {
    if (count != 0) {
      report.problems.push_back(where + " has " + std::to_string(count) +
                                " items but no text; loaded empty");
    }
    return loaded;
  }
  MaskWords(mask, reinterpret_cast<uint8_t*>(text.data()), text.size() / 4);
  size_t end = text.find('\0');
  if (end == std::string::npos) {
    report.problems.push_back(where + ": text is not NUL-terminated");
    end = text.size();
  } else if (end + 1 != text.size()) {
    report.problems.push_back(where + ": text ends early at byte " +
                              std::to_string(end));
  }
  text.resize(end);
  const std::u16string wide = platform::MultiByteToWide(text);
  text = std::string();

  // Lines end at CR (an LF after it is skipped); a last line without CR
  // counts only when it holds something. Only lines with a table entry are
  // kept, so a text of nothing but CRs costs no more than its item table.
  std::vector<std::u16string_view> lines;
  size_t line_count = 0;
  auto add_line = [&](size_t from, size_t to) {
    if (line_count++ < count) lines.emplace_back(wide.data() + from, to - from);
  };
  size_t start = 0;
  for (size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] != u'\r') continue;
    add_line(start, i);
    if (i + 1 < wide.size() && wide[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < wide.size()) add_line(start, wide.size());
  if (line_count != count) {
    report.problems.push_back(where + " has " + std::to_string(line_count) +
                              " lines for " + std::to_string(count) +
                              " items; loaded " + std::to_string(lines.size()));
  }
  const size_t n = lines.size();
  loaded.entries.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    std::u16string_view line = lines[i];
    const size_t tabs = std::min(line.find_first_not_of(u'\t'), line.size());
    IndexEntry entry;
    entry.depth = static_cast<int>(std::min<size_t>(tabs, INT32_MAX));
    entry.title = std::u16string(line.substr(tabs));
    entry.record_offset = LoadU32(&table[i * kItemSize]);
    entry.image = LoadU32(&table[i * kItemSize + 4]);
    if (entry.image == kStoredRecycleBinEmpty) {
      entry.image = kImageRecycleBinEmpty;
    } else if (entry.image == kStoredRecycleBinFull) {
      entry.image = kImageRecycleBinFull;
    }
    loaded.entries.push_back(std::move(entry));
  }
  return loaded;
}

// Inflates a zlib stream that should give exactly `raw_length` bytes. The
// output grows with what the stream really yields, so a hostile length
// allocates no more than the stream inflates to.
std::optional<std::string> Inflate(const uint8_t* data, size_t size,
                                   uint32_t raw_length, Status* status) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    SetStatus(status, Status(ErrorCode::kIoError, "zlib unavailable"));
    return std::nullopt;
  }
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  std::string out;
  size_t produced = 0;
  uint8_t spare;  // one byte past the raw length: any output there is damage
  int rc;
  for (;;) {
    if (produced < raw_length) {
      const size_t want = std::min<size_t>(
          raw_length, std::max<size_t>(produced * 2, size_t{16384}));
      out.resize(want);
      stream.next_out = reinterpret_cast<Bytef*>(out.data()) + produced;
      stream.avail_out = static_cast<uInt>(want - produced);
    } else {
      stream.next_out = &spare;
      stream.avail_out = 1;
    }
    rc = inflate(&stream, Z_NO_FLUSH);
    produced = stream.total_out;
    if (rc != Z_OK || produced > raw_length) break;
  }
  const bool input_used = stream.avail_in == 0;
  inflateEnd(&stream);
  if (produced > raw_length) {
    SetStatus(status, Damaged("body inflates to more than its length"));
    return std::nullopt;
  }
  if (rc == Z_STREAM_END && produced != raw_length) {
    SetStatus(status, Damaged("body inflates to " + std::to_string(produced) +
                              " bytes, not " + std::to_string(raw_length)));
    return std::nullopt;
  }
  if (rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && input_used)) {
    SetStatus(status, Damaged("corrupt compressed body"));
    return std::nullopt;
  }
  // Whole, or a sound stream cut short: the bytes it holds.
  out.resize(produced);
  return out;
}

// Reads a document for compaction through a window that grows while the
// reads move forward (records in tree order mostly lie in file order) and
// shrinks again after a jump back, so that a tree in file order costs a few
// large reads and one in any other order costs no more than a small read per
// record.
class SourceReader {
 public:
  SourceReader(File& file, uint64_t file_size)
      : file_(file), file_size_(file_size) {}

  // The `size` bytes at `offset` (which the caller has checked lie inside
  // the file), valid until the next call.
  std::optional<std::string_view> View(uint64_t offset, size_t size,
                                       Status* status) {
    if (offset >= window_start_ && size <= valid_ &&
        offset - window_start_ <= valid_ - size) {
      return std::string_view(window_.data() + (offset - window_start_), size);
    }
    const bool forward = valid_ != 0 && offset >= window_start_ &&
                         offset - window_start_ <= valid_ + read_size_;
    read_size_ = forward ? std::min(read_size_ * 2, kMaxRead) : kMinRead;
    const uint64_t room = file_size_ > offset ? file_size_ - offset : 0;
    const size_t want = std::max(
        size, static_cast<size_t>(std::min<uint64_t>(read_size_, room)));
    if (window_.size() < want) window_.resize(want);
    valid_ = 0;
    size_t got = 0;
    Status read = file_.ReadAt(window_.data(), want, offset, &got);
    if (!read.ok() || got < size) {
      SetStatus(status, read.ok() ? ShortIo("read") : std::move(read));
      return std::nullopt;
    }
    window_start_ = offset;
    valid_ = got;
    return std::string_view(window_.data(), size);
  }

 private:
  static constexpr size_t kMinRead = 16 * 1024;
  static constexpr size_t kMaxRead = 1024 * 1024;

  File& file_;
  const uint64_t file_size_;
  std::string window_;
  uint64_t window_start_ = 0;
  size_t valid_ = 0;  // bytes of window_ read from window_start_
  size_t read_size_ = kMinRead;
};

// Compacted records are gathered and written this many bytes at a time.
constexpr size_t kCompactChunk = 1024 * 1024;

// One item of a document met while walking it from some offset.
struct WalkItem {
  enum Kind { kRecord, kIndex, kNote, kZeros } kind = kRecord;
  uint64_t size = 0;  // bytes the item takes (a record with its payload)
  Note note;          // kNote
};

// Walks a document item by item, reading through a window so that a walk
// costs a few large reads. Every size it takes from the file is checked
// against the end.
class FileWalker {
 public:
  FileWalker(File& file, uint64_t end) : file_(file), end_(end) {}

  // The item at `at`, or nullopt when the bytes there are none of a
  // record, an index, a note or zeros.
  std::optional<WalkItem> ItemAt(uint64_t at) {
    std::string_view head = View(at, kNodeRecordSize + 8);
    if (head.size() < 4) return std::nullopt;
    WalkItem item;
    if (head.size() >= kNoteMagicSize &&
        std::memcmp(head.data(), kNoteMagic, kNoteMagicSize) == 0) {
      if (head.size() < 12) return std::nullopt;
      const uint32_t size = Load(head, 8);
      if (size > kMaxNoteSize || size > end_ - at) return std::nullopt;
      std::string_view bytes = View(at, size);
      size_t decoded = 0;
      std::optional<Note> note = DecodeNote(bytes, &decoded);
      if (!note) return std::nullopt;
      item.kind = WalkItem::kNote;
      item.size = decoded;
      item.note = std::move(*note);
      return item;
    }
    if (IsZero(
            head.substr(0, std::min<size_t>(head.size(), kIndexBlockSize)))) {
      item.kind = WalkItem::kZeros;
      item.size = ZeroRun(at);
      return item;
    }
    const uint32_t first = Load(head, 0);
    if (first == 0 && head.size() >= kIndexBlockSize && Load(head, 16) == 0) {
      const uint64_t size = kIndexBlockSize + uint64_t{Load(head, 12)} +
                            uint64_t{Load(head, 8)} * kItemSize;
      if (size <= end_ - at) {
        item.kind = WalkItem::kIndex;
        item.size = size;
        return item;
      }
    }
    if (first <= 4 && first != 2 && head.size() >= kNodeRecordSize &&
        Load(head, 100) == 0 && Load(head, kRecordPayloadFlag) <= 1) {
      uint64_t size = kNodeRecordSize;
      if (Load(head, kRecordPayloadFlag) == 1) {
        const uint64_t words = first == kRecordCompressed || first == 4 ? 2 : 1;
        if (head.size() < kNodeRecordSize + 4 * words) return std::nullopt;
        size += 4 * words + Load(head, kNodeRecordSize);
      }
      if (size > end_ - at) return std::nullopt;
      item.kind = WalkItem::kRecord;
      item.size = size;
      return item;
    }
    return std::nullopt;
  }

  // Where the next note's magic lies at or after `from`.
  std::optional<uint64_t> FindMagic(uint64_t from) {
    const std::string_view magic(kNoteMagic, kNoteMagicSize);
    while (from < end_) {
      std::string_view chunk = View(from, kChunk);
      if (chunk.size() < kNoteMagicSize) return std::nullopt;
      size_t found = chunk.find(magic);
      if (found != std::string_view::npos) return from + found;
      from += chunk.size() - (kNoteMagicSize - 1);
    }
    return std::nullopt;
  }

  // The bytes from `from` up to and including the last one in [from, to)
  // that is not zero (0 when all are zero).
  uint64_t NonZeroSpan(uint64_t from, uint64_t to) {
    uint64_t last = from;
    for (uint64_t at = from; at < to;) {
      std::string_view chunk =
          View(at, static_cast<size_t>(std::min<uint64_t>(kChunk, to - at)));
      if (chunk.empty()) break;
      for (size_t i = chunk.size(); i-- > 0;) {
        if (chunk[i] != 0) {
          last = at + i + 1;
          break;
        }
      }
      at += chunk.size();
    }
    return last - from;
  }

 private:
  static constexpr size_t kChunk = 1 << 20;

  static uint32_t Load(std::string_view bytes, size_t at) {
    return LoadU32(reinterpret_cast<const uint8_t*>(bytes.data() + at));
  }
  static bool IsZero(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return c == 0; });
  }

  // The length of the run of zeros that starts at `at`.
  uint64_t ZeroRun(uint64_t at) {
    uint64_t run = 0;
    while (at + run < end_) {
      std::string_view chunk = View(
          at + run,
          static_cast<size_t>(std::min<uint64_t>(kChunk, end_ - at - run)));
      if (chunk.empty()) break;
      size_t n = 0;
      while (n < chunk.size() && chunk[n] == 0) ++n;
      run += n;
      if (n < chunk.size()) break;
    }
    return run;
  }

  // Up to `size` bytes at `offset` (fewer at the end), valid until the
  // next call.
  std::string_view View(uint64_t offset, size_t size) {
    if (offset >= end_) return {};
    size = static_cast<size_t>(std::min<uint64_t>(size, end_ - offset));
    if (offset >= start_ && offset + size <= start_ + valid_) {
      return std::string_view(window_.data() + (offset - start_), size);
    }
    const size_t want = static_cast<size_t>(
        std::min<uint64_t>(std::max(size, kChunk), end_ - offset));
    if (window_.size() < want) window_.resize(want);
    size_t got = 0;
    // The walk has no failure of its own: a read that fails ends the
    // bytes it sees where it failed, as the end of the file would, and
    // what lies beyond is reported as not reached.
    file_.ReadAt(window_.data(), want, offset, &got).IgnoreError();
    start_ = offset;
    valid_ = got;
    return std::string_view(window_.data(), std::min(size, got));
  }

  File& file_;
  const uint64_t end_;
  std::string window_;
  uint64_t start_ = 0;
  size_t valid_ = 0;
};

}  // namespace

struct MessageFile::Deflater {
  z_stream stream{};
  bool ready = false;

  Deflater() = default;
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  ~Deflater() {
    if (ready) deflateEnd(&stream);
  }

  // Appends to *out the zlib stream of `data`, byte for byte what
  // compress2 at kCompressionLevel gives. False (nothing appended) when
  // zlib fails.
  bool Compress(std::string_view data, std::string* out) {
    if (!ready) {
      // deflateInit as compress2 calls it: the default window, memory
      // level and strategy.
      if (deflateInit(&stream, kCompressionLevel) != Z_OK) return false;
      ready = true;
    } else if (deflateReset(&stream) != Z_OK) {
      Drop();
      return false;
    }
    const size_t start = out->size();
    uLong left = compressBound(static_cast<uLong>(data.size()));
    out->resize(start + left);
    // Fed exactly as compress2 feeds it.
    const uInt max = static_cast<uInt>(-1);
    uLong source_left = static_cast<uLong>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out->data() + start);
    stream.avail_out = 0;
    stream.next_in =
        const_cast<Bytef*>(reinterpret_cast<const Bytef*>(data.data()));
    stream.avail_in = 0;
    int rc;
    do {
      if (stream.avail_out == 0) {
        stream.avail_out = left > max ? max : static_cast<uInt>(left);
        left -= stream.avail_out;
      }
      if (stream.avail_in == 0) {
        stream.avail_in =
            source_left > max ? max : static_cast<uInt>(source_left);
        source_left -= stream.avail_in;
      }
      rc = deflate(&stream, source_left != 0 ? Z_NO_FLUSH : Z_FINISH);
    } while (rc == Z_OK);
    if (rc != Z_STREAM_END) {
      out->resize(start);
      Drop();
      return false;
    }
    out->resize(start + stream.total_out);
    return true;
  }

  // After a failure the stream is made afresh next time.
  void Drop() {
    deflateEnd(&stream);
    stream = z_stream{};
    ready = false;
  }
};

void MaskWords(uint32_t mask, uint8_t* area, size_t word_count) {
  if constexpr (std::endian::native == std::endian::little) {
    // The same words, in a form the compiler vectorises.
    for (size_t i = 0; i < word_count; ++i) {
      uint32_t word;
      std::memcpy(&word, area + i * 4, 4);
      word ^= mask;
      std::memcpy(area + i * 4, &word, 4);
    }
  } else {
    for (size_t i = 0; i < word_count; ++i) {
      uint8_t* word = area + i * 4;
      StoreU32(word, LoadU32(word) ^ mask);
    }
  }
}

// FileHeader

uint32_t FileHeader::index_offset() const {
  return LoadU32(&bytes[kHeaderIndexOffset]);
}
void FileHeader::set_index_offset(uint32_t offset) {
  StoreU32(&bytes[kHeaderIndexOffset], offset);
}
double FileHeader::modify_date() const {
  return LoadDouble(&bytes[kHeaderModifyDate]);
}
void FileHeader::set_modify_date(double date) {
  StoreDouble(&bytes[kHeaderModifyDate], date);
}
double FileHeader::build_date() const {
  return LoadDouble(&bytes[kHeaderBuildDate]);
}
void FileHeader::set_build_date(double date) {
  StoreDouble(&bytes[kHeaderBuildDate], date);
}
uint32_t FileHeader::key() const { return LoadU32(&bytes[kHeaderKey]); }
std::u16string FileHeader::password() const {
  return FieldText(&bytes[kHeaderPassword], kHeaderPasswordSize);
}
std::u16string FileHeader::author() const {
  return FieldText(&bytes[kHeaderAuthor], kHeaderAuthorSize);
}
void FileHeader::set_password(std::u16string_view password) {
  SetFieldText(&bytes[kHeaderPassword], kHeaderPasswordSize,
               kHeaderPasswordSize, password, std::nullopt);
}
void FileHeader::set_author(std::u16string_view author) {
  SetFieldText(&bytes[kHeaderAuthor], kHeaderAuthorSize, kHeaderAuthorSize,
               author, std::nullopt);
}
uint32_t FileHeader::version() const { return LoadU32(&bytes[kHeaderVersion]); }
bool FileHeader::has_magic() const {
  return std::memcmp(&bytes[kHeaderMagic], kMagic, kMagicSize) == 0;
}

// NodeRecord

uint32_t NodeRecord::type() const { return LoadU32(&bytes[kRecordType]); }
void NodeRecord::set_type(uint32_t type) {
  StoreU32(&bytes[kRecordType], type);
}
std::u16string NodeRecord::author() const {
  return FieldText(&bytes[kRecordAuthor], kRecordAuthorSize);
}
void NodeRecord::set_author(std::u16string_view author) {
  SetFieldText(&bytes[kRecordAuthor], kRecordAuthorSize, kRecordAuthorSize,
               author, std::nullopt);
}
double NodeRecord::date() const { return LoadDouble(&bytes[kRecordDate]); }
void NodeRecord::set_date(double date) {
  StoreDouble(&bytes[kRecordDate], date);
}
uint32_t NodeRecord::key() const { return LoadU32(&bytes[kRecordKey]); }
bool NodeRecord::has_payload() const {
  return LoadU32(&bytes[kRecordPayloadFlag]) != 0;
}
void NodeRecord::set_has_payload(bool has) {
  StoreU32(&bytes[kRecordPayloadFlag], has ? 1 : 0);
}
std::u16string NodeRecord::sender() const {
  return FieldText(&bytes[kRecordSender], kRecordSenderSize);
}
void NodeRecord::set_sender(std::u16string_view sender) {
  // Always NUL-terminated: at most 51 bytes of text.
  SetFieldText(&bytes[kRecordSender], kRecordSenderSize, kRecordSenderSize - 1,
               sender, std::nullopt);
}
void NodeRecord::set_sender(std::u16string_view sender, uint32_t code_page) {
  SetFieldText(&bytes[kRecordSender], kRecordSenderSize, kRecordSenderSize - 1,
               sender, code_page);
}
std::u16string NodeRecord::password() const {
  return FieldText(&bytes[kRecordPassword], kRecordPasswordSize);
}
void NodeRecord::set_password(std::u16string_view password) {
  SetFieldText(&bytes[kRecordPassword], kRecordPasswordSize,
               kRecordPasswordSize, password, std::nullopt);
}

// MessageFile

MessageFile::MessageFile() = default;
MessageFile::~MessageFile() { Close(); }

bool MessageFile::Ready(Status* status) const {
  Status check = CheckOpen();
  if (check.ok()) return true;
  SetStatus(status, std::move(check));
  return false;
}

Status MessageFile::CheckOpen() const {
  if (file_ == nullptr) {
    return Status(ErrorCode::kAccessDenied, "no document is open");
  }
  return Status::Ok();
}

std::optional<uint64_t> MessageFile::FileSize(Status*) { return logical_end_; }

Status MessageFile::PadAfter(uint64_t end) {
  if (end <= physical_size_) return Status::Ok();
  // An eighth of the document, between 64 KiB and 1 MiB, and never past
  // what an offset can reach.
  const uint64_t chunk =
      std::clamp<uint64_t>(end / 8, kPadChunkMin, kPadChunkMax);
  const uint64_t target =
      std::max<uint64_t>(end, std::min<uint64_t>(end + chunk, UINT32_MAX));
  static const std::array<uint8_t, 4096> kZeros{};
  Status status = file_->Seek(static_cast<int64_t>(end), SEEK_SET);
  for (uint64_t at = end; status.ok() && at < target;) {
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(kZeros.size(), target - at));
    status = WriteAll(*file_, kZeros.data(), n);
    at += n;
  }
  // Zeros partly written still lie past the logical end: harmless.
  physical_size_ = status.ok() ? target : std::max(physical_size_, end);
  return status;
}

// Slots of the lock file beside a document.
constexpr int kWriterSlot = 0;  // exclusive while a writer has it open
constexpr int kHeaderSlot = 1;  // exclusive while the header is rewritten,
                                // shared while a reader reads it
// A header write takes microseconds; a reader or writer waits at most this
// long for the other.
constexpr uint32_t kHeaderLockWaitMs = 2000;

std::u16string MessageFile::LockPath(std::u16string_view path) {
  return std::u16string(path) + u".lock";
}

std::string MessageFile::WriterOf(std::u16string_view path) {
  if (!platform::files::Exists(LockPath(path))) return {};
  std::unique_ptr<platform::LockFile> lock =
      platform::LockFile::Open(LockPath(path));
  if (lock == nullptr) return {};
  if (lock->TryLock(kWriterSlot, platform::LockKind::kShared).ok()) {
    return {};  // nobody holds it
  }
  return lock->ReadHolder();
}

Status MessageFile::TakeWriterLock(std::u16string_view path,
                                   std::unique_ptr<platform::LockFile> held) {
  if (held != nullptr) {
    lock_ = std::move(held);
    return Status::Ok();
  }
  Status status;
  std::unique_ptr<platform::LockFile> lock =
      platform::LockFile::Open(LockPath(path), &status);
  if (lock == nullptr) {
    return Status(status.code(),
                  "cannot make the document's lock file: " + status.message());
  }
  status = lock->TryLock(kWriterSlot, platform::LockKind::kExclusive);
  if (status.code() == ErrorCode::kBusy) {
    std::string holder = lock->ReadHolder();
    if (holder.empty()) holder = "another program";
    return Status(ErrorCode::kBusy,
                  "the document is open for writing by " + holder);
  }
  if (!status.ok()) return status;
  // Best effort: the name only makes a refusal clearer.
  lock->WriteHolder(platform::ThisProcessAsHolder()).IgnoreError();
  lock_ = std::move(lock);
  return Status::Ok();
}

Status MessageFile::ReadHeader(FileHeader* header) {
  // A writer holds the document alone; a reader waits for a header write
  // in progress to end.
  const bool shared = lock_ != nullptr && !writer_;
  if (shared) {
    lock_->Lock(kHeaderSlot, platform::LockKind::kShared, kHeaderLockWaitMs)
        .IgnoreError();  // a writer that never lets go: read all the same
  }
  size_t got = 0;
  Status read = file_->ReadAt(header->bytes.data(), kFileHeaderSize, 0, &got);
  if (shared) lock_->Unlock(kHeaderSlot);
  if (!read.ok()) return read;
  if (got != kFileHeaderSize) return Damaged("shorter than a header");
  return Status::Ok();
}

Status MessageFile::CheckWritable() const {
  Status status = CheckOpen();
  if (!status.ok()) return status;
  if (!writable()) {
    return Status(ErrorCode::kAccessDenied, "the document is not writable");
  }
  return Status::Ok();
}

Status MessageFile::Create(std::u16string_view path,
                           const FileHeader& header_template) {
  Guard guard(*this);
  Close();
  Status status = TakeWriterLock(path, nullptr);
  if (!status.ok()) return status;
  status = CreateLocked(path, header_template, true);
  if (!status.ok()) lock_.reset();
  return status;
}

Status MessageFile::CreateLocked(std::u16string_view path,
                                 const FileHeader& header_template,
                                 bool commit) {
  Status status;
  std::unique_ptr<File> file = File::Open(path, "wb+c", &status);
  if (file == nullptr) return status;

  FileHeader header = header_template;
  const double now = NowOleDate();
  header.set_modify_date(now);
  header.set_build_date(now);
  StoreU32(&header.bytes[kHeaderVersion], kFormatVersion);
  std::memcpy(&header.bytes[kHeaderMagic], kMagic, kMagicSize);
  header.set_index_offset(kFileHeaderSize);
  StoreU32(&header.bytes[kHeaderKey], NextKey());

  std::array<uint8_t, kFileHeaderSize + kIndexBlockSize> bytes{};
  std::memcpy(bytes.data(), header.bytes.data(), kFileHeaderSize);
  MaskHeader(bytes.data());
  status = WriteAll(*file, bytes.data(), bytes.size());
  if (status.ok() && commit) status = file->Flush();
  if (!status.ok()) return status;

  file_ = std::move(file);
  writer_ = true;
  path_ = std::u16string(path);
  registry_name_ = RegistryName(path);
  header_ = header;
  logical_end_ = physical_size_ = bytes.size();
  // A value left by an earlier file of this name means nothing here.
  ForgetIndex(registry_name_);
  return Status::Ok();
}

Status MessageFile::Open(std::u16string_view path, Access access,
                         std::unique_ptr<platform::LockFile> lock) {
  Guard guard(*this);
  Close();
  Status status;
  if (access == Access::kWrite) {
    status = TakeWriterLock(path, std::move(lock));
    if (!status.ok()) return status;
  } else {
    // A reader reads the header under the header slot when it can; a
    // folder it may not write in leaves it without (and a writer there
    // could not have made the lock file either).
    lock_ = platform::LockFile::Open(LockPath(path));
  }
  std::unique_ptr<File> file =
      File::Open(path, access == Access::kWrite ? "rb+c" : "rb", &status);
  if (file == nullptr) {
    lock_.reset();
    return status;
  }
  file_ = std::move(file);
  writer_ = access == Access::kWrite;
  FileHeader header;
  status = ReadHeader(&header);
  std::optional<uint64_t> size = file_->Size();
  if (status.ok() && !size) {
    status = Status(ErrorCode::kIoError, "cannot size file");
  }
  if (!status.ok()) {
    file_.reset();
    lock_.reset();
    writer_ = false;
    return status;
  }
  MaskHeader(header.bytes.data());
  path_ = std::u16string(path);
  registry_name_ = RegistryName(path);
  header_ = header;
  // Zeros left past the last record by a crash count as dead space.
  logical_end_ = physical_size_ = *size;
  return Status::Ok();
}

void MessageFile::Close() { CloseKeepingLock().reset(); }

std::unique_ptr<platform::LockFile> MessageFile::CloseKeepingLock() {
  Guard guard(*this);
  if (file_ != nullptr) {
    // A closed document holds no padding.
    std::optional<uint64_t> size = file_->Size();
    if (writable() && size && *size > logical_end_ &&
        file_->Truncate(logical_end_).ok()) {
      file_->Flush().IgnoreError();
    }
    file_->Close().IgnoreError();
  }
  std::unique_ptr<platform::LockFile> kept;
  if (writer_) kept = std::move(lock_);
  lock_.reset();
  file_.reset();
  writer_ = false;
  forbidden_ = false;
  logical_end_ = 0;
  physical_size_ = 0;
  path_.clear();
  registry_name_.clear();
  header_ = FileHeader();
  modified_ = false;
  header_dirty_ = false;
  return kept;
}

bool MessageFile::IsOpen() const {
  Guard guard(const_cast<MessageFile&>(*this));
  return file_ != nullptr;
}

std::optional<NodeRecord> MessageFile::ReadRecord(uint32_t offset,
                                                  Status* status) {
  Guard guard(*this);
  if (!Ready(status)) return std::nullopt;
  std::optional<uint64_t> size = FileSize(status);
  if (!size) return std::nullopt;
  if (offset < kFirstRecordOffset ||
      uint64_t{offset} + kNodeRecordSize > *size) {
    SetStatus(status, Damaged("no record at " + std::to_string(offset)));
    return std::nullopt;
  }
  NodeRecord record;
  Status io = file_->Seek(offset, SEEK_SET);
  if (io.ok()) io = ReadAll(*file_, record.bytes.data(), kNodeRecordSize);
  if (!io.ok()) {
    SetStatus(status, io);
    return std::nullopt;
  }
  const uint32_t mask = ~LoadU32(&record.bytes[kRecordKey]);
  MaskRecord(record.bytes.data(), mask);
  StoreU32(&record.bytes[kRecordKey], mask);
  return record;
}

std::optional<std::string> MessageFile::ReadPayload(uint32_t offset,
                                                    const NodeRecord& record,
                                                    Status* status) {
  Guard guard(*this);
  if (!Ready(status)) return std::nullopt;
  if (!record.has_payload()) return std::string();
  const uint32_t type = record.type();
  if (!ReadablePayloadType(type)) {
    SetStatus(status, UnknownRecordType(offset, type));
    return std::nullopt;
  }
  std::optional<uint64_t> size = FileSize(status);
  if (!size) return std::nullopt;
  std::optional<PayloadFrame> frame = DecodePayloadFrame(
      offset, type, *size,
      [this](void* out, size_t n, uint64_t at) {
        Status io = file_->Seek(static_cast<int64_t>(at), SEEK_SET);
        return io.ok() ? ReadAll(*file_, out, n) : io;
      },
      status);
  if (!frame) return std::nullopt;
  // The stream's position is right after the lengths.
  std::string data(frame->stored, '\0');
  if (Status io = ReadAll(*file_, data.data(), data.size()); !io.ok()) {
    SetStatus(status, std::move(io));
    return std::nullopt;
  }
  if (type != kRecordCompressed) {
    MaskWords(record.key(), reinterpret_cast<uint8_t*>(data.data()),
              data.size() / 4);
    return data;
  }
  Status inflate_status;
  std::optional<std::string> body =
      Inflate(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
              frame->raw, &inflate_status);
  if (!body) {
    SetStatus(status,
              Damaged(BodyOf(offset) + ": " + inflate_status.message()));
  }
  return body;
}

Status MessageFile::EncodeRecord(NodeRecord record,
                                 std::optional<std::string_view> body,
                                 std::string_view raw_payload, uint32_t key,
                                 std::string* out) {
  const uint32_t type = record.type();
  if (type == kRecordLegacyRaw0 || type == kRecordLegacyRaw1) {
    record.set_type(kRecordCompressed);
  } else if (type == 2) {
    record.set_type(4);
  }
  const size_t at = out->size();
  out->append(kNodeRecordSize, '\0');  // filled in last
  if (body) {
    if (body->size() > UINT32_MAX) {
      out->resize(at);
      return Status(ErrorCode::kInvalidArgument, "body too large");
    }
    const size_t lengths = out->size();
    out->append(8, '\0');
    if (deflater_ == nullptr) deflater_ = std::make_unique<Deflater>();
    if (!deflater_->Compress(*body, out)) {
      out->resize(at);
      return Status(ErrorCode::kIoError, "cannot compress body");
    }
    uint8_t* z = reinterpret_cast<uint8_t*>(out->data() + lengths);
    StoreU32(z, static_cast<uint32_t>(out->size() - lengths - 8));
    StoreU32(z + 4, static_cast<uint32_t>(body->size()));
  } else {
    out->append(raw_payload);
  }
  record.set_has_payload(out->size() > at + kNodeRecordSize);
  StoreU32(&record.bytes[kRecordKey], key);
  MaskRecord(record.bytes.data(), ~key);
  std::memcpy(out->data() + at, record.bytes.data(), kNodeRecordSize);
  return Status::Ok();
}

Status MessageFile::AppendBytes(std::string_view bytes, bool commit) {
  // Records go to the logical end, over zeros written before when the file
  // has them, so that committing them need not change the file's size.
  const uint64_t position = logical_end_;
  const uint64_t end = position + bytes.size();
  if (position < kFirstRecordOffset)
    return Damaged("shorter than its first index");
  if (end > UINT32_MAX)
    return Status(ErrorCode::kIoError, "document too large");
  Status io = file_->Seek(static_cast<int64_t>(position), SEEK_SET);
  if (io.ok()) io = WriteAll(*file_, bytes.data(), bytes.size());
  if (io.ok()) io = PadAfter(end);
  if (io.ok() && commit) io = file_->Flush();
  if (!io.ok()) return io;
  logical_end_ = end;
  return Status::Ok();
}

std::optional<uint32_t> MessageFile::AppendRecord(
    NodeRecord record, std::optional<std::string_view> body, Status* status) {
  return Append(std::move(record), body, nullptr, status);
}

std::optional<uint32_t> MessageFile::AppendNotedRecord(
    NodeRecord record, std::optional<std::string_view> body, Note note,
    Status* status) {
  return Append(std::move(record), body, &note, status);
}

std::optional<uint32_t> MessageFile::Append(
    NodeRecord record, std::optional<std::string_view> body, Note* note,
    Status* status) {
  Guard guard(*this);
  Status io = CheckWritable();
  // Record, payload and note go out in one write and one commit.
  append_buffer_.clear();
  if (io.ok())
    io = EncodeRecord(std::move(record), body, {}, NextKey(), &append_buffer_);
  const uint64_t position = logical_end_;
  if (io.ok() && note != nullptr) {
    note->target_offset = static_cast<uint32_t>(position);
    note->target_size = static_cast<uint32_t>(append_buffer_.size());
    note->target_crc = Crc32(append_buffer_.data(), append_buffer_.size());
    append_buffer_ += EncodeNote(*note, NextKey());
  }
  if (io.ok()) io = AppendBytes(append_buffer_, commit_appends_);
  // An unusually large body does not stay in memory.
  if (append_buffer_.capacity() > kCompactChunk) append_buffer_ = {};
  if (!io.ok()) {
    SetStatus(status, io);
    return std::nullopt;
  }
  modified_ = true;
  return static_cast<uint32_t>(position);
}

Status MessageFile::AppendNote(const Note& note, bool commit) {
  Guard guard(*this);
  Status status = CheckWritable();
  if (!status.ok()) return status;
  return AppendBytes(EncodeNote(note, NextKey()), commit);
}

Status MessageFile::RewriteRecord(uint32_t offset, const NodeRecord& record) {
  Guard guard(*this);
  Status status = CheckWritable();
  if (!status.ok()) return status;
  std::optional<uint64_t> size = FileSize(&status);
  if (!size) return status;
  if (offset < kFirstRecordOffset ||
      uint64_t{offset} + kNodeRecordSize > *size) {
    return Damaged("no record at " + std::to_string(offset));
  }
  NodeRecord copy = record;
  const uint32_t t = NextKey();
  StoreU32(&copy.bytes[kRecordKey], t);
  MaskRecord(copy.bytes.data(), ~t);
  // The note vouching for the new bytes goes first: a crash between the two
  // writes leaves a record that matches either its filing note or this one.
  std::optional<uint32_t> extent = RecordExtent(offset, copy, &status);
  if (!extent) return status;
  std::string payload(*extent - kNodeRecordSize, '\0');
  if (!payload.empty()) {
    size_t got = 0;
    status = file_->ReadAt(payload.data(), payload.size(),
                           uint64_t{offset} + kNodeRecordSize, &got);
    if (!status.ok()) return status;
    if (got != payload.size()) return ShortIo("read");
  }
  Note note;
  note.kind = NoteKind::kRewritten;
  note.target_offset = offset;
  note.target_size = *extent;
  note.target_crc =
      Crc32Combine(Crc32(copy.bytes.data(), kNodeRecordSize),
                   Crc32(payload.data(), payload.size()), payload.size());
  status = AppendBytes(EncodeNote(note, NextKey()), /*commit=*/false);
  if (status.ok()) status = file_->Seek(offset, SEEK_SET);
  if (status.ok())
    status = WriteAll(*file_, copy.bytes.data(), kNodeRecordSize);
  if (status.ok()) status = file_->Flush();
  return status;
}

std::optional<uint32_t> MessageFile::RecordExtent(uint32_t offset,
                                                  const NodeRecord& stored,
                                                  Status* status) {
  // `stored` is the record as it lies on disk (masked); only the type and
  // the payload flag, which are never masked, are read.
  const uint32_t type = LoadU32(&stored.bytes[kRecordType]);
  if (LoadU32(&stored.bytes[kRecordPayloadFlag]) == 0) return kNodeRecordSize;
  std::optional<PayloadFrame> frame = DecodePayloadFrame(
      offset, type, logical_end_,
      [this, offset](void* out, size_t n, uint64_t at) {
        size_t got = 0;
        Status read = file_->ReadAt(out, n, at, &got);
        if (read.ok() && got != n) {
          read = Damaged(BodyOf(offset) + " lies outside the file");
        }
        return read;
      },
      status);
  if (!frame) return std::nullopt;
  return static_cast<uint32_t>(kNodeRecordSize + frame->size());
}

bool MessageFile::CheckTarget(uint32_t offset, uint32_t size, uint32_t crc) {
  Guard guard(*this);
  if (file_ == nullptr || offset < kFirstRecordOffset ||
      uint64_t{offset} + size > logical_end_) {
    return false;
  }
  // In pieces, so that a large index costs no large buffer.
  uint32_t sum = 0;
  std::string piece;
  uint64_t at = offset;
  uint64_t left = size;
  while (left > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, 1 << 20));
    piece.resize(n);
    size_t got = 0;
    // A target that cannot be read is not vouched for.
    if (!file_->ReadAt(piece.data(), n, at, &got).ok() || got != n) {
      return false;
    }
    sum = Crc32(piece.data(), n, sum);
    at += n;
    left -= n;
  }
  return sum == crc;
}

Status MessageFile::SaveIndex(const std::vector<IndexEntry>& entries) {
  Guard guard(*this);
  Status status = CheckWritable();
  if (!status.ok() || !modified_) return status;
  uint32_t offset = 0;
  uint64_t end = 0;
  uint32_t crc = 0;
  status =
      WriteIndex(*file_, logical_end_, entries, nullptr, &offset, &end, &crc);
  // The note after the index vouches for it: a crash before the header
  // points here still finds this save.
  if (status.ok()) {
    Note note;
    note.kind = NoteKind::kSaved;
    note.target_offset = offset;
    note.target_size = static_cast<uint32_t>(end - offset);
    note.target_crc = crc;
    const std::string bytes = EncodeNote(note, NextKey());
    status = file_->Seek(static_cast<int64_t>(end), SEEK_SET);
    if (status.ok()) status = WriteAll(*file_, bytes.data(), bytes.size());
    end += bytes.size();
  }
  // No padding after an index: FlushHeader, which follows, would cut it.
  if (status.ok()) physical_size_ = std::max(physical_size_, end);
  if (status.ok()) status = file_->Flush();
  if (!status.ok()) return status;
  logical_end_ = end;
  RememberIndex(registry_name_, header_.index_offset());
  header_.set_index_offset(offset);
  modified_ = false;
  header_dirty_ = true;
  return Status::Ok();
}

std::optional<std::vector<IndexEntry>> MessageFile::LoadIndex(
    LoadReport* report, Status* status) {
  Guard guard(*this);
  if (!Ready(status)) return std::nullopt;
  LoadReport local;
  LoadReport& out = report != nullptr ? *report : local;
  std::optional<uint64_t> size = FileSize(status);
  if (!size) return std::nullopt;
  out.header_index = header_.index_offset();
  Status first;
  std::optional<LoadedIndex> loaded =
      ReadIndexAt(*file_, *size, header_.index_offset(), out, &first);
  if (!loaded) {
    std::optional<uint32_t> previous = RememberedIndex(registry_name_);
    out.used_fallback_index = true;
    if (!previous || *previous == 0 || *previous == header_.index_offset()) {
      out.problems.push_back(first.message());
      SetStatus(status, first);
      return std::nullopt;
    }
    out.problems.push_back(first.message() + "; using the index at " +
                           std::to_string(*previous) + " from the save before");
    loaded = ReadIndexAt(*file_, *size, *previous, out, status);
    if (!loaded) return std::nullopt;
    header_.set_index_offset(*previous);
  }
  // Only a writer keeps the registry's note of the last sound index.
  if (loaded->text_length != 0 && writer_) {
    RememberIndex(registry_name_, header_.index_offset());
  }
  out.index_used = header_.index_offset();
  out.index_end = loaded->end;
  return std::move(loaded->entries);
}

std::optional<std::vector<IndexEntry>> MessageFile::LoadIndexAt(
    uint32_t offset, LoadReport* report, Status* status) {
  Guard guard(*this);
  if (!Ready(status)) return std::nullopt;
  LoadReport local;
  LoadReport& out = report != nullptr ? *report : local;
  std::optional<LoadedIndex> loaded =
      ReadIndexAt(*file_, logical_end_, offset, out, status);
  if (!loaded) return std::nullopt;
  header_.set_index_offset(offset);
  out.index_used = offset;
  out.index_end = loaded->end;
  return std::move(loaded->entries);
}

std::optional<NoteScan> MessageFile::ScanNotes(uint64_t from, Status* status,
                                               bool thorough) {
  Guard guard(*this);
  if (!Ready(status)) return std::nullopt;
  NoteScan scan;
  const uint64_t end = logical_end_;
  from = std::max<uint64_t>(from, kFirstRecordOffset);
  FileWalker walker(*file_, end);
  uint64_t at = from;
  uint64_t unknown_from = 0;  // where a run of unknown bytes began, or 0
  // The last record met, until a note names it.
  std::optional<std::pair<uint32_t, uint32_t>> pending_record;
  uint64_t after_last_note = from;
  auto end_unknown = [&](uint64_t upto) {
    if (unknown_from != 0) scan.unknown_bytes += upto - unknown_from;
    unknown_from = 0;
  };
  auto close_record = [&] {
    if (pending_record) scan.unnoted_records.push_back(*pending_record);
    pending_record.reset();
  };
  while (at < end) {
    std::optional<WalkItem> item = walker.ItemAt(at);
    if (!item) {
      if (unknown_from == 0) unknown_from = at;
      // Noise: go on at the next note (records cannot be told from noise
      // without one), or, thoroughly, at the next byte.
      if (thorough) {
        ++at;
      } else {
        at = walker.FindMagic(at + 1).value_or(end);
      }
      continue;
    }
    end_unknown(at);
    switch (item->kind) {
      case WalkItem::kNote: {
        const Note& note = item->note;
        if (pending_record &&
            (note.kind == NoteKind::kFiled ||
             note.kind == NoteKind::kRetagged) &&
            note.target_offset == pending_record->first) {
          pending_record.reset();
        }
        close_record();
        scan.notes.push_back({at, note});
        after_last_note = at + item->size;
        break;
      }
      case WalkItem::kRecord:
        close_record();
        pending_record.emplace(static_cast<uint32_t>(at),
                               static_cast<uint32_t>(at + item->size));
        scan.records.push_back(*pending_record);
        break;
      case WalkItem::kIndex:
        close_record();
        break;
      case WalkItem::kZeros:
        break;
    }
    at += item->size;
  }
  end_unknown(end);
  scan.last_unnoted_record = pending_record;
  scan.unnoted_bytes = walker.NonZeroSpan(after_last_note, end);
  return scan;
}

Status MessageFile::FlushHeader() {
  Guard guard(*this);
  Status status = CheckOpen();
  if (!status.ok() || !header_dirty_) return status;
  status = CheckWritable();
  if (!status.ok()) return status;
  header_.set_modify_date(NowOleDate());
  StoreU32(&header_.bytes[kHeaderKey], NextKey());
  std::array<uint8_t, kFileHeaderSize> bytes = header_.bytes;
  MaskHeader(bytes.data());
  // Readers wait while the header is being rewritten. The padding goes in
  // the same commit: a saved document holds none.
  if (lock_ != nullptr) {
    lock_->Lock(kHeaderSlot, platform::LockKind::kExclusive, kHeaderLockWaitMs)
        .IgnoreError();
  }
  status = file_->Seek(0, SEEK_SET);
  if (status.ok()) status = WriteAll(*file_, bytes.data(), bytes.size());
  if (status.ok() && physical_size_ > logical_end_) {
    status = file_->Truncate(logical_end_);
    if (status.ok()) physical_size_ = logical_end_;
  }
  if (status.ok()) status = file_->Flush();
  if (lock_ != nullptr) lock_->Unlock(kHeaderSlot);
  if (status.ok()) header_dirty_ = false;
  return status;
}

Status MessageFile::CompactTo(std::u16string_view new_path,
                              const std::vector<IndexEntry>& entries) {
  Guard guard(*this);
  Status status = CheckOpen();
  if (!status.ok()) return status;
  // Creating the copy truncates its path: never this file's.
  std::optional<std::filesystem::path> from = platform::files::Resolve(path_);
  std::optional<std::filesystem::path> to =
      platform::files::Resolve(new_path, &status);
  if (!to) return status;
  std::error_code ec;
  if (from && std::filesystem::equivalent(*from, *to, ec)) {
    return Status(ErrorCode::kInvalidArgument,
                  "cannot compact a document onto itself");
  }

  // The copy is committed once, whole, before its header points to its
  // index (and once more with that header).
  MessageFile out;
  status = out.CreateLocked(new_path, header_, false);
  if (!status.ok()) {
    // A copy cut short is no copy.
    if (status.code() != ErrorCode::kAccessDenied)
      platform::files::Delete(new_path).IgnoreError();
    return status;
  }
  auto fail = [&](Status failure) {
    out.Close();
    platform::files::Delete(new_path).IgnoreError();
    return failure;
  };

  std::optional<uint64_t> size = FileSize(&status);
  if (!size) return fail(status);
  SourceReader source(*file_, *size);
  std::string chunk;  // records gathered but not yet written
  chunk.reserve(kCompactChunk + kCompactChunk / 4);
  uint64_t position = kFirstRecordOffset;
  std::string body;
  // Where each entry's record lies in the copy (0 for the Recycle Bin).
  std::vector<uint32_t> record_offsets(entries.size(), 0);
  // A fresh key for every record, taken together.
  uint32_t key = NextKeys(static_cast<uint32_t>(
      std::min<size_t>(std::max<size_t>(entries.size(), 1), UINT32_MAX)));
  for (size_t i = 0; i < entries.size(); ++i) {
    const IndexEntry& entry = entries[i];
    if (entry.image == kImageRecycleBinEmpty ||
        entry.image == kImageRecycleBinFull) {
      continue;
    }
    const uint32_t offset = entry.record_offset;
    if (offset < kFirstRecordOffset ||
        uint64_t{offset} + kNodeRecordSize > *size) {
      return fail(Damaged("no record at " + std::to_string(offset)));
    }
    std::optional<std::string_view> bytes =
        source.View(offset, kNodeRecordSize, &status);
    if (!bytes) return fail(status);
    NodeRecord record;
    std::memcpy(record.bytes.data(), bytes->data(), kNodeRecordSize);
    const uint32_t mask = ~LoadU32(&record.bytes[kRecordKey]);
    MaskRecord(record.bytes.data(), mask);
    StoreU32(&record.bytes[kRecordKey], mask);

    const size_t before = chunk.size();
    const uint32_t type = record.type();
    if (!record.has_payload()) {
      status = EncodeRecord(record, std::nullopt, {}, key++, &chunk);
    } else if (!ReadablePayloadType(type)) {
      status = UnknownRecordType(offset, type);
    } else {
      std::optional<PayloadFrame> frame = DecodePayloadFrame(
          offset, type, *size,
          [&source](void* out, size_t n, uint64_t at) {
            Status read;
            std::optional<std::string_view> lengths = source.View(at, n, &read);
            if (lengths) std::memcpy(out, lengths->data(), n);
            return read;
          },
          &status);
      if (!frame) return fail(status);
      if (type == kRecordCompressed) {
        // The payload is copied whole: both lengths and the stream as
        // stored.
        bytes = source.View(frame->lengths_at,
                            static_cast<size_t>(frame->size()), &status);
        if (!bytes) return fail(status);
        status = EncodeRecord(record, std::nullopt, *bytes, key++, &chunk);
      } else {
        // An older raw body: unmasked and written compressed as type 3.
        bytes = source.View(frame->data_at(), frame->stored, &status);
        if (!bytes) return fail(status);
        body.assign(*bytes);
        MaskWords(record.key(), reinterpret_cast<uint8_t*>(body.data()),
                  body.size() / 4);
        record.set_type(kRecordCompressed);
        status = EncodeRecord(record, body, {}, key++, &chunk);
      }
    }
    if (!status.ok()) return fail(status);
    if (position + (chunk.size() - before) > UINT32_MAX) {
      return fail(Status(ErrorCode::kIoError, "document too large"));
    }
    record_offsets[i] = static_cast<uint32_t>(position);
    position += chunk.size() - before;
    if (chunk.size() >= kCompactChunk) {
      status = WriteAll(*out.file_, chunk.data(), chunk.size());
      if (!status.ok()) return fail(status);
      chunk.clear();
    }
  }
  status = WriteAll(*out.file_, chunk.data(), chunk.size());
  if (!status.ok()) return fail(status);
  chunk = std::string();
  uint32_t index_offset = 0;
  uint64_t end = 0;
  status = WriteIndex(*out.file_, position, entries, &record_offsets,
                      &index_offset, &end);
  if (status.ok()) status = out.file_->Flush();
  if (!status.ok()) return fail(status);
  // The copy was written whole, in order: it has no padding.
  out.logical_end_ = out.physical_size_ = end;
  out.header_.set_index_offset(index_offset);
  out.header_dirty_ = true;
  out.modified_ = false;
  status = out.FlushHeader();
  if (!status.ok()) return fail(status);
  out.Close();
  return Status::Ok();
}

}  // namespace store
