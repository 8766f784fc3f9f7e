// Import and export of XML backups with real documents on a scratch device.
#include "import/xml/xml_backup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/testing/temp_device.h"
#include "platform/unicode.h"
#include "send/filing.h"
#include "text/text.h"

namespace import::xml {
namespace {

using store::Node;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// What a message node holds that a backup must keep.
struct Stored {
  std::u16string sender;
  int64_t seconds = 0;  // the local date, in seconds
  std::u16string body;
  bool unread = false;
  bool operator==(const Stored&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Stored& m) {
  return out << platform::ToUtf8(m.sender) << " @" << m.seconds << " "
             << (m.unread ? "unread " : "read ") << "\""
             << platform::ToUtf8(m.body) << "\"";
}

platform::SystemTime Utc(int day, int hour, int minute, int second = 0) {
  platform::SystemTime t;
  t.year = 2024;
  t.month = 3;
  t.day = static_cast<uint16_t>(day);
  t.hour = static_cast<uint16_t>(hour);
  t.minute = static_cast<uint16_t>(minute);
  t.second = static_cast<uint16_t>(second);
  return t;
}

// The milliseconds a backup gives for a UTC time.
int64_t Ms(const platform::SystemTime& utc) {
  return static_cast<int64_t>(platform::SystemTimeToFileTime(utc)->value() /
                              10000) -
         11644473600000;
}

std::string Sms(const std::string& address, int64_t ms, int type,
                const std::string& body, int read = 1) {
  return "<sms protocol=\"0\" address=\"" + address + "\" date=\"" +
         std::to_string(ms) + "\" type=\"" + std::to_string(type) +
         "\" subject=\"null\" body=\"" + body + "\" read=\"" +
         std::to_string(read) + "\" contact_name=\"(Unknown)\" />\n";
}

std::string Backup(const std::string& elements, int count) {
  return "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
         "<smses count=\"" +
         std::to_string(count) + "\">\n" + elements + "</smses>\n";
}

class XmlBackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doc_.New(u"\\My Documents\\a.zud", {}).ok());
    inbox_ = doc_.WellKnownFolder(store::kFolderInbox);
    ASSERT_NE(inbox_, nullptr);
  }

  ImportResult Import(Node* folder, const std::string& xml) {
    StringSource source(xml);
    return ImportBackup(doc_, folder, source);
  }

  static std::vector<Stored> Messages(store::Document& doc, Node* folder) {
    std::vector<Stored> out;
    for (size_t i = 0; i < folder->child_count(); ++i) {
      Node* node = folder->child(i);
      if (!node->is_message()) continue;
      std::optional<store::NodeRecord> record = doc.ReadNodeRecord(node);
      std::optional<std::u16string> body = doc.ReadNodeBody(node);
      EXPECT_TRUE(record && body);
      if (!record || !body) continue;
      out.push_back({record->sender(), std::llround(record->date() * 86400.0),
                     *body, node->image() == store::kImageMessageUnread});
    }
    return out;
  }

  std::string ReadDeviceFile(std::u16string_view path) {
    return platform::testing::ReadHostFile(
        device_.HostPath(platform::ToUtf8(path)));
  }

  platform::testing::TempDevice device_;
  store::Document doc_;
  Node* inbox_ = nullptr;
};

