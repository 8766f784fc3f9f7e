// ComposeWindow: the modal window in which the user writes a message ("Send
// SMS", template 114, menu bar 116), opened empty for a new message or
// filled for a reply, a forward, a quote or a resend.
//
// Filling (ComposeMode):
// - with a node of the document (the main window's Reply, Forward, Quote
//   and Resend on the chosen message; its password was checked there): the
//   node becomes the main window's selection and its record and text are
//   read. Reply puts the sender into To; Forward puts the text into the
//   message field; Resend splits the text (SplitSentMessage); Quote puts the
//   sender into To and then splits the text, which may replace To;
// - with texts (the message view, "New SMS"): Resend splits the message
//   text; every other mode takes the message text and the recipients as
//   they are, each when given.
// Then the count field reads "1", the signature ("Sign") is appended to the
// message field with the caret left in front of it, the message field gets
// the content font and the input mode the last compose window left it in,
// and the To field the numeric input mode.
//
// Line breaks are "\r\n" in everything the window hands on and counts, as
// in the platform's edit controls.
//
// Commands: "Send" checks that To and the message are not empty ("Phone
// Number can't be empty!", "Content can't be empty!", caption "Error"; the
// window stays open), then either runs the group sending window ("Group"
// ticked; a completed sending is handed over as kGroupFinished) or queues
// the request (kSendFlagFlash for "Flash", kSendFlagStatusReport under
// "StatusReport"): once at the due time when the timer is set, else as
// many times as the count field says (0 or empty: once; negative: never),
// and closes with kComposeSent. "Save" (To must not be empty) hands the
// request over as kSaveDraft and keeps the draft reference the host writes
// back, so later Saves replace the same draft and Send removes it. "Status
// Report" flips the setting and saves the settings at once. "Timer..."
// runs the TimerDialog. "Insert My Text", "Insert Contact", "Insert Time"
// and "Insert Date" insert into the message field at the caret, replacing
// the selection ("Insert Contact" while the To field has the focus picks
// recipients instead). "Cancel", the OK button and the Back key outside
// an edit field close with kComposeCancelled; in an edit field the Back key
// deletes the character before the caret.
//
// Recipients from the contact picker (Enter in the To field, a tap on
// "To:", "Insert Contact" in the To field) become the To field when it is
// empty (without the leading ";"), else are appended to it. At most
// kToAppendCapacity characters are added; an entry that does not fit is
// left out whole.
//
// Everything here runs on the UI thread. The context's pointers are not
// owned and must outlive the window.
#ifndef TELVANE_SEND_UI_COMPOSE_WINDOW_H_
#define TELVANE_SEND_UI_COMPOSE_WINDOW_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "contacts/ui/contact_picker.h"
#include "kit/device_window.h"
#include "platform/time.h"
#include "send/send_service.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace contacts {
class SentenceStore;
}
namespace settings {
class SettingsStore;
}
namespace store {
class Document;
class Node;
}  // namespace store

