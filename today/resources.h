// The resources of pelicordep.dll: its string table (Chinese, as the
// library ships), the icon 103 and the text of the options dialog 500.
#ifndef TELVANE_TODAY_RESOURCES_H_
#define TELVANE_TODAY_RESOURCES_H_

#include <QPixmap>
#include <QString>
#include <cstdint>

namespace today {

// String ids.
inline constexpr uint32_t kStringUnread = 1;    // "未读短信: %d"
inline constexpr uint32_t kStringNoUnread = 2;  // "没有未阅读的短信"

// The text of string `id`; empty for an unknown id.
QString LoadString(uint32_t id);
// The line the item shows for `count` unread messages: string 1 with the
// count in place of "%d" when it is not 0, else string 2.
QString CountText(int32_t count);

// Icon 103: the item's 16 x 16 icon, drawn on a transparent background.
inline constexpr int kIconId = 103;
QPixmap LoadIcon(int id);

// Dialog template 500: the options dialog's information text, and its
// controls' ids.
inline constexpr int kOptionsDialogId = 500;
inline constexpr int kOptionsTextId = 1001;
QString OptionsText();

}  // namespace today

#endif  // TELVANE_TODAY_RESOURCES_H_
