// The main window (template 105, class "Dialog", titled "Telvane"): the open
// document shown as a folder tree (display mode 1) or as a two-line list of
// one folder (display mode 2, "Preview Mode"), with the title strip, the
// soft keys of menu 101, the toolbar, the tray and unread notification
// icons, the preview popup and the timers. Every menu entry, toolbar button
// and posted message ends here as a command identifier (OnCommand).
//
// The window owns the document, the settings and the named objects of the
// program's run ("ZUD_SmsCount", "ZUD_SMSDeleteEvent", its window endpoint).
// Initialize() must succeed before anything else is used; it fails only
// when "ZUD_SmsCount" cannot be created or mapped, and then the window has
// no menus, controls, document or timers.
//
// The window brings the phone to life: Initialize() starts the intake of
// intercepted messages, each handed to the firewall on this thread while
// the intake thread waits for the verdict (1124), and the send service,
// whose results are filed and announced on this thread while the send
// thread waits (1126). Both waits end at once when the window shuts down.
//
// UI thread only. Other threads reach the window through posted messages
// and the blocking calls of UiCall.
#ifndef TELVANE_APP_MAIN_WINDOW_H_
#define TELVANE_APP_MAIN_WINDOW_H_

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "alerts/alert_popup.h"
#include "alerts/unread_reminder.h"
#include "app/document_ui.h"
#include "app/ui_call.h"
#include "audio/audio_player.h"
#include "contacts/contact_store.h"
#include "contacts/sentence_store.h"
#include "firewall/filter_set.h"
#include "firewall/incoming_sms.h"
#include "firewall/ui/filter_edit.h"
#include "intercept/intake.h"
#include "kit/device_window.h"
#include "platform/kernel_objects.h"
#include "platform/time.h"
#include "platform/window_endpoints.h"
#include "send/send_service.h"
#include "send/ui/compose_window.h"
#include "send/ui/message_view.h"
#include "settings/settings_store.h"
#include "store/document.h"

class QListView;
class QMenu;
class QSocketNotifier;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class QTreeView;

namespace alerts::ui {
class AlertPopupWindow;
}

