// The live phone through real processes: deviced with the rule client
// (inrelay.dll, activated through the registry), the built program running
// offscreen, and devicectl handing the phone its messages. Each message
// takes the whole road: the phone's Inbox, the rule client, the shared
// buffer, the program's intake, the firewall on the program's UI thread,
// the verdict back to the rule client, and the filing in the document.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/testing/program.h"
#include "device/cemapi/message_store.h"
#include "device/sms/radio_log.h"
#include "firewall/filter_file.h"
#include "intercept/registration.h"
#include "kit/device_window.h"
#include "kit/hotkeys.h"
#include "kit/menu_table.h"
#include "kit/testing/qt_app.h"
#include "platform/hotkeys.h"
#include "platform/kernel_objects.h"
#include "send/schedule.h"
#include "settings/settings_store.h"
#include "store/document.h"

namespace app {
namespace {

using platform::testing::CommandResult;
using testing::WaitUntil;

constexpr char16_t kDocument[] = u"\\Program Files\\Telvane\\sms.zud";

using platform::testing::Devicectl;

store::Node* Child(store::Node* parent, std::u16string_view title) {
  for (size_t i = 0; parent != nullptr && i < parent->child_count(); ++i) {
    if (parent->child(i)->title() == title) return parent->child(i);
  }
  return nullptr;
}

size_t MessageCount(const store::Node* node) {
  size_t count = node->is_message() ? 1 : 0;
  for (size_t i = 0; i < node->child_count(); ++i) {
    count += MessageCount(node->child(i));
  }
  return count;
}

std::vector<std::u16string> InboxTexts() {
  std::vector<std::u16string> texts;
  if (auto inbox =
          device::cemapi::ListSmsFolder(device::cemapi::FolderRole::kInbox)) {
    for (const device::cemapi::PhoneMessage& message : *inbox) {
      texts.push_back(message.text);
    }
  }
  return texts;
}

std::vector<device::sms::RadioSubmission> Sent() {
  return device::sms::ListSubmissions(false).value_or(
      std::vector<device::sms::RadioSubmission>{});
}

class PhoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string build = platform::testing::BinDir().parent_path().string();
    CommandResult install = Devicectl("install " + build);
    ASSERT_EQ(install.exit_code, 0) << install.out;
    platform::Status registered =
        intercept::RegisterRuleClient(u"\\Program Files\\Telvane\\");
    ASSERT_TRUE(registered.ok()) << registered.ToString();
    MakeDocument();
    MakeFilters();
    CommandResult start = Devicectl("start");
    ASSERT_EQ(start.exit_code, 0) << start.out;
  }

  void TearDown() override {
    if (program_ > 0) testing::StopProgram(program_);
    Devicectl("stop");
  }

  // The document the program opens at start: the standard folders and
  // \Work, no unread messages.
  void MakeDocument() {
    // The settings of a first start first (a document made before them
    // would leave their key without the options).
    settings::SettingsStore settings;
    settings.Load();
    ASSERT_TRUE(settings.Save().ok());
    ASSERT_TRUE(settings.SaveLastOpenFile(kDocument).ok());
    store::Document document;
    ASSERT_TRUE(document.New(kDocument, store::NewFileOptions{}).ok());
    ASSERT_NE(document.FindOrCreateFolderPath(u"\\Work"), nullptr);
    ASSERT_TRUE(document.Close().ok());
  }

  // A Black List entry, a work filter that takes its messages out of the
  // Inbox into \Work, and one that answers.
  void MakeFilters() {
    firewall::FilterSet set;
    set.file_path = firewall::DefaultFilterFilePath();
    set.black_list.push_back({u"Spam", u"13800000001"});
    firewall::FilterRecord work;
    work.SetName(u"Work");
    work.rules[0] = firewall::Rule{firewall::kObjectBody,
                                   firewall::kJudgeInclude, u"meeting"};
    work.Set(firewall::kSaveToFolder, u"\\Work");
    work.Set(firewall::kDontShowInInbox, std::nullopt);
    set.filters.push_back(work);
    firewall::FilterRecord away;
    away.SetName(u"Away");
    away.rules[0] = firewall::Rule{firewall::kObjectPhoneNumber,
                                   firewall::kJudgeEqual, u"5550199"};
    away.Set(firewall::kAutoReply, u"I am away.");
    set.filters.push_back(away);
    set.stranger_default.GiveInitialActions();
    set.contact_default.GiveInitialActions();
    ASSERT_EQ(firewall::SaveFilterFile(set), firewall::SaveOutcome::kSaved);
  }

