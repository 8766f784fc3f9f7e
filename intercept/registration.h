// Registration of the companions: the rule client (inrelay) with COM and the
// messaging service, the Today item (pelicordep), and the start-up shortcut.
//
// The Preference dialog calls these: when it opens, to tick its boxes from
// the registry; on every OK, to apply all three choices again. Nothing is
// registered at installation or at start-up. The values written are:
//
//   HKCR \CLSID\{20F58816-51E4-418D-92DD-8390021DCDCA}\InprocServer32
//        (default) REG_SZ "inrelay.dll"
//   HKLM \Software\Microsoft\Inbox\Svc\SMS\Rules
//        "{20F58816-51E4-418D-92DD-8390021DCDCA}" REG_DWORD 1
//   HKLM \SOFTWARE\Microsoft\Today\Items\"Telvane"
//        "Type" 4, "Enabled" 1, "Options" 1 (REG_DWORD),
//        "DLL" REG_SZ <app folder>pelicordep.dll
//
// `app_folder` is the program's folder as a device path with its trailing
// "\" (platform::FolderOf(platform::ProgramFileName()) in the program).
// The functions need a device (they use the registry and the files of the
// current device); they may be called from any thread but are meant for the
// UI thread. Each reports a failure with what failed and why; the dialog
// tells the user, and a registration that failed shows as an unticked box
// the next time it opens.
#ifndef TELVANE_INTERCEPT_REGISTRATION_H_
#define TELVANE_INTERCEPT_REGISTRATION_H_

#include <string>
#include <string_view>

#include "platform/status.h"

namespace intercept {

// The class identifier of the rule client.
inline constexpr std::u16string_view kRuleClientClsid =
    u"{20F58816-51E4-418D-92DD-8390021DCDCA}";
// The product's display name: the Today item's key is this name in quotes.
inline constexpr std::u16string_view kProductName = u"Telvane";

// Registry key paths and file names used below.
std::u16string RuleClientServerKey();  // \CLSID\{...}\InprocServer32
inline constexpr std::u16string_view kRuleClientLibrary = u"inrelay.dll";
inline constexpr std::u16string_view kRulesKey =
    u"\\Software\\Microsoft\\Inbox\\Svc\\SMS\\Rules";
inline constexpr std::u16string_view kInstalledRuleClient =
    u"\\Windows\\inrelay.dll";
std::u16string TodayItemKey();  // \SOFTWARE\Microsoft\Today\Items\"Telvane"
inline constexpr std::u16string_view kTodayLibrary = u"pelicordep.dll";
inline constexpr std::u16string_view kLoaderName = u"loader.exe";
inline constexpr std::u16string_view kInstalledLoader =
    u"\\windows\\loader.exe";
inline constexpr std::u16string_view kShortcutName = u"Pelicorde.lnk";

// True when the InprocServer32 default value reads (up to 260 characters)
// as exactly "inrelay.dll" (case counts: "InRelay.dll" is not registered)
// and the Rules value named by the class id reads as the DWORD 1.
bool IsRuleClientRegistered();

// Copies "<app_folder>inrelay.dll" over "\Windows\inrelay.dll" (where the
// messaging service loads it from), then creates the class key and its
// InprocServer32 subkey, sets the default value to "inrelay.dll" and the
// Rules value to 1. A copy that fails fails the registration before any
// key is touched (a missing library is kNotFound); so does a key that
// cannot be created or a value that cannot be written.
platform::Status RegisterRuleClient(std::u16string_view app_folder);

// Deletes the class key with its subkey (a missing key is fine) and the
// Rules value (a missing value is fine); "\Windows\inrelay.dll" stays.
// Fails when the Rules key cannot be created or opened, or a deletion fails
// for another reason than the key or value being gone already.
platform::Status UnregisterRuleClient();

// True when the Today item's key exists.
bool IsTodayItemRegistered();

// On: creates the Today item's key and writes its four values, the library
// being "<app_folder>pelicordep.dll", in one registry transaction (all of
// them or none). Off: deletes the key whole (a missing key is fine).
platform::Status SetTodayItem(bool on, std::u16string_view app_folder);

// The start-up shortcut's path and command line:
//   <Startup folder>\Pelicorde.lnk
//   \windows\loader.exe "<program_path>"
std::u16string AutostartShortcutPath();
std::u16string AutostartCommandLine(std::u16string_view program_path);

// On: copies "<app_folder>loader.exe" over "\windows\loader.exe" and writes
// the shortcut, whose command line starts the loader with the quoted
// `program_path` (the program's own device path); a failed copy writes no
// shortcut. Off: deletes the shortcut and "\windows\loader.exe", each
// whether or not the other existed (a missing file is fine); a failure to
// delete one does not keep the other.
platform::Status ApplyAutostart(bool on, std::u16string_view app_folder,
                                std::u16string_view program_path);

}  // namespace intercept

#endif  // TELVANE_INTERCEPT_REGISTRATION_H_
