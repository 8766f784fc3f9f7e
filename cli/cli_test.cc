// The command-line layer on a small tool of its own, run in this process
// with its output captured, and the times a command line gives.
#include "cli/cli.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/times.h"

namespace cli {
namespace {

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Sends std::cout and std::cerr into strings while it lives.
class Capture {
 public:
  Capture()
      : old_out_(std::cout.rdbuf(out_.rdbuf())),
        old_err_(std::cerr.rdbuf(err_.rdbuf())) {}
  ~Capture() {
    std::cout.rdbuf(old_out_);
    std::cerr.rdbuf(old_err_);
  }
  std::string out() const { return out_.str(); }
  std::string err() const { return err_.str(); }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  std::streambuf* old_out_;
  std::streambuf* old_err_;
};

// "notes", a tool shaped like ours: commands with options and positionals,
// a group, a command with subcommands of its own, handlers that fail.
// Each handler prints what it was given.
Outcome Notes(const std::vector<std::string>& args) {
  Tool tool("notes", "keeps notes for the tests");
  std::string where = "home";
  tool.root()->add_option("-w,--where", where, "the place of the notes");

  std::string to, text;
  std::optional<platform::SystemTime> at;
  CLI::App* add = tool.AddCommand(tool.root(), "add", "add a note", [&] {
    std::cout << where << ": " << text << " for " << to;
    if (at) std::cout << " at " << at->hour << ":" << at->minute;
    std::cout << "\n";
    return kSuccess;
  });
  add->add_option("--to", to, "who it is for")->type_name("NUMBER")->required();
  AddTimeOption(add, "--at", &at, Zone::kUtc, "when");
  add->add_option("TEXT", text, "the note")->required();

  CLI::App* box = tool.AddCommand(tool.root(), "box", "the boxes");
  std::string box_name;
  tool.AddCommand(box, "open", "open a box",
                  [&] {
                    std::cout << "opened " << box_name << "\n";
                    return kSuccess;
                  })
      ->add_option("NAME", box_name, "the box")
      ->required();
  tool.AddCommand(box, "list", "list the boxes", [] {
    std::cout << "boxes\n";
    return kSuccess;
  });

  std::string key;
  CLI::App* config = tool.AddCommand(tool.root(), "config", "the settings", [] {
    std::cout << "every setting\n";
    return kSuccess;
  });
  tool.AddCommand(config, "get", "one setting",
                  [&] {
                    std::cout << "setting " << key << "\n";
                    return kSuccess;
                  })
      ->add_option("KEY", key, "its name")
      ->required();

  bool all = false, clear = false;
  CLI::App* sent = tool.AddCommand(tool.root(), "sent", "the sent notes",
                                   [] { return kSuccess; });
  CLI::Option* all_flag = sent->add_flag("--all", all, "every one");
  sent->add_flag("--clear", clear, "forget them")->excludes(all_flag);

  tool.AddCommand(tool.root(), "broken", "always fails",
                  [] { return Fail("the disk is full"); });
  std::string value;
  tool.AddCommand(tool.root(), "picky", "takes only \"ok\"",
                  [&] {
                    return value == "ok" ? kSuccess
                                         : UsageError("VALUE must be \"ok\"");
                  })
      ->add_option("VALUE", value, "ok");

  Capture capture;
  Outcome outcome;
  outcome.exit_code = tool.Run(args);
  outcome.out = capture.out();
  outcome.err = capture.err();
  return outcome;
}

TEST(Tool, RunsTheCommandTheLineNames) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"add", "--to", "5", "hi"}, "home: hi for 5\n"},
      // Options anywhere after the command, "=" or not; the last one counts.
      {{"add", "hi", "--to=5", "--to", "6", "--at", "2026-03-04 05:06"},
       "home: hi for 6 at 5:6\n"},
      {{"--where", "work", "add", "--to", "5", "hi"}, "work: hi for 5\n"},
      // Values that look like numbers or options, and names of commands,
      // are values where a value is due.
      {{"add", "--to", "-5", "--", "-x"}, "home: -x for -5\n"},
      {{"add", "--to", "5", "box"}, "home: box for 5\n"},
      {{"add", "--to", "5", "-1"}, "home: -1 for 5\n"},
      {{"box", "open", "add"}, "opened add\n"},
      {{"config"}, "every setting\n"},
      {{"config", "get", "codepage"}, "setting codepage\n"},
  };
  for (const Case& c : cases) {
    Outcome outcome = Notes(c.args);
    EXPECT_EQ(outcome.exit_code, kSuccess) << c.args[0] << "\n" << outcome.err;
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, "");
  }
}

