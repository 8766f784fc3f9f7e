#include "import/xml/xml_backup.h"

#include <libxml/xmlreader.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "import/xml/backup_filter.h"
#include "platform/codepage.h"
#include "platform/time.h"
#include "platform/unicode.h"
#include "send/filing.h"
#include "text/text.h"

namespace import::xml {
namespace {

using platform::ErrorCode;
using platform::Status;
using store::Document;
using store::Node;

// Milliseconds from 1601-01-01 (file times) to 1970-01-01.
constexpr int64_t kUnixEpochMs = 11644473600000;
// The largest millisecond count whose file time fits 64 bits.
constexpr int64_t kMaxFileTimeMs = INT64_MAX / 10000;
constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kWriteChunk = 64 * 1024;
// The root's count attribute is written into a field of this many bytes
// (`count="N"` and spaces), filled in when the messages are written.
constexpr size_t kCountField = 18;
constexpr std::string_view kXmlDeclaration =
    "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n";
constexpr std::u16string_view kUnknownContact = u"(Unknown)";

// ------------------------------------------------------------ Text

// UTF-8 from the reader (valid: the filter saw to it) to wide text; the
// filter's stand-ins become their control characters again. With
// `line_breaks`, a line feed not preceded by a carriage return gets one, as
// the device's texts break lines.
std::u16string Wide(std::string_view utf8, bool line_breaks) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const uint8_t lead = static_cast<uint8_t>(utf8[i]);
    char32_t c = lead;
    size_t length = 1;
    if (lead >= 0xF0) {
      c = lead & 0x07;
      length = 4;
    } else if (lead >= 0xE0) {
      c = lead & 0x0F;
      length = 3;
    } else if (lead >= 0xC0) {
      c = lead & 0x1F;
      length = 2;
    }
    if (i + length > utf8.size()) {
      out.push_back(u'\uFFFD');
      break;
    }
    for (size_t k = 1; k < length; ++k) {
      c = (c << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
    }
    i += length;
    if (c >= kControlStandIn && c < kControlStandIn + 0x20) {
      out.push_back(ControlFromStandIn(c));
    } else if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      if (c == u'\n' && line_breaks && (out.empty() || out.back() != u'\r')) {
        out.push_back(u'\r');
      }
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

// True for the characters XML 1.0 can hold (surrogates are handled as
// pairs by the caller).
bool XmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Appends `text` as the value of an attribute in double quotes. Carriage
// return and line feed together become one line feed (the backup's line
// break); the characters XML must not hold raw are escaped; control
// characters XML 1.0 cannot hold at all are left out, and a surrogate
// without its other half, U+FFFE and U+FFFF become U+FFFD.
void AppendAttribute(std::u16string_view text, std::string* out) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    switch (c) {
      case '&':
        out->append("&amp;");
        continue;
      case '<':
        out->append("&lt;");
        continue;
      case '>':
        out->append("&gt;");
        continue;
      case '"':
        out->append("&quot;");
        continue;
      case '\t':
        out->append("&#9;");
        continue;
      case '\n':
        out->append("&#10;");
        continue;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == u'\n') {
          out->append("&#10;");
          ++i;
        } else {
          out->append("&#13;");
        }
        continue;
      default:
        break;
    }
    if (c < 0x20) continue;
    if (!XmlChar(c)) c = 0xFFFD;
    platform::AppendUtf8(c, out);
  }
}

// A decimal integer, the whole text; nullopt otherwise.
std::optional<int64_t> ParseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

// The time of a backup's "date" (milliseconds since 1970, UTC); nullopt
// outside the platform's calendar.
std::optional<platform::SystemTime> TimeFromMilliseconds(int64_t ms) {
  if (ms < -kUnixEpochMs || ms > kMaxFileTimeMs - kUnixEpochMs) {
    return std::nullopt;
  }
  const uint64_t ticks = static_cast<uint64_t>(ms + kUnixEpochMs) * 10000;
  return platform::FileTimeToSystemTime(platform::FileTime::FromValue(ticks));
}

std::optional<int64_t> MillisecondsFromTime(const platform::SystemTime& utc) {
  std::optional<platform::FileTime> file_time =
      platform::SystemTimeToFileTime(utc);
  if (!file_time) return std::nullopt;
  return static_cast<int64_t>(file_time->value() / 10000) - kUnixEpochMs;
}

