// What the command groups of devicectl share. devicectl.cc holds the device
// commands (init, install, config, registry, boot, the message store); the
// phone's other services have one file each, which adds its commands to
// the tool: radio_command.cc (sent), leds_command.cc (leds),
// contacts_command.cc (contacts, sim), calls_command.cc (calls),
// press_command.cc (press).
#ifndef TELVANE_DEVICE_DEVICECTL_DEVICECTL_H_
#define TELVANE_DEVICE_DEVICECTL_DEVICECTL_H_

#include <string>
#include <string_view>

#include "cli/cli.h"
#include "platform/status.h"
#include "platform/time.h"

namespace device::devicectl {

// True when the current device exists; otherwise prints why and returns false.
bool RequireDevice();

// "YYYY-MM-DD hh:mm:ss" of a UTC file time, for listings.
std::string FormatUtcTime(platform::FileTime time);
// The text on one line: CR, LF and backslash escaped.
std::string OneLine(std::u16string_view text);

// devicectl sent ...         the radio log (radio_command.cc)
void AddRadioCommands(cli::Tool& tool);

// devicectl leds ...         the LED and vibrator history (leds_command.cc)
void AddLedsCommands(cli::Tool& tool);

// devicectl contacts|sim ... (contacts_command.cc)
void AddContactsCommands(cli::Tool& tool);

// devicectl calls [list] | clear   the phone's call log (calls_command.cc):
// the voice calls programs asked cellcore.dll to make.
void AddCallsCommands(cli::Tool& tool);

// devicectl press KEY [--up]   a hardware key pressed (press_command.cc)
void AddPressCommands(cli::Tool& tool);

// Called at the end of `devicectl install`: registers the installed
// in-process servers (COM classes) in the device's registry.
platform::Status RegisterInstalledServers();

}  // namespace device::devicectl

#endif  // TELVANE_DEVICE_DEVICECTL_DEVICECTL_H_
