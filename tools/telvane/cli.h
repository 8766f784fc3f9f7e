// What every `telvane` command shares: exit codes, one-line failures and the
// small argument parser.
#ifndef TELVANE_TOOLS_TELVANE_CLI_H_
#define TELVANE_TOOLS_TELVANE_CLI_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tools::telvane {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

std::string U8(std::u16string_view text);
std::u16string U16(std::string_view text);

// Prints "telvane: MESSAGE" on stderr and returns `code`.
int Fail(const std::string& message, int code = kFailure);
// Prints the message and a pointer to `telvane help`; returns kUsageError.
int UsageError(const std::string& message);

// Command-line arguments: positionals, --name value options and --flags.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  std::vector<std::string> flags;
  std::string error;  // not empty when the arguments could not be parsed

  bool Has(const std::string& flag) const;
  const std::string* Option(const std::string& name) const;
};

// Splits `args`; anything starting with "--" must be one of the given
// options ("--" alone and everything else is positional).
Arguments Parse(const std::vector<std::string>& args,
                const std::vector<std::string>& value_options,
                const std::vector<std::string>& flag_options);

}  // namespace tools::telvane

#endif  // TELVANE_TOOLS_TELVANE_CLI_H_
