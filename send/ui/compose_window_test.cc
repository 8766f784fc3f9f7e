// The compose window and its timer dialog with real widgets offscreen, on a
// scratch device with the real sms.dll: filled from texts and from the
// nodes of a real document, driven by commands and keys through dialog
// scripts, handing over to a host that records what it was asked and
// files drafts in the document the way the main window does.
#include "send/ui/compose_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "contacts/sentence_store.h"
#include "contacts/testing/phone_contacts.h"
#include "contacts/ui/my_text_dialog.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/wait.h"
#include "platform/unicode.h"
#include "send/filing.h"
#include "send/send_service.h"
#include "send/testing/radio_device.h"
#include "send/ui/group_send_window.h"
#include "send/ui/timer_dialog.h"
#include "settings/settings_store.h"
#include "store/document.h"
#include "text/text.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace send::ui {
namespace {

namespace cmds = kit::cmds;
namespace fs = std::filesystem;
using store::Node;
using ::testing::ElementsAre;

// Friday, 17 May 2024, 09:30:15.
constexpr platform::SystemTime kNow = {2024, 5, 5, 17, 9, 30, 15, 0};

void Press(QWidget* widget, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
}

// Records what the window asks; files drafts and group sendings in the
// document when there is one, and queues into the service when there is
// one, as the main window does.
class Host : public ComposeHost {
 public:
  struct Call {
    std::u16string recipients;
    std::u16string text;
    uint32_t flags = 0;
    platform::SystemTime due{};
    std::optional<DraftReference> draft;
    int what = 0;  // the hand-over kind, or the queued count
  };

  void HandOver(SendRequest& request, SendResultKind kind) override {
    handed.push_back(Record(request, static_cast<int>(kind)));
    if (document != nullptr)
      FileSendResult(*document, *settings, request, static_cast<uint32_t>(kind),
                     kNow);
  }
  bool Queue(const SendRequest& request, int count) override {
    queued.push_back(Record(request, count));
    if (service == nullptr) return false;
    std::optional<platform::SystemTime> due;
    if (request.timed()) due = request.due_time;
    for (int i = 0; i < count; ++i)
      service->Enqueue(request.recipients, request.text,
                       request.flags & ~kSendFlagTimed, due, request.draft);
    return true;
  }
  void UserActivity() override { ++activity; }

  static Call Record(const SendRequest& request, int what) {
    return Call{request.recipients, request.text,  request.flags,
                request.due_time,   request.draft, what};
  }

  store::Document* document = nullptr;
  const settings::SettingsStore* settings = nullptr;
  SendService* service = nullptr;
  std::vector<Call> handed;
  std::vector<Call> queued;
  int activity = 0;
};

class ComposeWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    kit::SetMessageScript([this](const kit::MessageRequest& request) {
      messages_.push_back(request.caption + QStringLiteral(": ") +
                          request.text);
      return kit::kAnswerOk;
    });
    host_.settings = &settings_;
    context_.host = &host_;
    context_.settings = &settings_;
    context_.clock = [] { return kNow; };
  }
  void TearDown() override {
    kit::SetMessageScript({});
    kit::SetDialogScript({});
  }

  void OpenDocument() {
    ASSERT_TRUE(doc_.New(u"\\compose.zud", {}).ok());
    context_.document = &doc_;
    host_.document = &doc_;
  }

  // Runs a window filled by `fill` with `steps` while it is up; `nested`
  // gets every dialog the window opens.
  int Run(std::function<void(ComposeWindow*)> fill,
          std::function<void(ComposeWindow*)> steps,
          std::function<void(kit::DeviceDialog*)> nested = {}) {
    kit::SetDialogScript([steps, nested](kit::DeviceDialog* dialog) {
      if (auto* window = qobject_cast<ComposeWindow*>(dialog)) {
        steps(window);
      } else {
        ASSERT_TRUE(nested) << "unexpected dialog " << dialog->template_id();
        nested(dialog);
      }
    });
    ComposeWindow window(nullptr, context_);
    fill(&window);
    return window.Run();
  }
  int RunNew(std::function<void(ComposeWindow*)> steps,
             std::function<void(kit::DeviceDialog*)> nested = {}) {
    return Run(
        [](ComposeWindow* w) {
          w->FillWithTexts(std::nullopt, std::nullopt, ComposeMode::kForward);
        },
        steps, nested);
  }
  static void Write(ComposeWindow* window, const QString& to,
                    const QString& text) {
    window->to_field()->setText(to);
    window->message_field()->setPlainText(text);
  }
  static QCheckBox* Box(ComposeWindow* window, int id) {
    return kit::FindControl<QCheckBox>(window, id);
  }
  static QLineEdit* CountField(ComposeWindow* window) {
    return kit::FindControl<QLineEdit>(window, kCountField);
  }

  send::testing::RadioDevice radio_;
  settings::SettingsStore settings_;
  store::Document doc_;
  Host host_;
  ComposeContext context_;
  std::vector<QString> messages_;
};

