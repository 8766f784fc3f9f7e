#include "cli/cli.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <utility>

#include "platform/unicode.h"

namespace cli {
namespace {

// The tool that runs and its command, for Fail and UsageError.
struct Running {
  std::string tool = "?";
  std::string command;  // below the tool: "store add-sent"; empty: the tool
  bool group = true;    // the command is the tool or a group of commands
};

Running& running() {
  static Running state;
  return state;
}

// The commands below `app`, in the order they were added.
std::vector<const CLI::App*> CommandsOf(const CLI::App* app) {
  std::vector<const CLI::App*> commands;
  for (const CLI::App* command : app->get_subcommands(
           [](const CLI::App* sub) { return !sub->get_name().empty(); })) {
    commands.push_back(command);
  }
  return commands;
}

std::vector<const CLI::Option*> PositionalsOf(const CLI::App* app) {
  return app->get_options(
      [](const CLI::Option* option) { return option->get_positional(); });
}

// "a", "a and b", "a, b and c" (or "or").
std::string Join(const std::vector<std::string>& words,
                 const std::string& last) {
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += i + 1 == words.size() ? " " + last + " " : ", ";
    out += words[i];
  }
  return out;
}

// The command's words below the tool: "store add-sent".
std::string PathOf(const CLI::App* app) {
  std::string path;
  for (; app->get_parent() != nullptr; app = app->get_parent()) {
    path = path.empty() ? app->get_name() : app->get_name() + " " + path;
  }
  return path;
}

// The tool's name and the command's words: "devicectl store add-sent".
std::string FullNameOf(const CLI::App* app) {
  const CLI::App* root = app;
  while (root->get_parent() != nullptr) root = root->get_parent();
  std::string path = PathOf(app);
  return path.empty() ? root->get_name() : root->get_name() + " " + path;
}

// What a message about `app` starts with: "store add-sent: ", or nothing
// for the tool itself.
std::string PrefixOf(const CLI::App* app) {
  std::string path = PathOf(app);
  return path.empty() ? "" : path + ": ";
}

// "--to NUMBER", "--flash", "TEXT", "NAME..."
std::string ShownName(const CLI::Option* option) {
  if (option->get_positional()) {
    std::string name = option->get_name(true, false);
    if (option->get_expected_max() >= CLI::detail::expected_max_vector_size)
      name += "...";
    return name;
  }
  std::string name = option->get_name(false, false);
  if (option->get_type_size() != 0 && !option->get_type_name().empty())
    name += " " + option->get_type_name();
  return name;
}

// The commands the command line chose, from the tool down.
std::vector<CLI::App*> ChosenCommands(CLI::App* root) {
  std::vector<CLI::App*> chain{root};
  for (;;) {
    std::vector<CLI::App*> chosen = chain.back()->get_subcommands();
    if (chosen.empty()) return chain;
    chain.push_back(chosen.front());
  }
}

// The words of `text` in lines of at most `width` characters (a longer
// word stands alone); a line break in the text stays one.
std::vector<std::string> Wrap(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line;
    size_t pos = start;
    while (pos < end) {
      size_t space = text.find(' ', pos);
      if (space == std::string::npos || space > end) space = end;
      std::string word = text.substr(pos, space - pos);
      pos = space + 1;
      if (word.empty()) continue;
      if (!line.empty() && line.size() + 1 + word.size() > width) {
        lines.push_back(line);
        line.clear();
      }
      line += (line.empty() ? "" : " ") + word;
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

constexpr size_t kHelpWidth = 79;
constexpr size_t kHelpColumn = 24;  // where the descriptions of a list start

// One entry of a list: "  NAME  DESCRIPTION", the description in a column
// of its own (below NAME when NAME is too long for it).
std::string Entry(const std::string& name, const std::string& description) {
  std::string out = "  " + name;
  if (out.size() + 2 > kHelpColumn) {
    out += "\n" + std::string(kHelpColumn, ' ');
  } else {
    out += std::string(kHelpColumn - out.size(), ' ');
  }
  std::vector<std::string> lines = Wrap(description, kHelpWidth - kHelpColumn);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += "\n" + std::string(kHelpColumn, ' ');
    out += lines[i];
  }
  return out + "\n";
}

std::string Paragraph(const std::string& text) {
  if (text.empty()) return "";
  std::string out;
  for (const std::string& line : Wrap(text, kHelpWidth)) out += line + "\n";
  return out;
}

// Help: "usage: TOOL COMMAND --required VALUE [OPTIONS] POSITIONALS", the
// description, then the arguments, options and commands, each with its own
// description, and the footer.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { label("Positionals", "Arguments"); }

  std::string make_usage(const CLI::App* app, std::string name) const override {
    std::string out = "usage: " + name;
    bool optional = false;
    for (const CLI::Option* option : app->get_options()) {
      if (option == app->get_help_ptr() || option->get_positional()) continue;
      if (option->get_required()) {
        out += " " + ShownName(option);
      } else {
        optional = true;
      }
    }
    if (optional) out += " [OPTIONS]";
    for (const CLI::Option* option : PositionalsOf(app)) {
      out += " " + (option->get_required() ? ShownName(option)
                                           : "[" + ShownName(option) + "]");
    }
    if (!CommandsOf(app).empty()) {
      out += app->get_require_subcommand_min() == 0 ? " [COMMAND ...]"
                                                    : " COMMAND ...";
    }
    return out + "\n";
  }

  std::string make_option(const CLI::Option* option,
                          bool is_positional) const override {
    std::string name =
        is_positional ? ShownName(option) : option->get_name(false, true);
    if (!is_positional && option->get_type_size() != 0)
      name += " " + option->get_type_name();
    if (!is_positional && option->get_required()) name += " (required)";
    return Entry(name, option->get_description());
  }

  std::string make_subcommand(const CLI::App* command) const override {
    return Entry(command->get_name(), command->get_description());
  }

  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    std::string out = make_usage(app, name);
    out += Paragraph(app->get_description());
    out += make_positionals(app);
    out += make_groups(app, mode);
    out += make_subcommands(app, mode);
    if (!app->get_footer().empty()) out += "\n" + make_footer(app);
    return out;
  }
};

