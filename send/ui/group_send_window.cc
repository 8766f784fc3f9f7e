#include "send/ui/group_send_window.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>
#include <vector>

#include "kit/menu_table.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"

namespace send::ui {
namespace {

namespace ids = kit::ids;

uint32_t StatusTextId(GroupItemStatus status) {
  switch (status) {
    case GroupItemStatus::kSending:
      return ids::kSending;
    case GroupItemStatus::kSuccess:
      return ids::kSuccess;
    case GroupItemStatus::kFail:
      return ids::kFail;
  }
  return ids::kFail;
}

}  // namespace

GroupSendWindow::GroupSendWindow(QWidget* parent,
                                 std::u16string_view recipients,
                                 std::u16string text, bool flash)
    : DeviceDialog(parent, kGroupSendTemplate) {
  title_bar()->SetCaption(kit::Str(ids::kGroupSendingTitle));
  title_bar()->ShowOk(true);
  soft_keys()->SetMenuBar(kit::OkCancelMenuBar());

  info_ = new QLabel(kit::Str(ids::kGroupSendingReady), content());
  kit::SetControlId(info_, kGroupInfoText);
  info_->setWordWrap(true);

  list_ = new QTreeWidget(content());
  kit::SetControlId(list_, kGroupList);
  list_->setColumnCount(2);
  list_->setHeaderLabels(
      {kit::Str(ids::kSendToColumn), kit::Str(ids::kStatusColumn)});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->header()->setSectionResizeMode(QHeaderView::Fixed);
  list_->header()->setStretchLastSection(false);
  list_->installEventFilter(this);
  list_->viewport()->installEventFilter(this);

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  layout->addWidget(info_);
  layout->addWidget(list_, 1);

  std::vector<GroupItem> items = GroupItemsFromRecipients(recipients);
  for (const GroupItem& item : items) {
    new QTreeWidgetItem(list_, {kit::Q(item.display_name), QString()});
  }
  if (QTreeWidgetItem* first = list_->topLevelItem(0)) {
    list_->setCurrentItem(first);
    first->setSelected(true);
  }
  FitColumns();
  sender_ =
      std::make_unique<GroupSender>(std::move(items), std::move(text), flash,
                                    static_cast<GroupSendObserver*>(this));
}

GroupSendWindow::~GroupSendWindow() {
  // The thread may still report; its queued calls die with the window.
  sender_.reset();
}

void GroupSendWindow::OnCommand(uint32_t command) {
  switch (command) {
    case kit::cmds::kOk:
      if (state_ == GroupSender::State::kReady) {
        state_ = GroupSender::State::kSending;
        sender_->Start();
      } else if (state_ == GroupSender::State::kComplete) {
        done(radio_opened_ ? kGroupSendDone : kGroupSendCancelled);
      }
      return;
    case kit::kCommandOk:  // the title bar's OK button
    case kit::kCommandCancel:
    case kit::cmds::kCancel:
      if (state_ == GroupSender::State::kReady) done(kGroupSendCancelled);
      return;
    default:
      return;
  }
}

void GroupSendWindow::OnBack() { OnCommand(kit::cmds::kCancel); }

void GroupSendWindow::ItemStatusChanged(size_t index, GroupItemStatus status) {
  QMetaObject::invokeMethod(
      this, [this, index, status] { ShowStatus(index, status); },
      Qt::QueuedConnection);
}

void GroupSendWindow::SendingFinished(bool opened) {
  QMetaObject::invokeMethod(
      this, [this, opened] { ShowFinished(opened); }, Qt::QueuedConnection);
}

void GroupSendWindow::ShowStatus(size_t index, GroupItemStatus status) {
  QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(index));
  if (item == nullptr) return;
  item->setText(1, kit::Str(StatusTextId(status)));
  list_->scrollToItem(item);
}

void GroupSendWindow::ShowFinished(bool opened) {
  info_->setText(
      kit::Str(opened ? ids::kSendComplete : ids::kGroupSendingNoRadio));
  radio_opened_ = opened;
  state_ = GroupSender::State::kComplete;
}

void GroupSendWindow::FitColumns() {
  const int width = list_->viewport()->width();
  list_->setColumnWidth(0, std::max(0, width - kGroupStatusColumnWidth));
  list_->setColumnWidth(1, kGroupStatusColumnWidth);
}

bool GroupSendWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::Resize) {
    FitColumns();
  } else if (watched == list_ && kit::PageOnLeftRight(list_, event)) {
    return true;
  }
  return DeviceDialog::eventFilter(watched, event);
}

int RunGroupSend(QWidget* parent, std::u16string_view recipients,
                 std::u16string_view text, bool flash) {
  if (parent == nullptr) parent = QApplication::activeWindow();
  GroupSendWindow window(parent, recipients, std::u16string(text), flash);
  return window.Run() == kGroupSendDone ? kGroupSendDone : kGroupSendCancelled;
}

}  // namespace send::ui
