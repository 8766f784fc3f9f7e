// The group dialog and the member editor, run modally and driven by a
// dialog script the way a user would: typing, tapping rows and the "Add"
// button, choosing soft keys and menu commands.
#include "contacts/ui/group_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <string>

#include "kit/menu_table.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/temp_device.h"

namespace contacts::ui {
namespace {

using kit::DeviceDialog;
using kit::FindControl;

QLineEdit* NameField(DeviceDialog* dialog) {
  return FindControl<QLineEdit>(dialog, kGroupNameEdit);
}
QLineEdit* PhoneField(DeviceDialog* dialog) {
  return FindControl<QLineEdit>(dialog, kMemberPhoneEdit);
}
QTreeWidget* List(DeviceDialog* dialog) {
  return FindControl<QTreeWidget>(dialog, kGroupList);
}

// The first column of every row, top to bottom, joined by ", ".
std::string Rows(DeviceDialog* dialog) {
  QStringList rows;
  QTreeWidget* list = List(dialog);
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    rows << list->topLevelItem(i)->text(0);
  }
  return rows.join(QStringLiteral(", ")).toStdString();
}

// The selected row, or -1.
int Selected(DeviceDialog* dialog) {
  QTreeWidgetItem* item = List(dialog)->currentItem();
  if (item == nullptr || !item->isSelected()) return -1;
  return List(dialog)->indexOfTopLevelItem(item);
}

void Tap(DeviceDialog* dialog, int row) {
  List(dialog)->setCurrentItem(List(dialog)->topLevelItem(row));
}

// Types `name` into the group dialog's field and taps "Add".
void AddGroup(DeviceDialog* dialog, const QString& name) {
  NameField(dialog)->setText(name);
  FindControl<QPushButton>(dialog, kGroupAddButton)->click();
}

void AddMember(DeviceDialog* dialog, const QString& name,
               const QString& number) {
  NameField(dialog)->setText(name);
  PhoneField(dialog)->setText(number);
  dialog->Dispatch(kit::cmds::kGroupAdd);
}

void PressBack(QWidget* widget) {
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(widget, &back);
}

std::u16string Names(const SendGroups& groups) {
  std::u16string names;
  for (const SendGroup& group : groups.groups()) names += group.name + u";";
  return names;
}

class GroupDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    ASSERT_TRUE(groups_.Load(u"\\smsgroup.ini").ok());
  }
  void TearDown() override { kit::SetDialogScript({}); }

  // Runs `steps` on the next dialog that Run() shows, after checking that
  // it is the one from template `template_id`.
  void Script(int template_id, std::function<void(DeviceDialog*)> steps) {
    kit::SetDialogScript([template_id, steps](DeviceDialog* dialog) {
      ASSERT_EQ(dialog->template_id(), template_id);
      steps(dialog);
    });
  }

  platform::testing::TempDevice device_;
  SendGroups groups_;
};

