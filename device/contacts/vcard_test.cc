#include "device/contacts/vcard.h"

#include <gtest/gtest.h>

namespace device::contacts {
namespace {

TEST(VCardTest, ReadsVersions21And30And40) {
  std::string data =
      "\xEF\xBB\xBF"
      // 2.1: bare types, quoted-printable UTF-8 with a soft line break.
      "BEGIN:VCARD\r\nVERSION:2.1\r\n"
      "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;=E4=BC=\r\n"
      "=9F\r\n"
      "TEL;CELL;VOICE:138 0000\r\nTEL;HOME:010-1\r\nTEL;WORK;PREF:020-2\r\n"
      "CATEGORIES:Friends\r\nEND:VCARD\r\n"
      // 3.0: TYPE lists, folding, escapes, a group prefix.
      "begin:vcard\nversion:3.0\nFN:Anna\\, Maria\n"
      "item1.TEL;TYPE=work,voice:+44 1\nTEL;TYPE=HOME;TYPE=pref:+44\n 2\n"
      "CATEGORIES:Work,Gym\\,Pool\nEND:VCARD\n"
      // 4.0: quoted TYPE, tel: URI, FN preferred over N.
      "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Family;Given;;;\r\nFN:Zoë Z\r\n"
      "TEL;VALUE=uri;TYPE=\"cell,text\":tel:+1-555-0100;ext=1\r\n"
      "END:VCARD\r\n";
  VCardReport report;
  std::vector<Contact> contacts = ParseVCards(data, &report);
  EXPECT_EQ(report.cards, 3);
  EXPECT_EQ(report.skipped, 0);
  ASSERT_EQ(contacts.size(), 3u);
  EXPECT_EQ(contacts[0].name, u"张伟");
  EXPECT_EQ(contacts[0].mobile, u"138 0000");
  EXPECT_EQ(contacts[0].home, u"010-1");
  EXPECT_EQ(contacts[0].business, u"020-2");
  EXPECT_EQ(contacts[0].categories, u"Friends");
  EXPECT_EQ(contacts[1].name, u"Anna, Maria");
  EXPECT_EQ(contacts[1].mobile, u"");
  EXPECT_EQ(contacts[1].business, u"+44 1");
  EXPECT_EQ(contacts[1].home, u"+442");
  EXPECT_EQ(contacts[1].categories, u"Work, Gym,Pool");
  EXPECT_EQ(contacts[2].name, u"Zoë Z");
  EXPECT_EQ(contacts[2].mobile, u"+1-555-0100");
}

TEST(VCardTest, NamesNumbersWithoutTypesAndCharsets) {
  std::vector<Contact> contacts = ParseVCards(
      "BEGIN:VCARD\nN:Smith;John;Q;;\nTEL:1\nTEL:2\nTEL:3\nTEL:4\n"
      "TEL;CELL:5\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=ISO-8859-1;QUOTED-PRINTABLE:"
      "M=FCller;J=F6rg\nEND:VCARD\n");
  ASSERT_EQ(contacts.size(), 2u);
  EXPECT_EQ(contacts[0].name, u"John Smith");
  // Untyped numbers fill mobile, home, work; the rest are dropped.
  EXPECT_EQ(contacts[0].mobile, u"1");
  EXPECT_EQ(contacts[0].home, u"2");
  EXPECT_EQ(contacts[0].business, u"3");
  EXPECT_EQ(contacts[1].name, u"Jörg Müller");
}

TEST(VCardTest, BrokenInputKeepsWhatIsSound) {
  VCardReport report;
  std::vector<Contact> contacts = ParseVCards(
      "garbage before\r\nTEL:999\r\n"
      "BEGIN:VCARD\r\nFN:Outer\r\nAGENT:\r\nBEGIN:VCARD\r\nFN:Inner\r\n"
      "TEL:7\r\nEND:VCARD\r\nTEL;CELL:1\r\nno colon here\r\n:\r\n;;;\r\n"
      "END:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:empty card\r\nEND:VCARD\r\n"
      "END:VCARD\r\n"  // a stray end
      "BEGIN:VCARD\r\nFN:Cut off\r\nN;ENCODING=QUOTED-PRINTABLE:=\r\n=4",
      &report);
  EXPECT_EQ(report.cards, 3);
  EXPECT_EQ(report.skipped, 1);
  ASSERT_EQ(contacts.size(), 2u);
  EXPECT_EQ(contacts[0].name, u"Outer");
  EXPECT_EQ(contacts[0].mobile, u"1");
  EXPECT_EQ(contacts[1].name, u"Cut off");
  EXPECT_TRUE(ParseVCards("").empty());
  EXPECT_TRUE(ParseVCards("BEGIN:VCARD").empty());
  // Invalid UTF-8 becomes U+FFFD rather than failing.
  contacts = ParseVCards("BEGIN:VCARD\nFN:\xFF\xFEx\nEND:VCARD\n");
  ASSERT_EQ(contacts.size(), 1u);
  EXPECT_NE(contacts[0].name.find(u'\uFFFD'), std::u16string::npos);
}

}  // namespace
}  // namespace device::contacts
