// The firewall's data model and its two pure decisions.
//
// A FilterSet holds the user's filters in matching order, the Black List,
// the two built-in defaults ("Contact Default" for senders written with a
// name, "Stranger Default" for the rest) and the rule password. For every
// incoming message the firewall asks two independent questions:
//   - is the sender on the Black List (FindBlackListEntry / IsBlacklisted)?
//   - which filter governs the message (FindGoverningFilter)? The answer is
//     always a record: a user filter, or one of the defaults.
// The filter file (filter_file.h) persists the set; the editors change it.
//
// Thread safety: none. The set belongs to the user-interface thread, which
// loads it, edits it, saves it and matches against it.
#ifndef TELVANE_FIREWALL_FILTER_SET_H_
#define TELVANE_FIREWALL_FILTER_SET_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace firewall {

// The ten action slots of a filter record, by number. The numbers are
// stored in the filter file and never change.
enum ActionSlot : int {
  kSaveToFolder = 0,         // value: folder path, starting with "\"
  kDontShowInInbox = 1,      // no value
  kAutoReply = 2,            // value: the reply text (may hold line breaks)
  kVibrate = 3,              // no value
  kPlaySound = 4,            // value: sound-file path, or kRandomRingMarker
  kAutoForward = 5,          // value: destination number(s), ";"-separated
  kShowPopupWindow = 6,      // value: full path of a skin ".cfg"; none/empty
                             //   for the built-in look
  kUserDefinedSentence = 7,  // value: shown in the popup instead of the body
  kUnreadAlert = 8,          // no value
  kSpecificPhoto = 9,        // value: picture-file path
};
inline constexpr int kActionSlotCount = 10;

// The value of slot kPlaySound that stands for "Random Ring".
inline constexpr std::u16string_view kRandomRingMarker = u"|";

// The default texts the editors offer; the first is also the folder of the
// initial actions.
inline constexpr std::u16string_view kDefaultFolder = u"\\Inbox";
inline constexpr std::u16string_view kDefaultReplyText =
    u"Sorry! I'm busy now...";

// Limits of the inline fields, in UTF-16 code units, terminator excluded.
inline constexpr size_t kMaxFilterNameLength = 39;
inline constexpr size_t kMaxPasswordLength = 12;
inline constexpr size_t kMaxFilePathLength = 260;
// Senders are normalised into a buffer of this many code units (plus the
// terminator): a longer normalised sender is cut here before matching.
inline constexpr size_t kMaxNormalizedLength = 259;

// What a rule looks at.
inline constexpr int32_t kObjectPhoneNumber = 0;  // the sender
inline constexpr int32_t kObjectBody = 1;         // the message text
// Any other object makes the rule fail.

// How a rule compares.
inline constexpr int32_t kJudgeInclude = 0;   // content occurs in the subject
inline constexpr int32_t kJudgeExclude = 1;   // content does not occur
inline constexpr int32_t kJudgeEqual = 2;     // content suffix-matches
inline constexpr int32_t kJudgeNotEqual = 3;  // content does not
// Any other judge leaves the rule without effect.

struct Rule {
  int32_t object = kObjectPhoneNumber;
  int32_t judge = kJudgeInclude;
  std::u16string content;  // compared as typed (case-sensitive)

  bool operator==(const Rule&) const = default;
};

// One action slot: absent, or present with or without a value. A present
// slot's value may also be empty; everything that uses a slot treats "no
// value" and "empty value" alike. Only a file's last line can give a present
// slot without a value (see filter_file.h).
struct Action {
  bool present = false;
  std::optional<std::u16string> value;

  bool operator==(const Action&) const = default;
};

struct FilterRecord {
  // Nonzero: matches every message without looking at its rules.
  int32_t apply_to_all = 0;
  // 0: skipped in matching.
  int32_t enabled = 1;
  // Rule 1 and the optional "And Rule 2"; an absent rule is skipped.
  std::array<std::optional<Rule>, 2> rules;
  std::array<Action, kActionSlotCount> actions;
  // At most kMaxFilterNameLength code units (the loader cuts longer names;
  // SetName does too).
  std::u16string name;

  bool operator==(const FilterRecord&) const = default;

  // Slot access. `slot` outside 0..9 is absent and never stored.
  bool Has(int slot) const;
  // The value of a present slot, empty for none (and for an absent slot).
  std::u16string_view Value(int slot) const;
  // Makes the slot present with the value (nullopt: without a value).
  void Set(int slot, std::optional<std::u16string> value);
  void Clear(int slot);
  void SetName(std::u16string_view name);

