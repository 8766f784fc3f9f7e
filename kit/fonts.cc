#include "kit/fonts.h"

#include <QFontDatabase>
#include <algorithm>
#include <cstdlib>

#include "kit/qt_text.h"

namespace kit {

QFont FontFromDescription(const settings::FontDescription& description) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  QString face = Q(settings::FaceName(description));
  if (!face.isEmpty() &&
      face.compare(QStringLiteral("System"), Qt::CaseInsensitive) != 0) {
    font.setFamily(face);
  }
  int64_t height = description.height;
  int pixels =
      height == 0
          ? 12
          : static_cast<int>(std::min<int64_t>(std::llabs(height), 400));
  font.setPixelSize(std::max(pixels, 1));
  int weight =
      description.weight <= 0 ? 400 : std::min(description.weight, 1000);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(description.italic != 0);
  font.setUnderline(description.underline != 0);
  font.setStrikeOut(description.strike_out != 0);
  return font;
}

settings::FontDescription DescriptionFromFont(const QFont& font) {
  settings::FontDescription description = settings::DefaultFontDescription();
  int pixels = font.pixelSize() > 0
                   ? font.pixelSize()
                   : static_cast<int>(font.pointSizeF() * 96 / 72);
  description.height = -pixels;
  description.weight = static_cast<int32_t>(font.weight());
  description.italic = font.italic() ? 1 : 0;
  description.underline = font.underline() ? 1 : 0;
  description.strike_out = font.strikeOut() ? 1 : 0;
  settings::SetFaceName(&description, U(font.family()));
  return description;
}

}  // namespace kit
