// Group sending without its window: the same text to each recipient of a
// list, one after the other on a thread of its own, with one "SmsOpen" for
// the whole list and a status per recipient.
//
// The group sending window makes the items with GroupItemsFromRecipients,
// shows them, and starts a GroupSender on OK. The sender reports through
// GroupSendObserver on its own thread: "Sending" before each item, then
// "Success" or "Fail", and once at the end. Messages go out with class 0
// when "Flash" was ticked (class 1 otherwise) and never ask for a status
// report.
//
// States: ready (0) -> sending (1) on Start -> complete (2) when the thread
// ends, whatever happened: also when "sms.dll" cannot be loaded or
// "SmsOpen" fails (then no item is tried and the end report says so), so
// the window can always be closed once the sending is over.
//
// Thread safety: Start, state() and the destructor belong to the window's
// thread; the observer is called on the sending thread. The destructor
// waits for the thread.
#ifndef TELVANE_SEND_GROUP_SENDER_H_
#define TELVANE_SEND_GROUP_SENDER_H_

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace send {

// Texts the window shows, exactly as written.
inline constexpr std::u16string_view kGroupStatusSending = u"Sending";
inline constexpr std::u16string_view kGroupStatusSuccess = u"Success";
inline constexpr std::u16string_view kGroupStatusFail = u"Fail";
inline constexpr std::u16string_view kGroupInfoReady =
    u"It can't be stopped when sending SMS. Press OK to start.";
inline constexpr std::u16string_view kGroupInfoComplete =
    u"Send complete! Press OK to exit";

// One list item: what the "Send To" column shows and the number it holds.
struct GroupItem {
  std::u16string display_name;  // the quoted name, else the number
  std::u16string number;
};

// The recipients text cut at every ";": each piece taken apart with
// text::SplitRecipient gives an item when its number is not empty.
// Duplicates stay.
std::vector<GroupItem> GroupItemsFromRecipients(std::u16string_view recipients);

enum class GroupItemStatus { kSending, kSuccess, kFail };

std::u16string_view GroupStatusText(GroupItemStatus status);

class GroupSendObserver {
 public:
  virtual ~GroupSendObserver() = default;
  // Item `index` changed its status.
  virtual void ItemStatusChanged(size_t index, GroupItemStatus status) = 0;
  // The sending is over; `opened` is false when the radio could not be
  // opened and nothing was sent.
  virtual void SendingFinished(bool opened) = 0;
};

class GroupSender {
 public:
  enum class State { kReady = 0, kSending = 1, kComplete = 2 };

  // `observer` is not owned and must outlive the sender.
  GroupSender(std::vector<GroupItem> items, std::u16string text, bool flash,
              GroupSendObserver* observer);
  ~GroupSender();
  GroupSender(const GroupSender&) = delete;
  GroupSender& operator=(const GroupSender&) = delete;

  // Ready -> sending: starts the thread. False (and nothing happens) in any
  // other state.
  bool Start();
  State state() const { return state_.load(); }
  // Waits for the thread to end (the state is then complete).
  void Wait();

  const std::vector<GroupItem>& items() const { return items_; }

 private:
  void Run();

  const std::vector<GroupItem> items_;
  const std::u16string text_;
  const bool flash_;
  GroupSendObserver* observer_;
  std::atomic<State> state_{State::kReady};
  std::thread thread_;
};

}  // namespace send

#endif  // TELVANE_SEND_GROUP_SENDER_H_
