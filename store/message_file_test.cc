#include "store/message_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/testing/temp_device.h"

namespace store {
namespace {

using Bytes = std::vector<uint8_t>;
using std::string_literals::operator""s;

constexpr char16_t kPath[] = u"\\My Documents\\a.zud";
constexpr char kHostPath[] = "\\My Documents\\a.zud";

uint32_t U32(const Bytes& bytes, size_t at) {
  return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8) |
         (uint32_t{bytes[at + 2]} << 16) | (uint32_t{bytes[at + 3]} << 24);
}

void PutU32(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string Text(const Bytes& bytes, size_t at, size_t size) {
  return std::string(bytes.begin() + at, bytes.begin() + at + size);
}

class MessageFileTest : public ::testing::Test {
 protected:
  Bytes ReadHost(const std::string& device_path = kHostPath) {
    std::ifstream in(device_.HostPath(device_path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  // The bytes of an open document up to its logical end; what lies past it
  // (padding) must be zeros.
  Bytes ReadOpen(const MessageFile& file) {
    Bytes raw = ReadHost();
    EXPECT_GE(raw.size(), file.logical_end());
    const size_t end = static_cast<size_t>(file.logical_end());
    EXPECT_TRUE(std::all_of(raw.begin() + std::min(end, raw.size()), raw.end(),
                            [](uint8_t b) { return b == 0; }));
    raw.resize(std::min(end, raw.size()));
    return raw;
  }
  void WriteHost(const Bytes& bytes,
                 const std::string& device_path = kHostPath) {
    std::ofstream out(device_.HostPath(device_path),
                      std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  static NodeRecord Message(std::u16string_view sender) {
    NodeRecord record;
    record.set_type(kRecordCompressed);
    record.set_author(u"Author");
    record.set_date(45000.5);
    record.set_sender(sender);
    record.set_password(u"pw");
    return record;
  }

  platform::testing::TempDevice device_;
};

TEST_F(MessageFileTest, NewFileIsAHeaderAndAnEmptyIndex) {
  FileHeader header_template;
  header_template.set_author(u"\u5f20\u4e09 Zhang");  // 10 bytes in 936
  header_template.set_password(u"secret");
  MessageFile file;
  ASSERT_TRUE(file.Create(kPath, header_template).ok());
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.header().index_offset(), 120u);

  const Bytes raw = ReadHost();
  ASSERT_EQ(raw.size(), 140u);
  EXPECT_EQ(Text(raw, 0, 8), std::string(8, '\0'));
  EXPECT_EQ(U32(raw, 8), 120u);
  const uint32_t t = U32(raw, 20);
  Bytes unmasked = raw;
  MaskWords(~t, &unmasked[24], 7);
  EXPECT_EQ(Text(unmasked, 24, 12),
            std::string("secret") + std::string(6, '\0'));
  const std::string author = platform::WideToMultiByte(u"\u5f20\u4e09 Zhang");
  ASSERT_EQ(author.size(), 10u);
  EXPECT_EQ(Text(unmasked, 36, 16), author + std::string(6, '\0'));
  // The masked bytes are not the plain ones.
  EXPECT_NE(Text(raw, 24, 28), Text(unmasked, 24, 28));
  double modify, build;
  std::memcpy(&modify, &raw[12], 8);
  std::memcpy(&build, &raw[52], 8);
  EXPECT_GT(modify, 40000.0);  // after 2009
  EXPECT_EQ(modify, build);
  EXPECT_EQ(Text(raw, 60, 4), std::string(4, '\0'));
  EXPECT_EQ(Text(raw, 64, 8), std::string("Zorel\0\0\0", 8));
  EXPECT_EQ(U32(raw, 72), 3u);
  EXPECT_EQ(Text(raw, 76, 64), std::string(64, '\0'));  // reserved + index

  file.Close();
  EXPECT_FALSE(file.IsOpen());
  ASSERT_TRUE(file.Open(kPath).ok());
  EXPECT_EQ(file.header().author(), u"\u5f20\u4e09 Zhang");
  EXPECT_EQ(file.header().password(), u"secret");
  EXPECT_TRUE(file.header().has_magic());
  EXPECT_EQ(file.header().version(), 3u);
  EXPECT_EQ(file.header().build_date(), build);
  std::optional<std::vector<IndexEntry>> entries = file.LoadIndex();
  ASSERT_TRUE(entries.has_value());
  EXPECT_TRUE(entries->empty());

  // A header write takes a new key: other bytes, same content.
  file.MarkHeaderDirty();
  ASSERT_TRUE(file.FlushHeader().ok());
  EXPECT_FALSE(file.header_dirty());
  const Bytes again = ReadHost();
  EXPECT_NE(U32(again, 20), t);
  EXPECT_NE(Text(again, 24, 28), Text(raw, 24, 28));
  file.Close();
  ASSERT_TRUE(file.Open(kPath).ok());
  EXPECT_EQ(file.header().author(), u"\u5f20\u4e09 Zhang");

  // A field is cut at whole characters; a full field has no NUL.
  FileHeader cut;
  cut.set_author(u"\u4e00\u4e01\u4e02\u4e03\u4e04\u4e05\u4e06\u4e07\u4e08");
  EXPECT_EQ(cut.author(), u"\u4e00\u4e01\u4e02\u4e03\u4e04\u4e05\u4e06\u4e07");
  cut.set_password(u"abcdefghijk\u4e00");
  EXPECT_EQ(cut.password(), u"abcdefghijk");
  cut.set_password(u"abcdefghijklmn");  // ASCII: cut at 12 bytes
  EXPECT_EQ(cut.password(), u"abcdefghijkl");
  NodeRecord record;
  record.set_sender(std::u16string(60, u'7'));
  EXPECT_EQ(record.sender(), std::u16string(51, u'7'));  // NUL kept
  // With the code page given; the longer text before is cleared.
  record.set_sender(u"\u5f20 <13800138000>", platform::kCodePageUtf8);
  const std::string sender(reinterpret_cast<const char*>(&record.bytes[36]),
                           52);
  EXPECT_EQ(sender, "\xe5\xbc\xa0 <13800138000>" + std::string(35, '\0'));

  // Too short to be a document.
  WriteHost(Bytes(119, 0));
  EXPECT_FALSE(file.Open(kPath).ok());
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(MessageFileTest, RecordsAreMaskedWithAFreshKeyEveryWrite) {
  MessageFile file;
  ASSERT_TRUE(file.Create(kPath, FileHeader()).ok());
  const NodeRecord record = Message(u"\u674e\u56db <13800138000>");
  std::optional<uint32_t> first = file.AppendRecord(record, std::nullopt);
  std::optional<uint32_t> second = file.AppendRecord(record, std::nullopt);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, 140u);
  EXPECT_EQ(*second, 244u);
  EXPECT_TRUE(file.modified());

  const Bytes raw = ReadOpen(file);
  ASSERT_EQ(raw.size(), 348u);
  const uint32_t t1 = U32(raw, *first + 28);
  const uint32_t t2 = U32(raw, *second + 28);
  EXPECT_NE(t1, t2);
  EXPECT_NE(Text(raw, *first, 104), Text(raw, *second, 104));
  // Stored key t; masked ranges are the plain bytes XOR ~t; the rest plain.
  Bytes plain(raw.begin() + *first, raw.begin() + *first + 104);
  MaskWords(~t1, &plain[4], 4);
  MaskWords(~t1, &plain[36], 13);
  MaskWords(~t1, &plain[88], 3);
  Bytes expected(record.bytes.begin(), record.bytes.end());
  PutU32(expected, 28, t1);
  EXPECT_EQ(plain, expected);

  for (uint32_t offset : {*first, *second}) {
    std::optional<NodeRecord> read = file.ReadRecord(offset);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->type(), kRecordCompressed);
    EXPECT_EQ(read->author(), u"Author");
    EXPECT_EQ(read->sender(), u"\u674e\u56db <13800138000>");
    EXPECT_EQ(read->password(), u"pw");
    EXPECT_EQ(read->date(), 45000.5);
    EXPECT_FALSE(read->has_payload());
    EXPECT_EQ(read->key(), ~U32(raw, offset + 28));  // in memory: the mask
  }

  // Rewriting in place: new key, new content; only the note vouching for
  // the new bytes is appended.
  NodeRecord changed = *file.ReadRecord(*first);
  changed.set_password(u"new");
  ASSERT_TRUE(file.RewriteRecord(*first, changed).ok());
  const Bytes rewritten = ReadOpen(file);
  EXPECT_EQ(rewritten.size(), raw.size() + kNoteHeaderSize);
  EXPECT_EQ(0, std::memcmp(&rewritten[raw.size()], kNoteMagic, 8));
  EXPECT_NE(U32(rewritten, *first + 28), t1);
  EXPECT_EQ(file.ReadRecord(*first)->password(), u"new");
  EXPECT_EQ(file.ReadRecord(*second)->password(), u"pw");

  // Legacy types are written as 3.
  NodeRecord legacy = record;
  legacy.set_type(kRecordLegacyRaw1);
  std::optional<uint32_t> third = file.AppendRecord(legacy, std::nullopt);
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(file.ReadRecord(*third)->type(), kRecordCompressed);

  // Nothing is read or written over the header or the first index, or
  // past the end.
  platform::Status status;
  EXPECT_FALSE(file.ReadRecord(0, &status).has_value());
  EXPECT_EQ(status.code(), platform::ErrorCode::kInvalidArgument);
  EXPECT_FALSE(file.ReadRecord(139).has_value());
  EXPECT_FALSE(file.ReadRecord(*third + 1).has_value());
  EXPECT_FALSE(file.RewriteRecord(120, changed).ok());
  EXPECT_FALSE(file.RewriteRecord(*third + 1, changed).ok());
  EXPECT_EQ(ReadOpen(file).size(), raw.size() + kNoteHeaderSize + 104);
}

TEST_F(MessageFileTest, BodiesAreOneZlibStreamOfAnySize) {
  MessageFile file;
  ASSERT_TRUE(file.Create(kPath, FileHeader()).ok());
  const std::string short_body =
      std::string("Hello \xc4\xe3\xba\xc3", 10) + '\0';
  std::string long_body(5000, '\0');
  std::mt19937 random(7);
  for (char& c : long_body) c = static_cast<char>(random());
  long_body.back() = '\0';

  std::optional<uint32_t> short_at =
      file.AppendRecord(Message(u"1"), short_body);
  std::optional<uint32_t> long_at = file.AppendRecord(Message(u"2"), long_body);
  std::optional<uint32_t> none_at =
      file.AppendRecord(Message(u"3"), std::nullopt);
  // The file's one deflate stream is reset between bodies: a later body
  // still comes out exactly as zlib gives it.
  std::optional<uint32_t> again_at =
      file.AppendRecord(Message(u"4"), short_body);
  ASSERT_TRUE(short_at && long_at && none_at && again_at);

  const Bytes raw = ReadHost();
  // Z, R, then exactly what zlib gives at level 5.
  std::string expected(compressBound(short_body.size()), '\0');
  uLongf z = expected.size();
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(expected.data()), &z,
                      reinterpret_cast<const Bytef*>(short_body.data()),
                      short_body.size(), 5),
            Z_OK);
  expected.resize(z);
  EXPECT_EQ(U32(raw, *short_at + 104), z);
  EXPECT_EQ(U32(raw, *short_at + 108), short_body.size());
  EXPECT_EQ(Text(raw, *short_at + 112, z), expected);
  EXPECT_EQ(U32(raw, *again_at + 104), z);
  EXPECT_EQ(Text(raw, *again_at + 112, z), expected);
  const uint32_t long_z = U32(raw, *long_at + 104);
  EXPECT_GT(long_z, 2048u);
  EXPECT_EQ(U32(raw, *long_at + 108), 5000u);
  EXPECT_EQ(*long_at + 112 + long_z, *none_at);

  for (auto [offset, body] :
       {std::pair{*short_at, short_body}, std::pair{*long_at, long_body},
        std::pair{*none_at, std::string()}}) {
    std::optional<NodeRecord> record = file.ReadRecord(offset);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->has_payload(), !body.empty());
    std::optional<std::string> payload = file.ReadPayload(offset, *record);
    ASSERT_TRUE(payload.has_value());
    EXPECT_EQ(*payload, body);
  }

  // Damage to the long body's lengths: one byte more or less than the
  // stream holds fails; a stream cut short yields the part it holds.
  auto read_long = [&](platform::Status* status) {
    MessageFile damaged;
    EXPECT_TRUE(damaged.Open(kPath).ok());
    std::optional<NodeRecord> record = damaged.ReadRecord(*long_at);
    return damaged.ReadPayload(*long_at, *record, status);
  };
  file.Close();
  Bytes patched = raw;
  platform::Status status;
  for (uint32_t r : {4999u, 5001u, 0u}) {
    PutU32(patched, *long_at + 108, r);
    WriteHost(patched);
    EXPECT_FALSE(read_long(&status).has_value()) << r;
    EXPECT_EQ(status.code(), platform::ErrorCode::kInvalidArgument);
  }
  patched = raw;
  PutU32(patched, *long_at + 104, 2048);  // as older writers left it
  WriteHost(patched);
  std::optional<std::string> cut = read_long(&status);
  ASSERT_TRUE(cut.has_value());
  EXPECT_LT(cut->size(), 5000u);
  EXPECT_GT(cut->size(), 1000u);
  EXPECT_EQ(long_body.substr(0, cut->size()), *cut);
  patched = raw;
  patched[*long_at + 112 + 100] ^= 0x55;  // corrupt stream
  WriteHost(patched);
  EXPECT_FALSE(read_long(&status).has_value());
  patched = raw;
  PutU32(patched, *long_at + 104, 0xFFFFFFF0);  // Z past the end
  WriteHost(patched);
  EXPECT_FALSE(read_long(&status).has_value());
  patched = raw;
  PutU32(patched, *long_at + 108, 0xFFFFFFFF);  // huge R: no huge buffer
  WriteHost(patched);
  EXPECT_FALSE(read_long(&status).has_value());
}

// Builds the index text the way a reader expects it, for comparison.
std::u16string IndexText(const std::vector<IndexEntry>& entries) {
  std::u16string text;
  for (const IndexEntry& entry : entries) {
    text += std::u16string(entry.depth, u'\t') + entry.title + u"\r\n";
  }
  return text + u'\0';
}

// The index text at `offset`, unmasked; expects the last T mod 4 bytes plain.
std::string UnmaskedIndexText(const Bytes& raw, uint32_t offset,
                              const std::string& expected) {
  const uint32_t t = U32(raw, offset + 4);
  const uint32_t length = U32(raw, offset + 12);
  EXPECT_EQ(length, expected.size());
  Bytes text(raw.begin() + offset + 20, raw.begin() + offset + 20 + length);
  const size_t whole = length / 4 * 4;
  EXPECT_EQ(std::string(text.begin() + whole, text.end()),
            expected.substr(whole))
      << "tail of " << length % 4 << " bytes must be plain";
  MaskWords(~t, text.data(), length / 4);
  return std::string(text.begin(), text.end());
}

TEST_F(MessageFileTest, IndexTextIsMaskedWordByWordAcrossPieces) {
  MessageFile file;
  ASSERT_TRUE(file.Create(kPath, FileHeader()).ok());

  // Saving without a change writes nothing; an empty tree is a bare block.
  ASSERT_TRUE(file.SaveIndex({}).ok());
  EXPECT_EQ(ReadHost().size(), 140u);
  file.MarkModified();
  ASSERT_TRUE(file.SaveIndex({}).ok());
  ASSERT_TRUE(file.FlushHeader().ok());
  Bytes raw = ReadHost();
  // The block, then the note vouching for it.
  ASSERT_EQ(raw.size(), 160u + kNoteHeaderSize);
  EXPECT_EQ(0, std::memcmp(&raw[160], kNoteMagic, 8));
  EXPECT_EQ(U32(raw, 8), 140u);
  EXPECT_EQ(U32(raw, 148), 0u);  // N
  EXPECT_EQ(U32(raw, 152), 0u);  // T

  // Texts of 4k .. 4k+3 bytes: one title of 1 to 4 characters.
  for (size_t n = 1; n <= 4; ++n) {
    std::vector<IndexEntry> entries = {{0, std::u16string(n, u'x'), 140, 1}};
    file.MarkModified();
    const uint32_t at = static_cast<uint32_t>(ReadOpen(file).size());
    ASSERT_TRUE(file.SaveIndex(entries).ok());
    EXPECT_EQ(file.header().index_offset(), at);
    const std::string expected = std::string(n, 'x') + "\r\n" + '\0';
    EXPECT_EQ(UnmaskedIndexText(ReadHost(), at, expected), expected);
  }

  // Pieces of 102400 characters: 1003 lines of 102 characters (a 2-byte
  // carry), then a line of multibyte characters crossing the boundary.
  std::vector<IndexEntry> entries;
  entries.push_back({0, u"Recycle Bin", 999, kImageRecycleBinFull});
  for (int i = 0; i < 1002; ++i) {
    entries.push_back({1 + i % 2, std::u16string(99 - i % 2, u'a' + i % 26),
                       static_cast<uint32_t>(140 + i), kImageMessageRead});
  }
  std::u16string crossing;
  for (int i = 0; i < 150; ++i) crossing += u"\u6d88\u606f";
  crossing += u"\U0001F600\u00e9";  // 4 bytes in GB18030, then 2
  entries.push_back({2, crossing, 7, kImageMessageUnread});
  entries.push_back({0, u"last", 8, kImageFolder});
  entries.push_back({1, u"", 9, kImageFolder});
  const std::string expected = platform::WideToMultiByte(IndexText(entries));
  ASSERT_NE(expected.size() % 4, 0u);
  file.MarkModified();
  const uint32_t at = static_cast<uint32_t>(ReadOpen(file).size());
  ASSERT_TRUE(file.SaveIndex(entries).ok());
  ASSERT_TRUE(file.FlushHeader().ok());
  raw = ReadHost();
  EXPECT_EQ(U32(raw, at), 0u);
  EXPECT_EQ(U32(raw, at + 8), entries.size());
  EXPECT_EQ(U32(raw, at + 16), 0u);
  EXPECT_EQ(UnmaskedIndexText(raw, at, expected), expected);
  const size_t table = at + 20 + expected.size();
  ASSERT_EQ(raw.size(), table + 8 * entries.size() + kNoteHeaderSize);
  EXPECT_EQ(U32(raw, table), 0u);  // the Recycle Bin: offset 0, image 71
  EXPECT_EQ(U32(raw, table + 4), 71u);
  EXPECT_EQ(U32(raw, table + 8), 140u);
  EXPECT_EQ(U32(raw, table + 12), 2u);
  EXPECT_EQ(U32(raw, table + 8 * (entries.size() - 1)), 9u);

  file.Close();
  ASSERT_TRUE(file.Open(kPath).ok());
  EXPECT_EQ(file.header().index_offset(), at);
  LoadReport report;
  std::optional<std::vector<IndexEntry>> loaded = file.LoadIndex(&report);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_TRUE(report.problems.empty());
  ASSERT_EQ(loaded->size(), entries.size());
  entries[0].record_offset = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ((*loaded)[i].depth, entries[i].depth) << i;
    EXPECT_EQ((*loaded)[i].title, entries[i].title) << i;
    EXPECT_EQ((*loaded)[i].record_offset, entries[i].record_offset) << i;
    EXPECT_EQ((*loaded)[i].image, entries[i].image) << i;
  }

  // Characters that would break the lines are written as spaces.
  file.MarkModified();
  ASSERT_TRUE(file.SaveIndex({{0, u"\tA\r\nB\t", 140, 1}}).ok());
  EXPECT_EQ((*file.LoadIndex())[0].title, u" A  B\t");
}

TEST_F(MessageFileTest, UnreadableIndexFallsBackToTheSaveBefore) {
  MessageFile file;
  ASSERT_TRUE(file.Create(kPath, FileHeader()).ok());
  const uint32_t a = *file.AppendRecord(Message(u"a"), std::string("A", 2));
  const std::vector<IndexEntry> first = {{0, u"Inbox", a, kImageFolder}};
  ASSERT_TRUE(file.SaveIndex(first).ok());
  ASSERT_TRUE(file.FlushHeader().ok());
  const uint32_t first_at = file.header().index_offset();
  const uint32_t b = *file.AppendRecord(Message(u"b"), std::nullopt);
  const std::vector<IndexEntry> second = {{0, u"Inbox", a, kImageFolder},
                                          {1, u"b", b, kImageMessageUnread}};
  ASSERT_TRUE(file.SaveIndex(second).ok());
  ASSERT_TRUE(file.FlushHeader().ok());
  const uint32_t second_at = file.header().index_offset();
  file.Close();

  auto key = platform::RegistryKey::Open(platform::RegistryRoot::kCurrentUser,
                                         kIndexRegistryKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->QueryDword(kPath), first_at);

  // A crash after a new index is committed but before the header points to
  // it: the last completed save is what opens.
  ASSERT_TRUE(file.Open(kPath).ok());
  file.MarkModified();
  ASSERT_TRUE(file.SaveIndex({}).ok());
  file.Close();
  ASSERT_TRUE(file.Open(kPath).ok());
  EXPECT_EQ(file.header().index_offset(), second_at);
  file.Close();

  ASSERT_TRUE(file.Open(kPath).ok());
  LoadReport report;
  EXPECT_EQ(file.LoadIndex(&report)->size(), 2u);
  EXPECT_FALSE(report.used_fallback_index);
  // A successful load remembers the index it read.
  EXPECT_EQ(key->QueryDword(kPath), second_at);
  ASSERT_TRUE(key->SetDword(kPath, first_at).ok());
  file.Close();

  // The header points past the end: the tree of the save before.
  Bytes raw = ReadHost();
  PutU32(raw, 8, static_cast<uint32_t>(raw.size()) + 1000);
  WriteHost(raw);
  ASSERT_TRUE(file.Open(kPath).ok());
  report = LoadReport();
  std::optional<std::vector<IndexEntry>> loaded = file.LoadIndex(&report);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_TRUE(report.used_fallback_index);
  EXPECT_FALSE(report.problems.empty());
  ASSERT_EQ(loaded->size(), 1u);
  EXPECT_EQ((*loaded)[0].title, u"Inbox");
  EXPECT_EQ(file.header().index_offset(), first_at);
  file.Close();

  // Without a remembered index the load fails cleanly.
  ASSERT_TRUE(key->DeleteValue(kPath).ok());
  ASSERT_TRUE(file.Open(kPath).ok());
  platform::Status status;
  EXPECT_FALSE(file.LoadIndex(nullptr, &status).has_value());
  EXPECT_EQ(status.code(), platform::ErrorCode::kInvalidArgument);
  file.Close();

  // Creating a file forgets what an earlier file of that name left.
  ASSERT_TRUE(key->SetDword(kPath, second_at).ok());
  ASSERT_TRUE(file.Create(kPath, FileHeader()).ok());
  EXPECT_FALSE(key->QueryDword(kPath).has_value());
}

// Appends an older record (type 0: a raw body masked in whole words) to the
// host file; returns its offset.
uint32_t AppendLegacyRecord(Bytes& raw, const NodeRecord& fields,
                            const std::string& body, uint32_t t) {
  const uint32_t offset = static_cast<uint32_t>(raw.size());
  Bytes record(fields.bytes.begin(), fields.bytes.end());
  PutU32(record, 0, kRecordLegacyRaw0);
  PutU32(record, 28, t);
  PutU32(record, 32, 1);
  MaskWords(~t, &record[4], 4);
  MaskWords(~t, &record[36], 13);
  MaskWords(~t, &record[88], 3);
  raw.insert(raw.end(), record.begin(), record.end());
  Bytes payload(4 + body.size());
  PutU32(payload, 0, static_cast<uint32_t>(body.size()));
  std::memcpy(&payload[4], body.data(), body.size());
  MaskWords(~t, &payload[4], body.size() / 4);
  raw.insert(raw.end(), payload.begin(), payload.end());
  return offset;
}

TEST_F(MessageFileTest,
       CompactionKeepsWhatTheTreeReachesAndConvertsOldRecords) {
  MessageFile file;
  FileHeader header_template;
  header_template.set_author(u"Owner");
  header_template.set_password(u"pass");
  ASSERT_TRUE(file.Create(kPath, header_template).ok());
  std::string long_body(5000, 'z');
  for (size_t i = 0; i < long_body.size(); i += 7)
    long_body[i] = char('a' + i % 26);
  long_body.back() = '\0';
  const uint32_t dead =
      *file.AppendRecord(Message(u"dead"), std::string("x", 2));
  const uint32_t live = *file.AppendRecord(Message(u"live"), long_body);
  const uint32_t folder = *file.AppendRecord(Message(u""), std::nullopt);
  (void)dead;
  file.Close();

  const std::string old_body = "old message text\0"s;  // 17 bytes: 4k+1
  Bytes raw = ReadHost();
  const uint32_t legacy =
      AppendLegacyRecord(raw, Message(u"\u8001 sender"), old_body, 0x12345678);
  WriteHost(raw);

  ASSERT_TRUE(file.Open(kPath).ok());
  std::optional<NodeRecord> old_record = file.ReadRecord(legacy);
  ASSERT_TRUE(old_record.has_value());
  EXPECT_EQ(old_record->type(), kRecordLegacyRaw0);
  EXPECT_EQ(old_record->sender(), u"\u8001 sender");
  EXPECT_EQ(file.ReadPayload(legacy, *old_record), old_body);

  const std::vector<IndexEntry> tree = {
      {0, u"Recycle Bin", 0, kImageRecycleBinEmpty},
      {0, u"Inbox", folder, kImageFolder},
      {1, u"live", live, kImageMessageRead},
      {1, u"old", legacy, kImageMessageUnread},
      {0, u"Marked", folder, kImageFolder},  // a copy sharing a record
  };
  file.MarkModified();
  ASSERT_TRUE(file.SaveIndex(tree).ok());
  ASSERT_TRUE(file.FlushHeader().ok());
  const Bytes before = ReadHost();

  EXPECT_FALSE(file.CompactTo(u"\\my documents\\A.ZUD", tree).ok());
  EXPECT_EQ(ReadHost(), before);
  ASSERT_TRUE(file.CompactTo(u"\\My Documents\\b.zud", tree).ok());
  EXPECT_EQ(ReadHost(), before);  // the open document is untouched
  EXPECT_EQ(file.ReadPayload(live, *file.ReadRecord(live)), long_body);

  MessageFile compact;
  ASSERT_TRUE(compact.Open(u"\\My Documents\\b.zud").ok());
  EXPECT_EQ(compact.header().author(), u"Owner");
  EXPECT_EQ(compact.header().password(), u"pass");
  LoadReport report;
  std::optional<std::vector<IndexEntry>> loaded = compact.LoadIndex(&report);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_TRUE(report.problems.empty());
  ASSERT_EQ(loaded->size(), tree.size());
  EXPECT_EQ((*loaded)[0].record_offset, 0u);
  EXPECT_EQ((*loaded)[0].image, kImageRecycleBinEmpty);
  // Records in tree order right after the first index; the two copies of
  // the folder get a record each.
  EXPECT_EQ((*loaded)[1].record_offset, 140u);
  EXPECT_EQ((*loaded)[2].record_offset, 244u);
  EXPECT_NE((*loaded)[4].record_offset, (*loaded)[1].record_offset);
  EXPECT_EQ(compact.ReadRecord((*loaded)[4].record_offset)->has_payload(),
            false);

  const uint32_t live_copy = (*loaded)[2].record_offset;
  EXPECT_EQ(compact.ReadPayload(live_copy, *compact.ReadRecord(live_copy)),
            long_body);
  // The old record is now a proper compressed one.
  const uint32_t old_copy = (*loaded)[3].record_offset;
  std::optional<NodeRecord> converted = compact.ReadRecord(old_copy);
  ASSERT_TRUE(converted.has_value());
  EXPECT_EQ(converted->type(), kRecordCompressed);
  EXPECT_EQ(converted->sender(), u"\u8001 sender");
  EXPECT_EQ(compact.ReadPayload(old_copy, *converted), old_body);
  const Bytes out = ReadHost("\\My Documents\\b.zud");
  const uint32_t z = U32(out, old_copy + 104);
  EXPECT_EQ(U32(out, old_copy + 108), old_body.size());
  std::string inflated(old_body.size(), '\0');
  uLongf size = inflated.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(inflated.data()), &size,
                       &out[old_copy + 112], z),
            Z_OK);
  EXPECT_EQ(inflated, old_body);
  // The dead record and the old indexes are gone.
  EXPECT_LT(out.size(), before.size());

  // A tree reaching a record that cannot be read leaves no copy behind.
  std::vector<IndexEntry> broken = tree;
  broken.push_back({0, u"broken", 99999, kImageFolder});
  EXPECT_FALSE(file.CompactTo(u"\\My Documents\\c.zud", broken).ok());
  EXPECT_FALSE(
      std::filesystem::exists(device_.HostPath("\\My Documents\\c.zud")));
}

