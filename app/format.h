// Filling the string table's printf-style texts ("File: %s",
// "Unread:%d Count:%d") at the UI edge.
#ifndef TELVANE_APP_FORMAT_H_
#define TELVANE_APP_FORMAT_H_

#include <QString>
#include <initializer_list>
#include <string>
#include <string_view>

namespace app {

// Replaces each "%s" or "%d" of `format`, in order, by the next argument.
// Placeholders beyond the arguments become empty; arguments beyond the
// placeholders are dropped. Nothing else of the text changes ("%%" stays).
QString FillFormat(const QString& format, std::initializer_list<QString> args);
std::u16string FillFormat(std::u16string_view format,
                          std::initializer_list<std::u16string_view> args);

}  // namespace app

#endif  // TELVANE_APP_FORMAT_H_
