#include "import/ui/import_dialog.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <string>
#include <utility>

#include "kit/images.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/debug.h"
#include "settings/settings_store.h"
#include "store/document.h"

namespace import::ui {

namespace cmds = kit::cmds;

namespace {

// The tree strip's frames 7 (an empty box) and 8 (a ticked one).
constexpr int kClearFrame = 7;
constexpr int kTickedFrame = 8;

}  // namespace

const std::vector<QPixmap>& ImportDialog::TickImages() {
  static const std::vector<QPixmap>* const images = [] {
    auto* made = new std::vector<QPixmap>();
    std::vector<QPixmap> strip = kit::ImageStrip(kit::kBitmapTreeIcons);
    for (int frame : {kClearFrame, kTickedFrame}) {
      made->push_back(static_cast<size_t>(frame) < strip.size()
                          ? strip[static_cast<size_t>(frame)]
                          : QPixmap(16, 16));
    }
    return made;
  }();
  return *images;
}

ImportDialog::ImportDialog(QWidget* parent, const ImportContext& context)
    : DeviceDialog(parent, kImportTemplate),
      context_(context),
      list_(new QTreeWidget(content())),
      step_timer_(new QTimer(this)) {
  title_bar()->SetCaption(kit::Str(kit::ids::kImportSmsTitle));
  soft_keys()->SetMenuBar(kit::ImportMenuBar());
  // The two folders carry a radio mark: one of them is always the one shown.
  if (QMenu* menu = soft_keys()->menu()) {
    auto* folders = new QActionGroup(menu);
    folders->setExclusive(true);
    for (uint32_t command : {cmds::kFromSentItems, cmds::kFromInbox}) {
      if (QAction* action = kit::FindCommand(menu, command)) {
        action->setCheckable(true);
        folders->addAction(action);
      }
    }
  }

  kit::SetControlId(list_, kImportList);
  list_->setColumnCount(1);
  list_->setHeaderHidden(true);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setIconSize(QSize(16, 16));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->installEventFilter(this);
  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  connect(list_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item, int) {
            list_->setCurrentItem(item);
            ToggleSelected();
          });

  step_timer_->setSingleShot(true);
  step_timer_->setInterval(0);
  connect(step_timer_, &QTimer::timeout, this, [this] {
    ListStep(kRowsPerStep);
    if (listing_ != nullptr) step_timer_->start();
  });

  const int source =
      context_.settings != nullptr ? context_.settings->import_source() : 0;
  List(FolderFromSetting(source));
}

ImportDialog::~ImportDialog() = default;

bool ImportDialog::ticked(size_t row) const {
  return row < ticks_.size() && ticks_[row];
}

void ImportDialog::List(PhoneFolder folder) {
  step_timer_->stop();
  listing_.reset();
  list_->clear();
  items_.clear();
  ticks_.clear();
  folder_ = folder;
  today_ = context_.clock ? context_.clock() : platform::CurrentLocalTime();
  platform::Status status;
  listing_ = FolderListing::Open(folder, &status);
  if (listing_ == nullptr) {
    // No store, no folder: an empty list, nothing said.
    platform::DebugPrintf("pelicorde: import listing: %s\r\n",
                          status.ToString().c_str());
    return;
  }
  ListStep(kFirstScreenRows);
  if (listing_ != nullptr) step_timer_->start();
}

void ImportDialog::ListStep(size_t rows) {
  if (listing_ == nullptr) return;
  const bool first = items_.empty();
  std::vector<ImportItem> more = listing_->Next(rows);
  const QIcon clear(TickImages()[0]);
  list_->setUpdatesEnabled(false);
  for (ImportItem& item : more) {
    auto* row = new QTreeWidgetItem(list_);
    row->setText(0, kit::Q(ItemText(item, today_)));
    row->setIcon(0, clear);
    items_.push_back(std::move(item));
    ticks_.push_back(false);
  }
  list_->setUpdatesEnabled(true);
  if (first && !items_.empty()) kit::SelectListRow(list_, 0);
  if (listing_->done()) listing_.reset();
}

void ImportDialog::FinishListing() {
  step_timer_->stop();
  while (listing_ != nullptr) ListStep(kRowsPerStep * 4);
}

