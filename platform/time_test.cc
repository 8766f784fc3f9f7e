#include "platform/time.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>

namespace platform {
namespace {

SystemTime Make(int year, int month, int day, int hour = 0, int minute = 0,
                int second = 0, int ms = 0) {
  SystemTime t;
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month);
  t.day = static_cast<uint16_t>(day);
  t.hour = static_cast<uint16_t>(hour);
  t.minute = static_cast<uint16_t>(minute);
  t.second = static_cast<uint16_t>(second);
  t.milliseconds = static_cast<uint16_t>(ms);
  return t;
}

std::string Show(const SystemTime& t) {
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d w%d", t.year,
           t.month, t.day, t.hour, t.minute, t.second, t.milliseconds,
           t.day_of_week);
  return text;
}

std::string Show(const std::optional<SystemTime>& t) {
  return t ? Show(*t) : "none";
}

uint64_t Ticks(const SystemTime& t) {
  std::optional<FileTime> ft = SystemTimeToFileTime(t);
  EXPECT_TRUE(ft.has_value()) << Show(t);
  return ft ? ft->value() : 0;
}

constexpr uint64_t kTicksPerDay = 864'000'000'000;

// Sets TZ for one test and restores the previous value afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = getenv("TZ")) {
      had_old_ = true;
      old_ = old;
    }
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_old_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_old_ = false;
  std::string old_;
};

TEST(FileTimeTest, KnownValuesAndLimits) {
  EXPECT_EQ(Ticks(Make(2000, 1, 1)), 125911584000000000u);
  EXPECT_EQ(Ticks(Make(1601, 1, 1)), 0u);
  EXPECT_EQ(Ticks(Make(1970, 1, 1)), 116444736000000000u);
  EXPECT_EQ(Ticks(Make(2006, 3, 5, 7, 8, 9, 10)), 127860160890100000u);
  // 1601-01-01 was a Monday, 2000-01-01 a Saturday.
  EXPECT_EQ(Show(FileTimeToSystemTime(FileTime{})),
            "1601-01-01 00:00:00.000 w1");
  EXPECT_EQ(Show(FileTimeToSystemTime(FileTime::FromValue(125911584000000000))),
            "2000-01-01 00:00:00.000 w6");

  // The last millisecond of 30827 and the first instant past it.
  uint64_t last = Ticks(Make(30827, 12, 31, 23, 59, 59, 999));
  EXPECT_EQ(last, 0x7FFF35F4F06C58F0u);
  EXPECT_EQ(Show(FileTimeToSystemTime(FileTime::FromValue(last + 9999))),
            "30827-12-31 23:59:59.999 w5");
  EXPECT_FALSE(FileTimeToSystemTime(FileTime::FromValue(last + 10000)));
  EXPECT_FALSE(FileTimeToSystemTime(FileTime::FromValue(~uint64_t{0})));
  EXPECT_FALSE(FileTimeToSystemTime(FileTime::FromValue(0x7FFFFFFFFFFFFFFFu)));

  // The layout is low word first.
  FileTime ft = FileTime::FromValue(125911584000000000);
  EXPECT_EQ(ft.low, 0x256D4000u);
  EXPECT_EQ(ft.high, 0x01BF53EBu);
}