namespace send::ui {

// The dialog's template and its controls' identifiers (object names).
inline constexpr int kComposeTemplate = 114;
inline constexpr int kToLabel = 1116;
inline constexpr int kToField = 1004;
inline constexpr int kMessageField = 1003;
inline constexpr int kFlashBox = 1031;
inline constexpr int kGroupBox = 40424;
inline constexpr int kNumLabel = 1131;
inline constexpr int kCountField = 1035;
inline constexpr int kCounterLabel = 1130;

// Result values of the entry points and ComposeWindow::Run.
inline constexpr int kComposeSent = 1;       // sent, queued or group-sent
inline constexpr int kComposeCancelled = 2;  // Cancel, OK button, Back

enum class ComposeMode { kForward = 0, kReply = 1, kResend = 2, kQuote = 4 };

// The counter: characters counted (at most kCounterReadLimit) and the
// limit of one message.
inline constexpr size_t kCounterReadLimit = 1375;
inline constexpr int kSmsLimit = 160;
inline constexpr int kUnicodeSmsLimit = 70;  // any character >= 256
// The count field holds at most this many characters.
inline constexpr int kCountFieldChars = 9;
// Characters the picker's recipients may add to the To field.
inline constexpr size_t kToAppendCapacity = 7651;
// The longest sender taken from a stored message.
inline constexpr size_t kMaxSenderChars = 260;
// The longest text "Insert Time" and "Insert Date" insert.
inline constexpr size_t kMaxTimeTextChars = 40;

// What the window asks of the program; the main window implements it.
class ComposeHost {
 public:
  virtual ~ComposeHost() = default;
  // Save (kSaveDraft) and a finished group sending (kGroupFinished): the
  // main window files the request; after a Save, request.draft holds the
  // draft's reference.
  virtual void HandOver(send::SendRequest& request,
                        send::SendResultKind kind) = 0;
  // Send: the request goes out `count` times (count >= 1), or once at
  // request.due_time when it is timed (kSendFlagTimed set on this copy by
  // the window; SendService::Enqueue takes the due time and sets the flag
  // itself). False when there is no send service (nothing was queued).
  virtual bool Queue(const send::SendRequest& request, int count) = 0;
  // After every menu command: the user is active (stops an alert sound,
  // clears the arrival notification).
  virtual void UserActivity() = 0;
};

struct ComposeContext {
  ComposeHost* host = nullptr;  // required
  // "Sign", "StatusReport" and the content font; "Status Report" saves it.
  settings::SettingsStore* settings = nullptr;  // required
  // "Insert My Text" shows its sentences; null: the command does nothing.
  contacts::SentenceStore* sentences = nullptr;
  // The contact picker's store and settings; a null store: the picker is
  // not offered.
  contacts::ui::PickerEnvironment picker;
  // Opened with a node: the open document that holds it.
  store::Document* document = nullptr;
  // Makes the node the main window's selection; may be empty.
  std::function<void(store::Node*)> select;
  // The local time for the timer and "Insert Time"/"Insert Date"; empty:
  // the device's.
  std::function<platform::SystemTime()> clock;
};

// A stored outgoing message ("Send To:" recipients, a line of "-", the
// text) taken apart for Resend and Quote. Fields left empty (nullopt) are
// not filled.
struct SplitMessage {
  std::optional<std::u16string> recipients;
  std::optional<std::u16string> text;
};

// - a text without "--" is not of that shape: all of it is the text;
// - otherwise it is cut into lines at carriage returns and line feeds (a
//   run of them is one break). An empty first line fills nothing. The part
//   of the first line after its first ":" is the recipients (empty without
//   a ":"), and the text is what follows the first later line that begins
//   with "-" and the line break that ends it (empty when that line is the
//   last);
// - when no later line begins with "-", the text is not of that shape
//   either: all of it is the text and the recipients are not filled.
SplitMessage SplitSentMessage(std::u16string_view stored);

// The To field after adding the picker's `picked` text (entries each
// beginning with ";"): `picked` without its leading ";" when `to` is
// empty, else appended. Entries that would take the added text beyond
// kToAppendCapacity characters are left out whole.
std::u16string AddRecipients(std::u16string_view to,
                             std::u16string_view picked);

// The counter's "%d/%d" text for a message.
std::u16string CounterText(std::u16string_view message);

class ComposeWindow : public kit::DeviceDialog {
  Q_OBJECT

 public:
  // Empty until Fill*; `context` is copied.
  ComposeWindow(QWidget* parent, const ComposeContext& context);
  ~ComposeWindow() override;

  // Fill the window before Run (see the file comment). `text` and
  // `recipients` may be absent.
  void FillWithTexts(std::optional<std::u16string_view> text,
                     std::optional<std::u16string_view> recipients,
                     ComposeMode mode);
  void FillWithNode(store::Node* node, ComposeMode mode);

  // What the window holds now (line breaks as "\r\n").
  std::u16string recipients() const;
  std::u16string message() const;
  bool timer_set() const { return timer_set_; }
  const platform::SystemTime& due_time() const { return due_time_; }
  const std::optional<DraftReference>& draft() const { return draft_; }

  QLineEdit* to_field() const { return to_; }
  QPlainTextEdit* message_field() const { return text_; }
  QLabel* counter() const { return counter_; }

 protected:
  void OnCommand(uint32_t command) override;
  void OnMenuPopup(QMenu* menu) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The steps after the fields are filled: count, counter, signature.
  void FinishFilling();
  void LayOut();
  void UpdateCounter();
  // The two checks of Send and Save; false after telling the user.
  bool HasRecipients();
  bool HasText();
  SendRequest Request() const;
  void Send();
  void Save();
  void ToggleStatusReport();
  void Timer();
  void InsertMyText();
  void InsertContact();
  // Runs the picker and puts its recipients into the To field, or into
  // the message field at the caret when `into_message`.
  void PickRecipients(bool into_message);
  void InsertTime(bool date);
  void InsertIntoMessage(std::u16string_view text);
  platform::SystemTime Now() const;

  ComposeContext context_;
  bool timer_set_ = false;
  platform::SystemTime due_time_{};
  std::optional<DraftReference> draft_;

  QLabel* to_label_;
  QLineEdit* to_;
  QPlainTextEdit* text_;
  QCheckBox* flash_;
  QCheckBox* group_;
  QLabel* num_label_;
  QLineEdit* count_;
  QLabel* counter_;
};

// Runs a compose window over `parent` (or the active window) filled with
// texts: kComposeSent or kComposeCancelled.
int ComposeWithTexts(QWidget* parent, const ComposeContext& context,
                     std::optional<std::u16string_view> text,
                     std::optional<std::u16string_view> recipients,
                     ComposeMode mode);
// The same filled from `node` of context.document.
int ComposeWithNode(QWidget* parent, const ComposeContext& context,
                    store::Node* node, ComposeMode mode);

}  // namespace send::ui

#endif  // TELVANE_SEND_UI_COMPOSE_WINDOW_H_
