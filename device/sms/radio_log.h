// The phone's radio as the device keeps it: the log of every SMS submitted
// to "sms.dll" (accepted or refused), and the device settings that make the
// radio fail on purpose so that every failure path of a sender can be
// driven.
//
// The log is the table `radio_sms` of device.db; its columns and the
// switches are described in docs/formats/radio-log.md. Every call opens the
// current device's database (platform::DeviceDb::Get) and is a single
// statement, so calls are safe from any thread and any process. Failures (no
// device, a database error) come back as a Status; nothing throws.
#ifndef TELVANE_DEVICE_SMS_RADIO_LOG_H_
#define TELVANE_DEVICE_SMS_RADIO_LOG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/time.h"

namespace device::sms {

// One submission as the radio saw it.
struct RadioSubmission {
  int64_t id = 0;                // the row id; the message id SmsSendMessage
                                 // returns for an accepted submission
  platform::FileTime time;       // when it was submitted (UTC)
  std::u16string address;        // the destination address text
  uint32_t address_type = 0;     // SMSAT_*
  uint32_t message_class = 0;    // PS_MESSAGE_CLASS*
  uint32_t message_options = 0;  // PS_MESSAGE_OPTION_* bits
  uint32_t replace_option = 0;   // PSRO_*
  uint32_t encoding = 0;         // SMSDE_*
  uint32_t send_options = 0;     // SMS_OPTION_DELIVERY_*
  std::string data;              // the data bytes exactly as passed
  int32_t result = 0;            // 0 accepted, else the failure returned

  bool accepted() const { return result == 0; }
  // The data read as UTF-16 little-endian (an odd last byte is dropped).
  std::u16string text() const;
};

// Creates the table when missing.
platform::Status EnsureRadioLog();

// Appends a submission (its id is ignored); returns the new row id.
std::optional<int64_t> RecordSubmission(const RadioSubmission& submission,
                                        platform::Status* status = nullptr);

// The submissions in the order they were made; refused ones only when
// `include_refused` is set.
std::optional<std::vector<RadioSubmission>> ListSubmissions(
    bool include_refused, platform::Status* status = nullptr);

// Empties the log.
platform::Status ClearRadioLog();

// ---------------------------------------------------------------- switches

// Device setting keys.
inline constexpr char kSettingOpenFails[] = "sms_open_fails";
inline constexpr char kSettingRefuseTypes[] = "sms_refuse_types";
inline constexpr char kSettingRefuseMatch[] = "sms_refuse_match";

struct RadioSwitches {
  bool open_fails = false;              // SmsOpen fails
  std::vector<uint32_t> refused_types;  // address types refused...
  std::string refuse_match = "*";       // ...for addresses matching this
};

// Reads the switches from the device settings. Entries of the type list
// that are not numbers are ignored.
RadioSwitches ReadRadioSwitches();

// True when `address` matches one of the ","-separated glob patterns ("*"
// any run of characters, "?" any one character, everything else itself).
// An empty pattern list matches nothing.
bool MatchesAddressPattern(std::string_view patterns, std::string_view address);

// True when the switches refuse `type` for `address` (UTF-8).
bool Refuses(const RadioSwitches& switches, std::string_view address,
             uint32_t type);

}  // namespace device::sms

#endif  // TELVANE_DEVICE_SMS_RADIO_LOG_H_
