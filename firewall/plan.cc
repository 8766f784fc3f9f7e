#include "firewall/plan.h"

#include <utility>

#include "settings/settings_store.h"
#include "text/text.h"

namespace firewall {

namespace {

uint32_t NonNegative(int32_t value) {
  return value < 0 ? 0u : static_cast<uint32_t>(value);
}

Step MakeStep(Step::Kind kind, std::optional<ActionSlot> action = {}) {
  Step step;
  step.kind = kind;
  step.action = action;
  return step;
}

// Kept in the Recycle Bin (a blacklisted message, or a status report under
// "Inbox:Delete Here:Recycle Bin"): filed there, then out of the Inbox;
// kept in the Inbox when there is no document to keep it in.
void PlanRecycleBin(const Circumstances& circumstances, Plan* plan) {
  if (!circumstances.document_open) {
    plan->kept_in_inbox_without_document = true;
    return;
  }
  if (!circumstances.has_recycle_bin) {
    plan->kept_nowhere = true;  // as the user chose: out of the Inbox only
    plan->steps.push_back(MakeStep(Step::Kind::kLeaveInbox));
    return;
  }
  Step file = MakeStep(Step::Kind::kFile);
  file.into_recycle_bin = true;
  file.released = true;
  plan->steps.push_back(std::move(file));
  Step leave = MakeStep(Step::Kind::kLeaveInbox);
  leave.after_filing = true;
  plan->steps.push_back(std::move(leave));
  Step show = MakeStep(Step::Kind::kShowInTree);
  show.into_recycle_bin = true;
  plan->steps.push_back(std::move(show));
}

// The governing filter's actions, in their fixed order.
void PlanFilter(const FilterRecord& filter, std::u16string_view sender,
                std::u16string_view body, const Circumstances& circumstances,
                Plan* plan) {
  const bool files = filter.Has(kSaveToFolder);
  const bool filed = files && circumstances.document_open;
  const bool hide = filter.Has(kDontShowInInbox) || plan->status_report_deleted;
  if (files && !circumstances.document_open) {
    plan->kept_in_inbox_without_document = true;
  }
  if (filed) {
    Step file = MakeStep(Step::Kind::kFile, kSaveToFolder);
    file.folder = filter.Value(kSaveToFolder);
    file.released = hide;
    plan->steps.push_back(std::move(file));
  }
  // Out of the Inbox only once it is safe here, or when it is not to be
  // kept at all.
  if (hide && (!files || filed)) {
    Step leave = MakeStep(Step::Kind::kLeaveInbox);
    if (filter.Has(kDontShowInInbox)) leave.action = kDontShowInInbox;
    leave.after_filing = filed;
    plan->steps.push_back(std::move(leave));
  }
  if (filter.Has(kShowPopupWindow) && circumstances.popup_available) {
    Step popup = MakeStep(Step::Kind::kShowPopup, kShowPopupWindow);
    popup.skin = filter.Value(kShowPopupWindow);
    if (filter.Has(kUserDefinedSentence)) {
      popup.text = filter.Value(kUserDefinedSentence);
    } else {
      popup.text = body;
      SenderDisplay second = ParseSenderDisplay(sender);
      popup.second_text = std::move(second.text);
      popup.named = second.named;
    }
    popup.picture = filter.Value(kSpecificPhoto);  // empty: none
    popup.milliseconds = circumstances.disappear_time_recv;
    plan->steps.push_back(std::move(popup));
  }
  if (filter.Has(kPlaySound)) {
    Step sound = MakeStep(Step::Kind::kPlaySound, kPlaySound);
    sound.text = filter.Value(kPlaySound);
    plan->steps.push_back(std::move(sound));
  }
  if (filter.Has(kVibrate)) {
    Step vibrate = MakeStep(Step::Kind::kVibrate, kVibrate);
    vibrate.milliseconds = kActionVibrationMs;
    plan->steps.push_back(std::move(vibrate));
  }
  if (filter.Has(kAutoReply) && circumstances.send_service_running) {
    Step reply = MakeStep(Step::Kind::kEnqueue, kAutoReply);
    reply.recipients = sender;
    reply.text = filter.Value(kAutoReply);
    plan->steps.push_back(std::move(reply));
  }
  if (filter.Has(kAutoForward) && circumstances.send_service_running) {
    Step forward = MakeStep(Step::Kind::kEnqueue, kAutoForward);
    forward.recipients = filter.Value(kAutoForward);
    forward.text = body;
    plan->steps.push_back(std::move(forward));
  }
  plan->steps.push_back(MakeStep(Step::Kind::kStopReminder));
  if (circumstances.unread_alert != 0 && filter.Has(kUnreadAlert)) {
    Step start = MakeStep(Step::Kind::kStartReminder, kUnreadAlert);
    start.milliseconds = circumstances.alert_second;
    plan->steps.push_back(std::move(start));
  }
  if (filed) {
    Step show = MakeStep(Step::Kind::kShowInTree, kSaveToFolder);
    show.folder = filter.Value(kSaveToFolder);
    show.notify = true;
    plan->steps.push_back(std::move(show));
  }
}

}  // namespace

Circumstances Circumstances::FromSettings(
    const settings::SettingsStore& settings) {
  Circumstances circumstances;
  circumstances.black_delete_to_recycle_bin =
      settings.black_delete_to_recycle_bin();
  circumstances.receipt_to_recycle_bin = settings.receipt_to_recycle_bin();
  circumstances.unread_alert = settings.unread_alert();
  circumstances.alert_second = NonNegative(settings.alert_second());
  circumstances.disappear_time_recv =
      NonNegative(settings.disappear_time_recv());
  return circumstances;
}

SenderDisplay ParseSenderDisplay(std::u16string_view sender) {
  text::Recipient recipient = text::SplitRecipient(sender);
  return SenderDisplay{std::move(recipient.name), recipient.quoted};
}

bool LooksLikeStatusReport(std::u16string_view sender) {
  char16_t first = sender.empty() ? char16_t{0} : sender.front();
  bool number_start = (first >= u'0' && first <= u'9') || first == u'+';
  return !number_start && sender.find(u'<') == std::u16string_view::npos;
}

Plan Decide(const FilterSet& set, std::u16string_view sender,
            std::u16string_view body, const Circumstances& circumstances) {
  Plan plan;

  // 1. The Black List: nothing else happens to a blacklisted message.
  if (const BlackListEntry* entry = FindBlackListEntry(set, sender)) {
    plan.decided_by = DecidedBy::kBlackList;
    plan.black_list_index = static_cast<int>(entry - set.black_list.data());
    if (circumstances.black_delete_to_recycle_bin != 0) {
      PlanRecycleBin(circumstances, &plan);
    } else {
      plan.steps.push_back(MakeStep(Step::Kind::kLeaveInbox));
    }
    return plan;
  }

  // 2. Status reports, when the option cares.
  if (circumstances.receipt_to_recycle_bin != kReceiptNone &&
      LooksLikeStatusReport(sender)) {
    plan.receipt = circumstances.receipt_to_recycle_bin;
    switch (plan.receipt) {
      case kReceiptKeepInInbox:
        plan.decided_by = DecidedBy::kStatusReport;
        return plan;
      case kReceiptDeleteFromInbox:
        plan.status_report_deleted = true;  // with the filter's answer
        break;
      case kReceiptDeleteBoth:
        plan.decided_by = DecidedBy::kStatusReport;
        plan.steps.push_back(MakeStep(Step::Kind::kLeaveInbox));
        return plan;
      case kReceiptToRecycleBin:
        plan.decided_by = DecidedBy::kStatusReport;
        PlanRecycleBin(circumstances, &plan);
        return plan;
      default:
        break;  // an unknown value: as if none
    }
  }

  // 3. The governing filter; 4. its actions; 5. filing.
  MatchSubject subject(sender, body);
  plan.decided_by = DecidedBy::kFilter;
  plan.governing = FindGoverningFilter(set, subject);
  if (plan.governing.index >= 0) {
    plan.verdict = EvaluateFilter(*plan.governing.filter, subject);
  }
  PlanFilter(*plan.governing.filter, sender, body, circumstances, &plan);
  return plan;
}

std::string_view StepName(Step::Kind kind) {
  switch (kind) {
    case Step::Kind::kFile:
      return "file";
    case Step::Kind::kLeaveInbox:
      return "leave-inbox";
    case Step::Kind::kShowPopup:
      return "popup";
    case Step::Kind::kPlaySound:
      return "sound";
    case Step::Kind::kVibrate:
      return "vibrate";
    case Step::Kind::kEnqueue:
      return "enqueue";
    case Step::Kind::kStopReminder:
      return "stop-reminder";
    case Step::Kind::kStartReminder:
      return "start-reminder";
    case Step::Kind::kShowInTree:
      return "show-in-tree";
  }
  return "?";
}

}  // namespace firewall