  void StartProgram() {
    program_ = testing::StartProgram();
    ASSERT_GT(program_, 0);
    ASSERT_TRUE(WaitUntil([] { return testing::MainWindowRef().has_value(); }));
  }

  // Ends the program as the system would; it saves the document.
  void StopProgram() {
    int status = testing::StopProgram(program_);
    program_ = 0;
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  std::string DebugLog() const {
    std::ifstream in(device_.root() / "debug.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static uint32_t UnreadCount() {
    bool existed = false;
    auto count =
        platform::SharedMemory::CreateOrOpen("ZUD_SmsCount", 4, &existed);
    uint32_t value = 0;
    if (count && count->data() != nullptr) {
      std::memcpy(&value, count->data(), sizeof value);
    }
    return value;
  }

  platform::testing::TempDevice device_;
  pid_t program_ = 0;
};

TEST_F(PhoneTest, MessagesAreFilteredFiledAndAnswered) {
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  uint32_t unread_before = UnreadCount();

  // Blacklisted: out of the Inbox, stored nowhere.
  CommandResult spam = Devicectl("receive --from 13800000001 'win a prize'");
  EXPECT_NE(spam.out.find("deleted by a rule client"), std::string::npos)
      << spam.out;

  // "Don't Show in Inbox" with "Save to Folder" \Work: out of the phone's
  // Inbox, filed unread in \Work, and the unread count rises by one.
  CommandResult work =
      Devicectl("receive --from +15550100 'meeting moved to 3'");
  EXPECT_NE(work.out.find("deleted by a rule client"), std::string::npos)
      << work.out;
  EXPECT_TRUE(WaitUntil([&] { return UnreadCount() == unread_before + 1; }))
      << UnreadCount();

  // A stranger: no verdict, so it stays in the phone's Inbox (and is filed
  // in \Inbox by the first-start defaults).
  CommandResult stranger = Devicectl("receive --from 10086 hello");
  EXPECT_NE(stranger.out.find("left in the Inbox"), std::string::npos)
      << stranger.out;

  // The auto reply reaches the radio.
  CommandResult away = Devicectl("receive --from 5550199 'are you there'");
  EXPECT_NE(away.out.find("left in the Inbox"), std::string::npos) << away.out;
  ASSERT_TRUE(WaitUntil([] { return !Sent().empty(); }));
  // ...and the program has filed it.
  ASSERT_TRUE(WaitUntil([&] {
    return DebugLog().find("pelicorde: send result 1 handled") !=
           std::string::npos;
  }));
  std::vector<device::sms::RadioSubmission> sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].address, u"5550199");
  EXPECT_EQ(sent[0].text(), u"I am away.");

  std::vector<std::u16string> inbox_texts = InboxTexts();
  std::sort(inbox_texts.begin(), inbox_texts.end());
  EXPECT_EQ(inbox_texts,
            (std::vector<std::u16string>{u"are you there", u"hello"}));

  ASSERT_NO_FATAL_FAILURE(StopProgram());

  // What the program filed survived its end.
  store::Document document;
  ASSERT_TRUE(document.Open(kDocument).ok());
  store::Node* root = document.tree().root();
  store::Node* folder = Child(root, u"Work");
  ASSERT_NE(folder, nullptr);
  ASSERT_EQ(folder->child_count(), 1u);
  EXPECT_EQ(folder->child(0)->image(), store::kImageMessageUnread);
  std::optional<std::u16string> body = document.ReadNodeBody(folder->child(0));
  ASSERT_TRUE(body.has_value());
  EXPECT_EQ(*body, u"meeting moved to 3");
  store::Node* inbox = Child(root, u"Inbox");
  ASSERT_NE(inbox, nullptr);
  // The stranger; the "Away" filter answers without filing.
  EXPECT_EQ(inbox->child_count(), 1u);
  // The auto reply was filed in the Sent Box when the send thread reported
  // it ("SaveToSentBox" is on at first).
  store::Node* sent_box = Child(root, u"Sent Box");
  ASSERT_NE(sent_box, nullptr);
  ASSERT_EQ(sent_box->child_count(), 1u);
  EXPECT_EQ(document.ReadNodeBody(sent_box->child(0)).value_or(u""),
            u"Send To:5550199\r\n--------------------\r\nI am away.");
  // The blacklisted message was stored nowhere.
  EXPECT_EQ(MessageCount(root), 3u);
}

