// The popup's skin file (".cfg") and the layout values it gives.
//
// A skin is two files in the "skins" folder of the program's folder, named
// after the skin: NAME.cfg (this text) and NAME.bmp (the background). The
// format is documented in docs/formats/popup-skin.md. In short: lines of at
// most 259 bytes (a longer line is read as several), "[Section]" headers,
// "Key=Value" lines, ";" comments; only the section "ZuduzAvev Skin SP" is
// used, and only its first occurrence in the file.
//
// Nothing here uses Qt or touches a window: the reader is a plain function
// over the file's bytes, so it can be fuzzed and tested without a display.
// The popup window (alert_popup_window.h) adds the bitmap, the font and the
// window's shape.
//
// Thread safety: everything here is a value or a pure function; CfgFile is
// immutable after construction and may be shared between threads.
#ifndef TELVANE_ALERTS_UI_SKIN_FILE_H_
#define TELVANE_ALERTS_UI_SKIN_FILE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace alerts::ui {

// The one section the popup reads.
inline constexpr std::string_view kSkinSection = "ZuduzAvev Skin SP";
// The line buffer: a physical line longer than kCfgLineCapacity - 1 bytes
// (its line feed counted) is read as several lines of at most that many.
inline constexpr size_t kCfgLineCapacity = 260;
// An integer value has at most this many characters.
inline constexpr size_t kMaxIntegerChars = 10;

// A rectangle in pixels relative to the popup window: left and top inside,
// right and bottom just outside (width = right - left).
struct SkinRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int64_t width() const { return int64_t{right} - left; }
  int64_t height() const { return int64_t{bottom} - top; }
  bool operator==(const SkinRect&) const = default;
};

// A colour as the platform stores it: red + green * 256 + blue * 65536.
inline constexpr uint32_t SkinColour(uint32_t red, uint32_t green,
                                     uint32_t blue) {
  return red + green * 256 + blue * 65536;
}

// The lines of a skin file as the reader sees them.
class CfgFile {
 public:
  // Splits `bytes` into lines: each ends after its line feed, a carriage
  // return just before a line feed is dropped (the file is read as text),
  // and no line holds more than kCfgLineCapacity - 1 bytes (the rest of a
  // longer line comes as the next lines). A UTF-8 byte-order mark at the
  // very start is skipped. Lines keep their line feed; zero bytes are
  // ordinary bytes.
  explicit CfgFile(std::string_view bytes);

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// The value of `key` in the first section named `section`: the section
// starts at the first line that begins with "[" and whose text from there
// up to its first "]" is exactly `section`; it ends at the next line that
// begins with "[". Lines beginning with ";" and lines without "=" are
// skipped. A line's key is everything before its first "=" (compared
// exactly, case and spaces included); the value is everything after that
// "=" without the trailing line feed and trailing spaces. The first
// matching line wins. nullopt when the section or the key is missing.
std::optional<std::string> CfgReadString(const CfgFile& file,
                                         std::string_view section,
                                         std::string_view key);

// CfgReadString, then ParseSkinInteger. nullopt when missing or malformed.
std::optional<int32_t> CfgReadInt(const CfgFile& file, std::string_view section,
                                  std::string_view key);

// An integer value: 1 to 10 characters, all decimal digits except that the
// first may be "-", and within the range of a 32-bit signed integer.
// Anything else ("12a", " 5", "+5", 11 digits, "", "-") is nullopt.
std::optional<int32_t> ParseSkinInteger(std::string_view value);

// A rectangle value "left,top,right,bottom". Each number may have white
// space and a sign before it and must fit a 32-bit signed integer; the
// commas follow the numbers directly; whatever follows the fourth number is
// ignored. right < left or bottom < top is nullopt.
std::optional<SkinRect> ParseSkinRect(std::string_view value);

// A colour value "red,green,blue" (numbers read as for rectangles), each
// 0 to 255, as SkinColour(red, green, blue); anything else is nullopt.
std::optional<uint32_t> ParseSkinColour(std::string_view value);

// The layout of the popup: what a skin file sets, with the values the popup
// starts with (the default rectangles, the built-in look's window).
struct PopupSkin {
  SkinRect num_text_rect{29, 6, 145, 22};   // "NumTextRect": second text
  SkinRect des_text_rect{50, 27, 145, 88};  // "DesTextRect": main text
  SkinRect num_label_rect{5, 32, 35, 42};   // "NumLableRect": "From:"
  SkinRect des_label_rect{5, 42, 35, 52};   // "DesLabelRect": "Info:"
  SkinRect photo_rect{8, 24, 68, 84};       // "PhotoRect": the picture
  int32_t font_size = 9;                    // "FontSize", in points
  uint32_t label_color = 0;                 // "LabelColor"
  uint32_t num_color = 0;                   // "NumColor"
  uint32_t des_color = 0;                   // "DesColor"
  // "TransparentColor" as this skin gives it (nullopt when it is missing or
  // malformed). A value other than 0 turns on the shaped window.
  std::optional<uint32_t> transparent_color;
  int32_t show_number_label = 0;       // "ShowNumberLabel"
  int32_t show_description_label = 0;  // "ShowDescriptionLabel"
  int32_t show_number = 1;             // "ShowNumber"
  int32_t show_description = 1;        // "ShowDescription"
  int32_t show_photo = 0;              // "ShowPhoto"
  int32_t dialog_left = 46;            // "DialogLeft", screen pixels
  int32_t dialog_top = 173;            // "DialogTop"
  int32_t dialog_width = 150;          // "DialogWidth"
  int32_t dialog_height = 95;          // "DialogHeight"
  // The ".cfg" file the layout came from; empty for the built-in look.
  std::u16string path;

