// The incoming-message procedure: what the program does with every SMS the
// intake hands it.
//
// HandleIncomingSms decides (Decide, firewall/plan.h), then executes the
// plan. In this order:
//   1. Black List: a blacklisted sender's message leaves the phone's Inbox
//      (the delete event), is kept in the Recycle Bin only under
//      "BlackDeleteToRecycleBin", and triggers nothing else.
//   2. Status reports (a sender that starts with neither a digit nor "+" and
//      holds no "<") under "ReceiptToRecycleBin" 1..4.
//   3. The governing filter (filter_set.h).
//   4. Its actions in a fixed order: "Don't Show in Inbox" (the delete
//      event), the popup, the sound, the vibration, auto reply, auto
//      forward, then the unread reminder (always stopped, restarted under
//      "Unread Alert").
//   5. Filing under "Save to Folder", under the document lock, then the
//      unread notification.
//
// File first, then release the phone's copy: a message that is to be kept
// is written to the document (record and note, committed: it survives a
// crash from then on) before the delete event tells the rule client to
// take it out of the phone's Inbox; the node enters the tree at step 5 as
// before, so what the user sees keeps its order. When filing fails for any
// reason (no document, a folder value that names no folder, a write error)
// the message stays in the phone's Inbox and the cause goes to the debug
// log. The rule client waits 1500 ms for the answer: a message whose answer
// could only come later than kVerdictBudgetMs after the intake took it is
// not taken out of the Inbox, and its filing is withdrawn, so that it is
// never kept in both places.
//
// The procedure talks to the program through FirewallHost (implemented by
// the main window, and by tests that record the order of calls), the alert
// popup, the document and the settings. It keeps no state between messages.
//
// Thread safety: everything here runs on the user-interface thread, which
// owns the filter set, the document, the popup and the settings.
#ifndef TELVANE_FIREWALL_INCOMING_SMS_H_
#define TELVANE_FIREWALL_INCOMING_SMS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "alerts/alert_popup.h"
#include "firewall/filter_set.h"
#include "firewall/plan.h"
#include "platform/time.h"
#include "settings/settings_store.h"
#include "store/document.h"

namespace firewall {

// One incoming message. The views belong to the caller and are valid for
// the duration of the call.
struct IncomingMessage {
  std::u16string_view body;
  std::u16string_view sender;
  platform::FileTime delivery_time;  // UTC
  // platform::TickCount() when the intake took the message off the queue,
  // when known: the rule client's wait for the answer began about then.
  std::optional<uint32_t> taken_tick;
};

// The latest an answer is given, counted from when the intake took the
// message: well inside the rule client's 1500 ms wait.
inline constexpr uint32_t kVerdictBudgetMs = 1200;

// The main window's side of the procedure. Every call happens on the
// user-interface thread, during HandleIncomingSms.
class FirewallHost {
 public:
  virtual ~FirewallHost() = default;

  // Sets "ZUD_SMSDeleteEvent": the rule-client library deletes the message
  // from the phone's Inbox.
  virtual void SetDeleteEvent() = 0;

  // Whether the send service exists and runs; when false the auto-reply
  // and auto-forward actions are skipped without a word.
  virtual bool SendServiceRunning() = 0;
  // SendService::Enqueue(recipients, text, flags 0, no due time, no
  // draft). `recipients` may hold several ";"-separated entries.
  virtual void Enqueue(std::u16string_view recipients,
                       std::u16string_view text) = 0;

  // Plays a filter's sound: a sound-file path, or kRandomRingMarker for a
  // file picked from the random sound folder.
  virtual void PlayAlertSound(std::u16string_view value) = 0;
  // Runs the vibrator; returns when the vibration is over.
  virtual void Vibrate(uint32_t milliseconds) = 0;

  // The unread reminder (main-window timer 3).
  virtual void StopReminder() = 0;
  virtual void StartReminder(uint32_t period_ms) = 0;

  // Raises the main window's unread notification (a message was filed).
  virtual void RaiseUnreadNotification() = 0;
};

// The incoming-message procedure and the parts it talks to. Nothing is
// owned; each part must outlive the object (the document and the popup may
// be replaced or set to null at any time between messages).
class Firewall {
 public:
  Firewall(const FilterSet* filters, FirewallHost* host,
           const settings::SettingsStore* settings)
      : filters_(filters), host_(host), settings_(settings) {}

  // The popup; null skips the popup action.
  void set_popup(alerts::AlertPopup* popup) { popup_ = popup; }
  // The document; null (or one that is not open) files nothing.
  void set_document(store::Document* document) { document_ = document; }
  // The millisecond clock the verdict budget is measured with (a test
  // seam; platform::TickCount by default).
  void set_tick_source(uint32_t (*tick)()) { tick_ = tick; }

  // Runs the procedure for one message: Decide, then Execute. Always
  // returns 1 (the intake's "consumed").
  uint32_t HandleIncomingSms(const IncomingMessage& message);

  // The circumstances now: the options from the settings, whether a
  // document (with a Recycle Bin) is open, whether the send service runs
  // and whether there is a popup.
  Circumstances CurrentCircumstances() const;

  // Carries a plan for `message` out, step by step. A filing that fails
  // keeps the message in the phone's Inbox (the steps that depend on it
  // are skipped); the document lock is held around each document step,
  // and across the whole plan when it keeps the message in the Recycle
  // Bin.
  void Execute(const Plan& plan, const IncomingMessage& message);

 private:
  // Writes the message into the folder (committed, not yet in the tree);
  // `released`: the answer will take it out of the phone's Inbox.
  std::optional<store::PendingFiling> Persist(store::Node* folder,
                                              std::u16string_view where,
                                              const IncomingMessage& message,
                                              bool released);
  // The delete event, when the answer is still awaited; otherwise a filing
  // made for it is withdrawn and the message stays in the Inbox. False when
  // the answer was not given.
  bool ReleaseFromInbox(const IncomingMessage& message,
                        std::optional<store::PendingFiling>* pending);
  bool DocumentOpen() const;

  const FilterSet* filters_;
  FirewallHost* host_;
  const settings::SettingsStore* settings_;
  alerts::AlertPopup* popup_ = nullptr;
  store::Document* document_ = nullptr;
  uint32_t (*tick_)() = platform::TickCount;
};

}  // namespace firewall

#endif  // TELVANE_FIREWALL_INCOMING_SMS_H_