TEST(SplitSentMessageTest, StoredShapesAndTheUnsettledOnes) {
  auto split = [](std::u16string_view stored) {
    SplitMessage s = SplitSentMessage(stored);
    return std::string(s.recipients ? "to=" + platform::ToUtf8(*s.recipients)
                                    : "to-") +
           (s.text ? " text=" + platform::ToUtf8(*s.text) : " text-");
  };
  EXPECT_EQ(split(u"Send To:\"Ann\"<123>;456\r\n--------------------\r\n"
                  u"Line 1\r\nLine 2"),
            "to=\"Ann\"<123>;456 text=Line 1\r\nLine 2");
  // Blank lines between count as one break; the rule's own break goes, a
  // blank line after it stays.
  EXPECT_EQ(split(u"To:1\r\n\r\nnote--\n-\n\r\nbody"), "to=1 text=\r\nbody");
  EXPECT_EQ(split(u"no colon\r\n--\rbody"), "to= text=body");
  // Not of the stored shape: the whole text, To untouched.
  EXPECT_EQ(split(u"received text"), "to- text=received text");
  EXPECT_EQ(split(u"see you -- later\r\nbye"),
            "to- text=see you -- later\r\nbye");
  EXPECT_EQ(split(u"Send To:1\r\n--x\r\n"), "to=1 text=");
  // The rule is the last line: nothing after it.
  EXPECT_EQ(split(u"Send To:1\r\n----"), "to=1 text=");
  EXPECT_EQ(split(u"Send To:1\r\n----\r"), "to=1 text=");
  // An empty first line fills nothing.
  EXPECT_EQ(split(u"\r\nSend To:1\r\n--\r\nx"), "to- text-");
}

TEST(AddRecipientsTest, EmptyFieldDropsTheSemicolonAndWholeEntriesFit) {
  EXPECT_EQ(AddRecipients(u"", u";\"A\"<1>;\"B\"<2>"), u"\"A\"<1>;\"B\"<2>");
  EXPECT_EQ(AddRecipients(u"10086", u";\"A;x\"<1>"), u"10086;\"A;x\"<1>");

  // 7,651 characters may be added: an entry that would pass them is left
  // out whole, a later shorter one still goes in.
  std::u16string big = u";\"" + std::u16string(7638, u'n') + u"\"<1>";
  std::u16string small = u";\"S\"<2>";  // 7 characters
  std::u16string added = AddRecipients(u"1", big + big + small);
  EXPECT_EQ(added, u"1" + big + small);
  EXPECT_EQ(added.size() - 1, 7651u);
  EXPECT_EQ(AddRecipients(u"1", big + small + u";\"T\"<3>"),
            u"1" + big + small);
  // An empty field takes 7,651 characters without the dropped ";".
  std::u16string fits = u";\"" + std::u16string(7646, u'n') + u"\"<1>";
  EXPECT_TRUE(AddRecipients(u"", fits + small) == fits.substr(1));
  EXPECT_EQ(AddRecipients(u"", fits + u";").size(), 7651u);
}