TEST_F(XmlBackupTest, RoundTripKeepsSenderTimeTextAndReadState) {
  Node* folder = doc_.FindOrCreateFolderPath(u"\\Kept");
  ASSERT_NE(folder, nullptr);
  const std::u16string texts[] = {
      u"\u4f60\u597d\uff0c\u4eca\u665a\u5403\u4ec0\u4e48\uff1f",
      u"Smile \U0001F600 and \U0001F44D\U0001F3FD",
      u"first line\r\nsecond line\r\n\r\nlast",
      u"He said \"hi\" & 'bye' <b>bold</b> > 3\ttabbed",
      u"",
  };
  int minute = 0;
  for (const std::u16string& text : texts) {
    ASSERT_NE(doc_.StoreMessage(folder, u"+8613800138000", text,
                                Utc(5, 10, minute++, 42)),
              nullptr);
    ASSERT_NE(doc_.StoreMessage(folder, u"\"Ann & Bo\"<10086>", text,
                                Utc(6, 23, minute++, 7),
                                store::MessageKind::kImported),
              nullptr);
  }
  // Sent the way the Sent Box files them, and nested one folder down.
  ASSERT_NE(doc_.StoreMessage(folder, u"123;456",
                              send::SentContent(u"123;456", texts[1]),
                              Utc(7, 1, 2, 3), store::MessageKind::kSent),
            nullptr);
  Node* sub = doc_.FindOrCreateFolderPath(u"\\Kept\\Sub");
  ASSERT_NE(doc_.StoreMessage(sub, u"555", u"below", Utc(8, 1, 2, 3)), nullptr);

  ExportResult exported =
      ExportBackup(doc_, folder, /*subfolders=*/true, u"\\backup.xml");
  ASSERT_TRUE(exported.status.ok()) << exported.status.ToString();
  EXPECT_EQ(exported.written, 12);
  EXPECT_EQ(exported.left_out, 0);

  const std::string xml = ReadDeviceFile(u"\\backup.xml");
  EXPECT_TRUE(xml.starts_with(
      "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
      "<smses count=\"12\""));
  EXPECT_THAT(xml, HasSubstr("body=\"first line&#10;second line&#10;&#10;"
                             "last\""));
  EXPECT_THAT(xml, HasSubstr("address=\"&quot;Ann &amp; Bo&quot;&lt;10086"
                             "&gt;\""));
  EXPECT_THAT(xml, HasSubstr("contact_name=\"Ann&amp;Bo\""));
  EXPECT_THAT(xml, HasSubstr("contact_name=\"(Unknown)\""));
  EXPECT_THAT(xml,
              HasSubstr("address=\"123;456\" date=\"" +
                        std::to_string(Ms(Utc(7, 1, 2, 3))) + "\" type=\"2\""));
  EXPECT_THAT(xml, HasSubstr("\xF0\x9F\x98\x80"));

  // Into a new document: every message as it was, in the same order, the
  // sent one in the Sent Box's shape again.
  store::Document other;
  ASSERT_TRUE(other.New(u"\\My Documents\\b.zud", {}).ok());
  Node* target = other.FindOrCreateFolderPath(u"\\Restored");
  StringSource source(xml);
  ImportResult imported = ImportBackup(other, target, source);
  EXPECT_EQ(imported.imported, 12);
  EXPECT_EQ(imported.skipped, 0);
  EXPECT_EQ(imported.refused, 0);
  EXPECT_THAT(imported.damage, IsEmpty());
  std::vector<Stored> expected = Messages(doc_, folder);
  for (const Stored& m : Messages(doc_, sub)) expected.push_back(m);
  EXPECT_EQ(Messages(other, target), expected);
  EXPECT_EQ(target->tag().unread, 6);
}

TEST_F(XmlBackupTest, ImportFilesReceivedAndSentMessages) {
  doc_.set_options({.import_title = text::kTitleContactSummary});
  const std::string xml = Backup(
      Sms("10086", Ms(Utc(1, 8, 0, 30)) + 999, 1, "Your bill&#10;is due", 0) +
          Sms("+33 6 12", Ms(Utc(2, 9, 15)), 2, "On my way"),
      2);
  ImportResult result = Import(inbox_, xml);
  EXPECT_EQ(result.imported, 2);
  ASSERT_EQ(inbox_->child_count(), 2u);
  EXPECT_EQ(inbox_->child(0)->title(), u"10086 Your bill");
  EXPECT_EQ(inbox_->child(0)->image(), store::kImageMessageUnread);
  EXPECT_EQ(inbox_->child(1)->title(), u"+33612 On my way");
  EXPECT_EQ(inbox_->child(1)->image(), store::kImageMessageRead);
  EXPECT_EQ(inbox_->tag().unread, 1);
  EXPECT_EQ(doc_.UnreadTotal(), 1);

  std::vector<Stored> messages = Messages(doc_, inbox_);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].body, u"Your bill\r\nis due");
  EXPECT_EQ(messages[1].sender, u"+33 6 12");
  EXPECT_EQ(messages[1].body, send::SentContent(u"+33 6 12", u"On my way"));
  // The record holds the local time, to the second.
  const platform::SystemTime local =
      *platform::SystemTimeToLocal(Utc(1, 8, 0, 30));
  EXPECT_EQ(messages[0].seconds,
            std::llround(*platform::SystemTimeToVariantTime(local) * 86400.0));
  // Filed for good: the document was saved.
  EXPECT_FALSE(doc_.modified());
}

