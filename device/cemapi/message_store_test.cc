// The store's C++ interface over a scratch device's device.db.
#include "device/cemapi/message_store.h"

#include <gtest/gtest.h>

#include "platform/mapi.h"
#include "platform/testing/temp_device.h"

namespace device::cemapi {
namespace {

platform::FileTime At(uint64_t seconds) {
  return platform::FileTime::FromValue(seconds * 10000000ull);
}

TEST(MessageStoreEntryId, RoundTripsAndRejectsForeignBytes) {
  EntryRef ref{EntryKind::kMessage, 0x0102030405060708};
  std::string bytes = EncodeEntryId(ref);
  ASSERT_EQ(bytes.size(), kEntryIdSize);
  EXPECT_EQ(bytes.substr(0, 6), std::string("\0\0\0\0\x01\x03", 6));
  EXPECT_EQ(bytes[6], '\x08');  // little endian
  EXPECT_EQ(DecodeEntryId(bytes), ref);

  EXPECT_FALSE(DecodeEntryId(""));
  EXPECT_FALSE(DecodeEntryId(bytes.substr(0, 13)));
  EXPECT_FALSE(DecodeEntryId(bytes + "x"));
  for (size_t at : {0u, 3u, 4u}) {  // flag bytes, version
    std::string damaged = bytes;
    damaged[at] ^= 0x40;
    EXPECT_FALSE(DecodeEntryId(damaged)) << at;
  }
  for (char kind : {'\0', '\x04', '\xff'}) {
    std::string damaged = bytes;
    damaged[5] = kind;
    EXPECT_FALSE(DecodeEntryId(damaged));
  }
  EXPECT_FALSE(DecodeEntryId(EncodeEntryId({EntryKind::kFolder, 0})));
  EXPECT_FALSE(DecodeEntryId(EncodeEntryId({EntryKind::kFolder, -1})));
}

TEST(MessageStore, DeliversListsCountsAndDeletes) {
  platform::testing::TempDevice scratch;
  std::optional<std::vector<StoreInfo>> stores = ListStores();
  ASSERT_TRUE(stores);
  ASSERT_EQ(stores->size(), 1u);
  EXPECT_EQ((*stores)[0].name, u"SMS");
  std::optional<FolderInfo> inbox = FindSmsFolder(FolderRole::kInbox);
  std::optional<FolderInfo> sent = FindSmsFolder(FolderRole::kSentItems);
  std::optional<FolderInfo> root = FindSmsFolder(FolderRole::kRoot);
  ASSERT_TRUE(inbox && sent && root);
  EXPECT_EQ(inbox->name, u"Inbox");
  EXPECT_EQ(sent->name, u"Sent Items");
  EXPECT_EQ(inbox->parent, root->id);
  EXPECT_EQ(root->parent, 0);
  EXPECT_TRUE(EnsureMessageStore().ok());  // a second time changes nothing
  EXPECT_EQ(ListStores()->size(), 1u);

  // Text kept exactly: CJK, an emoji pair and a lone surrogate.
  const std::u16string odd = u"\u4f60\u597d \U0001F600 \xD800!";
  std::optional<std::string> older =
      DeliverIncomingSms(u"+8613800000001", u"first", At(1000));
  std::optional<std::string> newer =
      DeliverIncomingSms(u"10086", odd, At(2000));
  std::optional<std::string> same_time =
      DeliverIncomingSms(u"10010", u"third", At(2000));
  std::optional<std::string> sent_one = AddSentSms(u"555", u"out", At(1500));
  ASSERT_TRUE(older && newer && same_time && sent_one);
  EXPECT_NE(*older, *newer);

  std::optional<std::vector<PhoneMessage>> listed =
      ListSmsFolder(FolderRole::kInbox);
  ASSERT_TRUE(listed);
  ASSERT_EQ(listed->size(), 3u);
  EXPECT_EQ((*listed)[0].entry_id(), *same_time);  // newest, later added
  EXPECT_EQ((*listed)[1].entry_id(), *newer);
  EXPECT_EQ((*listed)[2].entry_id(), *older);
  EXPECT_EQ((*listed)[1].text, odd);
  EXPECT_EQ((*listed)[1].address, u"10086");
  EXPECT_EQ((*listed)[1].delivery_time.value(), At(2000).value());
  EXPECT_EQ((*listed)[1].flags, 0u);
  EXPECT_EQ(CountSmsFolder(FolderRole::kInbox), 3);

  std::optional<PhoneMessage> out = FindMessage(*sent_one);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->folder, sent->id);
  EXPECT_EQ(out->flags, static_cast<uint32_t>(platform::MSGFLAG_READ |
                                              platform::MSGFLAG_FROMME));
  EXPECT_EQ(CountMessages(sent->id), 1);

  // Deleting in a folder skips what lies elsewhere.
  EXPECT_EQ(DeleteMessagesIn(sent->id, {DecodeEntryId(*older)->row}), 0);
  EXPECT_EQ(DeleteMessagesIn(inbox->id, {DecodeEntryId(*older)->row,
                                         DecodeEntryId(*sent_one)->row}),
            1);
  EXPECT_TRUE(DeleteMessage(*newer).ok());
  EXPECT_EQ(DeleteMessage(*newer).code(), platform::ErrorCode::kNotFound);
  EXPECT_EQ(DeleteMessage("junk").code(),
            platform::ErrorCode::kInvalidArgument);
  platform::Status status;
  EXPECT_FALSE(FindMessage(*newer, &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kNotFound);
  EXPECT_EQ(CountSmsFolder(FolderRole::kInbox), 1);

  // Identifiers are never reused.
  std::optional<std::string> later =
      DeliverIncomingSms(u"1", u"later", At(3000));
  ASSERT_TRUE(later);
  EXPECT_GT(DecodeEntryId(*later)->row, DecodeEntryId(*sent_one)->row);
}

TEST(MessageStore, FailsClearlyWithoutADevice) {
  platform::testing::TempDevice scratch;
  setenv("TELVANE_DEVICE", (scratch.root() / "none").c_str(), 1);
  platform::Status status;
  EXPECT_FALSE(DeliverIncomingSms(u"1", u"x", At(1), &status));
  EXPECT_FALSE(status.ok());
  EXPECT_FALSE(ListSmsFolder(FolderRole::kInbox));
  setenv("TELVANE_DEVICE", scratch.root().c_str(), 1);
}

}  // namespace
}  // namespace device::cemapi
