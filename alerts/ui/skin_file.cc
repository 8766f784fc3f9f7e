#include "alerts/ui/skin_file.h"

#include <limits>

namespace alerts::ui {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// White space as the C library's scanf skips it before a number.
bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// One "%d" of a scanf-style format at `*pos`: white space, an optional sign,
// at least one digit; the value must fit 32 bits.
std::optional<int32_t> ScanNumber(std::string_view text, size_t* pos) {
  size_t i = *pos;
  while (i < text.size() && IsScanSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || !IsDigit(text[i])) return std::nullopt;
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  while (i < text.size() && IsDigit(text[i])) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) return std::nullopt;
    ++i;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  *pos = i;
  return static_cast<int32_t>(value);
}

// `count` numbers separated by commas: "%d,%d,...".
bool ScanNumbers(std::string_view text, int32_t* out, int count) {
  size_t pos = 0;
  for (int n = 0; n < count; ++n) {
    if (n > 0) {
      if (pos >= text.size() || text[pos] != ',') return false;
      ++pos;
    }
    std::optional<int32_t> value = ScanNumber(text, &pos);
    if (!value) return false;
    out[n] = *value;
  }
  return true;
}

// The section name of a header line ("[Name]..."), or nullopt when the
// line has no "]" after its "[".
std::optional<std::string_view> HeaderName(std::string_view line) {
  size_t close = line.find(']', 1);
  if (close == std::string_view::npos) return std::nullopt;
  return line.substr(1, close - 1);
}

void ReadRect(const CfgFile& file, std::string_view key, SkinRect fallback,
              SkinRect* field) {
  std::optional<std::string> value = CfgReadString(file, kSkinSection, key);
  if (!value) {
    *field = fallback;
    return;
  }
  if (std::optional<SkinRect> rect = ParseSkinRect(*value)) *field = *rect;
}

void ReadInt(const CfgFile& file, std::string_view key, int32_t* field) {
  if (std::optional<int32_t> value = CfgReadInt(file, kSkinSection, key)) {
    *field = *value;
  }
}

void ReadColour(const CfgFile& file, std::string_view key, uint32_t* field) {
  std::optional<std::string> value = CfgReadString(file, kSkinSection, key);
  if (!value) {
    *field = 0;
    return;
  }
  if (std::optional<uint32_t> colour = ParseSkinColour(*value)) {
    *field = *colour;
  }
}

}  // namespace

CfgFile::CfgFile(std::string_view bytes) {
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    bytes.remove_prefix(kUtf8Bom.size());
  }
  constexpr size_t kMaxLine = kCfgLineCapacity - 1;
  std::string line;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    // Text mode: CR LF reads as LF.
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    line.push_back(c);
    if (c == '\n' || line.size() == kMaxLine) {
      lines_.push_back(std::move(line));
      line.clear();
    }
  }
  if (!line.empty()) lines_.push_back(std::move(line));
}

std::optional<std::string> CfgReadString(const CfgFile& file,
                                         std::string_view section,
                                         std::string_view key) {
  const std::vector<std::string>& lines = file.lines();
  size_t i = 0;
  for (; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (!line.empty() && line[0] == '[' && HeaderName(line) == section) break;
  }
  for (++i; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty()) continue;
    if (line[0] == '[') break;
    if (line[0] == ';') continue;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (line.substr(0, equals) != key) continue;
    std::string_view value = line.substr(equals + 1);
    if (!value.empty() && value.back() == '\n') value.remove_suffix(1);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    return std::string(value);
  }
  return std::nullopt;
}

std::optional<int32_t> CfgReadInt(const CfgFile& file, std::string_view section,
                                  std::string_view key) {
  std::optional<std::string> value = CfgReadString(file, section, key);
  if (!value) return std::nullopt;
  return ParseSkinInteger(*value);
}

std::optional<int32_t> ParseSkinInteger(std::string_view value) {
  if (value.empty() || value.size() > kMaxIntegerChars) return std::nullopt;
  bool negative = value[0] == '-';
  std::string_view digits = negative ? value.substr(1) : value;
  if (digits.empty()) return std::nullopt;
  int64_t number = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return std::nullopt;
    number = number * 10 + (c - '0');  // at most 10 digits: no overflow
  }
  if (negative) number = -number;
  if (number < std::numeric_limits<int32_t>::min() ||
      number > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(number);
}

