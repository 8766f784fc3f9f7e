// Filing of send results in a real document, and the sent popup.
#include "send/filing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/testing/temp_device.h"
#include "text/text.h"

namespace send {
namespace {

using store::Node;
using ::testing::ElementsAre;

// Records the popup calls as text.
class PopupLog : public alerts::AlertPopup {
 public:
  void SetSkin(const std::u16string& skin) override {
    calls.push_back("skin " + U8(skin));
  }
  void Show(const std::u16string& main_text, const std::u16string& second,
            uint32_t lifetime_ms, const std::u16string& picture,
            bool named) override {
    calls.push_back("show " + U8(main_text) + "|" + U8(second) + "|" +
                    std::to_string(lifetime_ms) + "|" + U8(picture) + "|" +
                    (named ? "named" : "number"));
  }
  void Close() override { calls.push_back("close"); }

  static std::string U8(const std::u16string& s) {
    return std::string(s.begin(), s.end());
  }
  std::vector<std::string> calls;
};

platform::SystemTime Noon() {
  platform::SystemTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 7;
  t.hour = 12;
  return t;
}

class FilingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doc_.New(u"\\My Documents\\send.zud", {}).ok());
    settings_.set_send_title(text::kTitleSummary);
    drafts_ = doc_.WellKnownFolder(store::kFolderDrafts);
    sent_box_ = doc_.WellKnownFolder(store::kFolderSentBox);
    ASSERT_NE(drafts_, nullptr);
    ASSERT_NE(sent_box_, nullptr);
  }
  Node* File(SendRequest& request, SendResultKind kind) {
    return FileSendResult(doc_, settings_, request, static_cast<uint32_t>(kind),
                          Noon());
  }
  std::vector<std::u16string> Titles(Node* folder) {
    std::vector<std::u16string> titles;
    for (size_t i = 0; folder != nullptr && i < folder->child_count(); ++i) {
      titles.push_back(folder->child(i)->title());
    }
    return titles;
  }

  platform::testing::TempDevice device_;
  store::Document doc_;
  settings::SettingsStore settings_;
  Node* drafts_ = nullptr;
  Node* sent_box_ = nullptr;
};

TEST_F(FilingTest, DraftIsReplacedBySecondSaveAndRemovedBySend) {
  SendRequest request;
  request.recipients = u"\"Bob\"<555>";
  request.text = u"first words";
  Node* draft = File(request, SendResultKind::kSaveDraft);
  ASSERT_NE(draft, nullptr);
  ASSERT_TRUE(request.draft.has_value());
  EXPECT_EQ(request.draft->node, draft);
  EXPECT_EQ(draft->image(), store::kImageMessageRead);

  // The same window saves again: the same node, new title and content.
  request.text = u"second words";
  EXPECT_EQ(File(request, SendResultKind::kSaveDraft), draft);
  EXPECT_THAT(Titles(drafts_), ElementsAre(u"second wor"));
  EXPECT_EQ(doc_.ReadNodeBody(draft),
            u"Send To:\"Bob\"<555>\r\n--------------------\r\nsecond words");
  std::optional<store::NodeRecord> record = doc_.ReadNodeRecord(draft);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->sender().substr(0, 10), u"\"Bob\"<555>");

  // Sent with "SaveToSentBox" off: filed all the same, the draft is gone.
  settings_.set_save_to_sent_box(0);
  Node* sent = File(request, SendResultKind::kSent);
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(sent->parent(), sent_box_);
  EXPECT_TRUE(Titles(drafts_).empty());
  EXPECT_FALSE(request.draft.has_value());
  EXPECT_TRUE(doc_.modified());

  // A failed send from a draft goes to the Outbox.
  request.draft.reset();
  Node* second = File(request, SendResultKind::kSaveDraft);
  ASSERT_NE(second, nullptr);
  Node* failed = File(request, SendResultKind::kFailed);
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->parent(), doc_.WellKnownFolder(store::kFolderOutbox));
  EXPECT_EQ(failed->parent()->title(), u"Outbox");
  EXPECT_TRUE(Titles(drafts_).empty());
}

