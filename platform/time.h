// Time: the platform's system time, file time, OLE automation dates, local
// and UTC conversion, and the millisecond tick count.
//
// Local time is the host's (the TZ environment variable applies).
// Calendar arithmetic is exact over the whole range (no time_t limits); the
// byte layouts and worked examples are in docs/formats/time.md. Every
// function is thread-safe (changing TZ while another thread converts is not).
#ifndef TELVANE_PLATFORM_TIME_H_
#define TELVANE_PLATFORM_TIME_H_

#include <cstdint>
#include <optional>

namespace platform {

// The platform's SYSTEMTIME: eight 16-bit fields in this order.
struct SystemTime {
  uint16_t year = 0;         // 1601..30827
  uint16_t month = 0;        // 1..12
  uint16_t day_of_week = 0;  // 0 = Sunday
  uint16_t day = 0;          // 1..31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};
static_assert(sizeof(SystemTime) == 16);

// The platform's FILETIME: 100-nanosecond units since 1 January 1601 (UTC
// unless stated otherwise), stored low 32 bits first.
struct FileTime {
  uint32_t low = 0;
  uint32_t high = 0;
  uint64_t value() const { return (uint64_t{high} << 32) | low; }
  static FileTime FromValue(uint64_t v) {
    return FileTime{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
  }
};
static_assert(sizeof(FileTime) == 8);

SystemTime CurrentSystemTime();  // now, UTC
SystemTime CurrentLocalTime();   // now, local time

// Fails for fields out of range (month 13, day 32, ...); day_of_week is
// ignored on input and filled in on output. Valid: year 1601..30827, month
// 1..12, day 1..days in the month, hour < 24, minute < 60, second < 60,
// milliseconds < 1000. File times past 30827-12-31 23:59:59.9999999 fail.
std::optional<FileTime> SystemTimeToFileTime(const SystemTime& time);
std::optional<SystemTime> FileTimeToSystemTime(FileTime time);
// UTC to local uses the offset in force at that instant. Local to UTC uses
// the offset in force at that local time: a local time that occurs twice
// (clocks set back) is the earlier instant; one that never occurs (clocks
// set forward) is read with the offset from before the change. Both fail
// when the result falls outside 1601..30827.
std::optional<FileTime> FileTimeToLocalFileTime(FileTime utc);
std::optional<FileTime> LocalFileTimeToFileTime(FileTime local);
// Convenience: the two steps above on system times.
std::optional<SystemTime> SystemTimeToLocal(const SystemTime& utc);
std::optional<SystemTime> LocalToSystemTime(const SystemTime& local);

// OLE automation dates: days since 30 December 1899 as a double, the time of
// day in the fraction. As on the platform, milliseconds are ignored when a
// date is made, and a date is rounded to the nearest second when it is read;
// for dates before 1899-12-30 the fraction counts forward from midnight
// (-1.25 is 29 December 1899, 06:00). Years 100..9999; NaN, infinities and
// dates outside that range fail.
std::optional<double> SystemTimeToVariantTime(const SystemTime& time);
std::optional<SystemTime> VariantTimeToSystemTime(double date);

// Milliseconds since the device started (the host's boot clock), wrapping at
// 2^32: take intervals as unsigned differences.
uint32_t TickCount();

}  // namespace platform

#endif  // TELVANE_PLATFORM_TIME_H_
