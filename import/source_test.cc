// The listing, filing and deleting of the phone's SMS folders, over the real
// cemapi.dll installed into a scratch device and filled by devicectl.
#include "import/source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/cemapi/message_store.h"
#include "platform/device_db.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/temp_device.h"
#include "store/document.h"
#include "text/text.h"

namespace import {
namespace {

using platform::testing::Devicectl;

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

platform::SystemTime LocalOf(const std::string& id) {
  std::optional<device::cemapi::PhoneMessage> m =
      device::cemapi::FindMessage(id);
  EXPECT_TRUE(m);
  return platform::SystemTimeToLocal(
             *platform::FileTimeToSystemTime(m->delivery_time))
      .value();
}

class PhoneStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testing::CommandResult install = Devicectl(
        "install " + platform::testing::BinDir().parent_path().string());
    ASSERT_EQ(install.exit_code, 0) << install.out;
  }

  // Adds a message with devicectl; its entry identifier.
  std::string Add(bool sent, const std::string& party, const std::string& at,
                  const std::string& text) {
    platform::testing::CommandResult added =
        Devicectl(std::string("store ") +
                  (sent ? "add-sent --to " : "add-inbox --from ") + party +
                  " --at '" + at + "' '" + text + "'");
    EXPECT_EQ(added.exit_code, 0) << added.out;
    // "added HEX to ..."
    return Unhex(added.out.substr(6, added.out.find(' ', 6) - 6));
  }

  platform::testing::TempDevice device_;
};

TEST_F(PhoneStoreTest, ListsEachFolderNewestFirstWithWholeFields) {
  const std::string old_id =
      Add(false, "10086", "2025-01-02 03:04:05Z", "first\r\nline");
  const std::string new_id =
      Add(false, "13800138000", "2026-05-06 07:08:09Z", "second");
  const std::string sent_id =
      Add(true, "+8613912345678", "2026-04-01 10:00:00Z", "went out");

  std::optional<std::vector<ImportItem>> inbox =
      ListFolder(PhoneFolder::kInbox);
  ASSERT_TRUE(inbox);
  ASSERT_EQ(inbox->size(), 2u);
  EXPECT_EQ((*inbox)[0].sender, u"13800138000");
  EXPECT_EQ((*inbox)[0].body, u"second");
  EXPECT_EQ((*inbox)[0].entry_id, new_id);
  EXPECT_EQ((*inbox)[1].body, u"first\r\nline");
  EXPECT_EQ((*inbox)[1].entry_id, old_id);
  EXPECT_EQ((*inbox)[1].folder, PhoneFolder::kInbox);
  const platform::SystemTime local = LocalOf(old_id);
  EXPECT_EQ((*inbox)[1].delivery_local.day, local.day);
  EXPECT_EQ((*inbox)[1].delivery_local.hour, local.hour);

  std::optional<std::vector<ImportItem>> sent =
      ListFolder(PhoneFolder::kSentItems);
  ASSERT_TRUE(sent);
  ASSERT_EQ(sent->size(), 1u);
  EXPECT_EQ((*sent)[0].sender, u"+8613912345678");
  EXPECT_EQ((*sent)[0].entry_id, sent_id);
  EXPECT_EQ((*sent)[0].folder, PhoneFolder::kSentItems);
}

TEST_F(PhoneStoreTest, ListingInStepsGivesEveryMessageOnce) {
  for (int i = 0; i < 7; ++i) {
    Add(false, "1" + std::to_string(i),
        "2026-01-0" + std::to_string(i + 1) + " 12:00:00Z",
        "m" + std::to_string(i));
  }
  std::unique_ptr<FolderListing> listing =
      FolderListing::Open(PhoneFolder::kInbox);
  ASSERT_NE(listing, nullptr);
  std::vector<std::u16string> bodies;
  while (!listing->done()) {
    for (ImportItem& item : listing->Next(3)) bodies.push_back(item.body);
  }
  EXPECT_EQ(bodies, (std::vector<std::u16string>{u"m6", u"m5", u"m4", u"m3",
                                                 u"m2", u"m1", u"m0"}));
  EXPECT_TRUE(listing->Next(3).empty());
}

