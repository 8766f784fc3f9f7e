#include "app/format.h"

#include <vector>

#include "kit/qt_text.h"

namespace app {

namespace {

template <class Args>
std::u16string Fill(std::u16string_view format, const Args& args) {
  std::u16string out;
  out.reserve(format.size());
  auto next = std::begin(args);
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size() &&
        (format[i + 1] == u's' || format[i + 1] == u'd')) {
      if (next != std::end(args)) out += *next++;
      ++i;
      continue;
    }
    out += format[i];
  }
  return out;
}

}  // namespace

std::u16string FillFormat(std::u16string_view format,
                          std::initializer_list<std::u16string_view> args) {
  return Fill(format, args);
}

QString FillFormat(const QString& format, std::initializer_list<QString> args) {
  std::vector<std::u16string> wide;
  wide.reserve(args.size());
  for (const QString& arg : args) wide.push_back(kit::U(arg));
  return kit::Q(Fill(kit::U(format), wide));
}

}  // namespace app
