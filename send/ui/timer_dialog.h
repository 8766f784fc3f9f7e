// TimerDialog: the compose window's due time (template 156, menu bar 109
// "OK" and "Cancel"): a "Set Timer" box (1101) and a date-and-time picker
// (1112, "yyyy-MM-dd HH:mm") that is enabled exactly while the box is
// ticked.
//
// Opened with a timer set, the box is ticked and the picker shows the due
// time; otherwise the box is clear and the picker shows the current time.
// "OK" (or the OK button) with the box ticked takes the picker's time, to
// the minute, as the due time and ends with kTimerSet; with the box clear
// it ends with kTimerCleared, as "Cancel" and the Back key do.
//
// UI thread only.
#ifndef TELVANE_SEND_UI_TIMER_DIALOG_H_
#define TELVANE_SEND_UI_TIMER_DIALOG_H_

#include <cstdint>

#include "kit/device_window.h"
#include "platform/time.h"

class QCheckBox;
class QDateTimeEdit;

namespace send::ui {

inline constexpr int kTimerTemplate = 156;
inline constexpr int kSetTimerBox = 1101;
inline constexpr int kTimerPicker = 1112;

inline constexpr int kTimerSet = 1;
inline constexpr int kTimerCleared = 2;

class TimerDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  // `due_time` is shown when `timer_set`, else `now`.
  TimerDialog(QWidget* parent, bool timer_set,
              const platform::SystemTime& due_time,
              const platform::SystemTime& now);
  ~TimerDialog() override;

  // After kTimerSet: the chosen time (seconds and milliseconds 0, the day
  // of the week filled in).
  const platform::SystemTime& due_time() const { return due_time_; }

  QCheckBox* box() const { return box_; }
  QDateTimeEdit* picker() const { return picker_; }

 protected:
  void OnCommand(uint32_t command) override;

 private:
  platform::SystemTime due_time_{};
  QCheckBox* box_;
  QDateTimeEdit* picker_;
};

// Runs the dialog on `*due_time`: kTimerSet with the chosen time in
// `*due_time`, or kTimerCleared with `*due_time` left alone.
int RunTimerDialog(QWidget* parent, bool timer_set,
                   platform::SystemTime* due_time,
                   const platform::SystemTime& now);

}  // namespace send::ui

#endif  // TELVANE_SEND_UI_TIMER_DIALOG_H_