TEST_F(ComposeWindowTest, FillsFromTextsByMode) {
  ComposeWindow reply(nullptr, context_);
  reply.FillWithTexts(u"hello", u"10086", ComposeMode::kReply);
  EXPECT_EQ(reply.title_bar()->caption(), "Send SMS");
  EXPECT_EQ(reply.recipients(), u"10086");
  EXPECT_EQ(reply.message(), u"hello");
  EXPECT_EQ(CountField(&reply)->text(), "1");
  EXPECT_EQ(reply.counter()->text(), "5/160");
  EXPECT_EQ(reply.to_field()->inputMethodHints(), Qt::ImhPreferNumbers);

  ComposeWindow resend(nullptr, context_);
  resend.FillWithTexts(
      u"Send To:\"Ann\"<123>\r\n--------------------\r\nHi\r\n", u"ignored",
      ComposeMode::kResend);
  EXPECT_EQ(resend.recipients(), u"\"Ann\"<123>");
  EXPECT_EQ(resend.message(), u"Hi\r\n");

  ComposeWindow empty(nullptr, context_);
  empty.FillWithTexts(std::nullopt, std::nullopt, ComposeMode::kQuote);
  EXPECT_EQ(empty.recipients(), u"");
  EXPECT_EQ(empty.message(), u"");
  EXPECT_EQ(empty.counter()->text(), "0/160");
}

TEST_F(ComposeWindowTest, FillsFromANodeByMode) {
  OpenDocument();
  Node* inbox = doc_.WellKnownFolder(store::kFolderInbox);
  Node* received = doc_.StoreMessage(inbox, u"\"Bob\"<13800138000>",
                                     u"see you -- at 5", kNow);
  SendRequest sent;
  sent.recipients = u"10086;\"Ann\"<123>";
  sent.text = u"first\r\nsecond";
  Node* stored = FileSendResult(doc_, settings_, sent, 1, kNow);
  ASSERT_NE(stored, nullptr);
  std::vector<Node*> selected;
  context_.select = [&](Node* node) { selected.push_back(node); };

  auto fill = [&](Node* node, ComposeMode mode) {
    ComposeWindow window(nullptr, context_);
    window.FillWithNode(node, mode);
    return platform::ToUtf8(window.recipients()) + " | " +
           platform::ToUtf8(window.message());
  };
  EXPECT_EQ(fill(received, ComposeMode::kReply), "\"Bob\"<13800138000> | ");
  EXPECT_EQ(fill(received, ComposeMode::kForward), " | see you -- at 5");
  // A received message has no rule line: its whole text, the sender kept.
  EXPECT_EQ(fill(received, ComposeMode::kQuote),
            "\"Bob\"<13800138000> | see you -- at 5");
  EXPECT_EQ(fill(stored, ComposeMode::kResend),
            "10086;\"Ann\"<123> | first\r\nsecond");
  EXPECT_EQ(fill(stored, ComposeMode::kQuote),
            "10086;\"Ann\"<123> | first\r\nsecond");
  EXPECT_EQ(selected.size(), 5u);
  EXPECT_EQ(selected.back(), stored);
}

