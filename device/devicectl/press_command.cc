// devicectl press: a hardware key of the device pressed (or released), as
// the phone's keypad would: to the window holding it as a hotkey, else to
// the program in front.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "device/devicectl/devicectl.h"
#include "platform/hotkeys.h"

namespace device::devicectl {
namespace {

using cli::kFailure;
using cli::UsageError;

struct PressArgs {
  std::string key;
  bool up = false;
};

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string KnownNames() {
  std::string names;
  for (const platform::HardwareKeyName& key : platform::HardwareKeyNames()) {
    if (platform::FindHardwareKey(key.name) != &key) continue;  // twice
    if (!names.empty()) names += ", ";
    names += key.name;
  }
  return names;
}

int Press(const PressArgs& args) {
  uint16_t code = 0;
  uint32_t modifiers = 0;
  if (const platform::HardwareKeyName* key =
          platform::FindHardwareKey(args.key)) {
    code = key->key_code;
    modifiers = key->modifiers;
  } else if (Lower(args.key) == "back") {
    code = platform::kBackKeyCode;
  } else {
    char* end = nullptr;
    errno = 0;
    unsigned long number = std::strtoul(args.key.c_str(), &end, 0);
    if (args.key.empty() || errno != 0 || *end != '\0' || number == 0 ||
        number > 0xFFFF || args.key[0] == '-') {
      return UsageError("unknown key \"" + args.key + "\": a key code or " +
                        "one of Back, " + KnownNames());
    }
    code = static_cast<uint16_t>(number);
    for (const platform::HardwareKeyName& key : platform::HardwareKeyNames()) {
      if (key.key_code == code) {
        modifiers = key.modifiers;
        break;
      }
    }
  }
  if (!RequireDevice()) return kFailure;
  // Nobody to take it is not a failure: a keypad press into an empty
  // screen does nothing either.
  platform::PressKey(code, modifiers, args.up);
  return 0;
}

}  // namespace

void AddPressCommands(cli::Tool& tool) {
  auto args = std::make_shared<PressArgs>();
  CLI::App* press = tool.AddCommand(
      tool.root(), "press",
      "press a hardware key: to the window holding it as a hotkey, else to "
      "the program in front",
      [args] { return Press(*args); });
  press
      ->add_option("KEY", args->key,
                   "a key name (Action, Left, Button1, Remote7, \"Volumn "
                   "Up\", Record, Back...; any letter case) or a key code")
      ->required();
  press->add_flag("--up", args->up, "release the key instead");
}

}  // namespace device::devicectl
