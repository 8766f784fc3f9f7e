// The program's bitmaps and icons, by their resource identifiers. The
// pictures are our own, drawn by tools/draw_images and built into the
// program; docs/images.md lists them.
#ifndef TELVANE_KIT_IMAGES_H_
#define TELVANE_KIT_IMAGES_H_

#include <QIcon>
#include <QPixmap>
#include <vector>

namespace kit {

// Bitmaps.
inline constexpr int kBitmapTreeIcons = 112;  // 16 x 16 strip, magenta key
inline constexpr int kBitmapFileIcons = 128;  // 16 x 16 strip, magenta key
inline constexpr int kBitmapTitleStrip = 130;
inline constexpr int kBitmapToolbar = 131;  // 16 x 16 strip, magenta key
inline constexpr int kBitmapPasswordBackground = 139;
inline constexpr int kBitmapPopup = 158;  // the popup's built-in look
// Icons.
inline constexpr int kIconTray = 129;
inline constexpr int kIconNotify = 158;

// The bitmap `id` as drawn (key colours untouched); null when unknown.
QPixmap Bitmap(int id);
// The icon `id` in its sizes; null when unknown.
QIcon Icon(int id);
// The 16 x 16 frames of a strip bitmap with its magenta made transparent;
// empty when `id` is not a strip.
std::vector<QPixmap> ImageStrip(int id);

}  // namespace kit

#endif  // TELVANE_KIT_IMAGES_H_
