// Salvage: the messages a document still holds when nothing reaches them.
//
// Records never move and every message record carries its sender, time and
// text. When no usable index (and no note) reaches a record, the message is
// still there: a record that reads whole (a known type, a plausible date, a
// sender that ends inside its field, a body that inflates to exactly its
// stored length) is taken as a message, and can be gathered into a folder,
// as the recover mode of a database shell does with the pages it finds.
#ifndef TELVANE_STORE_SALVAGE_H_
#define TELVANE_STORE_SALVAGE_H_

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "store/message_file.h"

namespace store {

// The folder salvaged messages are gathered in.
inline constexpr std::u16string_view kRecoveredFolderPath = u"\\Recovered";

struct SalvagedMessage {
  uint32_t offset = 0;
  NodeRecord record;  // as read (unmasked)
  std::u16string sender;
  std::u16string body;
};

// The message whose record is at `offset`, when the record reads whole and
// is a message (it has a body, or at least a sender: a folder has neither).
std::optional<SalvagedMessage> ReadSalvageableMessage(MessageFile& file,
                                                      uint32_t offset);

// Every such message in the file that `reached` does not hold, each once
// (two records of the same time, sender and text count once), sorted by
// time (then by offset).
std::vector<SalvagedMessage> SalvageMessages(MessageFile& file,
                                             const std::set<uint32_t>& reached);

}  // namespace store

#endif  // TELVANE_STORE_SALVAGE_H_