void ImportDialog::SetTick(int row, bool ticked) {
  if (row < 0 || static_cast<size_t>(row) >= ticks_.size()) return;
  if (ticks_[static_cast<size_t>(row)] == ticked) return;
  ticks_[static_cast<size_t>(row)] = ticked;
  list_->topLevelItem(row)->setIcon(0, QIcon(TickImages()[ticked ? 1 : 0]));
}

void ImportDialog::ToggleSelected() {
  const int row = kit::SelectedListRow(list_);
  if (row < 0) return;
  SetTick(row, !ticked(static_cast<size_t>(row)));
}

void ImportDialog::SetAllTicks(bool ticked) {
  FinishListing();
  for (size_t row = 0; row < ticks_.size(); ++row) {
    SetTick(static_cast<int>(row), ticked);
  }
}

void ImportDialog::SwitchTo(PhoneFolder folder) {
  if (folder == folder_) return;
  if (context_.settings != nullptr) {
    context_.settings->set_import_source(static_cast<int32_t>(folder));
  }
  List(folder);
}

void ImportDialog::Import() {
  FinishListing();
  std::vector<const ImportItem*> chosen;
  for (size_t row = 0; row < items_.size(); ++row) {
    if (ticks_[row]) chosen.push_back(&items_[row]);
  }
  store::Document& document = *context_.document;
  // The titles follow "ImportTitle" as it is now.
  store::DocumentOptions options = document.options();
  options.import_title = context_.settings->import_title();
  document.set_options(options);
  result_ = ImportIntoDocument(document, context_.target, chosen,
                               context_.settings->sms_delete() != 0);
  if (!result_.filing_status.ok()) {
    platform::DebugPrintf("pelicorde: import: %d not filed: %s\r\n",
                          result_.not_filed,
                          result_.filing_status.ToString().c_str());
  }
  if (!result_.save_status.ok()) {
    platform::DebugPrintf("pelicorde: import: save: %s\r\n",
                          result_.save_status.ToString().c_str());
  }
  // Said once, whatever the number: what the document could not keep is
  // still on the phone.
  if (result_.not_filed > 0 || result_.kept_on_phone > 0) {
    kit::ShowMessageId(this, kit::ids::kImportNotSaved,
                       kit::ids::kCaptionError);
  }
  if (!result_.delete_status.ok()) {
    // A failed delete leaves the message on the phone; nothing is shown.
    platform::DebugPrintf("pelicorde: import: delete: %s\r\n",
                          result_.delete_status.ToString().c_str());
  }
  done(kImportDone);
}

void ImportDialog::OnCommand(uint32_t command) {
  switch (command) {
    case cmds::kImportSms:
      Import();
      return;
    case cmds::kDeleteAfterImport:
      if (context_.settings != nullptr) {
        context_.settings->set_sms_delete(
            context_.settings->sms_delete() != 0 ? 0 : 1);
      }
      return;
    case cmds::kFromSentItems:
      SwitchTo(PhoneFolder::kSentItems);
      return;
    case cmds::kFromInbox:
      SwitchTo(PhoneFolder::kInbox);
      return;
    case cmds::kCheckAll:
      SetAllTicks(true);
      return;
    case cmds::kUncheckAll:
      SetAllTicks(false);
      return;
    case kit::kCommandOk:
    case kit::kCommandCancel:
    case cmds::kCancel:
      done(kImportCancelled);
      return;
    default:
      return;
  }
}

void ImportDialog::OnMenuPopup(QMenu* menu) {
  const bool delete_after =
      context_.settings != nullptr && context_.settings->sms_delete() != 0;
  kit::CheckCommand(menu, cmds::kDeleteAfterImport, delete_after);
  kit::CheckCommand(menu, cmds::kFromSentItems,
                    folder_ == PhoneFolder::kSentItems);
  kit::CheckCommand(menu, cmds::kFromInbox, folder_ == PhoneFolder::kInbox);
}

bool ImportDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_) {
    if (kit::PageOnLeftRight(list_, event)) return true;
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        ToggleSelected();
        return true;
      }
    }
  }
  return DeviceDialog::eventFilter(watched, event);
}

int RunImportDialog(QWidget* parent, const ImportContext& context) {
  if (context.document == nullptr || !context.document->IsOpen() ||
      context.target == nullptr || context.target->is_message() ||
      context.settings == nullptr) {
    return kImportCancelled;
  }
  ImportDialog dialog(parent, context);
  const int result = dialog.Run();
  return result == kImportDone ? kImportDone : kImportCancelled;
}

}  // namespace import::ui
