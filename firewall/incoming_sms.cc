#include "firewall/incoming_sms.h"

#include <optional>

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

void Firewall::StoreInRecycleBin(const IncomingMessage& message) {
  if (!DocumentOpen() || document_->recycle_bin() == nullptr) return;
  store::DocumentLock::Holder hold(document_->lock());
  document_->StoreMessage(document_->recycle_bin(), message.sender,
                          message.body, MessageTime(message));
}

uint32_t Firewall::HandleIncomingSms(const IncomingMessage& message) {
  // 1. Black List.
  if (IsBlacklisted(*filters_, message.sender)) {
    host_->SetDeleteEvent();
    if (settings_->black_delete_to_recycle_bin() != 0) {
      StoreInRecycleBin(message);
    }
    return 1;
  }

  // 2. Status reports.
  const int32_t receipt = settings_->receipt_to_recycle_bin();
  if (receipt != 0 && LooksLikeStatusReport(message.sender)) {
    switch (receipt) {
      case kReceiptKeepInInbox:
        return 1;
      case kReceiptDeleteFromInbox:
        host_->SetDeleteEvent();
        break;  // on to the filters
      case kReceiptDeleteBoth:
        host_->SetDeleteEvent();
        return 1;
      case kReceiptToRecycleBin:
        host_->SetDeleteEvent();
        StoreInRecycleBin(message);
        return 1;
      default:
        break;
    }
  }

  // 3. The governing filter; 4. its actions; 5. filing.
  const FilterRecord& filter =
      FindGoverningFilter(*filters_, message.sender, message.body);
  RunActions(filter, message);
  FileMessage(filter, message);
  return 1;
}

void Firewall::RunActions(const FilterRecord& filter,
                          const IncomingMessage& message) {
  // A message this filter files stays in the phone's Inbox while no
  // document is open to file it into: deleting it would lose it.
  if (filter.Has(kDontShowInInbox) &&
      (!filter.Has(kSaveToFolder) || DocumentOpen())) {
    host_->SetDeleteEvent();
  }

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

void Firewall::FileMessage(const FilterRecord& filter,
                           const IncomingMessage& message) {
  if (!DocumentOpen() || !filter.Has(kSaveToFolder)) return;
  store::DocumentLock::Holder hold(document_->lock());
  store::Node* folder =
      document_->FindOrCreateFolderPath(filter.Value(kSaveToFolder));
  if (folder == nullptr) return;
  if (document_->StoreMessage(folder, message.sender, message.body,
                              MessageTime(message)) == nullptr) {
    return;
  }
  host_->RaiseUnreadNotification();
}

}  // namespace firewall
