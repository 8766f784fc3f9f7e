// devicectl leds: the notification LEDs and the vibrator (LED 1), as the
// device recorded every switch.
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/devicectl/devicectl.h"
#include "platform/leds.h"

namespace device::devicectl {
namespace {

using cli::Fail;
using cli::kFailure;

std::string FormatTime(int64_t time_ms) {
  std::time_t seconds = static_cast<std::time_t>(time_ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                utc.tm_min, utc.tm_sec, static_cast<int>(time_ms % 1000));
  return text;
}

int Leds(bool clear) {
  if (!RequireDevice()) return kFailure;
  if (clear) {
    platform::Status status = platform::ClearLedHistory();
    if (!status.ok()) return Fail("leds: " + status.ToString());
    return 0;
  }
  std::optional<std::vector<platform::LedEvent>> events =
      platform::LedHistory();
  if (!events) return Fail("leds: the device database cannot be read");
  std::printf("LED count: %d\n", platform::LedCount());
  for (const platform::LedEvent& event : *events) {
    std::printf("%s  LED %d %-3s  pid %lld%s\n",
                FormatTime(event.time_ms).c_str(), event.led,
                event.on ? "on" : "off", static_cast<long long>(event.process),
                event.led == platform::kVibratorLed ? "  (vibrator)" : "");
  }
  return 0;
}

}  // namespace

void AddLedsCommands(cli::Tool& tool) {
  auto clear = std::make_shared<bool>(false);
  CLI::App* leds = tool.AddCommand(
      tool.root(), "leds",
      "list every LED switch in order: time (UTC), LED, on/off, process (LED "
      "1 is the vibrator)",
      [clear] { return Leds(*clear); });
  leds->add_flag("--clear", *clear, "forget them");
}

}  // namespace device::devicectl
