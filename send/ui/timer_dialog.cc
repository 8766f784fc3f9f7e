#include "send/ui/timer_dialog.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QVBoxLayout>

#include "kit/menu_table.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"

namespace send::ui {
namespace {

// The fields as they are: the picker works in UTC so that no time zone of
// the host (a gap of a clock change) moves them.
QDateTime ToQt(const platform::SystemTime& time) {
  return QDateTime(QDate(time.year, time.month, time.day),
                   QTime(time.hour, time.minute, time.second), Qt::UTC);
}

platform::SystemTime FromQt(const QDateTime& time) {
  platform::SystemTime result;
  QDate date = time.date();
  result.year = static_cast<uint16_t>(date.year());
  result.month = static_cast<uint16_t>(date.month());
  result.day = static_cast<uint16_t>(date.day());
  result.day_of_week = static_cast<uint16_t>(date.dayOfWeek() % 7);
  result.hour = static_cast<uint16_t>(time.time().hour());
  result.minute = static_cast<uint16_t>(time.time().minute());
  return result;
}

}  // namespace

TimerDialog::TimerDialog(QWidget* parent, bool timer_set,
                         const platform::SystemTime& due_time,
                         const platform::SystemTime& now)
    : DeviceDialog(parent, kTimerTemplate) {
  title_bar()->SetCaption(kit::Str(kit::ids::kSetTimer));
  soft_keys()->SetMenuBar(kit::OkCancelMenuBar());

  box_ = new QCheckBox(kit::Str(kit::ids::kSetTimer), content());
  kit::SetControlId(box_, kSetTimerBox);
  picker_ = new QDateTimeEdit(content());
  kit::SetControlId(picker_, kTimerPicker);
  picker_->setTimeSpec(Qt::UTC);
  picker_->setDisplayFormat(kit::Str(kit::ids::kTimerFormat));
  picker_->setCalendarPopup(true);
  // A stored due time that is not a date shows the current time instead.
  QDateTime shown = ToQt(due_time);
  if (!timer_set || !shown.isValid()) shown = ToQt(now);
  picker_->setDateTime(shown);
  box_->setChecked(timer_set);
  picker_->setEnabled(timer_set);
  connect(box_, &QCheckBox::toggled, picker_, &QWidget::setEnabled);

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(box_);
  layout->addWidget(picker_);
  layout->addStretch(1);
}

TimerDialog::~TimerDialog() = default;

void TimerDialog::OnCommand(uint32_t command) {
  switch (command) {
    case kit::kCommandOk:
    case kit::cmds::kOk:
      if (!box_->isChecked()) {
        done(kTimerCleared);
        break;
      }
      due_time_ = FromQt(picker_->dateTime());
      done(kTimerSet);
      break;
    case kit::kCommandCancel:
    case kit::cmds::kCancel:
      done(kTimerCleared);
      break;
    default:
      break;
  }
}

int RunTimerDialog(QWidget* parent, bool timer_set,
                   platform::SystemTime* due_time,
                   const platform::SystemTime& now) {
  TimerDialog dialog(parent, timer_set, *due_time, now);
  int result = dialog.Run();
  if (result != kTimerSet) return kTimerCleared;
  *due_time = dialog.due_time();
  return kTimerSet;
}

}  // namespace send::ui
