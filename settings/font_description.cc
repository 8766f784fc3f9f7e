#include "settings/font_description.h"

#include <algorithm>

namespace settings {

namespace {

void PutInt32(std::string* out, int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) {
    out->push_back(static_cast<char>((bits >> shift) & 0xff));
  }
}

uint8_t ByteAt(std::string_view bytes, size_t offset) {
  return static_cast<uint8_t>(bytes[offset]);
}

int32_t Int32At(std::string_view bytes, size_t offset) {
  uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) bits = (bits << 8) | ByteAt(bytes, offset + i);
  return static_cast<int32_t>(bits);
}

constexpr size_t kFaceNameOffset = 28;
constexpr size_t kFaceNameUnits = 32;

}  // namespace

FontDescription DefaultFontDescription() {
  FontDescription font;
  font.height = -12;
  font.weight = kFontWeightNormal;
  font.charset = kDefaultCharset;
  font.pitch_and_family = kFontFamilySwiss;
  SetFaceName(&font, u"System");
  return font;
}

std::u16string FaceName(const FontDescription& font) {
  const char16_t* end =
      std::find(font.face_name, font.face_name + kFaceNameUnits, u'\0');
  return std::u16string(font.face_name, end);
}

void SetFaceName(FontDescription* font, std::u16string_view name) {
  std::fill(font->face_name, font->face_name + kFaceNameUnits, u'\0');
  size_t count = std::min(name.size(), kFaceNameUnits - 1);
  std::copy_n(name.begin(), count, font->face_name);
}

std::string EncodeFontDescription(const FontDescription& font) {
  std::string out;
  out.reserve(kFontDescriptionSize);
  PutInt32(&out, font.height);
  PutInt32(&out, font.width);
  PutInt32(&out, font.escapement);
  PutInt32(&out, font.orientation);
  PutInt32(&out, font.weight);
  for (uint8_t byte : {font.italic, font.underline, font.strike_out,
                       font.charset, font.out_precision, font.clip_precision,
                       font.quality, font.pitch_and_family}) {
    out.push_back(static_cast<char>(byte));
  }
  for (char16_t unit : font.face_name) {
    out.push_back(static_cast<char>(unit & 0xff));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

std::optional<FontDescription> DecodeFontDescription(std::string_view bytes) {
  if (bytes.size() != kFontDescriptionSize) return std::nullopt;
  FontDescription font;
  font.height = Int32At(bytes, 0);
  font.width = Int32At(bytes, 4);
  font.escapement = Int32At(bytes, 8);
  font.orientation = Int32At(bytes, 12);
  font.weight = Int32At(bytes, 16);
  font.italic = ByteAt(bytes, 20);
  font.underline = ByteAt(bytes, 21);
  font.strike_out = ByteAt(bytes, 22);
  font.charset = ByteAt(bytes, 23);
  font.out_precision = ByteAt(bytes, 24);
  font.clip_precision = ByteAt(bytes, 25);
  font.quality = ByteAt(bytes, 26);
  font.pitch_and_family = ByteAt(bytes, 27);
  for (size_t i = 0; i < kFaceNameUnits; ++i) {
    size_t at = kFaceNameOffset + 2 * i;
    font.face_name[i] =
        static_cast<char16_t>(ByteAt(bytes, at) | (ByteAt(bytes, at + 1) << 8));
  }
  return font;
}

}  // namespace settings
