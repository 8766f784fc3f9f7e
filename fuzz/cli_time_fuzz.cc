// Fuzzes the command-line time parser of devicectl and telvane: any text
// gives either nothing or a valid UTC time, in both zones, and UTC input
// with an explicit "Z" reads the same whichever zone is unmarked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "cli/times.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckValid(const std::optional<platform::SystemTime>& time) {
  if (!time) return;
  Check(time->month >= 1 && time->month <= 12);
  Check(time->day >= 1 && time->day <= 31);
  Check(time->hour < 24 && time->minute < 60 && time->second < 60);
  Check(time->day_of_week < 7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto utc = cli::ParseTime(text, cli::Zone::kUtc);
  const auto local = cli::ParseTime(text, cli::Zone::kLocal);
  CheckValid(utc);
  CheckValid(local);
  // A time that names its zone reads the same whatever zone is unmarked.
  if (!text.empty() && text.back() == 'Z') {
    Check(utc.has_value() == local.has_value());
    if (utc) {
      Check(utc->year == local->year && utc->month == local->month &&
            utc->day == local->day && utc->hour == local->hour &&
            utc->minute == local->minute && utc->second == local->second);
    }
  }
  return 0;
}
