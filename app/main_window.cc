#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>

#include "alerts/alert_sounds.h"
#include "alerts/ui/alert_popup_window.h"
#include "app/format.h"
#include "app/list_delegate.h"
#include "app/list_model.h"
#include "app/preview_popup.h"
#include "app/shell_dialogs.h"
#include "app/tree_model.h"
#include "contacts/ui/my_text_dialog.h"
#include "firewall/filter_file.h"
#include "firewall/ui/black_list.h"
#include "firewall/ui/filter_edit.h"
#include "firewall/ui/filter_list.h"
#include "kit/fonts.h"
#include "kit/images.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/screen.h"
#include "kit/string_table.h"
#include "platform/debug.h"
#include "platform/device.h"
#include "platform/unicode.h"
#include "send/filing.h"
#include "send/schedule.h"
#include "send/ui/message_view.h"
#include "settings/ui/alert_option_dialog.h"
#include "settings/ui/font_dialog.h"
#include "settings/ui/preference_dialog.h"
#include "settings/ui/security_dialog.h"
#include "settings/ui/sms_setting_dialog.h"
#include "text/text.h"

namespace app {

namespace cmds = kit::cmds;

// The title strip (control 1024): bitmap 130 with the strip's text drawn
// transparently on top.
class TitleStrip : public QWidget {
 public:
  explicit TitleStrip(QWidget* parent) : QWidget(parent) {
    kit::SetControlId(this, kTitleStripControl);
    background_ = kit::Bitmap(kit::kBitmapTitleStrip);
    setFixedHeight(background_.isNull() ? 18 : background_.height());
    // Dark text on a light strip, light text on a dark one.
    if (!background_.isNull()) {
      QImage image = background_.toImage();
      QColor middle = image.pixelColor(image.width() / 2, image.height() / 2);
      if (middle.lightness() > 128) text_color_ = QColor(0x10, 0x20, 0x40);
    }
  }
  void SetText(const QString& text) {
    text_ = kit::Q(text::CopySummary(kit::U(text), kStripChars));
    update();
  }
  const QString& text() const { return text_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (!background_.isNull()) painter.drawPixmap(rect(), background_);
    painter.setPen(text_color_);
    painter.drawText(rect().adjusted(4, 0, -4, 0),
                     Qt::AlignVCenter | Qt::AlignLeft, text_);
  }

