// Starting device programs, command lines and start-up shortcuts.
//
// A device program is started from its device path ("\windows\loader.exe"):
// its host file inside fs/ is executed with the device's environment
// (TELVANE_DEVICE set to this device). Arguments are passed as the program's
// argv (argv[0] is the device path). Programs started detached are not the
// caller's children: nothing has to wait for them.
//
// A shortcut file (".lnk") holds one line: the number of characters of the
// command line, "#", then the command line, e.g.
//   38#\windows\loader.exe "\x\pelicorde.exe"
// See docs/formats/shortcut.md.
#ifndef TELVANE_PLATFORM_PROCESSES_H_
#define TELVANE_PLATFORM_PROCESSES_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace platform {

struct StartOptions {
  // Detached: the program runs on its own (new session, no zombie left for
  // the caller to reap); the result is its pid all the same.
  bool detached = true;
  // Keep the caller's stdout/stderr; otherwise they go to /dev/null.
  bool inherit_output = false;
};

std::optional<pid_t> StartProgram(std::u16string_view device_path,
                                  const std::vector<std::u16string>& arguments,
                                  const StartOptions& options = {},
                                  Status* status = nullptr);

// Splits a command line the platform's way: arguments are separated by
// spaces or tabs; double quotes group (and are removed); a backslash is
// literal (device paths are full of them) except that \" is a quote.
std::vector<std::u16string> SplitCommandLine(std::u16string_view command_line);

// Starts the program a command line names, with the rest as arguments.
std::optional<pid_t> StartCommandLine(std::u16string_view command_line,
                                      const StartOptions& options = {},
                                      Status* status = nullptr);

// Writes a shortcut file holding the command line, in the device's ANSI
// code page as the device's shell writes it.
Status CreateShortcut(std::u16string_view shortcut_path,
                      std::u16string_view command_line);
// Reads a shortcut's command line; kInvalidArgument for a malformed file.
std::optional<std::u16string> ReadShortcut(std::u16string_view shortcut_path,
                                           Status* status = nullptr);
// Parses the text of a shortcut file.
std::optional<std::u16string> ParseShortcut(std::string_view text);

// The device's Startup folder ("\Windows\StartUp").
std::u16string StartupFolder();

// Runs every shortcut of the Startup folder in name order, as the device
// does at boot; returns how many programs were started.
int RunStartupShortcuts();

}  // namespace platform

#endif  // TELVANE_PLATFORM_PROCESSES_H_
