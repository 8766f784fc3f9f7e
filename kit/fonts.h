// Fonts made from the settings' 92-byte font descriptions.
#ifndef TELVANE_KIT_FONTS_H_
#define TELVANE_KIT_FONTS_H_

#include <QFont>

#include "settings/font_description.h"

namespace kit {

// The font a description asks for: its face (the platform's "System" face
// is the desktop's default family), the absolute height as the pixel size
// (12 when 0), the weight on the same 1-1000 scale, italic, underline and
// strike-out.
QFont FontFromDescription(const settings::FontDescription& description);

// The description of `font`, for the font dialogs: height minus the pixel
// size, weight, the three styles; charset, precision and family as the
// default description has them.
settings::FontDescription DescriptionFromFont(const QFont& font);

}  // namespace kit

#endif  // TELVANE_KIT_FONTS_H_
