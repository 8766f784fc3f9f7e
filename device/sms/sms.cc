// sms.dll: the phone's SMS library over the device's radio log.
//
// SmsOpen hands out numbered handles (send mode only); SmsSendMessage checks
// its arguments, asks the failure switches whether the network takes the
// address under its type, records the submission in the radio log either
// way and answers; SmsClose forgets the handle. See platform/sms.h for the
// interface and docs/formats/radio-log.md for what is recorded.
#include "platform/sms.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <type_traits>

#include "device/sms/radio_log.h"
#include "platform/debug.h"
#include "platform/unicode.h"

namespace {

using platform::HRESULT;
using platform::SMS_ADDRESS;
using platform::SMS_HANDLE;

// Longest text the radio takes in one submission (bytes of data): 255
// concatenated parts of 140 bytes.
constexpr uint32_t kMaxDataSize = 255 * 140;

std::mutex g_mutex;
std::set<SMS_HANDLE> g_handles;  // guarded by g_mutex
SMS_HANDLE g_next_handle = 1;    // guarded by g_mutex

bool IsOpenHandle(SMS_HANDLE handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_handles.count(handle) != 0;
}

// The address text up to its NUL; nullopt when there is none in the array.
std::optional<std::u16string> AddressText(const SMS_ADDRESS& address) {
  const char16_t* begin = address.ptsAddress;
  const char16_t* end = begin + platform::SMS_MAX_ADDRESS_LENGTH;
  const char16_t* nul = std::find(begin, end, u'\0');
  if (nul == end) return std::nullopt;
  return std::u16string(begin, nul);
}

bool KnownAddressType(uint32_t type) {
  return type <= platform::SMSAT_ABBREVIATED;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT SmsOpen(const char16_t* provider,
                                                       uint32_t modes,
                                                       SMS_HANDLE* handle,
                                                       void** event) {
  if (handle == nullptr || provider == nullptr) return platform::E_INVALIDARG;
  *handle = 0;
  if (event != nullptr) *event = nullptr;
  if (std::u16string_view(provider) != platform::SMS_MSGTYPE_TEXT) {
    return platform::SMS_E_INVALIDPROTOCOL;
  }
  // Only sending is offered; a message-available event belongs to receiving.
  if (modes != platform::SMS_MODE_SEND || event != nullptr) {
    return platform::E_INVALIDARG;
  }
  if (device::sms::ReadRadioSwitches().open_fails) {
    platform::DebugOutput(u"sms.dll: SmsOpen refused (radio off)\r\n");
    return platform::SMS_E_RADIOUNAVAILABLE;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  SMS_HANDLE next = g_next_handle;
  while (next == 0 || g_handles.count(next) != 0) ++next;
  g_handles.insert(next);
  g_next_handle = next + 1;
  *handle = next;
  return platform::S_OK;
}

__attribute__((visibility("default"))) HRESULT SmsSendMessage(
    SMS_HANDLE handle, const SMS_ADDRESS* service_centre,
    const SMS_ADDRESS* destination, const platform::SystemTime* /*validity*/,
    const uint8_t* data, uint32_t data_size, const uint8_t* provider_data,
    uint32_t provider_data_size, platform::SMS_DATA_ENCODING encoding,
    uint32_t options, platform::SMS_MESSAGE_ID* message_id) {
  if (message_id != nullptr) *message_id = 0;
  if (!IsOpenHandle(handle)) return platform::SMS_E_INVALIDHANDLE;
  if (destination == nullptr || (data == nullptr && data_size != 0) ||
      data_size > kMaxDataSize || provider_data == nullptr ||
      provider_data_size < platform::kTextProviderDataMinSize ||
      provider_data_size > sizeof(platform::TEXT_PROVIDER_SPECIFIC_DATA) ||
      encoding > platform::SMSDE_UCS2 ||
      options > platform::SMS_OPTION_DELIVERY_NO_RETRY ||
      !KnownAddressType(destination->smsatAddressType)) {
    return platform::E_INVALIDARG;
  }
  std::optional<std::u16string> address = AddressText(*destination);
  if (!address || address->empty()) return platform::E_INVALIDARG;
  if (service_centre != nullptr && !AddressText(*service_centre)) {
    return platform::E_INVALIDARG;
  }
  platform::TEXT_PROVIDER_SPECIFIC_DATA provider{};
  std::memcpy(&provider, provider_data, provider_data_size);

  device::sms::RadioSubmission submission;
  submission.time =
      platform::SystemTimeToFileTime(platform::CurrentSystemTime())
          .value_or(platform::FileTime{});
  submission.address = *address;
  submission.address_type = destination->smsatAddressType;
  submission.message_class = provider.psMessageClass;
  submission.message_options = provider.dwMessageOptions;
  submission.replace_option = provider.psReplaceOption;
  submission.encoding = encoding;
  submission.send_options = options;
  if (data_size != 0) {
    submission.data.assign(reinterpret_cast<const char*>(data), data_size);
  }
  const device::sms::RadioSwitches switches = device::sms::ReadRadioSwitches();
  const bool refused = device::sms::Refuses(
      switches, platform::ToUtf8(*address), destination->smsatAddressType);
  submission.result = refused ? platform::SMS_E_ADDRESSREFUSED : 0;
  std::optional<int64_t> id = device::sms::RecordSubmission(submission);
  if (!id) return platform::SMS_E_LOGFAILED;
  if (refused) return platform::SMS_E_ADDRESSREFUSED;
  if (message_id != nullptr) {
    *message_id = static_cast<platform::SMS_MESSAGE_ID>(*id);
  }
  return platform::S_OK;
}

__attribute__((visibility("default"))) HRESULT SmsClose(SMS_HANDLE handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_handles.erase(handle) == 0) return platform::SMS_E_INVALIDHANDLE;
  return platform::S_OK;
}

}  // extern "C"

// The exports have exactly the types programs bind them to.
static_assert(std::is_same_v<decltype(&SmsOpen), platform::SmsOpenFunction>);
static_assert(std::is_same_v<decltype(&SmsSendMessage),
                             platform::SmsSendMessageFunction>);
static_assert(std::is_same_v<decltype(&SmsClose), platform::SmsCloseFunction>);
