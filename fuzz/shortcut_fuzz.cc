// Shortcut files and command lines come from the device's disk: any bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/processes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (std::optional<std::u16string> line = platform::ParseShortcut(bytes)) {
    // A parsed command line never contains the line break it stopped at.
    if (line->find_first_of(u"\r\n") != std::u16string::npos) __builtin_trap();
    for (const std::u16string& argument : platform::SplitCommandLine(*line)) {
      if (argument.size() > line->size()) __builtin_trap();
    }
  }
  std::u16string wide(size / 2, u'\0');
  for (size_t i = 0; i + 1 < size; i += 2) {
    wide[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  size_t total = 0;
  for (const std::u16string& argument : platform::SplitCommandLine(wide)) {
    total += argument.size();
  }
  if (total > wide.size()) __builtin_trap();
  return 0;
}