TEST_F(ComposeWindowTest, SignatureCaretCounterAndInputModes) {
  settings_.set_sign(u" --Max");
  ComposeWindow window(nullptr, context_);
  window.FillWithTexts(u"Hi", std::nullopt, ComposeMode::kForward);
  EXPECT_EQ(window.message(), u"Hi --Max");
  EXPECT_EQ(window.message_field()->textCursor().position(), 2);
  EXPECT_EQ(window.counter()->text(), "8/160");
  window.message_field()->insertPlainText(QString::fromUtf16(u"\u4f60"));
  EXPECT_EQ(window.message(), u"Hi\u4f60 --Max");
  EXPECT_EQ(window.counter()->text(), "9/70");
  window.message_field()->setPlainText(QString(2000, QLatin1Char('a')));
  EXPECT_EQ(window.counter()->text(), "1375/160");
  // A line break counts as the two characters it is on the phone.
  window.message_field()->setPlainText(QStringLiteral("a\nb"));
  EXPECT_EQ(window.counter()->text(), "4/160");

  // The message field's input mode is handed to the next window.
  window.message_field()->setInputMethodHints(Qt::ImhPreferUppercase);
  {
    ComposeWindow closing(nullptr, context_);
    closing.message_field()->setInputMethodHints(Qt::ImhLatinOnly);
  }
  ComposeWindow next(nullptr, context_);
  EXPECT_EQ(next.message_field()->inputMethodHints(), Qt::ImhLatinOnly);
}

