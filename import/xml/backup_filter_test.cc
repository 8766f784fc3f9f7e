// The repairs made before the XML reader sees a backup, fed whole and one
// byte at a time (a chunk may end anywhere).
#include "import/xml/backup_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace import::xml {
namespace {

std::string Filter(std::string_view input, size_t chunk) {
  BackupFilter filter;
  std::string out;
  for (size_t i = 0; i < input.size(); i += chunk) {
    filter.Feed(input.substr(i, chunk), &out);
  }
  filter.Finish(&out);
  return out;
}

// The output, which must not depend on where the chunks end.
std::string Filtered(std::string_view input) {
  const std::string whole = Filter(input, input.size() + 1);
  for (size_t chunk : {1, 2, 3, 7}) {
    EXPECT_EQ(Filter(input, chunk), whole) << "chunks of " << chunk;
  }
  return whole;
}

std::string StandIn(char control) {
  std::string out;
  const char32_t c = kControlStandIn + static_cast<unsigned char>(control);
  out.push_back(static_cast<char>(0xF0 | (c >> 18)));
  out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
  out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
  out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  return out;
}

TEST(BackupFilterTest, WellFormedInputPassesUnchanged) {
  const std::string xml =
      "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
      "<!-- a 'quoted' comment & more -->\n"
      "<smses count=\"1\">\n"
      "  <sms address=\"+86 138\" body=\"&amp;&lt;&#10;&#x41;&#65; "
      "\xE4\xBD\xA0\xF0\x9F\x98\x80 it's\" read='1' />\n"
      "  <![CDATA[ \" & ]]>\n"
      "</smses>\n";
  EXPECT_EQ(Filtered(xml), xml);
}

TEST(BackupFilterTest, SurrogateReferencesBecomeOneCharacter) {
  // U+1F600 as two references, decimal and hexadecimal.
  EXPECT_EQ(Filtered("<a b=\"x&#55357;&#56832;y\"/>"),
            "<a b=\"x\xF0\x9F\x98\x80y\"/>");
  EXPECT_EQ(Filtered("<a>&#xD83D;&#XDE00;</a>"), "<a>\xF0\x9F\x98\x80</a>");
  // The same pair written raw, as two three-byte sequences.
  EXPECT_EQ(Filtered("<a>\xED\xA0\xBD\xED\xB8\x80</a>"),
            "<a>\xF0\x9F\x98\x80</a>");
}

TEST(BackupFilterTest, SurrogatesWithoutTheirOtherHalfBecomeReplacements) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(Filtered("<a>&#55357;x</a>"), "<a>" + fffd + "x</a>");
  EXPECT_EQ(Filtered("<a>&#55357;</a>"), "<a>" + fffd + "</a>");
  EXPECT_EQ(Filtered("<a>&#56832;&#55357;&#55357;&#56832;</a>"),
            "<a>" + fffd + fffd + "\xF0\x9F\x98\x80</a>");
  EXPECT_EQ(Filtered("<a>&#55357;&amp;</a>"), "<a>" + fffd + "&amp;</a>");
  EXPECT_EQ(Filtered("<a>&#65535;&#1114112;&#99999999999;</a>"),
            "<a>" + fffd + fffd + fffd + "</a>");
}

TEST(BackupFilterTest, ControlCharactersBecomeStandIns) {
  EXPECT_EQ(Filtered("<a b=\"&#1;x&#x1F;\"/>"),
            "<a b=\"" + StandIn(1) + "x" + StandIn(0x1F) + "\"/>");
  EXPECT_EQ(Filtered("<a>\x02\x1B[0m</a>"),
            "<a>" + StandIn(2) + StandIn(0x1B) + "[0m</a>");
  // NUL is dropped, raw or referenced.
  EXPECT_EQ(Filtered(std::string("<a>x\0y&#0;z</a>", 15)), "<a>xyz</a>");
  // Tab, line feed and carriage return references stay as they are.
  EXPECT_EQ(Filtered("<a b=\"&#9;&#10;&#13;\"/>"), "<a b=\"&#9;&#10;&#13;\"/>");
}

TEST(BackupFilterTest, RawLineBreaksInAttributesBecomeReferences) {
  // In an attribute value the reader would turn them into spaces; in text
  // and between attributes they mean what they are.
  EXPECT_EQ(Filtered("<a\nb=\"1\n2\r\n3\t4\">\n5</a>"),
            "<a\nb=\"1&#10;2&#13;&#10;3&#9;4\">\n5</a>");
  EXPECT_EQ(Filtered("<a b='it\"s\n'/>"), "<a b='it\"s&#10;'/>");
  // A quote inside a comment or a declaration opens no attribute.
  EXPECT_EQ(Filtered("<!-- don't --><a b=\"\n\"/>"),
            "<!-- don't --><a b=\"&#10;\"/>");
  EXPECT_EQ(Filtered("<!DOCTYPE x><a b=\"\n\"/>"),
            "<!DOCTYPE x><a b=\"&#10;\"/>");
}

TEST(BackupFilterTest, BytesThatAreNotUtf8BecomeReplacements) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(Filtered("<a>\xFF\xC0\xAF"
                     "x</a>"),
            "<a>" + fffd + fffd + fffd + "x</a>");
  // A sequence cut short, inside the text and at the very end.
  EXPECT_EQ(Filtered("<a>\xE4\xBDx</a>"), "<a>" + fffd + "x</a>");
  EXPECT_EQ(Filtered("<a>\xE4\xBD"), "<a>" + fffd);
  // Overlong forms and code points past U+10FFFF.
  EXPECT_EQ(Filtered("\xE0\x80\x80"), fffd + fffd + fffd);
  EXPECT_EQ(Filtered("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);
}

TEST(BackupFilterTest, UnfinishedReferencesAreLeftAsWritten) {
  EXPECT_EQ(Filtered("<a>&#x;&#12a;&#;&#</a>"), "<a>&#x;&#12a;&#;&#</a>");
  EXPECT_EQ(Filtered("<a>&#55357"), "<a>&#55357");
}

}  // namespace
}  // namespace import::xml