TEST_F(FilingTest, StaleDraftReferencesAndSaveToSentBox) {
  SendRequest request;
  request.recipients = u"10086";
  request.text = u"hello";
  Node* draft = File(request, SendResultKind::kSaveDraft);
  ASSERT_NE(draft, nullptr);
  const std::optional<DraftReference> stale = request.draft;
  // The user deletes the draft (its copy goes to no Recycle Bin here).
  Node* to_delete[] = {draft};
  ASSERT_TRUE(doc_.DeleteNodes(to_delete));
  EXPECT_TRUE(Titles(drafts_).empty());

  // Sending from a draft that is gone files nothing...
  EXPECT_EQ(File(request, SendResultKind::kSent), nullptr);
  EXPECT_TRUE(Titles(sent_box_).empty());
  // ...and saving it makes a new draft.
  request.draft = stale;
  Node* fresh = File(request, SendResultKind::kSaveDraft);
  ASSERT_NE(fresh, nullptr);
  EXPECT_THAT(Titles(drafts_), ElementsAre(u"hello"));

  // Without a draft a result is filed only under "SaveToSentBox"; group
  // results go to the Sent Box, unused kinds nowhere.
  SendRequest plain;
  plain.recipients = u"1";
  plain.text = u"plain";
  settings_.set_save_to_sent_box(0);
  EXPECT_EQ(File(plain, SendResultKind::kSent), nullptr);
  settings_.set_save_to_sent_box(1);
  EXPECT_NE(File(plain, SendResultKind::kSent), nullptr);
  EXPECT_NE(File(plain, SendResultKind::kGroupFinished), nullptr);
  EXPECT_EQ(FileSendResult(doc_, settings_, plain, 3, Noon()), nullptr);
  EXPECT_EQ(FileSendResult(doc_, settings_, plain, 5, Noon()), nullptr);
  EXPECT_THAT(Titles(sent_box_), ElementsAre(u"plain", u"plain"));

  // Title modes come from "SendTitle".
  settings_.set_send_title(text::kTitleContactSummary);
  Node* titled = File(plain, SendResultKind::kSent);
  ASSERT_NE(titled, nullptr);
  EXPECT_EQ(titled->title(), u"1 plain");
}

TEST_F(FilingTest, SentPopupAndNoDocument) {
  PopupLog popup;
  settings_.set_sent_skin(u"\\Program Files\\Telvane\\skins\\Blue.cfg");
  settings_.set_disappear_time(7000);
  settings_.set_save_to_sent_box(0);
  SendRequest named;
  named.recipients = u"\"Bob\"<555>;10086";
  named.text = u"x";
  HandleSendResult(&doc_, settings_, &popup, named, 1);
  SendRequest bare;
  bare.recipients = u"10086;\"Bob\"<555>";
  bare.text = u"x";
  HandleSendResult(&doc_, settings_, &popup, bare, 0);
  SendRequest draft = bare;
  HandleSendResult(&doc_, settings_, &popup, draft, 2);  // no popup
  SendRequest group = bare;
  HandleSendResult(&doc_, settings_, &popup, group, 4);  // no popup
  EXPECT_THAT(popup.calls,
              ElementsAre("skin \\Program Files\\Telvane\\skins\\Blue.cfg",
                          "show Send to Bob Successfully!||7000||named",
                          "skin \\Program Files\\Telvane\\skins\\Blue.cfg",
                          "show Send to 10086 Fail!||7000||number"));
  // With "SaveToSentBox" off only the draft was filed.
  EXPECT_TRUE(Titles(sent_box_).empty());
  EXPECT_EQ(Titles(drafts_).size(), 1u);

  // No document: nothing filed, the popup still shown; "SentAlert" off: no
  // popup.
  popup.calls.clear();
  HandleSendResult(nullptr, settings_, &popup, bare, 1);
  EXPECT_EQ(popup.calls.size(), 2u);
  settings_.set_sent_alert(0);
  HandleSendResult(&doc_, settings_, &popup, bare, 1);
  EXPECT_EQ(popup.calls.size(), 2u);
}

TEST(SentContent, IsCutAtWholeCharactersInTheCodePage) {
  EXPECT_EQ(SentContent(u"1;2", u"hi"),
            u"Send To:1;2\r\n--------------------\r\nhi");
  // Two bytes per character in 936: the header takes 35 bytes, so 4964
  // bytes of text fit: 2482 characters.
  std::u16string long_text(3000, u'\u4e2d');
  std::string bytes = SentContentBytes(u"1;2", long_text, 936);
  ASSERT_EQ(bytes.size(), 35u + 4964u + 1u);
  EXPECT_EQ(bytes.back(), '\0');
  EXPECT_TRUE(platform::MultiByteToWide(bytes.substr(35, 4964), 936) ==
              long_text.substr(0, 2482));
  // A surrogate pair (four bytes in UTF-8) is never split.
  std::u16string pairs;
  for (int i = 0; i < 2000; ++i) pairs += u"\U0001F600";
  std::string utf8 = SentContentBytes(u"", pairs, 65001);
  EXPECT_EQ(utf8.size(), 32u + 4964u + 1u);
  EXPECT_EQ(SentContentBytes(u"", u"short", 65001).size(), 32u + 5u + 1u);
}

}  // namespace
}  // namespace send
