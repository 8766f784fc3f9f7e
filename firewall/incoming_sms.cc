#include "firewall/incoming_sms.h"

#include <optional>

#include "platform/debug.h"
#include "platform/unicode.h"
#include "text/text.h"

namespace firewall {

namespace {

// "ReceiptToRecycleBin" values.
constexpr int32_t kReceiptKeepInInbox = 1;      // "Here:Delete "
constexpr int32_t kReceiptDeleteFromInbox = 2;  // "Inbox: Delete"
constexpr int32_t kReceiptDeleteBoth = 3;       // "Both: Delete"
constexpr int32_t kReceiptToRecycleBin = 4;     // "Inbox:Delete Here:Recycle
                                                //  Bin"

platform::SystemTime MessageTime(const IncomingMessage& message) {
  std::optional<platform::SystemTime> time =
      platform::FileTimeToSystemTime(message.delivery_time);
  return time ? *time : platform::CurrentSystemTime();
}

uint32_t NonNegative(int32_t value) {
  return value < 0 ? 0u : static_cast<uint32_t>(value);
}

}  // namespace

SenderDisplay ParseSenderDisplay(std::u16string_view sender) {
  text::Recipient recipient = text::SplitRecipient(sender);
  return SenderDisplay{std::move(recipient.name), recipient.quoted};
}

bool LooksLikeStatusReport(std::u16string_view sender) {
  char16_t first = sender.empty() ? char16_t{0} : sender.front();
  bool number_start = (first >= u'0' && first <= u'9') || first == u'+';
  return !number_start && sender.find(u'<') == std::u16string_view::npos;
}

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

void Firewall::StoreInRecycleBin(const IncomingMessage& message) {
  if (!DocumentOpen()) {
    platform::DebugPrintf(
        "pelicorde: no document to keep the message from %s in; it stays in "
        "the phone's Inbox\r\n",
        platform::ToUtf8(message.sender).c_str());
    return;
  }
  if (document_->recycle_bin() == nullptr) {
    host_->SetDeleteEvent();  // kept nowhere, as the user chose
    return;
  }
  store::DocumentLock::Holder hold(document_->lock());
  std::optional<store::PendingFiling> pending =
      Persist(document_->recycle_bin(), store::kRecycleBinTitle, message,
              /*released=*/true);
  if (!pending || !ReleaseFromInbox(message, &pending)) return;
  document_->InsertPending(*pending);
}

uint32_t Firewall::HandleIncomingSms(const IncomingMessage& message) {
  // 1. Black List.
  if (IsBlacklisted(*filters_, message.sender)) {
    if (settings_->black_delete_to_recycle_bin() != 0) {
      StoreInRecycleBin(message);
    } else {
      host_->SetDeleteEvent();
    }
    return 1;
  }

  // 2. Status reports.
  bool delete_report = false;
  const int32_t receipt = settings_->receipt_to_recycle_bin();
  if (receipt != 0 && LooksLikeStatusReport(message.sender)) {
    switch (receipt) {
      case kReceiptKeepInInbox:
        return 1;
      case kReceiptDeleteFromInbox:
        delete_report = true;  // with the filter's answer, below
        break;
      case kReceiptDeleteBoth:
        host_->SetDeleteEvent();
        return 1;
      case kReceiptToRecycleBin:
        StoreInRecycleBin(message);
        return 1;
      default:
        break;
    }
  }

  // 3. The governing filter; 4. its actions; 5. filing.
  const FilterRecord& filter =
      FindGoverningFilter(*filters_, message.sender, message.body);
  const bool files = filter.Has(kSaveToFolder);
  const bool hide = filter.Has(kDontShowInInbox) || delete_report;
  std::optional<store::PendingFiling> pending;
  if (files && DocumentOpen()) {
    store::DocumentLock::Holder hold(document_->lock());
    const std::u16string_view where = filter.Value(kSaveToFolder);
    pending =
        Persist(document_->FindOrCreateFolderPath(where), where, message, hide);
  } else if (files) {
    platform::DebugPrintf(
        "pelicorde: no document is open to file the message from %s; it "
        "stays in the phone's Inbox\r\n",
        platform::ToUtf8(message.sender).c_str());
  }
  // Out of the Inbox only once it is safe here (or when it is not to be
  // kept at all).
  const bool release = hide && (!files || pending);
  RunActions(filter, message, release, &pending);
  if (pending) {
    store::DocumentLock::Holder hold(document_->lock());
    if (document_->InsertPending(*pending) != nullptr) {
      host_->RaiseUnreadNotification();
    }
  }
  return 1;
}

void Firewall::RunActions(const FilterRecord& filter,
                          const IncomingMessage& message, bool release,
                          std::optional<store::PendingFiling>* pending) {
  if (release) ReleaseFromInbox(message, pending);

  if (filter.Has(kShowPopupWindow) && popup_ != nullptr) {
    popup_->SetSkin(std::u16string(filter.Value(kShowPopupWindow)));
    std::u16string main_text;
    SenderDisplay second;
    if (filter.Has(kUserDefinedSentence)) {
      main_text = filter.Value(kUserDefinedSentence);
    } else {
      main_text = message.body;
      second = ParseSenderDisplay(message.sender);
    }
    std::u16string picture(filter.Value(kSpecificPhoto));  // empty: none
    popup_->Show(main_text, second.text,
                 NonNegative(settings_->disappear_time_recv()), picture,
                 second.named);
  }

  if (filter.Has(kPlaySound)) host_->PlayAlertSound(filter.Value(kPlaySound));

  if (filter.Has(kVibrate)) host_->Vibrate(kActionVibrationMs);

  if (filter.Has(kAutoReply) && host_->SendServiceRunning()) {
    host_->Enqueue(message.sender, filter.Value(kAutoReply));
  }
  if (filter.Has(kAutoForward) && host_->SendServiceRunning()) {
    host_->Enqueue(filter.Value(kAutoForward), message.body);
  }

  host_->StopReminder();
  if (settings_->unread_alert() != 0 && filter.Has(kUnreadAlert)) {
    host_->StartReminder(NonNegative(settings_->alert_second()));
  }
}

}  // namespace firewall
