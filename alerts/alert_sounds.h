// The audible and tactile side of the alerts: a filter's sound, the
// vibrator, and what the unread reminder does on every tick.
//
// A filter's sound action value is a sound file path (played through the
// application's AudioPlayer), or a text beginning with "|" for "Random
// Ring": a file picked from the random sound folder ("RndSoundPath") by
// RandomSoundList::Pick. The reminder's sound ("AlertSound") is the default
// beep when empty; a PCM WAV file goes through the platform's simple sound
// call, and anything that call cannot play (MP3, MP2, a WAV file of another
// format) through the application's AudioPlayer. The vibrator is
// notification LED 1; a device with fewer than two LEDs has none.
//
// Thread safety: called on the user-interface thread, which owns the
// settings and the application player. Vibrate blocks its caller for the
// vibration.
#ifndef TELVANE_ALERTS_ALERT_SOUNDS_H_
#define TELVANE_ALERTS_ALERT_SOUNDS_H_

#include <cstdint>
#include <string_view>

#include "audio/audio_player.h"
#include "platform/status.h"
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
// value do nothing. `player` is the application's player.
void UnreadReminderTick(const settings::SettingsStore& settings,
                        audio::AudioPlayer& player);

// The reminder sound alone, returning at once: the default beep when
// "AlertSound" is empty; else that file through the simple sound call when
// it is PCM WAV, or opened and played on `player` when it is not. A file
// that neither can play is silent; nothing is reported.
void PlayReminderSound(const settings::SettingsStore& settings,
                       audio::AudioPlayer& player);

// Whether PlayReminderSound can play the file `path` one way or the other,
// found without playing anything. When not, `*status` (when given) says why
// ("cannot open PATH: not found", "PATH is neither MPEG audio nor WAV").
// An "http://" address is taken as playable without connecting.
bool ReminderSoundPlayable(std::u16string_view path,
                           platform::Status* status = nullptr);

}  // namespace alerts

#endif  // TELVANE_ALERTS_ALERT_SOUNDS_H_