TEST_F(ComposeWindowTest, SendRefusesEmptyFieldsThenQueuesCountTimes) {
  settings_.set_status_report(1);
  int result = RunNew([&](ComposeWindow* window) {
    window->Dispatch(cmds::kSend);
    window->to_field()->setText("10086");
    window->Dispatch(cmds::kSend);
    EXPECT_THAT(messages_, ElementsAre("Error: Phone Number can't be empty!",
                                       "Error: Content can't be empty!"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(host_.queued.empty());
    window->message_field()->setPlainText("two\nlines");
    Box(window, kFlashBox)->setChecked(true);
    CountField(window)->setText("3");
    window->Dispatch(cmds::kSend);
  });
  EXPECT_EQ(result, kComposeSent);
  ASSERT_EQ(host_.queued.size(), 1u);
  EXPECT_EQ(host_.queued[0].what, 3);
  EXPECT_EQ(host_.queued[0].recipients, u"10086");
  EXPECT_EQ(host_.queued[0].text, u"two\r\nlines");
  EXPECT_EQ(host_.queued[0].flags, kSendFlagFlash | kSendFlagStatusReport);
  EXPECT_FALSE(host_.queued[0].draft.has_value());
  EXPECT_EQ(host_.activity, 3);

  // 0 and an empty field send once; a negative count sends nothing but
  // still closes; the number ends at the first other character.
  settings_.set_status_report(0);
  const std::vector<std::pair<QString, std::vector<int>>> counts = {
      {"0", {1}}, {"", {1}}, {"-2", {}}, {"12ab", {12}}};
  for (const auto& [count, expected] : counts) {
    host_.queued.clear();
    EXPECT_EQ(RunNew([&](ComposeWindow* window) {
                Write(window, "1", "x");
                CountField(window)->setText(count);
                window->Dispatch(cmds::kSend);
              }),
              kComposeSent);
    std::vector<int> queued;
    for (const Host::Call& call : host_.queued) queued.push_back(call.what);
    EXPECT_EQ(queued, expected) << count.toStdString();
  }
}

TEST_F(ComposeWindowTest, TimerQueuesOnceAtItsTimeAndCancelClearsIt) {
  const QDateTime chosen(QDate(2024, 5, 18), QTime(10, 45, 33), Qt::UTC);
  int opened = 0;  // timer dialogs so far
  int result = RunNew(
      [&](ComposeWindow* window) {
        Write(window, "10086", "later");
        CountField(window)->setText("5");
        window->Dispatch(cmds::kTimer);
        ASSERT_TRUE(window->timer_set());
        // Opened again with the timer set: ticked and showing its time.
        window->Dispatch(cmds::kTimer);
        window->Dispatch(cmds::kSend);
      },
      [&](kit::DeviceDialog* dialog) {
        auto* timer = qobject_cast<TimerDialog*>(dialog);
        ASSERT_NE(timer, nullptr);
        EXPECT_EQ(timer->template_id(), kTimerTemplate);
        QDateTimeEdit* picker = timer->picker();
        EXPECT_EQ(picker->displayFormat(), "yyyy-MM-dd HH:mm");
        if (opened++ == 0) {
          EXPECT_FALSE(timer->box()->isChecked());
          EXPECT_FALSE(picker->isEnabled());
          EXPECT_EQ(picker->date(), QDate(2024, 5, 17));
          EXPECT_EQ(picker->time().hour(), 9);
          EXPECT_EQ(picker->time().minute(), 30);
          timer->box()->setChecked(true);
          EXPECT_TRUE(picker->isEnabled());
          picker->setDateTime(chosen);
        } else {
          EXPECT_TRUE(timer->box()->isChecked());
          EXPECT_TRUE(picker->isEnabled());
          EXPECT_EQ(picker->date(), chosen.date());
          EXPECT_EQ(picker->time().minute(), 45);
        }
        timer->Dispatch(cmds::kOk);
      });
  EXPECT_EQ(result, kComposeSent);
  ASSERT_EQ(host_.queued.size(), 1u);
  EXPECT_EQ(host_.queued[0].what, 1);
  EXPECT_EQ(host_.queued[0].flags, kSendFlagTimed);
  const platform::SystemTime due = host_.queued[0].due;
  EXPECT_EQ((std::vector<int>{due.year, due.month, due.day_of_week, due.day,
                              due.hour, due.minute, due.second}),
            (std::vector<int>{2024, 5, 6, 18, 10, 45, 0}));

  // Cancel (or OK with the box cleared) after a timer was set sends at once.
  for (bool cancel : {true, false}) {
    host_.queued.clear();
    opened = 0;
    RunNew(
        [&](ComposeWindow* window) {
          Write(window, "10086", "now");
          window->Dispatch(cmds::kTimer);
          window->Dispatch(cmds::kTimer);
          EXPECT_FALSE(window->timer_set());
          window->Dispatch(cmds::kSend);
        },
        [&](kit::DeviceDialog* dialog) {
          auto* timer = static_cast<TimerDialog*>(dialog);
          if (opened++ == 0) {
            timer->box()->setChecked(true);
            timer->Dispatch(cmds::kOk);
          } else if (cancel) {
            timer->Dispatch(cmds::kCancel);
          } else {
            timer->box()->setChecked(false);
            timer->Dispatch(cmds::kOk);
          }
        });
    ASSERT_EQ(host_.queued.size(), 1u);
    EXPECT_EQ(host_.queued[0].flags, 0u);
  }
}

TEST_F(ComposeWindowTest, GroupSendsThroughItsWindowThenHandsOver) {
  settings_.set_status_report(1);
  auto group = [&](bool start) {
    return RunNew(
        [&](ComposeWindow* window) {
          Write(window, "111;\"Bob\"<222>", "to all");
          Box(window, kGroupBox)->setChecked(true);
          Box(window, kFlashBox)->setChecked(true);
          CountField(window)->setText("4");
          window->Dispatch(cmds::kSend);
          EXPECT_EQ(window->isVisible(), !start);
          if (!start) window->Dispatch(cmds::kCancel);
        },
        [&](kit::DeviceDialog* dialog) {
          auto* sending = qobject_cast<GroupSendWindow*>(dialog);
          ASSERT_NE(sending, nullptr);
          if (!start) return sending->Dispatch(cmds::kCancel);
          sending->Dispatch(cmds::kOk);
          ASSERT_TRUE(platform::testing::WaitUntil([sending] {
            QApplication::processEvents();
            return sending->state() == GroupSender::State::kComplete;
          }));
          sending->Dispatch(cmds::kOk);
        });
  };
  // Cancelled before it started: the compose window stays open.
  EXPECT_EQ(group(false), kComposeCancelled);
  EXPECT_TRUE(host_.handed.empty());
  EXPECT_TRUE(send::testing::RadioLines(true).empty());

  EXPECT_EQ(group(true), kComposeSent);
  ASSERT_EQ(host_.handed.size(), 1u);
  EXPECT_EQ(host_.handed[0].what,
            static_cast<int>(SendResultKind::kGroupFinished));
  EXPECT_EQ(host_.handed[0].recipients, u"111;\"Bob\"<222>");
  EXPECT_EQ(host_.handed[0].text, u"to all");
  EXPECT_TRUE(host_.queued.empty());
  // Once each, flash, without a status report.
  EXPECT_THAT(send::testing::RadioLines(),
              ElementsAre("111 type=0 class=0 options=0 to all",
                          "222 type=0 class=0 options=0 to all"));
}

TEST_F(ComposeWindowTest, SavesKeepOneDraftThatSendCarries) {
  OpenDocument();
  std::optional<DraftReference> first;
  std::optional<DraftReference> last;
  RunNew([&](ComposeWindow* window) {
    window->message_field()->setPlainText("draft");
    window->Dispatch(cmds::kSave);
    EXPECT_THAT(messages_, ElementsAre("Error: Phone Number can't be empty!"));
    EXPECT_TRUE(host_.handed.empty());
    window->to_field()->setText("10086");
    window->Dispatch(cmds::kSave);
    first = window->draft();
    ASSERT_TRUE(first.has_value());
    window->message_field()->clear();  // an empty text may be saved
    window->message_field()->setPlainText("draft, last");
    window->Dispatch(cmds::kSave);
    // The same draft, now with the record the second save wrote.
    ASSERT_TRUE(window->draft().has_value());
    EXPECT_EQ(window->draft()->node, first->node);
    EXPECT_NE(window->draft()->record_offset, first->record_offset);
    last = window->draft();
    EXPECT_TRUE(window->isVisible());
    window->Dispatch(cmds::kSend);
  });
  ASSERT_EQ(host_.handed.size(), 2u);
  EXPECT_EQ(host_.handed[0].what, static_cast<int>(SendResultKind::kSaveDraft));
  EXPECT_FALSE(host_.handed[0].draft.has_value());
  EXPECT_EQ(host_.handed[1].draft, first);
  Node* drafts = doc_.WellKnownFolder(store::kFolderDrafts);
  ASSERT_EQ(drafts->child_count(), 1u);
  EXPECT_EQ(drafts->child(0), first->node);
  EXPECT_EQ(doc_.ReadNodeBody(drafts->child(0)),
            u"Send To:10086\r\n--------------------\r\ndraft, last");
  ASSERT_EQ(host_.queued.size(), 1u);
  EXPECT_EQ(host_.queued[0].draft, last);
}

TEST_F(ComposeWindowTest, StatusReportFlipsSavesAndIsChecked) {
  RunNew([&](ComposeWindow* window) {
    QMenu* menu = window->soft_keys()->menu();
    QAction* item = kit::FindCommand(menu, cmds::kStatusReport);
    window->soft_keys()->OpenMenu();
    menu->hide();
    EXPECT_FALSE(item->isChecked());
    window->Dispatch(cmds::kStatusReport);
    window->soft_keys()->OpenMenu();
    menu->hide();
    EXPECT_TRUE(item->isChecked());
    window->Dispatch(cmds::kCancel);
  });
  EXPECT_EQ(settings_.status_report(), 1);
  settings::SettingsStore reloaded;
  reloaded.Load();
  EXPECT_EQ(reloaded.status_report(), 1);
  // The next window opens with the item checked.
  ComposeWindow window(nullptr, context_);
  EXPECT_TRUE(kit::FindCommand(window.soft_keys()->menu(), cmds::kStatusReport)
                  ->isChecked());
}

TEST_F(ComposeWindowTest, PickedContactsFillToAndTheMessage) {
  ASSERT_NO_FATAL_FAILURE(
      contacts::testing::InstallContactLibraries(radio_.device()));
  ASSERT_NO_FATAL_FAILURE(contacts::testing::ImportCards(
      radio_.device(),
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bert\r\nTEL;TYPE=CELL:0201\r\n"
      "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\n"
      "TEL;TYPE=CELL:0101\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\n"
      "FN:Carl\r\nTEL;TYPE=CELL:0301\r\nEND:VCARD\r\n"));
  contacts::ContactStore contacts;
  contacts.Load();
  settings_.set_show_photo(0);
  context_.picker = {&contacts, &settings_, false};

  // Ticks the rows in `rows` (Anna 0, Bert 1, Carl 2) and confirms.
  std::vector<std::vector<size_t>> picks = {{0, 1}, {2}, {0}, {1}};
  size_t pick = 0;
  auto picker = [&](kit::DeviceDialog* dialog) {
    auto* contact_picker = qobject_cast<contacts::ui::ContactPicker*>(dialog);
    ASSERT_NE(contact_picker, nullptr);
    EXPECT_EQ(contact_picker->mode(), contacts::kPickerMultiple);
    for (size_t row : picks[pick]) {
      contact_picker->SelectItem(row);
      Press(contact_picker->list_view(), Qt::Key_Return);
    }
    ++pick;
    contact_picker->Dispatch(cmds::kPickerConfirm);
  };
  RunNew(
      [&](ComposeWindow* window) {
        Press(window->to_field(), Qt::Key_Return);
        EXPECT_EQ(window->recipients(), u"\"Anna\"<0101>;\"Bert\"<0201>");
        QMouseEvent tap(QEvent::MouseButtonRelease, QPointF(2, 2),
                        QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
        QApplication::sendEvent(kit::FindControl<QLabel>(window, kToLabel),
                                &tap);
        EXPECT_EQ(window->recipients(),
                  u"\"Anna\"<0101>;\"Bert\"<0201>;\"Carl\"<0301>");
        window->to_field()->setText("10086");
        window->to_field()->setFocus();
        window->Dispatch(cmds::kInsertContact);
        EXPECT_EQ(window->recipients(), u"10086;\"Anna\"<0101>");
        // In the message field: at the caret, without the ";".
        window->message_field()->setPlainText("[]");
        window->message_field()->setFocus();
        QTextCursor caret = window->message_field()->textCursor();
        caret.setPosition(1);
        window->message_field()->setTextCursor(caret);
        window->Dispatch(cmds::kInsertContact);
        EXPECT_EQ(window->message(), u"[\"Bert\"<0201>]");
        window->Dispatch(cmds::kCancel);
      },
      picker);
  EXPECT_EQ(pick, 4u);
}

TEST_F(ComposeWindowTest, InsertsTimeDateAndMyTextOverTheSelection) {
  contacts::SentenceStore sentences(u"\\pelicorde.sen");
  ASSERT_TRUE(sentences.Load().ok());
  context_.sentences = &sentences;
  RunNew(
      [&](ComposeWindow* window) {
        auto select_middle = [window] {
          window->message_field()->setPlainText("<xx>");
          QTextCursor cursor = window->message_field()->textCursor();
          cursor.setPosition(1);
          cursor.setPosition(3, QTextCursor::KeepAnchor);
          window->message_field()->setTextCursor(cursor);
        };
        select_middle();
        window->Dispatch(cmds::kInsertTime);
        EXPECT_EQ(
            window->message(),
            u"<" + text::FormatTime(kNow, text::TimeKind::kTime, 41) + u">");
        select_middle();
        window->Dispatch(cmds::kInsertDate);
        EXPECT_EQ(
            window->message(),
            u"<" + text::FormatTime(kNow, text::TimeKind::kDate, 41) + u">");
        select_middle();
        window->Dispatch(cmds::kInsertMyText);
        EXPECT_EQ(window->message(), u"<Thanks!>");
        window->Dispatch(cmds::kCancel);
      },
      [](kit::DeviceDialog* dialog) {
        auto* my_text = qobject_cast<contacts::ui::MyTextDialog*>(dialog);
        ASSERT_NE(my_text, nullptr);
        my_text->edit()->setText("Thanks!");
        my_text->Dispatch(cmds::kOk);
      });
  EXPECT_EQ(host_.activity, 4);
}

TEST_F(ComposeWindowTest, KeysMoveFocusBackDeletesAndLayout) {
  int result = RunNew([&](ComposeWindow* window) {
    QLineEdit* to = window->to_field();
    QPlainTextEdit* text = window->message_field();
    Write(window, "123", "a\nb");
    to->setFocus();
    Press(to, Qt::Key_Down);
    EXPECT_EQ(window->focusWidget(), text);
    text->moveCursor(QTextCursor::Start);
    Press(text, Qt::Key_Down);  // to the second line
    EXPECT_EQ(window->focusWidget(), text);
    Press(text, Qt::Key_Down);
    EXPECT_EQ(window->focusWidget(), Box(window, kFlashBox));
    text->setFocus();
    text->moveCursor(QTextCursor::End);
    Press(text, Qt::Key_Up);
    EXPECT_EQ(window->focusWidget(), text);
    Press(text, Qt::Key_Up);
    EXPECT_EQ(window->focusWidget(), to);
    // Back deletes in the fields.
    to->end(false);
    Press(to, Qt::Key_Escape);
    EXPECT_EQ(to->text(), "12");
    text->moveCursor(QTextCursor::End);
    Press(text, Qt::Key_Escape);
    EXPECT_EQ(window->message(), u"a\r\n");
    EXPECT_TRUE(window->isVisible());

    const int width = window->content()->width();
    const int height = window->content()->height();
    EXPECT_EQ(text->geometry().bottom() + 1, height - 50);
    EXPECT_EQ(Box(window, kFlashBox)->y(), height - 48);
    EXPECT_EQ(Box(window, kGroupBox)->y(), height - 48);
    EXPECT_EQ(CountField(window)->y(), height - 25);
    EXPECT_EQ(kit::FindControl<QLabel>(window, kNumLabel)->y(), height - 24);
    EXPECT_EQ(window->counter()->geometry().right() + 1, width - 2);
    EXPECT_EQ(to->geometry().right() + 1, width - 2);

    // Back outside a field closes the window.
    Box(window, kFlashBox)->setFocus();
    Press(Box(window, kFlashBox), Qt::Key_Escape);
  });
  EXPECT_EQ(result, kComposeCancelled);
  // The OK button cancels as well.
  EXPECT_EQ(
      RunNew([](ComposeWindow* window) { window->Dispatch(kit::kCommandOk); }),
      kComposeCancelled);
  EXPECT_TRUE(host_.queued.empty());
  EXPECT_TRUE(host_.handed.empty());
}

// Through the real send service: a count of 3 submits the message three
// times.
TEST_F(ComposeWindowTest, CountOfThreeGoesOutThreeTimes) {
  class Reporter : public SendReporter {
   public:
    void ReportSendResult(SendRequest&, SendResultKind kind) override {
      if (kind == SendResultKind::kSent) ++sent;
    }
    std::atomic<int> sent{0};
  } reporter;
  SendService service(&reporter);
  ASSERT_TRUE(service.Start());
  host_.service = &service;
  EXPECT_EQ(RunNew([](ComposeWindow* window) {
              Write(window, "10086", "thrice");
              CountField(window)->setText("3");
              window->Dispatch(cmds::kSend);
            }),
            kComposeSent);
  ASSERT_TRUE(
      platform::testing::WaitUntil([&] { return reporter.sent.load() == 3; }));
  service.Stop();
  EXPECT_THAT(send::testing::RadioLines(),
              ElementsAre("10086 type=0 class=1 options=0 thrice",
                          "10086 type=0 class=1 options=0 thrice",
                          "10086 type=0 class=1 options=0 thrice"));
}

}  // namespace
}  // namespace send::ui
