// Text at the edge between the core (std::u16string) and Qt (QString), and
// the string table's texts as QString.
#ifndef TELVANE_KIT_QT_TEXT_H_
#define TELVANE_KIT_QT_TEXT_H_

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

namespace kit {

inline QString Q(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()),
                 static_cast<qsizetype>(text.size()));
}

inline std::u16string U(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<size_t>(text.size()));
}

// The string table's text for `id` (empty when the table has none).
QString Str(uint32_t id);

}  // namespace kit

#endif  // TELVANE_KIT_QT_TEXT_H_
