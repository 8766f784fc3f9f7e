// Timed messages that outlive the program.
//
// A message sent with the timer set does not wait in the send queue (which
// lives only as long as the program): it waits as a node of the folder
// "\Scheduled" of the open document, like a draft. The node's record holds
// the due time as its date and the recipients as its party; its content is
// that of any outgoing message ("Send To:" recipients, a rule, the text),
// and its title is the usual message title, preceded by "(Flash) " for a
// flash message. The node is written with a committed note, so it survives
// a crash or a kill from the moment ScheduleMessage returns.
//
// The main window looks for due nodes when a document opens, on the send
// timer's tick and at the earliest due time, and queues each one once
// without a due time and with the node as its draft reference; when the
// send thread reports it, the message is filed in "\Sent Box" (or
// "\Outbox" when it failed) and the node leaves the tree, as a sent draft
// does, and the document is saved at once so the node does not come back.
// Deleting the node before it is due cancels the message; editing its text
// changes what goes out.
//
// Everything here runs on the thread that owns the document.
#ifndef TELVANE_SEND_SCHEDULE_H_
#define TELVANE_SEND_SCHEDULE_H_

#include <optional>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/time.h"
#include "send/send_service.h"
#include "settings/settings_store.h"
#include "store/document.h"

namespace send {

inline constexpr std::u16string_view kScheduledFolderPath = u"\\Scheduled";
inline constexpr std::u16string_view kFlashTitleMark = u"(Flash) ";

// Keeps `request` (its recipients, text, flash flag and due time, a local
// time) as a node of "\Scheduled", made when missing. Fails, writing
// nothing, with no document open, when the stored content would not hold
// the whole message (kInvalidArgument), or when the file refuses the write.
platform::Status ScheduleMessage(store::Document& document,
                                 const settings::SettingsStore& settings,
                                 const SendRequest& request);

// A message waiting in "\Scheduled": the request to queue (no due time,
// the flash flag from the title, the node as its draft reference) and its
// due time.
struct ScheduledMessage {
  SendRequest request;
  platform::SystemTime due;  // local time
};

// The messages of "\Scheduled" that are due at `local_now`; `next_due`
// (optional) receives the earliest due time of those that are not.
// Nodes whose content is not that of an outgoing message are passed over.
std::vector<ScheduledMessage> DueMessages(
    store::Document& document, const platform::SystemTime& local_now,
    std::optional<platform::SystemTime>* next_due = nullptr);

// Reads recipients and text back from an outgoing message's content
// ("Send To:" recipients, CR LF, the rule, CR LF, the text); nullopt when the
// content has another shape.
std::optional<std::pair<std::u16string, std::u16string>> SplitSentContent(
    std::u16string_view content);

}  // namespace send

#endif  // TELVANE_SEND_SCHEDULE_H_