namespace app {

class ListModel;
class PreviewPopup;
class TitleStrip;
class TreeModel;

// The window and its controls.
inline constexpr int kMainWindowTemplate = 105;
inline constexpr int kTitleStripControl = 1024;
inline constexpr int kTreeControl = 1000;
inline constexpr int kListControl = 1114;
inline constexpr int kToolbarControl = 131;
// The strip shows this many characters of its text.
inline constexpr size_t kStripChars = 30;

// The window's class, as a second start looks for it.
inline constexpr std::u16string_view kWindowClass = u"Dialog";

// Messages the window handles.
inline constexpr uint32_t kMessageIncomingSms = 1124;
inline constexpr uint32_t kMessageSendResult = 1126;
inline constexpr uint32_t kMessageUserActivity = 1127;
inline constexpr uint32_t kMessageTrayNotify = 1274;
// WM_COMMAND posted by another program: the low 16 bits of the first
// parameter are a command identifier, run as if chosen from the menu.
inline constexpr uint32_t kMessageCommand = 273;
// WM_TIMER posted by another program: the first parameter names the timer,
// whose action runs as if it had ticked.
inline constexpr uint32_t kMessageTimer = 275;
// Second parameters of kMessageTrayNotify that show the window.
inline constexpr int64_t kTrayTap = 513;
inline constexpr int64_t kTrayDoubleClick = 515;

// Timers.
inline constexpr int kTimerAutoSave = 1;
inline constexpr int kTimerSendWake = 2;
inline constexpr int kTimerUnreadReminder = 3;
inline constexpr int kTimerAutoCompress = 4;
inline constexpr int kTimerPreview = 5;
inline constexpr int kSendWakeMs = 10000;
inline constexpr int kAutoCompressCheckMs = 120000;
inline constexpr int kPreviewDelayMs = 1500;

// The event the intake signals the rule client through.
inline constexpr std::string_view kDeleteEventName = "ZUD_SMSDeleteEvent";

// Failures the user cannot act on stay silent; they go to the debug log.
void LogFailure(const platform::Status& status, const char* what);

// How a failed save of the settings names them.
inline constexpr std::u16string_view kSettingsName =
    u"HKEY_CURRENT_USER\\Software\\Pelicorde";

class MainWindow : public kit::DeviceDialog,
                   private store::TreeObserver,
                   private firewall::FirewallHost,
                   private send::SendReporter,
                   private send::ui::ComposeHost,
                   private alerts::ReminderTimer {
  Q_OBJECT

 public:
  struct Options {
    // Publish the window for a second start to find (class "Dialog",
    // the product name as title).
    bool publish_endpoint = true;
    // Start the intake of intercepted messages and the send service.
    bool start_phone = true;
  };

  MainWindow();
  explicit MainWindow(Options options);
  ~MainWindow() override;

  // The window's initialisation: "ZUD_SmsCount", menus, toolbar, settings,
  // tray icon, preview popup, controls, timer 1, the send groups and the
  // contacts' load on a thread of its own (never waited for), the last file
  // (with the file password deferred under "AutoHide"), timers 2 and 4, the
  // endpoint.
  // False when "ZUD_SmsCount" cannot be created or mapped.
  bool Initialize();
  bool initialized() const { return initialized_; }

  // Start-up's last step: hidden under "AutoHide", else shown.
  void ShowAtStart();

  // Closing the window ("Exit"): the document is closed (saved when
  // modified, "LastOpenFile" kept), the icons removed, the timers stopped,
  // the window hidden; then Exited() is emitted. Runs once.
  void Shutdown();
  // After the message loop: the companions go in their fixed order (the
  // settings are saved first); then the unread counter is closed.
  void TearDown();

  // Hiding ("Minimize", OK, Back) and showing (tray icon, second start).
  void HideWindow();
  void ShowWindow();

  // A timer's action, as its tick runs it.
  void OnTimer(int timer_id);
  // A message posted to the window (by a second start, the tray icon).
  void OnWindowMessage(uint32_t message, uint64_t first, int64_t second);

  // 1124: an intercepted SMS handed over by the intake thread runs the
  // firewall's procedure here; its verdict goes back as the result.
  uint32_t OnIncomingSms(const firewall::IncomingMessage& message);
  // 1126: a send result from the send thread is filed and announced.
  void OnSendResult(send::SendRequest& request, send::SendResultKind kind);
  // 1127: the user is busy in a compose, view or popup window.
  void OnUserActivity();

  // The compose window's Send: the request goes out `count` times, or,
  // timed, waits in "\Scheduled" of the open document until it is due
  // (send/schedule.h), and only in the queue when it cannot be kept there
  // (the user is told). False when the send service is not running.
  bool QueueMessage(const send::SendRequest& request, int count);
  // Queues the messages of "\Scheduled" that are due (each once) and sets
  // the timer for the next one. Runs when a document opens, on the send
  // timer's tick and at the earliest due time.
  void CheckScheduled();
  // What the compose window is given: this window as its host, the
  // settings, sentences, contacts and document.
  send::ui::ComposeContext ComposeContext();

  // The nodes of "\Scheduled" queued and not reported yet.
  size_t scheduled_in_flight() const { return scheduled_in_flight_.size(); }

  // The unread notification (icon 158), raised after an incoming message
  // was filed; cleared after every command, on 1127 and when a menu opens,
  // which also ends the unread reminder and a playing alert sound.
  void RaiseUnreadNotification() override;
  void ClearUnreadNotification();
  bool unread_notification_shown() const { return notify_shown_; }
  bool tray_icon_shown() const { return tray_shown_; }

  // The user's marks, in order (mark i is command 30000 + i); rebuilds the
  // mark entries of the menus.
  void SetMarks(std::vector<std::u16string> marks);
  const std::vector<std::u16string>& marks() const { return marks_; }

  // The local clock the auto-compress check reads (a test seam).
  void set_clock(std::function<platform::SystemTime()> clock) {
    clock_ = std::move(clock);
  }

  // Enables, checks and names the entries of `menu` for the current state,
  // as each popup does when it opens.
  void UpdateMenu(QMenu* menu);

  // Hotkeys (main_window_hotkeys.cc). While the window is active and no
  // menu is open, every binding of the settings is a hotkey of the window
  // (a key another window holds is left out); each flag-guarded, so calling
  // twice does nothing more.
  void RegisterHotkeys();
  void UnregisterHotkeys();
  bool hotkeys_registered() const { return hotkeys_registered_; }
  // A hotkey notification: the Back key's release hides the window; any
  // other press, while this window is in front, runs the command of the
  // first binding with that key code as if chosen from the menu (queued).
  // Notifications already queued behind it (key repeats) are dropped.
  void DispatchHotkey(uint32_t modifiers, uint16_t key_code);

  // --- State, for the screenshot tour and tests ---------------------------
  store::Document& document() { return document_; }
  firewall::FilterSet& filters() { return filters_; }
  send::SendService& send_service() { return send_service_; }
  intercept::Intake& intake() { return intake_; }
  audio::AudioPlayer& player() { return player_; }
  alerts::ui::AlertPopupWindow* alert_popup() const {
    return popup_window_.get();
  }
  bool reminder_running() const { return reminder_.running(); }
  settings::SettingsStore& settings() { return settings_; }
  // The phone's contacts (loading in the background from Initialize on)
  // and the send groups ("smsgroup.ini"), for the contact picker.
  contacts::ContactStore& contacts() { return contacts_; }
  int display_mode() const;
  // The node the commands act on: the selected tree item (mode 1) or the
  // focused list entry's node (mode 2; none for the up entry).
  store::Node* ChosenNode() const;
  // Chooses `node` as a tap would (tree selection in mode 1, list focus in
  // mode 2 when the list shows it).
  void ChooseNode(store::Node* node);
  // Opens the list on a folder (nullptr: the root), checking its password.
  bool ShowFolder(store::Node* folder, const store::Node* focus = nullptr);
  // Activates a list row as a double tap does.
  void ActivateListRow(int row);
  QString strip_text() const;
  QTreeView* tree_view() const { return tree_view_; }
  QListView* list_view() const { return list_view_; }
  ListModel* list_model() const { return list_model_; }
  TreeModel* tree_model() const { return tree_model_; }
  QToolBar* toolbar() const { return toolbar_; }
  QMenu* system_menu() const;
  QMenu* node_menu() const;
  QMenu* tree_context_menu() const { return context_menu_; }
  PreviewPopup* preview_popup() const { return preview_; }
  bool deferred_password() const { return deferred_password_; }
  bool compacted_this_run() const { return compacted_this_run_; }
  QTimer* timer(int timer_id) const;

 signals:
  // Shutdown has run; the program's loop may end.
  void Exited();

 protected:
  void OnCommand(uint32_t command) override;
  void OnBack() override;
  void OnMenuPopup(QMenu* menu) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Layout and views.
  void BuildControls();
  void BuildMenus();
  void ApplySettings();
  void ApplyFonts();
  void ApplyDisplayMode();
  void RefreshStrip();
  void ShowStripText(const QString& text);
  void OnTreeSelectionChanged();
  void OnListCurrentChanged();
  void OnTreeExpanded(const QModelIndex& index);
  void OnTreeActivated(const QModelIndex& index);
  void OnTreeContextMenu(const QPoint& point);
  void PageList(bool down);
  void StartPreviewTimer();
  void ShowPreview();
  void OpenInMessageView(store::Node* node);
  // "Folder...", "Draft...", "Root Folder...": the message view as the
  // new-note editor, then the node added under its target.
  void NewNodeCommand(uint32_t command);
  send::ui::MessageViewContext ViewContext();
  // The "Firewall" menu: the Filter List (after the rule password), the
  // Black List, the two defaults; the filter file saved as each requires.
  void FirewallCommand(uint32_t command);
  firewall::ui::FilterEditEnvironment FilterEditEnvironment();
  // "SMS..." (New SMS) and Reply, Forward, Resend, Quote on the chosen node.
  void NewSmsCommand();
  void ComposeCommand(send::ui::ComposeMode mode);
  // send::ui::ComposeHost
  void HandOver(send::SendRequest& request, send::SendResultKind kind) override;
  bool Queue(const send::SendRequest& request, int count) override;
  void UserActivity() override;
  void ManageMarkCommand();
  void CollapseUnlocked();
  void AddTrayIcon();
  void RemoveTrayIcon();
  void ReadEndpoint();
  void StartPhone();
  void WriteScreenshots(const char* what);
  void StopPhone();
  // "Preference...": the dialog, then the settings saved and applied
  // (timer 1, the tray icon, the preview popup).
  void PreferenceCommand();
  // "SMS...": the dialog, then the settings saved (whichever way it closed).
  void SmsSettingCommand();
  // "Alert...": the dialog; its changes are saved with the next save.
  void AlertOptionCommand();
  // "Security...": the Security dialog; the settings are saved whatever way
  // it ends, the filter file as soon as the rule password changed.
  void SecurityCommand();
  // "Font...": the font dialogs; after a change the views take the new
  // fonts and are laid out again.
  void FontSettingCommand();
  // Saves the filter file; a failure is told (ReportSave). Its status.
  platform::Status SaveFilters();
  // "Hotkey...": the dialog, then the settings saved and the hotkeys
  // registered anew.
  void HotkeyCommand();
  // The Back key reaches the window as a hotkey; the menus give up the
  // hotkeys while they are open.
  void SetUpHotkeys();
  // Whether this window is the program's window in front: no dialog, box
  // or menu is open over it.
  bool InFront() const;

  // firewall::FirewallHost
  void SetDeleteEvent() override;
  bool SendServiceRunning() override;
  void Enqueue(std::u16string_view recipients,
               std::u16string_view text) override;
  void PlayAlertSound(std::u16string_view value) override;
  void Vibrate(uint32_t milliseconds) override;
  void StopReminder() override;
  void StartReminder(uint32_t period_ms) override;
  // send::SendReporter (on the send thread)
  void ReportSendResult(send::SendRequest& request,
                        send::SendResultKind kind) override;
  void AbandonReports() override;
  // alerts::ReminderTimer
  void StartTimer(uint32_t period_ms) override;
  void StopTimer() override;

  // Document commands (main_window_commands.cc).
  void SaveDocument();
  void CloseDocument(bool forget_last_file);
  bool OpenDocument(std::u16string_view path);
  // What opening found, told to the user: another writer has the document,
  // or it is damaged (what was found, the index used, the messages it
  // cannot reach, the copy kept). Recovery after a crash goes to the log.
  void TellAboutOpen(std::u16string_view path, const platform::Status& status,
                     const store::LoadReport& report);
  // The phone's copies of messages put back by the opening (see
  // intercept/phone_inbox.h) leave the phone's Inbox.
  void ReleasePhoneCopies(const store::LoadReport& report);
  // A failed save of `file` is told once (until a save of it works again);
  // every failure goes to the log.
  void ReportSave(const platform::Status& status, std::u16string_view file);
  // A file of the program's that exists but cannot be read: it is left as
  // it is and the defaults are used; the user is told.
  void TellUnreadable(std::u16string_view file, const platform::Status& status);
  void RememberLastFile();
  void OpenCommand();
  void NewFileCommand();
  void FilePropertyCommand();
  void FilePasswordCommand();
  void CompressCommand();
  void CheckAutoCompress();
  void ExportCommand();
  void DeleteCommand();
  void CopyCommand(bool cut);
  void PasteCommand();
  void NodePropertyCommand();
  void NodePasswordCommand();
  void MarkReadCommand(bool read);
  void MarkCommand(size_t index);
  void SelectCommand(uint32_t command);
  void EmptyFolderCommand();
  // "Import SMS...": the Import dialog into the chosen folder; the list
  // shows what came in.
  void ImportCommand();
  // "Import XML backup...": a backup file into the chosen folder, then a
  // summary of what was imported, skipped and refused.
  void ImportXmlCommand();
  // "Export XML backup...": the chosen message, or the chosen folder with
  // its subfolders, as a backup file.
  void ExportXmlCommand();
  void TogglePreviewMode();
  void AboutCommand();
  // The nodes a list command works on: the marked entries, else the
  // focused one (mode 2); the chosen node (mode 1).
  std::vector<store::Node*> CommandNodes() const;
  int CurrentListRow() const;
  void FocusListRow(int row);

  // store::TreeObserver
  void NodeAboutToBeRemoved(store::Node* parent, size_t index,
                            store::Node* node) override;
  void TreeAboutToBeReset() override;

  Options options_;
  bool initialized_ = false;
  bool shut_down_ = false;

  // The application player: filters' sounds. Declared first, so it goes
  // last.
  audio::AudioPlayer player_;
  settings::SettingsStore settings_;
  ShellDocumentUi ui_;
  store::Document document_;
  std::optional<platform::NamedEvent> delete_event_;
  std::unique_ptr<platform::WindowEndpoint> endpoint_;
  QSocketNotifier* endpoint_notifier_ = nullptr;

  TitleStrip* strip_ = nullptr;
  QTreeView* tree_view_ = nullptr;
  QListView* list_view_ = nullptr;
  TreeModel* tree_model_ = nullptr;
  ListModel* list_model_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QMenu* context_menu_ = nullptr;
  std::vector<QAction*> mark_actions_;
  std::vector<std::u16string> marks_;
  // The stock sentences and marks ("pelicorde.sen") and the filter set
  // ("pelicorde.ini"), loaded at initialisation.
  contacts::SentenceStore sentences_;
  contacts::ContactStore contacts_;
  firewall::FilterSet filters_;
  firewall::Firewall firewall_;
  alerts::UnreadReminder reminder_;
  // The alert popup (made at Initialize; popup_ is the same object as the
  // cores see it).
  std::unique_ptr<alerts::ui::AlertPopupWindow> popup_window_;
  alerts::AlertPopup* popup_ = nullptr;
  // TELVANE_SCREENSHOTS: a folder that receives a picture of the popup and
  // of the window after each incoming message and send result (the
  // offscreen demo shows what happened this way).
  QString screenshots_;
  int screenshot_count_ = 0;
  // The intake and send threads wait in these calls; the window abandons
  // them when it shuts down. Declared before the threads, so it outlives
  // them.
  UiCall ui_call_;
  intercept::Intake intake_;
  send::SendService send_service_;
  PreviewPopup* preview_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QSystemTrayIcon* notify_ = nullptr;
  bool tray_shown_ = false;
  bool notify_shown_ = false;

  QTimer* save_timer_ = nullptr;
  QTimer* send_timer_ = nullptr;
  QTimer* reminder_timer_ = nullptr;
  QTimer* compress_timer_ = nullptr;
  QTimer* preview_timer_ = nullptr;
  // Fires at the earliest due time of "\Scheduled".
  QTimer* scheduled_timer_ = nullptr;
  std::set<const store::Node*> scheduled_in_flight_;

  const store::Node* last_previewed_ = nullptr;
  bool deferred_password_ = false;
  bool compacted_this_run_ = false;
  // Files whose failed save the user has been told about.
  std::set<std::u16string> save_failures_told_;
  uint64_t font_generation_ = 0;
  bool hotkeys_registered_ = false;
  // The Back key was pressed while this window was in front; its release
  // hides the window.
  bool back_pressed_ = false;
  // The identifiers registered by RegisterHotkeys.
  std::vector<int> registered_hotkeys_;
  std::function<platform::SystemTime()> clock_;
};

}  // namespace app

#endif  // TELVANE_APP_MAIN_WINDOW_H_
