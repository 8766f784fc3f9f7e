// devicectl's view of the phone's message store: install, the inbox and
// sent-items listings and the store commands, run as the real program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "device/cemapi/message_store.h"
#include "platform/files.h"
#include "platform/testing/temp_device.h"

namespace {

using Result = platform::testing::CommandResult;

using platform::testing::Devicectl;

std::string HexOf(const std::string& bytes) {
  std::string out;
  char buffer[4];
  for (unsigned char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02x", c);
    out += buffer;
  }
  return out;
}

TEST(DevicectlStore, InstallsTheLibraryAndListsBothFolders) {
  platform::testing::TempDevice scratch;
  Result install = Devicectl(
      "install " + platform::testing::BinDir().parent_path().string());
  EXPECT_EQ(install.exit_code, 0) << install.out;
  EXPECT_NE(install.out.find("installed \\Windows\\cemapi.dll"),
            std::string::npos)
      << install.out;
  EXPECT_TRUE(platform::files::Exists(u"\\windows\\CEMAPI.DLL"));

  Result empty = Devicectl("inbox");
  EXPECT_EQ(empty.exit_code, 0) << empty.out;
  EXPECT_EQ(empty.out, "Inbox: 0 message(s)\n");

  Result added = Devicectl(
      "store add-sent --to 13800138000 --at '2026-03-04 05:06:07' "
      "'two\nlines \\ here'");
  ASSERT_EQ(added.exit_code, 0) << added.out;
  std::optional<std::vector<device::cemapi::PhoneMessage>> sent =
      device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kSentItems);
  ASSERT_TRUE(sent);
  ASSERT_EQ(sent->size(), 1u);
  const device::cemapi::PhoneMessage& m = (*sent)[0];
  EXPECT_EQ(m.text, u"two\nlines \\ here");
  EXPECT_EQ(m.address, u"13800138000");
  EXPECT_EQ(added.out, "added " + HexOf(m.entry_id()) + " to Sent Items\n");
  Result listed = Devicectl("sent-items");
  EXPECT_EQ(listed.out, "Sent Items: 1 message(s)\n" + HexOf(m.entry_id()) +
                            "  2026-03-04 05:06:07  13800138000  0x00000021  "
                            "two\\nlines \\\\ here\n");

  ASSERT_EQ(Devicectl("store add-inbox --from 10086 --at 2026-03-04T05:06 hi")
                .exit_code,
            0);
  std::optional<std::vector<device::cemapi::PhoneMessage>> inbox =
      device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kInbox);
  ASSERT_TRUE(inbox);
  ASSERT_EQ(inbox->size(), 1u);
  std::string id = HexOf((*inbox)[0].entry_id());
  EXPECT_EQ(Devicectl("inbox").out, "Inbox: 1 message(s)\n" + id +
                                        "  2026-03-04 05:06:00  10086  "
                                        "0x00000000  hi\n");
  EXPECT_EQ(Devicectl("store delete " + id).exit_code, 0);
  EXPECT_EQ(device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox),
            0);
  Result again = Devicectl("store delete " + id);
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.out.find("no such message"), std::string::npos);
}

TEST(DevicectlStore, RejectsBadArguments) {
  platform::testing::TempDevice scratch;
  struct Case {
    const char* args;
    const char* says;
  } cases[] = {
      {"store", "store needs"},
      {"store frob", "unknown subcommand"},
      {"store add-sent hello", "needs --to"},
      {"store add-sent --to 1", "needs the TEXT"},
      {"store add-sent --to 1 --at 2026-13-01T00:00 x", "--at"},
      {"store add-sent --to 1 --at yesterday x", "--at"},
      {"store add-sent --to 1 a b", "one TEXT"},
      {"store delete zz", "hex"},
      {"inbox extra", "no arguments"},
  };
  for (const Case& c : cases) {
    Result result = Devicectl(c.args);
    EXPECT_EQ(result.exit_code, 2) << c.args << ": " << result.out;
    EXPECT_NE(result.out.find(c.says), std::string::npos)
        << c.args << ": " << result.out;
  }
  EXPECT_EQ(
      device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kSentItems),
      0);
}

}  // namespace
