#include "firewall/plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firewall/filter_file.h"

namespace firewall {
namespace {

std::vector<std::string> Names(const Plan& plan) {
  std::vector<std::string> names;
  for (const Step& step : plan.steps) {
    names.emplace_back(StepName(step.kind));
  }
  return names;
}

using Names_ = std::vector<std::string>;

class PlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUpFirstStartDefaults(&set_);
    FilterRecord boss = NewFilter();
    boss.SetName(u"Boss");
    boss.rules[0] = Rule{kObjectPhoneNumber, kJudgeEqual, u"13900000000"};
    boss.rules[1] = Rule{kObjectBody, kJudgeInclude, u"meeting"};
    boss.Set(kSaveToFolder, u"\\Work");
    boss.Set(kDontShowInInbox, std::nullopt);
    set_.filters.push_back(boss);
    set_.black_list.push_back({u"Ann", u"13800138000"});
    set_.black_list.push_back({u"Bob", u"10010"});
  }

  FilterSet set_;
  Circumstances now_;
};

TEST_F(PlanTest, SaysWhyTheMessageGoesWhereItGoes) {
  Plan blocked = Decide(set_, u"\"Bob\"<10010>", u"hi", now_);
  EXPECT_EQ(blocked.decided_by, DecidedBy::kBlackList);
  EXPECT_EQ(blocked.black_list_index, 1);
  EXPECT_EQ(Names(blocked), (Names_{"leave-inbox"}));

  Plan boss = Decide(set_, u"+86 139 0000 0000", u"the meeting", now_);
  EXPECT_EQ(boss.decided_by, DecidedBy::kFilter);
  EXPECT_EQ(boss.governing.index, 0);
  EXPECT_EQ(boss.verdict.reason, FilterReason::kRulesPassed);
  EXPECT_EQ(Names(boss),
            (Names_{"file", "leave-inbox", "stop-reminder", "show-in-tree"}));
  EXPECT_EQ(boss.steps[0].folder, u"\\Work");
  EXPECT_TRUE(boss.steps[0].released);
  EXPECT_TRUE(boss.steps[1].after_filing);

  // The body rule decides against the filter; the Stranger Default
  // governs and files under "\Inbox".
  Plan other = Decide(set_, u"13900000000", u"lunch?", now_);
  EXPECT_EQ(other.governing.index, kStrangerDefaultIndex);
  EXPECT_EQ(Names(other), (Names_{"file", "stop-reminder", "show-in-tree"}));
  EXPECT_EQ(other.steps[0].folder, u"\\Inbox");
  EXPECT_FALSE(other.steps[0].released);
}

// With no document, a message that would be filed and hidden stays in the
// phone's Inbox; one that is only hidden still leaves it.
TEST_F(PlanTest, NoDocumentKeepsWhatWouldBeFiledInTheInbox) {
  now_.document_open = false;
  now_.has_recycle_bin = false;
  Plan boss = Decide(set_, u"13900000000", u"meeting", now_);
  EXPECT_TRUE(boss.kept_in_inbox_without_document);
  EXPECT_EQ(Names(boss), (Names_{"stop-reminder"}));

  set_.filters[0].Clear(kSaveToFolder);
  Plan hidden = Decide(set_, u"13900000000", u"meeting", now_);
  EXPECT_FALSE(hidden.kept_in_inbox_without_document);
  EXPECT_EQ(Names(hidden), (Names_{"leave-inbox", "stop-reminder"}));
  EXPECT_FALSE(hidden.steps[0].after_filing);

  // Blacklisted, to be kept in the Recycle Bin: with no document it stays.
  now_.black_delete_to_recycle_bin = 1;
  Plan blocked = Decide(set_, u"13800138000", u"hi", now_);
  EXPECT_TRUE(blocked.kept_in_inbox_without_document);
  EXPECT_TRUE(blocked.steps.empty());
  // With a document that has no Recycle Bin it is kept nowhere.
  now_.document_open = true;
  blocked = Decide(set_, u"13800138000", u"hi", now_);
  EXPECT_TRUE(blocked.kept_nowhere);
  EXPECT_EQ(Names(blocked), (Names_{"leave-inbox"}));
  now_.has_recycle_bin = true;
  blocked = Decide(set_, u"13800138000", u"hi", now_);
  EXPECT_EQ(Names(blocked), (Names_{"file", "leave-inbox", "show-in-tree"}));
  EXPECT_TRUE(blocked.steps[0].into_recycle_bin);
  EXPECT_FALSE(blocked.steps[2].notify);
}

TEST_F(PlanTest, StatusReportOptionComesBeforeTheFilters) {
  for (int32_t receipt :
       {kReceiptKeepInInbox, kReceiptDeleteBoth, kReceiptToRecycleBin}) {
    now_.receipt_to_recycle_bin = receipt;
    Plan plan = Decide(set_, u"Delivered", u"status", now_);
    EXPECT_EQ(plan.decided_by, DecidedBy::kStatusReport) << receipt;
    EXPECT_EQ(plan.receipt, receipt);
  }
  now_.receipt_to_recycle_bin = kReceiptDeleteFromInbox;
  Plan plan = Decide(set_, u"Delivered", u"status", now_);
  EXPECT_EQ(plan.decided_by, DecidedBy::kFilter);
  EXPECT_TRUE(plan.status_report_deleted);
  EXPECT_EQ(Names(plan),
            (Names_{"file", "leave-inbox", "stop-reminder", "show-in-tree"}));
  EXPECT_FALSE(plan.steps[1].action.has_value());  // not a filter's action
}

}  // namespace
}  // namespace firewall
