#include "send/ui/message_view.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <memory>
#include <span>

#include "firewall/filter_file.h"
#include "firewall/filter_set.h"
#include "kit/fonts.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/codepage.h"
#include "platform/modules.h"
#include "platform/telephony.h"
#include "platform/time.h"
#include "platform/unicode.h"
#include "settings/settings_store.h"
#include "text/text.h"

namespace send::ui {
namespace {

namespace cmds = kit::cmds;
namespace ids = kit::ids;

// The text field's input mode as the last view left it, given to the next
// view's text field on every mode switch.
Qt::InputMethodHints remembered_input_hints = Qt::ImhNone;

// Commands that open the compose window.
constexpr std::array<uint32_t, 4> kComposeCommands = {
    cmds::kReply, cmds::kViewForward, cmds::kResend, cmds::kQuote};

// The record's sender up to its first NUL.
std::u16string SenderOf(const store::NodeRecord& record) {
  std::u16string sender = record.sender();
  size_t end = sender.find(u'\0');
  if (end != std::u16string::npos) sender.resize(end);
  return sender;
}

QLabel* MakeLabel(QWidget* parent, int id, const QString& text) {
  auto* label = new QLabel(text, parent);
  kit::SetControlId(label, id);
  return label;
}

QLineEdit* MakeField(QWidget* parent, int id) {
  auto* field = new QLineEdit(parent);
  kit::SetControlId(field, id);
  return field;
}

// Hides a popup's entry that leads to a submenu once none of its entries is
// visible.
void HideEmptySubmenus(QMenu* menu) {
  for (QAction* action : menu->actions()) {
    QMenu* sub = action->menu();
    if (sub == nullptr) continue;
    HideEmptySubmenus(sub);
    bool any = false;
    for (QAction* entry : sub->actions())
      any = any || (entry->isVisible() && !entry->isSeparator());
    if (!any) action->setVisible(false);
  }
}

}  // namespace

store::Node* TreeSibling(store::Node* node, bool next) {
  if (node == nullptr || node->parent() == nullptr) return nullptr;
  store::Node* parent = node->parent();
  size_t index = node->index_in_parent();
  if (!next && index == 0) return nullptr;
  size_t target = next ? index + 1 : index - 1;
  if (target >= parent->child_count()) return nullptr;
  store::Node* sibling = parent->child(target);
  return sibling->is_recycle_bin() ? nullptr : sibling;
}

MessageView::MessageView(QWidget* parent, const MessageViewContext& context,
                         store::Node* node)
    : DeviceDialog(parent, kMessageViewTemplate),
      context_(context),
      node_(node),
      is_new_(node == nullptr) {
  title_bar()->SetCaption(kit::Str(ids::kContentTitle));
  title_bar()->ShowOk(true);

  auto* grid = new QGridLayout();
  grid->setContentsMargins(0, 0, 0, 0);
  from_label_ = MakeLabel(content(), kFromLabel, kit::Str(ids::kFrom));
  sender_field_ = MakeField(content(), kSenderField);
  sender_field_->setReadOnly(true);
  title_ = MakeField(content(), kTitleField);
  title_->setMaxLength(static_cast<int>(store::kMaxTitleChars));
  time_label_ = MakeLabel(content(), kTimeLabel, kit::Str(ids::kTime));
  time_field_ = MakeField(content(), kTimeField);
  time_field_->setReadOnly(true);
  grid->addWidget(from_label_, 0, 0);
  grid->addWidget(sender_field_, 0, 1);
  grid->addWidget(MakeLabel(content(), kSubjLabel, kit::Str(ids::kSubj)), 1, 0);
  grid->addWidget(title_, 1, 1);
  grid->addWidget(time_label_, 2, 0);
  grid->addWidget(time_field_, 2, 1);

  text_ = new QPlainTextEdit(content());
  kit::SetControlId(text_, kTextField);
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  if (context_.settings != nullptr &&
      context_.settings->applied_fonts().has_value())
    text_->setFont(
        kit::FontFromDescription(context_.settings->applied_fonts()->content));

  // The image buttons of the menu bar: Edit, Delete, a gap, Previous, Next.
  auto* buttons = new QHBoxLayout();
  buttons->setContentsMargins(0, 0, 0, 0);
  for (const kit::ToolbarButton& button : kit::MessageViewButtons()) {
    if (button.command == 0) {
      buttons->addSpacing(8);
      continue;
    }
    auto* tool = new QToolButton(content());
    tool->setText(kit::Str(button.text_id));
    tool->setToolTip(kit::Str(button.text_id));
    tool->setFocusPolicy(Qt::NoFocus);
    kit::SetControlId(tool, static_cast<int>(button.command));
    uint32_t command = button.command;
    connect(tool, &QToolButton::clicked, this,
            [this, command] { Dispatch(command); });
    buttons->addWidget(tool);
  }
  buttons->addStretch(1);

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(grid);
  layout->addWidget(text_, 1);
  layout->addLayout(buttons);

  soft_keys()->SetMenuBar(kit::MessageViewMenuBar());
  QMenu* menu = soft_keys()->menu();
  if (!context_.compose) {
    for (uint32_t command : kComposeCommands) kit::HideCommand(menu, command);
  }
  if (!context_.edit_property) kit::HideCommand(menu, cmds::kNodeProperty);
  if (is_new_ && menu != nullptr) {
    // A new note has nothing to forward, dial, edit or delete: the first
    // seven entries of "Options" go.
    QList<QAction*> actions = menu->actions();
    for (qsizetype i = 0; i < actions.size() && i < 7; ++i)
      actions[i]->setVisible(false);
    for (int id :
         {static_cast<int>(cmds::kEdit), static_cast<int>(cmds::kDelete),
          static_cast<int>(cmds::kPrevious), static_cast<int>(cmds::kNext)})
      kit::FindControl<QToolButton>(content(), id)->hide();
  }
  if (menu != nullptr) HideEmptySubmenus(menu);

  connect(title_, &QLineEdit::textChanged, this,
          [this] { title_changed_ = true; });
  connect(text_, &QPlainTextEdit::textChanged, this,
          [this] { text_changed_ = true; });
  title_->installEventFilter(this);
  text_->installEventFilter(this);
}

MessageView::~MessageView() = default;

int MessageView::Exec() {
  if (is_new_) {
    from_label_->hide();
    sender_field_->hide();
    time_label_->hide();
    time_field_->hide();
    record_ = store::NodeRecord{};
    SetEditing(true);
    ClearFlags();
    title_->setFocus();
  } else if (!LoadNode(node_)) {
    return kViewSaved;
  }
  int result = Run();
  remembered_input_hints = text_->inputMethodHints();
  return result;
}

bool MessageView::LoadNode(store::Node* node) {
  store::Document& document = *context_.document;
  if (node == nullptr || !document.CheckNodePassword(node)) return false;
  std::optional<store::NodeRecord> record = document.ReadNodeRecord(node);
  if (!record) return false;
  node_ = node;
  record_ = *record;
  if (node->image() == store::kImageMessageUnread) {
    document.tree().SetImage(node, store::kImageMessageRead);
    document.MarkModified();
    document.AdjustUnread(node, -1);
    document.PublishUnreadTotal();
  }
  if (context_.select) context_.select(node);

  title_->setText(kit::Q(node->title()));
  std::optional<std::u16string> body = document.ReadNodeBody(node);
  text_->setPlainText(kit::Q(body.value_or(u"")));
  text_->moveCursor(QTextCursor::Start);

  sender_ = SenderOf(record_);
  bool has_sender = !sender_.empty();
  if (has_sender) {
    text::Recipient party = text::SplitRecipient(sender_);
    sender_field_->setText(kit::Q(
        party.quoted && !party.name.empty() ? party.name : party.number));
  }
  from_label_->setVisible(has_sender);
  sender_field_->setVisible(has_sender);
  std::optional<platform::SystemTime> time =
      platform::VariantTimeToSystemTime(record_.date());
  time_field_->setText(
      time ? kit::Q(text::FormatTime(*time, text::TimeKind::kDateAndTime, 64))
           : QString());

  SetEditing(false);
  ClearFlags();
  return true;
}

void MessageView::ClearFlags() {
  text_changed_ = false;
  title_changed_ = false;
  record_changed_ = false;
}

void MessageView::SetEditing(bool editing) {
  editing_ = editing;
  title_->setReadOnly(!editing);
  text_->setReadOnly(!editing);
  text_->setInputMethodHints(remembered_input_hints);
  // The left key keeps command 40080: "Reply" while reading (hidden when
  // there is nothing to reply to or no compose window), "Save" while
  // editing.
  QString left;
  if (editing) {
    left = kit::Str(ids::kSaveSoftKey);
  } else if (context_.compose && !is_new_) {
    left = kit::Str(ids::kReply);
  }
  soft_keys()->SetLeftKey(left, cmds::kReply);
  if (QMenu* menu = soft_keys()->menu()) OnMenuPopup(menu);
}

void MessageView::OnMenuPopup(QMenu* menu) {
  bool phone = settings::PhonePresent();
  bool has_number = !sender_.empty();
  kit::EnableCommand(menu, cmds::kDial, phone && has_number && !is_new_);
  kit::EnableCommand(menu, cmds::kEdit, !editing_);
  kit::EnableCommand(menu, cmds::kSetAsBlacklist,
                     context_.filters != nullptr && has_number && !is_new_);
  for (uint32_t command : kComposeCommands)
    kit::EnableCommand(menu, command, phone);
}

bool MessageView::TitleAcceptable() {
  if (!title_->text().isEmpty()) return true;
  kit::ShowMessageId(this, ids::kTitleEmpty, ids::kCaptionAlert);
  return false;
}

bool MessageView::SaveNode() {
  if (node_ == nullptr) return false;
  store::Document& document = *context_.document;
  if (editing_ && !TitleAcceptable()) return false;
  bool password_changed = record_changed_;
  if (editing_ && text_changed_) {
    // record_ carries any property or password change made meanwhile.
    std::u16string body = kit::U(text_->toPlainText());
    if (body.empty()) {
      record_.set_has_payload(false);
      if (!document.RewriteNodeRecord(node_, record_).ok()) return false;
    } else {
      std::string bytes = platform::WideToMultiByte(body);
      bytes.push_back('\0');
      const std::u16string title =
          title_changed_ ? kit::U(title_->text()) : std::u16string();
      if (!document.ReplaceNodeRecord(node_, record_, bytes, title).ok()) {
        return false;
      }
      record_.set_has_payload(true);
    }
    record_changed_ = false;
  }
  if (record_changed_) {
    if (!document.RewriteNodeRecord(node_, record_).ok()) return false;
    record_changed_ = false;
  }
  if (password_changed)
    document.tree().SetUnlockStamp(
        node_, record_.password().empty() ? 0 : store::kUnlockedBySetting);
  if (editing_) {
    if (title_changed_) document.tree().SetTitle(node_, kit::U(title_->text()));
    if (text_changed_ || title_changed_) document.MarkModified();
    text_changed_ = false;
    title_changed_ = false;
  }
  return true;
}

bool MessageView::SaveNewNote() {
  if (!TitleAcceptable()) return false;
  store::NodeRecord record;
  record.set_type(3);
  record.set_date(
      platform::SystemTimeToVariantTime(platform::CurrentLocalTime())
          .value_or(0));
  std::u16string body = kit::U(text_->toPlainText());
  std::optional<std::string> bytes;
  if (!body.empty()) {
    bytes = platform::WideToMultiByte(body);
    bytes->push_back('\0');
  }
  platform::Status status;
  NewNote note;
  note.target = note_target_;
  note.image = note_image_;
  note.title = kit::U(title_->text());
  note.pending = context_.document->PersistNode(
      note_target_, note.title, note_image_, record, bytes, &status);
  if (!note.pending) {
    kit::ShowMessage(this, kit::Q(platform::FromUtf8(status.ToString())),
                     kit::Str(ids::kCaptionError));
    return false;
  }
  new_note_ = std::move(note);
  return true;
}

store::Node* MessageView::Neighbour(store::Node* node, bool next) {
  store::Node* found = context_.neighbour ? context_.neighbour(node, next)
                                          : TreeSibling(node, next);
  if (found != nullptr && next && found->is_recycle_bin()) return nullptr;
  return found;
}

void MessageView::Step(bool next) {
  if (is_new_ || node_ == nullptr) return;
  bool saved = SaveNode();
  store::Node* target = Neighbour(node_, next);
  if (target == nullptr) return;
  if (!saved) ClearFlags();  // the edits are dropped when the view moves on
  if (!LoadNode(target)) done(kViewSaved);
}

void MessageView::Delete() {
  if (is_new_ || node_ == nullptr) return;
  store::Node* next = Neighbour(node_, true);
  store::Node* gone = node_;
  if (!context_.document->DeleteNodes(std::span<store::Node* const>(&gone, 1)))
    return;
  node_ = nullptr;
  if (next == nullptr || !LoadNode(next)) done(kViewSaved);
}

void MessageView::Dial() {
  if (is_new_ || sender_.empty()) return;
  std::unique_ptr<platform::Library> cellcore =
      platform::Library::Load(platform::kCellcoreLibraryName);
  if (cellcore == nullptr) return;
  auto request = reinterpret_cast<platform::TapiRequestMakeCallFunction>(
      cellcore->Symbol(platform::kTapiRequestMakeCallName));
  if (request == nullptr) return;
  std::u16string number =
      text::NormalizeNumber(sender_).substr(0, kMaxNumberChars);
  if (number.empty()) return;
  request(number.c_str(), nullptr, nullptr, nullptr);
}

void MessageView::Compose(ComposeKind kind) {
  if (is_new_ || !context_.compose || !settings::PhonePresent()) return;
  const std::u16string sender = sender_.substr(0, kMaxReplySenderChars);
  const std::u16string text = kit::U(text_->toPlainText());
  switch (kind) {
    case ComposeKind::kReply:
      context_.compose(u"", sender, 1);
      break;
    case ComposeKind::kForward:
      context_.compose(text, u"", 0);
      break;
    case ComposeKind::kResend:
      context_.compose(text, u"", 2);
      break;
    case ComposeKind::kQuote:
      context_.compose(text, sender, 4);
      break;
  }
}

void MessageView::SetAsBlacklist() {
  if (is_new_ || context_.filters == nullptr) return;
  text::Recipient party = text::SplitRecipient(sender_);
  // An empty phone would match every sender: never added.
  if (party.number.empty()) return;
  firewall::BlackListEntry entry;
  entry.name = party.name.substr(0, kMaxNumberChars);
  entry.phone = party.number.substr(0, kMaxNumberChars);
  context_.filters->black_list.push_back(std::move(entry));
  firewall::SaveFilterFile(*context_.filters);
}

void MessageView::EditProperty() {
  if (is_new_ || !context_.edit_property) return;
  store::NodeRecord record = record_;
  if (context_.edit_property(&record)) {
    record_ = record;
    record_changed_ = true;
  }
}

void MessageView::EditPassword() {
  if (is_new_ || node_ == nullptr || node_->is_recycle_bin()) return;
  std::u16string password = record_.password();
  if (kit::PasswordPrompt(this, kit::PasswordMode::kChange, &password) != 1)
    return;
  record_.set_password(password);
  record_changed_ = true;
}

void MessageView::OnCommand(uint32_t command) {
  switch (command) {
    case kit::kCommandOk:
      if (is_new_) {
        if (SaveNewNote()) done(kViewSaved);
      } else if (SaveNode()) {
        done(kViewSaved);
      }
      break;
    case cmds::kReply:
      // "Reply" while reading opens the compose window; "Save" while
      // editing.
      if (!editing_) {
        Compose(ComposeKind::kReply);
        break;
      }
      if (is_new_) {
        if (SaveNewNote()) done(kViewSaved);
      } else if (SaveNode()) {
        SetEditing(false);
      }
      break;
    case kit::kCommandCancel:
    case cmds::kCancel:
      if (is_new_ || !editing_) {
        done(kViewCancelled);
      } else if (!LoadNode(node_)) {
        done(kViewSaved);
      }
      break;
    case cmds::kEdit:
      if (!is_new_ && node_ != nullptr && !editing_) {
        SetEditing(true);
        text_->setFocus();
      }
      break;
    case cmds::kPrevious:
      Step(false);
      break;
    case cmds::kNext:
      Step(true);
      break;
    case cmds::kDelete:
      Delete();
      break;
    case cmds::kDial:
      if (settings::PhonePresent()) Dial();
      break;
    case cmds::kSetAsBlacklist:
      SetAsBlacklist();
      break;
    case cmds::kViewForward:
      Compose(ComposeKind::kForward);
      break;
    case cmds::kResend:
      Compose(ComposeKind::kResend);
      break;
    case cmds::kQuote:
      Compose(ComposeKind::kQuote);
      break;
    case cmds::kNodeProperty:
      EditProperty();
      break;
    case cmds::kViewPassword:
      EditPassword();
      break;
    default:
      break;
  }
  if (context_.activity) context_.activity();
}

void MessageView::OnBack() {
  if (!editing_) done(kViewCancelled);
}

bool MessageView::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == title_ || watched == text_) &&
      event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
      case Qt::Key_Left:
      case Qt::Key_Right:
        if (!editing_) {
          OnCommand(key->key() == Qt::Key_Left ? cmds::kPrevious : cmds::kNext);
          return true;
        }
        break;
      case Qt::Key_Up: {
        bool first_line =
            watched == title_ ||
            text_->textCursor().block() == text_->document()->firstBlock();
        if (first_line) {
          focusNextPrevChild(false);
          return true;
        }
        break;
      }
      case Qt::Key_Escape:
      case Qt::Key_Back:
        if (editing_) {
          // While editing, Back deletes as it does in the shell's edits.
          QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace,
                              Qt::NoModifier);
          QApplication::sendEvent(watched, &backspace);
          return true;
        }
        break;
      default:
        break;
    }
  }
  return DeviceDialog::eventFilter(watched, event);
}

int OpenMessageView(QWidget* parent, const MessageViewContext& context,
                    store::Node* node, NewNote* note) {
  if (parent == nullptr) parent = QApplication::activeWindow();
  MessageView view(parent, context, node);
  if (note != nullptr) view.SetNewNoteTarget(note->target, note->image);
  int result = view.Exec();
  if (note != nullptr && view.new_note()) *note = *view.new_note();
  return result;
}

}  // namespace send::ui
