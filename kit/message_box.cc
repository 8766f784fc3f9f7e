#include "kit/message_box.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <utility>

#include "kit/device_window.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/debug.h"

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
  // Shutting down: nothing more is asked; the caller takes no for an answer.
  if (DialogsCancelled()) return kAnswerCancel;
  MessageRequest request{text, caption, buttons};
  if (Script()) return Script()(request);
  // Without a display nobody could answer: the text goes to the debug log
  // and the question is taken as answered no.
  if (QGuiApplication::platformName() == QStringLiteral("offscreen")) {
    platform::DebugPrintf("pelicorde: %s: %s\r\n", caption.toUtf8().constData(),
                          text.toUtf8().constData());
    return buttons == Buttons::kOk ? kAnswerOk : kAnswerCancel;
  }
  ModalRun counted;
  QMessageBox box(parent);
  box.setWindowModality(Qt::WindowModal);  // see DeviceDialog
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
