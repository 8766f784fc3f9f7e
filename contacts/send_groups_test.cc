#include "contacts/send_groups.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "contacts/wide_text_file.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/temp_device.h"

namespace contacts {
namespace {

using platform::files::FileCall;
using platform::testing::FileFaults;
using platform::testing::TempDevice;

std::string Utf16(std::u16string_view text, bool bom = true) {
  std::string bytes = bom ? "\xFF\xFE" : "";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::string HostFile(const TempDevice& device, const std::string& path) {
  return platform::testing::ReadHostFile(device.HostPath(path));
}

TEST(SendGroupsTest, FamilyGroupIsWrittenByteForByte) {
  TempDevice device;
  SendGroups groups;
  ASSERT_TRUE(groups.Load(u"\\smsgroup.ini").ok());
  EXPECT_TRUE(groups.groups().empty());
  // A missing file is created holding the byte-order mark alone.
  EXPECT_EQ(HostFile(device, "\\smsgroup.ini"), "\xFF\xFE");

  ASSERT_TRUE(groups.AddGroup(u"Family"));
  ASSERT_TRUE(groups.AddMember(0, u"Mum", u"0123"));
  ASSERT_TRUE(groups.AddMember(0, u"Dad", u"0456"));
  ASSERT_TRUE(groups.Save().ok());
  EXPECT_EQ(HostFile(device, "\\smsgroup.ini"),
            Utf16(u"[Family]\r\nMum|0123\r\nDad|0456\r\n"));
  EXPECT_EQ(FormatGroupFile(groups.groups()),
            Utf16(u"[Family]\r\nMum|0123\r\nDad|0456\r\n"));
}

TEST(SendGroupsTest, ReloadReversesGroupsButKeepsMembers) {
  TempDevice device;
  {
    std::ofstream out(device.HostPath("\\smsgroup.ini"), std::ios::binary);
    out << Utf16(u"[Work]\r\nAnn|1\r\nBob|2\r\n[Home]\r\nMum|3\r\n");
  }
  SendGroups groups;
  ASSERT_TRUE(groups.Load(u"\\SMSGROUP.INI").ok());
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups.groups()[0].name, u"Home");
  EXPECT_EQ(groups.groups()[1].name, u"Work");
  EXPECT_EQ(groups.groups()[1].members,
            (std::vector<GroupMember>{{u"Ann", u"1"}, {u"Bob", u"2"}}));
  ASSERT_TRUE(groups.Save().ok());
  EXPECT_EQ(HostFile(device, "\\smsgroup.ini"),
            Utf16(u"[Home]\r\nMum|3\r\n[Work]\r\nAnn|1\r\nBob|2\r\n"));
}

// A save that fails at any file call, or whose write is cut short, reports
// the failure and leaves the old file or the new one, whole, with nothing
// beside it; so does a crash at any moment; the list keeps the new groups.
TEST(SendGroupsTest, EveryFailedSaveLeavesTheOldFileOrTheNew) {
  TempDevice device;
  const std::filesystem::path folder = device.HostPath("\\Groups");
  const std::filesystem::path host = folder / "smsgroup.ini";
  std::filesystem::create_directory(folder);
  const std::string old_bytes = Utf16(u"[Old]\r\nAnn|1\r\nBob|2\r\n");
  platform::testing::WriteHostFile(host, old_bytes);
  SendGroups groups;
  ASSERT_TRUE(groups.Load(u"\\Groups\\smsgroup.ini").ok());
  ASSERT_TRUE(groups.AddGroup(u"New"));
  ASSERT_TRUE(groups.AddMember(0, u"Cy", u"3"));
  ASSERT_TRUE(groups.DeleteMember(1, 0));
  const std::vector<SendGroup> wanted = groups.groups();
  const std::string new_bytes = FormatGroupFile(wanted);
  ASSERT_NE(new_bytes, old_bytes);

  auto old_or_new = [&] {
    std::string now = platform::testing::ReadHostFile(host);
    EXPECT_TRUE(now == old_bytes || now == new_bytes) << now.size() << " bytes";
  };
  size_t calls = platform::testing::SweepFileFaults(
      [&] { platform::testing::WriteHostFile(host, old_bytes); },
      [&] { return groups.Save(); },
      [&] {
        old_or_new();
        EXPECT_EQ(platform::testing::HostFileNames(folder),
                  std::vector<std::string>{"smsgroup.ini"});
        EXPECT_EQ(groups.groups(), wanted);
      },
      old_or_new);
  EXPECT_GE(calls, 4u);
  ASSERT_TRUE(groups.Save().ok());
  EXPECT_EQ(platform::testing::ReadHostFile(host), new_bytes);
}

// A group file that is there but cannot be read is never written over: not
// by the load, not by a later save.
TEST(SendGroupsTest, UnreadableFileIsLeftAlone) {
  TempDevice device;
  // A folder where the file should be.
  const std::filesystem::path folder = device.HostPath("\\smsgroup.ini");
  std::filesystem::create_directory(folder);
  platform::testing::WriteHostFile(folder / "inside", "kept");
  SendGroups groups;
  platform::Status status = groups.Load(u"\\smsgroup.ini");
  EXPECT_EQ(status.code(), platform::ErrorCode::kAccessDenied);
  EXPECT_TRUE(groups.file_unreadable());
  EXPECT_TRUE(groups.groups().empty());
  ASSERT_TRUE(groups.AddGroup(u"Typed after the failed load"));
  EXPECT_EQ(groups.Save().code(), platform::ErrorCode::kAccessDenied);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(platform::testing::HostFileNames(folder),
            std::vector<std::string>{"inside"});

  // A file whose reading fails at once or part way, or comes back short.
  const std::filesystem::path host = device.HostPath("\\My Documents\\g.ini");
  const std::u16string text = u"[Kept]\r\nAnn|1\r\n";
  const std::string bytes = Utf16(text);
  const struct {
    const char* what;
    void (*arm)(FileFaults&);
    platform::ErrorCode code;
  } kFaults[] = {
      {"failed read",
       [](FileFaults& faults) { faults.FailCall(FileCall::kRead, 1); },
       platform::ErrorCode::kIoError},
      // The group's header comes, then the read fails with EACCES.
      {"read failing part way",
       [](FileFaults& faults) {
         faults.FailMidway(FileCall::kRead, 1, 2 + 2 * 8, EACCES);
       },
       platform::ErrorCode::kAccessDenied},
      {"short read",
       [](FileFaults& faults) { faults.CutCall(FileCall::kRead, 1, 0); },
       platform::ErrorCode::kIoError},
  };
  for (const auto& fault : kFaults) {
    SCOPED_TRACE(fault.what);
    platform::testing::WriteHostFile(host, bytes);
    SendGroups more;
    {
      FileFaults faults;
      fault.arm(faults);
      // The load says why.
      EXPECT_EQ(more.Load(u"\\My Documents\\g.ini").code(), fault.code);
      EXPECT_TRUE(faults.fired());
      // Nothing at all was written.
      EXPECT_EQ(faults.calls(FileCall::kCreate), 0u);
    }
    EXPECT_TRUE(more.file_unreadable());
    // Nothing of what came is taken for the file.
    EXPECT_TRUE(more.groups().empty());
    ASSERT_TRUE(more.AddGroup(u"Other"));
    EXPECT_FALSE(more.Save().ok());
    EXPECT_EQ(platform::testing::ReadHostFile(host), bytes);
    // Read again, it loads and may be saved.
    ASSERT_TRUE(more.Load(u"\\My Documents\\g.ini").ok());
    EXPECT_FALSE(more.file_unreadable());
    ASSERT_EQ(more.size(), 1u);
    EXPECT_TRUE(more.Save().ok());
  }

  // A read-only file loads, and is not replaced.
  ASSERT_EQ(chmod(host.c_str(), 0444), 0);
  SendGroups read_only;
  ASSERT_TRUE(read_only.Load(u"\\My Documents\\g.ini").ok());
  ASSERT_EQ(read_only.size(), 1u);
  ASSERT_TRUE(read_only.AddGroup(u"Other"));
  EXPECT_EQ(read_only.Save().code(), platform::ErrorCode::kAccessDenied);
  EXPECT_EQ(platform::testing::ReadHostFile(host), bytes);
  EXPECT_EQ(read_only.size(), 2u);
}

TEST(SendGroupsTest, DamagedFilesKeepWhatIsSound) {
  // Members before the first header, missing pieces, a header without its
  // bracket, no final line break.
  std::vector<SendGroup> groups = ParseGroupFile(
      Utf16(u"Lost|999\r\n[A\r\n|123\r\nNoNumber\r\nNoNumber2|\r\n"
            u"Ok|1]tail\r\n[B]x\r\nLast|7"));
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].name, u"B");
  EXPECT_EQ(groups[0].members, (std::vector<GroupMember>{{u"Last", u"7"}}));
  EXPECT_EQ(groups[1].name, u"A");
  EXPECT_EQ(groups[1].members, (std::vector<GroupMember>{{u"Ok", u"1"}}));