TEST_F(PhoneStoreTest, RowShowsTheTimeTodayAndTheDateOtherwise) {
  const std::string id = Add(false, "10086", "2026-03-04 05:06:07Z", "hello");
  std::optional<std::vector<ImportItem>> inbox =
      ListFolder(PhoneFolder::kInbox);
  ASSERT_TRUE(inbox && inbox->size() == 1);
  const ImportItem& item = (*inbox)[0];
  const platform::SystemTime local = LocalOf(id);

  platform::SystemTime today = local;
  today.hour = 23;
  EXPECT_EQ(ItemText(item, today),
            u"10086 " + text::FormatTime(local, text::TimeKind::kTime, 64) +
                u"\nhello");
  platform::SystemTime next_day = local;
  next_day.day = local.day == 1 ? 2 : 1;
  const std::u16string date =
      text::FormatTime(local, text::TimeKind::kDate, 64);
  EXPECT_EQ(ItemText(item, next_day), u"10086 " + date + u"\nhello");
  EXPECT_NE(date, text::FormatTime(local, text::TimeKind::kTime, 64));
  platform::SystemTime next_year = local;
  ++next_year.year;
  EXPECT_EQ(ItemText(item, next_year), u"10086 " + date + u"\nhello");
}

TEST(BodyStartTest, CutsAtThirtyWidthUnits) {
  EXPECT_EQ(BodyStart(u"short"), u"short");
  const std::u16string thirty(30, u'a');
  EXPECT_EQ(BodyStart(thirty), thirty);
  EXPECT_EQ(BodyStart(thirty + u"b"), std::u16string(28, u'a') + u"..");
  // Line breaks become spaces; they count one unit each.
  EXPECT_EQ(BodyStart(u"two\r\nlines"), u"two  lines");
  // Chinese characters count two: fifteen fit, the last two become "..".
  const std::u16string chinese = u"今天晚上七点在老地方见面不要迟到了谢谢";
  ASSERT_GT(chinese.size(), 15u);
  EXPECT_EQ(BodyStart(chinese), chinese.substr(0, 13) + u"..");
  EXPECT_EQ(BodyStart(chinese.substr(0, 15)), chinese.substr(0, 15));
  // Code 128 counts one, 129 two.
  EXPECT_EQ(BodyStart(std::u16string(30, char16_t{128})).size(), 30u);
  EXPECT_EQ(BodyStart(std::u16string(16, char16_t{129})),
            std::u16string(13, char16_t{129}) + u"..");
  // A wide character that no longer fits ends the start early.
  const std::u16string odd = std::u16string(29, u'a') + u"中";
  EXPECT_EQ(BodyStart(odd), std::u16string(27, u'a') + u"..");
}

TEST(ItemFromPropsTest, HoldsAnyIdentifierWholeAndDropsUnreadableMessages) {
  std::u16string sender = u"10086";
  std::u16string body = u"text";
  platform::SPropValue props[3] = {};
  props[0].ulPropTag = platform::PR_SUBJECT;
  props[0].Value.lpszW = body.data();
  props[1].ulPropTag = platform::PR_SENDER_EMAIL_ADDRESS;
  props[1].Value.lpszW = sender.data();
  props[2].ulPropTag = platform::PR_MESSAGE_DELIVERY_TIME;
  props[2].Value.ft =
      *platform::SystemTimeToFileTime({2026, 3, 0, 4, 5, 6, 7, 0});

  const std::string long_id(4096, '\x5A');
  std::optional<ImportItem> item =
      ItemFromProps(long_id, props, PhoneFolder::kSentItems);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->entry_id, long_id);
  EXPECT_EQ(item->sender, sender);
  EXPECT_EQ(item->body, body);
  EXPECT_EQ(item->folder, PhoneFolder::kSentItems);

  for (int missing = 0; missing < 3; ++missing) {
    platform::SPropValue broken[3] = {props[0], props[1], props[2]};
    broken[missing].ulPropTag = platform::PROP_TAG(
        platform::PT_ERROR, platform::PROP_ID(props[missing].ulPropTag));
    EXPECT_FALSE(ItemFromProps("id", broken, PhoneFolder::kInbox)) << missing;
  }
  platform::SPropValue far[3] = {props[0], props[1], props[2]};
  far[2].Value.ft = platform::FileTime::FromValue(~uint64_t{0});
  EXPECT_FALSE(ItemFromProps("id", far, PhoneFolder::kInbox));
  EXPECT_FALSE(ItemFromProps("id", {}, PhoneFolder::kInbox));
}

