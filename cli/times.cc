#include "cli/times.h"

#include <cctype>
#include <cstdint>

namespace cli {
namespace {

// Reads exactly `digits` decimal digits at text[*pos].
bool Number(std::string_view text, size_t* pos, int digits, int* value) {
  *value = 0;
  for (int i = 0; i < digits; ++i) {
    if (*pos >= text.size() ||
        !std::isdigit(static_cast<unsigned char>(text[*pos]))) {
      return false;
    }
    *value = *value * 10 + (text[(*pos)++] - '0');
  }
  return true;
}

bool Literal(std::string_view text, size_t* pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

// `time` as it is, checked and completed (day of the week).
std::optional<platform::SystemTime> Checked(const platform::SystemTime& time) {
  std::optional<platform::FileTime> file_time =
      platform::SystemTimeToFileTime(time);
  if (!file_time) return std::nullopt;
  return platform::FileTimeToSystemTime(*file_time);
}

}  // namespace

std::optional<platform::SystemTime> ParseTime(std::string_view text,
                                              Zone unmarked) {
  size_t pos = 0;
  int year, month, day, hour, minute, second = 0;
  if (!Number(text, &pos, 4, &year) || !Literal(text, &pos, '-') ||
      !Number(text, &pos, 2, &month) || !Literal(text, &pos, '-') ||
      !Number(text, &pos, 2, &day)) {
    return std::nullopt;
  }
  if (!Literal(text, &pos, 'T') && !Literal(text, &pos, ' '))
    return std::nullopt;
  if (!Number(text, &pos, 2, &hour) || !Literal(text, &pos, ':') ||
      !Number(text, &pos, 2, &minute)) {
    return std::nullopt;
  }
  if (Literal(text, &pos, ':') && !Number(text, &pos, 2, &second))
    return std::nullopt;

  platform::SystemTime time;
  time.year = static_cast<uint16_t>(year);
  time.month = static_cast<uint16_t>(month);
  time.day = static_cast<uint16_t>(day);
  time.hour = static_cast<uint16_t>(hour);
  time.minute = static_cast<uint16_t>(minute);
  time.second = static_cast<uint16_t>(second);

  if (pos == text.size()) {
    return unmarked == Zone::kLocal ? platform::LocalToSystemTime(time)
                                    : Checked(time);
  }
  int offset_minutes = 0;
  if (Literal(text, &pos, 'Z')) {
    if (pos != text.size()) return std::nullopt;
  } else {
    int sign = text[pos] == '+' ? 1 : text[pos] == '-' ? -1 : 0;
    if (sign == 0) return std::nullopt;
    ++pos;
    int offset_hours, offset_mins = 0;
    if (!Number(text, &pos, 2, &offset_hours)) return std::nullopt;
    if (Literal(text, &pos, ':') && !Number(text, &pos, 2, &offset_mins))
      return std::nullopt;
    if (pos != text.size() || offset_hours > 14 || offset_mins > 59)
      return std::nullopt;
    offset_minutes = sign * (offset_hours * 60 + offset_mins);
  }
  std::optional<platform::FileTime> file_time =
      platform::SystemTimeToFileTime(time);
  if (!file_time) return std::nullopt;
  int64_t shift = static_cast<int64_t>(offset_minutes) * 60 * 10000000;
  uint64_t value = file_time->value();
  if (shift > 0 && value < static_cast<uint64_t>(shift)) return std::nullopt;
  return platform::FileTimeToSystemTime(
      platform::FileTime::FromValue(value - static_cast<uint64_t>(shift)));
}

CLI::Option* AddTimeOption(CLI::App* command, const std::string& name,
                           std::optional<platform::SystemTime>* utc,
                           Zone unmarked, const std::string& help) {
  const std::string example =
      unmarked == Zone::kUtc
          ? "\"2026-12-07 21:40[:SS]\" (UTC), or one with Z or +08:00"
          : "2026-12-07T21:40[:SS] (local time), or one with Z or +08:00";
  CLI::Validator check(
      [unmarked, example](std::string& text) -> std::string {
        return ParseTime(text, unmarked) ? std::string()
                                         : "needs a time like " + example;
      },
      "");
  return command
      ->add_option_function<std::string>(
          name,
          [utc, unmarked](const std::string& text) {
            *utc = ParseTime(text, unmarked);
          },
          help + ": a time like " + example)
      ->type_name("TIME")
      ->check(check);
}

}  // namespace cli