TEST(Tool, RefusesABadLineWithTheMessageAndWhereTheHelpIs) {
  const std::string tool_help = "run 'notes --help' for the commands\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"frob"}, "notes: unknown command \"frob\"\n" + tool_help},
      {{"--bogus", "box", "list"},
       "notes: unknown option --bogus\n" + tool_help},
      {{"--where"}, "notes: --where needs a value\n" + tool_help},
      {{"--where", "x"}, "notes: a command is needed\n" + tool_help},
      {{"box"},
       "notes: box needs open or list\n"
       "run 'notes box --help' for the commands\n"},
      {{"box", "frob"},
       "notes: box: unknown subcommand \"frob\"\n"
       "run 'notes box --help' for the commands\n"},
      {{"config", "frob"},
       "notes: config: unknown subcommand \"frob\"\n"
       "run 'notes config --help' for the commands\n"},
      {{"add", "hi"},
       "notes: add needs --to NUMBER\nrun 'notes add --help' for its usage\n"},
      {{"add", "--to", "1"},
       "notes: add needs the TEXT\nrun 'notes add --help' for its usage\n"},
      {{"add", "--to", "1", "a", "b"},
       "notes: add takes one TEXT only; \"b\" is one too many (quote a value "
       "with spaces)\nrun 'notes add --help' for its usage\n"},
      {{"add", "--to", "1", "--bogus", "a"},
       "notes: add: unknown option --bogus\n"
       "run 'notes add --help' for its usage\n"},
      {{"add", "--to", "1", "a", "--at"},
       "notes: add: --at needs a value\nrun 'notes add --help' for its "
       "usage\n"},
      {{"add", "--to", "1", "--at", "yesterday", "a"},
       "notes: add: --at needs a time like \"2026-12-07 21:40[:SS]\" (UTC), or "
       "one with Z or +08:00\nrun 'notes add --help' for its usage\n"},
      {{"box", "open"},
       "notes: box open needs the NAME\n"
       "run 'notes box open --help' for its usage\n"},
      {{"box", "list", "extra"},
       "notes: box list takes no arguments\n"
       "run 'notes box list --help' for its usage\n"},
      {{"sent", "--all", "--clear"},
       "notes: sent: give --all or --clear, not both\n"
       "run 'notes sent --help' for its usage\n"},
      // Found by the command itself.
      {{"picky", "no"},
       "notes: VALUE must be \"ok\"\nrun 'notes picky --help' for its usage\n"},
      {{"help", "box", "shut"},
       "notes: unknown command \"box shut\"\n" + tool_help},
  };
  for (const Case& c : cases) {
    Outcome outcome = Notes(c.args);
    EXPECT_EQ(outcome.exit_code, kUsageError) << c.args[0];
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(outcome.out, "") << "no handler ran";
  }
}

TEST(Tool, FailuresAreOneLineAndExitOne) {
  Outcome broken = Notes({"broken"});
  EXPECT_EQ(broken.exit_code, kFailure);
  EXPECT_EQ(broken.err, "notes: the disk is full\n");
  EXPECT_EQ(broken.out, "");
}

