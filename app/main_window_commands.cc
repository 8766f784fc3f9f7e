// The main window's commands: documents, nodes, marks, selection,
// clipboard, export and compaction.
#include <QListView>
#include <QMenu>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

#include "app/format.h"
#include "app/list_model.h"
#include "app/main_window.h"
#include "app/preview_popup.h"
#include "app/shell_dialogs.h"
#include "app/tree_model.h"
#include "import/ui/import_dialog.h"
#include "import/xml/xml_backup.h"
#include "intercept/phone_inbox.h"
#include "kit/file_browser.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/codepage.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/unicode.h"
#include "text/text.h"

namespace app {

namespace cmds = kit::cmds;

namespace {

// Detaches the tree view's model from the tree for the life of the object.
class DetachedTreeModel {
 public:
  DetachedTreeModel(TreeModel* model, store::MessageTree* tree)
      : model_(model), tree_(tree) {
    model_->SetTree(nullptr);
  }
  ~DetachedTreeModel() { model_->SetTree(tree_); }
  DetachedTreeModel(const DetachedTreeModel&) = delete;
  DetachedTreeModel& operator=(const DetachedTreeModel&) = delete;

 private:
  TreeModel* model_;
  store::MessageTree* tree_;
};

}  // namespace

void MainWindow::OnCommand(uint32_t command) {
  if (!initialized_) return;
  switch (command) {
    case cmds::kOkButton:
    case cmds::kMinimize:
      HideWindow();
      break;
    case cmds::kExit:
      Shutdown();
      break;
    case cmds::kAbout:
      AboutCommand();
      break;
    case cmds::kPreference:
      PreferenceCommand();
      break;
    case cmds::kSmsSetting:
      SmsSettingCommand();
      break;
    case cmds::kAlertOption:
      AlertOptionCommand();
      break;
    case cmds::kSecurity:
      SecurityCommand();
      break;
    case cmds::kFontSetting:
      FontSettingCommand();
      break;
    case cmds::kHotkey:
      HotkeyCommand();
      break;
    case cmds::kNewSms:
      NewSmsCommand();
      break;
    case cmds::kFilterList:
    case cmds::kBlackList:
    case cmds::kContactDefault:
    case cmds::kStrangerDefault:
      FirewallCommand(command);
      break;
    case cmds::kReply:
      ComposeCommand(send::ui::ComposeMode::kReply);
      break;
    case cmds::kForward:
      ComposeCommand(send::ui::ComposeMode::kForward);
      break;
    case cmds::kResend:
      ComposeCommand(send::ui::ComposeMode::kResend);
      break;
    case cmds::kQuote:
      ComposeCommand(send::ui::ComposeMode::kQuote);
      break;
    case cmds::kCopy:
      CopyCommand(/*cut=*/false);
      break;
    case cmds::kCut:
      CopyCommand(/*cut=*/true);
      break;
    case cmds::kPaste:
      PasteCommand();
      break;
    case cmds::kView:
      OpenInMessageView(ChosenNode());
      break;
    case cmds::kNewFolder:
    case cmds::kNewDraft:
    case cmds::kNewRootFolder:
      NewNodeCommand(command);
      break;
    case cmds::kManageMark:
      ManageMarkCommand();
      break;
    case cmds::kNodeProperty:
      NodePropertyCommand();
      break;
    case cmds::kNodePassword:
      NodePasswordCommand();
      break;
    case cmds::kSave:
      SaveDocument();
      break;
    case cmds::kFileProperty:
      FilePropertyCommand();
      break;
    case cmds::kDelete:
      DeleteCommand();
      break;
    case cmds::kOpen:
      OpenCommand();
      break;
    case cmds::kClose:
      CloseDocument(/*forget_last_file=*/true);
      break;
    case cmds::kNewFile:
      NewFileCommand();
      break;
    case cmds::kFilePassword:
      FilePasswordCommand();
      break;
    case cmds::kExportText:
      ExportCommand();
      break;
    case cmds::kImportXmlBackup:
      ImportXmlCommand();
      break;
    case cmds::kExportXmlBackup:
      ExportXmlCommand();
      break;
    case cmds::kPreviewMode:
      TogglePreviewMode();
      break;
    case cmds::kCompress:
      CompressCommand();
      break;
    case cmds::kMarkAsRead:
      MarkReadCommand(/*read=*/true);
      break;
    case cmds::kMarkAsUnread:
      MarkReadCommand(/*read=*/false);
      break;
    case cmds::kSelectAll:
    case cmds::kUnselectAll:
    case cmds::kSelectUnselect:
      SelectCommand(command);
      break;
    case cmds::kEmptyFolder:
      EmptyFolderCommand();
      break;
    case cmds::kImportSms:
      ImportCommand();
      break;
    case cmds::kEmptyRecycleBin:
      if (document_.IsOpen()) document_.EmptyRecycleBin();
      break;
    case cmds::kToggleRecycleBin:
      if (document_.IsOpen()) document_.ToggleRecycleBin();
      break;
    default:
      if (command >= cmds::kMarkBase &&
          command < cmds::kMarkBase + marks_.size()) {
        MarkCommand(command - cmds::kMarkBase);
      }
      break;
  }
  ClearUnreadNotification();
}

void MainWindow::OnMenuPopup(QMenu* menu) {
  ClearUnreadNotification();
  if (preview_ != nullptr) preview_->hide();
  if (popup_ != nullptr) popup_->Close();
  UpdateMenu(menu);
}

void MainWindow::UpdateMenu(QMenu* menu) {
  if (menu == nullptr) return;
  const bool open = document_.IsOpen();
  const bool list_mode = open && display_mode() == 2;
  store::Node* chosen = ChosenNode();
  const bool chosen_usable = chosen != nullptr && !chosen->is_recycle_bin();
  const bool holder_chosen = chosen != nullptr && !chosen->is_message();

  for (uint32_t command : {cmds::kExportText, cmds::kExportXmlBackup,
                           cmds::kMarkAsUnread, cmds::kMarkAsRead}) {
    kit::EnableCommand(menu, command, open && chosen != nullptr);
  }
  kit::EnableCommand(menu, cmds::kSelectAll, list_mode);
  kit::EnableCommand(menu, cmds::kUnselectAll, list_mode);
  kit::EnableCommand(
      menu, cmds::kSelectUnselect,
      list_mode && list_model_->MarkAt(CurrentListRow()) != kNotMarkable);
  for (uint32_t command :
       {cmds::kView, cmds::kDelete, cmds::kQuote, cmds::kReply, cmds::kCut,
        cmds::kNodeProperty, cmds::kNodePassword, cmds::kCopy, cmds::kForward,
        cmds::kResend}) {
    kit::EnableCommand(menu, command, chosen_usable);
  }
  for (size_t i = 0; i < marks_.size(); ++i) {
    kit::EnableCommand(menu, cmds::kMarkBase + static_cast<uint32_t>(i),
                       chosen_usable);
  }
  kit::EnableCommand(menu, cmds::kImportSms, holder_chosen);
  kit::EnableCommand(menu, cmds::kImportXmlBackup,
                     open && holder_chosen && !chosen->is_recycle_bin());
  kit::EnableCommand(menu, cmds::kEmptyFolder, holder_chosen);
  const bool place_chosen = list_mode || holder_chosen;
  kit::EnableCommand(menu, cmds::kNewFolder, open && place_chosen);
  kit::EnableCommand(menu, cmds::kNewDraft, open && place_chosen);
  kit::EnableCommand(menu, cmds::kPaste,
                     open && !document_.clipboard().empty() && place_chosen);

  kit::CheckCommand(menu, cmds::kPreviewMode, display_mode() == 2);
  for (uint32_t command :
       {cmds::kClose, cmds::kSave, cmds::kFileProperty, cmds::kFilePassword,
        cmds::kCompress, cmds::kNewRootFolder, cmds::kEmptyRecycleBin,
        cmds::kToggleRecycleBin}) {
    kit::EnableCommand(menu, command, open);
  }
  if (QAction* toggle = kit::FindCommand(menu, cmds::kToggleRecycleBin)) {
    toggle->setText(kit::Str(document_.recycle_bin() != nullptr
                                 ? kit::ids::kDeleteRecycleBin
                                 : kit::ids::kAddRecycleBin));
  }
}

// ------------------------------------------------------------ Files

void MainWindow::SaveDocument() {
  if (!document_.IsOpen()) return;
  store::DocumentLock::Holder hold(document_.lock());
  ShowStripText(kit::Str(kit::ids::kSaving));
  ReportSave(document_.Save(), document_.path());
  RefreshStrip();
}

void MainWindow::ReportSave(const platform::Status& status,
                            std::u16string_view file) {
  const std::u16string key(file);
  if (status.ok()) {
    save_failures_told_.erase(key);
    return;
  }
  platform::DebugPrintf("pelicorde: saving %s failed: %s\r\n",
                        platform::ToUtf8(file).c_str(),
                        status.ToString().c_str());
  // Once until a save of the same file works again: an auto-save every two
  // minutes does not ask every two minutes.
  if (shut_down_ || !save_failures_told_.insert(key).second) return;
  kit::ShowMessage(
      this,
      FillFormat(kit::Str(kit::ids::kSaveFailed),
                 {kit::Q(file), kit::Q(platform::FromUtf8(status.ToString()))}),
      kit::Str(kit::ids::kCaptionError));
}

void MainWindow::CloseDocument(bool forget_last_file) {
  {
    store::DocumentLock::Holder hold(document_.lock());
    if (document_.IsOpen()) {
      ShowStripText(kit::Str(kit::ids::kSaving));
      const std::u16string path = document_.path();
      ReportSave(document_.Close(), path);
    }
  }
  last_previewed_ = nullptr;
  // Timed messages of the closed document wait in it until it opens again
  // (one already queued still goes, and its node stays: it is not filed).
  scheduled_in_flight_.clear();
  if (scheduled_timer_ != nullptr) scheduled_timer_->stop();
  ApplyDisplayMode();
  if (forget_last_file) {
    LogFailure(settings_.SaveLastOpenFile(u""), "LastOpenFile");
  }
}

bool MainWindow::OpenDocument(std::u16string_view path) {
  CloseDocument(/*forget_last_file=*/false);
  platform::Status status;
  store::LoadReport report;
  {
    // The tree view learns the loaded tree in one reset rather than
    // through a change report per node.
    DetachedTreeModel detached(tree_model_, &document_.tree());
    status = document_.Open(path, deferred_password_, &report);
  }
  TellAboutOpen(path, status, report);
  if (!status.ok()) {
    ApplyDisplayMode();
    return false;
  }
  ReleasePhoneCopies(report);
  // What was put back is saved at once: a second crash finds it in the
  // index, not only in the notes.
  if (report.recovered_messages + report.recovered_folders +
          report.recovered_edits >
      0) {
    SaveDocument();
  }
  RememberLastFile();
  ApplyDisplayMode();
  CheckScheduled();
  return true;
}

void MainWindow::ReleasePhoneCopies(const store::LoadReport& report) {
  if (report.released.empty()) return;
  // Messages put back whose answer a crash kept from going out: their
  // copies in the phone's Inbox go now, as the answer would have taken them.
  platform::Status status;
  std::optional<int> removed =
      intercept::RemoveFromPhoneInbox(report.released, &status);
  if (removed) {
    platform::DebugPrintf(
        "pelicorde: %d of %zu message(s) put back were still in the phone's "
        "Inbox and were taken out of it\r\n",
        *removed, report.released.size());
  } else {
    platform::DebugPrintf("pelicorde: %s\r\n", status.ToString().c_str());
  }
}

void MainWindow::TellAboutOpen(std::u16string_view path,
                               const platform::Status& status,
                               const store::LoadReport& report) {
  const int recovered = report.recovered_messages + report.recovered_folders +
                        report.recovered_edits;
  if (recovered > 0) {
    platform::DebugPrintf(
        "pelicorde: %d message(s), %d folder(s) and %d edit(s) filed after "
        "the last save were put back\r\n",
        report.recovered_messages, report.recovered_folders,
        report.recovered_edits);
  }
  for (const std::string& problem : report.problems) {
    platform::DebugPrintf("pelicorde: %s: %s\r\n",
                          platform::ToUtf8(path).c_str(), problem.c_str());
  }
  if (status.code() == platform::ErrorCode::kBusy) {
    std::string holder = store::MessageFile::WriterOf(path);
    if (holder.empty()) holder = status.message();
    kit::ShowMessage(this,
                     FillFormat(kit::Str(kit::ids::kDocumentInUse),
                                {kit::Q(path), QString::fromStdString(holder)}),
                     kit::Str(kit::ids::kCaptionError));
    return;
  }
  if (!status.ok() || !report.damaged()) return;
  // A damaged document is never changed silently.
  const QString found = QString::fromStdString(
      report.problems.empty() ? std::string("messages no index reaches")
                              : report.problems.front());
  const bool copied = !report.damaged_copy.empty();
  kit::ShowMessage(
      this,
      FillFormat(kit::Str(copied ? kit::ids::kDocumentDamaged
                                 : kit::ids::kDocumentDamagedNoCopy),
                 {kit::Q(path), found, QString::number(report.index_used),
                  QString::number(report.unreached_messages),
                  kit::Q(report.damaged_copy)}),
      kit::Str(kit::ids::kCaptionWarning));
}

void MainWindow::RememberLastFile() {
  // The value is written only when it changes.
  if (settings_.last_open_file() == document_.path()) return;
  LogFailure(settings_.SaveLastOpenFile(document_.path()), "LastOpenFile");
}

void MainWindow::OpenCommand() {
  std::u16string folder = settings_.last_dir();
  std::u16string chosen;
  if (kit::BrowseForFile(this, kit::BrowseMode::kOpen,
                         kit::StringView(kit::ids::kDocumentExtension), &folder,
                         &chosen) != 1) {
    return;
  }
  settings_.set_last_dir(folder);
  OpenDocument(text::CutAtLineBreak(chosen));
}

void MainWindow::NewFileCommand() {
  std::u16string last_dir = settings_.last_dir();
  NewFileDialog dialog(this,
                       document_.IsOpen() ? document_.path() : std::u16string(),
                       &last_dir);
  int answer = dialog.Run();
  settings_.set_last_dir(last_dir);
  if (answer != kit::kCommandOk) return;
  {
    store::DocumentLock::Holder hold(document_.lock());
    last_previewed_ = nullptr;
    if (!document_.New(dialog.path(), dialog.options()).ok()) {
      ApplyDisplayMode();
      return;
    }
  }
  RememberLastFile();
  ApplyDisplayMode();
}

void MainWindow::FilePropertyCommand() {
  if (!document_.IsOpen()) return;
  FilePropertyDialog dialog(this, document_.file().header());
  if (dialog.Run() != kit::kCommandOk) return;
  store::FileHeader& header = document_.file().header();
  header.set_author(dialog.author());
  header.set_password(dialog.password());
  document_.file().MarkHeaderDirty();
}

void MainWindow::FilePasswordCommand() {
  if (!document_.IsOpen()) return;
  std::u16string password = document_.file().header().password();
  if (kit::PasswordPrompt(this, kit::PasswordMode::kChange, &password) != 1) {
    return;
  }
  document_.file().header().set_password(password);
  document_.file().MarkHeaderDirty();
}

void MainWindow::CompressCommand() {
  if (!document_.IsOpen() || document_.tree().empty()) return;
  store::DocumentLock::Holder hold(document_.lock());
  compacted_this_run_ = true;
  last_previewed_ = nullptr;
  ShowStripText(kit::Str(kit::ids::kSaving));
  {
    DetachedTreeModel detached(tree_model_, &document_.tree());
    LogFailure(document_.Compact(deferred_password_), "compress");
  }
  ApplyDisplayMode();
}

void MainWindow::CheckAutoCompress() {
  if (settings_.auto_compress() == 0 || compacted_this_run_ ||
      !document_.IsOpen()) {
    return;
  }
  // A dialog that is open (the message view, a property dialog, a
  // question, the password prompt, the file browser) may hold a node that
  // compaction would take away: wait for the next check.
  if (kit::ModalDepth() > 0) return;
  if (clock_().hour != settings_.when_compress()) return;
  CompressCommand();
}

void MainWindow::TogglePreviewMode() {
  settings_.set_display_mode(display_mode() == 2 ? 1 : 2);
  ApplyDisplayMode();
}

void MainWindow::AboutCommand() {
  AboutDialog dialog(this);
  dialog.Run();
}

// ------------------------------------------------------------ Export

namespace {

// One exported message block, as multibyte text.
std::string ExportBlock(store::Document& document, store::Node* node) {
  std::optional<store::NodeRecord> record = document.ReadNodeRecord(node);
  std::u16string date;
  std::u16string sender;
  if (record) {
    date = DateText(record->date());
    sender = record->sender();
    if (size_t nul = sender.find(u'\0'); nul != std::u16string::npos) {
      sender.resize(nul);
    }
  }
  std::u16string body = document.ReadNodeBody(node).value_or(u"");
  return platform::WideToMultiByte(FillFormat(
      kit::StringView(kit::ids::kExportBlock), {date, sender, body}));
}

bool HasPassword(store::Document& document, store::Node* node) {
  std::optional<store::NodeRecord> record = document.ReadNodeRecord(node);
  return record && !record->password().empty();
}

}  // namespace

void MainWindow::ExportCommand() {
  store::Node* node = ChosenNode();
  if (!document_.IsOpen() || node == nullptr) return;
  std::u16string folder = settings_.last_dir();
  std::u16string chosen;
  if (kit::BrowseForFile(this, kit::BrowseMode::kSave,
                         kit::StringView(kit::ids::kTextExtension), &folder,
                         &chosen) != 1) {
    return;
  }
  settings_.set_last_dir(folder);
  text::CutAtLineBreak(chosen);
  if (!node->is_recycle_bin() && !document_.CheckNodePassword(node)) return;
  std::string out;
  if (node->is_message()) {
    out = ExportBlock(document_, node);
  } else if (node->child_count() != 0) {
    for (size_t i = 0; i < node->child_count(); ++i) {
      store::Node* child = node->child(i);
      if (!child->is_message() || HasPassword(document_, child)) continue;
      out += ExportBlock(document_, child);
    }
  } else {
    return;  // an empty folder exports nothing
  }
  std::unique_ptr<platform::files::File> file =
      platform::files::File::Open(chosen, "wb");
  if (file == nullptr) return;
  file->Write(out.data(), out.size());
}

// ------------------------------------------------------------ Nodes

std::vector<store::Node*> MainWindow::CommandNodes() const {
  if (!document_.IsOpen()) return {};
  if (display_mode() == 2) {
    std::vector<store::Node*> marked = list_model_->MarkedNodes();
    if (!marked.empty()) return marked;
  }
  store::Node* chosen = ChosenNode();
  if (chosen == nullptr) return {};
  return {chosen};
}

void MainWindow::DeleteCommand() {
  if (!document_.IsOpen()) return;
  if (display_mode() == 1) {
    store::Node* node = ChosenNode();
    if (node == nullptr) return;
    store::Node* nodes[] = {node};
    document_.DeleteNodes(nodes);
    return;
  }
  std::vector<store::Node*> nodes = list_model_->MarkedNodes();
  const bool marked = !nodes.empty();
  const int row = CurrentListRow();
  if (!marked) {
    if (list_model_->MarkAt(row) == kNotMarkable) return;
    nodes.push_back(list_model_->NodeAt(row));
  }
  const int rows_before = list_model_->rowCount();
  document_.DeleteNodes(nodes);
  if (marked) {
    FocusListRow(0);
  } else if (list_model_->rowCount() < rows_before) {
    FocusListRow(std::max(0, row - 1));
  }
}

void MainWindow::CopyCommand(bool cut) {
  std::vector<store::Node*> nodes = CommandNodes();
  if (cut) {
    document_.Cut(nodes);
  } else {
    document_.Copy(nodes);
  }
  list_view_->viewport()->update();
}

void MainWindow::PasteCommand() {
  if (!document_.IsOpen()) return;
  store::Node* target =
      display_mode() == 2 ? list_model_->folder() : ChosenNode();
  if (display_mode() == 1 && target == nullptr) return;
  document_.Paste(target);
  list_view_->viewport()->update();
}

void MainWindow::NodePropertyCommand() {
  store::Node* node = ChosenNode();
  if (node == nullptr || node->is_recycle_bin()) return;
  if (!document_.CheckNodePassword(node)) return;
  std::optional<store::NodeRecord> record = document_.ReadNodeRecord(node);
  if (!record) return;
  NodePropertyDialog dialog(this, *record);
  if (dialog.Run() != kit::kCommandOk || !dialog.changed()) return;
  LogFailure(document_.RewriteNodeRecord(node, dialog.record()),
             "node property");
}

void MainWindow::NodePasswordCommand() {
  store::Node* node = ChosenNode();
  if (node == nullptr || node->is_recycle_bin()) return;
  document_.ChangeNodePassword(node);
}

void MainWindow::MarkReadCommand(bool read) {
  std::vector<store::Node*> nodes = CommandNodes();
  if (nodes.empty()) return;
  document_.MarkRead(nodes, read);
}

void MainWindow::MarkCommand(size_t index) {
  store::Node* node = ChosenNode();
  if (node == nullptr || node->is_recycle_bin() || index >= marks_.size()) {
    return;
  }
  document_.CopyToMark(node, marks_[index]);
}

void MainWindow::SelectCommand(uint32_t command) {
  if (!document_.IsOpen() || display_mode() != 2) return;
  if (command == cmds::kSelectAll) {
    list_model_->SetAllMarks(kMarked);
  } else if (command == cmds::kUnselectAll) {
    list_model_->SetAllMarks(kNotMarked);
  } else {
    list_model_->ToggleMark(CurrentListRow());
  }
}

void MainWindow::EmptyFolderCommand() {
  store::Node* node = ChosenNode();
  if (node == nullptr || node->is_message()) return;
  document_.EmptyFolder(node);
}

void MainWindow::ImportCommand() {
  store::Node* target = ChosenNode();
  if (!document_.IsOpen() || target == nullptr || target->is_message()) return;
  import::ui::ImportContext context;
  context.document = &document_;
  context.target = target;
  context.settings = &settings_;
  if (import::ui::RunImportDialog(this, context) != import::ui::kImportDone) {
    return;
  }
  if (display_mode() == 2) ShowFolder(list_model_->folder(), target);
  document_.UpdateRecycleBinImage();
}

void MainWindow::ImportXmlCommand() {
  store::Node* target = ChosenNode();
  if (!document_.IsOpen() || target == nullptr || target->is_message() ||
      target->is_recycle_bin()) {
    return;
  }
  std::u16string folder = settings_.last_dir();
  std::u16string chosen;
  if (kit::BrowseForFile(this, kit::BrowseMode::kOpen,
                         kit::StringView(kit::ids::kXmlExtension), &folder,
                         &chosen) != 1) {
    return;
  }
  settings_.set_last_dir(folder);
  text::CutAtLineBreak(chosen);
  if (!document_.CheckNodePassword(target)) return;
  import::xml::ImportResult result =
      import::xml::ImportBackupFile(document_, target, chosen);
  const bool nothing_read =
      result.imported + result.skipped + result.refused == 0;
  QString summary;
  if (!result.status.ok() && nothing_read && result.damage.empty()) {
    summary = FillFormat(kit::Str(kit::ids::kXmlBackupUnreadable),
                         {QString::fromStdString(result.status.ToString())});
  } else {
    summary = FillFormat(
        kit::Str(kit::ids::kXmlImportSummary),
        {QString::number(result.imported), QString::number(result.skipped),
         QString::number(result.refused)});
    if (!result.damage.empty()) {
      summary += QStringLiteral("\r\n") +
                 FillFormat(kit::Str(kit::ids::kXmlBackupDamaged),
                            {QString::fromStdString(result.damage)});
    }
    if (!result.status.ok()) {
      summary += QStringLiteral("\r\n") +
                 QString::fromStdString(result.status.ToString());
    }
  }
  if (display_mode() == 2) ShowFolder(list_model_->folder(), target);
  document_.UpdateRecycleBinImage();
  kit::ShowMessage(this, summary, kit::Str(kit::ids::kCaptionXmlBackup));
}

void MainWindow::ExportXmlCommand() {
  store::Node* node = ChosenNode();
  if (!document_.IsOpen() || node == nullptr) return;
  std::u16string folder = settings_.last_dir();
  std::u16string chosen;
  if (kit::BrowseForFile(this, kit::BrowseMode::kSave,
                         kit::StringView(kit::ids::kXmlExtension), &folder,
                         &chosen) != 1) {
    return;
  }
  settings_.set_last_dir(folder);
  text::CutAtLineBreak(chosen);
  if (!node->is_recycle_bin() && !document_.CheckNodePassword(node)) return;
  import::xml::ExportResult result =
      import::xml::ExportBackup(document_, node, /*subfolders=*/true, chosen);
  if (!result.status.ok()) {
    kit::ShowMessage(
        this,
        FillFormat(kit::Str(kit::ids::kXmlBackupNotWritten),
                   {QString::fromStdString(result.status.ToString())}),
        kit::Str(kit::ids::kCaptionError));
  }
}

}  // namespace app