// The two fixed parts of a sent message's content, around the recipients.
struct SentShape {
  std::u16string_view before;  // "Send To:"
  std::u16string_view rule;    // line break, the rule, line break
};

SentShape SentContentShape() {
  const std::u16string_view format = send::kSentContentFormat;
  const size_t first = format.find(u"%s");
  const size_t second = format.find(u"%s", first + 2);
  return {format.substr(0, first),
          format.substr(first + 2, second - first - 2)};
}

// A text field of a record as stored (docs/formats/zud.md), up to its NUL.
// The fields are read as bytes here: decoding them through the record
// would look up the device's code page once per field and message.
std::string_view RecordField(const store::NodeRecord& record, size_t at,
                             size_t size) {
  const std::string_view field(
      reinterpret_cast<const char*>(record.bytes.data()) + at, size);
  return field.substr(0, field.find('\0'));
}
constexpr size_t kSenderAt = 36, kSenderSize = 52;
constexpr size_t kPasswordAt = 88, kPasswordSize = 12;

// ------------------------------------------------------------ Import

// Bytes from the source, through the filter, as libxml2 asks for them.
struct Input {
  ByteSource* source = nullptr;
  BackupFilter filter;
  std::vector<char> chunk = std::vector<char>(kReadChunk);
  std::string ready;  // filtered bytes not yet handed over
  size_t handed = 0;
  bool ended = false;
  Status status;  // a failure of the source

  int Read(char* buffer, int size) {
    while (handed == ready.size()) {
      if (ended) return 0;
      ready.clear();
      handed = 0;
      size_t got = 0;
      status = source->Read(chunk.data(), chunk.size(), &got);
      if (!status.ok()) {
        ended = true;
        return -1;
      }
      if (got == 0) {
        filter.Finish(&ready);
        ended = true;
      } else {
        filter.Feed(std::string_view(chunk.data(), got), &ready);
      }
    }
    const size_t n =
        std::min(ready.size() - handed, static_cast<size_t>(std::max(size, 0)));
    std::memcpy(buffer, ready.data() + handed, n);
    handed += n;
    return static_cast<int>(n);
  }
};

int ReadInput(void* context, char* buffer, int size) {
  return static_cast<Input*>(context)->Read(buffer, size);
}

int CloseInput(void*) { return 0; }

// The first error the reader reported, as "line N: what".
void RecordError(void* context, xmlErrorPtr error) {
  auto* first = static_cast<std::string*>(context);
  if (error == nullptr || error->level == XML_ERR_WARNING || !first->empty())
    return;
  std::string message = error->message != nullptr ? error->message : "";
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  *first = "line " + std::to_string(error->line) + ": " + message;
}

// libxml2 also prints some errors (encoding, input) through its generic
// handler; the structured handler above has them already.
void Quiet(void*, const char*, ...) {}

struct ReaderDeleter {
  void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};

// One "sms" element's attributes, as read.
struct SmsAttributes {
  bool has_address = false, has_date = false, has_type = false,
       has_body = false;
  std::string address, date, type, body, read;

  void Clear() {
    has_address = has_date = has_type = has_body = false;
    read.clear();
  }
};

// The messages a folder holds, by a hash of what makes two the same
// (sender, time to the second, stored text): the records are read again
// to compare, so the index holds offsets only.
class Duplicates {
 public:
  explicit Duplicates(Document& document) : document_(document) {}

  void AddFolder(Node* folder) {
    for (size_t i = 0; i < folder->child_count(); ++i) {
      Node* child = folder->child(i);
      if (!child->is_message()) continue;
      const uint32_t offset = child->tag().record_offset;
      std::optional<Key> key = Read(offset);
      if (key) Add(*key, offset);
    }
  }

  struct Key {
    std::string sender;  // the record's sender field as stored, to its NUL
    int64_t seconds = 0;
    std::string body;  // as stored, up to its NUL
    size_t Hash() const {
      size_t h = std::hash<std::string_view>()(sender);
      h = h * 1000003u ^ std::hash<int64_t>()(seconds);
      return h * 1000003u ^ std::hash<std::string_view>()(body);
    }
    bool operator==(const Key&) const = default;
  };

