#include "send/ui/compose_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <initializer_list>
#include <limits>
#include <string>

#include "contacts/ui/my_text_dialog.h"
#include "kit/fonts.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/debug.h"
#include "send/ui/group_send_window.h"
#include "send/ui/timer_dialog.h"
#include "settings/settings_store.h"
#include "store/document.h"
#include "text/text.h"

namespace send::ui {
namespace {

namespace cmds = kit::cmds;
namespace ids = kit::ids;

// The message field's input mode as the last compose window left it.
Qt::InputMethodHints remembered_input_hints = Qt::ImhNone;

constexpr std::u16string_view kLineBreaks = u"\r\n";

// Replaces the "%d"s of `format`, in order, by the numbers.
std::u16string FillNumbers(std::u16string_view format,
                           std::initializer_list<int> numbers) {
  std::u16string result(format);
  size_t from = 0;
  for (int number : numbers) {
    size_t at = result.find(u"%d", from);
    if (at == std::u16string::npos) break;
    std::string digits = std::to_string(number);
    result.replace(at, 2, std::u16string(digits.begin(), digits.end()));
    from = at + digits.size();
  }
  return result;
}

// The count field read as the platform reads a decimal number: leading
// blanks, a sign, then digits up to the first other character, of the
// first kCountFieldChars characters. 0 (also an empty or unreadable field)
// counts as 1.
int ReadCount(const QString& field) {
  std::u16string text = kit::U(field.left(kCountFieldChars));
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i] == u'-';
    ++i;
  }
  int value = 0;  // nine digits fit
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
    value = value * 10 + (text[i] - u'0');
  if (negative) value = -value;
  return value == 0 ? 1 : value;
}

// Whether the caret is on the first (or the last) visual line of the field.
bool OnEdgeLine(const QTextCursor& cursor, bool first) {
  const QTextDocument* document = cursor.document();
  if (cursor.block() !=
      (first ? document->firstBlock() : document->lastBlock()))
    return false;
  QTextLayout* layout = cursor.block().layout();
  if (layout == nullptr || layout->lineCount() == 0) return true;
  QTextLine line = layout->lineForTextPosition(cursor.positionInBlock());
  return !line.isValid() ||
         line.lineNumber() == (first ? 0 : layout->lineCount() - 1);
}

QLabel* MakeLabel(QWidget* parent, int id, uint32_t text_id) {
  auto* label = new QLabel(kit::Str(text_id), parent);
  kit::SetControlId(label, id);
  return label;
}

QCheckBox* MakeBox(QWidget* parent, int id, uint32_t text_id) {
  auto* box = new QCheckBox(kit::Str(text_id), parent);
  kit::SetControlId(box, id);
  return box;
}

}  // namespace

SplitMessage SplitSentMessage(std::u16string_view stored) {
  SplitMessage split;
  if (stored.find(u"--") == std::u16string_view::npos) {
    split.text = std::u16string(stored);
    return split;
  }
  auto line_end = [&](size_t from) {
    return std::min(stored.find_first_of(kLineBreaks, from), stored.size());
  };
  const size_t first_end = line_end(0);
  if (first_end == 0) return split;  // an empty first line fills nothing
  // The first later line that begins with "-"; a run of breaks is one.
  size_t rule_end = std::u16string_view::npos;
  for (size_t pos = first_end; pos < stored.size();) {
    pos = std::min(stored.find_first_not_of(kLineBreaks, pos), stored.size());
    if (pos == stored.size()) break;
    if (stored[pos] == u'-') {
      rule_end = line_end(pos);
      break;
    }
    pos = line_end(pos);
  }
  if (rule_end == std::u16string_view::npos) {
    split.text = std::u16string(stored);
    return split;
  }
  std::u16string_view first = stored.substr(0, first_end);
  size_t colon = first.find(u':');
  split.recipients = colon == std::u16string_view::npos
                         ? std::u16string()
                         : std::u16string(first.substr(colon + 1));
  // The rule's own line break: "\r\n", or a lone "\r" or "\n".
  size_t start = rule_end;
  if (stored.substr(start, 2) == kLineBreaks) {
    start += 2;
  } else if (start < stored.size()) {
    ++start;
  }
  split.text = std::u16string(stored.substr(start));
  return split;
}

std::u16string AddRecipients(std::u16string_view to,
                             std::u16string_view picked) {
  // With an empty To field the first entry's ";" goes: room for it.
  const bool drop_first = to.empty() && !picked.empty() && picked[0] == u';';
  const size_t room = kToAppendCapacity + (drop_first ? 1 : 0);
  std::u16string added;
  // An entry runs up to the ";" after its closing ">" (a name may hold a
  // ";"), or to the end.
  for (size_t pos = 0; pos < picked.size();) {
    size_t close = picked.find(u'>', pos);
    size_t end = close == std::u16string_view::npos
                     ? picked.size()
                     : std::min(picked.find(u';', close), picked.size());
    std::u16string_view entry = picked.substr(pos, end - pos);
    if (added.size() + entry.size() <= room) added += entry;
    pos = end;
  }
  if (!to.empty()) return std::u16string(to) + added;
  if (drop_first && !added.empty()) added.erase(0, 1);
  return added;
}

