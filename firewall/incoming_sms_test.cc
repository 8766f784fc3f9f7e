#include "firewall/incoming_sms.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "firewall/filter_file.h"
#include "platform/files.h"
#include "platform/kernel_objects.h"
#include "platform/testing/temp_device.h"

namespace firewall {
namespace {

constexpr std::u16string_view kDocumentPath = u"\\My Documents\\fw.zud";
constexpr const char* kDeleteEventName = "ZUD_SMSDeleteEvent";
const platform::FileTime kDelivered =
    platform::FileTime::FromValue(128000000000000000ull);  // some day in 2006

std::string U8(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit == u'\r') {
      out += "\\r";
    } else if (unit == u'\n') {
      out += "\\n";
    } else if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
    } else {
      out += "?";
    }
  }
  return out;
}

int CountMessages(const store::Node* node) {
  int count = node->is_message() ? 1 : 0;
  for (size_t i = 0; i < node->child_count(); ++i) {
    count += CountMessages(node->child(i));
  }
  return count;
}

// Records every call of the procedure, in order, with what the document
// held at that moment.
class Recorder : public FirewallHost, public alerts::AlertPopup {
 public:
  explicit Recorder(store::Document* document) : document_(document) {}

  void SetDeleteEvent() override {
    Log("delete stored=" + std::to_string(Stored()) +
        " safe=" + std::to_string(Safe()));
    if (event) event->Set().IgnoreError();
  }
  bool SendServiceRunning() override { return send_running; }
  void Enqueue(std::u16string_view recipients,
               std::u16string_view text) override {
    Log("enqueue " + U8(recipients) + " | " + U8(text));
  }
  void PlayAlertSound(std::u16string_view value) override {
    Log("sound " + U8(value));
  }
  void Vibrate(uint32_t ms) override { Log("vibrate " + std::to_string(ms)); }
  void StopReminder() override { Log("stop reminder"); }
  void StartReminder(uint32_t period) override {
    Log("start reminder " + std::to_string(period));
  }
  void RaiseUnreadNotification() override {
    Log("notify locked=" + std::to_string(document_->lock().depth() > 0) +
        " stored=" + std::to_string(Stored()));
  }
  void SetSkin(const std::u16string& path) override { Log("skin " + U8(path)); }
  void Show(const std::u16string& main_text, const std::u16string& second,
            uint32_t lifetime, const std::u16string& picture,
            bool named) override {
    Log("show " + U8(main_text) + " | " + U8(second) + " | " +
        std::to_string(lifetime) + " | " + U8(picture) + " | " +
        std::to_string(named));
  }
  void Close() override { Log("close"); }

  int Stored() const {
    return document_->IsOpen() ? CountMessages(document_->tree().root()) : 0;
  }
  // Messages a crash now would not lose: in the tree, or filed in the file
  // with a note that opening it again puts back.
  int Safe() const {
    if (!document_->file().IsOpen()) return 0;
    store::MessageFile copy;
    const auto host = platform::files::Resolve(kDocumentPath);
    std::filesystem::copy_file(
        *host, host->string() + ".crash",
        std::filesystem::copy_options::overwrite_existing);
    store::Document crashed;
    store::LoadReport report;
    if (!crashed
             .OpenForReading(std::u16string(kDocumentPath) + u".crash", &report)
             .ok()) {
      return -1;
    }
    return CountMessages(crashed.tree().root()) + report.recovered_messages;
  }
  void Log(std::string line) { calls.push_back(std::move(line)); }

  std::vector<std::string> calls;
  bool send_running = true;
  platform::NamedEvent* event = nullptr;

 private:
  store::Document* document_;
};

class IncomingSmsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store::NewFileOptions options;
    options.create_recycle_bin = true;
    ASSERT_TRUE(document_.New(kDocumentPath, options).ok());
    firewall_.set_document(&document_);
    firewall_.set_popup(&recorder_);
    settings_.set_disappear_time_recv(15000);
    settings_.set_alert_second(30000);
  }

  // Runs the procedure for one message, and checks that what the program
  // did is what Decide planned (and what `telvane filters explain` prints):
  // one host call per step, in the plan's order. Tests of a step that
  // fails while it runs (a filing that cannot be written) turn the check
  // off.
  uint32_t Receive(std::u16string_view sender, std::u16string_view body) {
    recorder_.calls.clear();
    const Plan plan =
        Decide(filters_, sender, body, firewall_.CurrentCircumstances());
    const uint32_t result =
        firewall_.HandleIncomingSms({body, sender, kDelivered, std::nullopt});
    if (check_plan_) {
      EXPECT_EQ(CallNames(recorder_.calls), PlannedCalls(plan)) << U8(sender);
    }
    return result;
  }

  // The host calls a plan makes, by name; filing and the tree make none.
  static std::vector<std::string> PlannedCalls(const Plan& plan) {
    std::vector<std::string> calls;
    for (const Step& step : plan.steps) {
      switch (step.kind) {
        case Step::Kind::kFile:
          break;
        case Step::Kind::kLeaveInbox:
          calls.push_back("delete");
          break;
        case Step::Kind::kShowPopup:
          calls.push_back("skin");
          calls.push_back("show");
          break;
        case Step::Kind::kStopReminder:
          calls.push_back("stop");
          break;
        case Step::Kind::kStartReminder:
          calls.push_back("start");
          break;
        case Step::Kind::kShowInTree:
          if (step.notify) calls.push_back("notify");
          break;
        default:
          calls.push_back(std::string(StepName(step.kind)));
          break;
      }
    }
    return calls;
  }
  static std::vector<std::string> CallNames(
      const std::vector<std::string>& calls) {
    std::vector<std::string> names;
    for (const std::string& call : calls) {
      names.push_back(call.substr(0, call.find(' ')));
    }
    return names;
  }

  // The root folder titled `name`, or null.
  store::Node* Folder(std::u16string_view name) {
    store::Node* root = document_.tree().root();
    for (size_t i = 0; i < root->child_count(); ++i) {
      if (root->child(i)->title() == name) return root->child(i);
    }
    return nullptr;
  }

  platform::testing::TempDevice device_;
  store::Document document_;
  settings::SettingsStore settings_;
  FilterSet filters_;
  bool check_plan_ = true;
  Recorder recorder_{&document_};
  Firewall firewall_{&filters_, &recorder_, &settings_};
};

using Calls = std::vector<std::string>;

TEST_F(IncomingSmsTest, BlacklistedSenderDeletesFirstAndAlertsNothing) {
  SetUpFirstStartDefaults(&filters_);
  filters_.stranger_default.Set(kVibrate, std::nullopt);
  filters_.black_list.push_back({u"Ann", u"13800138000"});
  settings_.set_unread_alert(1);

  EXPECT_EQ(Receive(u"+86 138 0013 8000", u"buy now"), 1u);
  EXPECT_EQ(recorder_.calls, (Calls{"delete stored=0 safe=0"}));  // no reminder
  EXPECT_EQ(recorder_.Stored(), 0);

  // With "BlackDeleteToRecycleBin": kept, unread, in the Recycle Bin only;
  // safe in the file before the delete event, in the tree after it.
  settings_.set_black_delete_to_recycle_bin(1);
  EXPECT_EQ(Receive(u"\"Ann\"<+8613800138000>", u"buy now"), 1u);
  EXPECT_EQ(recorder_.calls, (Calls{"delete stored=0 safe=1"}));
  ASSERT_NE(document_.recycle_bin(), nullptr);
  ASSERT_EQ(document_.recycle_bin()->child_count(), 1u);
  EXPECT_EQ(document_.recycle_bin()->tag().unread, 1);
  EXPECT_EQ(recorder_.Stored(), 1);
  EXPECT_EQ(document_.lock().depth(), 0);

  // Without a Recycle Bin the option stores nothing.
  document_.ToggleRecycleBin();
  ASSERT_EQ(document_.recycle_bin(), nullptr);
  EXPECT_EQ(Receive(u"13800138000", u"again"), 1u);
  EXPECT_EQ(recorder_.calls, (Calls{"delete stored=0 safe=1"}));
  EXPECT_EQ(recorder_.Stored(), 0);

  // With no document to keep it in, it stays in the phone's Inbox.
  document_.ToggleRecycleBin();
  firewall_.set_document(nullptr);
  EXPECT_EQ(Receive(u"13800138000", u"kept"), 1u);
  EXPECT_TRUE(recorder_.calls.empty());
}

