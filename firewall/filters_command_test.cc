// `telvane filters` as a user runs it: a real process on a filter file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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
  const std::filesystem::path device_file =
      device_.HostPath("/Program Files/Telvane/pelicorde.ini");
  // An empty or blank number would block every sender: refused, and the
  // device gets no file.
  for (const char* blank : {"''", "'  '"}) {
    auto refused = Run(std::string("block ") + blank + " --name All");
    EXPECT_EQ(refused.exit_code, 2) << refused.out;
    EXPECT_NE(refused.out.find("would block every sender"), std::string::npos)
        << refused.out;
  }
  EXPECT_FALSE(std::filesystem::exists(device_file));

  // A device without a file starts from the first-start defaults.
  EXPECT_EQ(Run("block 13800000001 --name Spam").exit_code, 0);
  auto add = Run("add Work --body meeting --save-to Work --hide --popup");
  EXPECT_EQ(add.exit_code, 0) << add.out;
  // The newest filter goes on top, as "New..." puts it: matched first.
  auto away =
      Run("add Away --from 5550199 --equal --save-to '\\Away' --reply "
          "'I am away.'");
  EXPECT_EQ(away.exit_code, 0) << away.out;
  EXPECT_NE(away.out.find("Filter #1 \"Away\""), std::string::npos) << away.out;
  FilterSet set;
  set.file_path = DefaultFilterFilePath();
  ASSERT_EQ(LoadFilterFile(&set), LoadOutcome::kRead);
  ASSERT_EQ(set.black_list.size(), 1u);
  EXPECT_EQ(set.black_list[0], (BlackListEntry{u"Spam", u"13800000001"}));
  ASSERT_EQ(set.filters.size(), 2u);
  EXPECT_EQ(set.filters[0].name, u"Away");
  EXPECT_EQ(set.filters[0].rules[0],
            (Rule{kObjectPhoneNumber, kJudgeEqual, u"5550199"}));
  EXPECT_EQ(set.filters[0].Value(kAutoReply), u"I am away.");
  // A folder keeps its "\", one is added when missing.
  EXPECT_EQ(set.filters[0].Value(kSaveToFolder), u"\\Away");
  const FilterRecord& work = set.filters[1];
  EXPECT_EQ(work.name, u"Work");
  EXPECT_EQ(work.rules[0], (Rule{kObjectBody, kJudgeInclude, u"meeting"}));
  EXPECT_EQ(work.Value(kSaveToFolder), u"\\Work");
  EXPECT_TRUE(work.Has(kDontShowInInbox));
  EXPECT_TRUE(work.Has(kShowPopupWindow));
  EXPECT_FALSE(work.Has(kAutoReply));
  // The defaults came along.
  EXPECT_TRUE(set.stranger_default.Has(kSaveToFolder));

  // Usage errors change nothing.
  const std::string before = platform::testing::ReadHostFile(device_file);
  EXPECT_EQ(Run("add Bad").exit_code, 2);
  EXPECT_EQ(Run("add Bad --from 1 --body 2").exit_code, 2);
  EXPECT_EQ(Run("add Bad --from 1 --save-to ''").exit_code, 2);
  EXPECT_EQ(Run("block").exit_code, 2);
  EXPECT_EQ(Run("block ''").exit_code, 2);
  EXPECT_EQ(platform::testing::ReadHostFile(device_file), before);
}

// remove, enable, disable and move on the device's file: each read back
// whole against the list before it; a change that cannot be made leaves
// the file's bytes as they were.
class FilterEditCommandsTest : public FiltersCommandTest {
 protected:
  void SetUp() override {
    FiltersCommandTest::SetUp();
    FilterSet set;
    SetUpFirstStartDefaults(&set);
    for (const char16_t* name : {u"Boss", u"Twin", u"Family", u"Twin"}) {
      FilterRecord filter = NewFilter();
      filter.SetName(name);
      // Each its own rule, so that two of one name still differ.
      filter.rules[0] =
          Rule{kObjectBody, kJudgeInclude,
               std::u16string(name) + u" " +
                   static_cast<char16_t>(u'0' + set.filters.size())};
      set.filters.push_back(filter);
    }
    set.black_list.push_back({u"Ann", u"13800138000"});
    set.file_path = DefaultFilterFilePath();
    ASSERT_EQ(SaveFilterFile(set), SaveOutcome::kSaved);
    file_ = device_.HostPath("/Program Files/Telvane/pelicorde.ini");
  }

  FilterSet Read() {
    FilterSet set;
    set.file_path = DefaultFilterFilePath();
    EXPECT_EQ(LoadFilterFile(&set), LoadOutcome::kRead);
    return set;
  }

  std::vector<std::u16string> Names() {
    std::vector<std::u16string> names;
    for (const FilterRecord& filter : Read().filters) {
      names.push_back(filter.name);
    }
    return names;
  }