TEST_F(PhoneStoreTest, WithoutAnSmsStoreNothingIsListed) {
  Add(false, "10086", "2026-03-04 05:06:07Z", "hello");
  std::shared_ptr<platform::DeviceDb> db = platform::DeviceDb::Get();
  ASSERT_NE(db, nullptr);
  ASSERT_TRUE(db->Exec("UPDATE msgstore_stores SET name = X'4F00'").ok());
  platform::Status status;
  EXPECT_FALSE(ListFolder(PhoneFolder::kInbox, &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kUnavailable);
  EXPECT_FALSE(
      DeleteFromPhone(PhoneFolder::kInbox, std::vector<std::string>{"x"}));
  // The message is still there (folder 2: that store's Inbox).
  EXPECT_EQ(device::cemapi::CountMessages(2), 1);
}

TEST(PhoneStoreMissing, WithoutTheLibraryNothingIsListed) {
  platform::testing::TempDevice device;  // nothing installed
  platform::Status status;
  EXPECT_FALSE(ListFolder(PhoneFolder::kSentItems, &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kUnavailable);
}

TEST_F(PhoneStoreTest, DeletesExactlyTheNamedMessagesOfTheFolder) {
  const std::string a = Add(false, "1", "2026-03-04 05:00:00Z", "a");
  const std::string b = Add(false, "2", "2026-03-04 06:00:00Z", "b");
  const std::string c = Add(false, "3", "2026-03-04 07:00:00Z", "c");
  const std::string s = Add(true, "4", "2026-03-04 08:00:00Z", "s");

  // An Inbox message asked of Sent Items stays; so does a foreign id.
  std::vector<std::string> wrong = {a, std::string(300, '\x01')};
  EXPECT_EQ(DeleteFromPhone(PhoneFolder::kSentItems, wrong), 0);
  EXPECT_EQ(DeleteFromPhone(PhoneFolder::kInbox, std::vector{a, c}), 2);
  std::optional<std::vector<ImportItem>> inbox =
      ListFolder(PhoneFolder::kInbox);
  ASSERT_TRUE(inbox && inbox->size() == 1);
  EXPECT_EQ((*inbox)[0].entry_id, b);
  EXPECT_EQ(DeleteFromPhone(PhoneFolder::kSentItems, std::vector{s, a}), 1);
  EXPECT_EQ(
      device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kSentItems),
      0);
}

class ImportIntoDocumentTest : public PhoneStoreTest {
 protected:
  void SetUp() override {
    PhoneStoreTest::SetUp();
    store::DocumentOptions options;
    options.import_title = text::kTitleContactSummary;
    document_.set_options(options);
    ASSERT_TRUE(document_.New(u"\\import.zud", {}).ok());
    target_ = document_.FindOrCreateFolderPath(u"\\Phone");
    ASSERT_NE(target_, nullptr);
  }

  store::Document document_;
  store::Node* target_ = nullptr;
};

TEST_F(ImportIntoDocumentTest, FilesTickedItemsLastFirstAndDeletesOnlyThose) {
  Add(false, "10086", "2026-03-04 05:00:00Z", "one");
  Add(false, "10010", "2026-03-04 06:00:00Z", "two");
  Add(true, "13800138000", "2026-03-04 07:00:00Z", "sent one");
  std::optional<std::vector<ImportItem>> inbox =
      ListFolder(PhoneFolder::kInbox);
  std::optional<std::vector<ImportItem>> sent =
      ListFolder(PhoneFolder::kSentItems);
  ASSERT_TRUE(inbox && inbox->size() == 2 && sent && sent->size() == 1);

  // "two" is listed first, so it is filed last.
  std::vector<const ImportItem*> chosen = {&(*inbox)[0], &(*sent)[0]};
  ImportResult result =
      ImportIntoDocument(document_, target_, chosen, /*delete_after=*/true);
  EXPECT_EQ(result.imported, 2);
  EXPECT_EQ(result.deleted, 2);
  EXPECT_EQ(result.not_filed, 0);
  ASSERT_EQ(target_->child_count(), 2u);
  EXPECT_EQ(target_->child(0)->title(), u"13800138000 sent one");
  EXPECT_EQ(target_->child(1)->title(), u"10010 two");
  EXPECT_EQ(target_->child(1)->image(), store::kImageMessageRead);
  // Saved before the phone's copies went.
  EXPECT_FALSE(document_.modified());
  std::optional<store::NodeRecord> record =
      document_.ReadNodeRecord(target_->child(1));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->sender(), u"10010");
  EXPECT_EQ(document_.ReadNodeBody(target_->child(1)), u"two");

  // The phone keeps what was not chosen, in its own folder.
  std::optional<std::vector<ImportItem>> left = ListFolder(PhoneFolder::kInbox);
  ASSERT_TRUE(left && left->size() == 1);
  EXPECT_EQ((*left)[0].body, u"one");
  EXPECT_EQ(
      device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kSentItems),
      0);
}

