// MessageView: the modal window that shows one stored message of the
// document ("Content"), and the same window without a message as the editor
// of a new note (the main window's "Folder...", "Draft..." and "Root
// Folder...").
//
// With a node it opens in reading mode: the title and the text are
// read-only, an unread message is marked read (the document's unread counts
// and the published total follow), Left and Right step to the previous and
// next message, and the menu offers "Dial", "Edit", "Delete", "Property...",
// "Password..." and "Set as Blacklist". "Edit" makes both fields writable
// and the left key "Save"; "Cancel" while editing reloads the stored node.
// Saving refuses an empty title ("Title can't be empty!"); an edited text
// becomes the node's new content (an empty text leaves the node without
// content); an edited title replaces the tree item's text.
//
// Without a node it is the new-note editor: on OK or "Save" a kind-3 record
// with the typed text (or none) is written to the document's file with a
// note of where it goes (the target and image set with SetNewNoteTarget),
// and new_note() holds what the caller then puts into the tree with
// Document::InsertPending; the view never adds it.
//
// Everything here runs on the UI thread. The context's pointers are not
// owned and must outlive the view; the document must be open.
#ifndef TELVANE_SEND_UI_MESSAGE_VIEW_H_
#define TELVANE_SEND_UI_MESSAGE_VIEW_H_

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "kit/device_window.h"
#include "store/document.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace firewall {
struct FilterSet;
}
namespace settings {
class SettingsStore;
}

namespace send::ui {

// The dialog's template and its controls' identifiers (object names).
inline constexpr int kMessageViewTemplate = 124;
inline constexpr int kFromLabel = 1046;
inline constexpr int kSenderField = 1033;
inline constexpr int kSubjLabel = 1047;
inline constexpr int kTitleField = 40010;
inline constexpr int kTimeLabel = 40365;
inline constexpr int kTimeField = 40366;
inline constexpr int kTextField = 1022;
// The image buttons carry their command identifiers (kit::cmds::kEdit,
// kDelete, kPrevious, kNext) as identifiers.

// The longest sender a reply or a quote puts into the To field.
inline constexpr size_t kMaxReplySenderChars = 51;
// The longest sender number a command passes on (dialled, blacklisted).
inline constexpr size_t kMaxNumberChars = 51;

// The node before (next == false) or after `node` that "Previous" and
// "Next" show, or null when there is none.
using NeighbourSource =
    std::function<store::Node*(store::Node* node, bool next)>;

// The default source: the node's previous or next sibling in the tree; the
// Recycle Bin is never given.
store::Node* TreeSibling(store::Node* node, bool next);

struct MessageViewContext {
  store::Document* document = nullptr;  // required, open
  // The content font is taken from its applied fonts; may be null.
  const settings::SettingsStore* settings = nullptr;
  // "Set as Blacklist" appends to its Black List and saves its file; null
  // disables the command.
  firewall::FilterSet* filters = nullptr;
  // "Previous"/"Next"; empty: TreeSibling.
  NeighbourSource neighbour;
  // Makes the shown node the main window's selection; may be empty.
  std::function<void(store::Node*)> select;
  // Runs the node property dialog on a record: true when the user changed
  // it (the record then holds the change). Empty hides "Property...".
  std::function<bool(store::NodeRecord*)> edit_property;
  // Called after every command the view handles (the user is active).
  std::function<void()> activity;
  // Opens the compose window with a text, recipients and a mode (0
  // forward, 1 reply, 2 resend, 4 quote). Empty hides "Reply",
  // "Forward...", "Resend..." and "Quote...".
  std::function<void(std::u16string text, std::u16string recipients, int mode)>
      compose;
};

// A new note: where it goes (set by the caller), and what its OK wrote.
struct NewNote {
  store::Node* target = nullptr;  // the folder it goes into; null: the root
  store::NodeImage image = store::kImageFolder;  // folder, or a read draft
  std::u16string title;
  // The record written, for Document::InsertPending.
  std::optional<store::PendingFiling> pending;
};

// Result values of Open and MessageView::Exec.
inline constexpr int kViewSaved = 1;      // closed after saving or deleting
inline constexpr int kViewCancelled = 2;  // closed without a final save

class MessageView : public kit::DeviceDialog {
  Q_OBJECT

 public:
  // `node` null: the new-note editor. Nothing is read until Exec.
  MessageView(QWidget* parent, const MessageViewContext& context,
              store::Node* node);
  ~MessageView() override;

  // Opens the node (its password must pass, otherwise kViewSaved at once
  // without showing anything) and runs the dialog: kViewSaved or
  // kViewCancelled.
  int Exec();

  // The node shown now (null for a new note, or after it was deleted).
  store::Node* node() const { return node_; }
  bool editing() const { return editing_; }
  // Where a new note goes (before Exec; the root and a folder by default).
  void SetNewNoteTarget(store::Node* target, store::NodeImage image) {
    note_target_ = target;
    note_image_ = image;
  }
  // Set once a new note was saved.
  const std::optional<NewNote>& new_note() const { return new_note_; }

  QLineEdit* title_field() const { return title_; }
  QPlainTextEdit* text_field() const { return text_; }

 protected:
  void OnCommand(uint32_t command) override;
  void OnBack() override;
  void OnMenuPopup(QMenu* menu) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Reads `node` into the view (password, mark read, fields) in reading
  // mode. False when its password did not pass or its record is unreadable.
  bool LoadNode(store::Node* node);
  void SetEditing(bool editing);
  // Writes the edits (editing) or the record change (reading) back. False
  // when refused (empty title) or a write failed.
  bool SaveNode();
  bool SaveNewNote();
  bool TitleAcceptable();
  void Step(bool next);
  void Delete();
  void Dial();
  enum class ComposeKind { kReply, kForward, kResend, kQuote };
  void Compose(ComposeKind kind);
  void SetAsBlacklist();
  void EditProperty();
  void EditPassword();
  void ClearFlags();
  store::Node* Neighbour(store::Node* node, bool next);

  MessageViewContext context_;
  store::Node* node_;
  bool is_new_;
  store::NodeRecord record_{};
  std::u16string sender_;  // the record's sender text
  bool editing_ = false;
  bool text_changed_ = false;
  bool title_changed_ = false;
  bool record_changed_ = false;
  std::optional<NewNote> new_note_;
  store::Node* note_target_ = nullptr;
  store::NodeImage note_image_ = store::kImageFolder;

  QLabel* from_label_;
  QLineEdit* sender_field_;
  QLineEdit* title_;
  QLabel* time_label_;
  QLineEdit* time_field_;
  QPlainTextEdit* text_;
};

// Runs a MessageView over the active window (or `parent`): the usual entry
// for the main window's "View" (a node) and the new-node commands (null;
// *note says where the node goes and receives what to add when the result
// is kViewSaved).
int OpenMessageView(QWidget* parent, const MessageViewContext& context,
                    store::Node* node, NewNote* note = nullptr);

}  // namespace send::ui

#endif  // TELVANE_SEND_UI_MESSAGE_VIEW_H_