 private:
  QPixmap background_;
  QColor text_color_ = Qt::white;
  QString text_;
};

namespace {

QMenu* MarkPopup(QMenu* menu) {
  if (menu == nullptr) return nullptr;
  return menu->findChild<QMenu*>(QStringLiteral("menu.") +
                                 QString::number(kit::ids::kMarkMenu));
}

}  // namespace

void LogFailure(const platform::Status& status, const char* what) {
  if (!status.ok()) platform::DebugPrintf("pelicorde: %s failed\r\n", what);
}

MainWindow::MainWindow() : MainWindow(Options{}) {}

MainWindow::MainWindow(Options options)
    : DeviceDialog(nullptr, kMainWindowTemplate),
      options_(options),
      ui_(this),
      document_(store::DocumentOptions{}, &ui_),
      firewall_(&filters_, this, &settings_),
      reminder_(this, &settings_),
      ui_call_(this),
      send_service_(this),
      clock_([] { return platform::CurrentLocalTime(); }) {
  setWindowTitle(kit::Str(kit::ids::kProductName));
  title_bar()->SetCaption(kit::Str(kit::ids::kProductName));
  // Not modal; the window is the program's main window.
  setModal(false);
  // The event the intake signals the rule client through: auto-reset, not
  // signalled.
  bool existed = false;
  delete_event_ = platform::NamedEvent::CreateOrOpen(
      kDeleteEventName, /*manual_reset=*/false, /*initially_set=*/false,
      &existed);
  document_.tree().AddObserver(this);
}

MainWindow::~MainWindow() {
  // No thread may wait for this window any more (TearDown normally did it).
  ui_call_.Abandon();
  StopPhone();
  popup_ = nullptr;
  popup_window_.reset();
  document_.tree().RemoveObserver(this);
  // Views go before the document they mirror.
  if (list_view_ != nullptr) list_view_->setModel(nullptr);
  if (tree_view_ != nullptr) tree_view_->setModel(nullptr);
  delete list_model_;
  list_model_ = nullptr;
  if (tree_model_ != nullptr) tree_model_->SetTree(nullptr);
  delete tree_model_;
  tree_model_ = nullptr;
  delete preview_;
}

bool MainWindow::Initialize() {
  if (initialized_) return true;
  // 1. "ZUD_SmsCount": without it the window stops here.
  if (!document_.OpenUnreadCounter().ok()) return false;
  // 2. Menus, toolbar, settings, preview popup, tray icon.
  BuildControls();
  BuildMenus();
  settings_.Load();  // applies the saved fonts too
  ApplySettings();
  // 3. The views and timer 1 (ApplySettings starts it).
  ApplyFonts();
  // The filters and the stock sentences with the user's marks.
  filters_.file_path = firewall::DefaultFilterFilePath();
  platform::Status read_status;
  if (firewall::LoadFilterFile(&filters_, nullptr, &read_status) ==
      firewall::LoadOutcome::kUnreadable) {
    TellUnreadable(filters_.file_path, read_status);
  }
  sentences_ = contacts::SentenceStore(
      contacts::SentenceFilePath(settings::AppFolder()));
  // A missing file gives the defaults (and is written); one that cannot be
  // read gives them too, and is left alone.
  read_status = sentences_.Load();
  if (sentences_.file_unreadable()) {
    TellUnreadable(contacts::SentenceFilePath(settings::AppFolder()),
                   read_status);
  }
  SetMarks(sentences_.marks());
  // The send groups, and the phone's contacts read in the background,
  // started once the window has had its first turn of the event loop (so
  // the load never competes with the window coming up): a picker opened
  // before the load ends shows what it has reached.
  std::u16string groups_file = contacts::GroupFilePath(settings::AppFolder());
  read_status = contacts_.groups().Load(groups_file);
  if (contacts_.groups().file_unreadable()) {
    TellUnreadable(groups_file, read_status);
  }
  QTimer::singleShot(0, this, [this] {
    if (!shut_down_) contacts_.StartLoad();
  });
  // The alert popup: hidden until a filter or a send result shows it; a tap
  // on it counts as the user's attention (1127).
  popup_window_ =
      std::make_unique<alerts::ui::AlertPopupWindow>(&settings_, this);
  popup_ = popup_window_.get();
  firewall_.set_document(&document_);
  firewall_.set_popup(popup_);
  connect(popup_window_.get(), &alerts::ui::AlertPopupWindow::Dismissed, this,
          [this] { OnWindowMessage(kMessageUserActivity, 0, 0); });
  screenshots_ = qEnvironmentVariable("TELVANE_SCREENSHOTS");
  initialized_ = true;
  // 4. The last file, its password deferred when the window starts hidden.
  if (settings_.open_last_file() != 0 && !settings_.last_open_file().empty()) {
    deferred_password_ = settings_.auto_hide() != 0;
    std::u16string last = settings_.last_open_file();
    OpenDocument(last);
  }
  ApplyDisplayMode();
  // 5. Timers 2 and 4.
  send_timer_->start(kSendWakeMs);
  compress_timer_->start(kAutoCompressCheckMs);
  // The phone: intercepted messages come in, queued ones go out.
  if (options_.start_phone) StartPhone();
  if (options_.publish_endpoint) {
    endpoint_ = platform::WindowEndpoint::Publish(
        kWindowClass, kit::StringView(kit::ids::kProductName));
    if (endpoint_ != nullptr) {
      endpoint_notifier_ =
          new QSocketNotifier(endpoint_->fd(), QSocketNotifier::Read, this);
      connect(endpoint_notifier_, &QSocketNotifier::activated, this,
              [this] { ReadEndpoint(); });
    }
  }
  return true;
}

void MainWindow::ShowAtStart() {
  if (settings_.auto_hide() != 0) {
    HideWindow();
  } else {
    show();
    raise();
    activateWindow();
  }
}

void MainWindow::BuildControls() {
  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  strip_ = new TitleStrip(content());
  layout->addWidget(strip_);

  tree_model_ = new TreeModel();
  tree_model_->SetTree(&document_.tree());
  tree_view_ = new QTreeView(content());
  kit::SetControlId(tree_view_, kTreeControl);
  tree_view_->setModel(tree_model_);
  tree_view_->setHeaderHidden(true);
  tree_view_->setUniformRowHeights(true);
  tree_view_->setIconSize(QSize(16, 16));
  tree_view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_view_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_view_->setContextMenuPolicy(Qt::CustomContextMenu);
  layout->addWidget(tree_view_, 1);
  connect(tree_view_->selectionModel(), &QItemSelectionModel::currentChanged,
          this, [this] { OnTreeSelectionChanged(); });
  connect(tree_view_, &QTreeView::expanded, this,
          [this](const QModelIndex& index) { OnTreeExpanded(index); });
  connect(tree_view_, &QTreeView::activated, this,
          [this](const QModelIndex& index) { OnTreeActivated(index); });
  connect(tree_view_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& point) { OnTreeContextMenu(point); });

  list_model_ = new ListModel(&document_);
  list_view_ = new QListView(content());
  kit::SetControlId(list_view_, kListControl);
  list_view_->setModel(list_model_);
  list_view_->setItemDelegate(new ListDelegate(list_view_));
  list_view_->setUniformItemSizes(true);
  list_view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_view_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_view_->installEventFilter(this);
  layout->addWidget(list_view_, 1);
  connect(list_view_->selectionModel(), &QItemSelectionModel::currentChanged,
          this, [this] { OnListCurrentChanged(); });
  // The strip follows the listed folder, also when the list falls back to
  // a parent because the folder left the tree.
  connect(list_model_, &QAbstractItemModel::modelReset, this,
          [this] { RefreshStrip(); });
  connect(list_view_, &QListView::activated, this,
          [this](const QModelIndex& index) { ActivateListRow(index.row()); });

  toolbar_ = new QToolBar(content());
  kit::SetControlId(toolbar_, kToolbarControl);
  toolbar_->setIconSize(QSize(16, 16));
  std::vector<QPixmap> images = kit::ImageStrip(kit::kBitmapToolbar);
  for (const kit::ToolbarButton& button : kit::MainToolbar()) {
    if (button.command == 0) {
      toolbar_->addSeparator();
      continue;
    }
    QAction* action = toolbar_->addAction(kit::Str(button.text_id));
    if (button.image >= 0 &&
        static_cast<size_t>(button.image) < images.size()) {
      action->setIcon(QIcon(images[static_cast<size_t>(button.image)]));
    }
    action->setToolTip(kit::Str(button.text_id));
    action->setObjectName(QString::number(button.command));
    action->setData(static_cast<uint>(button.command));
    uint32_t command = button.command;
    connect(action, &QAction::triggered, this,
            [this, command] { OnCommand(command); });
  }
  layout->addWidget(toolbar_);