TEST(FileTimeTest, LeapYearsAndInvalidFields) {
  EXPECT_EQ(Ticks(Make(2000, 3, 1)) - Ticks(Make(2000, 2, 28)),
            2 * kTicksPerDay);
  EXPECT_EQ(Ticks(Make(1900, 3, 1)) - Ticks(Make(1900, 2, 28)), kTicksPerDay);
  EXPECT_EQ(Ticks(Make(2004, 3, 1)) - Ticks(Make(2004, 2, 28)),
            2 * kTicksPerDay);
  EXPECT_EQ(Ticks(Make(2001, 1, 1)) - Ticks(Make(2000, 1, 1)),
            366 * kTicksPerDay);
  EXPECT_TRUE(SystemTimeToFileTime(Make(2000, 2, 29)));
  EXPECT_TRUE(SystemTimeToFileTime(Make(1604, 2, 29)));
  EXPECT_TRUE(SystemTimeToFileTime(Make(30827, 12, 31)));

  const SystemTime invalid[] = {
      Make(1900, 2, 29),
      Make(2100, 2, 29),
      Make(2001, 2, 29),
      Make(2006, 4, 31),
      Make(2006, 0, 1),
      Make(2006, 13, 1),
      Make(2006, 1, 0),
      Make(2006, 1, 32),
      Make(2006, 1, 1, 24),
      Make(2006, 1, 1, 0, 60),
      Make(2006, 1, 1, 0, 0, 60),
      Make(2006, 1, 1, 0, 0, 0, 1000),
      Make(1600, 12, 31),
      Make(30828, 1, 1),
      Make(0, 1, 1),
  };
  for (const SystemTime& t : invalid) {
    EXPECT_FALSE(SystemTimeToFileTime(t)) << Show(t);
  }

  // day_of_week is ignored on input and filled in on output.
  SystemTime wrong_weekday = Make(2006, 3, 5, 7, 8, 9, 10);
  wrong_weekday.day_of_week = 3;
  EXPECT_EQ(Show(FileTimeToSystemTime(*SystemTimeToFileTime(wrong_weekday))),
            "2006-03-05 07:08:09.010 w0");
}

