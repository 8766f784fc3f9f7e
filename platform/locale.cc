#include "platform/locale.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/device.h"
#include "platform/device_db.h"
#include "platform/unicode.h"

// Picture rules, as the platform's date and time formatting applies them:
//  - A run of one letter is one field. Runs longer than the longest form of
//    a field use that longest form: "ddddd" is "dddd", "MMMMM" is "MMMM",
//    "yyyyy" is "yyyy", "HHH" is "HH", "ttt" is "tt", "ggg" is "gg".
//  - 'text' is copied without its quotes; '' (inside or outside quoted text)
//    is one quote; an unterminated quote runs to the end of the picture.
//  - Letters of the other kind (time letters in a date picture, date letters
//    in a time picture) and every other character are copied as they are.
//  - The day name comes from the date itself whenever it is a valid date
//    from 1601 on (day_of_week is not trusted); otherwise from day_of_week.
//    A month or day of the week outside its range gives an empty name.
//  - "yyyy" has at least four digits; numbers are printed as they are, even
//    out of range (month 13 is "13").

namespace platform {
namespace {

constexpr const char16_t* kDayNames[7] = {u"Sunday",    u"Monday",   u"Tuesday",
                                          u"Wednesday", u"Thursday", u"Friday",
                                          u"Saturday"};
constexpr const char16_t* kMonthNames[12] = {
    u"January",   u"February", u"March",    u"April",
    u"May",       u"June",     u"July",     u"August",
    u"September", u"October",  u"November", u"December"};

void AppendNumber(std::u16string& out, unsigned value, size_t min_digits) {
  std::string digits = std::to_string(value);
  for (size_t i = digits.size(); i < min_digits; ++i) out += u'0';
  for (char c : digits) out += static_cast<char16_t>(c);
}

// The first `length` characters of `name` (all of it when length is 0).
void AppendName(std::u16string& out, const char16_t* name, size_t length) {
  std::u16string_view view(name);
  out += length == 0 ? view : view.substr(0, length);
}

// Day of the week (0 = Sunday) computed from the date; the stored field when
// the date is not one the file time arithmetic accepts (before 1601).
std::optional<unsigned> WeekDay(const SystemTime& time) {
  SystemTime date_only = time;
  date_only.hour = date_only.minute = date_only.second = 0;
  date_only.milliseconds = 0;
  if (std::optional<FileTime> file_time = SystemTimeToFileTime(date_only)) {
    if (std::optional<SystemTime> full = FileTimeToSystemTime(*file_time)) {
      return full->day_of_week;
    }
  }
  if (time.day_of_week < 7) return time.day_of_week;
  return std::nullopt;
}

enum class PictureKind { kDate, kTime };

bool IsFieldLetter(char16_t c, PictureKind kind) {
  if (kind == PictureKind::kDate) {
    return c == u'd' || c == u'M' || c == u'y' || c == u'g';
  }
  return c == u'h' || c == u'H' || c == u'm' || c == u's' || c == u't';
}

void AppendDateField(std::u16string& out, const SystemTime& time,
                     char16_t letter, size_t run) {
  switch (letter) {
    case u'd':
      if (run <= 2) {
        AppendNumber(out, time.day, run);
      } else if (std::optional<unsigned> day = WeekDay(time)) {
        AppendName(out, kDayNames[*day], run == 3 ? 3 : 0);
      }
      break;
    case u'M':
      if (run <= 2) {
        AppendNumber(out, time.month, run);
      } else if (time.month >= 1 && time.month <= 12) {
        AppendName(out, kMonthNames[time.month - 1], run == 3 ? 3 : 0);
      }
      break;
    case u'y':
      if (run <= 2) {
        AppendNumber(out, time.year % 100, run);
      } else {
        AppendNumber(out, time.year, 4);
      }
      break;
    case u'g':
      out += u"A.D.";
      break;
  }
}

void AppendTimeField(std::u16string& out, const SystemTime& time,
                     char16_t letter, size_t run) {
  size_t width = run >= 2 ? 2 : 1;
  switch (letter) {
    case u'h': {
      unsigned hour = time.hour % 12;
      AppendNumber(out, hour == 0 ? 12 : hour, width);
      break;
    }
    case u'H':
      AppendNumber(out, time.hour, width);
      break;
    case u'm':
      AppendNumber(out, time.minute, width);
      break;
    case u's':
      AppendNumber(out, time.second, width);
      break;
    case u't':
      out += time.hour < 12 ? (width == 1 ? u"A" : u"AM")
                            : (width == 1 ? u"P" : u"PM");
      break;
  }
}

std::u16string Format(const SystemTime& time, std::u16string_view picture,
                      PictureKind kind) {
  std::u16string out;
  out.reserve(picture.size() + 16);
  size_t i = 0;
  while (i < picture.size()) {
    char16_t c = picture[i];
    if (c == u'\'') {
      ++i;
      if (i < picture.size() && picture[i] == u'\'') {  // '' outside quotes
        out += u'\'';
        ++i;
        continue;
      }
      while (i < picture.size()) {
        if (picture[i] != u'\'') {
          out += picture[i++];
        } else if (i + 1 < picture.size() && picture[i + 1] == u'\'') {
          out += u'\'';
          i += 2;
        } else {
          ++i;  // the closing quote
          break;
        }
      }
      continue;
    }
    if (!IsFieldLetter(c, kind)) {
      out += c;
      ++i;
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    if (kind == PictureKind::kDate) {
      AppendDateField(out, time, c, run);
    } else {
      AppendTimeField(out, time, c, run);
    }
    i += run;
  }
  return out;
}

std::u16string SettingOr(std::string_view key, const char16_t* fallback) {
  std::optional<std::string> value = GetDeviceSetting(key);
  if (!value || value->empty()) return fallback;
  return FromUtf8(*value);
}

// Every message title carries a date and a time, so the two pictures are
// read once and then only again after device.db has changed.
struct Pictures {
  std::u16string date;
  std::u16string time;
};

Pictures CurrentPictures() {
  static auto* cache = new ChangeCachedValue<Pictures>();  // used until exit
  return cache->Get([] {
    return Pictures{SettingOr("date_format", u"yyyy-M-d"),
                    SettingOr("time_format", u"H:mm:ss")};
  });
}

}  // namespace

std::u16string DefaultShortDateFormat() { return CurrentPictures().date; }

std::u16string DefaultTimeFormat() { return CurrentPictures().time; }

std::u16string FormatDate(const SystemTime& time, std::u16string_view picture) {
  return Format(time, picture, PictureKind::kDate);
}

std::u16string FormatTimeOfDay(const SystemTime& time,
                               std::u16string_view picture) {
  return Format(time, picture, PictureKind::kTime);
}

}  // namespace platform
