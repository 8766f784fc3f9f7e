// Message boxes: the only way the program tells the user something or asks
// a yes/no question. Texts and captions come from the string table; the
// caption is one of "Alert", "Error" and "Warning".
//
// Every box goes through one service. The program shows a real modal box;
// tests install a script that sees each request and answers it, so no test
// ever blocks on a window. All of it runs on the UI thread.
#ifndef TELVANE_KIT_MESSAGE_BOX_H_
#define TELVANE_KIT_MESSAGE_BOX_H_

#include <QString>
#include <cstdint>
#include <functional>

class QWidget;

namespace kit {

enum class Buttons { kOk, kOkCancel, kYesNo, kYesNoCancel };

// The answers, with the platform's values.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

struct MessageRequest {
  QString text;
  QString caption;  // "Alert", "Error" or "Warning"
  Buttons buttons = Buttons::kOk;
};

// Shows `text` under `caption` and returns the answer. With a script
// installed the script answers; otherwise a modal box over `parent`.
int ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                Buttons buttons = Buttons::kOk);

// The same with the string table's ids for text and caption.
int ShowMessageId(QWidget* parent, uint32_t text_id, uint32_t caption_id,
                  Buttons buttons = Buttons::kOk);

using MessageScript = std::function<int(const MessageRequest&)>;

// Installs `script` for every following box (an empty function restores
// the real boxes). Returns the script that was installed before.
MessageScript SetMessageScript(MessageScript script);

}  // namespace kit

#endif  // TELVANE_KIT_MESSAGE_BOX_H_
