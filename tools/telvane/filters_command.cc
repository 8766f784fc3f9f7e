// telvane filters: read the firewall's filter file and answer "why did my
// message go there?".
//
//   telvane filters show [INI]
//   telvane filters explain --from SENDER --body TEXT [INI]
//   telvane filters block NUMBER [--name NAME]
//   telvane filters add NAME (--from TEXT | --body TEXT) [--equal] ...
//
// INI is a filter file anywhere on the host. Without it the device's own
// file is read: "pelicorde.ini" in the program's folder on the current
// device; a device without a filter file is shown with the defaults the
// program would create at its first start. "block" and "add" change the
// device's file (starting from those defaults when there is none), the way
// the filter editor would; the program reads it when it starts.
#include <cstdint>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "firewall/filter_file.h"
#include "firewall/filter_set.h"
#include "firewall/incoming_sms.h"
#include "platform/files.h"
#include "tools/telvane/cli.h"
#include "tools/telvane/commands.h"

namespace tools::telvane {

const char* const kFiltersUsage =
    "\n"
    "telvane filters COMMAND ... the firewall's filter file (pelicorde.ini):\n"
    "  show [INI]          the filters in matching order, the Black List, the\n"
    "                      two defaults and whether a rule password is set\n"
    "  explain --from SENDER --body TEXT [INI]\n"
    "                      why a message goes where it goes: the Black List\n"
    "                      entry that catches it, or the filter that governs\n"
    "                      it and the rule that decided, then its actions in\n"
    "                      the order they run\n"
    "  block NUMBER [--name NAME]\n"
    "                      add NUMBER to the Black List\n"
    "  add NAME (--from TEXT | --body TEXT) [--equal] [--save-to FOLDER]\n"
    "      [--hide] [--reply TEXT] [--forward NUMBERS] [--popup] [--skin CFG]\n"
    "      [--vibrate] [--unread-alert]\n"
    "                      add a filter whose rule asks that the sender (or\n"
    "                      the text) includes TEXT (--equal: ends with it),\n"
    "                      with its actions: file under FOLDER, leave the\n"
    "                      phone's Inbox, answer, forward, show the popup\n"
    "                      (in skin CFG), vibrate, remind while unread\n"
    "INI is a host file; without it the device's own filter file is read.\n"
    "block and add change the device's file; the program reads it at start.\n";

namespace {

using firewall::FilterRecord;
using firewall::FilterSet;

// A value as one readable line: quoted, line breaks shown as \r and \n.
std::string Quote(std::u16string_view value) {
  std::string out = "\"";
  size_t start = 0;
  for (size_t i = 0; i <= value.size(); ++i) {
    if (i < value.size() && value[i] != u'\r' && value[i] != u'\n') continue;
    out += U8(value.substr(start, i - start));  // whole runs: pairs intact
    if (i < value.size()) out += value[i] == u'\r' ? "\\r" : "\\n";
    start = i + 1;
  }
  return out + "\"";
}

std::string ObjectName(int32_t object) {
  if (object == firewall::kObjectPhoneNumber) return "Phone Number";
  if (object == firewall::kObjectBody) return "Body";
  return "object " + std::to_string(object) + " (never holds)";
}

std::string JudgeName(int32_t judge) {
  switch (judge) {
    case firewall::kJudgeInclude:
      return "Include";
    case firewall::kJudgeExclude:
      return "Exclude";
    case firewall::kJudgeEqual:
      return "Equal";
    case firewall::kJudgeNotEqual:
      return "Not Equal";
    default:
      return "judge " + std::to_string(judge) + " (no effect)";
  }
}

std::string RuleText(const firewall::Rule& rule) {
  return ObjectName(rule.object) + " " + JudgeName(rule.judge) + " " +
         Quote(rule.content);
}

// What a rule asks, in plain words.
std::string RuleMeaning(const firewall::Rule& rule) {
  bool phone = rule.object == firewall::kObjectPhoneNumber;
  std::string subject = phone ? "the sender" : "the text";
  std::string content = Quote(rule.content);
  switch (rule.judge) {
    case firewall::kJudgeInclude:
      return subject + " contains " + content;
    case firewall::kJudgeExclude:
      return subject + " does not contain " + content;
    case firewall::kJudgeEqual:
      return (phone ? "the number" : subject) + " ends with " + content;
    case firewall::kJudgeNotEqual:
      return (phone ? "the number" : subject) + " does not end with " + content;
    default:
      return "nothing (unknown judge)";
  }
}

const char* const kSlotLabels[firewall::kActionSlotCount] = {
    "Save to Folder",    "Don't Show in Inbox",
    "Auto Reply",        "Vibrate",
    "Play Sound",        "Auto Forward",
    "Show Popup Window", "User-defined Sentence",
    "Unread Alert",      "Specific Photo"};

std::string ActionText(const FilterRecord& filter, int slot) {
  std::u16string_view value = filter.Value(slot);
  if (slot == firewall::kPlaySound && value == firewall::kRandomRingMarker) {
    return "Random Ring";
  }
  std::string text = kSlotLabels[slot];
  if (slot == firewall::kShowPopupWindow && value.empty()) {
    return text + " (Default skin)";
  }
  if (slot == firewall::kDontShowInInbox || slot == firewall::kVibrate ||
      slot == firewall::kUnreadAlert) {
    return text;
  }
  return text + " " + Quote(value);
}

std::string FilterTitle(const FilterSet& set, int index) {
  if (index == firewall::kContactDefaultIndex) return "the Contact Default";
  if (index == firewall::kStrangerDefaultIndex) return "the Stranger Default";
  return "filter #" + std::to_string(index + 1) + " " +
         Quote(set.filters[static_cast<size_t>(index)].name);
}

void PrintRecord(const FilterRecord& filter, bool is_default) {
  if (!is_default) {
    std::cout << "     " << (filter.enabled != 0 ? "enabled" : "disabled");
    if (filter.apply_to_all != 0) std::cout << ", Apply to All";
    std::cout << "\n";
  }
  for (size_t i = 0; i < filter.rules.size(); ++i) {
    if (!filter.rules[i]) continue;
    std::cout << "     rule " << i + 1 << ": " << RuleText(*filter.rules[i])
              << "\n";
  }
  std::string actions;
  for (int slot = 0; slot < firewall::kActionSlotCount; ++slot) {
    if (!filter.Has(slot)) continue;
    if (!actions.empty()) actions += "; ";
    actions += ActionText(filter, slot);
  }
  std::cout << "     actions: " << (actions.empty() ? "none" : actions) << "\n";
}

// The set from INI (a host file) or from the device; "where" names it.
struct Loaded {
  FilterSet set;
  firewall::ParseReport report;
  std::string where;
  bool first_start = false;  // the device has no file yet
};

int Load(const Arguments& args, Loaded* loaded) {
  std::string bytes;
  if (!args.positional.empty()) {
    const std::string& path = args.positional[0];
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(path + ": cannot read the filter file");
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    loaded->where = path;
  } else {
    std::u16string path = firewall::DefaultFilterFilePath();
    loaded->where = U8(path) + " (on the device)";
    platform::Status status;
    std::unique_ptr<platform::files::File> file =
        platform::files::File::Open(path, "rb", &status);
    if (!file) {
      if (status.code() != platform::ErrorCode::kNotFound) {
        return Fail(U8(path) + ": " + status.ToString());
      }
      loaded->first_start = true;
      firewall::SetUpFirstStartDefaults(&loaded->set);
      return 0;
    }
    char buffer[65536];
    size_t got;
    while ((got = file->Read(buffer, sizeof buffer)) > 0) {
      bytes.append(buffer, got);
    }
  }
  firewall::ParseFilterFile(
      std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
      &loaded->set, &loaded->report);
  return 0;
}

void PrintSource(const Loaded& loaded) {
  std::cout << "Filter file: " << loaded.where << "\n";
  if (loaded.first_start) {
    std::cout << "  (not there yet: the program creates it at its first start "
                 "with the defaults below)\n";
  }
  const firewall::ParseReport& r = loaded.report;
  if (r.skipped_lines + r.bad_slots > 0 || r.missing_end || r.odd_length) {
    std::cout << "  damage: " << r.skipped_lines << " line(s) skipped, "
              << r.bad_slots << " action line(s) with a bad slot"
              << (r.missing_end ? ", the last block has no End" : "")
              << (r.odd_length ? ", a lone last byte ignored" : "") << "\n";
  }
}

int Show(const Arguments& args) {
  if (args.positional.size() > 1) return UsageError("too many arguments");
  Loaded loaded;
  if (int rc = Load(args, &loaded); rc != 0) return rc;
  const FilterSet& set = loaded.set;
  PrintSource(loaded);
  std::cout << "Rule password: "
            << (set.password.empty()
                    ? std::string("none")
                    : "set (" + std::to_string(set.password.size()) +
                          " characters)")
            << "\n\n";
  std::cout << "Filters, in matching order:"
            << (set.filters.empty() ? " none" : "") << "\n";
  for (size_t i = 0; i < set.filters.size(); ++i) {
    std::cout << "  #" << i + 1 << " " << Quote(set.filters[i].name) << "\n";
    PrintRecord(set.filters[i], false);
  }
  std::cout << "\nBlack List:" << (set.black_list.empty() ? " empty" : "")
            << "\n";
  for (size_t i = 0; i < set.black_list.size(); ++i) {
    const firewall::BlackListEntry& entry = set.black_list[i];
    std::cout << "  #" << i + 1 << " " << Quote(entry.phone) << "  "
              << (entry.name.empty() ? "(no name)" : Quote(entry.name))
              << (entry.phone.empty() ? "  (empty: catches every sender)" : "")
              << "\n";
  }
  std::cout << "\nContact Default (no filter matched, the sender has \"<\"):\n";
  PrintRecord(set.contact_default, true);
  std::cout << "Stranger Default (no filter matched, any other sender):\n";
  PrintRecord(set.stranger_default, true);
  return 0;
}

void ExplainActions(const FilterRecord& filter, std::u16string_view sender,
                    std::u16string_view body) {
  using namespace firewall;  // NOLINT(build/namespaces): slot names
  std::vector<std::string> steps;
  if (filter.Has(kDontShowInInbox)) {
    steps.push_back(
        "Don't Show in Inbox: the message is deleted from the "
        "phone's Inbox");
  }
  if (filter.Has(kShowPopupWindow)) {
    std::string step = "Show Popup Window with ";
    std::u16string_view skin = filter.Value(kShowPopupWindow);
    step += skin.empty() ? "the Default skin" : "skin " + Quote(skin);
    if (filter.Has(kUserDefinedSentence)) {
      step += ": shows " + Quote(filter.Value(kUserDefinedSentence)) +
              " instead of the message";
    } else {
      SenderDisplay display = ParseSenderDisplay(sender);
      step += ": shows the message, from " + Quote(display.text) +
              (display.named ? " (a name: its photo may be shown)" : "");
    }
    if (filter.Has(kSpecificPhoto)) {
      step += ", picture " + Quote(filter.Value(kSpecificPhoto));
    }
    steps.push_back(step);
  }
  if (filter.Has(kPlaySound)) {
    std::u16string_view sound = filter.Value(kPlaySound);
    steps.push_back(sound == kRandomRingMarker
                        ? "Random Ring: plays a file from the random sound "
                          "folder (when one is set)"
                        : "Play Sound " + Quote(sound));
  }
  if (filter.Has(kVibrate)) {
    steps.push_back("Vibrate for " + std::to_string(kActionVibrationMs) +
                    " ms");
  }
  if (filter.Has(kAutoReply)) {
    steps.push_back("Auto Reply to " + Quote(sender) + ": " +
                    Quote(filter.Value(kAutoReply)) +
                    " (queued when the send service runs)");
  }
  if (filter.Has(kAutoForward)) {
    steps.push_back("Auto Forward to " + Quote(filter.Value(kAutoForward)) +
                    ": " + Quote(body) +
                    " (queued when the send service runs)");
  }
  steps.push_back(
      filter.Has(kUnreadAlert)
          ? "the unread reminder is stopped, then restarted (Unread Alert; "
            "when the \"Unread Alert\" option is not None)"
          : "the unread reminder is stopped (no Unread Alert)");
  if (filter.Has(kSaveToFolder)) {
    steps.push_back("Save to Folder: filed as unread under " +
                    Quote(filter.Value(kSaveToFolder)) +
                    " (when a document is open; the folder is created when "
                    "missing)");
  } else {
    steps.push_back("not filed: no Save to Folder action");
  }
  std::cout << "Actions, in the order they run:\n";
  for (size_t i = 0; i < steps.size(); ++i) {
    std::cout << "  " << i + 1 << ". " << steps[i] << "\n";
  }
}

int Explain(const Arguments& args) {
  const std::string* from = args.Option("--from");
  const std::string* body_arg = args.Option("--body");
  if (from == nullptr || body_arg == nullptr) {
    return UsageError("explain needs --from SENDER and --body TEXT");
  }
  if (args.positional.size() > 1) return UsageError("too many arguments");
  Loaded loaded;
  if (int rc = Load(args, &loaded); rc != 0) return rc;
  const FilterSet& set = loaded.set;
  const std::u16string sender = U16(*from);
  const std::u16string body = U16(*body_arg);
  PrintSource(loaded);
  std::cout << "Message from " << Quote(sender) << ", compared as "
            << Quote(firewall::NormalizeSender(sender)) << "\n\n";

  // 1. The Black List.
  for (size_t i = 0; i < set.black_list.size(); ++i) {
    const firewall::BlackListEntry& entry = set.black_list[i];
    if (!firewall::SuffixMatch(firewall::NormalizeSender(sender),
                               entry.phone)) {
      continue;
    }
    std::cout << "Blacklisted by Black List entry #" << i + 1 << " "
              << Quote(entry.phone)
              << (entry.name.empty() ? "" : " (" + U8(entry.name) + ")")
              << (entry.phone.empty()
                      ? ": an empty entry catches every sender.\n"
                      : ": the number ends with it.\n");
    std::cout << "The message is deleted from the phone's Inbox. It is kept "
                 "only in the Recycle Bin, and only when \"Blacklist SMS to "
                 "Recycle Bin\" is on. No alert, no filter action.\n";
    return 0;
  }
  std::cout << "Not blacklisted ("
            << (set.black_list.empty()
                    ? std::string("the Black List is empty")
                    : "no entry among " +
                          std::to_string(set.black_list.size()) +
                          " matches the end of the number")
            << ").\n";
  if (firewall::LooksLikeStatusReport(sender)) {
    std::cout << "The sender looks like a status report (it starts with "
                 "neither a digit nor \"+\" and has no \"<\"): with the "
                 "\"Status Report\" option set to anything but \"None\" it is "
                 "handled by that option instead; \"Inbox: Delete\" deletes "
                 "it from the Inbox and goes on as below.\n";
  }

  // 2. The filters, up to the one that governs.
  firewall::MatchSubject message(sender, body);
  firewall::GoverningFilter governing =
      firewall::FindGoverningFilter(set, message);
  size_t looked_at = governing.index >= 0
                         ? static_cast<size_t>(governing.index) + 1
                         : set.filters.size();
  if (looked_at > 0) std::cout << "\nFilters, in matching order:\n";
  for (size_t i = 0; i < looked_at; ++i) {
    const FilterRecord& filter = set.filters[i];
    firewall::FilterVerdict verdict = firewall::EvaluateFilter(filter, message);
    std::cout << "  #" << i + 1 << " " << Quote(filter.name) << ": ";
    switch (verdict.reason) {
      case firewall::FilterReason::kDisabled:
        std::cout << "skipped, it is disabled\n";
        continue;
      case firewall::FilterReason::kApplyToAll:
        std::cout << "matches, it applies to all messages\n";
        continue;
      case firewall::FilterReason::kNoRules:
        std::cout << "matches, it has no rules\n";
        continue;
      default:
        break;
    }
    std::cout << (verdict.matched ? "matches" : "no match") << "\n";
    for (size_t r = 0; r < filter.rules.size(); ++r) {
      if (verdict.rules[r] == firewall::RuleResult::kAbsent) continue;
      const firewall::Rule& rule = *filter.rules[r];
      std::cout << "       rule " << r + 1 << " (" << RuleText(rule) << "): ";
      switch (verdict.rules[r]) {
        case firewall::RuleResult::kPassed:
          std::cout << "holds, " << RuleMeaning(rule) << "\n";
          break;
        case firewall::RuleResult::kFailed:
          std::cout << "fails, it asks that " << RuleMeaning(rule)
                    << "  <- decided\n";
          break;
        default:
          std::cout << "not looked at\n";
          break;
      }
    }
  }
  std::cout << "\nGoverned by " << FilterTitle(set, governing.index);
  if (governing.index == firewall::kContactDefaultIndex) {
    std::cout << ": no filter matched and the sender has \"<\"";
  } else if (governing.index == firewall::kStrangerDefaultIndex) {
    std::cout << ": no filter matched and the sender has no \"<\"";
  }
  std::cout << ".\n";
  const FilterRecord& filter = *governing.filter;
  std::cout << "In short: the message "
            << (filter.Has(firewall::kDontShowInInbox)
                    ? "leaves the phone's Inbox"
                    : "stays in the phone's Inbox")
            << " and "
            << (filter.Has(firewall::kSaveToFolder)
                    ? "is filed under " +
                          Quote(filter.Value(firewall::kSaveToFolder))
                    : std::string("is not filed in the document"))
            << ".\n\n";
  ExplainActions(*governing.filter, sender, body);
  return 0;
}

// Loads the device's set, lets `change` edit it and saves it.
int ChangeDeviceSet(const std::function<int(FilterSet*)>& change) {
  Loaded loaded;
  if (int rc = Load(Arguments{}, &loaded); rc != 0) return rc;
  loaded.set.file_path = firewall::DefaultFilterFilePath();
  if (int rc = change(&loaded.set); rc != 0) return rc;
  if (firewall::SaveFilterFile(loaded.set) != firewall::SaveOutcome::kSaved) {
    return Fail(U8(loaded.set.file_path) + ": cannot write the filter file");
  }
  return 0;
}

int Block(const Arguments& args) {
  if (args.positional.size() != 1) return UsageError("block needs a NUMBER");
  const std::string* name = args.Option("--name");
  return ChangeDeviceSet([&](FilterSet* set) {
    set->black_list.push_back({name != nullptr ? U16(*name) : std::u16string(),
                               U16(args.positional[0])});
    std::cout << "Black List entry #" << set->black_list.size() << " "
              << Quote(set->black_list.back().phone) << "\n";
    return 0;
  });
}

int Add(const Arguments& args) {
  if (args.positional.size() != 1) return UsageError("add needs a NAME");
  const std::string* from = args.Option("--from");
  const std::string* body = args.Option("--body");
  if ((from == nullptr) == (body == nullptr)) {
    return UsageError("add needs one of --from and --body");
  }
  FilterRecord filter;
  filter.SetName(U16(args.positional[0]));
  filter.rules[0] = firewall::Rule{
      from != nullptr ? firewall::kObjectPhoneNumber : firewall::kObjectBody,
      args.Has("--equal") ? firewall::kJudgeEqual : firewall::kJudgeInclude,
      U16(from != nullptr ? *from : *body)};
  auto set_value = [&](const char* option, int slot) {
    if (const std::string* value = args.Option(option)) {
      filter.Set(slot, U16(*value));
    }
  };
  set_value("--save-to", firewall::kSaveToFolder);
  set_value("--reply", firewall::kAutoReply);
  set_value("--forward", firewall::kAutoForward);
  if (args.Has("--hide")) filter.Set(firewall::kDontShowInInbox, std::nullopt);
  if (args.Has("--vibrate")) filter.Set(firewall::kVibrate, std::nullopt);
  if (args.Has("--unread-alert")) {
    filter.Set(firewall::kUnreadAlert, std::nullopt);
  }
  if (const std::string* skin = args.Option("--skin")) {
    filter.Set(firewall::kShowPopupWindow, U16(*skin));
  } else if (args.Has("--popup")) {
    filter.Set(firewall::kShowPopupWindow, std::nullopt);
  }
  return ChangeDeviceSet([&](FilterSet* set) {
    set->filters.push_back(filter);
    std::cout << "Filter #" << set->filters.size() << " " << Quote(filter.name)
              << "\n";
    return 0;
  });
}

}  // namespace

int FiltersCommand(const CommandArgs& args) {
  if (args.empty()) return UsageError("filters needs show or explain");
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "block" || args[0] == "add") {
    Arguments parsed =
        Parse(rest,
              {"--name", "--from", "--body", "--save-to", "--reply",
               "--forward", "--skin"},
              {"--equal", "--hide", "--popup", "--vibrate", "--unread-alert"});
    if (!parsed.error.empty()) return UsageError(parsed.error);
    return args[0] == "block" ? Block(parsed) : Add(parsed);
  }
  Arguments parsed = Parse(rest, {"--from", "--body"}, {});
  if (!parsed.error.empty()) return UsageError(parsed.error);
  if (args[0] == "show") {
    if (!parsed.options.empty()) return UsageError("show takes no options");
    return Show(parsed);
  }
  if (args[0] == "explain") return Explain(parsed);
  return UsageError("unknown command \"filters " + args[0] + "\"");
}

}  // namespace tools::telvane
