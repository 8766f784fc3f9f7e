#include "text/text.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/device.h"
#include "platform/files.h"
#include "platform/testing/temp_device.h"

namespace text {
namespace {

// 7 March 2009, 14:05:09.
const platform::SystemTime kTime{2009, 3, 6, 7, 14, 5, 9, 0};

// Restores the process-wide summary length when a test changes it.
class SummaryLengthScope {
 public:
  explicit SummaryLengthScope(int length) : saved_(SummaryLength()) {
    SetSummaryLength(length);
  }
  ~SummaryLengthScope() { SetSummaryLength(saved_); }

 private:
  int saved_;
};

TEST(NormalizeNumberTest, KeepsOnlyTheNumber) {
  EXPECT_EQ(NormalizeNumber(u"(010) 123-456"), u"010123456");
  EXPECT_EQ(NormalizeNumber(u"\"Li Lei\"<138 0013 8000>"), u"13800138000");
  EXPECT_EQ(NormalizeNumber(u"+86 138-0013"), u"+861380013");
  // Only the last "<" counts; letters and quotes before it are gone.
  EXPECT_EQ(NormalizeNumber(u"a<1<2>"), u"2");
  EXPECT_EQ(NormalizeNumber(u"\"Bob\""), u"\"Bob\"");
  EXPECT_EQ(NormalizeNumber(u""), u"");
  EXPECT_EQ(NormalizeNumber(u" ()->"), u"");
}

TEST(SplitRecipientTest, NamesNumbersAndQuotes) {
  Recipient r = SplitRecipient(u"\"Li Lei\"<138-0013 8000>");
  EXPECT_EQ(r.name, u"LiLei");  // spaces are skipped in the name too
  EXPECT_EQ(r.number, u"13800138000");
  EXPECT_TRUE(r.quoted);

  r = SplitRecipient(u"\"A\"<111>;\"B\"<222>");
  EXPECT_EQ(r.name, u"A");
  EXPECT_EQ(r.number, u"111");

  r = SplitRecipient(u"13800138000");
  EXPECT_EQ(r.name, u"13800138000");
  EXPECT_EQ(r.number, u"13800138000");
  EXPECT_FALSE(r.quoted);

  r = SplitRecipient(u"10086;10010");
  EXPECT_EQ(r.number, u"10086");
  EXPECT_FALSE(r.quoted);

  // Characters before the first quote reach the number until "<" restarts
  // it; after the closing quote they go to the number only.
  r = SplitRecipient(u"x\"Bob\"9");
  EXPECT_EQ(r.name, u"Bob");
  EXPECT_EQ(r.number, u"x9");
  // A third quote is skipped; an unclosed name keeps the number empty.
  r = SplitRecipient(u"\"A\"1\"2");
  EXPECT_EQ(r.name, u"A");
  EXPECT_EQ(r.number, u"12");
  r = SplitRecipient(u"\"Open name");
  EXPECT_EQ(r.name, u"Openname");
  EXPECT_EQ(r.number, u"");

  r = SplitRecipient(u"");
  EXPECT_EQ(r.name, u"");
  EXPECT_FALSE(r.quoted);
}

TEST(CopySummaryTest, StopsAtLimitAndBreaks) {
  EXPECT_EQ(CopySummary(u"Hello world", 5), u"Hello");
  EXPECT_EQ(CopySummary(u"Hi\tthere", 10), u"Hi");
  EXPECT_EQ(CopySummary(u"Hi\nthere", 10), u"Hi");
  EXPECT_EQ(CopySummary(u"Hi\r\nthere", 10), u"Hi");
  EXPECT_EQ(CopySummary(std::u16string_view(u"Hi\0there", 8), 10), u"Hi");
  EXPECT_EQ(CopySummary(u"short", 100), u"short");
  EXPECT_EQ(CopySummary(u"anything", 0), u"");
}

TEST(MessageTitleTest, ModesAndParties) {
  SummaryLengthScope scope(10);
  const std::u16string body = u"Dinner at eight tonight";
  EXPECT_EQ(MessageTitle(body, u"\"Li Lei\"<138>", kTime, kTitleSummary),
            u"Dinner at ");
  EXPECT_EQ(MessageTitle(body, u"\"Li Lei\"<138>", kTime, kTitleContactSummary),
            u"LiLei Dinner at ");
  EXPECT_EQ(MessageTitle(body, u"13800138000", kTime, kTitleContactSummary),
            u"13800138000 Dinner at ");
  // An empty quoted name falls back to the number; no party, no space.
  EXPECT_EQ(MessageTitle(body, u"\"\"<10086>", kTime, kTitleContactSummary),
            u"10086 Dinner at ");
  EXPECT_EQ(MessageTitle(body, u"", kTime, kTitleContactSummary),
            u"Dinner at ");
  // A first line shorter than the summary length ends the title.
  EXPECT_EQ(MessageTitle(u"OK\r\nsee you", u"\"Bob\"<1>", kTime,
                         kTitleContactSummary),
            u"Bob OK");
  // Unknown modes give the summary.
  EXPECT_EQ(MessageTitle(body, u"\"Bob\"<1>", kTime, 7), u"Dinner at ");

  SetSummaryLength(3);
  EXPECT_EQ(MessageTitle(body, u"", kTime, kTitleSummary), u"Din");
  SetSummaryLength(-5);
  EXPECT_EQ(MessageTitle(body, u"", kTime, kTitleSummary), u"");
}

TEST(MessageTitleTest, ContactTimeUsesDeviceFormats) {
  platform::testing::TempDevice device;
  EXPECT_EQ(
      MessageTitle(u"ignored", u"\"Li Lei\"<138>", kTime, kTitleContactTime),
      u"LiLei 2009-3-7 14:05:09");
  EXPECT_EQ(MessageTitle(u"ignored", u"138 0013", kTime, kTitleContactTime),
            u"1380013 2009-3-7 14:05:09");
}

TEST(FormatTimeTest, KindsFormatsAndCapacity) {
  platform::testing::TempDevice device;
  EXPECT_EQ(FormatTime(kTime, TimeKind::kDate, 64), u"2009-3-7");
  EXPECT_EQ(FormatTime(kTime, TimeKind::kTime, 64), u"14:05:09");
  EXPECT_EQ(FormatTime(kTime, TimeKind::kDateAndTime, 64),
            u"2009-3-7 14:05:09");
  // Exactly fitting, then every smaller capacity cuts one more character.
  const std::u16string full = u"2009-3-7 14:05:09";
  for (size_t capacity = 0; capacity <= full.size() + 1; ++capacity) {
    std::u16string got = FormatTime(kTime, TimeKind::kDateAndTime, capacity);
    EXPECT_EQ(got, full.substr(0, capacity == 0 ? 0 : capacity - 1))
        << "capacity " << capacity;
  }

  ASSERT_TRUE(platform::SetDeviceSetting("date_format", "dd/MM/yyyy").ok());
  ASSERT_TRUE(platform::SetDeviceSetting("time_format", "hh:mm tt").ok());
  EXPECT_EQ(FormatTime(kTime, TimeKind::kDateAndTime, 64),
            u"07/03/2009 02:05 PM");
  EXPECT_EQ(FormatTime(kTime, TimeKind::kTime, 3), u"02");
}

TEST(LineBreakEscapeTest, TwoLinesRoundTrip) {
  std::u16string text = u"first line\r\nsecond line";
  EXPECT_EQ(EscapeLineBreaks(text), u"first line``second line");
  EXPECT_EQ(UnescapeLineBreaks(text), u"first line\r\nsecond line");

  text = u"a\r\n\r\nb\r\n";
  EXPECT_EQ(EscapeLineBreaks(text), u"a````b``");
  EXPECT_EQ(UnescapeLineBreaks(text), u"a\r\n\r\nb\r\n");

  text = u"no breaks, `quote` here";
  EXPECT_EQ(EscapeLineBreaks(text), u"no breaks, `quote` here");
  text = u"bare\nfeed";
  EXPECT_EQ(EscapeLineBreaks(text), u"bare\nfeed");
}

TEST(LineBreakEscapeTest, PairsAndTextEnds) {
  // The character after a carriage return goes with it, whatever it is.
  std::u16string text = u"a\r\rb";
  EXPECT_EQ(EscapeLineBreaks(text), u"a``b");
  // A typed backquote reads as a line break and takes the next character.
  text = u"5`x";
  EXPECT_EQ(UnescapeLineBreaks(text), u"5\r\n");
  text = u"```";
  EXPECT_EQ(UnescapeLineBreaks(text), u"\r\n\r\n");

  // A carriage return or backquote at the very end grows the text by one.
  text = u"end\r";
  EXPECT_EQ(EscapeLineBreaks(text), u"end``");
  EXPECT_EQ(UnescapeLineBreaks(text), u"end\r\n");
  text = u"end`";
  EXPECT_EQ(UnescapeLineBreaks(text), u"end\r\n");
  text = u"\r";
  EXPECT_EQ(EscapeLineBreaks(text), u"``");
  text = u"";
  EXPECT_EQ(EscapeLineBreaks(text), u"");
  EXPECT_EQ(UnescapeLineBreaks(text), u"");
}

TEST(CutAtLineBreakTest, EndsAtFirstBreak) {
  std::u16string text = u"one\r\ntwo";
  EXPECT_EQ(CutAtLineBreak(text), u"one");
  text = u"one\ntwo\r";
  EXPECT_EQ(CutAtLineBreak(text), u"one");
  text = u"\rx";
  EXPECT_EQ(CutAtLineBreak(text), u"");
  text = u"whole";
  EXPECT_EQ(CutAtLineBreak(text), u"whole");
}

TEST(CompactPathTest, Cases) {
  const std::u16string path = u"\\Storage\\sms.zud";  // 16 characters
  EXPECT_EQ(CompactPath(path, 17), path);
  EXPECT_EQ(CompactPath(path, 100), path);
  EXPECT_EQ(CompactPath(path, 16), u"\\Sto...\\sms.zud");
  EXPECT_EQ(CompactPath(path, 12), u"...\\sms.zud");
  EXPECT_EQ(CompactPath(path, 11), u"...\\sms...");
  EXPECT_EQ(CompactPath(path, 9), u"...\\s...");
  EXPECT_EQ(CompactPath(path, 8), u"...\\...");
  EXPECT_EQ(CompactPath(path, 7), u"...\\..");
  EXPECT_EQ(CompactPath(path, 6), u"...\\.");
  EXPECT_EQ(CompactPath(path, 5), u"...\\");
  EXPECT_EQ(CompactPath(path, 4), u"...");
  EXPECT_EQ(CompactPath(path, 2), u".");
  EXPECT_EQ(CompactPath(path, 1), u"");
  EXPECT_EQ(CompactPath(path, 0), u"");

  // The separator is the path's last slash of either kind.
  EXPECT_EQ(CompactPath(u"/My Documents/a.txt", 14), u"/My .../a.txt");
  EXPECT_EQ(CompactPath(u"\\dir/sub\\x/name", 6), u".../.");
  // A trailing separator stays with the file name.
  EXPECT_EQ(CompactPath(u"\\folder\\sub\\", 9), u"...\\sub\\");
  // A drive colon starts the file name; the separator defaults to "\".
  EXPECT_EQ(CompactPath(u"C:longfilename", 10), u"...\\lo...");
  // A file name alone.
  EXPECT_EQ(CompactPath(u"averylongname.txt", 8), u"aver...");
  EXPECT_EQ(CompactPath(u"averylongname.txt", 4), u"...");
  EXPECT_EQ(CompactPath(u"averylongname.txt", 3), u"..");
}

// Every capacity from 1 to one past the length keeps the capacity and
// follows the cases above.
TEST(CompactPathTest, EveryCapacity) {
  const std::u16string paths[] = {
      u"\\Program Files\\Telvane\\skins\\Blue Night.cfg",
      u"\\a\\very_long_file_name_without_folder_room.zud",
      u"/x/y",
      u"plainfilename.txt",
      u"\\\\",
      u"a\\"};
  for (const std::u16string& path : paths) {
    size_t name_start = path.find_last_of(u"\\/");
    name_start = name_start == std::u16string::npos ? 0 : name_start + 1;
    if (name_start == path.size()) name_start = 0;  // no name after it
    const std::u16string name = path.substr(name_start);
    for (size_t capacity = 1; capacity <= path.size() + 1; ++capacity) {
      SCOPED_TRACE(testing::Message() << "capacity " << capacity);
      const std::u16string got = CompactPath(path, capacity);
      if (path.size() < capacity) {
        EXPECT_EQ(got, path);
        continue;
      }
      ASSERT_EQ(got.size(), capacity - 1);
      if (name_start == 0) {
        EXPECT_EQ(got, capacity >= 4 ? path.substr(0, capacity - 4) + u"..."
                                     : std::u16string(capacity - 1, u'.'));
        continue;
      }
      const char16_t separator = path[name_start - 1];
      if (capacity <= 6) {
        std::u16string dots(capacity - 1, u'.');
        if (dots.size() >= 4) dots[3] = separator;
        EXPECT_EQ(got, dots);
      } else if (name.size() + 4 <= capacity - 1) {
        EXPECT_EQ(got, path.substr(0, capacity - 5 - name.size()) + u"..." +
                           separator + name);
      } else {
        EXPECT_EQ(got.substr(0, 4), u"..." + std::u16string(1, separator));
        // Capacity 7 has room for "...", the separator and ".." only.
        EXPECT_TRUE(got.ends_with(capacity == 7 ? u".." : u"..."));
        if (capacity > 8) {
          EXPECT_EQ(got.substr(4, capacity - 8), name.substr(0, capacity - 8));
        }
      }
    }
  }
}

TEST(BaseNameTest, CutsAtLastDot) {
  std::u16string text = u"skins\\Blue.Night.cfg";
  EXPECT_EQ(BaseName(text), u"Blue.Night");
  EXPECT_EQ(text, u"skins\\Blue.Night");
  text = u"a.b.c.d";
  EXPECT_EQ(BaseName(text), u"a.b.c");
  text = u"noextension";
  EXPECT_EQ(BaseName(text), u"noextension");
  EXPECT_EQ(text, u"noextension");
  text = u"\\dir.x\\file";  // the last dot is in the folder name
  EXPECT_EQ(BaseName(text), u"dir");
  EXPECT_EQ(text, u"\\dir");
  text = u"dir/x.cfg";  // only "\" separates
  EXPECT_EQ(BaseName(text), u"dir/x");
  text = u".cfg";
  EXPECT_EQ(BaseName(text), u"");
}

TEST(FileExtensionTest, ScansBackToSlashOrStart) {
  EXPECT_EQ(FileExtension(u"\\My Documents\\song.MP3"), u"MP3");
  EXPECT_EQ(FileExtension(u"archive.tar.gz"), u"gz");
  EXPECT_EQ(FileExtension(u"noext"), u"");
  EXPECT_EQ(FileExtension(u"trailing."), u"");
  EXPECT_EQ(FileExtension(u".hidden"), u"");  // the first character
  EXPECT_EQ(FileExtension(u"x.hidden"), u"hidden");
  EXPECT_EQ(FileExtension(u""), u"");
  // "/" stops the scan, "\" does not.
  EXPECT_EQ(FileExtension(u"/my.folder/readme"), u"");
  EXPECT_EQ(FileExtension(u"\\My.Folder\\readme"), u"Folder\\readme");
  EXPECT_EQ(FileExtension(u"/a.b/c.txt"), u"txt");
}

TEST(FileExistsTest, OpensForReading) {
  platform::testing::TempDevice device;
  std::filesystem::create_directories(device.HostPath("\\My Documents"));
  std::ofstream(device.HostPath("\\My Documents\\note.txt")) << "x";
  EXPECT_TRUE(FileExists(u"\\My Documents\\note.txt"));
  EXPECT_TRUE(FileExists(u"\\my documents\\NOTE.TXT"));  // case ignored
  EXPECT_FALSE(FileExists(u"\\My Documents\\missing.txt"));
  EXPECT_FALSE(FileExists(u"\\My Documents"));
  EXPECT_FALSE(FileExists(u"\\..\\device.db"));
  EXPECT_FALSE(FileExists(u""));
}

}  // namespace
}  // namespace text
