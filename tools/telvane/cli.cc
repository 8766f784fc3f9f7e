#include "tools/telvane/cli.h"

#include <algorithm>
#include <iostream>

#include "platform/unicode.h"

namespace tools::telvane {

std::string U8(std::u16string_view text) { return platform::ToUtf8(text); }
std::u16string U16(std::string_view text) { return platform::FromUtf8(text); }

int Fail(const std::string& message, int code) {
  std::cerr << "telvane: " << message << "\n";
  return code;
}

int UsageError(const std::string& message) {
  std::cerr << "telvane: " << message
            << "\nrun 'telvane help' for the commands\n";
  return kUsageError;
}

bool Arguments::Has(const std::string& flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

const std::string* Arguments::Option(const std::string& name) const {
  auto it = options.find(name);
  return it == options.end() ? nullptr : &it->second;
}

Arguments Parse(const std::vector<std::string>& args,
                const std::vector<std::string>& value_options,
                const std::vector<std::string>& flag_options) {
  Arguments out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0 || a == "--") {
      out.positional.push_back(a);
      continue;
    }
    if (std::find(value_options.begin(), value_options.end(), a) !=
        value_options.end()) {
      if (i + 1 >= args.size()) {
        out.error = a + " needs a value";
        return out;
      }
      out.options[a] = args[++i];
    } else if (std::find(flag_options.begin(), flag_options.end(), a) !=
               flag_options.end()) {
      out.flags.push_back(a);
    } else {
      out.error = "unknown option " + a;
      return out;
    }
  }
  return out;
}

}  // namespace tools::telvane
