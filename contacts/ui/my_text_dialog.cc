#include "contacts/ui/my_text_dialog.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "kit/menu_table.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"

namespace contacts::ui {

namespace {

// The edit field's input mode, given back the next time the dialog opens.
Qt::InputMethodHints& RememberedInputMode() {
  static Qt::InputMethodHints hints = Qt::ImhNone;
  return hints;
}

}  // namespace

MyTextDialog::MyTextDialog(QWidget* parent, SentenceStore* store,
                           SentenceList which)
    : DeviceDialog(parent, kMyTextTemplate), store_(store), which_(which) {
  title_bar()->SetCaption(kit::Str(which == SentenceList::kMarks
                                       ? kit::ids::kManageMarkTitle
                                       : kit::ids::kMyTextTitle));
  soft_keys()->SetMenuBar(kit::MyTextMenuBar());

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  edit_ = new QLineEdit(content());
  kit::SetControlId(edit_, kMyTextEdit);
  edit_->setInputMethodHints(RememberedInputMode());
  layout->addWidget(edit_);

  list_ = new QTreeWidget(content());
  kit::SetControlId(list_, kMyTextList);
  list_->setColumnCount(1);
  list_->setHeaderHidden(true);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->installEventFilter(this);
  layout->addWidget(list_, 1);

  connect(list_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
            if (current != nullptr) edit_->setText(current->text(0));
          });
  Fill(0);
}

MyTextDialog::~MyTextDialog() {
  RememberedInputMode() = edit_->inputMethodHints();
}

int MyTextDialog::SelectedRow() const { return kit::SelectedListRow(list_); }

void MyTextDialog::Fill(int select_row) {
  const std::vector<std::u16string>& texts = store_->list(which_);
  list_->clear();
  for (const std::u16string& text : texts) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, kit::Q(text));
  }
  if (texts.empty()) return;
  if (select_row < 0) select_row = 0;
  if (select_row >= static_cast<int>(texts.size())) {
    select_row = static_cast<int>(texts.size()) - 1;
  }
  kit::SelectListRow(list_, select_row);
}

void MyTextDialog::Add() {
  // The text goes in front of the list; the edit field keeps it.
  QString text = edit_->text();
  store_->Add(which_, kit::U(text));
  edited_ = true;
  Fill(0);
  edit_->setText(text);
}

void MyTextDialog::Modify() {
  int row = SelectedRow();
  if (row < 0) return;
  QString text = edit_->text();
  if (!store_->Modify(which_, static_cast<size_t>(row), kit::U(text))) return;
  edited_ = true;
  list_->topLevelItem(row)->setText(0, text);
}

void MyTextDialog::Delete() {
  int row = SelectedRow();
  if (row < 0) return;
  if (!store_->Delete(which_, static_cast<size_t>(row))) return;
  edited_ = true;
  Fill(row);
  if (list_->topLevelItemCount() == 0) edit_->clear();
}

void MyTextDialog::Finish(int result) {
  if (result == kMyTextOk && which_ == SentenceList::kSentences) {
    std::u16string text = kit::U(edit_->text());
    if (text.size() > kMyTextMaxChars) text.resize(kMyTextMaxChars);
    chosen_ = std::move(text);
  }
  save_status_ = store_->SaveIfChanged();
  done(result);
}

void MyTextDialog::OnCommand(uint32_t command) {
  switch (command) {
    case kit::kCommandOk:  // the title bar's OK button
    case kit::cmds::kOk:
      Finish(kMyTextOk);
      return;
    case kit::kCommandCancel:
    case kit::cmds::kCancel:
      Finish(kMyTextCancel);
      return;
    case kit::cmds::kAdd:
      Add();
      return;
    case kit::cmds::kModify:
      Modify();
      return;
    case kit::cmds::kDelete:
      Delete();
      return;
    default:
      return;
  }
}

void MyTextDialog::OnBack() {
  // The dialog's focus widget, so that it also holds while the window is
  // not the active one.
  if (focusWidget() == edit_) {
    edit_->backspace();
    return;
  }
  edit_->setFocus();
}

bool MyTextDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && kit::PageOnLeftRight(list_, event)) return true;
  return DeviceDialog::eventFilter(watched, event);
}

int ChooseSentence(QWidget* parent, SentenceStore* store,
                   std::u16string* chosen) {
  MyTextDialog dialog(parent, store, SentenceList::kSentences);
  int result = dialog.Run();
  if (result != kMyTextOk) return kMyTextCancel;
  if (!dialog.chosen().empty() && chosen != nullptr) *chosen = dialog.chosen();
  return kMyTextOk;
}

int ManageMarks(QWidget* parent, SentenceStore* store, bool* changed) {
  MyTextDialog dialog(parent, store, SentenceList::kMarks);
  int result = dialog.Run();
  if (changed != nullptr) *changed = dialog.edited();
  return result == kMyTextOk ? kMyTextOk : kMyTextCancel;
}

}  // namespace contacts::ui
