#include "platform/time.h"

#include <time.h>

#include <cmath>
#include <cstdint>

// Calendar arithmetic is done here on day numbers (days since 1970-01-01 in
// the proleptic Gregorian calendar), so no time_t or tm range limits apply to
// file times or OLE dates. The host's C library is used only for the clocks
// and for the time zone offset of an instant (localtime_r, tm_gmtoff).
// The byte layouts and worked examples are in docs/formats/time.md.

namespace platform {
namespace {

constexpr int64_t kTicksPerMillisecond = 10'000;
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kSecondsPerDay = 86'400;
constexpr int64_t kTicksPerDay = kSecondsPerDay * kTicksPerSecond;

constexpr int kMinFileTimeYear = 1601;
constexpr int kMaxFileTimeYear = 30827;
constexpr int kMinOleYear = 100;
constexpr int kMaxOleYear = 9999;

// Days from 1970-01-01 to year-month-day (any year; month 1..12, day 1..31).
constexpr int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year =
      (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

struct Civil {
  int64_t year;
  unsigned month;
  unsigned day;
};

// The inverse of DaysFromCivil.
constexpr Civil CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 +
                                day_of_era / 36524 - day_of_era / 146096) /
                               365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const unsigned month =
      shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  return {static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0),
          month, day};
}

constexpr int64_t kDays1601 = DaysFromCivil(1601, 1, 1);
constexpr int64_t kDaysOleEpoch = DaysFromCivil(1899, 12, 30);
static_assert(kDays1601 == -134774);
static_assert(kDaysOleEpoch == -25569);
// FILETIME of 1970-01-01 00:00 (the Unix epoch).
constexpr int64_t kUnixEpochTicks = -kDays1601 * kTicksPerDay;
static_assert(kUnixEpochTicks == 116444736000000000);
// The first tick of 30828, one past the last representable instant.
constexpr int64_t kEndTicks =
    (DaysFromCivil(kMaxFileTimeYear + 1, 1, 1) - kDays1601) * kTicksPerDay;

// 0 = Sunday; 1970-01-01 was a Thursday.
uint16_t DayOfWeek(int64_t days) {
  return static_cast<uint16_t>(((days % 7) + 7 + 4) % 7);
}

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(int64_t year, unsigned month) {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30,
                                         31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Every field but the year (checked by the caller against its own range).
bool FieldsValid(const SystemTime& t) {
  return t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= DaysInMonth(t.year, t.month) && t.hour < 24 &&
         t.minute < 60 && t.second < 60 && t.milliseconds < 1000;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

SystemTime FromTm(const struct tm& tm, long nanoseconds) {
  SystemTime t;
  t.year = static_cast<uint16_t>(tm.tm_year + 1900);
  t.month = static_cast<uint16_t>(tm.tm_mon + 1);
  t.day_of_week = static_cast<uint16_t>(tm.tm_wday);
  t.day = static_cast<uint16_t>(tm.tm_mday);
  t.hour = static_cast<uint16_t>(tm.tm_hour);
  t.minute = static_cast<uint16_t>(tm.tm_min);
  // A leap second (tm_sec 60) is shown as the last second of the minute.
  t.second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
  t.milliseconds = static_cast<uint16_t>(nanoseconds / 1'000'000);
  return t;
}

// The host's UTC offset in seconds at the instant `unix_seconds`.
std::optional<int64_t> OffsetAt(int64_t unix_seconds) {
  const auto instant = static_cast<time_t>(unix_seconds);
  struct tm tm {};
  if (localtime_r(&instant, &tm) == nullptr) return std::nullopt;
  return tm.tm_gmtoff;
}

// A file time inside 1601..30827 as signed ticks, or nothing.
std::optional<int64_t> InRange(FileTime time) {
  uint64_t value = time.value();
  if (value >= static_cast<uint64_t>(kEndTicks)) return std::nullopt;
  return static_cast<int64_t>(value);
}

}  // namespace

SystemTime CurrentSystemTime() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm tm {};
  gmtime_r(&now.tv_sec, &tm);
  return FromTm(tm, now.tv_nsec);
}

SystemTime CurrentLocalTime() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  tzset();
  struct tm tm {};
  localtime_r(&now.tv_sec, &tm);
  return FromTm(tm, now.tv_nsec);
}

std::optional<FileTime> SystemTimeToFileTime(const SystemTime& time) {
  if (time.year < kMinFileTimeYear || time.year > kMaxFileTimeYear ||
      !FieldsValid(time)) {
    return std::nullopt;
  }
  int64_t days = DaysFromCivil(time.year, time.month, time.day) - kDays1601;
  int64_t seconds = (time.hour * 60 + time.minute) * 60 + time.second;
  int64_t ticks = days * kTicksPerDay + seconds * kTicksPerSecond +
                  time.milliseconds * kTicksPerMillisecond;
  return FileTime::FromValue(static_cast<uint64_t>(ticks));
}

std::optional<SystemTime> FileTimeToSystemTime(FileTime time) {
  std::optional<int64_t> ticks = InRange(time);
  if (!ticks) return std::nullopt;
  int64_t days = *ticks / kTicksPerDay + kDays1601;
  int64_t rest = *ticks % kTicksPerDay;
  Civil civil = CivilFromDays(days);
  SystemTime t;
  t.year = static_cast<uint16_t>(civil.year);
  t.month = static_cast<uint16_t>(civil.month);
  t.day = static_cast<uint16_t>(civil.day);
  t.day_of_week = DayOfWeek(days);
  int64_t seconds = rest / kTicksPerSecond;
  t.hour = static_cast<uint16_t>(seconds / 3600);
  t.minute = static_cast<uint16_t>(seconds / 60 % 60);
  t.second = static_cast<uint16_t>(seconds % 60);
  t.milliseconds =
      static_cast<uint16_t>(rest % kTicksPerSecond / kTicksPerMillisecond);
  return t;
}