TEST_F(IncomingSmsTest, StatusReportsByReceiptOption) {
  SetUpFirstStartDefaults(&filters_);
  settings_.set_unread_alert(1);
  const std::u16string_view report = u"Delivered";

  // 1: nothing at all; the message stays in the phone's Inbox.
  settings_.set_receipt_to_recycle_bin(1);
  EXPECT_EQ(Receive(report, u"status"), 1u);
  EXPECT_TRUE(recorder_.calls.empty());
  // 3: deleted everywhere.
  settings_.set_receipt_to_recycle_bin(3);
  Receive(report, u"status");
  EXPECT_EQ(recorder_.calls, (Calls{"delete stored=0 safe=0"}));
  // 4: deleted from the Inbox, kept in the Recycle Bin.
  settings_.set_receipt_to_recycle_bin(4);
  Receive(report, u"status");
  EXPECT_EQ(recorder_.calls, (Calls{"delete stored=0 safe=1"}));
  EXPECT_EQ(document_.recycle_bin()->child_count(), 1u);
  // 2: deleted from the Inbox, then the filters as usual.
  settings_.set_receipt_to_recycle_bin(2);
  Receive(report, u"status");
  EXPECT_EQ(recorder_.calls,
            (Calls{"delete stored=1 safe=2", "stop reminder",
                   "start reminder 30000", "notify locked=1 stored=2"}));
  ASSERT_NE(Folder(u"Inbox"), nullptr);
  EXPECT_EQ(Folder(u"Inbox")->child_count(), 1u);

  // Numbers (a digit or "+" first) and named senders are never reports.
  settings_.set_receipt_to_recycle_bin(3);
  for (std::u16string_view sender :
       {u"+8613800138000", u"10086", u"\"Ann\"<1>", u"Ann <1>"}) {
    Receive(sender, u"hi");
    ASSERT_FALSE(recorder_.calls.empty());
    EXPECT_EQ(recorder_.calls[0], "stop reminder") << U8(sender);
  }
  // 0 (and unknown values): a report goes through the filters.
  for (int value : {0, 5, -1}) {
    settings_.set_receipt_to_recycle_bin(value);
    Receive(report, u"status");
    ASSERT_FALSE(recorder_.calls.empty());
    EXPECT_EQ(recorder_.calls[0], "stop reminder") << value;
  }
  EXPECT_TRUE(LooksLikeStatusReport(u""));
  EXPECT_TRUE(LooksLikeStatusReport(u" 123"));
  EXPECT_FALSE(LooksLikeStatusReport(u"x<1>"));
}

TEST_F(IncomingSmsTest, ActionsRunInTheirFixedOrder) {
  FilterRecord filter;
  for (int slot = 0; slot < kActionSlotCount; ++slot) {
    filter.Set(slot, std::nullopt);
  }
  filter.Set(kSaveToFolder, u"\\Work\\Boss");
  filter.Set(kAutoReply, u"Busy.\r\nLater!");
  filter.Set(kPlaySound, std::u16string(kRandomRingMarker));
  filter.Set(kAutoForward, u"10086;10010");
  filter.Set(kShowPopupWindow, u"\\Program Files\\Telvane\\skins\\Blue.cfg");
  filter.Clear(kUserDefinedSentence);
  filter.Set(kSpecificPhoto, u"\\photo\\boss.jpg");
  filters_.filters.push_back(filter);
  settings_.set_unread_alert(3);

  const std::u16string sender = u"\"Boss\"<+86 139-0000-0000>";
  Receive(sender, u"Come in");
  EXPECT_EQ(recorder_.calls,
            (Calls{"delete stored=0 safe=1",
                   "skin \\Program Files\\Telvane\\skins\\Blue.cfg",
                   "show Come in | Boss | 15000 | \\photo\\boss.jpg | 1",
                   "sound |", "vibrate 500",
                   // the reply goes to the raw sender, line break intact
                   "enqueue \"Boss\"<+86 139-0000-0000> | Busy.\\r\\nLater!",
                   "enqueue 10086;10010 | Come in", "stop reminder",
                   "start reminder 30000", "notify locked=1 stored=1"}));
  store::Node* work = Folder(u"Work");
  ASSERT_NE(work, nullptr);
  ASSERT_EQ(work->child_count(), 1u);
  EXPECT_EQ(work->child(0)->title(), u"Boss");
  EXPECT_EQ(work->child(0)->child_count(), 1u);
  EXPECT_EQ(document_.lock().depth(), 0);

  // The user-defined sentence replaces the body and the sender; without a
  // skin value the built-in look; no reminder restart with UnReadAlert 0;
  // no sends while the send service is down.
  filters_.filters[0].Set(kUserDefinedSentence, u"Meeting");
  filters_.filters[0].Set(kShowPopupWindow, std::nullopt);
  filters_.filters[0].Clear(kSpecificPhoto);
  filters_.filters[0].Clear(kDontShowInInbox);
  settings_.set_unread_alert(0);
  recorder_.send_running = false;
  Receive(u"139 0000 0000", u"Come in");
  EXPECT_EQ(recorder_.calls, (Calls{"skin ", "show Meeting |  | 15000 |  | 0",
                                    "sound |", "vibrate 500", "stop reminder",
                                    "notify locked=1 stored=2"}));

  // Sender display for a bare number: the number without its spaces.
  SenderDisplay display = ParseSenderDisplay(u"139 0000-0000");
  EXPECT_EQ(display.text, u"13900000000");
  EXPECT_FALSE(display.named);
}

