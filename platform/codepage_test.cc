#include "platform/codepage.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/testing/temp_device.h"

namespace platform {
namespace {

std::string Hex(std::string_view bytes) {
  std::string out;
  char byte[4];
  for (unsigned char c : bytes) {
    snprintf(byte, sizeof byte, "%02X ", c);
    out += byte;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::string Units(std::u16string_view text) {
  std::string out;
  char unit[8];
  for (char16_t c : text) {
    snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(c));
    out += unit;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

void AppendCodePoint(std::u16string& text, char32_t c) {
  if (c < 0x10000) {
    text += static_cast<char16_t>(c);
  } else {
    text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
}

TEST(CodePageTest, ChineseAndTheEuroIn936) {
  EXPECT_EQ(Hex(WideToMultiByte(u"中文", kCodePageGbk)), "D6 D0 CE C4");
  EXPECT_EQ(MultiByteToWide("\xD6\xD0\xCE\xC4", kCodePageGbk), u"中文");
  EXPECT_EQ(Hex(WideToMultiByte(u"短信 SMS 1", kCodePageGbk)),
            "B6 CC D0 C5 20 53 4D 53 20 31");
  // The euro is 0x80 as in the phone's 936; A2 E3 is read as the euro too.
  EXPECT_EQ(Hex(WideToMultiByte(u"a€b", kCodePageGbk)), "61 80 62");
  EXPECT_EQ(MultiByteToWide("a\x80"
                            "b",
                            kCodePageGbk),
            u"a€b");
  EXPECT_EQ(MultiByteToWide("\xA2\xE3", kCodePageGbk), u"€");
  // A four-byte character outside the BMP.
  std::u16string ideograph = u"\U00020000";
  EXPECT_EQ(Hex(WideToMultiByte(ideograph, kCodePageGbk)), "95 32 82 36");
  EXPECT_EQ(MultiByteToWide("\x95\x32\x82\x36", kCodePageGbk), ideograph);
  // A private-use character the C library's GB18030 has no bytes for, and
  // the supplementary character that shares its old two-byte code.
  EXPECT_EQ(Hex(WideToMultiByte(u"\uE78D\uE816\U00020087", kCodePageGbk)),
            "84 31 82 36 FE 51 95 32 90 31");
  EXPECT_EQ(
      MultiByteToWide("\x84\x31\x82\x36\xFE\x51\x95\x32\x90\x31", kCodePageGbk),
      u"\uE78D\uE816\U00020087");
  // Unknown code pages are 936.
  EXPECT_EQ(Hex(WideToMultiByte(u"中", 437)), "D6 D0");
}

TEST(CodePageTest, Gb18030IsGbkWhereGbkHasTheCharacter) {
  iconv_t gbk = iconv_open("CP936", "UTF-16LE");
  ASSERT_NE(gbk, reinterpret_cast<iconv_t>(-1));
  int compared = 0;
  for (char32_t c = 1; c < 0x10000; ++c) {
    if (c >= 0xD800 && c < 0xE000) continue;
    char16_t unit = static_cast<char16_t>(c);
    char* in = reinterpret_cast<char*>(&unit);
    size_t in_left = 2;
    char bytes[8];
    char* out = bytes;
    size_t out_left = sizeof bytes;
    iconv(gbk, nullptr, nullptr, nullptr, nullptr);
    if (iconv(gbk, &in, &in_left, &out, &out_left) == static_cast<size_t>(-1)) {
      continue;
    }
    std::string expected(bytes, out);
    std::u16string text(1, unit);
    ASSERT_EQ(Hex(WideToMultiByte(text, kCodePageGbk)), Hex(expected))
        << "U+" << std::hex << static_cast<unsigned>(c);
    ASSERT_EQ(MultiByteToWide(expected, kCodePageGbk), text) << Hex(expected);
    ++compared;
  }
  iconv_close(gbk);
  EXPECT_GT(compared, 21000);
}

TEST(CodePageTest, EveryCharacterRoundTripsThrough936AndUtf8) {
  std::u16string all;
  for (char32_t c = 1; c <= 0x10FFFF; ++c) {
    if (c < 0xD800 || c > 0xDFFF) AppendCodePoint(all, c);
  }
  for (uint32_t code_page : {kCodePageGbk, kCodePageUtf8}) {
    std::string bytes = WideToMultiByte(all, code_page);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '?'), 1) << code_page;
    std::u16string back = MultiByteToWide(bytes, code_page);
    ASSERT_EQ(back.size(), all.size()) << code_page;
    for (size_t i = 0; i < all.size(); ++i) {
      ASSERT_EQ(back[i], all[i]) << code_page << " at unit " << i;
    }
  }
}

TEST(CodePageTest, WesternAndUnmappableCharacters) {
  EXPECT_EQ(Hex(WideToMultiByte(u"café €", kCodePageWestern)),
            "63 61 66 E9 20 80");
  EXPECT_EQ(MultiByteToWide("caf\xE9 \x80", kCodePageWestern), u"café €");
  EXPECT_EQ(WideToMultiByte(u"a中b", kCodePageWestern), "a?b");
  // A surrogate pair is one character, so one "?".
  EXPECT_EQ(WideToMultiByte(u"x\U00020000y", kCodePageWestern), "x?y");
  // Unpaired surrogates, in every code page.
  for (uint32_t code_page : {kCodePageGbk, kCodePageWestern, kCodePageUtf8}) {
    EXPECT_EQ(WideToMultiByte(std::u16string(u"a\xD800"
                                             u"b"),
                              code_page),
              "a?b");
    EXPECT_EQ(WideToMultiByte(std::u16string(u"\xDC00\xD800"), code_page),
              "??");
    EXPECT_EQ(WideToMultiByte(std::u16string(u"a\xD800"), code_page), "a?");
    EXPECT_EQ(WideToMultiByte(std::u16string(u"\xD800\x20AC"), code_page),
              code_page == kCodePageGbk    ? "?\x80"
              : code_page == kCodePageUtf8 ? "?\xE2\x82\xAC"
                                           : "?\x80");
    EXPECT_EQ(WideToMultiByte(u"", code_page), "");
    EXPECT_EQ(MultiByteToWide("", code_page), u"");
    // NUL is an ordinary character.
    EXPECT_EQ(WideToMultiByte(std::u16string(u"a\0b", 3), code_page),
              std::string("a\0b", 3));
  }
  // No byte order mark is added or eaten.
  EXPECT_EQ(Units(MultiByteToWide("\xEF\xBB\xBF"
                                  "A",
                                  kCodePageUtf8)),
            "FEFF 0041");
  EXPECT_EQ(Hex(WideToMultiByte(u"\uFEFFA", kCodePageUtf8)), "EF BB BF 41");
}

TEST(CodePageTest, InvalidBytesBecomeReplacementCharacters) {
  // 936: a bad byte is skipped and decoding resumes at the next one.
  EXPECT_EQ(Units(MultiByteToWide("\xFF"
                                  "A",
                                  kCodePageGbk)),
            "FFFD 0041");
  EXPECT_EQ(Units(MultiByteToWide("\x81\x30\x41", kCodePageGbk)),
            "FFFD 0030 0041");
  EXPECT_EQ(Units(MultiByteToWide("\x81\x20\xD6\xD0", kCodePageGbk)),
            "FFFD 0020 4E2D");
  // An invalid four-byte code: the lead byte is bad, the rest is reread.
  EXPECT_EQ(Units(MultiByteToWide("\xFE\x39\xFE\x39"
                                  "A",
                                  kCodePageGbk)),
            "FFFD 0039 FFFD 0039 0041");
  // Truncated at the end: one U+FFFD for the whole tail.
  EXPECT_EQ(Units(MultiByteToWide("a\xD6", kCodePageGbk)), "0061 FFFD");
  EXPECT_EQ(Units(MultiByteToWide("a\x95\x32\x82", kCodePageGbk)), "0061 FFFD");
  EXPECT_EQ(Units(MultiByteToWide("\xFE\x39", kCodePageGbk)), "FFFD");
  // UTF-8.
  EXPECT_EQ(Units(MultiByteToWide("a\xFF"
                                  "b",
                                  kCodePageUtf8)),
            "0061 FFFD 0062");
  EXPECT_EQ(Units(MultiByteToWide("a\xE4\xB8", kCodePageUtf8)), "0061 FFFD");
  EXPECT_EQ(Units(MultiByteToWide("a\xE4z", kCodePageUtf8)), "0061 FFFD 007A");
  EXPECT_EQ(Units(MultiByteToWide("\xF0\x9F\x98", kCodePageUtf8)), "FFFD");
  EXPECT_EQ(Units(MultiByteToWide("\xE4\xB8z", kCodePageUtf8)),
            "FFFD FFFD 007A");
  // An encoded surrogate is not UTF-8.
  EXPECT_EQ(Units(MultiByteToWide("\xED\xA0\x80", kCodePageUtf8)),
            "FFFD FFFD FFFD");
  EXPECT_EQ(Units(MultiByteToWide("\xC0\xAF", kCodePageUtf8)), "FFFD FFFD");
  // 1252's unassigned bytes.
  EXPECT_EQ(Units(MultiByteToWide("\x81"
                                  "a\x9D",
                                  kCodePageWestern)),
            "FFFD 0061 FFFD");
}

TEST(CodePageTest, DeviceSettingChoosesTheCodePage) {
  testing::TempDevice device;
  EXPECT_EQ(AnsiCodePage(), kCodePageGbk);
  EXPECT_EQ(Hex(WideToMultiByte(u"é中")), "A8 A6 D6 D0");
  EXPECT_EQ(MultiByteToWide("\xA8\xA6"), u"é");

  ASSERT_TRUE(SetDeviceSetting("codepage", "1252").ok());
  EXPECT_EQ(AnsiCodePage(), kCodePageWestern);
  EXPECT_EQ(Hex(WideToMultiByte(u"é中")), "E9 3F");
  EXPECT_EQ(MultiByteToWide("\xA8\xA6"), u"¨¦");

  ASSERT_TRUE(SetDeviceSetting("codepage", "65001").ok());
  EXPECT_EQ(AnsiCodePage(), kCodePageUtf8);
  EXPECT_EQ(Hex(WideToMultiByte(u"é")), "C3 A9");
  EXPECT_EQ(MultiByteToWide("\xC3\xA9"), u"é");

  // Another process changes the setting: the next conversion follows it.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(SetDeviceSetting("codepage", "1252").ok() ? 0 : 1);
  int wait_status = 0;
  ASSERT_EQ(waitpid(child, &wait_status, 0), child);
  ASSERT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0);
  EXPECT_EQ(AnsiCodePage(), kCodePageWestern);
  EXPECT_EQ(Hex(WideToMultiByte(u"é")), "E9");
}

// Long text in the sizes the message file uses, with hand-mapped characters
// and damage scattered through it: the look-ahead windows must not lose or
// misplace anything.
TEST(CodePageTest, LongTextAndDamage) {
  std::mt19937 random(20060305);
  const char32_t kSamples[] = {u'A',    u'z',   u' ',   0x4E2D, 0x6587,
                               0x20AC,  0xE78D, 0xE816, 0xE864, 0x20087,
                               0x20000, 0x00E9, 0xFFFD, 0x9FB4};
  std::u16string text;
  while (text.size() < 102400) {
    AppendCodePoint(text, kSamples[random() % std::size(kSamples)]);
  }
  std::string bytes = WideToMultiByte(text, kCodePageGbk);
  EXPECT_EQ(MultiByteToWide(bytes, kCodePageGbk), text);

  // Damage: the decoded text is stable under another round trip, and there
  // is a U+FFFD for every bad byte.
  std::string damaged = bytes;
  for (int i = 0; i < 2000; ++i) damaged[random() % damaged.size()] = '\xFF';
  std::u16string whole = MultiByteToWide(damaged, kCodePageGbk);
  EXPECT_LE(whole.size(), damaged.size());
  std::u16string stable =
      MultiByteToWide(WideToMultiByte(whole, kCodePageGbk), kCodePageGbk);
  EXPECT_EQ(stable, whole);
  size_t replaced = 0;
  for (char16_t c : whole) replaced += c == 0xFFFD ? 1 : 0;
  size_t bad_bytes = 0;
  for (char c : damaged) bad_bytes += c == '\xFF' ? 1 : 0;
  EXPECT_GE(replaced, bad_bytes);

  // Pure garbage stays cheap and safe in every code page.
  std::string garbage(102400, '\0');
  for (char& c : garbage) c = static_cast<char>(0x80 | random());
  for (uint32_t code_page : {kCodePageGbk, kCodePageWestern, kCodePageUtf8}) {
    std::u16string decoded = MultiByteToWide(garbage, code_page);
    EXPECT_LE(decoded.size(), garbage.size());
    EXPECT_FALSE(decoded.empty());
  }
}

TEST(CodePageTest, ConcurrentConversions) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      uint32_t code_page = t % 2 == 0 ? kCodePageGbk : kCodePageUtf8;
      for (int i = 0; i < 500; ++i) {
        std::u16string text = u"中文短信 €" + std::u16string(i % 7, u'x');
        if (MultiByteToWide(WideToMultiByte(text, code_page), code_page) !=
            text) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace platform