  auto make_timer = [this](int id, bool single) {
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("timer.") + QString::number(id));
    timer->setSingleShot(single);
    connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    return timer;
  };
  save_timer_ = make_timer(kTimerAutoSave, false);
  send_timer_ = make_timer(kTimerSendWake, false);
  reminder_timer_ = make_timer(kTimerUnreadReminder, false);
  compress_timer_ = make_timer(kTimerAutoCompress, false);
  preview_timer_ = make_timer(kTimerPreview, true);
  scheduled_timer_ = new QTimer(this);
  scheduled_timer_->setSingleShot(true);
  connect(scheduled_timer_, &QTimer::timeout, this,
          [this] { CheckScheduled(); });

  tree_view_->hide();
  list_view_->hide();
}

void MainWindow::BuildMenus() {
  soft_keys()->SetMenuBar(kit::MainMenuBar());
  const kit::MenuEntry& context = kit::ContextMenus();
  if (!context.children.empty()) {
    context_menu_ = kit::BuildMenu(context.children[0], this);
    connect(context_menu_, &QMenu::triggered, this, [this](QAction* action) {
      if (uint32_t command = kit::CommandOf(action)) OnCommand(command);
    });
  }
  SetMarks(marks_);
  SetUpHotkeys();
}

QMenu* MainWindow::system_menu() const { return soft_keys()->left_menu(); }
QMenu* MainWindow::node_menu() const { return soft_keys()->menu(); }

QTimer* MainWindow::timer(int timer_id) const {
  switch (timer_id) {
    case kTimerAutoSave:
      return save_timer_;
    case kTimerSendWake:
      return send_timer_;
    case kTimerUnreadReminder:
      return reminder_timer_;
    case kTimerAutoCompress:
      return compress_timer_;
    case kTimerPreview:
      return preview_timer_;
    default:
      return nullptr;
  }
}

void MainWindow::SetMarks(std::vector<std::u16string> marks) {
  marks_ = std::move(marks);
  for (QAction* action : mark_actions_) delete action;
  mark_actions_.clear();
  for (QMenu* menu : {node_menu(), context_menu_}) {
    QMenu* popup = MarkPopup(menu);
    if (popup == nullptr || marks_.empty()) continue;
    QList<QAction*> actions = popup->actions();
    QAction* before =
        static_cast<qsizetype>(kit::kMarkInsertIndex) < actions.size()
            ? actions[static_cast<qsizetype>(kit::kMarkInsertIndex)]
            : nullptr;
    for (size_t i = 0; i < marks_.size(); ++i) {
      auto* action = new QAction(kit::Q(marks_[i]), popup);
      uint32_t command = cmds::kMarkBase + static_cast<uint32_t>(i);
      action->setData(static_cast<uint>(command));
      action->setObjectName(QString::number(command));
      popup->insertAction(before, action);
      mark_actions_.push_back(action);
    }
    QAction* separator = new QAction(popup);
    separator->setSeparator(true);
    popup->insertAction(before, separator);
    mark_actions_.push_back(separator);
  }
}

void MainWindow::ApplySettings() {
  store::DocumentOptions options;
  options.receive_title = settings_.receive_title();
  options.send_title = settings_.send_title();
  options.import_title = settings_.import_title();
  options.save_when_arrive = settings_.save_when_arrive() != 0;
  options.delete_alert = settings_.delete_alert() != 0;
  options.empty_receive_bin_alert = settings_.empty_receive_bin_alert() != 0;
  options.protect_level = settings_.protect_level();
  document_.set_options(options);
  // Timer 1.
  if (settings_.auto_save() != 0 && settings_.save_duration() > 0) {
    // Minutes as typed (no upper bound): the longest interval a timer takes.
    int64_t ms = int64_t{settings_.save_duration()} * 60 * 1000;
    save_timer_->start(static_cast<int>(std::min<int64_t>(ms, INT32_MAX)));
  } else {
    save_timer_->stop();
  }
  // The preview popup and the tray icon as the options say.
  if (settings_.show_popup() != 0) {
    if (preview_ == nullptr) preview_ = new PreviewPopup();
  } else {
    delete preview_;
    preview_ = nullptr;
  }
  if (settings_.show_tray_icon() != 0) {
    AddTrayIcon();
  } else {
    RemoveTrayIcon();
  }
}

void MainWindow::ApplyFonts() {
  const auto& fonts = settings_.applied_fonts();
  if (!fonts || settings_.font_generation() == font_generation_) return;
  font_generation_ = settings_.font_generation();
  tree_view_->setFont(kit::FontFromDescription(fonts->tree_view));
  list_view_->setFont(kit::FontFromDescription(fonts->list_view));
  // The rows are measured again with the new font.
  list_view_->reset();
}

// ------------------------------------------------------------ Display

int MainWindow::display_mode() const {
  return settings_.display_mode() == 2 ? 2 : 1;
}

void MainWindow::ApplyDisplayMode() {
  if (!initialized_) return;
  if (!document_.IsOpen()) {
    list_model_->Clear();
    tree_view_->hide();
    list_view_->hide();
    RefreshStrip();
    return;
  }
  if (display_mode() == 2) {
    QModelIndex current = tree_view_->currentIndex();
    store::Node* selected =
        current.isValid() ? tree_model_->NodeOf(current) : nullptr;
    store::Node* folder = selected != nullptr ? selected->parent() : nullptr;
    tree_view_->hide();
    list_view_->show();
    ShowFolder(folder, selected);
    list_view_->setFocus();
  } else {
    list_view_->hide();
    list_model_->Clear();
    tree_view_->show();
    tree_view_->setFocus();
  }
  RefreshStrip();
}