TEST_F(IncomingSmsTest, DefaultsFilingAndNoDocument) {
  SetUpFirstStartDefaults(&filters_);
  settings_.set_unread_alert(1);
  // A first-start default: filed under "\Inbox" (created when missing).
  store::Node* inbox = Folder(u"Inbox");
  ASSERT_NE(inbox, nullptr);
  document_.tree().Remove(inbox);
  ASSERT_EQ(Folder(u"Inbox"), nullptr);
  Receive(u"\"Ann\"<123>", u"hello");
  EXPECT_EQ(recorder_.calls, (Calls{"stop reminder", "start reminder 30000",
                                    "notify locked=1 stored=1"}));
  ASSERT_NE(Folder(u"Inbox"), nullptr);
  EXPECT_EQ(Folder(u"Inbox")->tag().unread, 1);

  // A filter with only "Don't Show in Inbox": stored nowhere.
  FilterRecord hide;
  hide.Set(kDontShowInInbox, std::nullopt);
  filters_.filters.push_back(hide);
  Receive(u"123", u"gone");
  EXPECT_EQ(recorder_.calls,
            (Calls{"delete stored=1 safe=1", "stop reminder"}));
  EXPECT_EQ(recorder_.Stored(), 1);

  // No document: the actions still run, nothing is filed.
  filters_.filters.clear();
  firewall_.set_document(nullptr);
  Receive(u"123", u"hello");
  EXPECT_EQ(recorder_.calls, (Calls{"stop reminder", "start reminder 30000"}));
  firewall_.set_popup(nullptr);  // no popup either: nothing breaks
  filters_.stranger_default.Set(kShowPopupWindow, std::nullopt);
  EXPECT_EQ(Receive(u"123", u"hello"), 1u);
  EXPECT_EQ(recorder_.Stored(), 1);

  // No document to file into: a filter that would take the message out of
  // the phone's Inbox and file it leaves it in the Inbox instead, so it is
  // not lost; one that only hides it still does.
  FilterRecord hide_and_file;
  hide_and_file.Set(kDontShowInInbox, std::nullopt);
  hide_and_file.Set(kSaveToFolder, u"\\Work");
  filters_.filters = {hide_and_file};
  Receive(u"123", u"kept");
  EXPECT_EQ(recorder_.calls, (Calls{"stop reminder"}));
  filters_.filters = {hide};
  Receive(u"123", u"gone");
  EXPECT_EQ(recorder_.calls,
            (Calls{"delete stored=1 safe=1", "stop reminder"}));
}

