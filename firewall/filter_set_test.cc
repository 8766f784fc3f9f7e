#include "firewall/filter_set.h"

#include <gtest/gtest.h>

namespace firewall {
namespace {

Rule MakeRule(int32_t object, int32_t judge, std::u16string content) {
  return Rule{object, judge, std::move(content)};
}

FilterRecord FilterWith(std::optional<Rule> rule1,
                        std::optional<Rule> rule2 = std::nullopt) {
  FilterRecord filter = NewFilter();
  filter.rules = {std::move(rule1), std::move(rule2)};
  return filter;
}

bool RuleMatches(const Rule& rule, std::u16string_view sender,
                 std::u16string_view body = u"") {
  return EvaluateRule(rule, MatchSubject(sender, body));
}

TEST(SuffixMatch, ComparesTheTailWithWildcards) {
  EXPECT_TRUE(SuffixMatch(u"+8613800138000", u"13800138000"));
  EXPECT_TRUE(SuffixMatch(u"13800138000", u"13800138000"));
  EXPECT_TRUE(SuffixMatch(u"+8613812348000", u"138????8000"));
  EXPECT_FALSE(SuffixMatch(u"+8613812348001", u"138????8000"));
  EXPECT_TRUE(SuffixMatch(u"anything", u""));
  EXPECT_TRUE(SuffixMatch(u"", u""));
  EXPECT_FALSE(SuffixMatch(u"123", u"12345"));  // pattern longer
  EXPECT_FALSE(SuffixMatch(u"123", u"???1"));   // even all wildcards
  EXPECT_TRUE(SuffixMatch(u"abc", u"???"));
  EXPECT_FALSE(SuffixMatch(u"say OK", u"ok"));                 // case-sensitive
  EXPECT_FALSE(SuffixMatch(u"13800138000x", u"13800138000"));  // not a tail
}

TEST(BlackList, MatchesTheNormalisedSenderInListOrder) {
  FilterSet set;
  EXPECT_FALSE(IsBlacklisted(set, u"13800138000"));

  set.black_list = {{u"Ann", u"13800138000"}, {u"Ann again", u"8000"}};
  const BlackListEntry* entry =
      FindBlackListEntry(set, u"Ann <+86 138-0013-8000>");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->name, u"Ann");  // the first match answers
  EXPECT_TRUE(IsBlacklisted(set, u"\"Ann\"<+86 (138) 0013 8000>"));
  EXPECT_TRUE(IsBlacklisted(set, u"+8613900008000"));  // by the second
  EXPECT_FALSE(IsBlacklisted(set, u"+8613900008001"));

  set.black_list = {{u"shape", u"138????8000"}};
  EXPECT_TRUE(IsBlacklisted(set, u"+86 138 1234 8000"));
  EXPECT_FALSE(IsBlacklisted(set, u"+86 139 1234 8000"));

  set.black_list.push_back({u"everyone", u""});  // an empty phone
  EXPECT_TRUE(IsBlacklisted(set, u"10086"));
  EXPECT_TRUE(IsBlacklisted(set, u""));

