#include "send/sms_library.h"

#include <algorithm>
#include <string>

#include "text/text.h"

namespace send {

std::optional<SmsApi> BindSmsApi(const platform::Library& library) {
  SmsApi api;
  api.open = reinterpret_cast<platform::SmsOpenFunction>(
      library.Symbol(platform::kSmsOpenName));
  api.send = reinterpret_cast<platform::SmsSendMessageFunction>(
      library.Symbol(platform::kSmsSendMessageName));
  api.close = reinterpret_cast<platform::SmsCloseFunction>(
      library.Symbol(platform::kSmsCloseName));
  if (api.open == nullptr || api.send == nullptr || api.close == nullptr) {
    return std::nullopt;
  }
  return api;
}

std::optional<platform::SMS_HANDLE> OpenSmsHandle(const SmsApi& api) {
  platform::SMS_HANDLE handle = 0;
  platform::HRESULT hr = api.open(platform::SMS_MSGTYPE_TEXT,
                                  platform::SMS_MODE_SEND, &handle, nullptr);
  if (platform::Failed(hr)) return std::nullopt;
  return handle;
}

bool SendToAddress(const SmsApi& api, platform::SMS_HANDLE handle,
                   platform::SMS_ADDRESS& address,
                   const platform::TEXT_PROVIDER_SPECIFIC_DATA& provider,
                   std::u16string_view text) {
  // The text goes as its UTF-16 code units, two bytes each, little endian
  // as the device stores them.
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  const auto size = static_cast<uint32_t>(text.size() * sizeof(char16_t));
  for (platform::SMS_ADDRESS_TYPE type : kAddressTypeOrder) {
    address.smsatAddressType = type;
    platform::SMS_MESSAGE_ID id = 0;
    platform::HRESULT hr =
        api.send(handle, nullptr, &address, nullptr, data, size,
                 reinterpret_cast<const uint8_t*>(&provider), kProviderDataSize,
                 platform::SMSDE_OPTIMAL, 0, &id);
    if (platform::Succeeded(hr)) return true;
  }
  return false;
}

size_t SetAddressFromEntry(platform::SMS_ADDRESS& address,
                           std::u16string_view entry) {
  constexpr size_t kMaxChars = platform::SMS_MAX_ADDRESS_LENGTH - 1;
  entry = entry.substr(0, kMaxChars);
  const std::u16string number = text::NormalizeNumber(entry);
  // The reduction never lengthens the text.
  const size_t length = std::min(number.size(), kMaxChars);
  std::copy_n(number.data(), length, address.ptsAddress);
  address.ptsAddress[length] = u'\0';
  return length;
}

}  // namespace send