TEST_F(ImportIntoDocumentTest, WhatCannotBeFiledStaysOnThePhone) {
  Add(false, "10086", "2026-03-04 05:00:00Z", "kept");
  std::optional<std::vector<ImportItem>> inbox =
      ListFolder(PhoneFolder::kInbox);
  ASSERT_TRUE(inbox && inbox->size() == 1);
  std::vector<const ImportItem*> chosen = {&(*inbox)[0]};
  // A message is no folder to file into.
  store::Node* message =
      document_.StoreMessage(target_, u"1", u"x", {2026, 1, 0, 1, 0, 0, 0, 0},
                             store::MessageKind::kSent);
  ASSERT_NE(message, nullptr);
  ImportResult result = ImportIntoDocument(document_, message, chosen, true);
  EXPECT_EQ(result.imported, 0);
  EXPECT_EQ(result.not_filed, 1);
  EXPECT_FALSE(result.filing_status.ok());
  EXPECT_EQ(result.deleted, 0);
  EXPECT_EQ(device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox),
            1);
}

TEST_F(ImportIntoDocumentTest, AFiledMessageSurvivesReopeningBeforeASave) {
  Add(false, "10086", "2026-03-04 05:00:00Z", "safe");
  std::optional<std::vector<ImportItem>> inbox =
      ListFolder(PhoneFolder::kInbox);
  ASSERT_TRUE(inbox && inbox->size() == 1);
  ASSERT_TRUE(document_.Save().ok());
  std::vector<const ImportItem*> chosen = {&(*inbox)[0]};
  ImportResult result = ImportIntoDocument(document_, target_, chosen, false);
  EXPECT_EQ(result.imported, 1);
  EXPECT_TRUE(document_.modified());

  // A second reader sees the file as a crash would leave it: the last
  // index does not hold the message, its note does.
  store::Document after_crash;
  store::LoadReport report;
  ASSERT_TRUE(after_crash.OpenForReading(u"\\import.zud", &report).ok());
  EXPECT_EQ(report.recovered_messages, 1);
  EXPECT_EQ(device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox),
            1);
}

TEST_F(ImportIntoDocumentTest, AFailedSaveKeepsThePhonesCopies) {
  Add(false, "10086", "2026-03-04 05:00:00Z", "one");
  Add(false, "10010", "2026-03-04 06:00:00Z", "two");
  std::optional<std::vector<ImportItem>> inbox =
      ListFolder(PhoneFolder::kInbox);
  ASSERT_TRUE(inbox && inbox->size() == 2);
  std::vector<const ImportItem*> chosen = {&(*inbox)[0], &(*inbox)[1]};
  ImportResult result;
  {
    platform::testing::FileFaults faults;
    faults.FailCall(platform::files::FileCall::kSync, 1);
    result = ImportIntoDocument(document_, target_, chosen, true);
    EXPECT_TRUE(faults.fired());
  }
  EXPECT_EQ(result.imported, 2);
  EXPECT_FALSE(result.save_status.ok());
  EXPECT_EQ(result.kept_on_phone, 2);
  EXPECT_EQ(result.deleted, 0);
  EXPECT_EQ(target_->child_count(), 2u);
  EXPECT_EQ(device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox),
            2);
}

}  // namespace
}  // namespace import