std::optional<SkinRect> ParseSkinRect(std::string_view value) {
  int32_t n[4];
  if (!ScanNumbers(value, n, 4)) return std::nullopt;
  if (n[2] < n[0] || n[3] < n[1]) return std::nullopt;
  return SkinRect{n[0], n[1], n[2], n[3]};
}

std::optional<uint32_t> ParseSkinColour(std::string_view value) {
  int32_t n[3];
  if (!ScanNumbers(value, n, 3)) return std::nullopt;
  for (int32_t part : n) {
    if (part < 0 || part > 255) return std::nullopt;
  }
  return SkinColour(static_cast<uint32_t>(n[0]), static_cast<uint32_t>(n[1]),
                    static_cast<uint32_t>(n[2]));
}

void SetBuiltInLook(PopupSkin* skin) {
  skin->dialog_left = 46;
  skin->dialog_top = 173;
  skin->dialog_width = 150;
  skin->dialog_height = 95;
  skin->num_text_rect = kDefaultNumTextRect;
  skin->des_text_rect = kDefaultDesTextRect;
  skin->num_label_rect = kDefaultNumLabelRect;
  skin->des_label_rect = kDefaultDesLabelRect;
  skin->photo_rect = SkinRect{5, 30, 45, 70};
  skin->font_size = 9;
  skin->num_color = 0;
  skin->des_color = 0;
  skin->label_color = 0;
  skin->show_number_label = 0;
  skin->show_description_label = 0;
  skin->show_number = 1;
  skin->show_description = 1;
  skin->show_photo = 1;
  skin->transparent_color = SkinColour(255, 255, 255);
  skin->path.clear();
}

void ReadSkinValues(const CfgFile& file, PopupSkin* skin) {
  ReadInt(file, "DialogLeft", &skin->dialog_left);
  ReadInt(file, "DialogWidth", &skin->dialog_width);
  ReadInt(file, "DialogTop", &skin->dialog_top);
  ReadInt(file, "DialogHeight", &skin->dialog_height);
  ReadRect(file, "NumTextRect", kDefaultNumTextRect, &skin->num_text_rect);
  ReadRect(file, "DesTextRect", kDefaultDesTextRect, &skin->des_text_rect);
  ReadRect(file, "DesLabelRect", kDefaultDesLabelRect, &skin->des_label_rect);
  ReadRect(file, "NumLableRect", kDefaultNumLabelRect, &skin->num_label_rect);
  ReadRect(file, "PhotoRect", kDefaultPhotoRect, &skin->photo_rect);
  skin->font_size = 9;
  skin->show_photo = 0;
  ReadInt(file, "FontSize", &skin->font_size);
  ReadInt(file, "ShowPhoto", &skin->show_photo);
  skin->show_number_label = 0;
  skin->show_description_label = 0;
  skin->show_number = 1;
  skin->show_description = 1;
  ReadInt(file, "ShowNumberLabel", &skin->show_number_label);
  ReadInt(file, "ShowDescriptionLabel", &skin->show_description_label);
  ReadInt(file, "ShowNumber", &skin->show_number);
  ReadInt(file, "ShowDescription", &skin->show_description);
  ReadColour(file, "NumColor", &skin->num_color);
  ReadColour(file, "DesColor", &skin->des_color);
  ReadColour(file, "LabelColor", &skin->label_color);
  skin->transparent_color.reset();
  if (std::optional<std::string> value =
          CfgReadString(file, kSkinSection, "TransparentColor")) {
    skin->transparent_color = ParseSkinColour(*value);
  }
}

std::optional<std::u16string> SkinBitmapPath(std::u16string_view cfg_path) {
  if (cfg_path.size() < 3) return std::nullopt;
  std::u16string path(cfg_path.substr(0, cfg_path.size() - 3));
  path += u"bmp";
  return path;
}

}  // namespace alerts::ui