  // Runs a command that must fail with `code` and checks that the file is
  // unchanged; returns what it printed.
  std::string Refused(const std::string& arguments, int code) {
    const std::string before = platform::testing::ReadHostFile(file_);
    auto run = Run(arguments);
    EXPECT_EQ(run.exit_code, code) << arguments << "\n" << run.out;
    EXPECT_EQ(platform::testing::ReadHostFile(file_), before) << arguments;
    return run.out;
  }

  std::filesystem::path file_;
};

TEST_F(FilterEditCommandsTest, EnableAndDisable) {
  FilterSet before = Read();
  auto disable = Run("disable Family");
  EXPECT_EQ(disable.exit_code, 0) << disable.out;
  EXPECT_NE(disable.out.find("Filter #3 \"Family\" disabled"),
            std::string::npos)
      << disable.out;
  FilterSet after = Read();
  before.filters[2].enabled = 0;
  EXPECT_EQ(after.filters, before.filters);
  EXPECT_EQ(after.black_list, before.black_list);
  EXPECT_EQ(after.stranger_default, before.stranger_default);

  // By number, as `show` lists it: #4 is the second "Twin".
  EXPECT_EQ(Run("disable --index 4").exit_code, 0);
  EXPECT_EQ(Run("enable --index 3").exit_code, 0);
  before.filters[3].enabled = 0;
  before.filters[2].enabled = 1;
  EXPECT_EQ(Read().filters, before.filters);
  auto show = Run("show");
  EXPECT_NE(show.out.find("#4 \"Twin\"\n     disabled"), std::string::npos)
      << show.out;
}

TEST_F(FilterEditCommandsTest, Remove) {
  FilterSet before = Read();
  EXPECT_EQ(Run("remove Boss").exit_code, 0);
  before.filters.erase(before.filters.begin());
  EXPECT_EQ(Read().filters, before.filters);
  // The second "Twin", now #3.
  auto twin = Run("remove --index 3");
  EXPECT_EQ(twin.exit_code, 0) << twin.out;
  EXPECT_NE(twin.out.find("Removed filter #3 \"Twin\""), std::string::npos);
  before.filters.erase(before.filters.begin() + 2);
  FilterSet after = Read();
  EXPECT_EQ(after.filters, before.filters);
  EXPECT_EQ(after.black_list, before.black_list);
}

TEST_F(FilterEditCommandsTest, Move) {
  using List = std::vector<std::u16string>;
  FilterSet before = Read();
  EXPECT_EQ(Run("move Boss --down").exit_code, 0);
  EXPECT_EQ(Names(), (List{u"Twin", u"Boss", u"Family", u"Twin"}));
  EXPECT_EQ(Run("move Family --up").exit_code, 0);
  EXPECT_EQ(Names(), (List{u"Twin", u"Family", u"Boss", u"Twin"}));
  auto to = Run("move --index 4 --to 1");
  EXPECT_EQ(to.exit_code, 0) << to.out;
  EXPECT_NE(to.out.find("Filter #1 \"Twin\" (was #4)"), std::string::npos)
      << to.out;
  EXPECT_EQ(Run("move Boss --to 4").exit_code, 0);
  // The records travel whole: the last Twin, with its own rule, is first.
  FilterSet after = Read();
  ASSERT_EQ(after.filters.size(), 4u);
  EXPECT_EQ(after.filters[0], before.filters[3]);
  EXPECT_EQ(after.filters[1], before.filters[1]);
  EXPECT_EQ(after.filters[2], before.filters[2]);
  EXPECT_EQ(after.filters[3], before.filters[0]);

  // Past either end: refused.
  EXPECT_NE(Refused("move --index 1 --up", 1).find("already the first"),
            std::string::npos);
  EXPECT_NE(Refused("move Boss --down", 1).find("already the last"),
            std::string::npos);
  Refused("move Boss --to 5", 1);
  Refused("move Boss --to 0", 1);
}

TEST_F(FilterEditCommandsTest, AFilterNamedAmissIsRefusedAndNothingWritten) {
  for (const char* command : {"remove", "enable", "disable", "move"}) {
    const std::string c = command;
    const std::string direction = c == "move" ? " --up" : "";
    // Two filters share the name: the number must choose.
    std::string twin = Refused(c + " Twin" + direction, 1);
    EXPECT_NE(twin.find("2 filters are named \"Twin\" (#2, #4)"),
              std::string::npos)
        << twin;
    EXPECT_NE(twin.find("--index"), std::string::npos) << twin;
    std::string nobody = Refused(c + " Nobody" + direction, 1);
    EXPECT_NE(nobody.find("there is no filter named \"Nobody\""),
              std::string::npos)
        << nobody;
    Refused(c + " --index 5" + direction, 1);
    Refused(c + " --index 0" + direction, 1);
    // Neither or both of NAME and --index; a number that is none.
    Refused(c + direction, 2);
    Refused(c + " Boss --index 1" + direction, 2);
    Refused(c + " --index one" + direction, 2);
  }
  Refused("move Boss", 2);
  Refused("move Boss --up --down", 2);
  Refused("move Boss --up --to 2", 2);
}

}  // namespace
}  // namespace firewall