// What is wrong with `argument`, which no command of the command line took.
std::string Unexpected(const CLI::App* app, const std::string& argument) {
  if (argument.size() > 1 && argument[0] == '-' &&
      !std::isdigit(static_cast<unsigned char>(argument[1]))) {
    return PrefixOf(app) + "unknown option " + argument;
  }
  if (!CommandsOf(app).empty() && app->get_subcommands().empty()) {
    if (app->get_parent() == nullptr)
      return "unknown command \"" + argument + "\"";
    return PrefixOf(app) + "unknown subcommand \"" + argument + "\"";
  }
  std::vector<const CLI::Option*> positionals = PositionalsOf(app);
  if (positionals.empty()) return PathOf(app) + " takes no arguments";
  std::vector<std::string> names;
  for (const CLI::Option* option : positionals)
    names.push_back(ShownName(option));
  return PathOf(app) + " takes " + (names.size() == 1 ? "one " : "") +
         Join(names, "and") + " only; \"" + argument +
         "\" is one too many (quote a value with spaces)";
}

// What the command line left out of `app`; empty when nothing.
std::string Missing(const CLI::App* app) {
  std::vector<const CLI::App*> commands = CommandsOf(app);
  if (!commands.empty() && app->get_require_subcommand_min() > 0 &&
      app->get_subcommands().empty()) {
    if (app->get_parent() == nullptr) return "a command is needed";
    std::vector<std::string> names;
    for (const CLI::App* command : commands)
      names.push_back(command->get_name());
    return PathOf(app) + " needs " + Join(names, "or");
  }
  std::vector<std::string> positionals;
  for (const CLI::Option* option : app->get_options()) {
    if (!option->get_required() || option->count() > 0) continue;
    if (!option->get_positional()) {
      if (positionals.empty())
        return PathOf(app) + " needs " + ShownName(option);
      continue;
    }
    positionals.push_back("the " + ShownName(option));
  }
  if (!positionals.empty())
    return PathOf(app) + " needs " + Join(positionals, "and");
  for (const CLI::Option* option : app->get_options()) {
    if (option->count() == 0) continue;
    for (const CLI::Option* other : option->get_excludes()) {
      if (other->count() > 0) {
        return PrefixOf(app) + "give " + option->get_name() + " or " +
               other->get_name() + ", not both";
      }
    }
    for (const CLI::Option* other : option->get_needs()) {
      if (other->count() == 0) {
        return PrefixOf(app) + option->get_name() + " needs " +
               ShownName(other);
      }
    }
  }
  return "";
}

