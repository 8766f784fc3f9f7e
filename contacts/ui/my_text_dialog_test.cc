// The sentence and mark dialog, run modally and driven by a dialog script
// the way a user would: tapping rows, typing, choosing menu commands.
#include "contacts/ui/my_text_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "kit/menu_table.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/temp_device.h"

namespace contacts::ui {
namespace {

using kit::DeviceDialog;

class MyTextDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    ASSERT_TRUE(store_.Load().ok());  // writes the defaults
  }
  void TearDown() override { kit::SetDialogScript({}); }

  // Runs `steps` on the next dialog that Run() shows.
  void Script(std::function<void(MyTextDialog*)> steps) {
    kit::SetDialogScript([steps](DeviceDialog* dialog) {
      auto* my_text = qobject_cast<MyTextDialog*>(dialog);
      ASSERT_NE(my_text, nullptr);
      steps(my_text);
    });
  }

  static void Tap(MyTextDialog* dialog, int row) {
    dialog->list()->setCurrentItem(dialog->list()->topLevelItem(row));
  }

  // The lists as the next start of the program reads them.
  SentenceStore Reloaded() {
    SentenceStore again(store_.path());
    EXPECT_TRUE(again.Load().ok());
    return again;
  }

  platform::testing::TempDevice device_;
  SentenceStore store_{SentenceFilePath(u"\\")};
};

TEST_F(MyTextDialogTest, ChoosingASentenceHandsItBack) {
  // The first row is selected and shown; tapping a row copies its text.
  std::u16string chosen = u"untouched";
  Script([](MyTextDialog* dialog) {
    EXPECT_EQ(dialog->title_bar()->caption(), QStringLiteral("My Text"));
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 8);
    EXPECT_EQ(dialog->SelectedRow(), 0);
    EXPECT_EQ(dialog->edit()->text(), QStringLiteral("Yes."));
    Tap(dialog, 2);
    EXPECT_EQ(dialog->edit()->text(), QStringLiteral("Thanks!"));
    dialog->Dispatch(kit::cmds::kOk);
  });
  EXPECT_EQ(ChooseSentence(nullptr, &store_, &chosen), kMyTextOk);
  EXPECT_EQ(chosen, u"Thanks!");

  // An edited field is handed back without touching the list or the file.
  Script([](MyTextDialog* dialog) {
    Tap(dialog, 2);
    dialog->edit()->setText(QStringLiteral("Thanks, see you!"));
    dialog->Dispatch(kit::kCommandOk);  // the title bar's OK button
  });
  EXPECT_EQ(ChooseSentence(nullptr, &store_, &chosen), kMyTextOk);
  EXPECT_EQ(chosen, u"Thanks, see you!");
  EXPECT_EQ(store_.sentences(), DefaultSentences());
  EXPECT_EQ(Reloaded().sentences().front(), DefaultSentences().back());

  // An empty field leaves the caller's text; Cancel hands nothing back; a
  // text longer than the caller's buffer is cut.
  chosen = u"kept";
  Script([](MyTextDialog* dialog) {
    dialog->edit()->clear();
    dialog->Dispatch(kit::cmds::kOk);
  });
  EXPECT_EQ(ChooseSentence(nullptr, &store_, &chosen), kMyTextOk);
  EXPECT_EQ(chosen, u"kept");
  Script([](MyTextDialog* dialog) { dialog->Dispatch(kit::cmds::kCancel); });
  EXPECT_EQ(ChooseSentence(nullptr, &store_, &chosen), kMyTextCancel);
  EXPECT_EQ(chosen, u"kept");
  Script([](MyTextDialog* dialog) {
    dialog->edit()->setMaxLength(1000);
    dialog->edit()->setText(QString(300, QChar(u'x')));
    dialog->Dispatch(kit::cmds::kOk);
  });
  EXPECT_EQ(ChooseSentence(nullptr, &store_, &chosen), kMyTextOk);
  EXPECT_EQ(chosen, std::u16string(kMyTextMaxChars, u'x'));
}