std::optional<FileTime> FileTimeToLocalFileTime(FileTime utc) {
  std::optional<int64_t> ticks = InRange(utc);
  if (!ticks) return std::nullopt;
  tzset();
  std::optional<int64_t> offset =
      OffsetAt(FloorDiv(*ticks - kUnixEpochTicks, kTicksPerSecond));
  if (!offset) return std::nullopt;
  int64_t local = *ticks + *offset * kTicksPerSecond;
  if (local < 0 || local >= kEndTicks) return std::nullopt;
  return FileTime::FromValue(static_cast<uint64_t>(local));
}

// The offset used is the one in force at the local time. A local time is
// found by trying the offsets in force a day before and a day after it (no
// zone moves more than once in two days):
//  - a time that occurs once uses the offset that reproduces it;
//  - a time that occurs twice (clocks set back) is the earlier instant;
//  - a time that does not occur (clocks set forward) is read with the offset
//    in force before the change, which lands after the change: 02:30 on a
//    night that jumps from 02:00 to 03:00 becomes 03:30.
std::optional<FileTime> LocalFileTimeToFileTime(FileTime local) {
  std::optional<int64_t> ticks = InRange(local);
  if (!ticks) return std::nullopt;
  tzset();
  int64_t local_seconds = FloorDiv(*ticks - kUnixEpochTicks, kTicksPerSecond);
  std::optional<int64_t> before = OffsetAt(local_seconds - kSecondsPerDay);
  std::optional<int64_t> after = OffsetAt(local_seconds + kSecondsPerDay);
  if (!before || !after) return std::nullopt;
  auto fits = [&](int64_t offset) {
    std::optional<int64_t> at = OffsetAt(local_seconds - offset);
    return at && *at == offset;
  };
  bool before_fits = fits(*before);
  bool after_fits = fits(*after);
  int64_t offset = *before;
  if (before_fits && after_fits) {
    offset = *before > *after ? *before : *after;  // the earlier instant
  } else if (after_fits) {
    offset = *after;
  }
  int64_t utc = *ticks - offset * kTicksPerSecond;
  if (utc < 0 || utc >= kEndTicks) return std::nullopt;
  return FileTime::FromValue(static_cast<uint64_t>(utc));
}

std::optional<SystemTime> SystemTimeToLocal(const SystemTime& utc) {
  std::optional<FileTime> file_time = SystemTimeToFileTime(utc);
  if (!file_time) return std::nullopt;
  std::optional<FileTime> local = FileTimeToLocalFileTime(*file_time);
  if (!local) return std::nullopt;
  return FileTimeToSystemTime(*local);
}

std::optional<SystemTime> LocalToSystemTime(const SystemTime& local) {
  std::optional<FileTime> file_time = SystemTimeToFileTime(local);
  if (!file_time) return std::nullopt;
  std::optional<FileTime> utc = LocalFileTimeToFileTime(*file_time);
  if (!utc) return std::nullopt;
  return FileTimeToSystemTime(*utc);
}

std::optional<double> SystemTimeToVariantTime(const SystemTime& time) {
  if (time.year < kMinOleYear || time.year > kMaxOleYear ||
      !FieldsValid(time)) {
    return std::nullopt;
  }
  int64_t days = DaysFromCivil(time.year, time.month, time.day) - kDaysOleEpoch;
  double fraction =
      static_cast<double>((time.hour * 60 + time.minute) * 60 + time.second) /
      static_cast<double>(kSecondsPerDay);
  // Before the epoch the fraction still counts forward from midnight, so it
  // is subtracted from the (negative) day number.
  return days >= 0 ? static_cast<double>(days) + fraction
                   : static_cast<double>(days) - fraction;
}

std::optional<SystemTime> VariantTimeToSystemTime(double date) {
  static constexpr double kFirstDay =
      static_cast<double>(DaysFromCivil(kMinOleYear, 1, 1) - kDaysOleEpoch);
  static constexpr double kPastLastDay =
      static_cast<double>(DaysFromCivil(kMaxOleYear + 1, 1, 1) - kDaysOleEpoch);
  if (!std::isfinite(date) || date <= kFirstDay - 1 || date >= kPastLastDay) {
    return std::nullopt;
  }
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);  // exact
  auto days = static_cast<int64_t>(whole);
  int64_t seconds =
      std::llround(fraction * static_cast<double>(kSecondsPerDay));
  if (seconds >= kSecondsPerDay) {  // rounded up to the next midnight
    ++days;
    seconds = 0;
  }
  int64_t day_number = days + kDaysOleEpoch;
  Civil civil = CivilFromDays(day_number);
  if (civil.year < kMinOleYear || civil.year > kMaxOleYear) return std::nullopt;
  SystemTime t;
  t.year = static_cast<uint16_t>(civil.year);
  t.month = static_cast<uint16_t>(civil.month);
  t.day = static_cast<uint16_t>(civil.day);
  t.day_of_week = DayOfWeek(day_number);
  t.hour = static_cast<uint16_t>(seconds / 3600);
  t.minute = static_cast<uint16_t>(seconds / 60 % 60);
  t.second = static_cast<uint16_t>(seconds % 60);
  return t;
}

uint32_t TickCount() {
  struct timespec now {};
  if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) {
    clock_gettime(CLOCK_MONOTONIC, &now);
  }
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000 +
                static_cast<uint64_t>(now.tv_nsec) / 1'000'000;
  return static_cast<uint32_t>(ms);
}

}  // namespace platform