std::u16string CounterText(std::u16string_view message) {
  std::u16string_view counted = message.substr(0, kCounterReadLimit);
  bool wide = std::any_of(counted.begin(), counted.end(),
                          [](char16_t c) { return c >= 256; });
  return FillNumbers(
      kit::StringView(ids::kCharCounter),
      {static_cast<int>(counted.size()), wide ? kUnicodeSmsLimit : kSmsLimit});
}

ComposeWindow::ComposeWindow(QWidget* parent, const ComposeContext& context)
    : DeviceDialog(parent, kComposeTemplate), context_(context) {
  title_bar()->SetCaption(kit::Str(ids::kSendSmsTitle));
  title_bar()->ShowOk(true);
  soft_keys()->SetMenuBar(kit::ComposeMenuBar());

  // Placed by LayOut, in this order of focus.
  to_label_ = MakeLabel(content(), kToLabel, ids::kToColon);
  to_label_->installEventFilter(this);
  to_ = new QLineEdit(content());
  kit::SetControlId(to_, kToField);
  to_->setMaxLength(std::numeric_limits<int>::max());
  to_->setInputMethodHints(Qt::ImhPreferNumbers);
  text_ = new QPlainTextEdit(content());
  kit::SetControlId(text_, kMessageField);
  text_->setInputMethodHints(remembered_input_hints);
  if (context_.settings != nullptr &&
      context_.settings->applied_fonts().has_value())
    text_->setFont(
        kit::FontFromDescription(context_.settings->applied_fonts()->content));
  flash_ = MakeBox(content(), kFlashBox, ids::kFlash);
  group_ = MakeBox(content(), kGroupBox, ids::kGroup);
  num_label_ = MakeLabel(content(), kNumLabel, ids::kNumColon);
  count_ = new QLineEdit(content());
  kit::SetControlId(count_, kCountField);
  count_->setMaxLength(kCountFieldChars);
  count_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]*")), count_));
  count_->setInputMethodHints(Qt::ImhDigitsOnly);
  counter_ = MakeLabel(content(), kCounterLabel, 0);
  counter_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  for (QWidget* field :
       {static_cast<QWidget*>(to_), static_cast<QWidget*>(text_),
        static_cast<QWidget*>(count_)})
    field->installEventFilter(this);

  connect(text_, &QPlainTextEdit::textChanged, this,
          &ComposeWindow::UpdateCounter);
  if (QMenu* menu = soft_keys()->menu()) OnMenuPopup(menu);
  LayOut();
}

ComposeWindow::~ComposeWindow() {
  remembered_input_hints = text_->inputMethodHints();
}

std::u16string ComposeWindow::recipients() const { return kit::U(to_->text()); }

std::u16string ComposeWindow::message() const {
  QString text = text_->toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return kit::U(text);
}

void ComposeWindow::FillWithTexts(std::optional<std::u16string_view> text,
                                  std::optional<std::u16string_view> recipients,
                                  ComposeMode mode) {
  if (mode == ComposeMode::kResend) {
    SplitMessage split = SplitSentMessage(text.value_or(u""));
    if (split.recipients) to_->setText(kit::Q(*split.recipients));
    if (split.text) text_->setPlainText(kit::Q(*split.text));
  } else {
    if (text) text_->setPlainText(kit::Q(*text));
    if (recipients) to_->setText(kit::Q(*recipients));
  }
  FinishFilling();
}

void ComposeWindow::FillWithNode(store::Node* node, ComposeMode mode) {
  std::u16string sender;
  std::u16string body;
  if (context_.document != nullptr && node != nullptr) {
    if (context_.select) context_.select(node);
    if (std::optional<store::NodeRecord> record =
            context_.document->ReadNodeRecord(node)) {
      sender = record->sender();
      sender.resize(
          std::min({sender.find(u'\0'), sender.size(), kMaxSenderChars}));
    }
    body = context_.document->ReadNodeBody(node).value_or(u"");
  }
  SplitMessage split;
  switch (mode) {
    case ComposeMode::kReply:
      split.recipients = sender;
      break;
    case ComposeMode::kQuote:
      to_->setText(kit::Q(sender));
      split = SplitSentMessage(body);
      break;
    case ComposeMode::kResend:
      split = SplitSentMessage(body);
      break;
    case ComposeMode::kForward:
    default:
      split.text = body;
      break;
  }
  if (split.recipients) to_->setText(kit::Q(*split.recipients));
  if (split.text) text_->setPlainText(kit::Q(*split.text));
  FinishFilling();
}