  static Key MakeKey(const store::NodeRecord& record, std::string_view body) {
    Key key;
    key.sender = std::string(RecordField(record, kSenderAt, kSenderSize));
    key.seconds = std::llround(record.date() * 86400.0);
    key.body = std::string(body.substr(0, body.find('\0')));
    return key;
  }

  bool Contains(const Key& key) {
    auto [first, last] = offsets_.equal_range(key.Hash());
    for (auto it = first; it != last; ++it) {
      std::optional<Key> stored = Read(it->second);
      if (stored && *stored == key) return true;
    }
    return false;
  }

  void Add(const Key& key, uint32_t offset) {
    offsets_.emplace(key.Hash(), offset);
  }

 private:
  std::optional<Key> Read(uint32_t offset) {
    if (offset == 0) return std::nullopt;
    store::MessageFile& file = document_.file();
    std::optional<store::NodeRecord> record = file.ReadRecord(offset);
    if (!record) return std::nullopt;
    std::string body;
    if (record->has_payload()) {
      std::optional<std::string> bytes = file.ReadPayload(offset, *record);
      if (!bytes) return std::nullopt;
      body = std::move(*bytes);
    }
    return MakeKey(*record, body);
  }

  Document& document_;
  std::unordered_multimap<size_t, uint32_t> offsets_;
};

class Importer {
 public:
  Importer(Document& document, Node* folder)
      : document_(document),
        folder_(folder),
        duplicates_(document),
        code_page_(platform::AnsiCodePage()) {}

  ImportResult Run(ByteSource& source);

 private:
  // Reads the current element's attributes.
  void ReadAttributes(xmlTextReader* reader);
  // Files the message read last; false when the document failed.
  bool File();

  Document& document_;
  Node* folder_;
  Duplicates duplicates_;
  uint32_t code_page_;
  SmsAttributes sms_;
  ImportResult result_;
};

void Importer::ReadAttributes(xmlTextReader* reader) {
  sms_.Clear();
  while (xmlTextReaderMoveToNextAttribute(reader) == 1) {
    const char* name =
        reinterpret_cast<const char*>(xmlTextReaderConstName(reader));
    const char* value =
        reinterpret_cast<const char*>(xmlTextReaderConstValue(reader));
    if (name == nullptr) continue;
    if (value == nullptr) value = "";
    if (std::strcmp(name, "address") == 0) {
      sms_.has_address = true;
      sms_.address = value;
    } else if (std::strcmp(name, "date") == 0) {
      sms_.has_date = true;
      sms_.date = value;
    } else if (std::strcmp(name, "type") == 0) {
      sms_.has_type = true;
      sms_.type = value;
    } else if (std::strcmp(name, "body") == 0) {
      sms_.has_body = true;
      sms_.body = value;
    } else if (std::strcmp(name, "read") == 0) {
      sms_.read = value;
    }
  }
  xmlTextReaderMoveToElement(reader);
}

bool Importer::File() {
  const bool received = sms_.type == "1";
  const bool sent = sms_.type == "2";
  std::optional<int64_t> ms = ParseInteger(sms_.date);
  std::optional<platform::SystemTime> utc;
  if (ms) utc = TimeFromMilliseconds(*ms);
  std::optional<platform::SystemTime> local;
  if (utc) local = platform::SystemTimeToLocal(*utc);
  std::optional<double> date;
  if (local) date = platform::SystemTimeToVariantTime(*local);
  if (!sms_.has_address || !sms_.has_body || !sms_.has_type || !sms_.has_date ||
      (!received && !sent) || !date) {
    ++result_.refused;
    return true;
  }
  const std::u16string address = Wide(sms_.address, false);
  const std::u16string body = Wide(sms_.body, true);

  store::NodeRecord record;
  record.set_type(store::kRecordCompressed);
  record.set_date(*date);
  record.set_sender(address, code_page_);
  std::string bytes;
  if (sent) {
    bytes = send::SentContentBytes(address, body, code_page_);
  } else {
    bytes = platform::WideToMultiByte(body, code_page_);
    bytes.push_back('\0');
  }
  const Duplicates::Key key = Duplicates::MakeKey(record, bytes);
  if (duplicates_.Contains(key)) {
    ++result_.skipped;
    return true;
  }
  const bool unread = received && sms_.read == "0";
  const std::u16string title = text::MessageTitle(
      body, address, *local, document_.options().import_title);
  std::optional<std::string_view> payload;
  if (bytes.size() > 1) payload = std::string_view(bytes);
  Status status;
  std::optional<store::PendingFiling> pending = document_.PersistNode(
      folder_, title,
      unread ? store::kImageMessageUnread : store::kImageMessageRead, record,
      payload, &status);
  if (!pending) {
    result_.status = status.ok() ? Status(ErrorCode::kIoError,
                                          "the message could not be filed")
                                 : status;
    return false;
  }
  if (document_.InsertPending(*pending) == nullptr) {
    result_.status =
        Status(ErrorCode::kIoError, "the message could not be filed");
    return false;
  }
  duplicates_.Add(key, pending->note.target_offset);
  ++result_.imported;
  return true;
}