// CLI11's own message about `app`, in our words where we know them.
std::string Reworded(const CLI::ParseError& error, const CLI::App* app) {
  std::string text = error.what();
  size_t colon = text.find(": ");
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr &&
      colon != std::string::npos && text.size() > colon + 2 &&
      std::isdigit(static_cast<unsigned char>(text[colon + 2])) &&
      text.find(" required ") != std::string::npos &&
      text.rfind(" missing") == text.size() - 8) {
    return PrefixOf(app) + text.substr(0, colon) + " needs a value";
  }
  // A check's message says what the option needs: "--at needs a time...".
  if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr &&
      colon != std::string::npos) {
    return PrefixOf(app) + text.substr(0, colon) + " " + text.substr(colon + 2);
  }
  return PrefixOf(app) + text;
}

void SetRunning(const CLI::App* command) {
  running().command = PathOf(command);
  running().group = !CommandsOf(command).empty();
}

}  // namespace

std::string U8(std::u16string_view text) { return platform::ToUtf8(text); }
std::u16string U16(std::string_view text) { return platform::FromUtf8(text); }

int Fail(std::string_view message, int code) {
  std::cerr << running().tool << ": " << message << "\n";
  return code;
}

int UsageError(std::string_view message) {
  const Running& now = running();
  std::cerr << now.tool << ": " << message << "\nrun '" << now.tool
            << (now.command.empty() ? "" : " " + now.command) << " --help' "
            << (now.group ? "for the commands" : "for its usage") << "\n";
  return kUsageError;
}

Tool::Tool(std::string name, std::string description)
    : root_(
          std::make_unique<CLI::App>(std::move(description), std::move(name))) {
  root_->formatter(std::make_shared<HelpFormatter>());
  root_->set_help_flag("-h,--help", "show this help");
  root_->require_subcommand(1);
  // As most tools do: an option given twice keeps the last value.
  root_->option_defaults()->multi_option_policy(
      CLI::MultiOptionPolicy::TakeLast);
}

Tool::~Tool() = default;

CLI::App* Tool::AddCommand(CLI::App* parent, const std::string& name,
                           const std::string& help, Handler handler) {
  CLI::App* command = parent->add_subcommand(name, help);
  command->group("Commands");
  command->footer("");
  if (handler) {
    command->require_subcommand(0, 1);
    handlers_[command] = std::move(handler);
  } else {
    command->require_subcommand(1);
  }
  return command;
}

int Tool::Run(int argc, const char* const* argv) {
  return Run(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
}

int Tool::Run(std::vector<std::string> args) {
  CLI::App* help = AddCommand(root_.get(), "help",
                              "show the help of the tool or of a command",
                              [this] { return Help(help_words_); });
  help->add_option("COMMAND", help_words_,
                   "a command and its subcommands, as on the command line");
  running() = Running{root_->get_name(), "", true};
  if (args.empty()) {
    std::cerr << root_->help();
    return kUsageError;
  }
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  try {
    root_->parse(args);
  } catch (const CLI::CallForHelp&) {
    std::cout << root_->help();
    return kSuccess;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << root_->help();
    return kSuccess;
  } catch (const CLI::ParseError& error) {
    return RefuseCommandLine(error);
  }
  CLI::App* command = ChosenCommands(root_.get()).back();
  SetRunning(command);
  auto handler = handlers_.find(command);
  if (handler == handlers_.end()) return UsageError(Missing(command));
  return handler->second();
}

int Tool::RefuseCommandLine(const CLI::ParseError& error) {
  std::vector<CLI::App*> chain = ChosenCommands(root_.get());
  CLI::App* command = chain.back();
  std::string message;
  // A value missing at the end stops CLI11 before it has read the rest.
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) == nullptr) {
    for (CLI::App* app : chain) {
      std::vector<std::string> extra = app->remaining();
      if (extra.empty()) continue;
      command = app;
      message = Unexpected(app, extra.front());
      break;
    }
    if (message.empty()) message = Missing(command);
  }
  if (message.empty()) message = Reworded(error, command);
  SetRunning(command);
  return UsageError(message);
}

int Tool::Help(const std::vector<std::string>& words) {
  const CLI::App* target = root_.get();
  for (const std::string& word : words) {
    const CLI::App* next = nullptr;
    for (const CLI::App* command : CommandsOf(target)) {
      if (command->get_name() == word) next = command;
    }
    if (next == nullptr) {
      running().command.clear();
      running().group = true;
      return UsageError("unknown command \"" +
                        (PathOf(target).empty() ? "" : PathOf(target) + " ") +
                        word + "\"");
    }
    target = next;
  }
  std::cout << target->get_formatter()->make_help(target, FullNameOf(target),
                                                  CLI::AppFormatMode::Normal);
  return kSuccess;
}

}  // namespace cli