TEST_F(PhoneTest, WhenTheProgramEndsMessagesStayInTheInbox) {
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  ASSERT_NO_FATAL_FAILURE(StopProgram());
  CommandResult later = Devicectl("receive --from +15550100 'meeting at 5'");
  EXPECT_NE(later.out.find("left in the Inbox"), std::string::npos)
      << later.out;
  EXPECT_EQ(InboxTexts(), (std::vector<std::u16string>{u"meeting at 5"}));
}

TEST_F(PhoneTest, ATimedMessageOutlivesTheProgramAndGoesOutOnce) {
  // Scheduled a few seconds ahead (as the compose window's timer does) in
  // the document the program opens.
  platform::FileTime due_at =
      platform::SystemTimeToFileTime(platform::CurrentLocalTime()).value();
  due_at =
      platform::FileTime::FromValue(due_at.value() + uint64_t{8} * 10'000'000);
  {
    store::Document document;
    ASSERT_TRUE(document.Open(kDocument).ok());
    send::SendRequest request;
    request.recipients = u"\"Ann\"<5550188>";
    request.text = u"Wake up!";
    request.flags = send::kSendFlagTimed;
    request.due_time = platform::FileTimeToSystemTime(due_at).value();
    ASSERT_TRUE(
        send::ScheduleMessage(document, settings::SettingsStore(), request)
            .ok());
    ASSERT_TRUE(document.Close().ok());
  }

  // Ended by the system, then killed, before it is due: nothing goes out.
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  ASSERT_NO_FATAL_FAILURE(StopProgram());
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  testing::StopProgram(program_, SIGKILL);
  program_ = 0;
  ASSERT_TRUE(Sent().empty()) << "the machine was too slow for this test";

  // The next run sends it when it is due, files it and takes it out of
  // "\Scheduled".
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  ASSERT_TRUE(
      WaitUntil([] { return !Sent().empty(); }, std::chrono::seconds(30)));
  ASSERT_TRUE(WaitUntil([&] {
    return DebugLog().find("pelicorde: send result 1 handled") !=
           std::string::npos;
  }));
  ASSERT_NO_FATAL_FAILURE(StopProgram());
  std::vector<device::sms::RadioSubmission> sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].address, u"5550188");
  EXPECT_EQ(sent[0].text(), u"Wake up!");
  {
    store::Document document;
    ASSERT_TRUE(document.Open(kDocument).ok());
    store::Node* root = document.tree().root();
    store::Node* scheduled = Child(root, u"Scheduled");
    ASSERT_NE(scheduled, nullptr);
    EXPECT_EQ(scheduled->child_count(), 0u);
    EXPECT_EQ(Child(root, u"Sent Box")->child_count(), 1u);
  }

  // And never again.
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  ASSERT_NO_FATAL_FAILURE(StopProgram());
  EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(PhoneTest, AnEditInTheBlackListGovernsTheNextMessage) {
  // The program's window in this process, on the live phone.
  kit::testing::EnsureApplication();
  MainWindow window(MainWindow::Options{.publish_endpoint = false});
  ASSERT_TRUE(window.Initialize());
  auto receive = [](const std::string& from, const std::string& text) {
    // devicectl waits for the rule client, which waits for this window:
    // the events are handled meanwhile.
    std::future<CommandResult> done = std::async(std::launch::async, [=] {
      return Devicectl("receive --from " + from + " '" + text + "'");
    });
    while (done.wait_for(std::chrono::milliseconds(5)) !=
           std::future_status::ready) {
      QApplication::processEvents();
    }
    return done.get();
  };
  CommandResult before = receive("13800000009", "buy now");
  EXPECT_NE(before.out.find("left in the Inbox"), std::string::npos)
      << before.out;

  kit::SetDialogScript([](kit::DeviceDialog* dialog) {
    kit::FindControl<QLineEdit>(dialog, 1035)->setText(QStringLiteral("Ads"));
    kit::FindControl<QLineEdit>(dialog, 1103)
        ->setText(QStringLiteral("13800000009"));
    dialog->Dispatch(kit::cmds::kDone);
  });
  window.Dispatch(kit::cmds::kBlackList);
  kit::SetDialogScript({});

  CommandResult after = receive("13800000009", "buy again");
  EXPECT_NE(after.out.find("deleted by a rule client"), std::string::npos)
      << after.out;
  EXPECT_EQ(InboxTexts(), (std::vector<std::u16string>{u"buy now"}));
  window.TearDown();
  // ...and the Black List was saved with the entry.
  firewall::FilterSet saved;
  saved.file_path = firewall::DefaultFilterFilePath();
  ASSERT_EQ(firewall::LoadFilterFile(&saved), firewall::LoadOutcome::kRead);
  EXPECT_EQ(saved.black_list.back().phone, u"13800000009");
}

