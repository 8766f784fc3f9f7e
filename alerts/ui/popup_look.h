// What the popup and the skin preview share: a skin loaded with its bitmap,
// font and shape; the drawing of the popup's content; finding and loading
// the picture.
//
// Loading a skin reads the device files through platform::files. Painting
// and fonts belong to the UI thread; FindPicturePath and LoadPicture may run
// on any thread (they use QImage, never QPixmap).
#ifndef TELVANE_ALERTS_UI_POPUP_LOOK_H_
#define TELVANE_ALERTS_UI_POPUP_LOOK_H_

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <QString>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "alerts/ui/skin_file.h"
#include "platform/status.h"

class QPainter;

namespace alerts::ui {

// The logical pixels per inch of the device's display: a skin's FontSize in
// points becomes FontSize * 96 / 72 pixels.
inline constexpr int kDeviceLogicalDpi = 96;

// A skin ready to draw.
struct SkinLook {
  PopupSkin skin;
  QImage bitmap;  // the background, Format_RGB32
  QFont font;     // made from skin.font_size
  // The window's shape when skin.shaped(): the bitmap without the pixels of
  // its top-left colour. Empty otherwise.
  QRegion shape;
  bool built_in = true;  // the program's own look is installed
};

// Loads the skin `cfg_path` into `look`: the bitmap beside it (BMP), then
// the ".cfg" file (ReadSkinValues: fields the file does not reset keep the
// values `look` had), the font and the shape. Each file is read whole
// (ReadDeviceFile) before any of it is used. Any failure (an empty path, a
// missing, unreadable or undecodable bitmap, a missing or unreadable
// ".cfg") installs the built-in look instead and is returned with its
// cause. Skin files are only read, never written.
platform::Status LoadSkinLook(std::u16string_view cfg_path, SkinLook* look);
// The built-in look: the program's popup bitmap and SetBuiltInLook.
void InstallBuiltInLook(SkinLook* look);

// The region of `bitmap` whose pixels differ from its top-left pixel's
// colour (alpha ignored), gathered row by row as runs one pixel high.
// Empty for an empty bitmap.
QRegion ShapeFromBitmap(const QImage& bitmap);

// The skin font: face "System" (the desktop's default family), weight 400,
// FontSize * kDeviceLogicalDpi / 72 pixels (see kit::FontFromDescription
// for how 0 and huge sizes are taken).
QFont SkinFont(int32_t font_size);

// A skin rectangle as a QRect covering left..right-1, top..bottom-1, its
// coordinates clamped to +-32767 first.
QRect ToQRect(const SkinRect& rect);
// A platform colour value (red + green * 256 + blue * 65536).
QColor ToQColor(uint32_t colour);
// The window's geometry from the skin: position clamped to +-32767, size
// to 1..4096.
QRect DialogGeometry(const PopupSkin& skin);

// What a popup shows besides its skin.
struct PopupContent {
  QString main_text;
  QString second_text;
  QImage picture;         // null: none
  int scroll_offset = 0;  // the main text is drawn this far up
  int text_height = 0;    // the measured main text height plus 15
};

// Paints the popup: the bitmap unchanged; the second text (ShowNumber) in
// NumTextRect; the main text (ShowDescription) in DesTextRect moved up by
// the scroll offset and clipped to the rectangle; the picture (when loaded
// and ShowPhoto) fitted into PhotoRect with its aspect kept and centred;
// the labels "From:" and "Info:" (ShowNumberLabel, ShowDescriptionLabel).
// Text uses the skin font, no background and word wrap; the second text and
// the labels are centred vertically.
void PaintPopup(QPainter& painter, const SkinLook& look,
                const PopupContent& content);

// The height of `text` drawn with the skin font wrapped to the width of
// DesTextRect.
int MeasureMainText(const SkinLook& look, const QString& text);

// The whole device file at `path` (platform::files::ReadWhole) when it is
// at most `max_bytes` long; nullopt, with the cause in `status`, when it
// is missing, cannot be read whole or is larger. A part of a file is never
// returned.
std::optional<std::string> ReadDeviceFile(std::u16string_view path,
                                          size_t max_bytes,
                                          platform::Status* status = nullptr);

// What the picture search needs, copied on the UI thread.
struct PictureQuery {
  bool named_sender = false;
  std::u16string second_text;
  std::u16string given_path;     // the picture path passed to Show
  std::u16string photo_folder;   // "PhotoFolder", with its trailing "\"
  std::u16string default_photo;  // "defaultPhoto"
};

// The picture file for a popup: with a named sender and a second text, the
// first existing of PhotoFolder + second text + ".bmp", ".gif", ".jpg";
// else the given path when it exists; else "defaultPhoto" when it exists;
// else empty.
std::u16string FindPicturePath(const PictureQuery& query);

// The picture at `path` when it is a BMP, GIF or JPEG image that decodes
// (the file's content decides, not its name); a null image otherwise.
QImage LoadPicture(std::u16string_view path);

}  // namespace alerts::ui

#endif  // TELVANE_ALERTS_UI_POPUP_LOOK_H_
