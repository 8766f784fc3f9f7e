// The audible and tactile side of the alerts: a filter's sound, the
// vibrator, and what the unread reminder does on every tick.
//
// A filter's sound action value is a sound file path (played through the
// application's AudioPlayer), or a text beginning with "|" for "Random
// Ring": a file picked from the random sound folder ("RndSoundPath") by
// RandomSoundList::Pick. The reminder's sound ("AlertSound") goes through
// the platform's simple sound call instead, or is the default beep when
// empty. The vibrator is notification LED 1; a device with fewer than two
// LEDs has none.
//
// Thread safety: called on the user-interface thread, which owns the
// settings and the application player. Vibrate blocks its caller for the
// vibration.
#ifndef TELVANE_ALERTS_ALERT_SOUNDS_H_
#define TELVANE_ALERTS_ALERT_SOUNDS_H_

#include <cstdint>
#include <string_view>

#include "audio/audio_player.h"
#include "settings/settings_store.h"

namespace alerts {

// How long the reminder vibrates on each tick.
inline constexpr uint32_t kReminderVibrationMs = 500;

// "UnReadAlert" values.
enum UnreadAlertMode : int32_t {
  kUnreadAlertNone = 0,
  kUnreadAlertVibrate = 1,
  kUnreadAlertSound = 2,
  kUnreadAlertVibrateAndSound = 3,
};

// Opens the sound of `value` on `player` and plays it. Nothing happens for
// "Random Ring" while "RndSoundPath" is empty or the list has no file, nor
// for a file the player cannot open; failures are not reported.
void PlayAlertSound(std::u16string_view value,
                    const settings::SettingsStore& settings,
                    audio::AudioPlayer& player);

// Switches the vibrator on, sleeps `milliseconds` on the calling thread,
// switches it off. Returns at once on a device with fewer than two LEDs.
void Vibrate(uint32_t milliseconds);

// One tick of the unread reminder, by "UnReadAlert": 1 vibrates, 2 plays
// the reminder sound, 3 plays the sound and then vibrates; 0 and any other
// value do nothing.
void UnreadReminderTick(const settings::SettingsStore& settings);

// The reminder sound alone: "AlertSound" through the simple sound call
// (returns at once), or the default beep when it is empty.
void PlayReminderSound(const settings::SettingsStore& settings);

}  // namespace alerts

#endif  // TELVANE_ALERTS_ALERT_SOUNDS_H_