TEST_F(GroupDialogTest, ChosenRowGivesItsGroupThroughAddsAndDeletes) {
  groups_.AddGroup(u"Home");
  groups_.AddGroup(u"Work");  // groups: Work, Home
  size_t chosen = 99;
  bool changed = true;

  // Nothing changed: the rows follow the groups, the first is selected,
  // and Done chooses it.
  Script(kGroupTemplate, [](DeviceDialog* dialog) {
    EXPECT_EQ(dialog->title_bar()->caption(), QStringLiteral("Send Group"));
    EXPECT_EQ(Rows(dialog), "Work, Home");
    EXPECT_EQ(Selected(dialog), 0);
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(ChooseGroup(nullptr, &groups_, &chosen, &changed), kGroupOk);
  EXPECT_EQ(chosen, 0u);
  EXPECT_FALSE(changed);

  // New groups go in front of the groups but below the rows; an empty
  // field and the menu's "Add" add nothing.
  Script(kGroupTemplate, [](DeviceDialog* dialog) {
    AddGroup(dialog, QString());
    NameField(dialog)->setText(QStringLiteral("Club"));
    dialog->Dispatch(kit::cmds::kGroupAdd);
    EXPECT_EQ(Rows(dialog), "Work, Home");

    AddGroup(dialog, QStringLiteral("Family"));
    EXPECT_TRUE(NameField(dialog)->text().isEmpty());
    AddGroup(dialog, QStringLiteral("Friends"));
    EXPECT_EQ(Rows(dialog), "Work, Home, Family, Friends");
    EXPECT_EQ(Selected(dialog), 0);
    Tap(dialog, 2);
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(ChooseGroup(nullptr, &groups_, &chosen, &changed), kGroupOk);
  EXPECT_EQ(Names(groups_), u"Friends;Family;Work;Home;");
  EXPECT_EQ(chosen, 1u);  // Family
  EXPECT_TRUE(changed);

  // Delete takes the selected row's group out of both and leaves nothing
  // selected, so Done then cancels; the rows still find their groups.
  Script(kGroupTemplate, [](DeviceDialog* dialog) {
    AddGroup(dialog, QStringLiteral("Club"));
    // groups: Club, Friends, Family, Work, Home
    ASSERT_EQ(Rows(dialog), "Friends, Family, Work, Home, Club");
    Tap(dialog, 1);
    dialog->Dispatch(kit::cmds::kDelete);
    EXPECT_EQ(Rows(dialog), "Friends, Work, Home, Club");
    EXPECT_EQ(Selected(dialog), -1);
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(ChooseGroup(nullptr, &groups_, &chosen, &changed), kGroupCancel);
  EXPECT_EQ(Names(groups_), u"Club;Friends;Work;Home;");
  EXPECT_TRUE(changed);

  Script(kGroupTemplate, [](DeviceDialog* dialog) {
    ASSERT_EQ(Rows(dialog), "Club, Friends, Work, Home");
    Tap(dialog, 2);
    dialog->Dispatch(kit::cmds::kDelete);
    AddGroup(dialog, QStringLiteral("Team"));
    // groups: Team, Club, Friends, Home
    EXPECT_EQ(Rows(dialog), "Club, Friends, Home, Team");
    Tap(dialog, 2);
    dialog->Dispatch(kit::kCommandOk);  // the title bar's OK button
  });
  EXPECT_EQ(ChooseGroup(nullptr, &groups_, &chosen, &changed), kGroupOk);
  EXPECT_EQ(Names(groups_), u"Team;Club;Friends;Home;");
  EXPECT_EQ(chosen, 3u);  // Home
}

TEST_F(GroupDialogTest, DoneWithoutSelectionCancels) {
  // No groups: nothing is selected, Delete does nothing.
  size_t chosen = 7;
  bool changed = true;
  Script(kGroupTemplate, [](DeviceDialog* dialog) {
    EXPECT_EQ(Selected(dialog), -1);
    dialog->Dispatch(kit::cmds::kDelete);
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(ChooseGroup(nullptr, &groups_, &chosen, &changed), kGroupCancel);
  EXPECT_EQ(chosen, 7u);
  EXPECT_FALSE(changed);

  // A group added to an empty list is not selected by itself.
  Script(kGroupTemplate, [](DeviceDialog* dialog) {
    AddGroup(dialog, QStringLiteral("Family"));
    EXPECT_EQ(Selected(dialog), -1);
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(ChooseGroup(nullptr, &groups_, &chosen, &changed), kGroupCancel);
  EXPECT_EQ(chosen, 7u);
  EXPECT_TRUE(changed);
  EXPECT_EQ(Names(groups_), u"Family;");
}

TEST_F(GroupDialogTest, MemberEditorAddsDeletesAndTellsWhetherItChanged) {
  groups_.AddGroup(u"Other");
  groups_.AddGroup(u"Family");
  groups_.AddMember(0, u"Mum", u"0123");

  // Both fields are needed; Add appends and empties them.
  Script(kMemberTemplate, [](DeviceDialog* dialog) {
    EXPECT_EQ(dialog->title_bar()->caption(), QStringLiteral("Member Setting"));
    QTreeWidgetItem* header = List(dialog)->headerItem();
    EXPECT_EQ(header->text(0), QStringLiteral("Name"));
    EXPECT_EQ(header->text(1), QStringLiteral("Number"));
    EXPECT_EQ(Selected(dialog), 0);

    AddMember(dialog, QStringLiteral("Dad"), QString());
    AddMember(dialog, QString(), QStringLiteral("0456"));
    EXPECT_EQ(Rows(dialog), "Mum");
    AddMember(dialog, QStringLiteral("Dad"), QStringLiteral("0456"));
    EXPECT_EQ(Rows(dialog), "Mum, Dad");
    EXPECT_EQ(List(dialog)->topLevelItem(1)->text(1), QStringLiteral("0456"));
    EXPECT_TRUE(NameField(dialog)->text().isEmpty());
    EXPECT_TRUE(PhoneField(dialog)->text().isEmpty());
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(EditMembers(nullptr, &groups_, 0), kGroupOk);
  ASSERT_EQ(groups_.groups()[0].members.size(), 2u);
  EXPECT_EQ(groups_.groups()[0].members[1], (GroupMember{u"Dad", u"0456"}));
  EXPECT_TRUE(groups_.groups()[1].members.empty());

  // Nothing changed (a failed Add, a Delete with no selection) is Cancel.
  Script(kMemberTemplate, [](DeviceDialog* dialog) {
    AddMember(dialog, QStringLiteral("Ann"), QString());
    dialog->Dispatch(kit::cmds::kDelete);  // the group is empty
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(EditMembers(nullptr, &groups_, 1), kGroupCancel);

  // Delete removes the selected member and selects the one that moved up.
  Script(kMemberTemplate, [](DeviceDialog* dialog) {
    dialog->Dispatch(kit::cmds::kDelete);
    EXPECT_EQ(Rows(dialog), "Dad");
    EXPECT_EQ(Selected(dialog), 0);
    dialog->Dispatch(kit::kCommandOk);
  });
  EXPECT_EQ(EditMembers(nullptr, &groups_, 0), kGroupOk);
  ASSERT_EQ(groups_.groups()[0].members.size(), 1u);
  EXPECT_EQ(groups_.groups()[0].members[0].name, u"Dad");

  // There is no group 2: no dialog, Cancel.
  bool shown = false;
  kit::SetDialogScript([&shown](DeviceDialog*) { shown = true; });
  EXPECT_EQ(EditMembers(nullptr, &groups_, 2), kGroupCancel);
  EXPECT_FALSE(shown);
}

TEST_F(GroupDialogTest, BackNeverClosesEitherDialog) {
  groups_.AddGroup(u"Family");
  groups_.AddMember(0, u"Mum", u"0123");

  // In the list Back goes to the name field, in a field it erases.
  Script(kGroupTemplate, [](DeviceDialog* dialog) {
    List(dialog)->setFocus();
    NameField(dialog)->setText(QStringLiteral("Club"));
    PressBack(List(dialog));
    EXPECT_EQ(dialog->focusWidget(), NameField(dialog));
    EXPECT_EQ(NameField(dialog)->text(), QStringLiteral("Club"));
    PressBack(NameField(dialog));
    EXPECT_EQ(NameField(dialog)->text(), QStringLiteral("Clu"));
    EXPECT_TRUE(dialog->isVisible());
    dialog->Dispatch(kit::cmds::kDone);
  });
  size_t chosen = 9;
  EXPECT_EQ(ChooseGroup(nullptr, &groups_, &chosen, nullptr), kGroupOk);
  EXPECT_EQ(chosen, 0u);

  Script(kMemberTemplate, [](DeviceDialog* dialog) {
    PhoneField(dialog)->setFocus();
    PhoneField(dialog)->setText(QStringLiteral("0456"));
    PressBack(PhoneField(dialog));
    EXPECT_EQ(PhoneField(dialog)->text(), QStringLiteral("045"));
    List(dialog)->setFocus();
    PressBack(List(dialog));
    EXPECT_EQ(dialog->focusWidget(), NameField(dialog));
    EXPECT_TRUE(dialog->isVisible());
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(EditMembers(nullptr, &groups_, 0), kGroupCancel);
}

TEST_F(GroupDialogTest, WhatTheDialogsMadeIsSavedByteForByte) {
  size_t chosen = 9;
  Script(kGroupTemplate, [](DeviceDialog* dialog) {
    AddGroup(dialog, QStringLiteral("Family"));
    Tap(dialog, 0);
    dialog->Dispatch(kit::cmds::kDone);
  });
  ASSERT_EQ(ChooseGroup(nullptr, &groups_, &chosen, nullptr), kGroupOk);
  Script(kMemberTemplate, [](DeviceDialog* dialog) {
    AddMember(dialog, QStringLiteral("Mum"), QStringLiteral("0123"));
    AddMember(dialog, QStringLiteral("Dad"), QStringLiteral("0456"));
    dialog->Dispatch(kit::cmds::kDone);
  });
  ASSERT_EQ(EditMembers(nullptr, &groups_, chosen), kGroupOk);
  ASSERT_TRUE(groups_.Save().ok());

  // The byte-order mark, then "[Family]", "Mum|0123" and "Dad|0456" in
  // UTF-16LE, each line ending in CR LF.
  std::string expected = "\xFF\xFE";
  for (char c : std::string("[Family]\r\nMum|0123\r\nDad|0456\r\n")) {
    expected += c;
    expected += '\0';
  }
  EXPECT_EQ(platform::testing::ReadHostFile(device_.HostPath("\\smsgroup.ini")),
            expected);
}

}  // namespace
}  // namespace contacts::ui