TEST_F(MessageFileTest, CompactionCopiesRecordsInTreeOrderWhateverTheirPlace) {
  // Enough records (and one body) to pass the sizes compaction reads and
  // writes at once, reached forwards, backwards and twice.
  MessageFile file;
  ASSERT_TRUE(file.Create(kPath, FileHeader()).ok());
  file.set_commit_appends(false);
  std::mt19937 random(11);
  auto random_body = [&](size_t size) {
    std::string body(size, '\0');
    for (char& c : body) c = static_cast<char>(random() % 255 + 1);
    body.back() = '\0';
    return body;
  };
  std::vector<uint32_t> offsets;
  for (int i = 0; i < 1200; ++i) {
    std::optional<uint32_t> at = file.AppendRecord(
        Message(u"sender " + std::u16string(1, u'a' + i % 26)),
        random_body(900 + random() % 400));
    ASSERT_TRUE(at.has_value());
    offsets.push_back(*at);
  }
  std::optional<uint32_t> big =
      file.AppendRecord(Message(u"big"), random_body(1200 * 1024));
  std::optional<uint32_t> folder =
      file.AppendRecord(Message(u"folder"), std::nullopt);
  ASSERT_TRUE(big && folder);

  std::vector<IndexEntry> tree = {{0, u"Inbox", *folder, kImageFolder}};
  for (size_t i = 600; i < offsets.size(); ++i) {
    tree.push_back({1, u"later", offsets[i], kImageMessageRead});
  }
  tree.push_back({1, u"big", *big, kImageMessageUnread});
  tree.push_back({0, u"Recycle Bin", 0, kImageRecycleBinFull});
  for (size_t i = 600; i-- > 0;) {
    tree.push_back({1, u"earlier", offsets[i], kImageMessageRead});
  }
  tree.push_back({1, u"again", offsets[700], kImageMessageRead});
  file.MarkModified();
  ASSERT_TRUE(file.SaveIndex(tree).ok());
  ASSERT_TRUE(file.FlushHeader().ok());
  ASSERT_TRUE(file.CompactTo(u"\\My Documents\\b.zud", tree).ok());

  const Bytes source = ReadHost();
  const Bytes out = ReadHost("\\My Documents\\b.zud");
  MessageFile compact;
  ASSERT_TRUE(compact.Open(u"\\My Documents\\b.zud").ok());
  std::optional<std::vector<IndexEntry>> loaded = compact.LoadIndex();
  ASSERT_TRUE(loaded.has_value());
  ASSERT_EQ(loaded->size(), tree.size());
  // Back to back from the first index on, each record as it was with its
  // payload (both lengths and the stream) copied as stored.
  uint64_t next = kFirstRecordOffset;
  for (size_t i = 0; i < tree.size(); ++i) {
    const IndexEntry& entry = (*loaded)[i];
    EXPECT_EQ(entry.title, tree[i].title);
    if (tree[i].record_offset == 0) {
      EXPECT_EQ(entry.record_offset, 0u);
      continue;
    }
    ASSERT_EQ(entry.record_offset, next) << i;
    std::optional<NodeRecord> record = compact.ReadRecord(entry.record_offset);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->sender(),
              file.ReadRecord(tree[i].record_offset)->sender());
    next += kNodeRecordSize;
    if (!record->has_payload()) continue;
    const uint32_t from = tree[i].record_offset + 104;
    const uint32_t z = U32(source, from);
    ASSERT_EQ(U32(out, entry.record_offset + 104), z) << i;
    ASSERT_TRUE(std::equal(source.begin() + from, source.begin() + from + 8 + z,
                           out.begin() + entry.record_offset + 104))
        << i;
    next += 8 + z;
  }
  EXPECT_EQ(compact.header().index_offset(), next);
}