  // The initial actions: "Save to Folder" "\Inbox" and "Unread Alert".
  void GiveInitialActions();
};

// A filter made with "New..." or "Fast Create...": an empty record given
// the initial actions.
FilterRecord NewFilter();

struct BlackListEntry {
  std::u16string name;   // for display only
  std::u16string phone;  // the pattern matched against the sender

  bool operator==(const BlackListEntry&) const = default;
};

struct FilterSet {
  // Makes an empty set: no path, no password, no filters, no Black List,
  // and both defaults empty records named "Contact Default" and "Stranger
  // Default" (the loader sets them up).
  FilterSet();

  std::u16string file_path;           // the filter file (device path)
  std::u16string password;            // at most kMaxPasswordLength; empty: none
  std::vector<FilterRecord> filters;  // matching order
  std::vector<BlackListEntry> black_list;
  FilterRecord contact_default;
  FilterRecord stranger_default;
};

// Which filter governs a message: an index into FilterSet::filters, or one
// of these two.
inline constexpr int kContactDefaultIndex = -1;
inline constexpr int kStrangerDefaultIndex = -2;

// The sender reduced for comparison: text::NormalizeNumber, cut to
// kMaxNormalizedLength. "Ann <+12 (345) 678-90>" gives "+1234567890".
std::u16string NormalizeSender(std::u16string_view sender);

// True when `pattern` has no more code units than `subject` and each of its
// code units equals the one in the same position among the subject's last
// pattern-length code units; "?" in the pattern matches any one code unit.
// An empty pattern matches everything. Case-sensitive.
bool SuffixMatch(std::u16string_view subject, std::u16string_view pattern);

// The first Black List entry whose phone suffix-matches the normalised
// sender, or null.
const BlackListEntry* FindBlackListEntry(const FilterSet& set,
                                         std::u16string_view sender);
bool IsBlacklisted(const FilterSet& set, std::u16string_view sender);

// One message as matching sees it. Keeps the normalised sender once it is
// needed, so that many "Equal" rules normalise it once. The views must
// outlive the object.
class MatchSubject {
 public:
  MatchSubject(std::u16string_view sender, std::u16string_view body)
      : sender_(sender), body_(body) {}
  std::u16string_view sender() const { return sender_; }
  std::u16string_view body() const { return body_; }
  std::u16string_view normalized_sender() const;

 private:
  std::u16string_view sender_;
  std::u16string_view body_;
  mutable std::optional<std::u16string> normalized_;
};

// How one rule came out.
enum class RuleResult {
  kAbsent,        // no rule in this place
  kNotEvaluated,  // an earlier rule already failed
  kPassed,        // the match flag stays true
  kFailed,        // the match flag became false
};

// Why a filter matched or not.
enum class FilterReason {
  kDisabled,     // enabled flag 0: skipped
  kApplyToAll,   // matches every message
  kNoRules,      // neither rule present: matches every message
  kRulesPassed,  // every present rule held
  kRuleFailed,   // a rule failed (see `rules`)
};

struct FilterVerdict {
  bool matched = false;
  FilterReason reason = FilterReason::kDisabled;
  std::array<RuleResult, 2> rules = {RuleResult::kAbsent, RuleResult::kAbsent};
};

// Evaluates one rule against the message: true when the match flag stays.
bool EvaluateRule(const Rule& rule, const MatchSubject& message);

// Evaluates one filter record, with the reasons.
FilterVerdict EvaluateFilter(const FilterRecord& filter,
                             const MatchSubject& message);

struct GoverningFilter {
  const FilterRecord* filter = nullptr;  // never null; points into the set
  int index = kStrangerDefaultIndex;     // position, or a default's index
};

// Walks the filters in order and returns the first enabled one that
// matches; with none, the Contact Default when the raw sender contains
// "<", else the Stranger Default. The pointer stays valid until the set
// changes.
GoverningFilter FindGoverningFilter(const FilterSet& set,
                                    const MatchSubject& message);
const FilterRecord& FindGoverningFilter(const FilterSet& set,
                                        std::u16string_view sender,
                                        std::u16string_view body);

}  // namespace firewall

#endif  // TELVANE_FIREWALL_FILTER_SET_H_
