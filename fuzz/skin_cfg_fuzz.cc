// The popup's skin file as outside input: any bytes read without a crash,
// every line stays within the line buffer, and every value a load takes
// stays in its range (rectangles ordered, colours 24-bit, values that a
// file did not give keep their defaults).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "alerts/ui/skin_file.h"

namespace {

void CheckRect(const alerts::ui::SkinRect& rect) {
  if (rect.right < rect.left || rect.bottom < rect.top) std::abort();
}

void CheckColour(uint32_t colour) {
  if (colour > 0xFFFFFFu) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  alerts::ui::CfgFile file(bytes);
  for (const std::string& line : file.lines()) {
    if (line.empty() || line.size() >= alerts::ui::kCfgLineCapacity) {
      std::abort();
    }
  }
  alerts::ui::PopupSkin skin;
  alerts::ui::ReadSkinValues(file, &skin);
  CheckRect(skin.num_text_rect);
  CheckRect(skin.des_text_rect);
  CheckRect(skin.num_label_rect);
  CheckRect(skin.des_label_rect);
  CheckRect(skin.photo_rect);
  CheckColour(skin.num_color);
  CheckColour(skin.des_color);
  CheckColour(skin.label_color);
  if (skin.transparent_color) CheckColour(*skin.transparent_color);
  // A second load over the first changes nothing more.
  alerts::ui::PopupSkin again = skin;
  alerts::ui::ReadSkinValues(file, &again);
  if (!(again == skin)) std::abort();

  // The value forms straight on the input.
  if (auto rect = alerts::ui::ParseSkinRect(bytes)) CheckRect(*rect);
  if (auto colour = alerts::ui::ParseSkinColour(bytes)) CheckColour(*colour);
  if (auto value = alerts::ui::ParseSkinInteger(bytes)) {
    if (bytes.size() > alerts::ui::kMaxIntegerChars) std::abort();
  }
  return 0;
}
