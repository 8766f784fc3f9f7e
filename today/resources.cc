#include "today/resources.h"

#include <QImage>
#include <iterator>

namespace today {
namespace {

struct StringEntry {
  uint32_t id;
  const char16_t* text;
};

constexpr StringEntry kStrings[] = {
    {kStringUnread, u"未读短信: %d"},
    {kStringNoUnread, u"没有未阅读的短信"},
};

// Icon 103, drawn here by hand: a closed envelope with a red dot (an
// unread message) in its top right corner.
const char* const kIcon103[] = {
    "16 16 6 1",        "  c None",         ". c #203050",
    "+ c #FDFDF4",      "@ c #2F6FD0",      "# c #D03A2F",
    "$ c #B0C4E8",      "            ### ", "           #####",
    "           #####", " ...........### ", " .@+++++++++@.  ",
    " .+@+++++++@+.  ", " .++@+++++@++.  ", " .+++@+++@+++.  ",
    " .++++@+@++++.  ", " .+++@$@$@+++.  ", " .++@$$$$$@++.  ",
    " .+@$$$$$$$@+.  ", " .@$$$$$$$$$@.  ", " .............  ",
    "                ", "                ",
};

}  // namespace

QString LoadString(uint32_t id) {
  for (const StringEntry& entry : kStrings) {
    if (entry.id == id) return QString::fromUtf16(entry.text);
  }
  return QString();
}

QString CountText(int32_t count) {
  if (count == 0) return LoadString(kStringNoUnread);
  QString text = LoadString(kStringUnread);
  return text.replace(QStringLiteral("%d"), QString::number(count));
}

QPixmap LoadIcon(int id) {
  if (id != kIconId) return QPixmap();
  return QPixmap::fromImage(QImage(kIcon103));
}

QString OptionsText() {
  return QString::fromUtf16(
      u"Telvane 今日项目\n\n显示 Telvane 打开的文档中未读短信的数目。"
      u"点击该行即可打开 Telvane。\n\n本项目没有需要设置的选项。");
}

}  // namespace today
