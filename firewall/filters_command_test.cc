// `telvane filters` as a user runs it: a real process on a filter file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "firewall/filter_file.h"
#include "firewall/plan.h"
#include "platform/testing/temp_device.h"
#include "platform/unicode.h"

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
    set_ = set;
    ini_ = device_.root() / "filters.ini";
    std::ofstream(ini_, std::ios::binary) << SerializeFilterFile(set);
  }

  platform::testing::CommandResult Run(const std::string& arguments) {
    return RunCommand((BinDir() / "telvane").string() + " filters " +
                      arguments + " 2>&1");
  }

  platform::testing::TempDevice device_;
  FilterSet set_;
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
  // Steps in their order: filed first, then out of the Inbox, the reply
  // with its line break, the tree last.
  size_t filed = boss.out.find("1. Save to Folder: written to the document");
  size_t verdict = boss.out.find("2. Don't Show in Inbox");
  size_t reply = boss.out.find(
      "Auto Reply to \"+86 139 0000 0000\": "
      "\"Busy.\\r\\nLater!\"");
  size_t tree = boss.out.find("Save to Folder: filed as unread");
  EXPECT_NE(filed, std::string::npos) << boss.out;
  EXPECT_LT(filed, verdict);
  EXPECT_LT(verdict, reply);
  EXPECT_LT(reply, tree);
  EXPECT_NE(tree, std::string::npos);

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

// The command prints the plan the program runs: as many steps as Decide
// plans under the device's options, for each way a message can go; and
// with no document open a message the filter would file and hide stays in
// the phone's Inbox, as in the program.
TEST_F(FiltersCommandTest, ExplainPrintsThePlanTheProgramRuns) {
  struct Case {
    const char* from;
    const char* body;
    bool document;
  } cases[] = {{"+86 139 0000 0000", "the meeting", true},
               {"+86 139 0000 0000", "the meeting", false},
               {"\"Ann\"<13800138000>", "hi", true},
               {"\"Zed\"<555>", "hi", true},
               {"555", "hi", false},
               {"Delivered", "status", true}};
  for (const Case& c : cases) {
    Circumstances now;
    now.document_open = now.has_recycle_bin = c.document;
    Plan plan = Decide(set_, platform::FromUtf8(c.from),
                       platform::FromUtf8(c.body), now);
    auto run =
        Run(std::string("explain --from '") + c.from + "' --body '" + c.body +
            "'" + (c.document ? " " : " --no-document ") + ini_.string());
    ASSERT_EQ(run.exit_code, 0) << run.out;
    const std::string last = "\n  " + std::to_string(plan.steps.size()) + ". ";
    const std::string beyond =
        "\n  " + std::to_string(plan.steps.size() + 1) + ". ";
    if (!plan.steps.empty()) {
      EXPECT_NE(run.out.find(last), std::string::npos) << run.out;
    }
    EXPECT_EQ(run.out.find(beyond), std::string::npos) << run.out;
  }
  auto kept =
      Run("explain --from '+86 139 0000 0000' --body 'the meeting' "
          "--no-document " +
          ini_.string());
  EXPECT_NE(kept.out.find("stays in the phone's Inbox and is not filed"),
            std::string::npos)
      << kept.out;
  EXPECT_NE(kept.out.find("No document is open"), std::string::npos);
  EXPECT_EQ(kept.out.find("Don't Show in Inbox:"), std::string::npos);
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

TEST_F(FiltersCommandTest, BlockAndAddChangeTheDeviceFile) {
  // A device without a file starts from the first-start defaults.
  EXPECT_EQ(Run("block 13800000001 --name Spam").exit_code, 0);
  auto add = Run("add Work --body meeting --save-to '\\Work' --hide --popup");
  EXPECT_EQ(add.exit_code, 0) << add.out;
  EXPECT_EQ(
      Run("add Away --from 5550199 --equal --reply 'I am away.'").exit_code, 0);
  FilterSet set;
  set.file_path = DefaultFilterFilePath();
  ASSERT_EQ(LoadFilterFile(&set), LoadOutcome::kRead);
  ASSERT_EQ(set.black_list.size(), 1u);
  EXPECT_EQ(set.black_list[0], (BlackListEntry{u"Spam", u"13800000001"}));
  ASSERT_EQ(set.filters.size(), 2u);
  const FilterRecord& work = set.filters[0];
  EXPECT_EQ(work.name, u"Work");
  EXPECT_EQ(work.rules[0], (Rule{kObjectBody, kJudgeInclude, u"meeting"}));
  EXPECT_EQ(work.Value(kSaveToFolder), u"\\Work");
  EXPECT_TRUE(work.Has(kDontShowInInbox));
  EXPECT_TRUE(work.Has(kShowPopupWindow));
  EXPECT_FALSE(work.Has(kAutoReply));
  EXPECT_EQ(set.filters[1].rules[0],
            (Rule{kObjectPhoneNumber, kJudgeEqual, u"5550199"}));
  EXPECT_EQ(set.filters[1].Value(kAutoReply), u"I am away.");
  // The defaults came along.
  EXPECT_TRUE(set.stranger_default.Has(kSaveToFolder));

  // Usage errors change nothing.
  EXPECT_EQ(Run("add Bad").exit_code, 2);
  EXPECT_EQ(Run("add Bad --from 1 --body 2").exit_code, 2);
  EXPECT_EQ(Run("block").exit_code, 2);
  ASSERT_EQ(LoadFilterFile(&set), LoadOutcome::kRead);
  EXPECT_EQ(set.filters.size(), 2u);
}

}  // namespace
}  // namespace firewall
