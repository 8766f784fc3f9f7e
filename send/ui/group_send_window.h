// GroupSendWindow: the compose window's Send when "Group" is ticked. It
// lists every recipient ("Send To", "Status"), sends the same text to each
// of them one after the other with a send::GroupSender, and shows each
// recipient's result as the sender reports it.
//
// States (send::GroupSender::State): ready - OK starts the sending, Cancel
// (or the title bar's OK button, or Back) ends the window with
// kGroupSendCancelled; sending - OK, Cancel and Back are ignored, so the
// list outlives the sending thread; complete - OK ends the window with
// kGroupSendDone. The window reaches complete also when the radio cannot be
// opened (nothing is sent, and the information text says so), so it can
// always be closed once the sending is over; OK then ends it with
// kGroupSendCancelled, since nothing went out and nothing is to be filed.
//
// The window lives on the UI thread. The sender reports on its own thread;
// each report is handed to the UI thread as a queued call, and the widgets
// are touched only there. The destructor waits for the sending thread.
#ifndef TELVANE_SEND_UI_GROUP_SEND_WINDOW_H_
#define TELVANE_SEND_UI_GROUP_SEND_WINDOW_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kit/device_window.h"
#include "send/group_sender.h"

class QLabel;
class QTreeWidget;

namespace send::ui {

// The dialog's template and its controls' identifiers (object names).
inline constexpr int kGroupSendTemplate = 182;
inline constexpr int kGroupInfoText = 1125;
inline constexpr int kGroupList = 1001;
// The "Status" column's width; "Send To" takes the rest of the list.
inline constexpr int kGroupStatusColumnWidth = 80;

// Results of GroupSendWindow::Run and RunGroupSend.
inline constexpr int kGroupSendDone = 1;
inline constexpr int kGroupSendCancelled = 40016;

class GroupSendWindow : public kit::DeviceDialog, private GroupSendObserver {
  Q_OBJECT

 public:
  // One row per item of GroupItemsFromRecipients(recipients), the first
  // selected. Nothing is sent before OK.
  GroupSendWindow(QWidget* parent, std::u16string_view recipients,
                  std::u16string text, bool flash);
  ~GroupSendWindow() override;

  // As the window shows it: complete only once every report of the
  // sending thread has reached the list.
  GroupSender::State state() const { return state_; }

  QLabel* info() const { return info_; }
  QTreeWidget* list() const { return list_; }

 protected:
  void OnCommand(uint32_t command) override;
  void OnBack() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // GroupSendObserver, on the sending thread.
  void ItemStatusChanged(size_t index, GroupItemStatus status) override;
  void SendingFinished(bool opened) override;

  // On the UI thread.
  void ShowStatus(size_t index, GroupItemStatus status);
  void ShowFinished(bool opened);
  void FitColumns();

  GroupSender::State state_ = GroupSender::State::kReady;
  bool radio_opened_ = false;  // known once complete
  QLabel* info_;
  QTreeWidget* list_;
  // Last member: destroyed first, so the thread has ended before anything
  // it reports to goes.
  std::unique_ptr<GroupSender> sender_;
};

// Runs a GroupSendWindow over the active window (or `parent`):
// kGroupSendDone once the sending is complete and the user closed it with
// OK, kGroupSendCancelled when it was cancelled before the sending began or
// the radio could not be opened.
int RunGroupSend(QWidget* parent, std::u16string_view recipients,
                 std::u16string_view text, bool flash);

}  // namespace send::ui

#endif  // TELVANE_SEND_UI_GROUP_SEND_WINDOW_H_
