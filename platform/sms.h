// The phone's SMS library, "sms.dll", as a program sees it.
//
// The library is not linked: a program loads "sms.dll" by name with
// Library::Load and looks its three entry points up by name (kSmsOpenName,
// kSmsSendMessageName, kSmsCloseName). The order of use is always open,
// send (any number of times), close. The types, their layouts and the
// values this project gives them are listed in docs/formats/sms-library.md;
// names keep the platform's spelling (SMS_ADDRESS, smsatAddressType...) so
// that code reads as it would on the phone.
//
// Results are HRESULTs: S_OK on success, a failure code (negative) otherwise.
// A failed call has no effect besides its result: nothing is recorded, no
// handle is made.
//
// Threads: the entry points may be called from any thread. A handle may be
// used by several threads, but it must not be closed while another thread
// is sending with it.
//
// Memory: the library keeps no pointer it was given beyond the call, and
// hands out nothing the caller must free.
#ifndef TELVANE_PLATFORM_SMS_H_
#define TELVANE_PLATFORM_SMS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/com.h"
#include "platform/time.h"

namespace platform {

// The library's file name and the entry points' exported names.
inline constexpr std::u16string_view kSmsLibraryName = u"sms.dll";
inline constexpr char kSmsOpenName[] = "SmsOpen";
inline constexpr char kSmsSendMessageName[] = "SmsSendMessage";
inline constexpr char kSmsCloseName[] = "SmsClose";

// The provider (message protocol) of plain text messages: the only one the
// device's radio offers.
inline constexpr char16_t SMS_MSGTYPE_TEXT[] = u"Microsoft Text SMS Protocol";

using SMS_HANDLE = uint32_t;  // 0 is never a valid handle
using SMS_MESSAGE_ID = uint32_t;
using SMS_ADDRESS_TYPE = uint32_t;
using SMS_DATA_ENCODING = uint32_t;
using PROVIDER_SPECIFIC_MESSAGE_CLASS = uint32_t;
using PROVIDER_SPECIFIC_REPLACE_OPTION = uint32_t;

// SmsOpen modes (bits).
inline constexpr uint32_t SMS_MODE_RECEIVE = 1;
inline constexpr uint32_t SMS_MODE_SEND = 2;

// Address types. The radio offers no SMSAT_SUBSCRIBER or SMSAT_ABBREVIATED;
// they are listed so that a stray value is recognised and refused.
inline constexpr SMS_ADDRESS_TYPE SMSAT_UNKNOWN = 0;
inline constexpr SMS_ADDRESS_TYPE SMSAT_INTERNATIONAL = 1;
inline constexpr SMS_ADDRESS_TYPE SMSAT_NATIONAL = 2;
inline constexpr SMS_ADDRESS_TYPE SMSAT_NETWORKSPECIFIC = 3;
inline constexpr SMS_ADDRESS_TYPE SMSAT_SUBSCRIBER = 4;
inline constexpr SMS_ADDRESS_TYPE SMSAT_ALPHANUMERIC = 5;
inline constexpr SMS_ADDRESS_TYPE SMSAT_ABBREVIATED = 6;

// Data encodings: SMSDE_OPTIMAL lets the service choose between the 7-bit
// alphabet and UCS-2 and split long texts itself.
inline constexpr SMS_DATA_ENCODING SMSDE_OPTIMAL = 0;
inline constexpr SMS_DATA_ENCODING SMSDE_GSM = 1;
inline constexpr SMS_DATA_ENCODING SMSDE_UCS2 = 2;

// Message classes: class 0 is a flash message shown at once and not stored.
inline constexpr PROVIDER_SPECIFIC_MESSAGE_CLASS PS_MESSAGE_CLASS0 = 0;
inline constexpr PROVIDER_SPECIFIC_MESSAGE_CLASS PS_MESSAGE_CLASS1 = 1;
inline constexpr PROVIDER_SPECIFIC_MESSAGE_CLASS PS_MESSAGE_CLASS2 = 2;
inline constexpr PROVIDER_SPECIFIC_MESSAGE_CLASS PS_MESSAGE_CLASS3 = 3;

// Message option bits.
inline constexpr uint32_t PS_MESSAGE_OPTION_NONE = 0;
inline constexpr uint32_t PS_MESSAGE_OPTION_REPLYPATH = 1;
inline constexpr uint32_t PS_MESSAGE_OPTION_STATUSREPORT = 2;
inline constexpr uint32_t PS_MESSAGE_OPTION_DISCARD = 4;

inline constexpr PROVIDER_SPECIFIC_REPLACE_OPTION PSRO_NONE = 0;

// SmsSendMessage send options.
inline constexpr uint32_t SMS_OPTION_DELIVERY_NONE = 0;
inline constexpr uint32_t SMS_OPTION_DELIVERY_NO_RETRY = 1;

// An address: its type and its text, NUL-terminated (at most 255
// characters).
inline constexpr size_t SMS_MAX_ADDRESS_LENGTH = 256;
struct SMS_ADDRESS {
  SMS_ADDRESS_TYPE smsatAddressType;
  char16_t ptsAddress[SMS_MAX_ADDRESS_LENGTH];
};
static_assert(sizeof(SMS_ADDRESS) == 516);

// The text provider's data. Callers may pass only a leading part of it:
// the size given to SmsSendMessage says how much (at least the first three
// fields, kTextProviderDataMinSize bytes).
inline constexpr size_t SMS_DATAGRAM_SIZE = 140;
struct TEXT_PROVIDER_SPECIFIC_DATA {
  uint32_t dwMessageOptions;  // PS_MESSAGE_OPTION_* bits
  PROVIDER_SPECIFIC_MESSAGE_CLASS psMessageClass;
  PROVIDER_SPECIFIC_REPLACE_OPTION psReplaceOption;
  uint32_t dwHeaderDataSize;
  uint8_t pbHeaderData[SMS_DATAGRAM_SIZE];
  int32_t fMessageContainsEMSHeaders;
  uint32_t dwProtocolID;
};
static_assert(sizeof(TEXT_PROVIDER_SPECIFIC_DATA) == 164);
inline constexpr uint32_t kTextProviderDataMinSize = 12;

// Failures of the radio (besides E_INVALIDARG for malformed arguments and
// E_OUTOFMEMORY).
inline constexpr HRESULT SMS_E_INVALIDPROTOCOL =
    static_cast<HRESULT>(0x82000101);  // SmsOpen: unknown provider
inline constexpr HRESULT SMS_E_INVALIDHANDLE =
    static_cast<HRESULT>(0x82000102);  // not a handle SmsOpen gave
inline constexpr HRESULT SMS_E_RADIOUNAVAILABLE =
    static_cast<HRESULT>(0x82000103);  // SmsOpen: the radio is off
inline constexpr HRESULT SMS_E_ADDRESSREFUSED =
    static_cast<HRESULT>(0x82000104);  // the network refused the address
inline constexpr HRESULT SMS_E_LOGFAILED =
    static_cast<HRESULT>(0x82000105);  // the device could not record it

// SmsOpen(provider, modes, handle out, message-available event out or
// null). Only SMS_MODE_SEND is offered; asking for the event is refused.
using SmsOpenFunction = HRESULT (*)(const char16_t* provider, uint32_t modes,
                                    SMS_HANDLE* handle, void** event);
// SmsSendMessage(handle, service centre or null, destination, validity
// period or null, data, data size in bytes, provider data, its size,
// encoding, send options, message id out or null).
using SmsSendMessageFunction = HRESULT (*)(
    SMS_HANDLE handle, const SMS_ADDRESS* service_centre,
    const SMS_ADDRESS* destination, const SystemTime* validity,
    const uint8_t* data, uint32_t data_size, const uint8_t* provider_data,
    uint32_t provider_data_size, SMS_DATA_ENCODING encoding, uint32_t options,
    SMS_MESSAGE_ID* message_id);
using SmsCloseFunction = HRESULT (*)(SMS_HANDLE handle);

}  // namespace platform

#endif  // TELVANE_PLATFORM_SMS_H_