bool MainWindow::ShowFolder(store::Node* folder, const store::Node* focus) {
  if (folder == document_.tree().root()) folder = nullptr;
  if (folder != nullptr && !folder->is_recycle_bin() &&
      !document_.CheckNodePassword(folder)) {
    return false;
  }
  list_model_->Fill(folder);
  int row = list_model_->RowOf(focus);
  if (row < 0) row = 0;
  FocusListRow(row);
  RefreshStrip();
  return true;
}

void MainWindow::FocusListRow(int row) {
  int count = list_model_->rowCount();
  if (count == 0) return;
  row = std::clamp(row, 0, count - 1);
  QModelIndex index = list_model_->index(row);
  list_view_->setCurrentIndex(index);
  list_view_->scrollTo(index);
}

int MainWindow::CurrentListRow() const {
  QModelIndex current = list_view_->currentIndex();
  return current.isValid() ? current.row() : -1;
}

QString MainWindow::strip_text() const {
  return strip_ != nullptr ? strip_->text() : QString();
}

void MainWindow::ShowStripText(const QString& text) {
  if (strip_ == nullptr) return;
  strip_->SetText(text);
  strip_->repaint();
}

void MainWindow::RefreshStrip() {
  if (strip_ == nullptr) return;
  if (!document_.IsOpen()) {
    strip_->SetText(QString());
    return;
  }
  store::Node* folder = list_model_->folder();
  if (display_mode() == 1 || folder == nullptr) {
    strip_->SetText(
        FillFormat(kit::Str(kit::ids::kStripFile), {kit::Q(document_.path())}));
  } else if (folder->parent() == document_.tree().root()) {
    strip_->SetText(FillFormat(kit::Str(kit::ids::kStripRootFolder),
                               {kit::Q(folder->title())}));
  } else {
    strip_->SetText(FillFormat(kit::Str(kit::ids::kStripDeepFolder),
                               {kit::Q(folder->title())}));
  }
}

store::Node* MainWindow::ChosenNode() const {
  if (!initialized_ || !document_.IsOpen()) return nullptr;
  if (display_mode() == 2) return list_model_->NodeAt(CurrentListRow());
  QModelIndex current = tree_view_->currentIndex();
  return current.isValid() ? tree_model_->NodeOf(current) : nullptr;
}

void MainWindow::ChooseNode(store::Node* node) {
  if (!initialized_) return;
  if (display_mode() == 2) {
    int row = list_model_->RowOf(node);
    if (row >= 0) FocusListRow(row);
    return;
  }
  QModelIndex index = tree_model_->IndexOf(node);
  tree_view_->setCurrentIndex(index);
  tree_view_->scrollTo(index);
}

void MainWindow::ActivateListRow(int row) {
  if (row < 0 || row >= list_model_->rowCount()) return;
  if (list_model_->IsUpEntry(row)) {
    store::Node* left = list_model_->folder();
    if (left == nullptr) return;
    ShowFolder(left->parent(), left);
    return;
  }
  store::Node* node = list_model_->NodeAt(row);
  if (node == nullptr) return;
  if (node->is_message()) {
    tree_view_->setCurrentIndex(tree_model_->IndexOf(node));
    OpenInMessageView(node);
    return;
  }
  ShowFolder(node, nullptr);
}

send::ui::MessageViewContext MainWindow::ViewContext() {
  send::ui::MessageViewContext context;
  context.document = &document_;
  context.settings = &settings_;
  context.filters = &filters_;
  context.select = [this](store::Node* node) { ChooseNode(node); };
  context.edit_property = [this](store::NodeRecord* record) {
    NodePropertyDialog dialog(this, *record);
    if (dialog.Run() != kit::kCommandOk || !dialog.changed()) return false;
    *record = dialog.record();
    return true;
  };
  context.activity = [this] { ClearUnreadNotification(); };
  context.compose = [this](std::u16string text, std::u16string recipients,
                           int mode) {
    send::ui::ComposeWithTexts(this, ComposeContext(), text, recipients,
                               static_cast<send::ui::ComposeMode>(mode));
  };
  return context;
}

void MainWindow::OpenInMessageView(store::Node* node) {
  if (node == nullptr || node->is_recycle_bin() || !document_.IsOpen()) return;
  send::ui::OpenMessageView(this, ViewContext(), node);
  list_view_->viewport()->update();
}

firewall::ui::FilterEditEnvironment MainWindow::FilterEditEnvironment() {
  firewall::ui::FilterEditEnvironment environment;
  environment.settings = &settings_;
  environment.sentences = &sentences_;
  environment.picker = ComposeContext().picker;
  environment.app_folder = settings::AppFolder();
  return environment;
}

void MainWindow::FirewallCommand(uint32_t command) {
  namespace fui = firewall::ui;
  bool save = false;
  switch (command) {
    case cmds::kFilterList:
      // The rule password first, when one is set; a wrong or cancelled
      // entry opens nothing.
      if (!filters_.password.empty()) {
        std::u16string password = filters_.password;
        if (kit::PasswordPrompt(this, kit::PasswordMode::kCheck, &password) !=
            1) {
          return;
        }
      }
      save = fui::RunFilterList(this, &filters_, FilterEditEnvironment()) == 1;
      break;
    case cmds::kBlackList:
      fui::RunBlackList(this, &filters_, ComposeContext().picker);
      save = true;  // whatever way the dialog ended
      break;
    case cmds::kContactDefault:
      save = fui::RunFilterEdit(this, &filters_.contact_default,
                                fui::FilterEditMode::kContactDefault,
                                FilterEditEnvironment()) == fui::kFilterEditOk;
      break;
    case cmds::kStrangerDefault:
      save = fui::RunFilterEdit(this, &filters_.stranger_default,
                                fui::FilterEditMode::kStrangerDefault,
                                FilterEditEnvironment()) == fui::kFilterEditOk;
      break;
    default:
      return;
  }
  if (!save) return;
  SaveFilters().IgnoreError();  // told already
}