TEST_F(PhoneTest, ContactsLoadInTheBackgroundAndStopWithTheProgram) {
  const int kContacts = 3000;
  std::string cards;
  for (int i = 0; i < kContacts; ++i) {
    cards += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Person " + std::to_string(i) +
             "\r\nTEL;TYPE=CELL:139" + std::to_string(10000000 + i) +
             "\r\nEND:VCARD\r\n";
  }
  std::filesystem::path file = device_.root() / "cards.vcf";
  std::ofstream(file, std::ios::binary) << cards;
  CommandResult imported = Devicectl("contacts import " + file.string());
  ASSERT_EQ(imported.exit_code, 0) << imported.out;

  // The window is there (and answers) while the contacts come in; then the
  // load reports everything, and the send groups' file has been made.
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  EXPECT_TRUE(WaitUntil([&] {
    return DebugLog().find("contacts: loaded " + std::to_string(kContacts) +
                           " contacts") != std::string::npos;
  })) << DebugLog();
  std::ifstream groups(device_.root() / "fs/Program Files/Telvane/smsgroup.ini",
                       std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(groups), {}),
            "\xff\xfe");
  ASSERT_NO_FATAL_FAILURE(StopProgram());

  // Ended at once, mid-load: the loader is stopped and joined and the
  // program ends cleanly.
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  ASSERT_NO_FATAL_FAILURE(StopProgram());
}

// Counts the hotkey notifications it gets.
class HotkeyHolder : public QWidget {
 public:
  int presses = 0;

 protected:
  bool event(QEvent* event) override {
    if (event->type() == kit::HotkeyEvent::Type()) {
      ++presses;
      return true;
    }
    return QWidget::event(event);
  }
};

TEST_F(PhoneTest, ABoundKeyPressedOnThePhoneRunsItsCommand) {
  {
    settings::SettingsStore settings;
    settings.Load();
    settings.mutable_hotkeys() = {{1, 193, kit::cmds::kMinimize},
                                  {1, 194, kit::cmds::kMinimize}};
    ASSERT_TRUE(settings.Save().ok());
  }
  // Another program (this one) holds Button2 before the program starts.
  kit::testing::EnsureApplication();
  HotkeyHolder holder;
  ASSERT_TRUE(kit::RegisterHotkey(&holder, 1, kit::kModWin, 194));

  // The program's window comes up active and takes Button1; Button2 it
  // silently goes without.
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  ASSERT_TRUE(WaitUntil([&] {
    auto owner = platform::FindHotkeyOwner(platform::kHotkeyWin, 193);
    return owner && owner->pid == program_;
  }));
  auto button2 = platform::FindHotkeyOwner(platform::kHotkeyWin, 194);
  ASSERT_TRUE(button2.has_value());
  EXPECT_EQ(button2->pid, getpid());
  ASSERT_EQ(Devicectl("press 194").exit_code, 0);
  ASSERT_TRUE(WaitUntil([&] {
    QApplication::processEvents();
    return holder.presses == 1;
  }));

  // Button1 minimizes the program's window.
  CommandResult press = Devicectl("press 193");
  ASSERT_EQ(press.exit_code, 0) << press.out;
  ASSERT_TRUE(WaitUntil([&] {
    return DebugLog().find("pelicorde: window hidden") != std::string::npos;
  })) << DebugLog();
  ASSERT_NO_FATAL_FAILURE(StopProgram());
}

}  // namespace
}  // namespace app