  // Senders are normalised into a buffer of 259 code units.
  EXPECT_EQ(NormalizeSender(u"Name <+12 (345) 678-90>"), u"+1234567890");
  EXPECT_EQ(NormalizeSender(std::u16string(300, u'7')).size(),
            kMaxNormalizedLength);
}

TEST(Rules, PhoneNumberRules) {
  const std::u16string sender = u"+86 138 0013 8000";
  // Equal works on the normalised sender, Include on the raw one.
  EXPECT_TRUE(RuleMatches(
      MakeRule(kObjectPhoneNumber, kJudgeEqual, u"00138000"), sender));
  EXPECT_FALSE(RuleMatches(
      MakeRule(kObjectPhoneNumber, kJudgeInclude, u"00138000"), sender));
  EXPECT_TRUE(RuleMatches(
      MakeRule(kObjectPhoneNumber, kJudgeInclude, u"0013 8"), sender));
  EXPECT_FALSE(RuleMatches(
      MakeRule(kObjectPhoneNumber, kJudgeNotEqual, u"00138000"), sender));
  // A subject shorter than the content never suffix-matches.
  EXPECT_TRUE(RuleMatches(
      MakeRule(kObjectPhoneNumber, kJudgeNotEqual, u"12345"), u"123"));
  EXPECT_FALSE(
      RuleMatches(MakeRule(kObjectPhoneNumber, kJudgeEqual, u"12345"), u"123"));
  // The quoted name is dropped by normalising: "Ann" does not end the number.
  EXPECT_FALSE(RuleMatches(MakeRule(kObjectPhoneNumber, kJudgeEqual, u"Ann"),
                           u"\"Ann\"<123>"));
  EXPECT_TRUE(RuleMatches(MakeRule(kObjectPhoneNumber, kJudgeInclude, u"Ann"),
                          u"\"Ann\"<123>"));
}

TEST(Rules, BodyRulesAndOddValues) {
  // Equal on a body: the body ends with the content, case-sensitive.
  Rule ok = MakeRule(kObjectBody, kJudgeEqual, u"ok");
  EXPECT_TRUE(RuleMatches(ok, u"1", u"ok"));
  EXPECT_TRUE(RuleMatches(ok, u"1", u"that is ok"));
  EXPECT_FALSE(RuleMatches(ok, u"1", u"that is OK"));
  // The body is not normalised: spaces count.
  EXPECT_FALSE(
      RuleMatches(MakeRule(kObjectBody, kJudgeEqual, u"a b"), u"1", u"xab"));
  EXPECT_TRUE(
      RuleMatches(MakeRule(kObjectBody, kJudgeEqual, u"?k"), u"1", u"ok"));

  // Empty content: Include matches everything, Exclude nothing.
  EXPECT_TRUE(RuleMatches(MakeRule(kObjectBody, kJudgeInclude, u""), u"1",
                          u"anything"));
  EXPECT_FALSE(RuleMatches(MakeRule(kObjectBody, kJudgeExclude, u""), u"1",
                           u"anything"));
  EXPECT_TRUE(
      RuleMatches(MakeRule(kObjectBody, kJudgeExclude, u"spam"), u"1", u"ham"));
  EXPECT_FALSE(RuleMatches(MakeRule(kObjectBody, kJudgeExclude, u"spam"), u"1",
                           u"spam!"));

  // An unknown object fails; an unknown judge changes nothing.
  EXPECT_FALSE(RuleMatches(MakeRule(2, kJudgeInclude, u""), u"1", u"x"));
  EXPECT_FALSE(RuleMatches(MakeRule(-35, kJudgeInclude, u""), u"1", u"x"));
  EXPECT_TRUE(RuleMatches(MakeRule(kObjectBody, 4, u"zzz"), u"1", u"x"));
  EXPECT_TRUE(RuleMatches(MakeRule(kObjectBody, -38, u"zzz"), u"1", u"x"));
}

TEST(EvaluateFilter, ReportsWhichRuleDecided) {
  MatchSubject message(u"+8613800138000", u"meeting at 5");

  FilterVerdict both = EvaluateFilter(
      FilterWith(MakeRule(kObjectPhoneNumber, kJudgeInclude, u"138"),
                 MakeRule(kObjectBody, kJudgeInclude, u"meeting")),
      message);
  EXPECT_TRUE(both.matched);
  EXPECT_EQ(both.reason, FilterReason::kRulesPassed);
  EXPECT_EQ(both.rules[0], RuleResult::kPassed);
  EXPECT_EQ(both.rules[1], RuleResult::kPassed);

  // Once a rule fails the other is not evaluated.
  FilterVerdict first_fails = EvaluateFilter(
      FilterWith(MakeRule(kObjectPhoneNumber, kJudgeInclude, u"139"),
                 MakeRule(kObjectBody, kJudgeInclude, u"meeting")),
      message);
  EXPECT_FALSE(first_fails.matched);
  EXPECT_EQ(first_fails.reason, FilterReason::kRuleFailed);
  EXPECT_EQ(first_fails.rules[0], RuleResult::kFailed);
  EXPECT_EQ(first_fails.rules[1], RuleResult::kNotEvaluated);

  // Rule 2 alone (rule 1 absent) still decides.
  FilterVerdict second_only = EvaluateFilter(
      FilterWith(std::nullopt, MakeRule(kObjectBody, kJudgeExclude, u"5")),
      message);
  EXPECT_FALSE(second_only.matched);
  EXPECT_EQ(second_only.rules[0], RuleResult::kAbsent);
  EXPECT_EQ(second_only.rules[1], RuleResult::kFailed);

  FilterVerdict no_rules = EvaluateFilter(FilterWith(std::nullopt), message);
  EXPECT_TRUE(no_rules.matched);
  EXPECT_EQ(no_rules.reason, FilterReason::kNoRules);

  FilterRecord all = FilterWith(MakeRule(kObjectBody, kJudgeInclude, u"zzz"));
  all.apply_to_all = 1;
  EXPECT_EQ(EvaluateFilter(all, message).reason, FilterReason::kApplyToAll);
  all.enabled = 0;
  EXPECT_FALSE(EvaluateFilter(all, message).matched);
  EXPECT_EQ(EvaluateFilter(all, message).reason, FilterReason::kDisabled);
}

TEST(FindGoverningFilter, FirstEnabledMatchElseADefault) {
  FilterSet set;
  // No user filters: only "<" in the raw sender decides.
  EXPECT_EQ(&FindGoverningFilter(set, u"\"Ann\"<123>", u"x"),
            &set.contact_default);
  EXPECT_EQ(&FindGoverningFilter(set, u"<", u"x"), &set.contact_default);
  EXPECT_EQ(&FindGoverningFilter(set, u"\"Ann\" 123", u"x"),
            &set.stranger_default);
  EXPECT_EQ(&FindGoverningFilter(set, u"", u""), &set.stranger_default);

  FilterRecord disabled_all = NewFilter();
  disabled_all.apply_to_all = 1;
  disabled_all.enabled = 0;
  set.filters.push_back(disabled_all);
  set.filters.push_back(
      FilterWith(MakeRule(kObjectBody, kJudgeInclude, u"pay")));
  set.filters.back().name = u"first";
  set.filters.push_back(
      FilterWith(MakeRule(kObjectBody, kJudgeInclude, u"payday")));
  set.filters.back().name = u"second";

  GoverningFilter both = FindGoverningFilter(
      set, MatchSubject(u"+8613800138000", u"payday today"));
  EXPECT_EQ(both.index, 1);  // the earlier match wins; disabled skipped
  EXPECT_EQ(both.filter->name, u"first");

  GoverningFilter none =
      FindGoverningFilter(set, MatchSubject(u"\"Bo\"<1>", u"hello"));
  EXPECT_EQ(none.index, kContactDefaultIndex);
  EXPECT_EQ(none.filter, &set.contact_default);
  none = FindGoverningFilter(set, MatchSubject(u"1", u"hello"));
  EXPECT_EQ(none.index, kStrangerDefaultIndex);

  // A filter with no rules at all matches everything.
  set.filters.insert(set.filters.begin(), NewFilter());
  EXPECT_EQ(FindGoverningFilter(set, MatchSubject(u"1", u"hello")).index, 0);
}

TEST(FilterRecord, InitialActionsAndSlotBounds) {
  FilterRecord record = NewFilter();
  EXPECT_EQ(record.apply_to_all, 0);
  EXPECT_EQ(record.enabled, 1);
  EXPECT_EQ(record.Value(kSaveToFolder), u"\\Inbox");
  EXPECT_TRUE(record.Has(kUnreadAlert));
  EXPECT_FALSE(record.actions[kUnreadAlert].value.has_value());
  for (int slot : {1, 2, 3, 4, 5, 6, 7, 9}) EXPECT_FALSE(record.Has(slot));
  record.Set(10, u"x");  // out of range: ignored, never stored
  record.Set(-1, u"x");
  EXPECT_FALSE(record.Has(10));
  EXPECT_FALSE(record.Has(-1));
  record.SetName(std::u16string(50, u'n'));
  EXPECT_EQ(record.name.size(), kMaxFilterNameLength);
}

}  // namespace
}  // namespace firewall
