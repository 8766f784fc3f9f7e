// Times given on a command line, one form for every tool:
//
//   2026-12-07T21:40          2026-12-07 21:40:05
//   2026-12-07T13:40:00Z      2026-12-07T21:40:00+08:00   2026-12-07 21:40-05
//
// a date, "T" or a space, hours and minutes, optional seconds, then "Z"
// (UTC), an offset from UTC (+HH or +HH:MM, at most 14 hours), or nothing:
// a time without either is read in the zone the command names (devicectl
// takes UTC, telvane local time).
#ifndef TELVANE_CLI_TIMES_H_
#define TELVANE_CLI_TIMES_H_

#include <optional>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "platform/time.h"

namespace cli {

// How a time without "Z" or an offset is read.
enum class Zone { kUtc, kLocal };

// The time in UTC; nullopt for anything malformed or out of range.
std::optional<platform::SystemTime> ParseTime(std::string_view text,
                                              Zone unmarked);

// Adds the option `name` (type TIME) to `command`: a given time is
// parsed into *utc (UTC) as the command line is read, and one that does
// not parse is a usage error that shows the form.
CLI::Option* AddTimeOption(CLI::App* command, const std::string& name,
                           std::optional<platform::SystemTime>* utc,
                           Zone unmarked, const std::string& help);

}  // namespace cli

#endif  // TELVANE_CLI_TIMES_H_
