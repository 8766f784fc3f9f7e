// loader.exe: starts the device program named by its single argument.
//
// The Startup shortcut "Pelicorde.lnk" runs
//   \windows\loader.exe "\Program Files\Telvane\pelicorde.exe"
// at boot; the quotes are removed by the command-line split, so the program
// path arrives as argv[1]. The program is started detached. Exit status: 0
// when it was started, 1 otherwise (with a line in the debug log).
#include <string>

#include "platform/debug.h"
#include "platform/processes.h"
#include "platform/status.h"
#include "platform/unicode.h"

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    platform::DebugOutput("loader: usage: loader.exe \"<program path>\"");
    return 1;
  }
  std::u16string program = platform::FromUtf8(argv[1]);
  platform::Status status;
  if (!platform::StartProgram(program, {}, platform::StartOptions{}, &status)) {
    platform::DebugOutput("loader: cannot start " + std::string(argv[1]) +
                          ": " + status.ToString());
    return 1;
  }
  return 0;
}