TEST(Tool, HelpOnTheToolAndOnEveryCommand) {
  // Without arguments: the tool's help, on stderr, as a usage error.
  Outcome bare = Notes({});
  EXPECT_EQ(bare.exit_code, kUsageError);
  EXPECT_EQ(bare.out, "");
  EXPECT_EQ(bare.err.rfind("usage: notes [OPTIONS] COMMAND ...\n"
                           "keeps notes for the tests\n",
                           0),
            0u)
      << bare.err;

  Outcome help = Notes({"--help"});
  EXPECT_EQ(help.exit_code, kSuccess);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out, bare.err);
  for (const char* line :
       {"\nOptions:\n", "  -w,--where TEXT", "the place of the notes\n",
        "\nCommands:\n", "  add ", "add a note\n", "  box ", "the boxes\n",
        "  help ", "show the help of the tool or of a command\n"}) {
    EXPECT_NE(help.out.find(line), std::string::npos) << line << "\n"
                                                      << help.out;
  }
  EXPECT_EQ(Notes({"-h"}).out, help.out);
  EXPECT_EQ(Notes({"help"}).out, help.out);

  // A command's help shows what it needs, whatever else the line lacks.
  Outcome add = Notes({"add", "--help"});
  EXPECT_EQ(add.exit_code, kSuccess);
  EXPECT_EQ(add.out.rfind("usage: notes add --to NUMBER [OPTIONS] TEXT\n"
                          "add a note\n\nArguments:\n  TEXT",
                          0),
            0u)
      << add.out;
  for (const char* text :
       {"--to NUMBER (required)", "who it is for", "--at TIME", "when"}) {
    EXPECT_NE(add.out.find(text), std::string::npos) << text << "\n" << add.out;
  }
  EXPECT_EQ(Notes({"help", "add"}).out, add.out);

  Outcome open = Notes({"box", "open", "--help"});
  EXPECT_EQ(open.exit_code, kSuccess);
  EXPECT_EQ(open.out.rfind("usage: notes box open NAME\nopen a box\n", 0), 0u)
      << open.out;
  EXPECT_EQ(Notes({"help", "box", "open"}).out, open.out);
  EXPECT_EQ(
      Notes({"box", "--help"}).out.rfind("usage: notes box COMMAND ...\n", 0),
      0u);
  EXPECT_EQ(Notes({"config", "-h"})
                .out.rfind("usage: notes config [COMMAND ...]\n", 0),
            0u);
  EXPECT_EQ(
      Notes({"picky", "--help"}).out.rfind("usage: notes picky [VALUE]\n", 0),
      0u);
}

// Runs with the time zone of China (UTC+8, no summer time).
class Times : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    if (tz != nullptr) saved_tz_ = tz;
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_tz_) {
      setenv("TZ", saved_tz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  std::optional<std::string> saved_tz_;
};

std::string Text(const std::optional<platform::SystemTime>& t) {
  if (!t) return "none";
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t->year,
                t->month, t->day, t->hour, t->minute, t->second);
  return text;
}

TEST_F(Times, UnmarkedTimesAreReadInTheCommandsZone) {
  EXPECT_EQ(Text(ParseTime("2026-12-07T21:40:05", Zone::kLocal)),
            "2026-12-07 13:40:05");
  EXPECT_EQ(Text(ParseTime("2026-12-07 21:40", Zone::kLocal)),
            "2026-12-07 13:40:00");
  EXPECT_EQ(Text(ParseTime("2026-01-01 03:00", Zone::kLocal)),
            "2025-12-31 19:00:00");
  EXPECT_EQ(Text(ParseTime("2026-03-04 05:06:07", Zone::kUtc)),
            "2026-03-04 05:06:07");
  EXPECT_EQ(Text(ParseTime("2026-03-04T05:06", Zone::kUtc)),
            "2026-03-04 05:06:00");
}

TEST_F(Times, ZAndOffsetsMeanTheSameInEveryZone) {
  for (Zone zone : {Zone::kLocal, Zone::kUtc}) {
    EXPECT_EQ(Text(ParseTime("2026-12-07 21:40Z", zone)),
              "2026-12-07 21:40:00");
    EXPECT_EQ(Text(ParseTime("2026-01-01T01:00:00+02:30", zone)),
              "2025-12-31 22:30:00");
    EXPECT_EQ(Text(ParseTime("2026-12-07 21:40-05", zone)),
              "2026-12-08 02:40:00");
    EXPECT_EQ(Text(ParseTime("2026-12-07T21:40+14:00", zone)),
              "2026-12-07 07:40:00");
  }
}

TEST_F(Times, RefusesTheRest) {
  for (const char* bad :
       {"", "yesterday", "2026-12-07", "2026-13-07T00:00", "2026-02-30 10:00",
        "2026-12-07T25:00", "2026-12-07T10:60", "2026-12-07T10:00+",
        "2026-12-07T10:00+15:00", "2026-12-07T10:00+08:60",
        "2026-12-07T10:00+0800", "2026-12-07T10:00Zx", "2026-12-07T10:00 ",
        "26-12-07T10:00", "2026-12-07T10:00:0", "2026-12-07T1:00",
        "2026-1-07T10:00", "2026/12/07 10:00", "2026-12-07_10:00"}) {
    EXPECT_FALSE(ParseTime(bad, Zone::kLocal).has_value()) << bad;
    EXPECT_FALSE(ParseTime(bad, Zone::kUtc).has_value()) << bad;
  }
}

}  // namespace
}  // namespace cli