TEST_F(XmlBackupTest, RepairsWhatPhonesWriteIntoTheTextTheUserSaw) {
  // An emoji as two surrogate references, control characters raw and as
  // references, a raw line break inside the attribute.
  const std::string xml =
      Backup(Sms("1", Ms(Utc(3, 3, 3)), 1,
                 "ok &#55357;&#56832;!&#1;\x02|&#x1b;[1m\nnext&#0;") +
                 Sms("2", Ms(Utc(3, 3, 4)), 1, "&#55357; alone"),
             2);
  ImportResult result = Import(inbox_, xml);
  EXPECT_EQ(result.imported, 2);
  EXPECT_THAT(result.damage, IsEmpty());
  std::vector<Stored> messages = Messages(doc_, inbox_);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].body, u"ok \U0001F600!\u0001\u0002|\u001b[1m\r\nnext");
  EXPECT_EQ(messages[1].body, u"\uFFFD alone");

  // Written back, the controls are left out and the file is valid XML.
  ASSERT_TRUE(ExportBackup(doc_, inbox_, false, u"\\out.xml").status.ok());
  const std::string out = ReadDeviceFile(u"\\out.xml");
  EXPECT_THAT(out, HasSubstr("body=\"ok \xF0\x9F\x98\x80!|[1m&#10;next\""));
  for (char c : out) {
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n');
  }
}

TEST_F(XmlBackupTest, DuplicatesAreSkipped) {
  ASSERT_NE(doc_.StoreMessage(inbox_, u"10086", u"already here",
                              Utc(4, 4, 4, 4), store::MessageKind::kImported),
            nullptr);
  const int64_t at = Ms(Utc(4, 4, 4, 4));
  const std::string xml = Backup(
      // The same as the stored one (milliseconds do not count), and twice
      // in the backup itself.
      Sms("10086", at + 500, 1, "already here") + Sms("10086", at, 1, "new") +
          Sms("10086", at, 1, "new") +
          // Not the same: another second, sender, text or direction.
          Sms("10086", at + 1000, 1, "already here") +
          Sms("10087", at, 1, "already here") +
          Sms("10086", at, 1, "already here!") +
          Sms("10086", at, 2, "already here"),
      7);
  ImportResult first = Import(inbox_, xml);
  EXPECT_EQ(first.imported, 5);
  EXPECT_EQ(first.skipped, 2);
  EXPECT_EQ(inbox_->child_count(), 6u);

  // Everything is there now; into another folder it all goes again.
  ImportResult again = Import(inbox_, xml);
  EXPECT_EQ(again.imported, 0);
  EXPECT_EQ(again.skipped, 7);
  EXPECT_TRUE(doc_.modified() == false);
  Node* other = doc_.FindOrCreateFolderPath(u"\\Other");
  EXPECT_EQ(Import(other, xml).imported, 6);
}

TEST_F(XmlBackupTest, RefusesWhatIsNotAMessageItCanFile) {
  const int64_t at = Ms(Utc(9, 9, 9));
  const std::string xml = Backup(
      Sms("1", at, 1, "fine") +
          "<mms date=\"1\" msg_box=\"1\"><parts><part text=\"x\"/></parts>"
          "<sms address=\"9\" date=\"1\" type=\"1\" body=\"nested\"/></mms>\n" +
          Sms("1", at, 3, "a draft") + Sms("1", at, 5, "queued") +
          "<sms address=\"1\" type=\"1\" body=\"no date\"/>\n"
          "<sms address=\"1\" date=\"soon\" type=\"1\" body=\"bad date\"/>\n"
          "<sms address=\"1\" date=\"99999999999999999\" type=\"1\" "
          "body=\"far future\"/>\n"
          "<sms date=\"1\" type=\"1\" body=\"no address\"/>\n"
          "<sms address=\"1\" date=\"1\" type=\"1\"/>\n" +
          Sms("2", at, 2, "also fine"),
      10);
  ImportResult result = Import(inbox_, xml);
  EXPECT_EQ(result.imported, 2);
  EXPECT_EQ(result.refused, 8);
  EXPECT_THAT(result.damage, IsEmpty());
  EXPECT_EQ(inbox_->child_count(), 2u);
}

TEST_F(XmlBackupTest, DamagedFileKeepsWhatCameBefore) {
  ASSERT_NE(doc_.StoreMessage(inbox_, u"0", u"kept", Utc(1, 1, 1)), nullptr);
  ASSERT_TRUE(doc_.Save().ok());
  std::string elements;
  for (int i = 0; i < 50; ++i) {
    elements +=
        Sms(std::to_string(1000 + i), Ms(Utc(10, 10, i)), 1,
            "message number " + std::to_string(i) + std::string(40, '.'));
  }
  const std::string whole = Backup(elements, 50);
  // Cut in the middle of the 31st message.
  const size_t cut = whole.find("message number 30");
  ImportResult result = Import(inbox_, whole.substr(0, cut));
  EXPECT_THAT(result.damage, HasSubstr("line "));
  EXPECT_TRUE(result.status.ok());
  EXPECT_EQ(result.imported + result.refused, 50);
  // The reader may hold back the messages of its last chunk; everything it
  // handed over is filed.
  EXPECT_GE(result.imported, 20);
  EXPECT_LE(result.imported, 30);
  std::vector<Stored> messages = Messages(doc_, inbox_);
  ASSERT_EQ(messages.size(), static_cast<size_t>(result.imported) + 1);
  EXPECT_EQ(messages[0].body, u"kept");
  EXPECT_EQ(messages[1].sender, u"1000");

  // Garbage in the middle, and a file that is no backup at all.
  std::string broken = whole;
  broken.replace(whole.find("<sms", whole.size() / 2), 4, "<<<<");
  Node* other = doc_.FindOrCreateFolderPath(u"\\Broken");
  result = Import(other, broken);
  EXPECT_THAT(result.damage, Not(IsEmpty()));
  EXPECT_EQ(result.imported + result.refused, 50);
  result = Import(other, "<html><sms address=\"1\"/></html>");
  EXPECT_THAT(result.damage, HasSubstr("not an SMS backup"));
  EXPECT_EQ(result.imported, 0);
  result = Import(other, "");
  EXPECT_THAT(result.damage, Not(IsEmpty()));
}