// Opens the document and reads everything reachable; never crashes. Returns
// how many payloads were read back equal to (or a prefix of) the originals.
void ReadEverything(
    const std::vector<std::pair<uint32_t, std::string>>& bodies) {
  MessageFile file;
  if (!file.Open(kPath).ok()) return;
  LoadReport report;
  platform::Status status;
  std::optional<std::vector<IndexEntry>> entries =
      file.LoadIndex(&report, &status);
  if (!entries) {
    EXPECT_FALSE(status.ok());
  } else {
    for (const IndexEntry& entry : *entries) {
      std::optional<NodeRecord> record =
          file.ReadRecord(entry.record_offset, &status);
      if (!record) {
        EXPECT_FALSE(status.ok());
        continue;
      }
      file.ReadPayload(entry.record_offset, *record, &status);
    }
  }
  for (const auto& [offset, body] : bodies) {
    status = platform::Status();
    std::optional<NodeRecord> record = file.ReadRecord(offset, &status);
    if (!record) {
      EXPECT_FALSE(status.ok());
      continue;
    }
    std::optional<std::string> payload =
        file.ReadPayload(offset, *record, &status);
    if (!payload) {
      EXPECT_FALSE(status.ok());
    } else if (record->type() == kRecordCompressed && record->has_payload()) {
      // Whatever comes back is the body or its sound beginning.
      EXPECT_EQ(body.substr(0, payload->size()), *payload) << offset;
    }
  }
}

