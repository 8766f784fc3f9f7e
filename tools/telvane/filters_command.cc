// telvane filters: read the firewall's filter file and answer "why did my
// message go there?".
//
//   telvane filters show [INI]
//   telvane filters explain --from SENDER --body TEXT [--no-document] [INI]
//   telvane filters block NUMBER [--name NAME]
//   telvane filters add NAME (--from TEXT | --body TEXT) [--equal] ...
//   telvane filters remove|enable|disable (NAME | --index N)
//   telvane filters move (NAME | --index N) (--up | --down | --to K)
//
// INI is a filter file anywhere on the host. Without it the device's own
// file is read: "pelicorde.ini" in the program's folder on the current
// device; a device without a filter file is shown with the defaults the
// program would create at its first start. A file is read whole or not at
// all: one that cannot be read is reported, never shown in part nor written
// over. "block", "add" and the commands that edit a filter change the
// device's file (starting from those defaults when there is none), the way
// the Black List and the filter list would; the program reads it when it
// starts. A filter is named by its name or by its number as "show" lists
// it (#1 is matched first); a change that cannot be made writes nothing.
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "firewall/filter_file.h"
#include "firewall/filter_set.h"
#include "firewall/plan.h"
#include "platform/files.h"
#include "settings/settings_store.h"
#include "tools/telvane/commands.h"
#include "tools/telvane/host_device.h"