void ComposeWindow::FinishFilling() {
  count_->setText(QStringLiteral("1"));
  // The signature goes after the text; the caret stays where the text ends.
  QTextCursor cursor(text_->document());
  cursor.movePosition(QTextCursor::End);
  const int text_end = cursor.position();
  if (context_.settings != nullptr && !context_.settings->sign().empty())
    cursor.insertText(kit::Q(context_.settings->sign()));
  cursor.setPosition(text_end);
  text_->setTextCursor(cursor);
  UpdateCounter();
  if (to_->text().isEmpty()) {
    to_->setFocus();
  } else {
    text_->setFocus();
  }
}

void ComposeWindow::UpdateCounter() {
  counter_->setText(kit::Q(CounterText(message())));
}

void ComposeWindow::resizeEvent(QResizeEvent* event) {
  DeviceDialog::resizeEvent(event);
  LayOut();
}

void ComposeWindow::LayOut() {
  // The dialog's layout has placed the content area by now.
  if (QLayout* layout = this->layout()) layout->activate();
  const int width = content()->width();
  const int height = content()->height();
  const int row = to_->sizeHint().height();
  // The To field fills the width beside its label, less 4 pixels.
  const int label_width = to_label_->sizeHint().width();
  to_label_->setGeometry(2, 2, label_width, row);
  const int to_left = 2 + label_width + 2;
  to_->setGeometry(to_left, 2, std::max(0, width - to_left - 2), row);
  // The message field down to 50 pixels above the bottom.
  const int text_top = 2 + row + 2;
  text_->setGeometry(2, text_top, std::max(0, width - 4),
                     std::max(0, height - 50 - text_top));
  // The boxes 48 pixels above the bottom; the count field and its label 25
  // and 24; the counter at the right edge.
  const int box_height = 20;
  flash_->setGeometry(2, height - 48, flash_->sizeHint().width(), box_height);
  group_->setGeometry(flash_->geometry().right() + 9, height - 48,
                      group_->sizeHint().width(), box_height);
  const int num_width = num_label_->sizeHint().width();
  num_label_->setGeometry(2, height - 24, num_width, box_height);
  count_->setGeometry(2 + num_width + 2, height - 25, 64, box_height + 2);
  const int counter_width = std::max(counter_->sizeHint().width(), 72);
  counter_->setGeometry(width - 2 - counter_width, height - 24, counter_width,
                        box_height);
}

void ComposeWindow::OnMenuPopup(QMenu* menu) {
  kit::CheckCommand(
      menu, cmds::kStatusReport,
      context_.settings != nullptr && context_.settings->status_report() != 0);
}

void ComposeWindow::OnCommand(uint32_t command) {
  switch (command) {
    case cmds::kSend:
      Send();
      break;
    case cmds::kSave:
      Save();
      break;
    case cmds::kTimer:
      Timer();
      break;
    case cmds::kStatusReport:
      ToggleStatusReport();
      break;
    case cmds::kInsertMyText:
      InsertMyText();
      break;
    case cmds::kInsertContact:
      PickRecipients(focusWidget() != to_);
      break;
    case cmds::kInsertTime:
      InsertTime(false);
      break;
    case cmds::kInsertDate:
      InsertTime(true);
      break;
    case kit::kCommandOk:  // the OK button closes as Cancel does
    case kit::kCommandCancel:
    case cmds::kCancel:
      done(kComposeCancelled);
      break;
    default:
      break;
  }
  if (context_.host != nullptr) context_.host->UserActivity();
}

bool ComposeWindow::HasRecipients() {
  if (!to_->text().isEmpty()) return true;
  kit::ShowMessageId(this, ids::kPhoneNumberEmpty, ids::kCaptionError);
  return false;
}

bool ComposeWindow::HasText() {
  if (!text_->document()->isEmpty()) return true;
  kit::ShowMessageId(this, ids::kContentEmpty, ids::kCaptionError);
  return false;
}

SendRequest ComposeWindow::Request() const {
  SendRequest request;
  request.recipients = recipients();
  request.text = message();
  request.draft = draft_;
  return request;
}

void ComposeWindow::Send() {
  if (!HasRecipients() || !HasText() || context_.host == nullptr) return;
  SendRequest request = Request();
  if (group_->isChecked()) {
    // The group sending window sends at once, to each recipient once.
    if (RunGroupSend(this, request.recipients, request.text,
                     flash_->isChecked()) != kGroupSendDone)
      return;
    context_.host->HandOver(request, SendResultKind::kGroupFinished);
    done(kComposeSent);
    return;
  }
  if (flash_->isChecked()) request.flags |= kSendFlagFlash;
  if (context_.settings != nullptr && context_.settings->status_report() != 0)
    request.flags |= kSendFlagStatusReport;
  if (timer_set_) {
    request.flags |= kSendFlagTimed;
    request.due_time = due_time_;
    context_.host->Queue(request, 1);
  } else if (int count = ReadCount(count_->text()); count > 0) {
    context_.host->Queue(request, count);
  }
  done(kComposeSent);
}