platform::Status MainWindow::SaveFilters() {
  platform::Status status;
  if (firewall::SaveFilterFile(filters_, &status) !=
      firewall::SaveOutcome::kSaved) {
    if (status.ok()) {
      status = platform::Status(platform::ErrorCode::kIoError, "not written");
    }
    ReportSave(status, filters_.file_path);
  }
  return status;
}

send::ui::ComposeContext MainWindow::ComposeContext() {
  send::ui::ComposeContext context;
  context.host = this;
  context.settings = &settings_;
  context.sentences = &sentences_;
  context.picker = contacts::ui::PickerEnvironment{
      &contacts_, &settings_,
      platform::GetDeviceSettingInt("touch_screen", 0) != 0};
  context.document = &document_;
  context.select = [this](store::Node* node) { ChooseNode(node); };
  context.clock = clock_;
  return context;
}

void MainWindow::NewSmsCommand() {
  send::ui::ComposeWithTexts(this, ComposeContext(), std::nullopt, std::nullopt,
                             send::ui::ComposeMode::kForward);
}

void MainWindow::ComposeCommand(send::ui::ComposeMode mode) {
  store::Node* node = ChosenNode();
  if (node == nullptr || node->is_recycle_bin() || !document_.IsOpen()) return;
  if (!document_.CheckNodePassword(node)) return;
  send::ui::ComposeWithNode(this, ComposeContext(), node, mode);
}

void MainWindow::HandOver(send::SendRequest& request,
                          send::SendResultKind kind) {
  OnSendResult(request, kind);
}

bool MainWindow::Queue(const send::SendRequest& request, int count) {
  return QueueMessage(request, count);
}

void MainWindow::UserActivity() { OnUserActivity(); }

void MainWindow::NewNodeCommand(uint32_t command) {
  if (!document_.IsOpen()) return;
  store::Node* target = nullptr;  // the root
  if (command != cmds::kNewRootFolder) {
    target = display_mode() == 2 ? list_model_->folder() : ChosenNode();
    if (display_mode() == 1 && target == nullptr) return;
  }
  send::ui::NewNote note;
  note.target = target;
  note.image = command == cmds::kNewDraft ? store::kImageMessageRead
                                          : store::kImageFolder;
  if (send::ui::OpenMessageView(this, ViewContext(), nullptr, &note) != 1 ||
      !note.pending) {
    return;
  }
  document_.InsertPending(*note.pending);
  if (display_mode() == 2 && list_model_->folder() == target) {
    ShowFolder(target, nullptr);
  }
  document_.UpdateRecycleBinImage();
}

void MainWindow::PreferenceCommand() {
  if (settings::ui::RunPreferenceDialog(this, &settings_,
                                        settings::AppFolder()) != 1) {
    return;
  }
  // Saved at once; then the save timer, the tray icon and the preview
  // popup follow the new choices.
  ReportSave(settings_.Save(), kSettingsName);
  ApplySettings();
}

void MainWindow::SecurityCommand() {
  settings::ui::SecurityEnvironment environment;
  environment.document = document_.IsOpen() ? &document_ : nullptr;
  environment.filters = &filters_;
  environment.save_filters = [this] { return SaveFilters(); };
  const bool done =
      settings::ui::RunSecurityDialog(this, &settings_, environment) == 1;
  // Saved whatever way the dialog ended.
  ReportSave(settings_.Save(), kSettingsName);
  if (!done) return;
  store::DocumentOptions options = document_.options();
  options.protect_level = settings_.protect_level();
  document_.set_options(options);
}

void MainWindow::FontSettingCommand() {
  // The dialog applied the fonts; the views take them now. The settings
  // reach the registry with the next save.
  if (settings::ui::RunFontSettingDialog(this, &settings_) != 1) return;
  ApplyFonts();
}

void MainWindow::SmsSettingCommand() {
  settings::ui::RunSmsSettingDialog(this, &settings_);
  // Saved at once, whichever way the dialog closed.
  ReportSave(settings_.Save(), kSettingsName);
}

void MainWindow::AlertOptionCommand() {
  // Kept in memory; the next save writes it.
  settings::ui::RunAlertOptionDialog(this, &settings_, settings::AppFolder());
}

void MainWindow::ManageMarkCommand() {
  bool changed = false;
  contacts::ui::ManageMarks(this, &sentences_, &changed);
  if (changed) SetMarks(sentences_.marks());
  // The dialog saves a change as it closes; one that did not reach the file
  // is said once.
  if (sentences_.changed()) {
    ReportSave(sentences_.SaveIfChanged(),
               contacts::SentenceFilePath(settings::AppFolder()));
  }
}

void MainWindow::TellUnreadable(std::u16string_view file,
                                const platform::Status& status) {
  platform::DebugPrintf("pelicorde: %s cannot be read (%s); left as it is\r\n",
                        platform::ToUtf8(file).c_str(),
                        status.ToString().c_str());
  kit::ShowMessage(
      this, FillFormat(kit::Str(kit::ids::kFileUnreadable), {kit::Q(file)}),
      kit::Str(kit::ids::kCaptionWarning));
}

void MainWindow::PageList(bool down) {
  int count = list_model_->rowCount();
  if (count == 0) return;
  int row_height = list_view_->sizeHintForRow(0);
  int page = row_height > 0
                 ? std::max(1, list_view_->viewport()->height() / row_height)
                 : 1;
  int current = std::max(0, CurrentListRow());
  if (down) {
    FocusListRow(std::min(count - 1, current + page));
    return;
  }
  QModelIndex top_index = list_view_->indexAt(QPoint(1, 1));
  int top = top_index.isValid() ? top_index.row() : 0;
  FocusListRow(current == top ? std::max(0, top - page) : top);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_view_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right) {
      PageList(key->key() == Qt::Key_Right);
      return true;
    }
  }
  return DeviceDialog::eventFilter(watched, event);
}

