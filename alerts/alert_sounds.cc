#include "alerts/alert_sounds.h"

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/leds.h"
#include "platform/sound.h"

namespace alerts {

void PlayAlertSound(std::u16string_view value,
                    const settings::SettingsStore& settings,
                    audio::AudioPlayer& player) {
  std::u16string path;
  if (!value.empty() && value.front() == u'|') {
    if (settings.rnd_sound_path().empty()) return;
    const settings::RandomSoundList* list = settings.random_sounds();
    if (list == nullptr) return;
    std::optional<std::u16string> picked = list->Pick();
    if (!picked) return;
    path = std::move(*picked);
  } else {
    path = std::u16string(value);
  }
  if (player.Open(path)) player.Play();
}

void Vibrate(uint32_t milliseconds) {
  if (platform::LedCount() < 2) return;
  platform::SetLed(platform::kVibratorLed, true).IgnoreError();
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  platform::SetLed(platform::kVibratorLed, false).IgnoreError();
}

void PlayReminderSound(const settings::SettingsStore& settings,
                       audio::AudioPlayer& player) {
  const std::u16string& path = settings.alert_sound();
  if (path.empty()) {
    platform::Beep();
    return;
  }
  if (platform::PlaySoundFile(path)) return;
  if (player.Open(path)) player.Play();
}

bool ReminderSoundPlayable(std::u16string_view path, platform::Status* status) {
  if (path.substr(0, 7) == u"http://") return true;
  // Whatever the simple call plays (PCM WAV) the player opens as well.
  audio::AudioPlayer probe;
  return probe.Open(path, status);
}

void UnreadReminderTick(const settings::SettingsStore& settings,
                        audio::AudioPlayer& player) {
  switch (settings.unread_alert()) {
    case kUnreadAlertVibrate:
      Vibrate(kReminderVibrationMs);
      break;
    case kUnreadAlertSound:
      PlayReminderSound(settings, player);
      break;
    case kUnreadAlertVibrateAndSound:
      PlayReminderSound(settings, player);
      Vibrate(kReminderVibrationMs);
      break;
    default:
      break;
  }
}

}  // namespace alerts
