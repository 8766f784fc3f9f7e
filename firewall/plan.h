// What the firewall does with one message, decided before anything is done.
//
// Decide is pure: from the filter set, the message and the circumstances
// (the options that matter and the state of the program) it returns a Plan:
// why (the Black List entry, the status-report option or the governing
// filter and its verdict) and the ordered steps with their arguments.
// Firewall::Execute carries a plan out; HandleIncomingSms is the two
// together, and `telvane filters explain` prints the plan of a message
// without running it.
//
// Two steps depend on what happens while the plan runs, and say so: a
// message leaves the phone's Inbox after it was filed only when the filing
// succeeded (and the rule client still waits for the answer), and it shows
// in the tree only when it was filed.
#ifndef TELVANE_FIREWALL_PLAN_H_
#define TELVANE_FIREWALL_PLAN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firewall/filter_set.h"

namespace settings {
class SettingsStore;
}

namespace firewall {

// "ReceiptToRecycleBin" values.
inline constexpr int32_t kReceiptNone = 0;
inline constexpr int32_t kReceiptKeepInInbox = 1;      // "Here:Delete "
inline constexpr int32_t kReceiptDeleteFromInbox = 2;  // "Inbox: Delete"
inline constexpr int32_t kReceiptDeleteBoth = 3;       // "Both: Delete"
inline constexpr int32_t kReceiptToRecycleBin = 4;     // "Inbox:Delete
                                                       //  Here:Recycle Bin"

// The period of the vibration the "Vibrate" action asks for.
inline constexpr uint32_t kActionVibrationMs = 500;

// The popup's second text and named-sender flag for a sender: the name
// output of text::SplitRecipient and whether a double quote was met.
// "\"Ann\"<+86 138>" gives ("Ann", true); "138-0013 8000" gives
// ("13800138000", false).
struct SenderDisplay {
  std::u16string text;
  bool named = false;
};
SenderDisplay ParseSenderDisplay(std::u16string_view sender);

// True when the sender reads as a status report: its first code unit (NUL
// for an empty sender) is neither "0".."9" nor "+", and it holds no "<".
// ("ReceiptToRecycleBin" decides whether that matters.)
bool LooksLikeStatusReport(std::u16string_view sender);

// Everything besides the message and the filters that the decision
// depends on. FromSettings fills the options; the program fills the rest
// from its state when the message arrives.
struct Circumstances {
  int32_t black_delete_to_recycle_bin = 0;  // "BlackDeleteToRecycleBin"
  int32_t receipt_to_recycle_bin = kReceiptNone;
  int32_t unread_alert = 0;              // "UnReadAlert"
  uint32_t alert_second = 30000;         // the reminder period, ms
  uint32_t disappear_time_recv = 15000;  // the popup's lifetime, ms
  bool document_open = true;
  bool has_recycle_bin = true;  // the open document has a Recycle Bin
  bool send_service_running = true;
  bool popup_available = true;  // the program has a popup window

  static Circumstances FromSettings(const settings::SettingsStore& settings);
};

// One thing the program does, with its arguments.
struct Step {
  enum class Kind {
    kFile,           // write the message into `folder`, committed
    kLeaveInbox,     // the delete event: the message leaves the Inbox
    kShowPopup,      // the popup: skin, main text, second text, ...
    kPlaySound,      // `text`: a sound file or kRandomRingMarker
    kVibrate,        // `milliseconds`
    kEnqueue,        // send `text` to `recipients`
    kStopReminder,   // the unread reminder stops
    kStartReminder,  // and starts again, every `milliseconds`
    kShowInTree,     // the filed message enters the tree
  };
  Kind kind;
  // The filter action the step comes from, when it comes from one
  // (kAutoReply or kAutoForward for kEnqueue, kDontShowInInbox, ...).
  std::optional<ActionSlot> action;

  // kFile, kShowInTree: the folder path ("\Work\Boss"), or the Recycle
  // Bin.
  std::u16string folder;
  bool into_recycle_bin = false;
  // kFile: a kLeaveInbox step follows (the filing notes the phone's copy
  // as released, so that recovery does not keep it twice).
  bool released = false;
  // kLeaveInbox: only once the kFile step before it succeeded.
  bool after_filing = false;
  // kShowInTree: the unread notification follows.
  bool notify = false;

  // kShowPopup: the skin file (empty: the default skin), the texts, the
  // picture (empty: none) and whether the second text is a name.
  std::u16string skin;
  std::u16string text;  // also kPlaySound's value and kEnqueue's text
  std::u16string second_text;
  std::u16string picture;
  bool named = false;
  uint32_t milliseconds = 0;  // popup lifetime, vibration, reminder period

  // kEnqueue: ";"-separated recipients.
  std::u16string recipients;
};

// Why the plan is what it is.
enum class DecidedBy {
  kBlackList,     // `black_list_index`
  kStatusReport,  // `receipt` settled it before the filters
  kFilter,        // `governing`, with `verdict` (`status_report_deleted`:
                  // "Inbox: Delete" took it out of the Inbox as well)
};

struct Plan {
  DecidedBy decided_by = DecidedBy::kFilter;
  int black_list_index = -1;
  int32_t receipt = kReceiptNone;  // the option, when the sender is a report
  bool status_report_deleted = false;
  GoverningFilter governing;
  FilterVerdict verdict;  // of the governing filter (not of a default)

  // The message is to be kept (filed or in the Recycle Bin), but there is
  // no document to keep it in: it stays in the phone's Inbox.
  bool kept_in_inbox_without_document = false;
  // Recycle Bin wanted, the document has none: the message is kept nowhere.
  bool kept_nowhere = false;

  std::vector<Step> steps;  // in the order they run
};

// The plan for one message. `set` must outlive the plan (it points into
// it).
Plan Decide(const FilterSet& set, std::u16string_view sender,
            std::u16string_view body, const Circumstances& circumstances);

// The step kinds in order, as short names ("file", "leave-inbox", "popup",
// "sound", "vibrate", "enqueue", "stop-reminder", "start-reminder",
// "show-in-tree"): for logs and tests.
std::string_view StepName(Step::Kind kind);

}  // namespace firewall

#endif  // TELVANE_FIREWALL_PLAN_H_