void MainWindow::OnTreeSelectionChanged() {
  if (display_mode() == 1) StartPreviewTimer();
}

void MainWindow::OnListCurrentChanged() {
  store::Node* node = list_model_->NodeAt(CurrentListRow());
  if (node != nullptr) {
    // Choosing in the list selects in the tree too.
    tree_view_->setCurrentIndex(tree_model_->IndexOf(node));
  }
  if (display_mode() == 2) StartPreviewTimer();
}

void MainWindow::OnTreeExpanded(const QModelIndex& index) {
  store::Node* node = tree_model_->NodeOf(index);
  if (node == nullptr || node->is_recycle_bin()) return;
  if (!document_.CheckNodePassword(node)) tree_view_->collapse(index);
}

void MainWindow::OnTreeActivated(const QModelIndex& index) {
  store::Node* node = tree_model_->NodeOf(index);
  if (node == nullptr || node->is_recycle_bin() || node->child_count() != 0) {
    return;
  }
  OpenInMessageView(node);
}

void MainWindow::OnTreeContextMenu(const QPoint& point) {
  QModelIndex index = tree_view_->indexAt(point);
  if (!index.isValid() || context_menu_ == nullptr) return;
  tree_view_->setCurrentIndex(index);
  UpdateMenu(context_menu_);
  context_menu_->popup(tree_view_->viewport()->mapToGlobal(point));
}

void MainWindow::CollapseUnlocked() {
  std::vector<QModelIndex> pending = {QModelIndex()};
  while (!pending.empty()) {
    QModelIndex parent = pending.back();
    pending.pop_back();
    int rows = tree_model_->rowCount(parent);
    for (int row = 0; row < rows; ++row) {
      QModelIndex index = tree_model_->index(row, 0, parent);
      if (!tree_view_->isExpanded(index)) continue;
      store::Node* node = tree_model_->NodeOf(index);
      if (node->tag().unlock_stamp != 0) {
        tree_view_->collapse(index);
      } else {
        pending.push_back(index);
      }
    }
  }
}

// ------------------------------------------------------------ Preview

void MainWindow::StartPreviewTimer() {
  if (preview_ == nullptr || settings_.show_popup() == 0) return;
  if (!isVisible() || !isActiveWindow()) return;
  preview_timer_->start(kPreviewDelayMs);
}

void MainWindow::ShowPreview() {
  if (preview_ == nullptr) return;
  store::Node* node = ChosenNode();
  if (node == nullptr || node == last_previewed_ || !node->is_message()) {
    return;
  }
  std::optional<store::NodeRecord> record = document_.ReadNodeRecord(node);
  if (!record || !record->password().empty()) return;
  last_previewed_ = node;
  std::u16string sender = record->sender();
  if (size_t nul = sender.find(u'\0'); nul != std::u16string::npos) {
    sender.resize(nul);
  }
  std::u16string date = DateText(record->date());
  QString header = sender.empty() ? kit::Q(date)
                                  : kit::Q(text::SplitRecipient(sender).name) +
                                        QStringLiteral("\r\n") + kit::Q(date);
  std::u16string body = document_.ReadNodeBody(node).value_or(u"");
  if (body.size() > 260) body.resize(260);
  // Above when the item lies in the lower half of the screen, else below.
  QRect item =
      display_mode() == 2
          ? list_view_->visualRect(list_model_->index(list_model_->RowOf(node)))
          : tree_view_->visualRect(tree_model_->IndexOf(node));
  QWidget* view = display_mode() == 2 ? static_cast<QWidget*>(list_view_)
                                      : static_cast<QWidget*>(tree_view_);
  int item_y = mapFromGlobal(view->mapToGlobal(item.center())).y();
  int screen_height = kit::DeviceScreenSize().height();
  int y =
      item_y > screen_height / 2 ? 30 : screen_height - 30 - preview_->height();
  preview_->ShowPreview(header, kit::Q(body), y);
}

// ------------------------------------------------------------ Timers

void MainWindow::OnTimer(int timer_id) {
  switch (timer_id) {
    case kTimerAutoSave:
      SaveDocument();
      break;
    case kTimerSendWake:
      CheckScheduled();
      if (send_service_.queued() > 0) send_service_.Wake();
      break;
    case kTimerUnreadReminder:
      reminder_.Tick(player_);
      break;
    case kTimerAutoCompress:
      CheckAutoCompress();
      break;
    case kTimerPreview:
      ShowPreview();
      break;
    default:
      break;
  }
}

// ------------------------------------------------------------ Messages

void MainWindow::ReadEndpoint() {
  if (endpoint_ == nullptr) return;
  while (std::optional<platform::PostedMessage> message =
             endpoint_->Receive()) {
    OnWindowMessage(message->message, message->first, message->second);
  }
}

void MainWindow::OnWindowMessage(uint32_t message, uint64_t first,
                                 int64_t second) {
  switch (message) {
    case kMessageCommand:
      // Not while a modal window is up: its own loop would run the command
      // under it, as the menus never can.
      if (kit::ModalDepth() == 0) {
        Dispatch(static_cast<uint32_t>(first & 0xFFFF));
      }
      break;
    case kMessageTimer:
      if (first >= kTimerAutoSave && first <= kTimerPreview) {
        OnTimer(static_cast<int>(first));
      }
      break;
    case kMessageTrayNotify:
      if (second == kTrayDoubleClick || second == kTrayTap) ShowWindow();
      break;
    case kMessageUserActivity:
      OnUserActivity();
      break;
    default:
      break;
  }
}