void ComposeWindow::Save() {
  if (!HasRecipients() || context_.host == nullptr) return;
  SendRequest request = Request();
  context_.host->HandOver(request, SendResultKind::kSaveDraft);
  draft_ = request.draft;
}

void ComposeWindow::ToggleStatusReport() {
  if (context_.settings == nullptr) return;
  settings::SettingsStore& settings = *context_.settings;
  settings.set_status_report(settings.status_report() != 0 ? 0 : 1);
  // This window shows no other messages: a failed save is logged.
  platform::Status status = settings.Save();
  if (!status.ok())
    platform::DebugPrintf("pelicorde: saving the settings failed: %s\r\n",
                          status.ToString().c_str());
}

void ComposeWindow::Timer() {
  platform::SystemTime due = due_time_;
  timer_set_ = RunTimerDialog(this, timer_set_, &due, Now()) == kTimerSet;
  if (timer_set_) due_time_ = due;
}

void ComposeWindow::InsertMyText() {
  if (context_.sentences == nullptr) return;
  std::u16string chosen;
  if (contacts::ui::ChooseSentence(this, context_.sentences, &chosen) ==
          contacts::ui::kMyTextOk &&
      !chosen.empty())
    InsertIntoMessage(chosen);
}

void ComposeWindow::PickRecipients(bool into_message) {
  if (context_.picker.store == nullptr) return;
  std::u16string picked;
  if (contacts::ui::RunContactPicker(this, context_.picker,
                                     contacts::kPickerMultiple, &picked) !=
          contacts::ui::kPickerConfirmed ||
      picked.empty())
    return;
  if (into_message) {
    std::u16string_view entries = picked;
    if (entries.front() == u';') entries.remove_prefix(1);
    InsertIntoMessage(entries);
    return;
  }
  to_->setText(kit::Q(AddRecipients(recipients(), picked)));
}

void ComposeWindow::InsertTime(bool date) {
  InsertIntoMessage(text::FormatTime(
      Now(), date ? text::TimeKind::kDate : text::TimeKind::kTime,
      kMaxTimeTextChars + 1));
}

void ComposeWindow::InsertIntoMessage(std::u16string_view text) {
  QTextCursor cursor = text_->textCursor();
  cursor.insertText(kit::Q(text));
  text_->setTextCursor(cursor);
}

platform::SystemTime ComposeWindow::Now() const {
  return context_.clock ? context_.clock() : platform::CurrentLocalTime();
}

bool ComposeWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == to_label_ && event->type() == QEvent::MouseButtonRelease) {
    PickRecipients(false);
    return true;
  }
  if (event->type() != QEvent::KeyPress ||
      (watched != to_ && watched != text_ && watched != count_))
    return DeviceDialog::eventFilter(watched, event);
  const int key = static_cast<QKeyEvent*>(event)->key();
  switch (key) {
    case Qt::Key_Escape:
    case Qt::Key_Back: {
      // Back deletes as it does in the shell's edit controls.
      QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
      QApplication::sendEvent(watched, &backspace);
      return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (watched != to_) break;
      PickRecipients(false);
      return true;
    case Qt::Key_Up:
      if (watched != text_ || !OnEdgeLine(text_->textCursor(), true)) break;
      focusNextPrevChild(false);
      return true;
    case Qt::Key_Down:
      if (watched == count_ ||
          (watched == text_ && !OnEdgeLine(text_->textCursor(), false)))
        break;
      focusNextPrevChild(true);
      return true;
    default:
      break;
  }
  return DeviceDialog::eventFilter(watched, event);
}

int ComposeWithTexts(QWidget* parent, const ComposeContext& context,
                     std::optional<std::u16string_view> text,
                     std::optional<std::u16string_view> recipients,
                     ComposeMode mode) {
  if (parent == nullptr) parent = QApplication::activeWindow();
  ComposeWindow window(parent, context);
  window.FillWithTexts(text, recipients, mode);
  return window.Run() == kComposeSent ? kComposeSent : kComposeCancelled;
}

int ComposeWithNode(QWidget* parent, const ComposeContext& context,
                    store::Node* node, ComposeMode mode) {
  if (parent == nullptr) parent = QApplication::activeWindow();
  ComposeWindow window(parent, context);
  window.FillWithNode(node, mode);
  return window.Run() == kComposeSent ? kComposeSent : kComposeCancelled;
}

}  // namespace send::ui
