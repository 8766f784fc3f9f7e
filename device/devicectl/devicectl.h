// What the command groups of devicectl share. devicectl.cc holds the device
// commands (init, install, config, registry, boot, the message store); the
// phone's other services have one file each: radio_command.cc (sent),
// leds_command.cc (leds), contacts_command.cc (contacts, sim),
// calls_command.cc (calls).
#ifndef TELVANE_DEVICE_DEVICECTL_DEVICECTL_H_
#define TELVANE_DEVICE_DEVICECTL_DEVICECTL_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/time.h"

namespace device::devicectl {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

// Prints "devicectl: MESSAGE" on stderr and returns `code`.
int Fail(const std::string& message, int code = kFailure);
// Prints the message and a pointer to `devicectl help`; returns kUsageError.
int UsageError(const std::string& message);
// True when the current device exists; otherwise prints why and returns false.
bool RequireDevice();

std::u16string U16(const std::string& text);
std::string U8(std::u16string_view text);

// "YYYY-MM-DD hh:mm:ss" of a UTC file time, for listings.
std::string FormatUtcTime(platform::FileTime time);
// The text on one line: CR, LF and backslash escaped.
std::string OneLine(std::u16string_view text);

using CommandArgs = std::vector<std::string>;

// devicectl sent ...         the radio log (radio_command.cc)
int SentCommand(const CommandArgs& args);
extern const char* const kRadioUsage;

// devicectl leds ...         the LED and vibrator history (leds_command.cc)
int LedsCommand(const CommandArgs& args);
extern const char* const kLedsUsage;

// devicectl contacts|sim ... (contacts_command.cc)
int ContactsCommand(const CommandArgs& args);
int SimCommand(const CommandArgs& args);
extern const char* const kContactsUsage;

// devicectl calls [list] | clear   the phone's call log (calls_command.cc):
// the voice calls programs asked cellcore.dll to make.
int CallsCommand(const CommandArgs& args);
extern const char* const kCallsUsage;

// Called at the end of `devicectl install`: registers the installed
// in-process servers (COM classes) in the device's registry.
platform::Status RegisterInstalledServers();

}  // namespace device::devicectl

#endif  // TELVANE_DEVICE_DEVICECTL_DEVICECTL_H_