TEST_F(MyTextDialogTest, EditsAreSavedOnOkAndOnCancel) {
  // Add puts the text at the top (an empty one too); OK saves; the next
  // start of the program reads the list reversed.
  std::u16string chosen;
  Script([](MyTextDialog* dialog) {
    dialog->edit()->setText(QStringLiteral("On my way."));
    dialog->Dispatch(kit::cmds::kAdd);
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 9);
    EXPECT_EQ(dialog->list()->topLevelItem(0)->text(0),
              QStringLiteral("On my way."));
    EXPECT_EQ(dialog->SelectedRow(), 0);
    EXPECT_TRUE(dialog->edited());
    dialog->Dispatch(kit::cmds::kOk);
  });
  EXPECT_EQ(ChooseSentence(nullptr, &store_, &chosen), kMyTextOk);
  EXPECT_EQ(chosen, u"On my way.");
  EXPECT_FALSE(store_.changed());
  SentenceStore next = Reloaded();
  ASSERT_EQ(next.sentences().size(), 9u);
  EXPECT_EQ(next.sentences().back(), u"On my way.");
  EXPECT_EQ(next.sentences().front(), DefaultSentences().back());

  // Modify replaces the selected row; Delete removes it and selects the
  // one that moved up; Cancel still saves both.
  Script([](MyTextDialog* dialog) {
    Tap(dialog, 1);
    dialog->edit()->setText(QStringLiteral("Maybe."));
    dialog->Dispatch(kit::cmds::kModify);
    EXPECT_EQ(dialog->list()->topLevelItem(1)->text(0),
              QStringLiteral("Maybe."));
    Tap(dialog, 0);
    dialog->Dispatch(kit::cmds::kDelete);
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 8);
    EXPECT_EQ(dialog->SelectedRow(), 0);
    EXPECT_EQ(dialog->edit()->text(), QStringLiteral("Maybe."));
    dialog->Dispatch(kit::cmds::kCancel);
  });
  EXPECT_EQ(ChooseSentence(nullptr, &store_, &chosen), kMyTextCancel);
  std::vector<std::u16string> expected = DefaultSentences();
  expected[0] = u"Maybe.";
  EXPECT_EQ(store_.sentences(), expected);
  EXPECT_EQ(Reloaded().sentences(),
            std::vector<std::u16string>(expected.rbegin(), expected.rend()));

  // Deleting every row leaves an empty list; Modify and Delete then do
  // nothing.
  Script([](MyTextDialog* dialog) {
    while (dialog->list()->topLevelItemCount() > 0) {
      dialog->Dispatch(kit::cmds::kDelete);
    }
    EXPECT_EQ(dialog->SelectedRow(), -1);
    EXPECT_TRUE(dialog->edit()->text().isEmpty());
    dialog->Dispatch(kit::cmds::kModify);
    dialog->Dispatch(kit::cmds::kDelete);
    dialog->Dispatch(kit::cmds::kOk);
  });
  EXPECT_EQ(ChooseSentence(nullptr, &store_, &chosen), kMyTextOk);
  EXPECT_TRUE(Reloaded().sentences().empty());
  EXPECT_EQ(Reloaded().marks().front(), DefaultMarkNames().back());
}

TEST_F(MyTextDialogTest, ManagingMarksReportsChanges) {
  bool changed = true;
  Script([](MyTextDialog* dialog) {
    EXPECT_EQ(dialog->title_bar()->caption(), QStringLiteral("Manage Mark"));
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 5);
    EXPECT_EQ(dialog->edit()->text(), QStringLiteral("Must Reply"));
    dialog->Dispatch(kit::cmds::kOk);
  });
  EXPECT_EQ(ManageMarks(nullptr, &store_, &changed), kMyTextOk);
  EXPECT_FALSE(changed);

  // Adding an empty name is allowed; the sentences are left alone.
  Script([](MyTextDialog* dialog) {
    dialog->edit()->clear();
    dialog->Dispatch(kit::cmds::kAdd);
    dialog->Dispatch(kit::cmds::kCancel);
  });
  EXPECT_EQ(ManageMarks(nullptr, &store_, &changed), kMyTextCancel);
  EXPECT_TRUE(changed);
  ASSERT_EQ(store_.marks().size(), 6u);
  EXPECT_EQ(store_.marks().front(), u"");
  EXPECT_EQ(store_.sentences(), DefaultSentences());
  EXPECT_EQ(Reloaded().marks().back(), u"");
}

TEST_F(MyTextDialogTest, BackAndArrowKeys) {
  for (int i = 0; i < 40; ++i) store_.Add(SentenceList::kSentences, u"more");
  Script([](MyTextDialog* dialog) {
    dialog->resize(240, 320);
    dialog->edit()->setFocus();
    dialog->edit()->setText(QStringLiteral("Yes."));
    // Back in the edit field deletes the character before the caret, and
    // never closes the dialog.
    QKeyEvent back(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dialog->edit(), &back);
    EXPECT_EQ(dialog->edit()->text(), QStringLiteral("Yes"));
    EXPECT_TRUE(dialog->isVisible());

    // Back in the list moves the focus to the edit field.
    dialog->list()->setFocus();
    QKeyEvent back_again(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dialog->list(), &back_again);
    EXPECT_EQ(dialog->focusWidget(), dialog->edit());
    EXPECT_EQ(dialog->edit()->text(), QStringLiteral("Yes"));
    EXPECT_TRUE(dialog->isVisible());

    // Right and Left page through the list.
    Tap(dialog, 0);
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(dialog->list(), &right);
    int paged = dialog->list()->currentIndex().row();
    EXPECT_GT(paged, 1);
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(dialog->list(), &left);
    EXPECT_LT(dialog->list()->currentIndex().row(), paged);
    dialog->Dispatch(kit::cmds::kCancel);
  });
  std::u16string chosen;
  EXPECT_EQ(ChooseSentence(nullptr, &store_, &chosen), kMyTextCancel);
}

}  // namespace
}  // namespace contacts::ui
