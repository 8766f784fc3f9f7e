// The unread reminder as the main window runs it: a repeating timer (the
// main window's timer 3, which the program implements with its own timer)
// whose tick vibrates and/or sounds while new messages wait unseen.
//
// The incoming-message procedure stops it for each message that reaches the
// filters and starts it again under "Unread Alert" (Stop, Start); clearing
// the unread notification ends it and stops the application player when it
// is playing (Clear).
//
// Thread-compatible: used on the user-interface thread.
#ifndef TELVANE_ALERTS_UNREAD_REMINDER_H_
#define TELVANE_ALERTS_UNREAD_REMINDER_H_

#include <cstdint>

#include "audio/audio_player.h"
#include "settings/settings_store.h"

namespace alerts {

// The timer the program gives the reminder.
class ReminderTimer {
 public:
  virtual ~ReminderTimer() = default;
  // Starts (or restarts) the timer with the period; Tick follows every
  // period until Stop.
  virtual void StartTimer(uint32_t period_ms) = 0;
  virtual void StopTimer() = 0;
};

class UnreadReminder {
 public:
  // Both must outlive the reminder.
  UnreadReminder(ReminderTimer* timer, const settings::SettingsStore* settings)
      : timer_(timer), settings_(settings) {}

  // Starts (or restarts) the reminder with the period ("AlertSecond"). A
  // period of 0 would tick without pause: the reminder stays stopped.
  void Start(uint32_t period_ms);
  void Stop();
  // The unread notification was cleared: the timer stops, and the
  // application player too when it is playing (state 1).
  void Clear(audio::AudioPlayer* application_player);
  // Called by the timer; a reminder sound that is not PCM WAV plays on the
  // application player.
  void Tick(audio::AudioPlayer& application_player);

  bool running() const { return running_; }

 private:
  ReminderTimer* timer_;
  const settings::SettingsStore* settings_;
  bool running_ = false;
};

}  // namespace alerts

#endif  // TELVANE_ALERTS_UNREAD_REMINDER_H_
