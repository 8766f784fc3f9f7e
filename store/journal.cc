#include "store/journal.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "store/little_endian.h"
#include "store/message_file.h"

namespace store {
namespace {

// Field offsets.
constexpr size_t kSizeField = 8;
constexpr size_t kCrcField = 12;
constexpr size_t kKindField = 16;
constexpr size_t kKeyField = 20;
constexpr size_t kTargetOffsetField = 24;
constexpr size_t kTargetSizeField = 28;
constexpr size_t kTargetCrcField = 32;
constexpr size_t kImageField = 36;
constexpr size_t kFlagsField = 40;
constexpr size_t kPreviousField = 44;
constexpr size_t kDeliveryTimeField = 48;
constexpr size_t kFingerprintField = 56;
constexpr size_t kTextCountField = 60;

// A title holds at most this many characters; longer texts are cut.
constexpr size_t kMaxTextUnits = 259;
// Deeper paths are cut (a tree read from an index is never deeper).
constexpr size_t kMaxPathComponents = 1001;

void AppendText(std::u16string_view text, std::string* out) {
  text = text.substr(0, kMaxTextUnits);
  out->push_back(static_cast<char>(text.size() & 0xFF));
  out->push_back(static_cast<char>(text.size() >> 8));
  for (char16_t c : text) {
    out->push_back(static_cast<char>(c & 0xFF));
    out->push_back(static_cast<char>(c >> 8));
  }
}

bool IsKnownKind(uint32_t kind) {
  return kind >= static_cast<uint32_t>(NoteKind::kFiled) &&
         kind <= static_cast<uint32_t>(NoteKind::kRewritten);
}

}  // namespace

uint32_t MessageFingerprint(std::u16string_view sender,
                            std::u16string_view body) {
  std::string bytes;
  bytes.reserve((sender.size() + body.size() + 1) * 2);
  auto put = [&bytes](char16_t c) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  };
  for (char16_t c : sender) put(c);
  put(u'\0');
  for (char16_t c : body) put(c);
  return Crc32(bytes.data(), bytes.size());
}

uint32_t Crc32(const void* data, size_t size, uint32_t crc) {
  const auto* bytes = static_cast<const Bytef*>(data);
  // zlib takes sizes as uInt; feed large areas in pieces.
  while (size > 0) {
    const uInt piece = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    crc = static_cast<uint32_t>(crc32(crc, bytes, piece));
    bytes += piece;
    size -= piece;
  }
  return crc;
}

uint32_t Crc32Combine(uint32_t crc_a, uint32_t crc_b, uint64_t size_b) {
  return static_cast<uint32_t>(
      crc32_combine(crc_a, crc_b, static_cast<z_off_t>(size_b)));
}

std::string EncodeNote(const Note& note, uint32_t key) {
  std::string out(kNoteHeaderSize, '\0');
  std::memcpy(out.data(), kNoteMagic, kNoteMagicSize);
  StoreU32(&out[kKindField], static_cast<uint32_t>(note.kind));
  StoreU32(&out[kKeyField], key);
  StoreU32(&out[kTargetOffsetField], note.target_offset);
  StoreU32(&out[kTargetSizeField], note.target_size);
  StoreU32(&out[kTargetCrcField], note.target_crc);
  StoreU32(&out[kImageField], note.image);
  StoreU32(&out[kFlagsField], note.flags);
  StoreU32(&out[kPreviousField], note.previous_offset);
  StoreU64(&out[kDeliveryTimeField], note.delivery_time);
  StoreU32(&out[kFingerprintField], note.fingerprint);
  uint32_t texts = 0;
  if (note.kind == NoteKind::kFiled) {
    const size_t components = std::min(note.path.size(), kMaxPathComponents);
    for (size_t i = 0; i < components; ++i) AppendText(note.path[i], &out);
    AppendText(note.title, &out);
    texts = static_cast<uint32_t>(components + 1);
  } else if (note.kind == NoteKind::kRetagged) {
    AppendText(note.title, &out);
    texts = 1;
  }
  StoreU32(&out[kTextCountField], texts);
  MaskWords(~key, reinterpret_cast<uint8_t*>(out.data() + kNoteHeaderSize),
            (out.size() - kNoteHeaderSize) / 4);
  StoreU32(&out[kSizeField], static_cast<uint32_t>(out.size()));
  StoreU32(&out[kCrcField],
           Crc32(out.data() + kKindField, out.size() - kKindField));
  return out;
}

std::optional<Note> DecodeNote(std::string_view bytes, size_t* size) {
  if (bytes.size() < kNoteHeaderSize ||
      std::memcmp(bytes.data(), kNoteMagic, kNoteMagicSize) != 0) {
    return std::nullopt;
  }
  const uint32_t total = LoadU32(&bytes[kSizeField]);
  if (total < kNoteHeaderSize || total > kMaxNoteSize || total > bytes.size()) {
    return std::nullopt;
  }
  if (Crc32(bytes.data() + kKindField, total - kKindField) !=
      LoadU32(&bytes[kCrcField])) {
    return std::nullopt;
  }
  Note note;
  const uint32_t kind = LoadU32(&bytes[kKindField]);
  if (!IsKnownKind(kind)) return std::nullopt;
  note.kind = static_cast<NoteKind>(kind);
  const uint32_t key = LoadU32(&bytes[kKeyField]);
  note.target_offset = LoadU32(&bytes[kTargetOffsetField]);
  note.target_size = LoadU32(&bytes[kTargetSizeField]);
  note.target_crc = LoadU32(&bytes[kTargetCrcField]);
  note.image = LoadU32(&bytes[kImageField]);
  note.flags = LoadU32(&bytes[kFlagsField]);
  note.previous_offset = LoadU32(&bytes[kPreviousField]);
  note.delivery_time = LoadU64(&bytes[kDeliveryTimeField]);
  note.fingerprint = LoadU32(&bytes[kFingerprintField]);
  const uint32_t texts = LoadU32(&bytes[kTextCountField]);

  std::string area(bytes.substr(kNoteHeaderSize, total - kNoteHeaderSize));
  MaskWords(~key, reinterpret_cast<uint8_t*>(area.data()), area.size() / 4);
  std::vector<std::u16string> read;
  size_t at = 0;
  for (uint32_t i = 0; i < texts; ++i) {
    if (at + 2 > area.size()) return std::nullopt;
    const size_t units = static_cast<uint8_t>(area[at]) |
                         (size_t{static_cast<uint8_t>(area[at + 1])} << 8);
    at += 2;
    if (units > kMaxTextUnits || at + units * 2 > area.size()) {
      return std::nullopt;
    }
    std::u16string text(units, u'\0');
    for (size_t u = 0; u < units; ++u) {
      text[u] = static_cast<char16_t>(
          static_cast<uint8_t>(area[at + 2 * u]) |
          (static_cast<uint8_t>(area[at + 2 * u + 1]) << 8));
    }
    at += units * 2;
    read.push_back(std::move(text));
  }
  if (at != area.size()) return std::nullopt;
  if (note.kind == NoteKind::kFiled) {
    if (read.empty()) return std::nullopt;
    note.title = std::move(read.back());
    read.pop_back();
    note.path = std::move(read);
  } else if (note.kind == NoteKind::kRetagged) {
    if (read.size() != 1) return std::nullopt;
    note.title = std::move(read.front());
  } else if (!read.empty()) {
    return std::nullopt;
  }
  *size = total;
  return note;
}

}  // namespace store