ImportResult Importer::Run(ByteSource& source) {
  if (!document_.IsOpen() || folder_ == nullptr || folder_->is_message()) {
    result_.status =
        Status(ErrorCode::kInvalidArgument, "no folder to import into");
    return result_;
  }
  duplicates_.AddFolder(folder_);

  // Quiet for the life of the reader, then as it was.
  struct GenericErrors {
    xmlGenericErrorFunc handler = xmlGenericError;
    void* context = xmlGenericErrorContext;
    GenericErrors() { xmlSetGenericErrorFunc(nullptr, Quiet); }
    ~GenericErrors() { xmlSetGenericErrorFunc(context, handler); }
  } quiet;
  Input input;
  input.source = &source;
  std::unique_ptr<xmlTextReader, ReaderDeleter> reader(
      xmlReaderForIO(ReadInput, CloseInput, &input, nullptr, "UTF-8",
                     XML_PARSE_NONET | XML_PARSE_COMPACT));
  if (reader == nullptr) {
    result_.status =
        Status(ErrorCode::kUnavailable, "the XML reader could not start");
    return result_;
  }
  std::string first_error;
  xmlTextReaderSetStructuredErrorHandler(reader.get(), RecordError,
                                         &first_error);

  int64_t promised = -1;  // the root's count
  int64_t seen = 0;       // elements below the root
  int step = 0;
  while ((step = xmlTextReaderRead(reader.get())) == 1) {
    if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT) {
      continue;
    }
    const int depth = xmlTextReaderDepth(reader.get());
    const char* name =
        reinterpret_cast<const char*>(xmlTextReaderConstName(reader.get()));
    if (name == nullptr) name = "";
    if (depth == 0) {
      if (std::strcmp(name, "smses") != 0) {
        result_.damage = "not an SMS backup: its root element is <" +
                         std::string(name) + ">";
        break;
      }
      xmlChar* count = xmlTextReaderGetAttribute(
          reader.get(), reinterpret_cast<const xmlChar*>("count"));
      if (count != nullptr) {
        promised =
            ParseInteger(reinterpret_cast<const char*>(count)).value_or(-1);
        xmlFree(count);
      }
      continue;
    }
    if (depth != 1) continue;  // inside an element: nothing we use
    ++seen;
    if (std::strcmp(name, "sms") != 0) {
      ++result_.refused;
      continue;
    }
    ReadAttributes(reader.get());
    if (!File()) break;
  }
  if (step < 0 && result_.status.ok()) {
    if (!input.status.ok()) {
      result_.damage = "the file could not be read: " + input.status.ToString();
    } else {
      result_.damage =
          first_error.empty() ? std::string("the XML is damaged") : first_error;
    }
    result_.refused +=
        static_cast<int>(std::clamp<int64_t>(promised - seen, 1, INT_MAX));
  }
  return result_;
}

}  // namespace

Status StringSource::Read(char* buffer, size_t size, size_t* got) {
  *got = std::min(size, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, *got);
  position_ += *got;
  return Status::Ok();
}

ImportResult ImportBackup(Document& document, Node* folder,
                          ByteSource& source) {
  store::DocumentLock::Holder hold(document.lock());
  // One commit for the whole import, by the save at its end: a crash in
  // between loses the import, never what was there before.
  document.file().set_commit_appends(false);
  ImportResult result = Importer(document, folder).Run(source);
  document.file().set_commit_appends(true);
  if (result.imported > 0) {
    Status saved = document.Save();
    if (result.status.ok() && !saved.ok()) result.status = saved;
  }
  return result;
}

