#include "alerts/unread_reminder.h"

#include "alerts/alert_sounds.h"

namespace alerts {

void UnreadReminder::Start(uint32_t period_ms) {
  Stop();
  if (period_ms == 0) return;
  timer_->StartTimer(period_ms);
  running_ = true;
}

void UnreadReminder::Stop() {
  timer_->StopTimer();
  running_ = false;
}

void UnreadReminder::Clear(audio::AudioPlayer* application_player) {
  Stop();
  if (application_player != nullptr &&
      application_player->GetState() == audio::AudioPlayer::kPlaying) {
    application_player->Stop();
  }
}

void UnreadReminder::Tick(audio::AudioPlayer& application_player) {
  UnreadReminderTick(*settings_, application_player);
}

}  // namespace alerts