TEST(FileTimeTest, RoundTripAgreesWithTheCLibrary) {
  // Every 997th day from 1601 to 30827 with a varying time of day; each must
  // come back unchanged and agree with timegm (64-bit time_t).
  int64_t days = 0;
  for (int i = 0;; ++i, days += 997) {
    uint64_t ticks = days * kTicksPerDay + (i * 7919ull % 86'400'000) * 10'000 +
                     (i % 10'000);
    std::optional<SystemTime> t =
        FileTimeToSystemTime(FileTime::FromValue(ticks));
    if (!t) {
      EXPECT_GT(days, 10'000'000);
      break;
    }
    std::optional<FileTime> back = SystemTimeToFileTime(*t);
    ASSERT_TRUE(back) << Show(*t);
    EXPECT_EQ(back->value(), ticks - ticks % 10'000) << Show(*t);

    struct tm tm {};
    tm.tm_year = t->year - 1900;
    tm.tm_mon = t->month - 1;
    tm.tm_mday = t->day;
    tm.tm_hour = t->hour;
    tm.tm_min = t->minute;
    tm.tm_sec = t->second;
    int64_t unix_seconds = timegm(&tm);
    EXPECT_EQ(static_cast<int64_t>(ticks / 10'000'000) - 11644473600,
              unix_seconds)
        << Show(*t);
    EXPECT_EQ(t->day_of_week, tm.tm_wday) << Show(*t);
  }
}

TEST(VariantTimeTest, KnownDates) {
  EXPECT_EQ(SystemTimeToVariantTime(Make(1899, 12, 30)), 0.0);
  EXPECT_EQ(SystemTimeToVariantTime(Make(1900, 1, 1)), 2.0);
  EXPECT_EQ(SystemTimeToVariantTime(Make(2000, 1, 1)), 36526.0);
  EXPECT_EQ(SystemTimeToVariantTime(Make(2000, 1, 1, 12)), 36526.5);
  EXPECT_EQ(SystemTimeToVariantTime(Make(1899, 12, 29, 6)), -1.25);
  EXPECT_EQ(SystemTimeToVariantTime(Make(2006, 3, 5, 7, 8, 9)),
            38781.0 + 25689.0 / 86400.0);
  EXPECT_EQ(SystemTimeToVariantTime(Make(2000, 1, 1, 0, 0, 0, 999)), 36526.0);
  EXPECT_EQ(SystemTimeToVariantTime(Make(100, 1, 1)), -657434.0);
  EXPECT_EQ(SystemTimeToVariantTime(Make(9999, 12, 31)), 2958465.0);
  EXPECT_FALSE(SystemTimeToVariantTime(Make(99, 12, 31)));
  EXPECT_FALSE(SystemTimeToVariantTime(Make(10000, 1, 1)));
  EXPECT_FALSE(SystemTimeToVariantTime(Make(2006, 2, 29)));
  EXPECT_FALSE(SystemTimeToVariantTime(Make(2006, 1, 1, 24)));

  EXPECT_EQ(Show(VariantTimeToSystemTime(0.0)), "1899-12-30 00:00:00.000 w6");
  EXPECT_EQ(Show(VariantTimeToSystemTime(2.0)), "1900-01-01 00:00:00.000 w1");
  EXPECT_EQ(Show(VariantTimeToSystemTime(36526.5)),
            "2000-01-01 12:00:00.000 w6");
  EXPECT_EQ(Show(VariantTimeToSystemTime(-1.25)), "1899-12-29 06:00:00.000 w5");
  EXPECT_EQ(Show(VariantTimeToSystemTime(-0.25)), "1899-12-30 06:00:00.000 w6");
  // Rounded to the nearest second, into the next day when it must be.
  EXPECT_EQ(Show(VariantTimeToSystemTime(36526.99999999)),
            "2000-01-02 00:00:00.000 w0");
  EXPECT_EQ(Show(VariantTimeToSystemTime(36526.0 + 1.4 / 86400)),
            "2000-01-01 00:00:01.000 w6");
  EXPECT_EQ(Show(VariantTimeToSystemTime(36526.0 + 1.6 / 86400)),
            "2000-01-01 00:00:02.000 w6");
  EXPECT_EQ(Show(VariantTimeToSystemTime(-1.99999999)),
            "1899-12-30 00:00:00.000 w6");

  // Range ends, and what is not a date.
  EXPECT_EQ(Show(VariantTimeToSystemTime(-657434.5)),
            "0100-01-01 12:00:00.000 w5");
  EXPECT_EQ(Show(VariantTimeToSystemTime(2958465.5)),
            "9999-12-31 12:00:00.000 w5");
  EXPECT_FALSE(VariantTimeToSystemTime(-657435.0));
  EXPECT_FALSE(VariantTimeToSystemTime(2958466.0));
  EXPECT_FALSE(VariantTimeToSystemTime(2958465.999999999));
  EXPECT_FALSE(VariantTimeToSystemTime(1e300));
  EXPECT_FALSE(VariantTimeToSystemTime(-1e300));
  EXPECT_FALSE(VariantTimeToSystemTime(std::nan("")));
  EXPECT_FALSE(
      VariantTimeToSystemTime(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(
      VariantTimeToSystemTime(-std::numeric_limits<double>::infinity()));
}

TEST(VariantTimeTest, RoundTripToTheSecond) {
  for (int year : {100, 1601, 1899, 1900, 1999, 2006, 9999}) {
    for (int month = 1; month <= 12; month += 5) {
      SystemTime t =
          Make(year, month, 28, month + 5, month * 4 + 1, 59 - month, 123);
      std::optional<double> date = SystemTimeToVariantTime(t);
      ASSERT_TRUE(date) << Show(t);
      std::optional<SystemTime> back = VariantTimeToSystemTime(*date);
      ASSERT_TRUE(back) << *date;
      t.milliseconds = 0;
      t.day_of_week = back->day_of_week;
      EXPECT_EQ(Show(*back), Show(t)) << *date;
    }
  }
}

TEST(LocalTimeTest, FixedOffsetZone) {
  ScopedTimeZone zone("Asia/Shanghai");
  SystemTime utc = Make(2006, 3, 5, 20, 8, 9, 10);
  EXPECT_EQ(Show(SystemTimeToLocal(utc)), "2006-03-06 04:08:09.010 w1");
  EXPECT_EQ(Show(LocalToSystemTime(*SystemTimeToLocal(utc))),
            "2006-03-05 20:08:09.010 w0");

  // Hour by hour through a year, file times round-trip exactly.
  uint64_t start = Ticks(Make(2006, 1, 1));
  for (uint64_t ticks = start; ticks < start + 365 * kTicksPerDay;
       ticks += kTicksPerDay / 24 + 12345) {
    std::optional<FileTime> local =
        FileTimeToLocalFileTime(FileTime::FromValue(ticks));
    ASSERT_TRUE(local);
    EXPECT_EQ(local->value() - ticks, 8 * kTicksPerDay / 24);
    std::optional<FileTime> back = LocalFileTimeToFileTime(*local);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->value(), ticks);
  }
  // East of UTC, the last UTC instant has no local time in range.
  EXPECT_FALSE(SystemTimeToLocal(Make(30827, 12, 31, 23)));
  EXPECT_FALSE(LocalToSystemTime(Make(1601, 1, 1)));
}

TEST(LocalTimeTest, DaylightSavingGapsAndOverlaps) {
  ScopedTimeZone zone("America/New_York");
  EXPECT_EQ(Show(SystemTimeToLocal(Make(2006, 7, 1, 16))),
            "2006-07-01 12:00:00.000 w6");
  EXPECT_EQ(Show(SystemTimeToLocal(Make(2006, 1, 1, 17))),
            "2006-01-01 12:00:00.000 w0");
  EXPECT_EQ(Show(LocalToSystemTime(Make(2006, 7, 1, 12))),
            "2006-07-01 16:00:00.000 w6");
  EXPECT_EQ(Show(LocalToSystemTime(Make(2006, 1, 1, 12))),
            "2006-01-01 17:00:00.000 w0");

  // 2006-10-29 01:30 happened twice (EDT, then EST): the earlier instant.
  EXPECT_EQ(Show(SystemTimeToLocal(Make(2006, 10, 29, 5, 30))),
            "2006-10-29 01:30:00.000 w0");
  EXPECT_EQ(Show(SystemTimeToLocal(Make(2006, 10, 29, 6, 30))),
            "2006-10-29 01:30:00.000 w0");
  EXPECT_EQ(Show(LocalToSystemTime(Make(2006, 10, 29, 1, 30))),
            "2006-10-29 05:30:00.000 w0");
  EXPECT_EQ(Show(LocalToSystemTime(Make(2006, 10, 29, 2, 30))),
            "2006-10-29 07:30:00.000 w0");
  // 2006-04-02 02:30 never happened: read with the offset before the jump.
  EXPECT_EQ(Show(LocalToSystemTime(Make(2006, 4, 2, 2, 30))),
            "2006-04-02 07:30:00.000 w0");
  EXPECT_EQ(Show(SystemTimeToLocal(Make(2006, 4, 2, 7, 30))),
            "2006-04-02 03:30:00.000 w0");
  EXPECT_EQ(Show(LocalToSystemTime(Make(2006, 4, 2, 1, 59, 59))),
            "2006-04-02 06:59:59.000 w0");
  EXPECT_EQ(Show(LocalToSystemTime(Make(2006, 4, 2, 3, 0))),
            "2006-04-02 07:00:00.000 w0");

  // West of UTC, 1601-01-01 00:00 UTC is still 1600 locally.
  EXPECT_FALSE(SystemTimeToLocal(Make(1601, 1, 1)));
  EXPECT_TRUE(LocalToSystemTime(Make(1601, 1, 1)));
}

TEST(ClockTest, NowAndTicks) {
  ScopedTimeZone zone("Asia/Shanghai");
  SystemTime utc = CurrentSystemTime();
  SystemTime local = CurrentLocalTime();
  ASSERT_TRUE(SystemTimeToFileTime(utc)) << Show(utc);
  ASSERT_TRUE(SystemTimeToFileTime(local)) << Show(local);
  int64_t now = time(nullptr);
  int64_t utc_seconds =
      static_cast<int64_t>(Ticks(utc) / 10'000'000) - 11644473600;
  EXPECT_LE(std::llabs(utc_seconds - now), 5);
  int64_t difference = static_cast<int64_t>(Ticks(local) - Ticks(utc));
  EXPECT_LE(std::llabs(difference - 8 * 3600 * 10'000'000LL), 5 * 10'000'000LL);
  EXPECT_EQ(Show(FileTimeToSystemTime(*SystemTimeToFileTime(utc))), Show(utc));

  uint32_t first = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  uint32_t elapsed = TickCount() - first;  // modulo 2^32, as callers use it
  EXPECT_GE(elapsed, 25u);
  EXPECT_LT(elapsed, 60'000u);
}

}  // namespace
}  // namespace platform