ImportResult ImportBackupFile(Document& document, Node* folder,
                              std::u16string_view path) {
  Status status;
  std::unique_ptr<platform::files::File> file =
      platform::files::File::Open(path, "rb", &status);
  if (file == nullptr) {
    ImportResult result;
    result.status = status;
    return result;
  }
  FileSource source(file.get());
  return ImportBackup(document, folder, source);
}

// ------------------------------------------------------------ Export

namespace {

// "5 Mar 2024 10:00:00": the local time in one fixed form (the device's
// own formats are settings, too slow to read once per message).
void AppendReadableDate(const platform::SystemTime& local, std::string* out) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                            "May", "Jun", "Jul", "Aug",
                                            "Sep", "Oct", "Nov", "Dec"};
  char text[48];
  std::snprintf(text, sizeof text, "%u %s %u %02u:%02u:%02u",
                unsigned{local.day}, kMonths[(local.month + 11) % 12],
                unsigned{local.year}, unsigned{local.hour},
                unsigned{local.minute}, unsigned{local.second});
  out->append(text);
}

// Buffered writes to the new file; the first failure sticks.
class Output {
 public:
  explicit Output(platform::files::File* file) : file_(file) {
    buffer_.reserve(kWriteChunk * 2);
  }
  std::string& buffer() { return buffer_; }
  void MaybeFlush() {
    if (buffer_.size() >= kWriteChunk) Flush();
  }
  void Flush() {
    if (status_.ok() && !buffer_.empty() &&
        file_->Write(buffer_.data(), buffer_.size()) != buffer_.size()) {
      status_ = Status(ErrorCode::kIoError, "the file could not be written");
    }
    buffer_.clear();
  }
  const Status& status() const { return status_; }

 private:
  platform::files::File* file_;
  std::string buffer_;
  Status status_;
};

class Exporter {
 public:
  Exporter(Document& document, Output& output)
      : document_(document),
        output_(output),
        shape_(SentContentShape()),
        code_page_(platform::AnsiCodePage()) {}

  // Writes `node` (a message) or the messages below it.
  void Walk(Node* node, bool subfolders, bool top);
  ExportResult& result() { return result_; }

 private:
  // `chosen`: the caller has checked this message's own password.
  void Message(Node* node, bool chosen = false);
  int CountMessages(const Node* node) const;

  Document& document_;
  Output& output_;
  SentShape shape_;
  uint32_t code_page_;  // read once: the device's settings are not cheap
  std::unordered_set<uint32_t> written_;
  ExportResult result_;
};

int Exporter::CountMessages(const Node* node) const {
  if (node->is_message()) return 1;
  int count = 0;
  for (size_t i = 0; i < node->child_count(); ++i) {
    count += CountMessages(node->child(i));
  }
  return count;
}

void Exporter::Walk(Node* node, bool subfolders, bool top) {
  if (node->is_message()) {
    Message(node, top);
    return;
  }
  if (!top && !node->is_recycle_bin()) {
    // A folder below the one chosen keeps what its password protects.
    std::optional<store::NodeRecord> record = document_.ReadNodeRecord(node);
    if (!record || !record->password().empty()) {
      result_.left_out += CountMessages(node);
      return;
    }
  }
  for (size_t i = 0; i < node->child_count(); ++i) {
    Node* child = node->child(i);
    if (child->is_message()) {
      Message(child);
    } else if (subfolders) {
      Walk(child, subfolders, false);
    }
  }
}

