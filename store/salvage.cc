#include "store/salvage.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "platform/codepage.h"

namespace store {
namespace {

// The dates an OLE date can hold at all: 1 January 100 to 31 December 9999.
constexpr double kEarliestDate = -657434.0;
constexpr double kLatestDate = 2958465.0;

// The record's reserved word, never masked, always written 0.
bool ReservedIsZero(const NodeRecord& record) {
  return record.bytes[100] == 0 && record.bytes[101] == 0 &&
         record.bytes[102] == 0 && record.bytes[103] == 0;
}

// A sender always ends inside its 52-byte field (at 36).
bool SenderTerminated(const NodeRecord& record) {
  const auto* field = record.bytes.data() + 36;
  return std::find(field, field + 52, 0) != field + 52;
}

}  // namespace

std::optional<SalvagedMessage> ReadSalvageableMessage(MessageFile& file,
                                                      uint32_t offset) {
  MessageFile::Guard guard(file);
  std::optional<NodeRecord> record = file.ReadRecord(offset);
  if (!record) return std::nullopt;
  const uint32_t type = record->type();
  if (type != kRecordCompressed && type != kRecordLegacyRaw0 &&
      type != kRecordLegacyRaw1) {
    return std::nullopt;
  }
  const double date = record->date();
  if (!std::isfinite(date) || date < kEarliestDate || date > kLatestDate ||
      !ReservedIsZero(*record) || !SenderTerminated(*record)) {
    return std::nullopt;
  }
  SalvagedMessage message;
  message.offset = offset;
  message.sender = record->sender();
  if (size_t nul = message.sender.find(u'\0'); nul != std::u16string::npos) {
    message.sender.resize(nul);
  }
  if (record->has_payload()) {
    std::optional<std::string> bytes = file.ReadPayload(offset, *record);
    if (!bytes || bytes->empty() || bytes->back() != '\0') return std::nullopt;
    bytes->resize(bytes->find('\0'));
    message.body = platform::MultiByteToWide(*bytes);
  } else if (message.sender.empty()) {
    return std::nullopt;  // a folder
  }
  message.record = *record;
  return message;
}

std::vector<SalvagedMessage> SalvageMessages(
    MessageFile& file, const std::set<uint32_t>& reached) {
  std::vector<SalvagedMessage> found;
  std::optional<NoteScan> scan =
      file.ScanNotes(kFirstRecordOffset, nullptr, /*thorough=*/true);
  if (!scan) return found;
  for (const auto& [offset, end] : scan->records) {
    if (reached.count(offset) != 0) continue;
    if (std::optional<SalvagedMessage> message =
            ReadSalvageableMessage(file, offset)) {
      found.push_back(std::move(*message));
    }
  }
  auto key = [](const SalvagedMessage& m) {
    return std::make_tuple(m.record.date(), m.sender, m.body);
  };
  std::sort(
      found.begin(), found.end(),
      [&](const SalvagedMessage& a, const SalvagedMessage& b) {
        return std::make_tuple(a.record.date(), a.sender, a.body, a.offset) <
               std::make_tuple(b.record.date(), b.sender, b.body, b.offset);
      });
  found.erase(
      std::unique(found.begin(), found.end(),
                  [&](const SalvagedMessage& a, const SalvagedMessage& b) {
                    return key(a) == key(b);
                  }),
      found.end());
  // By time, then where they lie.
  std::stable_sort(found.begin(), found.end(),
                   [](const SalvagedMessage& a, const SalvagedMessage& b) {
                     if (a.record.date() != b.record.date())
                       return a.record.date() < b.record.date();
                     return a.offset < b.offset;
                   });
  return found;
}

}  // namespace store
