// The phone's SMS library bound by name, and the one way this program
// submits a text to an address.
#ifndef TELVANE_SEND_SMS_LIBRARY_H_
#define TELVANE_SEND_SMS_LIBRARY_H_

#include <array>
#include <optional>
#include <string_view>

#include "platform/modules.h"
#include "platform/sms.h"

namespace send {

// The three entry points of a loaded "sms.dll". Valid only while the
// platform::Library they were found in stays loaded.
struct SmsApi {
  platform::SmsOpenFunction open = nullptr;
  platform::SmsSendMessageFunction send = nullptr;
  platform::SmsCloseFunction close = nullptr;
};

// Looks "SmsOpen", "SmsSendMessage" and "SmsClose" up by name; nullopt when
// any of them is missing.
std::optional<SmsApi> BindSmsApi(const platform::Library& library);

// Opens a send handle: "SmsOpen" with the text provider, SMS_MODE_SEND and
// no message-available event. Nullopt when it fails.
std::optional<platform::SMS_HANDLE> OpenSmsHandle(const SmsApi& api);

// The address types tried for every destination, in this order.
inline constexpr std::array<platform::SMS_ADDRESS_TYPE, 5> kAddressTypeOrder = {
    platform::SMSAT_UNKNOWN, platform::SMSAT_NATIONAL,
    platform::SMSAT_INTERNATIONAL, platform::SMSAT_NETWORKSPECIFIC,
    platform::SMSAT_ALPHANUMERIC};

// The size of provider data passed with every submission: the message
// options, the message class and the replace option.
inline constexpr uint32_t kProviderDataSize = 12;

// Submits `text` to `address` with "SmsSendMessage": no service centre, no
// validity period, the text as UTF-16 bytes (no terminator), the first
// kProviderDataSize bytes of `provider`, SMSDE_OPTIMAL, send options 0. The
// address's type is set to each of kAddressTypeOrder in turn until one
// submission succeeds; true then, false after five failures. `address`
// keeps the last type tried.
bool SendToAddress(const SmsApi& api, platform::SMS_HANDLE handle,
                   platform::SMS_ADDRESS& address,
                   const platform::TEXT_PROVIDER_SPECIFIC_DATA& provider,
                   std::u16string_view text);

// Copies `entry` into the address text (at most 255 characters) and reduces
// it in place with text::NormalizeNumber, so that of "\"Name\"<12 3>" only
// "123" remains. Returns the length of the result (0: nothing to send to).
size_t SetAddressFromEntry(platform::SMS_ADDRESS& address,
                           std::u16string_view entry);

}  // namespace send

#endif  // TELVANE_SEND_SMS_LIBRARY_H_