void MainWindow::OnUserActivity() { ClearUnreadNotification(); }

// ------------------------------------------------------------ The phone

void MainWindow::StartPhone() {
  // Incoming: every queued message is handed to the firewall on this thread
  // while the intake thread waits (the rule-client library waits 1500 ms
  // for the verdict). An abandoned call consumes nothing: the message stays
  // in the phone's Inbox.
  bool intake = intake_.StartIntake(
      [this](const intercept::IncomingSms& sms) -> uint32_t {
        uint32_t verdict = 0;
        firewall::IncomingMessage message{sms.body, sms.sender,
                                          sms.delivery_time, sms.taken_tick};
        ui_call_.Run([&] { verdict = OnIncomingSms(message); });
        return verdict;
      });
  if (!intake) {
    platform::DebugOutput(std::string_view(
        "pelicorde: no interception (the shared objects are not available)"));
  }
  // Outgoing: a service that cannot start (no sms.dll) leaves auto replies
  // unsent, as the firewall checks.
  if (!send_service_.Start()) {
    platform::DebugOutput(
        std::string_view("pelicorde: the send service did not start"));
  }
}

void MainWindow::StopPhone() {
  intake_.StopIntake();
  intake_.WaitStopped(platform::kInfinite);
  send_service_.Stop();
}

uint32_t MainWindow::OnIncomingSms(const firewall::IncomingMessage& message) {
  if (shut_down_) return 0;
  uint32_t verdict = firewall_.HandleIncomingSms(message);
  RefreshStrip();
  WriteScreenshots("received");
  return verdict;
}

void MainWindow::OnSendResult(send::SendRequest& request,
                              send::SendResultKind kind) {
  if (shut_down_) return;
  const bool scheduled =
      request.draft && scheduled_in_flight_.erase(request.draft->node) > 0;
  send::HandleSendResult(&document_, settings_, popup_, request,
                         static_cast<uint32_t>(kind));
  // The node left "\Scheduled" with the filing; saved at once, so it never
  // comes back (and goes out again) after a crash.
  if (scheduled) SaveDocument();
  platform::DebugPrintf("pelicorde: send result %u handled\r\n",
                        static_cast<unsigned>(kind));
  WriteScreenshots("sent");
}

void MainWindow::WriteScreenshots(const char* what) {
  if (screenshots_.isEmpty()) return;
  ++screenshot_count_;
  const QString prefix = QStringLiteral("%1/%2-%3")
                             .arg(screenshots_)
                             .arg(screenshot_count_, 2, 10, QLatin1Char('0'))
                             .arg(QLatin1String(what));
  if (popup_window_ != nullptr && popup_window_->showing()) {
    popup_window_->grab().save(prefix + QStringLiteral("-popup.png"));
  }
  grab().save(prefix + QStringLiteral("-window.png"));
}

void MainWindow::ReportSendResult(send::SendRequest& request,
                                  send::SendResultKind kind) {
  ui_call_.Run([&] { OnSendResult(request, kind); });
}

void MainWindow::AbandonReports() { ui_call_.Abandon(); }

void MainWindow::SetDeleteEvent() {
  if (delete_event_) LogFailure(delete_event_->Set(), "the delete event");
}

bool MainWindow::SendServiceRunning() { return send_service_.running(); }

void MainWindow::Enqueue(std::u16string_view recipients,
                         std::u16string_view text) {
  send_service_.Enqueue(recipients, text, 0, std::nullopt, std::nullopt);
}

bool MainWindow::QueueMessage(const send::SendRequest& request, int count) {
  if (!send_service_.running()) return false;
  if (request.timed()) {
    platform::Status kept =
        send::ScheduleMessage(document_, settings_, request);
    if (kept.ok()) {
      CheckScheduled();
      return true;
    }
    platform::DebugPrintf(
        "pelicorde: a timed message waits in the queue: %s\r\n",
        kept.ToString().c_str());
    kit::ShowMessage(this,
                     FillFormat(kit::Str(kit::ids::kScheduleNotKept),
                                {QString::fromStdString(kept.message())}),
                     kit::Str(kit::ids::kCaptionWarning));
    send_service_.Enqueue(request.recipients, request.text,
                          request.flags & ~send::kSendFlagTimed,
                          request.due_time, request.draft);
    return true;
  }
  for (int i = 0; i < count; ++i) {
    send_service_.Enqueue(request.recipients, request.text, request.flags,
                          std::nullopt, request.draft);
  }
  return true;
}

void MainWindow::CheckScheduled() {
  if (shut_down_ || !initialized_) return;
  std::optional<platform::SystemTime> next;
  std::vector<send::ScheduledMessage> due =
      send::DueMessages(document_, clock_(), &next);
  bool queued = false;
  for (send::ScheduledMessage& message : due) {
    const store::Node* node = message.request.draft->node;
    if (!scheduled_in_flight_.insert(node).second) continue;
    uint32_t flags = message.request.flags;
    if (settings_.status_report() != 0) flags |= send::kSendFlagStatusReport;
    send_service_.Enqueue(message.request.recipients, message.request.text,
                          flags, std::nullopt, message.request.draft);
    queued = true;
  }
  if (queued) send_service_.Wake();
  scheduled_timer_->stop();
  if (next) {
    std::optional<platform::FileTime> at =
        platform::SystemTimeToFileTime(*next);
    std::optional<platform::FileTime> now =
        platform::SystemTimeToFileTime(clock_());
    if (at && now) {
      // 100-nanosecond units; a day at most, the send timer's tick checks
      // again anyway.
      int64_t ms = (static_cast<int64_t>(at->value()) -
                    static_cast<int64_t>(now->value())) /
                       10000 +
                   1;
      scheduled_timer_->start(static_cast<int>(
          std::clamp<int64_t>(ms, 0, int64_t{24} * 3600 * 1000)));
    }
  }
}