TEST_F(MessageFileTest, DamagedFilesFailCleanlyOrLoadWhatIsSound) {
  std::vector<std::pair<uint32_t, std::string>> bodies;
  {
    MessageFile file;
    ASSERT_TRUE(file.Create(kPath, FileHeader()).ok());
    const std::string body = "first body, long enough to compress\0"s;
    const uint32_t a = *file.AppendRecord(Message(u"a"), body);
    const uint32_t b = *file.AppendRecord(Message(u"b"), std::nullopt);
    bodies = {{a, body}, {b, ""}};
    file.MarkModified();
    ASSERT_TRUE(file.SaveIndex({{0, u"F", b, 1}, {1, u"m", a, 3}}).ok());
    ASSERT_TRUE(file.FlushHeader().ok());
  }
  const Bytes whole = ReadHost();
  const uint32_t index_at = U32(whole, 8);

  // Text damage loads what is sound and says so.
  {
    Bytes raw = whole;
    PutU32(raw, index_at + 8, 1);  // N = 1 for two lines
    WriteHost(raw);
    MessageFile file;
    ASSERT_TRUE(file.Open(kPath).ok());
    LoadReport report;
    std::optional<std::vector<IndexEntry>> entries = file.LoadIndex(&report);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->size(), 1u);
    EXPECT_EQ(report.problems.size(), 1u);
    file.Close();

    raw = whole;
    const uint32_t t = U32(raw, index_at + 4);
    const uint32_t length = U32(raw, index_at + 12);  // "F\r\n\tm\r\n\0": 8
    ASSERT_EQ(length, 8u);
    raw[index_at + 20 + 7] ^= static_cast<uint8_t>(~t >> 24) ^ 'X';
    WriteHost(raw);
    ASSERT_TRUE(file.Open(kPath).ok());
    report = LoadReport();
    entries = file.LoadIndex(&report);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[1].title, u"m");
    EXPECT_EQ(report.problems.size(), 2u);  // no NUL; "X" is a third line
  }

  // Hostile lengths fail without allocating what they claim.
  for (auto [at, value] :
       {std::pair{index_at + 8, 0xFFFFFFFFu},
        std::pair{index_at + 12, 0xFFFFFFF0u}, std::pair{uint32_t{8}, 4u},
        std::pair{bodies[0].first + 104, 0x7FFFFFFFu}}) {
    Bytes raw = whole;
    PutU32(raw, at, value);
    WriteHost(raw);
    ReadEverything(bodies);
  }

  // Every truncation, then every byte flipped.
  for (size_t length = 0; length < whole.size(); ++length) {
    WriteHost(Bytes(whole.begin(), whole.begin() + length));
    ReadEverything(bodies);
  }
  for (size_t i = 0; i < whole.size(); ++i) {
    Bytes raw = whole;
    raw[i] ^= 0xA5;
    WriteHost(raw);
    ReadEverything(bodies);
  }
}