  // Whether the window is cut to the bitmap's shape.
  bool shaped() const {
    return transparent_color.has_value() && *transparent_color != 0;
  }
  bool operator==(const PopupSkin&) const = default;
};

// The rectangles a skin gets for keys it lacks.
inline constexpr SkinRect kDefaultNumTextRect{29, 6, 145, 22};
inline constexpr SkinRect kDefaultDesTextRect{50, 27, 145, 88};
inline constexpr SkinRect kDefaultNumLabelRect{5, 32, 35, 42};
inline constexpr SkinRect kDefaultDesLabelRect{5, 42, 35, 52};
inline constexpr SkinRect kDefaultPhotoRect{8, 24, 68, 84};

// Sets the built-in look's values (the bitmap is the program's own popup
// bitmap): window 46, 173, 150 x 95; NumTextRect 29,6,145,22; DesTextRect
// 50,27,145,88; PhotoRect 5,30,45,70; the label rectangles their defaults;
// FontSize 9; colours black; labels off; second text, main text and photo
// on; TransparentColor white (shaped); path empty.
void SetBuiltInLook(PopupSkin* skin);

// Reads a skin's values from `file` into `skin`, in the popup's order:
// DialogLeft, DialogWidth, DialogTop, DialogHeight (missing or malformed:
// unchanged); the five rectangles (missing: the default; malformed:
// unchanged); FontSize reset to 9 and ShowPhoto to 0, then read; the label
// flags reset to 0 and ShowNumber/ShowDescription to 1, then read;
// NumColor, DesColor, LabelColor (missing: 0; malformed: unchanged);
// TransparentColor (as found, or nullopt). `path` is not touched.
void ReadSkinValues(const CfgFile& file, PopupSkin* skin);

// The bitmap beside a ".cfg" path: its last three characters replaced by
// "bmp" ("\skins\Blue.cfg" -> "\skins\Blue.bmp"); nullopt for a path of
// fewer than three characters.
std::optional<std::u16string> SkinBitmapPath(std::u16string_view cfg_path);

}  // namespace alerts::ui

#endif  // TELVANE_ALERTS_UI_SKIN_FILE_H_
