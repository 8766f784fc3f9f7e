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

TEST(VCardTest, NamesAndCharsets) {
  std::vector<Contact> contacts = ParseVCards(
      "BEGIN:VCARD\nN:Smith;John;Q;;\nTEL:1\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=ISO-8859-1;QUOTED-PRINTABLE:"
      "M=FCller;J=F6rg\nEND:VCARD\n");
  ASSERT_EQ(contacts.size(), 2u);
  EXPECT_EQ(contacts[0].name, u"John Smith");
  EXPECT_EQ(contacts[1].name, u"Jörg Müller");
}

struct PlacementCase {
  const char* what;
  const char* tels;  // the card's TEL lines
  std::u16string mobile;
  std::u16string home;
  std::u16string work;
  std::vector<std::u16string> dropped;
};

TEST(VCardTest, PlacesEveryNumberThatFits) {
  const PlacementCase cases[] = {
      {"a phone's export: the preferred number before the mobile one",
       "item1.TEL;type=pref:+15550001\r\nTEL;type=CELL;type=VOICE:+"
       "15550002\r\n",
       u"+15550002",
       u"+15550001",
       u"",
       {}},
      {"2.1 bare CELL after an untyped number",
       "TEL:1\r\nTEL;CELL:2\r\n",
       u"2",
       u"1",
       u"",
       {}},
      {"3.0 TYPE=CELL", "TEL:1\r\nTEL;TYPE=CELL:2\r\n", u"2", u"1", u"", {}},
      {"lower case, TYPE repeated",
       "TEL:1\r\nTEL;type=cell;type=pref:2\r\n",
       u"2",
       u"1",
       u"",
       {}},
      {"quoted TYPE list",
       "TEL:1\r\nTEL;TYPE=\"voice,cell\":2\r\n",
       u"2",
       u"1",
       u"",
       {}},
      {"grouped", "TEL:1\r\nitem2.TEL;TYPE=CELL:2\r\n", u"2", u"1", u"", {}},
      {"4.0 tel: URI",
       "TEL:1\r\nTEL;VALUE=uri;TYPE=\"cell,text\":tel:+1-555-0100\r\n",
       u"+1-555-0100",
       u"1",
       u"",
       {}},
      {"HOME and WORK after an untyped number",
       "TEL:1\r\nTEL;WORK:3\r\nTEL;TYPE=HOME:2\r\n",
       u"1",
       u"2",
       u"3",
       {}},
      {"VOICE, PREF, MAIN, OTHER are untyped and wait for the typed ones",
       "TEL;VOICE:1\r\nTEL;TYPE=PREF:2\r\nTEL;TYPE=OTHER:3\r\n"
       "TEL;TYPE=MAIN:4\r\nTEL;HOME:5\r\n",
       u"1",
       u"5",
       u"2",
       {u"3", u"4"}},
      {"numbers that cannot take a text message are never kept",
       "TEL;FAX:1\r\nTEL;TYPE=work,fax:2\r\nTEL;HOME;FAX:3\r\n"
       "TEL;PAGER:4\r\nTEL;TYPE=\"cell,pager\":5\r\nTEL;MODEM:6\r\n"
       "TEL;BBS:7\r\nTEL;TYPE=textphone:8\r\nTEL:9\r\n",
       u"9",
       u"",
       u"",
       {}},
      {"a second mobile number takes a free place before untyped ones",
       "TEL:1\r\nTEL;CELL:2\r\nTEL;CELL:3\r\nTEL;HOME:4\r\n",
       u"2",
       u"4",
       u"3",
       {u"1"}},
      {"more numbers than places: the rest is dropped in card order",
       "TEL:1\r\nTEL:2\r\nTEL:3\r\nTEL:4\r\nTEL;CELL:5\r\n",
       u"5",
       u"1",
       u"2",
       {u"3", u"4"}},
      {"a number written again differently is not lost",
       "TEL;CELL:+1 555 0100\r\nTEL;TYPE=pref:+1-555-0100\r\n"
       "TEL;CELL:(+1) 555.0100\r\nTEL:9\r\nTEL:9\r\nTEL:8\r\nTEL:7\r\n"
       "TEL:7\r\n",
       u"+1 555 0100",
       u"9",
       u"8",
       {u"7"}},
      {"one number as mobile and home stays in both",
       "TEL;CELL:1\r\nTEL;HOME:1\r\n",
       u"1",
       u"1",
       u"",
       {}},
      {"an empty TEL is no number",
       "TEL;CELL:\r\nTEL: \r\nTEL:2\r\n",
       u"2",
       u"",
       u"",
       {}},
  };
  for (const PlacementCase& c : cases) {
    SCOPED_TRACE(c.what);
    VCardReport report;
    std::vector<Contact> contacts = ParseVCards(
        std::string("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:John Doe\r\n") + c.tels +
            "END:VCARD\r\n",
        &report);
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].mobile, c.mobile);
    EXPECT_EQ(contacts[0].home, c.home);
    EXPECT_EQ(contacts[0].business, c.work);
    if (c.dropped.empty()) {
      EXPECT_TRUE(report.dropped.empty());
    } else {
      ASSERT_EQ(report.dropped.size(), 1u);
      EXPECT_EQ(report.dropped[0].dropped, c.dropped);
      EXPECT_EQ(report.dropped[0].kept, 3);
    }
  }
}

TEST(VCardTest, ReportsCardsWhoseNumbersDoNotFit) {
  VCardReport report;
  std::vector<Contact> contacts = ParseVCards(
      "BEGIN:VCARD\nFN:Fits\nTEL;CELL:1\nTEL;WORK;FAX:2\nEND:VCARD\n"
      "BEGIN:VCARD\nFN:Fax Only\nTEL;FAX:3\nEND:VCARD\n"
      "BEGIN:VCARD\nTEL;FAX:4\nEND:VCARD\n"  // nothing to keep
      "BEGIN:VCARD\nFN:Ann\nTEL;HOME:5\nTEL;HOME:6\nTEL;HOME:7\nTEL;HOME:8\n"
      "END:VCARD\n"
      "BEGIN:VCARD\nTEL:9\nTEL:10\nTEL:11\nTEL:12\nEND:VCARD\n",
      &report);
  EXPECT_EQ(report.cards, 5);
  EXPECT_EQ(report.skipped, 1);
  ASSERT_EQ(contacts.size(), 4u);
  EXPECT_EQ(contacts[0].business, u"");
  EXPECT_EQ(contacts[1].name, u"Fax Only");
  EXPECT_EQ(contacts[1].mobile, u"");
  // Extra home numbers fill the free places before any is dropped.
  EXPECT_EQ(contacts[2].mobile, u"6");
  EXPECT_EQ(contacts[2].home, u"5");
  EXPECT_EQ(contacts[2].business, u"7");
  ASSERT_EQ(report.dropped.size(), 2u);
  EXPECT_EQ(report.dropped[0].card, 4);
  EXPECT_EQ(report.dropped[0].name, u"Ann");
  EXPECT_EQ(report.dropped[0].kept, 3);
  EXPECT_EQ(report.dropped[0].dropped, std::vector<std::u16string>{u"8"});
  EXPECT_EQ(report.dropped[1].card, 5);
  EXPECT_EQ(report.dropped[1].name, u"");
  EXPECT_EQ(report.dropped[1].dropped, std::vector<std::u16string>{u"12"});
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
