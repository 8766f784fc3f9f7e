#include "firewall/filter_set.h"

#include <utility>

#include "text/text.h"

namespace firewall {

namespace {

bool ValidSlot(int slot) { return slot >= 0 && slot < kActionSlotCount; }

}  // namespace

bool FilterRecord::Has(int slot) const {
  return ValidSlot(slot) && actions[static_cast<size_t>(slot)].present;
}

std::u16string_view FilterRecord::Value(int slot) const {
  if (!Has(slot)) return {};
  const Action& action = actions[static_cast<size_t>(slot)];
  return action.value ? std::u16string_view(*action.value)
                      : std::u16string_view();
}

void FilterRecord::Set(int slot, std::optional<std::u16string> value) {
  if (!ValidSlot(slot)) return;
  Action& action = actions[static_cast<size_t>(slot)];
  action.present = true;
  action.value = std::move(value);
}

void FilterRecord::Clear(int slot) {
  if (!ValidSlot(slot)) return;
  actions[static_cast<size_t>(slot)] = Action{};
}

void FilterRecord::SetName(std::u16string_view new_name) {
  name = new_name.substr(0, kMaxFilterNameLength);
}

void FilterRecord::GiveInitialActions() {
  Set(kSaveToFolder, std::u16string(kDefaultFolder));
  Set(kUnreadAlert, std::nullopt);
}

FilterRecord NewFilter() {
  FilterRecord record;
  record.GiveInitialActions();
  return record;
}

FilterSet::FilterSet() {
  contact_default.name = u"Contact Default";
  stranger_default.name = u"Stranger Default";
}

std::u16string NormalizeSender(std::u16string_view sender) {
  std::u16string normalized = text::NormalizeNumber(sender);
  if (normalized.size() > kMaxNormalizedLength) {
    normalized.resize(kMaxNormalizedLength);
  }
  return normalized;
}

bool SuffixMatch(std::u16string_view subject, std::u16string_view pattern) {
  if (pattern.size() > subject.size()) return false;
  const char16_t* tail = subject.data() + (subject.size() - pattern.size());
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != u'?' && pattern[i] != tail[i]) return false;
  }
  return true;
}

const BlackListEntry* FindBlackListEntry(const FilterSet& set,
                                         std::u16string_view sender) {
  std::u16string normalized = NormalizeSender(sender);
  for (const BlackListEntry& entry : set.black_list) {
    if (SuffixMatch(normalized, entry.phone)) return &entry;
  }
  return nullptr;
}

bool IsBlacklisted(const FilterSet& set, std::u16string_view sender) {
  return FindBlackListEntry(set, sender) != nullptr;
}

std::u16string_view MatchSubject::normalized_sender() const {
  if (!normalized_) normalized_ = NormalizeSender(sender_);
  return *normalized_;
}

bool EvaluateRule(const Rule& rule, const MatchSubject& message) {
  if (rule.object != kObjectPhoneNumber && rule.object != kObjectBody) {
    return false;
  }
  const bool phone = rule.object == kObjectPhoneNumber;
  const std::u16string_view raw = phone ? message.sender() : message.body();
  const std::u16string_view content = rule.content;
  switch (rule.judge) {
    case kJudgeInclude:
      return raw.find(content) != std::u16string_view::npos;
    case kJudgeExclude:
      return raw.find(content) == std::u16string_view::npos;
    case kJudgeEqual:
    case kJudgeNotEqual: {
      const std::u16string_view subject =
          phone ? message.normalized_sender() : raw;
      const bool equal = SuffixMatch(subject, content);
      return rule.judge == kJudgeEqual ? equal : !equal;
    }
    default:
      return true;  // an unknown judge changes nothing
  }
}

FilterVerdict EvaluateFilter(const FilterRecord& filter,
                             const MatchSubject& message) {
  FilterVerdict verdict;
  if (filter.enabled == 0) {
    verdict.reason = FilterReason::kDisabled;
    return verdict;
  }
  if (filter.apply_to_all != 0) {
    verdict.matched = true;
    verdict.reason = FilterReason::kApplyToAll;
    return verdict;
  }
  bool match = true;
  bool any_rule = false;
  for (size_t i = 0; i < filter.rules.size(); ++i) {
    if (!filter.rules[i]) continue;  // verdict.rules[i] stays kAbsent
    any_rule = true;
    if (!match) {
      verdict.rules[i] = RuleResult::kNotEvaluated;
      continue;
    }
    match = EvaluateRule(*filter.rules[i], message);
    verdict.rules[i] = match ? RuleResult::kPassed : RuleResult::kFailed;
  }
  verdict.matched = match;
  if (!match) {
    verdict.reason = FilterReason::kRuleFailed;
  } else {
    verdict.reason =
        any_rule ? FilterReason::kRulesPassed : FilterReason::kNoRules;
  }
  return verdict;
}

namespace {

// The hot path of FindGoverningFilter: EvaluateFilter without the reasons.
bool Matches(const FilterRecord& filter, const MatchSubject& message) {
  if (filter.enabled == 0) return false;
  if (filter.apply_to_all != 0) return true;
  for (const std::optional<Rule>& rule : filter.rules) {
    if (rule && !EvaluateRule(*rule, message)) return false;
  }
  return true;
}

}  // namespace

GoverningFilter FindGoverningFilter(const FilterSet& set,
                                    const MatchSubject& message) {
  for (size_t i = 0; i < set.filters.size(); ++i) {
    if (Matches(set.filters[i], message)) {
      return {&set.filters[i], static_cast<int>(i)};
    }
  }
  if (message.sender().find(u'<') != std::u16string_view::npos) {
    return {&set.contact_default, kContactDefaultIndex};
  }
  return {&set.stranger_default, kStrangerDefaultIndex};
}

const FilterRecord& FindGoverningFilter(const FilterSet& set,
                                        std::u16string_view sender,
                                        std::u16string_view body) {
  return *FindGoverningFilter(set, MatchSubject(sender, body)).filter;
}

}  // namespace firewall