namespace tools::telvane {

namespace {

using cli::Fail;
using cli::U16;
using cli::U8;
using cli::UsageError;
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

// Reads INI, a host file, or without it the device's file.
int Load(const std::optional<std::string>& ini, Loaded* loaded) {
  std::string bytes;
  if (ini) {
    const std::string& path = *ini;
    HostDevice host;
    platform::Status status;
    std::optional<std::u16string> device_path = host.Attach(path, &status);
    if (device_path) status = platform::files::ReadWhole(*device_path, &bytes);
    if (!status.ok()) {
      return Fail(path + ": cannot read the filter file (" + status.ToString() +
                  ")");
    }
    loaded->where = path;
  } else {
    std::u16string path = firewall::DefaultFilterFilePath();
    loaded->where = U8(path) + " (on the device)";
    // Whole or not at all: a part is never shown as the set.
    platform::Status status = platform::files::ReadWhole(path, &bytes);
    if (!status.ok()) {
      if (status.code() != platform::ErrorCode::kNotFound) {
        return Fail(U8(path) + ": " + status.ToString());
      }
      loaded->first_start = true;
      firewall::SetUpFirstStartDefaults(&loaded->set);
      return 0;
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

int Show(const std::optional<std::string>& ini) {
  Loaded loaded;
  if (int rc = Load(ini, &loaded); rc != 0) return rc;
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

// The settings the plan depends on, and what the command assumes of the
// program's state.
std::string DescribeCircumstances(const firewall::Circumstances& now) {
  std::string text = "Assuming ";
  text += now.document_open ? "a document is open (with a Recycle Bin)"
                            : "no document is open";
  text +=
      " and the send service runs; from the device's options: "
      "BlackDeleteToRecycleBin " +
      std::to_string(now.black_delete_to_recycle_bin) +
      ", ReceiptToRecycleBin " + std::to_string(now.receipt_to_recycle_bin) +
      ", UnReadAlert " + std::to_string(now.unread_alert) + ".";
  return text;
}

// One step of a plan, as a line.
std::string DescribeStep(const firewall::Plan& plan,
                         const firewall::Step& step) {
  using firewall::Step;
  using namespace firewall;  // NOLINT(build/namespaces): slot names
  switch (step.kind) {
    case Step::Kind::kFile:
      return step.into_recycle_bin
                 ? std::string(
                       "Recycle Bin: written to the document's Recycle "
                       "Bin, before anything else")
                 : "Save to Folder: written to the document under " +
                       Quote(step.folder) +
                       " (the folder is created when missing), before "
                       "anything else";
    case Step::Kind::kLeaveInbox: {
      std::string why = "Don't Show in Inbox";
      if (plan.decided_by == DecidedBy::kBlackList) {
        why = "Black List";
      } else if (step.action != kDontShowInInbox) {
        why = "Status Report";
      }
      return why + ": the message is deleted from the phone's Inbox" +
             (step.after_filing
                  ? " once it is safe in the document (otherwise it stays)"
                  : "");
    }
    case Step::Kind::kShowPopup: {
      std::string line = "Show Popup Window with ";
      line +=
          step.skin.empty() ? "the Default skin" : "skin " + Quote(step.skin);
      line += ": shows " + Quote(step.text);
      if (!step.second_text.empty()) {
        line += ", from " + Quote(step.second_text) +
                (step.named ? " (a name: its photo may be shown)" : "");
      }
      if (!step.picture.empty()) line += ", picture " + Quote(step.picture);
      return line + ", for " + std::to_string(step.milliseconds) + " ms";
    }
    case Step::Kind::kPlaySound:
      return step.text == kRandomRingMarker
                 ? std::string(
                       "Random Ring: plays a file from the random "
                       "sound folder (when one is set)")
                 : "Play Sound " + Quote(step.text);
    case Step::Kind::kVibrate:
      return "Vibrate for " + std::to_string(step.milliseconds) + " ms";
    case Step::Kind::kEnqueue:
      return std::string(step.action == kAutoForward ? "Auto Forward"
                                                     : "Auto Reply") +
             " to " + Quote(step.recipients) + ": " + Quote(step.text) +
             " (queued for sending)";
    case Step::Kind::kStopReminder:
      return "the unread reminder is stopped";
    case Step::Kind::kStartReminder:
      return "Unread Alert: the unread reminder starts again, every " +
             std::to_string(step.milliseconds) + " ms";
    case Step::Kind::kShowInTree:
      return step.into_recycle_bin
                 ? std::string("Recycle Bin: the message shows there, unread")
                 : "Save to Folder: filed as unread under " +
                       Quote(step.folder) +
                       ": it shows in the tree and the unread notification "
                       "is raised";
  }
  return "?";
}

void PrintPlan(const firewall::Plan& plan) {
  bool leaves = false;
  const firewall::Step* filing = nullptr;
  for (const firewall::Step& step : plan.steps) {
    leaves |= step.kind == firewall::Step::Kind::kLeaveInbox;
    if (step.kind == firewall::Step::Kind::kFile) filing = &step;
  }
  std::cout << "In short: the message "
            << (leaves ? "leaves the phone's Inbox"
                       : "stays in the phone's Inbox")
            << " and "
            << (filing == nullptr ? std::string("is not filed in the document")
                : filing->into_recycle_bin
                    ? std::string("is kept in the Recycle Bin")
                    : "is filed under " + Quote(filing->folder))
            << ".\n";
  if (plan.kept_in_inbox_without_document) {
    std::cout << "No document is open to keep it in, so it stays in the "
                 "phone's Inbox rather than be lost.\n";
  }
  if (plan.kept_nowhere) {
    std::cout << "The document has no Recycle Bin, so it is kept nowhere.\n";
  }
  std::cout << "\n";
  if (plan.steps.empty()) {
    std::cout << "Nothing else happens.\n";
    return;
  }
  std::cout << "Steps, in the order they run:\n";
  for (size_t i = 0; i < plan.steps.size(); ++i) {
    std::cout << "  " << i + 1 << ". " << DescribeStep(plan, plan.steps[i])
              << "\n";
  }
}

// Why a message from `sender` with `body` goes where it goes under the
// loaded set, as the program would decide it: the Black List entry, the
// status-report option, or the filters up to the one that governs; then
// the plan's steps. The decision is firewall::Decide's, not this
// command's.
void PrintExplanation(const Loaded& loaded, const std::u16string& sender,
                      const std::u16string& body,
                      const firewall::Circumstances& now) {
  using firewall::DecidedBy;
  const FilterSet& set = loaded.set;
  const firewall::Plan plan = firewall::Decide(set, sender, body, now);
  PrintSource(loaded);
  std::cout << DescribeCircumstances(now) << "\n";
  std::cout << "Message from " << Quote(sender) << ", compared as "
            << Quote(firewall::NormalizeSender(sender)) << "\n\n";

  if (plan.decided_by == DecidedBy::kBlackList) {
    const firewall::BlackListEntry& entry =
        set.black_list[static_cast<size_t>(plan.black_list_index)];
    std::cout << "Blacklisted by Black List entry #"
              << plan.black_list_index + 1 << " " << Quote(entry.phone)
              << (entry.name.empty() ? "" : " (" + U8(entry.name) + ")")
              << (entry.phone.empty()
                      ? ": an empty entry catches every sender.\n"
                      : ": the number ends with it.\n");
    std::cout << "No alert and no filter action; it is kept in the Recycle "
                 "Bin only under BlackDeleteToRecycleBin.\n";
    PrintPlan(plan);
    return;
  }
  std::cout << "Not blacklisted ("
            << (set.black_list.empty()
                    ? std::string("the Black List is empty")
                    : "no entry among " +
                          std::to_string(set.black_list.size()) +
                          " matches the end of the number")
            << ").\n";
  if (plan.receipt != firewall::kReceiptNone) {
    std::cout << "The sender looks like a status report (it starts with "
                 "neither a digit nor \"+\" and has no \"<\") and "
                 "ReceiptToRecycleBin is "
              << plan.receipt
              << (plan.decided_by == DecidedBy::kStatusReport
                      ? ": that option settles it, the filters are not "
                        "asked.\n"
                      : ": it leaves the Inbox, and the filters go on as "
                        "below.\n");
  }
  if (plan.decided_by == DecidedBy::kStatusReport) {
    PrintPlan(plan);
    return;
  }

  // The filters, up to the one that governs.
  firewall::MatchSubject message(sender, body);
  const int governing = plan.governing.index;
  size_t looked_at =
      governing >= 0 ? static_cast<size_t>(governing) + 1 : set.filters.size();
  if (looked_at > 0) std::cout << "\nFilters, in matching order:\n";
  for (size_t i = 0; i < looked_at; ++i) {
    const FilterRecord& filter = set.filters[i];
    const firewall::FilterVerdict verdict =
        static_cast<int>(i) == governing
            ? plan.verdict
            : firewall::EvaluateFilter(filter, message);
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
  std::cout << "\nGoverned by " << FilterTitle(set, governing);
  if (governing == firewall::kContactDefaultIndex) {
    std::cout << ": no filter matched and the sender has \"<\"";
  } else if (governing == firewall::kStrangerDefaultIndex) {
    std::cout << ": no filter matched and the sender has no \"<\"";
  }
  std::cout << ".\n";
  PrintPlan(plan);
}

// What `filters explain` is given.
struct ExplainArgs {
  std::string from;
  std::string body;
  std::optional<std::string> ini;
  bool no_document = false;
};

int Explain(const ExplainArgs& args) {
  Loaded loaded;
  if (int rc = Load(args.ini, &loaded); rc != 0) return rc;
  // The options the program would read from this device.
  settings::SettingsStore settings;
  settings.Load();
  firewall::Circumstances now = firewall::Circumstances::FromSettings(settings);
  now.document_open = !args.no_document;
  now.has_recycle_bin = !args.no_document;
  PrintExplanation(loaded, U16(args.from), U16(args.body), now);
  return 0;
}

// Loads the device's set, lets `change` edit it and saves it.
int ChangeDeviceSet(const std::function<int(FilterSet*)>& change) {
  Loaded loaded;
  if (int rc = Load(std::nullopt, &loaded); rc != 0) return rc;
  loaded.set.file_path = firewall::DefaultFilterFilePath();
  if (int rc = change(&loaded.set); rc != 0) return rc;
  if (firewall::SaveFilterFile(loaded.set) != firewall::SaveOutcome::kSaved) {
    return Fail(U8(loaded.set.file_path) + ": cannot write the filter file");
  }
  return 0;
}

// True when `text` has nothing but white space.
bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
}

int Block(const std::string& number, const std::optional<std::string>& name) {
  // The Black List matches the end of the number: an empty entry would
  // catch every sender.
  if (IsBlank(number)) {
    return UsageError(
        "filters block needs a number: an empty one would block every sender");
  }
  return ChangeDeviceSet([&](FilterSet* set) {
    set->black_list.push_back(
        {name ? U16(*name) : std::u16string(), U16(number)});
    std::cout << "Black List entry #" << set->black_list.size() << " "
              << Quote(set->black_list.back().phone) << "\n";
    return 0;
  });
}

// What `filters add` is given.
struct AddArgs {
  std::string name;
  std::optional<std::string> from;
  std::optional<std::string> body;
  bool equal = false;
  std::optional<std::string> save_to;
  bool hide = false;
  std::optional<std::string> reply;
  std::optional<std::string> forward;
  bool popup = false;
  std::optional<std::string> skin;
  bool vibrate = false;
  bool unread_alert = false;
};

int Add(const AddArgs& args) {
  if (args.from.has_value() == args.body.has_value()) {
    return UsageError("filters add needs one of --from and --body");
  }
  FilterRecord filter;
  filter.SetName(U16(args.name));
  filter.rules[0] = firewall::Rule{
      args.from ? firewall::kObjectPhoneNumber : firewall::kObjectBody,
      args.equal ? firewall::kJudgeEqual : firewall::kJudgeInclude,
      U16(args.from ? *args.from : *args.body)};
  auto set_value = [&](const std::optional<std::string>& value, int slot) {
    if (value) filter.Set(slot, U16(*value));
  };
  if (args.save_to) {
    // As the filter editor stores it: a folder path starts with "\".
    std::u16string folder = U16(*args.save_to);
    if (folder.empty())
      return UsageError("filters add --save-to needs a folder");
    if (folder.front() != u'\\') folder.insert(folder.begin(), u'\\');
    filter.Set(firewall::kSaveToFolder, std::move(folder));
  }
  set_value(args.reply, firewall::kAutoReply);
  set_value(args.forward, firewall::kAutoForward);
  if (args.hide) filter.Set(firewall::kDontShowInInbox, std::nullopt);
  if (args.vibrate) filter.Set(firewall::kVibrate, std::nullopt);
  if (args.unread_alert) filter.Set(firewall::kUnreadAlert, std::nullopt);
  if (args.skin) {
    filter.Set(firewall::kShowPopupWindow, U16(*args.skin));
  } else if (args.popup) {
    filter.Set(firewall::kShowPopupWindow, std::nullopt);
  }
  return ChangeDeviceSet([&](FilterSet* set) {
    // At the top, as the filter list's "New..." puts it: matched first.
    set->filters.insert(set->filters.begin(), filter);
    std::cout << "Filter #1 " << Quote(filter.name) << "\n";
    return 0;
  });
}

// Names one filter of the set: by NAME or by its number in the list.
struct Target {
  std::optional<std::string> name;
  std::optional<int> number;  // 1-based, as `filters show` lists it
};

// Sets `index` to the one in set.filters that `target` names and returns
// 0; or reports why there is none and returns the failure's exit code.
int FindTarget(const FilterSet& set, const Target& target,
               const std::string& command, size_t* index) {
  if (target.number) {
    const int number = *target.number;
    if (number < 1 || static_cast<size_t>(number) > set.filters.size()) {
      return Fail("there is no filter #" + std::to_string(number) +
                  " (the list has " + std::to_string(set.filters.size()) + ")");
    }
    *index = static_cast<size_t>(number - 1);
    return 0;
  }
  const std::u16string name = U16(*target.name);
  std::vector<size_t> found;
  for (size_t i = 0; i < set.filters.size(); ++i) {
    if (set.filters[i].name == name) found.push_back(i);
  }
  if (found.empty()) {
    return Fail("there is no filter named " + Quote(name));
  }
  if (found.size() > 1) {
    std::string numbers;
    for (size_t i : found) {
      numbers += (numbers.empty() ? "#" : ", #") + std::to_string(i + 1);
    }
    return Fail(std::to_string(found.size()) + " filters are named " +
                Quote(name) + " (" + numbers + "): choose one with 'filters " +
                command + " --index N'");
  }
  *index = found.front();
  return 0;
}

// Loads the device's set, finds the filter `target` names and lets `change`
// edit the set; saves it when both succeed.
int ChangeFilter(const Target& target, const std::string& command,
                 const std::function<int(FilterSet*, size_t)>& change) {
  if (target.name.has_value() == target.number.has_value()) {
    return UsageError("filters " + command + " needs NAME or --index N");
  }
  return ChangeDeviceSet([&](FilterSet* set) {
    size_t index = 0;
    if (int rc = FindTarget(*set, target, command, &index); rc != 0) return rc;
    return change(set, index);
  });
}

int Remove(const Target& target) {
  return ChangeFilter(target, "remove", [](FilterSet* set, size_t index) {
    std::cout << "Removed filter #" << index + 1 << " "
              << Quote(set->filters[index].name) << "\n";
    set->filters.erase(set->filters.begin() +
                       static_cast<std::ptrdiff_t>(index));
    return 0;
  });
}

int Enable(const Target& target, bool enabled) {
  return ChangeFilter(target, enabled ? "enable" : "disable",
                      [enabled](FilterSet* set, size_t index) {
                        FilterRecord& filter = set->filters[index];
                        filter.enabled = enabled ? 1 : 0;
                        std::cout << "Filter #" << index + 1 << " "
                                  << Quote(filter.name)
                                  << (enabled ? " enabled" : " disabled")
                                  << "\n";
                        return 0;
                      });
}

// What `filters move` is given.
struct MoveArgs {
  Target target;
  bool up = false;
  bool down = false;
  std::optional<int> to;  // 1-based
};

int Move(const MoveArgs& args) {
  if (static_cast<int>(args.up) + static_cast<int>(args.down) +
          static_cast<int>(args.to.has_value()) !=
      1) {
    return UsageError("filters move needs one of --up, --down and --to K");
  }
  return ChangeFilter(args.target, "move", [&](FilterSet* set, size_t index) {
    const int count = static_cast<int>(set->filters.size());
    const int from = static_cast<int>(index) + 1;
    const int to = args.to ? *args.to : from + (args.up ? -1 : 1);
    if (to < 1 || to > count) {
      if (!args.to) {
        return Fail("filter #" + std::to_string(from) + " is already " +
                    (args.up ? "the first" : "the last"));
      }
      return Fail("there is no place #" + std::to_string(to) +
                  " (the list has " + std::to_string(count) + ")");
    }
    FilterRecord filter = std::move(set->filters[index]);
    set->filters.erase(set->filters.begin() + (from - 1));
    set->filters.insert(set->filters.begin() + (to - 1), std::move(filter));
    std::cout << "Filter #" << to << " "
              << Quote(set->filters[static_cast<size_t>(to - 1)].name)
              << " (was #" << from << ")\n";
    return 0;
  });
}

// NAME and --index N on `command`, one of them.
void AddTargetOptions(CLI::App* command, Target* target) {
  CLI::Option* name =
      command->add_option("NAME", target->name, "the filter's name");
  command
      ->add_option("--index", target->number,
                   "the filter numbered N in 'telvane filters show' (#1 is "
                   "matched first)")
      ->type_name("N")
      ->excludes(name);
}

}  // namespace

void AddFiltersCommands(cli::Tool& tool) {
  CLI::App* filters = tool.AddCommand(
      tool.root(), "filters",
      "the firewall's filter file (pelicorde.ini): show it, explain a "
      "message's way, block a number, add, remove, enable, disable or move a "
      "filter");
  filters->footer(
      "INI is a host file; without it the device's own filter file is read.\n"
      "block, add, remove, enable, disable and move change the device's "
      "file;\nthe program reads it at start. A filter is named by NAME or by "
      "its number\n(--index N) as show lists it.");
  const std::string ini_help =
      "a filter file on the host (default the device's)";

  auto show_ini = std::make_shared<std::optional<std::string>>();
  tool.AddCommand(filters, "show",
                  "the filters in matching order, the Black List, the two "
                  "defaults and whether a rule password is set",
                  [show_ini] { return Show(*show_ini); })
      ->add_option("INI", *show_ini, ini_help);

  auto explain_args = std::make_shared<ExplainArgs>();
  CLI::App* explain = tool.AddCommand(
      filters, "explain",
      "why a message goes where it goes: the Black List entry that catches "
      "it, or the filter that governs it and the rule that decided, then the "
      "steps the program takes, in their order (the device's options apply)",
      [explain_args] { return Explain(*explain_args); });
  explain->add_option("--from", explain_args->from, "the sender")
      ->type_name("SENDER")
      ->required();
  explain->add_option("--body", explain_args->body, "the message's text")
      ->required();
  explain->add_option("INI", explain_args->ini, ini_help);
  explain->add_flag("--no-document", explain_args->no_document,
                    "as the program decides while no document is open");

  struct BlockArgs {
    std::string number;
    std::optional<std::string> name;
  };
  auto block_args = std::make_shared<BlockArgs>();
  CLI::App* block = tool.AddCommand(
      filters, "block", "add NUMBER (not empty) to the Black List",
      [block_args] { return Block(block_args->number, block_args->name); });
  block->add_option("NUMBER", block_args->number, "the number")->required();
  block->add_option("--name", block_args->name, "the entry's name");

  auto add_args = std::make_shared<AddArgs>();
  CLI::App* add = tool.AddCommand(
      filters, "add",
      "add a filter on top of the list (matched first) whose rule asks that "
      "the sender (or the text) includes TEXT, with its actions",
      [add_args] { return Add(*add_args); });
  add->add_option("NAME", add_args->name, "the filter's name")->required();
  CLI::Option* from =
      add->add_option("--from", add_args->from, "the sender includes TEXT");
  add->add_option("--body", add_args->body, "the text includes TEXT")
      ->excludes(from);
  add->add_flag("--equal", add_args->equal,
                "the rule asks that it ends with TEXT instead");
  add->add_option("--save-to", add_args->save_to,
                  "file under FOLDER (a leading \\ is added when missing)")
      ->type_name("FOLDER");
  add->add_flag("--hide", add_args->hide, "leave the phone's Inbox");
  add->add_option("--reply", add_args->reply, "answer with TEXT");
  add->add_option("--forward", add_args->forward, "forward to NUMBERS")
      ->type_name("NUMBERS");
  add->add_flag("--popup", add_args->popup, "show the popup");
  add->add_option("--skin", add_args->skin, "show the popup in skin CFG")
      ->type_name("CFG");
  add->add_flag("--vibrate", add_args->vibrate, "vibrate");
  add->add_flag("--unread-alert", add_args->unread_alert,
                "remind while unread");

  auto remove_target = std::make_shared<Target>();
  AddTargetOptions(
      tool.AddCommand(filters, "remove", "delete a filter from the list",
                      [remove_target] { return Remove(*remove_target); }),
      remove_target.get());
  auto enable_target = std::make_shared<Target>();
  AddTargetOptions(
      tool.AddCommand(filters, "enable", "enable a filter: it is matched again",
                      [enable_target] { return Enable(*enable_target, true); }),
      enable_target.get());
  auto disable_target = std::make_shared<Target>();
  AddTargetOptions(
      tool.AddCommand(
          filters, "disable",
          "disable a filter: it stays in the list but is skipped in matching",
          [disable_target] { return Enable(*disable_target, false); }),
      disable_target.get());

  auto move_args = std::make_shared<MoveArgs>();
  CLI::App* move = tool.AddCommand(
      filters, "move",
      "move a filter in the matching order: one place up or down, or to "
      "place K",
      [move_args] { return Move(*move_args); });
  AddTargetOptions(move, &move_args->target);
  CLI::Option* up =
      move->add_flag("--up", move_args->up, "one place up: matched sooner");
  CLI::Option* down =
      move->add_flag("--down", move_args->down, "one place down: matched later")
          ->excludes(up);
  move->add_option("--to", move_args->to,
                   "to place K, as show numbers it (1 is matched first)")
      ->type_name("K")
      ->excludes(up)
      ->excludes(down);
}

}  // namespace tools::telvane
