// The Today screen and its items: how the device's home screen (the host,
// `todayshell`) and an item library (such as pelicordep.dll) talk.
//
// An item is a library registered under
//   HKLM \SOFTWARE\Microsoft\Today\Items\<name>
// with the values "Type" (DWORD), "Enabled" (DWORD, 0 or 1), "Options"
// (DWORD, 1 when the item has an options dialog) and "DLL" (REG_SZ, the
// library's device path). The host loads each enabled item's library and
// finds its two entry points by ordinal number (EntryPointByOrdinal below):
//
//   240  InitializeItem: (record, parent window) -> item window or null
//   241  OptionsDialogProcedure: (dialog, message, first, second) -> result
//
// Windows are the host's widgets, passed here as opaque pointers (a
// QWidget* on this device: the platform layer knows nothing of the widget
// kit). A window that takes messages carries its window procedure as the
// widget property kProcedureProperty (a quintptr holding a
// WindowProcedure); SendMessage to a window is a call of that procedure on
// the calling (the host's user-interface) thread. The item window is a
// child of the host's screen widget, which answers kGetColor.
//
// Everything happens on the host's user-interface thread; nothing here is
// thread-safe. docs/formats/today-plugin.md describes the protocol, the
// ordinal names and the messages.
#ifndef TELVANE_PLATFORM_TODAY_H_
#define TELVANE_PLATFORM_TODAY_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/modules.h"

namespace platform::today {

// The registry key whose subkeys are the Today items (local machine).
inline constexpr std::u16string_view kItemsKey =
    u"\\SOFTWARE\\Microsoft\\Today\\Items";

// The record the host keeps for each item and passes to its calls. The
// item may change `height` (it does on the first refresh query); the host
// owns the record and keeps it at one address for the item's life.
struct ItemRecord {
  std::u16string name;       // the item's registry key name
  uint32_t type = 0;         // "Type"
  bool enabled = false;      // "Enabled": an item is shown only when set
  bool has_options = false;  // "Options"
  int height = 0;            // the item's height in pixels; 0 = not known
  const Library* module = nullptr;  // the item's library, as loaded
  void* window = nullptr;           // the item window, once created
};

// Window procedure: (window, message, first, second) -> result.
using WindowProcedure = intptr_t (*)(void* window, uint32_t message,
                                     uintptr_t first, intptr_t second);
// Ordinal 240: creates the item's window as a child of `parent`; null when
// the item is disabled or cannot start.
using InitializeItemFunction = void* (*)(ItemRecord* record, void* parent);

// The widget property that holds a window's WindowProcedure.
inline constexpr char kProcedureProperty[] = "windowProcedure";
// The widget property that holds a window's class name (a string).
inline constexpr char kClassProperty[] = "windowClass";

// Ordinals.
inline constexpr int kOrdinalInitializeItem = 240;
inline constexpr int kOrdinalOptionsDialog = 241;

// Messages. first/second as listed.
inline constexpr uint32_t kPaint = 0x000F;            // -> 0
inline constexpr uint32_t kEraseBackground = 0x0014;  // -> 1 (nothing erased)
inline constexpr uint32_t kLeftButtonUp = 0x0202;     // a tap; -> 0
inline constexpr uint32_t kInitDialog = 0x0110;       // dialog built; -> 1
inline constexpr uint32_t kCommand = 0x0111;          // first: control id
// Host -> item: the host's visual theme changed; drop cached drawing.
inline constexpr uint32_t kClearCache = 1266;
// Host -> item, second: the ItemRecord*. 1 when the item must be repainted
// (its content or height changed), else 0.
inline constexpr uint32_t kQueryRefreshCache = 1267;
// Item -> host screen, first: a colour index. The colour as 0x00BBGGRR.
inline constexpr uint32_t kGetColor = 1124;
// The colour index of the screen's text colour.
inline constexpr uint32_t kColorText = 0x10000004;
// The command id of a dialog's OK button.
inline constexpr uintptr_t kIdOk = 1;

// The symbol that stands for an export ordinal: device libraries are ELF
// files, which export by name only, so ordinal N is exported as the
// extern "C" function "OrdinalN" (240 -> "Ordinal240").
inline std::string OrdinalSymbolName(int ordinal) {
  return "Ordinal" + std::to_string(ordinal);
}
// The entry point of `library` exported under `ordinal`, or nullptr.
inline void* EntryPointByOrdinal(const Library& library, int ordinal) {
  return library.Symbol(OrdinalSymbolName(ordinal).c_str());
}

// Colour helpers for the 0x00BBGGRR form.
inline constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return uint32_t{r} | (uint32_t{g} << 8) | (uint32_t{b} << 16);
}

}  // namespace platform::today

#endif  // TELVANE_PLATFORM_TODAY_H_
