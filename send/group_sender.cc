#include "send/group_sender.h"

#include <memory>
#include <optional>
#include <utility>

#include "platform/modules.h"
#include "send/sms_library.h"
#include "text/text.h"

namespace send {

std::vector<GroupItem> GroupItemsFromRecipients(
    std::u16string_view recipients) {
  std::vector<GroupItem> items;
  while (true) {
    const size_t semicolon = recipients.find(u';');
    text::Recipient recipient =
        text::SplitRecipient(recipients.substr(0, semicolon));
    if (!recipient.number.empty()) {
      items.push_back({std::move(recipient.name), std::move(recipient.number)});
    }
    if (semicolon == std::u16string_view::npos) break;
    recipients.remove_prefix(semicolon + 1);
  }
  return items;
}

std::u16string_view GroupStatusText(GroupItemStatus status) {
  switch (status) {
    case GroupItemStatus::kSending:
      return kGroupStatusSending;
    case GroupItemStatus::kSuccess:
      return kGroupStatusSuccess;
    case GroupItemStatus::kFail:
      return kGroupStatusFail;
  }
  return {};
}

GroupSender::GroupSender(std::vector<GroupItem> items, std::u16string text,
                         bool flash, GroupSendObserver* observer)
    : items_(std::move(items)),
      text_(std::move(text)),
      flash_(flash),
      observer_(observer) {}

GroupSender::~GroupSender() { Wait(); }

bool GroupSender::Start() {
  State expected = State::kReady;
  if (!state_.compare_exchange_strong(expected, State::kSending)) return false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void GroupSender::Wait() {
  if (thread_.joinable()) thread_.join();
}

void GroupSender::Run() {
  platform::SMS_ADDRESS address{};
  platform::TEXT_PROVIDER_SPECIFIC_DATA data{};
  data.dwMessageOptions = platform::PS_MESSAGE_OPTION_NONE;
  data.psMessageClass =
      flash_ ? platform::PS_MESSAGE_CLASS0 : platform::PS_MESSAGE_CLASS1;

  // The library stays loaded for the whole sending, whatever else the
  // program does with its own copy meanwhile.
  std::unique_ptr<platform::Library> library =
      platform::Library::Load(platform::kSmsLibraryName);
  std::optional<SmsApi> api;
  if (library != nullptr) api = BindSmsApi(*library);
  std::optional<platform::SMS_HANDLE> handle;
  if (api) handle = OpenSmsHandle(*api);
  if (handle) {
    for (size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].number.empty()) continue;
      if (observer_ != nullptr) {
        observer_->ItemStatusChanged(i, GroupItemStatus::kSending);
      }
      SetAddressFromEntry(address, items_[i].number);
      const bool sent = SendToAddress(*api, *handle, address, data, text_);
      if (observer_ != nullptr) {
        observer_->ItemStatusChanged(
            i, sent ? GroupItemStatus::kSuccess : GroupItemStatus::kFail);
      }
    }
    api->close(*handle);
  }
  // Complete before the end report, so a window that acts on the report
  // finds the sender closable.
  state_.store(State::kComplete);
  if (observer_ != nullptr) observer_->SendingFinished(handle.has_value());
}

}  // namespace send
