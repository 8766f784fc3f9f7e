#include "firewall/filter_file.h"

#include <filesystem>
#include <optional>
#include <set>
#include <utility>

#include "platform/files.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/unicode.h"
#include "settings/settings_store.h"
#include "text/text.h"

namespace firewall {

namespace {

constexpr char16_t kByteOrderMark = 0xFEFF;
constexpr std::u16string_view kLineEnd = u"\r\n";
constexpr std::u16string_view kEndText = u"End\r\n";

// Reads the image as the program's line reader does: code units after the
// two mark bytes, lines of at most kLinePieceLength units that end after
// their LF. A line's text ends at its first NUL; units past the text read
// as NUL.
class LineReader {
 public:
  explicit LineReader(std::span<const uint8_t> bytes) : bytes_(bytes) {
    position_ = bytes_.size() >= 2 ? 2 : bytes_.size();
  }

  bool odd_length() const {
    return bytes_.size() > 2 && (bytes_.size() - 2) % 2 == 1;
  }

  // The next line piece; false at the end of the image.
  bool Next() {
    text_.clear();
    if (position_ + 1 >= bytes_.size()) return false;
    bool text_ended = false;
    size_t count = 0;
    while (count < kLinePieceLength && position_ + 1 < bytes_.size()) {
      char16_t unit = static_cast<char16_t>(bytes_[position_] |
                                            (bytes_[position_ + 1] << 8));
      position_ += 2;
      ++count;
      if (unit == 0) text_ended = true;
      if (!text_ended) text_.push_back(unit);
      if (unit == u'\n') break;
    }
    return true;
  }

