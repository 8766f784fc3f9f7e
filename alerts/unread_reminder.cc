#include "alerts/unread_reminder.h"

#include "alerts/alert_sounds.h"

namespace alerts {

void UnreadReminder::Restart(bool filter_has_unread_alert) {
  timer_->StopTimer();
  running_ = false;
  if (settings_->unread_alert() != kUnreadAlertNone &&
      filter_has_unread_alert) {
    int32_t period = settings_->alert_second();
    timer_->StartTimer(period > 0 ? static_cast<uint32_t>(period) : 0);
    running_ = true;
  }
}

void UnreadReminder::Clear(audio::AudioPlayer* application_player) {
  timer_->StopTimer();
  running_ = false;
  if (application_player != nullptr &&
      application_player->GetState() == audio::AudioPlayer::kPlaying) {
    application_player->Stop();
  }
}

void UnreadReminder::Tick() { UnreadReminderTick(*settings_); }

}  // namespace alerts