void Exporter::Message(Node* node, bool chosen) {
  const uint32_t offset = node->tag().record_offset;
  if (written_.count(offset) != 0) return;  // a copy in another folder
  store::MessageFile& file = document_.file();
  std::optional<store::NodeRecord> record =
      offset != 0 ? file.ReadRecord(offset) : std::nullopt;
  std::optional<std::u16string> body;
  if (record &&
      (chosen || RecordField(*record, kPasswordAt, kPasswordSize).empty())) {
    if (!record->has_payload()) {
      body.emplace();
    } else if (std::optional<std::string> bytes =
                   file.ReadPayload(offset, *record)) {
      body = platform::MultiByteToWide(
          std::string_view(*bytes).substr(0, bytes->find('\0')), code_page_);
    }
  }
  std::optional<platform::SystemTime> local;
  if (record) local = platform::VariantTimeToSystemTime(record->date());
  std::optional<int64_t> ms;
  if (local) {
    if (auto utc = platform::LocalToSystemTime(*local)) {
      ms = MillisecondsFromTime(*utc);
    }
  }
  if (!body || !ms) {
    ++result_.left_out;
    return;
  }
  std::u16string address = platform::MultiByteToWide(
      RecordField(*record, kSenderAt, kSenderSize), code_page_);
  std::u16string_view text = *body;
  bool sent = false;
  if (text.starts_with(shape_.before)) {
    const size_t rule = text.find(shape_.rule, shape_.before.size());
    if (rule != std::u16string_view::npos) {
      sent = true;
      address = text.substr(shape_.before.size(), rule - shape_.before.size());
      text = text.substr(rule + shape_.rule.size());
    }
  }
  const text::Recipient party = text::SplitRecipient(address);
  const bool unread = !sent && node->image() == store::kImageMessageUnread;

  std::string& out = output_.buffer();
  out.append("  <sms protocol=\"0\" address=\"");
  AppendAttribute(address, &out);
  out.append("\" date=\"");
  out.append(std::to_string(*ms));
  out.append(sent ? "\" type=\"2\"" : "\" type=\"1\"");
  out.append(" subject=\"null\" body=\"");
  AppendAttribute(text, &out);
  out.append("\" toa=\"null\" sc_toa=\"null\" service_center=\"null\" read=\"");
  out.append(unread ? "0" : "1");
  out.append("\" status=\"-1\" locked=\"0\" date_sent=\"0\" readable_date=\"");
  AppendReadableDate(*local, &out);
  out.append("\" contact_name=\"");
  AppendAttribute(party.quoted && !party.name.empty()
                      ? std::u16string_view(party.name)
                      : kUnknownContact,
                  &out);
  out.append("\" />\n");
  output_.MaybeFlush();
  written_.insert(offset);
  ++result_.written;
}

// The device path of a new file beside `path`, named after it.
std::u16string TemporaryPath(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  const size_t start = slash == std::u16string_view::npos ? 0 : slash + 1;
  std::u16string temporary(path.substr(0, start));
  temporary += u".";
  temporary += path.substr(start);
  for (char c : "." + std::to_string(getpid()) + ".tmp") {
    temporary.push_back(static_cast<char16_t>(c));
  }
  return temporary;
}

}  // namespace

ExportResult ExportBackup(Document& document, Node* node, bool subfolders,
                          std::u16string_view path) {
  store::DocumentLock::Holder hold(document.lock());
  ExportResult failed;
  if (!document.IsOpen()) {
    failed.status = Status(ErrorCode::kInvalidArgument, "no document is open");
    return failed;
  }
  const std::u16string temporary = TemporaryPath(path);
  Status status;
  std::unique_ptr<platform::files::File> file =
      platform::files::File::Open(temporary, "wb+c", &status);
  if (file == nullptr) {
    failed.status = status;
    return failed;
  }
  Output output(file.get());
  output.buffer().append(kXmlDeclaration);
  const size_t count_at = output.buffer().size() + std::strlen("<smses ");
  output.buffer().append("<smses ");
  output.buffer().append(kCountField, ' ');
  output.buffer().append(">\n");

  Exporter exporter(document, output);
  if (node == nullptr) {
    Node* root = document.tree().root();
    for (size_t i = 0; i < root->child_count(); ++i) {
      Node* child = root->child(i);
      if (!child->is_recycle_bin()) exporter.Walk(child, subfolders, false);
    }
  } else {
    exporter.Walk(node, subfolders, true);
  }
  ExportResult result = exporter.result();
  output.buffer().append("</smses>\n");
  output.Flush();
  status = output.status();
  if (status.ok()) {
    std::string field = "count=\"" + std::to_string(result.written) + "\"";
    field.resize(kCountField, ' ');
    status = file->Seek(static_cast<int64_t>(count_at), SEEK_SET);
    if (status.ok() && file->Write(field.data(), field.size()) != field.size())
      status = Status(ErrorCode::kIoError, "the file could not be written");
  }
  if (status.ok()) status = file->Flush();
  if (status.ok()) status = file->Close();
  file.reset();
  if (status.ok()) status = platform::files::Rename(temporary, path);
  if (!status.ok()) {
    platform::files::Delete(temporary).IgnoreError();
    result.written = 0;
  }
  result.status = status;
  return result;
}

}  // namespace import::xml