void MainWindow::PlayAlertSound(std::u16string_view value) {
  alerts::PlayAlertSound(value, settings_, player_);
}

void MainWindow::Vibrate(uint32_t milliseconds) {
  alerts::Vibrate(milliseconds);
}

void MainWindow::StopReminder() { reminder_.Stop(); }

void MainWindow::StartReminder(uint32_t period_ms) {
  reminder_.Start(period_ms);
}

void MainWindow::StartTimer(uint32_t period_ms) {
  if (reminder_timer_ != nullptr) reminder_timer_->start(period_ms);
}

void MainWindow::StopTimer() {
  if (reminder_timer_ != nullptr) reminder_timer_->stop();
}

// ------------------------------------------------------------ Icons

void MainWindow::AddTrayIcon() {
  if (tray_shown_) return;
  tray_shown_ = true;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  if (tray_ == nullptr) {
    tray_ = new QSystemTrayIcon(kit::Icon(kit::kIconTray), this);
    tray_->setToolTip(kit::Str(kit::ids::kProductName));
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
              if (reason == QSystemTrayIcon::DoubleClick) {
                OnWindowMessage(kMessageTrayNotify, 0, kTrayDoubleClick);
              } else if (reason == QSystemTrayIcon::Trigger) {
                OnWindowMessage(kMessageTrayNotify, 0, kTrayTap);
              }
            });
  }
  tray_->show();
}

void MainWindow::RemoveTrayIcon() {
  if (!tray_shown_) return;
  tray_shown_ = false;
  if (tray_ != nullptr) tray_->hide();
}

void MainWindow::RaiseUnreadNotification() {
  if (settings_.unread_icon() == 0 || notify_shown_) return;
  notify_shown_ = true;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  if (notify_ == nullptr) {
    notify_ = new QSystemTrayIcon(kit::Icon(kit::kIconNotify), this);
  }
  notify_->show();
}

void MainWindow::ClearUnreadNotification() {
  // A reminder may run without the icon ("UnReadIcon" off, or a message
  // that was not filed): clearing ends it all the same.
  if (!notify_shown_ && !reminder_.running()) return;
  reminder_.Clear(&player_);
  if (!notify_shown_) return;
  notify_shown_ = false;
  if (notify_ != nullptr) notify_->hide();
}

// ------------------------------------------------------------ Hide and show

void MainWindow::HideWindow() {
  // Withdrawn, not iconified first: a window manager that handles the
  // iconify request after the window went would map it iconified again on
  // the next show, and a second start could not bring it back.
  hide();
  if (preview_ != nullptr) preview_->hide();
  if (initialized_ && settings_.protect_level() > 0) CollapseUnlocked();
  document_.RaiseMinimizeCount();
  platform::DebugOutput(std::string_view("pelicorde: window hidden"));
}

void MainWindow::ShowWindow() {
  showNormal();
  raise();
  activateWindow();
  platform::DebugOutput(std::string_view("pelicorde: window shown"));
  if (document_.IsOpen() && !document_.file().header().password().empty() &&
      !kit::PasswordPromptUp() &&
      (deferred_password_ || settings_.start_screen_save_min() != 0)) {
    std::u16string password = document_.file().header().password();
    if (kit::PasswordPrompt(this, kit::PasswordMode::kCheck, &password) != 1) {
      hide();
      document_.RaiseMinimizeCount();
      return;  // the deferred flag stays set
    }
  } else if (kit::PasswordPromptUp()) {
    return;  // the prompt that is up decides
  }
  deferred_password_ = false;
}

void MainWindow::OnBack() { HideWindow(); }

// ------------------------------------------------------------ Shutdown

void MainWindow::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  // What already reached this window's queue (a message, a send result) is
  // handled while the document is open; then the threads stop waiting for
  // the window: a message not yet handed over stays in the phone's Inbox,
  // and the intake lets go of the buffer.
  ui_call_.Finish();
  intake_.StopIntake();
  if (initialized_) {
    CloseDocument(/*forget_last_file=*/false);
    ClearUnreadNotification();
    RemoveTrayIcon();
    for (QTimer* t : {save_timer_, send_timer_, reminder_timer_,
                      compress_timer_, preview_timer_}) {
      t->stop();
    }
    if (preview_ != nullptr) preview_->hide();
  }
  delete endpoint_notifier_;
  endpoint_notifier_ = nullptr;
  endpoint_.reset();
  hide();
  emit Exited();
}

void MainWindow::TearDown() {
  Shutdown();
  // The companions in their order: the settings (saved first), the intake,
  // the send thread, the contacts' load, the alert popup, the unread
  // counter's view and handle; the audio player goes with the window.
  if (initialized_) LogFailure(settings_.Save(), "settings");
  intake_.WaitStopped(platform::kInfinite);
  send_service_.Stop();
  contacts_.Stop();
  if (popup_ != nullptr) popup_->Close();
  document_.SetUnreadCounter(platform::SharedMemory());
  delete_event_.reset();
}

// ------------------------------------------------------------ Tree events

void MainWindow::NodeAboutToBeRemoved(store::Node*, size_t, store::Node* node) {
  if (last_previewed_ != nullptr && last_previewed_->IsWithin(node)) {
    last_previewed_ = nullptr;
  }
}

void MainWindow::TreeAboutToBeReset() { last_previewed_ = nullptr; }

}  // namespace app
