// Times given on the command line: "2026-12-07T21:40:00" (local time),
// "2026-12-07 21:40", "2026-12-07T13:40:00Z", "2026-12-07T21:40:00+08:00".
#ifndef TELVANE_TOOLS_TELVANE_ISO_TIME_H_
#define TELVANE_TOOLS_TELVANE_ISO_TIME_H_

#include <optional>
#include <string_view>

#include "platform/time.h"

namespace tools::telvane {

// The time in UTC; nullopt for anything malformed or out of range.
std::optional<platform::SystemTime> ParseIsoTime(std::string_view text);

}  // namespace tools::telvane

#endif  // TELVANE_TOOLS_TELVANE_ISO_TIME_H_