  const std::u16string& text() const { return text_; }
  char16_t Unit(size_t index) const {
    return index < text_.size() ? text_[index] : char16_t{0};
  }
  // The text from `index` up to its first CR or LF.
  std::u16string_view Rest(size_t index) const {
    if (index >= text_.size()) return {};
    std::u16string_view rest = std::u16string_view(text_).substr(index);
    size_t stop = rest.find_first_of(u"\r\n");
    return stop == std::u16string_view::npos ? rest : rest.substr(0, stop);
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
  std::u16string text_;
};

int32_t DigitValue(char16_t unit) { return static_cast<int32_t>(unit) - 48; }

void ClearRulesAndActions(FilterRecord* record) {
  record->rules = {};
  record->actions = {};
}

void ReadBlock(LineReader& reader, FilterRecord* record, ParseReport* report) {
  size_t rules_read = 0;
  while (reader.Next()) {
    ++report->lines;
    switch (reader.Unit(0)) {
      case kEndLine:
        return;
      case kRuleLine:
        if (rules_read < record->rules.size()) {
          record->rules[rules_read++] =
              Rule{DigitValue(reader.Unit(1)), DigitValue(reader.Unit(2)),
                   std::u16string(reader.Rest(3))};
        } else {
          ++report->skipped_lines;
        }
        break;
      case kActionLine: {
        int32_t slot = DigitValue(reader.Unit(1));
        if (slot < 0 || slot >= kActionSlotCount) {
          ++report->bad_slots;
          break;
        }
        if (reader.text().size() >= 3) {
          std::u16string value(reader.Rest(2));
          record->Set(slot, std::move(text::UnescapeLineBreaks(value)));
        } else {
          record->Set(slot, std::nullopt);
        }
        break;
      }
      default:
        ++report->skipped_lines;
        break;
    }
  }
  report->missing_end = true;
}

// "B" line: the name up to the first backquote, then the first non-empty
// field after it (fields separated by backquotes) as the phone.
bool ReadBlackListEntry(std::u16string_view rest, BlackListEntry* entry) {
  size_t separator = rest.find(kBlackListSeparator);
  if (separator == std::u16string_view::npos) return false;
  entry->name = std::u16string(rest.substr(0, separator));
  std::u16string_view after = rest.substr(separator + 1);
  size_t start = after.find_first_not_of(kBlackListSeparator);
  if (start == std::u16string_view::npos) {
    entry->phone.clear();
    return true;
  }
  after = after.substr(start);
  entry->phone =
      std::u16string(after.substr(0, after.find(kBlackListSeparator)));
  return true;
}

// ---- Writing

// A one-unit digit field: "0" + value when that is a unit the reader gives
// back as the same value and that keeps the line whole; otherwise
// `fallback`, a digit with the same meaning.
char16_t DigitUnit(int32_t value, char16_t fallback) {
  int64_t unit = int64_t{value} + 48;
  if (unit <= 0 || unit > 0xFFFF || unit == u'\r' || unit == u'\n') {
    return fallback;
  }
  return static_cast<char16_t>(unit);
}

// An unescaped field: everything up to its first CR, LF or NUL (what a
// reader would see of it).
std::u16string_view Field(std::u16string_view field) {
  size_t stop = field.find_first_of(std::u16string_view(u"\r\n\0", 3));
  return stop == std::u16string_view::npos ? field : field.substr(0, stop);
}

// An action value in escaped form. A line feed without a carriage return
// before it would break the line; it is written as a line break too.
std::u16string EscapedValue(std::u16string_view value) {
  std::u16string copy(value);
  text::EscapeLineBreaks(copy);
  std::u16string out;
  out.reserve(copy.size());
  for (char16_t unit : copy) {
    if (unit == u'\n') {
      out += u"``";
    } else {
      out.push_back(unit);
    }
  }
  return out;
}

void WriteBlockBody(const FilterRecord& record, std::u16string* out) {
  for (const std::optional<Rule>& rule : record.rules) {
    if (!rule) continue;
    out->push_back(kRuleLine);
    out->push_back(DigitUnit(rule->object, u'9'));  // 9: the rule fails
    out->push_back(DigitUnit(rule->judge, u'9'));   // 9: no effect
    out->append(Field(rule->content));
    out->append(kLineEnd);
  }
  for (int slot = 0; slot < kActionSlotCount; ++slot) {
    const Action& action = record.actions[static_cast<size_t>(slot)];
    if (!action.present) continue;
    out->push_back(kActionLine);
    out->push_back(static_cast<char16_t>(u'0' + slot));
    if (action.value) out->append(EscapedValue(*action.value));
    out->append(kLineEnd);
  }
  out->append(kEndText);
}

// ---- Files a load could not read

// Files a load found but could not read, by host path (one file has one
// host path whatever the case of the device path): saves leave them alone
// for the rest of the process, unless a later load reads them.
struct HeldFiles {
  platform::Mutex mutex;
  std::set<std::string> paths GUARDED_BY(mutex);
};

HeldFiles& Held() {
  static auto* held = new HeldFiles();  // never destroyed: used at exit
  return *held;
}

std::optional<std::string> HeldKey(std::u16string_view device_path) {
  std::optional<std::filesystem::path> host =
      platform::files::Resolve(device_path);
  if (!host) return std::nullopt;  // no such path can be written either
  return host->string();
}

void Hold(std::u16string_view device_path, bool hold) {
  if (device_path.empty()) return;
  std::optional<std::string> key = HeldKey(device_path);
  if (!key) return;
  HeldFiles& held = Held();
  platform::MutexLock lock(&held.mutex);
  if (hold) {
    held.paths.insert(*key);
  } else {
    held.paths.erase(*key);
  }
}

bool IsHeld(std::u16string_view device_path) {
  HeldFiles& held = Held();
  {
    platform::MutexLock lock(&held.mutex);
    if (held.paths.empty()) return false;
  }
  std::optional<std::string> key = HeldKey(device_path);
  if (!key) return false;
  platform::MutexLock lock(&held.mutex);
  return held.paths.count(*key) != 0;
}

}  // namespace

std::u16string DefaultFilterFilePath() {
  return settings::AppFolder() + std::u16string(kFilterFileName);
}

std::u16string MaskPassword(std::u16string_view password) {
  std::u16string masked(password);
  for (char16_t& unit : masked)
    unit = static_cast<char16_t>(unit ^ kPasswordMask);
  return masked;
}

void ParseFilterFile(std::span<const uint8_t> bytes, FilterSet* set,
                     ParseReport* report) {
  ParseReport scratch;
  if (report == nullptr) report = &scratch;
  *report = ParseReport{};

  set->filters.clear();
  set->black_list.clear();
  ClearRulesAndActions(&set->contact_default);
  ClearRulesAndActions(&set->stranger_default);
  set->contact_default.apply_to_all = 1;
  set->stranger_default.apply_to_all = 1;

  LineReader reader(bytes);
  report->odd_length = reader.odd_length();
  while (reader.Next()) {
    ++report->lines;
    switch (reader.Unit(0)) {
      case kBlackListLine: {
        BlackListEntry entry;
        if (ReadBlackListEntry(reader.Rest(1), &entry)) {
          set->black_list.push_back(std::move(entry));
        } else {
          ++report->skipped_lines;
        }
        break;
      }
      case kFilterLine: {
        FilterRecord record;
        record.apply_to_all = DigitValue(reader.Unit(1));
        record.enabled = DigitValue(reader.Unit(2));
        record.SetName(reader.Rest(3));
        set->filters.push_back(std::move(record));
        ReadBlock(reader, &set->filters.back(), report);
        break;
      }
      case kContactDefaultLine:
        ReadBlock(reader, &set->contact_default, report);
        break;
      case kStrangerDefaultLine:
        ReadBlock(reader, &set->stranger_default, report);
        break;
      case kPasswordLine: {
        std::u16string password;
        for (size_t i = 1; i <= kMaxPasswordLength; ++i) {
          char16_t unit = reader.Unit(i);
          if (unit == 0 || unit == u'\r' || unit == u'\n') break;
          password.push_back(static_cast<char16_t>(unit ^ kPasswordMask));
        }
        set->password = std::move(password);
        break;
      }
      default:
        ++report->skipped_lines;
        break;
    }
  }
}

std::string SerializeFilterFile(const FilterSet& set) {
  std::u16string units;
  units.push_back(kByteOrderMark);
  for (const FilterRecord& filter : set.filters) {
    units.push_back(kFilterLine);
    units.push_back(DigitUnit(filter.apply_to_all, u'1'));
    units.push_back(DigitUnit(filter.enabled, u'1'));
    units.append(Field(filter.name).substr(0, kMaxFilterNameLength));
    units.append(kLineEnd);
    WriteBlockBody(filter, &units);
  }
  for (const BlackListEntry& entry : set.black_list) {
    units.push_back(kBlackListLine);
    units.append(Field(entry.name));
    units.push_back(kBlackListSeparator);
    units.append(Field(entry.phone));
    units.append(kLineEnd);
  }
  units.push_back(kContactDefaultLine);
  units.append(kLineEnd);
  WriteBlockBody(set.contact_default, &units);
  units.push_back(kStrangerDefaultLine);
  units.append(kLineEnd);
  WriteBlockBody(set.stranger_default, &units);
  units.push_back(kPasswordLine);
  units.append(MaskPassword(
      std::u16string_view(set.password).substr(0, kMaxPasswordLength)));
  units.append(kLineEnd);

  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

void SetUpFirstStartDefaults(FilterSet* set) {
  for (FilterRecord* record : {&set->contact_default, &set->stranger_default}) {
    record->apply_to_all = 1;
    record->GiveInitialActions();
  }
}

LoadOutcome LoadFilterFile(FilterSet* set, ParseReport* report,
                           platform::Status* status) {
  platform::Status read(platform::ErrorCode::kNotFound, "no filter file path");
  std::string bytes;
  if (!set->file_path.empty()) {
    read = platform::files::ReadWhole(set->file_path, &bytes);
  }
  if (status != nullptr) *status = read;
  if (!read.ok()) {
    ParseFilterFile({}, set, report);  // empties the set
    SetUpFirstStartDefaults(set);
    if (read.code() != platform::ErrorCode::kNotFound) {
      Hold(set->file_path, true);
      return LoadOutcome::kUnreadable;
    }
    Hold(set->file_path, false);
    // Silently not written when it cannot be.
    SaveFilterFile(*set);
    return LoadOutcome::kCreated;
  }
  Hold(set->file_path, false);
  ParseFilterFile(
      std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
      set, report);
  return LoadOutcome::kRead;
}

SaveOutcome SaveFilterFile(const FilterSet& set, platform::Status* status) {
  platform::Status result;
  SaveOutcome outcome = SaveOutcome::kSaved;
  if (set.file_path.empty()) {
    result = platform::Status(platform::ErrorCode::kInvalidArgument,
                              "the filter set has no file path");
    outcome = SaveOutcome::kNoPath;
  } else if (IsHeld(set.file_path)) {
    result = platform::Status(
        platform::ErrorCode::kAccessDenied,
        "the filter file " + platform::ToUtf8(set.file_path) +
            " could not be read when it was loaded; it is not written over");
    outcome = SaveOutcome::kUnreadable;
  } else {
    result = platform::files::WriteFileAtomically(set.file_path,
                                                  SerializeFilterFile(set));
    if (!result.ok()) outcome = SaveOutcome::kNotWritten;
  }
  if (status != nullptr) *status = std::move(result);
  return outcome;
}

}  // namespace firewall
