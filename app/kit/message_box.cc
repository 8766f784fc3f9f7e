#include "app/kit/message_box.h"

#include <QMessageBox>
#include <utility>

#include "app/kit/qt_text.h"
#include "app/kit/string_table.h"

namespace kit {
namespace {

MessageScript& Script() {
  static MessageScript* script = new MessageScript();
  return *script;
}

QMessageBox::StandardButtons ButtonsOf(Buttons buttons) {
  switch (buttons) {
    case Buttons::kOk:
      return QMessageBox::Ok;
    case Buttons::kOkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case Buttons::kYesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case Buttons::kYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

int AnswerOf(int button) {
  switch (button) {
    case QMessageBox::Ok:
      return kAnswerOk;
    case QMessageBox::Yes:
      return kAnswerYes;
    case QMessageBox::No:
      return kAnswerNo;
    default:
      return kAnswerCancel;
  }
}

}  // namespace

int ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                Buttons buttons) {
  MessageRequest request{text, caption, buttons};
  if (Script()) return Script()(request);
  QMessageBox box(parent);
  box.setWindowTitle(caption);
  box.setText(text);
  box.setStandardButtons(ButtonsOf(buttons));
  box.setIcon(caption == Str(ids::kCaptionError)   ? QMessageBox::Critical
              : caption == Str(ids::kCaptionAlert) ? QMessageBox::Information
                                                   : QMessageBox::Warning);
  return AnswerOf(box.exec());
}

int ShowMessageId(QWidget* parent, uint32_t text_id, uint32_t caption_id,
                  Buttons buttons) {
  return ShowMessage(parent, Str(text_id), Str(caption_id), buttons);
}

MessageScript SetMessageScript(MessageScript script) {
  return std::exchange(Script(), std::move(script));
}

}  // namespace kit
