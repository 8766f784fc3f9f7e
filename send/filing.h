// Filing of outgoing messages: what the main window does with a send result
// (a report of the send thread, a draft saved by the compose window, a
// finished group sending), and the sent popup.
//
// Folders: a failed message goes to "\Outbox", a sent one and a finished
// group sending to "\Sent Box", a draft to "\Drafts" (each created when
// missing). A new node is a read message whose content is
//   "Send To:" recipients "\r\n" twenty "-" "\r\n" text
// in the device's code page (at most kMaxContentBytes bytes before its
// terminator; longer content is cut at a character boundary), dated now,
// titled by text::MessageTitle from the text and the recipients under the
// setting "SendTitle"; its record's sender field holds the recipients.
//
// Drafts: a save replaces the content and title of the request's draft in
// place when that node still exists in the tree, else makes a new draft;
// either way the draft reference is written back into the request. A sent
// or failed request that came from a draft is filed and the draft node is
// deleted from the tree (not moved to the Recycle Bin), whatever
// "SaveToSentBox" says; when the draft is gone nothing is filed, and when
// the new node cannot be written the draft stays. Without a draft, a result
// is filed only under "SaveToSentBox".
//
// Threads: everything here runs on the thread that owns the document (the
// main window's); filing holds the document lock while it changes the tree
// and the file. It never waits for the send thread.
#ifndef TELVANE_SEND_FILING_H_
#define TELVANE_SEND_FILING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "alerts/alert_popup.h"
#include "platform/time.h"
#include "send/send_service.h"
#include "settings/settings_store.h"
#include "store/document.h"

namespace send {

// Texts, exactly as the user sees them ("%s" is filled in).
inline constexpr std::u16string_view kSentContentFormat =
    u"Send To:%s\r\n--------------------\r\n%s";
inline constexpr std::u16string_view kSendFailFormat = u"Send to %s Fail!";
inline constexpr std::u16string_view kSendSuccessFormat =
    u"Send to %s Successfully!";

inline constexpr size_t kMaxContentBytes = 4999;

// The stored content of an outgoing message, wide.
std::u16string SentContent(std::u16string_view recipients,
                           std::u16string_view text);
// The content in the code page with its terminator, cut as described above.
std::string SentContentBytes(std::u16string_view recipients,
                             std::u16string_view text, uint32_t code_page);

// True when `node` is a node of `tree` (searched by address; the pointer is
// never followed), so a stale reference is recognised safely.
bool TreeHoldsNode(const store::MessageTree& tree, const store::Node* node);

// Files a result of kind 0, 1, 2 or 4 in the open document at `local_now`
// as described above; anything else (3, above 4) and a closed document do
// nothing. Returns the node filed (new, or the draft replaced), or null.
store::Node* FileSendResult(store::Document& document,
                            const settings::SettingsStore& settings,
                            SendRequest& request, uint32_t kind,
                            const platform::SystemTime& local_now);

// The sent popup for kinds 0 and 1 under "SentAlert": SetSkin with
// "SentSkin", then Show with "Send to %s Fail!" or "Send to %s
// Successfully!" (%s: the first recipient's quoted name, else its number),
// no second text, "DisappearTime", no picture, and whether a quoted name was
// found. Other kinds show nothing.
void ShowSentPopup(alerts::AlertPopup& popup,
                   const settings::SettingsStore& settings,
                   const SendRequest& request, uint32_t kind);

// The main window's handling of a send result: FileSendResult when a
// document is open (`document` may be null), then ShowSentPopup (when
// `popup` is given), at the current local time.
void HandleSendResult(store::Document* document,
                      const settings::SettingsStore& settings,
                      alerts::AlertPopup* popup, SendRequest& request,
                      uint32_t kind);

}  // namespace send

#endif  // TELVANE_SEND_FILING_H_