TEST_F(IncomingSmsTest, AMessageThatCannotBeFiledStaysInThePhonesInbox) {
  FilterRecord hide_and_file;
  hide_and_file.Set(kDontShowInInbox, std::nullopt);
  hide_and_file.Set(kSaveToFolder, u"\\");
  filters_.filters = {hide_and_file};
  const int before = recorder_.Stored();
  check_plan_ = false;  // the plan files and releases; the filing fails

  // A folder value that names no folder ("\" or empty).
  for (std::u16string_view folder : {u"\\", u"", u"\\\\"}) {
    filters_.filters[0].Set(kSaveToFolder, std::u16string(folder));
    Receive(u"123", u"nowhere");
    EXPECT_EQ(recorder_.calls, (Calls{"stop reminder"})) << U8(folder);
  }
  // A document that cannot be written.
  filters_.filters[0].Set(kSaveToFolder, u"\\Work");
  document_.file().ForbidWrites();
  Receive(u"123", u"unwritable");
  EXPECT_EQ(recorder_.calls, (Calls{"stop reminder"}));
  EXPECT_EQ(recorder_.Stored(), before);
  // The same for the Recycle Bin of blacklisted messages.
  filters_.black_list.push_back({u"", u"666"});
  settings_.set_black_delete_to_recycle_bin(1);
  Receive(u"666", u"spam");
  EXPECT_TRUE(recorder_.calls.empty());
}

TEST_F(IncomingSmsTest, AnAnswerThatWouldComeTooLateIsNotGiven) {
  static uint32_t now = 100000;
  firewall_.set_tick_source([] { return now; });
  FilterRecord hide_and_file;
  hide_and_file.Set(kDontShowInInbox, std::nullopt);
  hide_and_file.Set(kSaveToFolder, u"\\Work");
  filters_.filters = {hide_and_file};

  // Taken off the queue just now: answered, filed.
  recorder_.calls.clear();
  firewall_.HandleIncomingSms({u"in time", u"123", kDelivered, now - 10});
  EXPECT_EQ(recorder_.calls, (Calls{"delete stored=0 safe=1", "stop reminder",
                                    "notify locked=1 stored=1"}));
  // The window was busy: the rule client has given up. The message stays
  // in the phone's Inbox and is not kept here as well, not even after a
  // crash.
  recorder_.calls.clear();
  firewall_.HandleIncomingSms(
      {u"too late", u"123", kDelivered, now - kVerdictBudgetMs - 1});
  EXPECT_EQ(recorder_.calls, (Calls{"stop reminder"}));
  EXPECT_EQ(recorder_.Stored(), 1);
  EXPECT_EQ(recorder_.Safe(), 1);
  // A filter that keeps the message in the Inbox anyway files it late too.
  filters_.filters[0].Clear(kDontShowInInbox);
  recorder_.calls.clear();
  firewall_.HandleIncomingSms(
      {u"late but kept", u"123", kDelivered, now - 5000});
  EXPECT_EQ(recorder_.calls,
            (Calls{"stop reminder", "notify locked=1 stored=2"}));
}

// The rule-client library's side, in another process: after each message
// it looks (without waiting) whether "ZUD_SMSDeleteEvent" was set.
TEST_F(IncomingSmsTest, DeleteEventReachesAnotherProcess) {
  bool existed = false;
  std::optional<platform::NamedEvent> event =
      platform::NamedEvent::CreateOrOpen(kDeleteEventName,
                                         /*manual_reset=*/false,
                                         /*initially_set=*/false, &existed);
  ASSERT_TRUE(event.has_value());
  recorder_.event = &*event;
  SetUpFirstStartDefaults(&filters_);
  filters_.black_list.push_back({u"", u"666"});

  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    close(go[1]);
    bool opened = false;
    std::optional<platform::NamedEvent> seen =
        platform::NamedEvent::CreateOrOpen(kDeleteEventName, false, false,
                                           &opened);
    if (!seen || !opened) _exit(10);
    int result = 0;
    char byte;
    for (int round = 0; round < 2; ++round) {
      if (read(go[0], &byte, 1) != 1) _exit(11);
      bool set = seen->Wait(0) == platform::WaitResult::kSignaled;
      result |= (set ? 1 : 0) << round;
    }
    _exit(result);
  }
  close(go[0]);
  Receive(u"+86666", u"blocked");  // round 0: deleted
  ASSERT_EQ(write(go[1], "g", 1), 1);
  Receive(u"+86777", u"fine");  // round 1: left in the Inbox
  ASSERT_EQ(write(go[1], "g", 1), 1);
  close(go[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);  // set for the first message only
}

}  // namespace
}  // namespace firewall
