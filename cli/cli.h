// The command-line layer the tools share (devicectl, telvane).
//
// A tool is a tree of commands declared on CLI11: every command and option
// has its help text, `--help` works on the tool and on every command, and a
// group of commands needs one of them. Each command that does something has
// a handler, run after the whole command line was read, that returns the
// process's exit code:
//
//   0  success
//   1  failure: one line "TOOL: MESSAGE" on stderr (Fail)
//   2  usage error: "TOOL: MESSAGE" and a pointer to `TOOL --help` or
//      `TOOL COMMAND --help` on stderr (UsageError); the command line is
//      refused before any handler runs, or by the handler itself
//
// A tool run without arguments prints its help on stderr and exits 2.
#ifndef TELVANE_CLI_CLI_H_
#define TELVANE_CLI_CLI_H_

#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsageError = 2;

// Command-line text is UTF-8; wide text is UTF-16.
std::string U8(std::u16string_view text);
std::u16string U16(std::string_view text);

// Prints "TOOL: MESSAGE" on stderr, TOOL being the tool that runs, and
// returns `code`.
int Fail(std::string_view message, int code = kFailure);
// Prints "TOOL: MESSAGE" and where the running command's help is on
// stderr; returns kUsageError.
int UsageError(std::string_view message);

// One tool: its name, its commands and their handlers. One tool runs in a
// process at a time (Fail and UsageError name it).
class Tool {
 public:
  // Runs a command; returns the exit code.
  using Handler = std::function<int()>;

  Tool(std::string name, std::string description);
  ~Tool();
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  // The tool itself, for its own options ("--device").
  CLI::App* root() { return root_.get(); }

  // Adds the command `name` to `parent` (root() or a group). A command
  // without a handler is a group that needs one of its own commands; one
  // with a handler and commands of its own runs the handler when none of
  // them is given.
  CLI::App* AddCommand(CLI::App* parent, const std::string& name,
                       const std::string& help, Handler handler = nullptr);

  // Reads the command line (the arguments after the tool's name) and runs
  // the command it names; returns the exit code. Call once.
  int Run(std::vector<std::string> args);
  int Run(int argc, const char* const* argv);

 private:
  int RefuseCommandLine(const CLI::ParseError& error);
  int Help(const std::vector<std::string>& words);

  std::unique_ptr<CLI::App> root_;
  std::map<const CLI::App*, Handler> handlers_;
  std::vector<std::string> help_words_;  // of `TOOL help COMMAND...`
};

}  // namespace cli

#endif  // TELVANE_CLI_CLI_H_