TEST_F(XmlBackupTest, ExportChoosesWhatToWrite) {
  Node* sub = doc_.FindOrCreateFolderPath(u"\\Inbox\\Sub");
  Node* secret = doc_.FindOrCreateFolderPath(u"\\Inbox\\Secret");
  ASSERT_NE(doc_.StoreMessage(inbox_, u"1", u"top", Utc(1, 1, 1)), nullptr);
  ASSERT_NE(doc_.StoreMessage(sub, u"2", u"below", Utc(1, 1, 2)), nullptr);
  ASSERT_NE(doc_.StoreMessage(secret, u"3", u"hidden", Utc(1, 1, 3)), nullptr);
  Node* locked = doc_.StoreMessage(inbox_, u"4", u"locked", Utc(1, 1, 4));
  for (Node* node : {secret, locked}) {
    std::optional<store::NodeRecord> record = doc_.ReadNodeRecord(node);
    record->set_password(u"pw");
    ASSERT_TRUE(doc_.RewriteNodeRecord(node, *record).ok());
  }
  // A mark shares the record: written once.
  ASSERT_NE(doc_.CopyToMark(inbox_->child(2), u"Home"), nullptr);

  ExportResult flat = ExportBackup(doc_, inbox_, false, u"\\flat.xml");
  EXPECT_EQ(flat.written, 1);
  EXPECT_EQ(flat.left_out, 1);
  ExportResult deep = ExportBackup(doc_, inbox_, true, u"\\deep.xml");
  EXPECT_EQ(deep.written, 2);
  EXPECT_EQ(deep.left_out, 2);
  EXPECT_THAT(ReadDeviceFile(u"\\deep.xml"), Not(HasSubstr("hidden")));
  // Chosen itself, a message's password was asked by the caller.
  EXPECT_EQ(ExportBackup(doc_, locked, false, u"\\one.xml").written, 1);

  // The whole document, the Recycle Bin left out.
  ASSERT_NE(doc_.StoreMessage(doc_.WellKnownFolder(store::kFolderDrafts), u"5",
                              u"gone", Utc(1, 1, 5)),
            nullptr);
  doc_.ToggleRecycleBin();
  Node* drafts = doc_.WellKnownFolder(store::kFolderDrafts);
  Node* gone[] = {drafts->child(0)};
  ASSERT_TRUE(doc_.DeleteNodes(gone));
  ExportResult all = ExportBackup(doc_, nullptr, true, u"\\all.xml");
  EXPECT_EQ(all.written, 2);
  EXPECT_THAT(ReadDeviceFile(u"\\all.xml"), Not(HasSubstr("gone")));
  EXPECT_THAT(ReadDeviceFile(u"\\all.xml"), HasSubstr("<smses count=\"2\""));
}

TEST_F(XmlBackupTest, ExportReplacesTheFileInOneStep) {
  ASSERT_NE(doc_.StoreMessage(inbox_, u"1", u"new", Utc(1, 1, 1)), nullptr);
  platform::testing::WriteHostFile(device_.HostPath("\\out\\b.xml"), "old");
  ASSERT_TRUE(ExportBackup(doc_, inbox_, true, u"\\out\\b.xml").status.ok());
  EXPECT_THAT(ReadDeviceFile(u"\\out\\b.xml"), HasSubstr("body=\"new\""));
  EXPECT_THAT(platform::testing::HostFileNames(device_.HostPath("\\out")),
              ElementsAre("b.xml"));
  // A folder that does not exist: nothing is written, the cause is told.
  ExportResult result = ExportBackup(doc_, inbox_, true, u"\\none\\c.xml");
  EXPECT_FALSE(result.status.ok());
  EXPECT_EQ(result.written, 0);
}

}  // namespace
}  // namespace import::xml
