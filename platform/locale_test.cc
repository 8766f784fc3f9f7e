#include "platform/locale.h"

#include <gtest/gtest.h>

#include "platform/device.h"
#include "platform/testing/temp_device.h"
#include "platform/unicode.h"

namespace platform {
namespace {

// Sunday 2006-03-05 07:08:09.
SystemTime Sample(int hour = 7) {
  SystemTime t;
  t.year = 2006;
  t.month = 3;
  t.day = 5;
  t.day_of_week = 0;
  t.hour = static_cast<uint16_t>(hour);
  t.minute = 8;
  t.second = 9;
  return t;
}

std::string Date(const SystemTime& t, std::u16string_view picture) {
  return ToUtf8(FormatDate(t, picture));
}
std::string Time(const SystemTime& t, std::u16string_view picture) {
  return ToUtf8(FormatTimeOfDay(t, picture));
}

TEST(LocaleTest, DefaultFormatsFromTheDevice) {
  testing::TempDevice device;
  EXPECT_EQ(DefaultShortDateFormat(), u"yyyy-M-d");
  EXPECT_EQ(DefaultTimeFormat(), u"H:mm:ss");
  EXPECT_EQ(Date(Sample(), DefaultShortDateFormat()), "2006-3-5");
  EXPECT_EQ(Time(Sample(), DefaultTimeFormat()), "7:08:09");

  ASSERT_TRUE(SetDeviceSetting("date_format", "yyyy年M月d日").ok());
  ASSERT_TRUE(SetDeviceSetting("time_format", "hh:mm tt").ok());
  EXPECT_EQ(DefaultShortDateFormat(), u"yyyy年M月d日");
  EXPECT_EQ(Date(Sample(), DefaultShortDateFormat()), "2006年3月5日");
  EXPECT_EQ(Time(Sample(), DefaultTimeFormat()), "07:08 AM");
}

TEST(LocaleTest, DateFields) {
  SystemTime t = Sample();
  EXPECT_EQ(Date(t, u"d dd ddd dddd"), "5 05 Sun Sunday");
  EXPECT_EQ(Date(t, u"M MM MMM MMMM"), "3 03 Mar March");
  EXPECT_EQ(Date(t, u"y yy yyy yyyy"), "6 06 2006 2006");
  EXPECT_EQ(Date(t, u"g gg"), "A.D. A.D.");
  // Longer runs use the longest form.
  EXPECT_EQ(Date(t, u"ddddd/MMMMM/yyyyy/ggg"), "Sunday/March/2006/A.D.");
  // The day name comes from the date, not from day_of_week.
  t.day_of_week = 4;
  EXPECT_EQ(Date(t, u"dddd"), "Sunday");
  t.year = 2010;
  t.month = 12;
  t.day = 31;
  EXPECT_EQ(Date(t, u"ddd, d MMM yy"), "Fri, 31 Dec 10");
  t.year = 5;
  EXPECT_EQ(Date(t, u"yyyy y yy"), "0005 5 05");
  // Time letters are copied in a date picture.
  EXPECT_EQ(Date(Sample(), u"yyyy hh:mm:ss tt"), "2006 hh:mm:ss tt");
  // Fields out of range give no name, never a crash.
  SystemTime bad = Sample();
  bad.month = 13;
  bad.day_of_week = 9;
  bad.day = 40;
  EXPECT_EQ(Date(bad, u"[MMM][dddd] M d"), "[][] 13 40");
}

TEST(LocaleTest, TimeFields) {
  EXPECT_EQ(Time(Sample(), u"h hh H HH m mm s ss t tt"),
            "7 07 7 07 8 08 9 09 A AM");
  EXPECT_EQ(Time(Sample(13), u"h:mm t|hh tt|HHH"), "1:08 P|01 PM|13");
  EXPECT_EQ(Time(Sample(0), u"hh:mm tt"), "12:08 AM");
  EXPECT_EQ(Time(Sample(12), u"h:mm tt"), "12:08 PM");
  EXPECT_EQ(Time(Sample(23), u"h:mm:ss ttt"), "11:08:09 PM");
  // Date letters are copied in a time picture.
  EXPECT_EQ(Time(Sample(), u"d/M/y H"), "d/M/y 7");
}

TEST(LocaleTest, QuotedText) {
  SystemTime t = Sample();
  EXPECT_EQ(Date(t, u"'Today is' dddd"), "Today is Sunday");
  EXPECT_EQ(Date(t, u"'dd''s' d"), "dd's 5");
  EXPECT_EQ(Date(t, u"d''M"), "5'3");
  EXPECT_EQ(Date(t, u"''''"), "''");
  EXPECT_EQ(Time(t, u"h 'o''clock' tt"), "7 o'clock AM");
  EXPECT_EQ(Time(t, u"H'h'mm"), "7h08");
  // An unterminated quote runs to the end.
  EXPECT_EQ(Date(t, u"d 'MMM"), "5 MMM");
  EXPECT_EQ(Date(t, u"'"), "");
  EXPECT_EQ(Date(t, u""), "");
}

}  // namespace
}  // namespace platform
