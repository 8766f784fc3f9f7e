#include "firewall/incoming_sms.h"

#include <optional>

#include "platform/debug.h"
#include "platform/unicode.h"
#include "text/text.h"

namespace firewall {

namespace {

platform::SystemTime MessageTime(const IncomingMessage& message) {
  std::optional<platform::SystemTime> time =
      platform::FileTimeToSystemTime(message.delivery_time);
  return time ? *time : platform::CurrentSystemTime();
}

}  // namespace

bool Firewall::DocumentOpen() const {
  return document_ != nullptr && document_->IsOpen();
}

std::optional<store::PendingFiling> Firewall::Persist(
    store::Node* folder, std::u16string_view where,
    const IncomingMessage& message, bool released) {
  platform::Status status;
  std::optional<store::PendingFiling> pending;
  if (folder == nullptr) {
    status = platform::Status(platform::ErrorCode::kInvalidArgument,
                              "no folder of that name can be made");
  } else {
    std::optional<store::PhoneCopy> copy;
    if (released) {
      copy = store::PhoneCopy{
          message.delivery_time.value(),
          store::MessageFingerprint(message.sender, message.body)};
    }
    pending = document_->PersistMessage(
        folder, message.sender, message.body, MessageTime(message),
        store::MessageKind::kReceived, &status, copy);
  }
  if (!pending) {
    platform::DebugPrintf(
        "pelicorde: the message from %s was not filed into \"%s\" (%s); it "
        "stays in the phone's Inbox\r\n",
        platform::ToUtf8(message.sender).c_str(),
        platform::ToUtf8(where).c_str(), status.ToString().c_str());
  }
  return pending;
}

bool Firewall::ReleaseFromInbox(const IncomingMessage& message,
                                std::optional<store::PendingFiling>* pending) {
  if (message.taken_tick &&
      static_cast<uint32_t>(tick_() - *message.taken_tick) > kVerdictBudgetMs) {
    // The rule client has stopped waiting, or is about to: the message
    // stays in the phone's Inbox, and so is not kept here as well.
    if (pending != nullptr && pending->has_value()) {
      document_->WithdrawPending(**pending).IgnoreError();
      pending->reset();
    }
    platform::DebugPrintf(
        "pelicorde: the answer for the message from %s came too late; it "
        "stays in the phone's Inbox\r\n",
        platform::ToUtf8(message.sender).c_str());
    return false;
  }
  host_->SetDeleteEvent();
  return true;
}

Circumstances Firewall::CurrentCircumstances() const {
  Circumstances circumstances = Circumstances::FromSettings(*settings_);
  circumstances.document_open = DocumentOpen();
  circumstances.has_recycle_bin =
      circumstances.document_open && document_->recycle_bin() != nullptr;
  circumstances.send_service_running = host_->SendServiceRunning();
  circumstances.popup_available = popup_ != nullptr;
  return circumstances;
}

uint32_t Firewall::HandleIncomingSms(const IncomingMessage& message) {
  Execute(
      Decide(*filters_, message.sender, message.body, CurrentCircumstances()),
      message);
  return 1;
}

void Firewall::Execute(const Plan& plan, const IncomingMessage& message) {
  if (plan.kept_in_inbox_without_document) {
    platform::DebugPrintf(
        "pelicorde: no document is open to keep the message from %s in; it "
        "stays in the phone's Inbox\r\n",
        platform::ToUtf8(message.sender).c_str());
  }
  // The Recycle Bin is filled under one hold of the lock, from the filing
  // to the tree; a filter's folder is locked for the filing and again for
  // the tree, not while the alerts run.
  std::optional<store::DocumentLock::Holder> whole_plan;
  std::optional<store::PendingFiling> pending;
  bool filing_tried = false;
  for (const Step& step : plan.steps) {
    switch (step.kind) {
      case Step::Kind::kFile: {
        if (!DocumentOpen()) break;  // closed since the plan was made
        filing_tried = true;
        if (step.into_recycle_bin) {
          whole_plan.emplace(document_->lock());
          pending = Persist(document_->recycle_bin(), store::kRecycleBinTitle,
                            message, step.released);
        } else {
          store::DocumentLock::Holder hold(document_->lock());
          pending = Persist(document_->FindOrCreateFolderPath(step.folder),
                            step.folder, message, step.released);
        }
        break;
      }
      case Step::Kind::kLeaveInbox:
        if (step.after_filing && (!filing_tried || !pending)) break;
        ReleaseFromInbox(message, &pending);
        break;
      case Step::Kind::kShowPopup:
        if (popup_ == nullptr) break;  // gone since the plan was made
        popup_->SetSkin(step.skin);
        popup_->Show(step.text, step.second_text, step.milliseconds,
                     step.picture, step.named);
        break;
      case Step::Kind::kPlaySound:
        host_->PlayAlertSound(step.text);
        break;
      case Step::Kind::kVibrate:
        host_->Vibrate(step.milliseconds);
        break;
      case Step::Kind::kEnqueue:
        host_->Enqueue(step.recipients, step.text);
        break;
      case Step::Kind::kStopReminder:
        host_->StopReminder();
        break;
      case Step::Kind::kStartReminder:
        host_->StartReminder(step.milliseconds);
        break;
      case Step::Kind::kShowInTree: {
        if (!pending) break;
        std::optional<store::DocumentLock::Holder> hold;
        if (!whole_plan) hold.emplace(document_->lock());
        if (document_->InsertPending(*pending) != nullptr && step.notify) {
          host_->RaiseUnreadNotification();
        }
        break;
      }
    }
  }
}

}  // namespace firewall
