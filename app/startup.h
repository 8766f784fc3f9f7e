// The program's start and end: one instance per device, the main window,
// the message loop, and the teardown in its fixed order.
#ifndef TELVANE_APP_STARTUP_H_
#define TELVANE_APP_STARTUP_H_

#include <string_view>

namespace app {

// The mutex that marks a running instance.
inline constexpr std::string_view kInstanceMutexName = "PELICORDE_EXE_MUTEX";

// Runs the program; returns its exit code (always 0).
//
// The running instance holds "PELICORDE_EXE_MUTEX" for its whole life. A
// start that finds the mutex held by a live instance wakes that instance's
// window (class "Dialog", titled with the product name) by posting it
// message 1274 with 0 and 515, and returns 0. (Named objects outlive the
// processes on this platform, so a mutex left behind by an instance that
// has ended is taken over rather than taken as a running instance.)
//
// Otherwise it builds the main window; when the window cannot initialise
// ("ZUD_SmsCount" cannot be created) it says why in a message box (on the
// debug output alone without a display) and returns 0. Then the window is shown
// (or hidden under "AutoHide"), the loop runs until "Exit", and the companions
// are torn down. A termination request (SIGTERM, SIGINT, SIGHUP: the session
// ending, `kill`, Ctrl+C) is handled as "Exit", so the document is saved.
int RunProgram(int argc, char** argv);

class MainWindow;

// "Exit" on behalf of the system (a termination signal): every modal window
// ends as cancelled (kit::CancelAllDialogs: nothing half-edited is
// applied), and once their loops have unwound the window runs "Exit" (the
// document and settings saved, the threads stopped in order), so no dialog
// returns into a closed document.
void RequestExit(MainWindow* window);
// The second half, run from the event loop.
void ExitOnceUnwound(MainWindow* window);

}  // namespace app

#endif  // TELVANE_APP_STARTUP_H_
