// Notification LEDs: the phone's lights and its vibrator.
//
// The device has "led_count" LEDs (device setting, default 2), numbered from
// 0; LED 1 drives the vibrator. Every switch is recorded in device.db (table
// led_log, see docs/formats/led-log.md), so tools and tests can see what
// the program did (`devicectl leds` prints the history).
//
// Thread safety: every function may be called from any thread and process.
#ifndef TELVANE_PLATFORM_LEDS_H_
#define TELVANE_PLATFORM_LEDS_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/status.h"

namespace platform {

inline constexpr int kVibratorLed = 1;

// The number of notification LEDs of the device (0 when the setting is not
// a usable number).
int LedCount();

// Switches LED `led` on or off and records it. kInvalidArgument for a
// number outside 0..LedCount()-1; kIoError / kUnavailable when the device
// database cannot record it.
Status SetLed(int led, bool on);

// The last recorded state of LED `led` (off when never switched).
bool LedIsOn(int led);

struct LedEvent {
  int64_t id = 0;       // order of recording
  int64_t time_ms = 0;  // system time, milliseconds since 1970 (UTC)
  int led = 0;
  bool on = false;
  int64_t process = 0;  // the host process id that switched it
};

// Every recorded switch in order; nullopt when the database cannot be read.
std::optional<std::vector<LedEvent>> LedHistory();
// Forgets the history.
Status ClearLedHistory();

}  // namespace platform

#endif  // TELVANE_PLATFORM_LEDS_H_
