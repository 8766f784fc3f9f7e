// The description of a font as the settings keep it: the platform's wide
// LOGFONT structure, 92 bytes, stored byte for byte as a REG_BINARY value
// ("TreeviewFont", "ListViewFont", "ContentFont" under "Software\Pelicorde").
//
// Layout (little-endian, no padding; docs/formats/settings-registry.md):
//   0  height            int32      20 italic            uint8
//   4  width             int32      21 underline         uint8
//   8  escapement        int32      22 strike_out        uint8
//  12  orientation       int32      23 charset           uint8
//  16  weight            int32      24 out_precision     uint8
//                                   25 clip_precision    uint8
//                                   26 quality           uint8
//                                   27 pitch_and_family  uint8
//  28  face_name         32 UTF-16 units, zero-terminated when shorter
//
// Plain values; every function here is thread-compatible.
#ifndef TELVANE_SETTINGS_FONT_DESCRIPTION_H_
#define TELVANE_SETTINGS_FONT_DESCRIPTION_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace settings {

struct FontDescription {
  int32_t height = 0;
  int32_t width = 0;
  int32_t escapement = 0;
  int32_t orientation = 0;
  int32_t weight = 0;
  uint8_t italic = 0;
  uint8_t underline = 0;
  uint8_t strike_out = 0;
  uint8_t charset = 0;
  uint8_t out_precision = 0;
  uint8_t clip_precision = 0;
  uint8_t quality = 0;
  uint8_t pitch_and_family = 0;
  char16_t face_name[32] = {};

  bool operator==(const FontDescription&) const = default;
};

inline constexpr size_t kFontDescriptionSize = 92;
static_assert(sizeof(FontDescription) == kFontDescriptionSize,
              "FontDescription must mirror the 92-byte wide LOGFONT");

// The platform's constants used by the default description.
inline constexpr int32_t kFontWeightNormal = 400;
inline constexpr uint8_t kDefaultCharset = 1;      // the default character set
inline constexpr uint8_t kFontFamilySwiss = 0x20;  // pitch-and-family

// Height -12, weight 400, character set 1, pitch-and-family 0x20 (swiss),
// face name "System"; every other field 0.
FontDescription DefaultFontDescription();

// The face name up to its first zero unit (all 32 units when none).
std::u16string FaceName(const FontDescription& font);
// Sets the face name, cut to 31 units so that it stays zero-terminated; the
// rest of the array is zero-filled.
void SetFaceName(FontDescription* font, std::u16string_view name);

// The 92 stored bytes (little-endian fields in the order above).
std::string EncodeFontDescription(const FontDescription& font);
// The description held by `bytes`; nullopt unless it is exactly 92 bytes.
// Any 92 bytes decode (the face name is taken as stored).
std::optional<FontDescription> DecodeFontDescription(std::string_view bytes);

}  // namespace settings

#endif  // TELVANE_SETTINGS_FONT_DESCRIPTION_H_
