// The device's locale: its default short date and time formats (device
// settings "date_format" and "time_format") and formatting with the
// platform's format pictures.
//
// Pictures: d dd ddd dddd, M MM MMM MMMM, y yy yyyy (yyy as yyyy), g gg
// (era, "A.D."), for dates; h hh H HH m mm s ss t tt for times; text in
// single quotes is copied ('' is one quote); other characters are copied.
// Month and day names are the English ones of the system's default locale.
// A run longer than a field's longest form uses that form ("ddddd" is
// "dddd", "HHH" is "HH"). The day name is computed from the date. The
// formatting functions are pure and thread-safe; the defaults read the
// device settings on every call.
#ifndef TELVANE_PLATFORM_LOCALE_H_
#define TELVANE_PLATFORM_LOCALE_H_

#include <string>
#include <string_view>

#include "platform/time.h"

namespace platform {

std::u16string DefaultShortDateFormat();  // "yyyy-M-d" unless set
std::u16string DefaultTimeFormat();       // "H:mm:ss" unless set

// Formats the date fields of `time` with `picture` (time letters are copied).
std::u16string FormatDate(const SystemTime& time, std::u16string_view picture);
// Formats the time fields of `time` with `picture` (date letters are copied).
std::u16string FormatTimeOfDay(const SystemTime& time,
                               std::u16string_view picture);

}  // namespace platform

#endif  // TELVANE_PLATFORM_LOCALE_H_