  // Odd byte counts, too short files, no byte-order mark (whose first
  // character is taken for one).
  EXPECT_TRUE(ParseGroupFile("").empty());
  EXPECT_TRUE(ParseGroupFile("\xFF").empty());
  EXPECT_EQ(ParseGroupFile(Utf16(u"[G]\r\n") + "\x41").size(), 1u);
  EXPECT_TRUE(ParseGroupFile(Utf16(u"[G]\r\n", false)).empty());
  EXPECT_EQ(ParseGroupFile(Utf16(u"x[G]\r\n", false)).at(0).name, u"G");

  // A header longer than a line is read in pieces: the name is cut and the
  // rest is a member line without a number, skipped.
  std::u16string long_name(400, u'n');
  groups = ParseGroupFile(Utf16(u"[" + long_name + u"]\r\nM|1\r\n"));
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].name.size(), kMaxLineChars - 1);
  EXPECT_EQ(groups[0].members, (std::vector<GroupMember>{{u"M", u"1"}}));
}

TEST(SendGroupsTest, EditingOperations) {
  SendGroups groups;
  EXPECT_FALSE(groups.AddGroup(u""));
  EXPECT_TRUE(groups.AddGroup(u"First"));
  EXPECT_TRUE(groups.AddGroup(u"First"));  // duplicates are allowed
  EXPECT_TRUE(groups.AddGroup(std::u16string(300, u'g')));
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups.groups()[0].name.size(), kMaxGroupNameChars);
  EXPECT_FALSE(groups.AddMember(3, u"A", u"1"));
  EXPECT_FALSE(groups.AddMember(0, u"", u"1"));
  EXPECT_FALSE(groups.AddMember(0, u"A", u""));
  EXPECT_TRUE(groups.AddMember(1, u"A", u"1"));
  EXPECT_FALSE(groups.DeleteMember(1, 1));
  EXPECT_TRUE(groups.DeleteMember(1, 0));
  EXPECT_FALSE(groups.DeleteGroup(3));
  EXPECT_TRUE(groups.DeleteGroup(0));
  EXPECT_EQ(groups.size(), 2u);
  // Without a path nothing is written.
  EXPECT_TRUE(groups.Save().ok());
}

}  // namespace
}  // namespace contacts