TEST_F(MessageFileTest, AppendsOverwritePaddingThatSavesAndCloseCut) {
  MessageFile file;
  ASSERT_TRUE(file.Create(kPath, FileHeader()).ok());
  EXPECT_EQ(file.logical_end(), 140u);
  file.Close();
  EXPECT_EQ(ReadHost().size(), 140u);  // a new file stays exactly 140 bytes

  ASSERT_TRUE(file.Open(kPath).ok());
  const std::string body = "a body that is compressed\0"s;
  const uint32_t a = *file.AppendRecord(Message(u"a"), body);
  const uint32_t b = *file.AppendRecord(Message(u"b"), std::nullopt);
  EXPECT_EQ(a, 140u);
  const uint64_t written = file.logical_end();
  EXPECT_EQ(written - b, kNodeRecordSize);
  // While open the file runs past its logical end with zeros.
  EXPECT_GT(ReadHost().size(), written);
  EXPECT_EQ(ReadOpen(file).size(), written);
  file.MarkModified();
  const std::vector<IndexEntry> saved = {{0, u"F", b, 1}, {1, u"m", a, 3}};
  ASSERT_TRUE(file.SaveIndex(saved).ok());
  const uint64_t with_index = file.logical_end();
  EXPECT_EQ(file.header().index_offset(), written);
  ASSERT_TRUE(file.FlushHeader().ok());
  EXPECT_EQ(ReadHost().size(), with_index);  // a save holds no padding

  // A crash after more appends: the host file as it is while open.
  const uint32_t c = *file.AppendRecord(Message(u"c"), body);
  EXPECT_EQ(c, with_index);
  const Bytes crashed = ReadHost();
  ASSERT_GT(crashed.size(), file.logical_end());
  const uint64_t before_close = file.logical_end();
  file.Close();
  EXPECT_EQ(ReadHost().size(), before_close);  // a closed file neither
  EXPECT_EQ(file.logical_end(), 0u);

  // The crashed copy opens whole, padding as dead space, and loads its last
  // save; appends land after the padding and read back.
  WriteHost(crashed);
  ASSERT_TRUE(file.Open(kPath).ok());
  EXPECT_EQ(file.logical_end(), crashed.size());
  std::optional<std::vector<IndexEntry>> loaded = file.LoadIndex();
  ASSERT_TRUE(loaded.has_value());
  ASSERT_EQ(loaded->size(), 2u);
  EXPECT_EQ((*loaded)[1].record_offset, a);
  EXPECT_EQ(*file.ReadPayload(a, *file.ReadRecord(a)), body);
  EXPECT_EQ(*file.ReadPayload(c, *file.ReadRecord(c)), body);
  const uint32_t d = *file.AppendRecord(Message(u"d"), body);
  EXPECT_EQ(d, crashed.size());
  EXPECT_EQ(file.ReadRecord(d)->sender(), Message(u"d").sender());
  EXPECT_EQ(*file.ReadPayload(d, *file.ReadRecord(d)), body);
  const uint64_t end = file.logical_end();
  file.Close();
  EXPECT_EQ(ReadHost().size(), end);
  ASSERT_TRUE(file.Open(kPath).ok());
  EXPECT_EQ(*file.ReadPayload(d, *file.ReadRecord(d)), body);

  // A compacted copy is written without padding: it ends with its index.
  ASSERT_TRUE(file.CompactTo(u"\\My Documents\\b.zud", saved).ok());
  const Bytes out = ReadHost("\\My Documents\\b.zud");
  const uint32_t index_at = U32(out, 8);
  EXPECT_EQ(out.size(), index_at + 20 + U32(out, index_at + 12) + 2 * 8);
  MessageFile copy;
  ASSERT_TRUE(copy.Open(u"\\My Documents\\b.zud").ok());
  ASSERT_TRUE(copy.LoadIndex().has_value());
}

}  // namespace
}  // namespace store
