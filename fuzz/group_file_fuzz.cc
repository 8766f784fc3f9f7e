// The send group file as outside input: any bytes parse, and what comes back
// holds no member without a name or a number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "contacts/send_groups.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<contacts::SendGroup> groups = contacts::ParseGroupFile(bytes);
  for (const contacts::SendGroup& group : groups) {
    for (const contacts::GroupMember& member : group.members) {
      if (member.name.empty() || member.number.empty()) std::abort();
    }
  }
  std::string written = contacts::FormatGroupFile(groups);
  // What was read back once reads back the same, reversed, unless a line
  // had to be split (a name near the line limit).
  std::vector<contacts::SendGroup> again = contacts::ParseGroupFile(written);
  if (again.size() != groups.size()) {
    bool long_names = false;
    for (const auto& group : groups) {
      if (group.name.size() + 4 > 259) long_names = true;
      for (const auto& member : group.members) {
        if (member.name.size() + member.number.size() + 3 > 259)
          long_names = true;
      }
    }
    if (!long_names) std::abort();
  }
  return 0;
}
