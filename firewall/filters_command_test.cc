// `telvane filters` as a user runs it: a real process on a filter file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "firewall/filter_file.h"
#include "platform/testing/temp_device.h"

namespace firewall {
namespace {

using platform::testing::BinDir;
using platform::testing::RunCommand;

class FiltersCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FilterSet set;
    SetUpFirstStartDefaults(&set);
    FilterRecord boss = NewFilter();
    boss.SetName(u"Boss");
    boss.rules[0] = Rule{kObjectPhoneNumber, kJudgeEqual, u"13900000000"};
    boss.rules[1] = Rule{kObjectBody, kJudgeInclude, u"meeting"};
    boss.Set(kSaveToFolder, u"\\Work");
    boss.Set(kAutoReply, u"Busy.\r\nLater!");
    boss.Set(kDontShowInInbox, std::nullopt);
    set.filters.push_back(boss);
    set.black_list.push_back({u"Ann", u"13800138000"});
    set.password = u"secret";
    ini_ = device_.root() / "filters.ini";
    std::ofstream(ini_, std::ios::binary) << SerializeFilterFile(set);
  }

  platform::testing::CommandResult Run(const std::string& arguments) {
    return RunCommand((BinDir() / "telvane").string() + " filters " +
                      arguments + " 2>&1");
  }

  platform::testing::TempDevice device_;
  std::filesystem::path ini_;
};

TEST_F(FiltersCommandTest, ExplainNamesTheEntryOrTheFilterAndRule) {
  auto blacklisted =
      Run("explain --from '\"Ann\"<+86 138-0013-8000>' "
          "--body hi " +
          ini_.string());
  EXPECT_EQ(blacklisted.exit_code, 0) << blacklisted.out;
  EXPECT_NE(blacklisted.out.find(
                "Blacklisted by Black List entry #1 \"13800138000\" (Ann)"),
            std::string::npos)
      << blacklisted.out;

  auto boss = Run("explain --from '+86 139 0000 0000' --body 'the meeting' " +
                  ini_.string());
  EXPECT_NE(boss.out.find("Governed by filter #1 \"Boss\""), std::string::npos)
      << boss.out;
  EXPECT_NE(boss.out.find("leaves the phone's Inbox and is filed under "
                          "\"\\Work\""),
            std::string::npos)
      << boss.out;
  // Actions in their order: the verdict first, the reply with its line
  // break, filing last.
  size_t verdict = boss.out.find("1. Don't Show in Inbox");
  size_t reply = boss.out.find(
      "Auto Reply to \"+86 139 0000 0000\": "
      "\"Busy.\\r\\nLater!\"");
  size_t filing = boss.out.find("Save to Folder: filed");
  EXPECT_NE(verdict, std::string::npos) << boss.out;
  EXPECT_LT(verdict, reply);
  EXPECT_LT(reply, filing);
  EXPECT_NE(filing, std::string::npos);

  auto no_meeting =
      Run("explain --from 13900000000 --body lunch " + ini_.string());
  EXPECT_NE(no_meeting.out.find("rule 1 (Phone Number Equal \"13900000000\")"
                                ": holds"),
            std::string::npos)
      << no_meeting.out;
  EXPECT_NE(no_meeting.out.find("rule 2 (Body Include \"meeting\"): fails"),
            std::string::npos);
  EXPECT_NE(no_meeting.out.find("Governed by the Stranger Default"),
            std::string::npos);
}

TEST_F(FiltersCommandTest, ShowAndFailures) {
  auto show = Run("show " + ini_.string());
  EXPECT_EQ(show.exit_code, 0) << show.out;
  EXPECT_NE(show.out.find("Rule password: set (6 characters)"),
            std::string::npos);
  EXPECT_EQ(show.out.find("secret"), std::string::npos);
  EXPECT_NE(show.out.find("rule 2: Body Include \"meeting\""),
            std::string::npos)
      << show.out;

  // The device's own file: not there yet, so the first-start defaults.
  auto device_file = Run("show");
  EXPECT_EQ(device_file.exit_code, 0) << device_file.out;
  EXPECT_NE(device_file.out.find("not there yet"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(
      device_.HostPath("/Program Files/Telvane/pelicorde.ini")));

  // Damage is reported, not fatal.
  std::ofstream(ini_, std::ios::binary | std::ios::app) << "X";
  auto damaged = Run("show " + ini_.string());
  EXPECT_EQ(damaged.exit_code, 0);
  EXPECT_NE(damaged.out.find("a lone last byte ignored"), std::string::npos);

  EXPECT_EQ(Run("show /nonexistent/x.ini").exit_code, 1);
  EXPECT_EQ(Run("explain --body x " + ini_.string()).exit_code, 2);
  EXPECT_EQ(Run("frobnicate").exit_code, 2);
}

}  // namespace
}  // namespace firewall
