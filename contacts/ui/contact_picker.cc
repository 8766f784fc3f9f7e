#include "contacts/ui/contact_picker.h"

#include <QAbstractListModel>
#include <QActionGroup>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <map>
#include <thread>
#include <utility>

#include "contacts/photos.h"
#include "contacts/ui/group_dialog.h"
#include "contacts/ui/photo_loader.h"
#include "kit/file_browser.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/screen.h"
#include "kit/string_table.h"
#include "settings/settings_store.h"
#include "text/text.h"

namespace contacts::ui {

namespace cmds = kit::cmds;

namespace {

// The registry key of the settings, as a failed save names it.
constexpr std::u16string_view kSettingsName =
    u"HKEY_CURRENT_USER\\Software\\Pelicorde";

// The margin around the picture of a row with photos.
constexpr int kPhotoMargin = 2;

bool IsAsciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Fills the "%s" of a string-table format in order.
QString FillText(QString format, std::initializer_list<QString> args) {
  qsizetype from = 0;
  for (const QString& arg : args) {
    qsizetype at = format.indexOf(QStringLiteral("%s"), from);
    if (at < 0) break;
    format.replace(at, 2, arg);
    from = at + arg.size();
  }
  return format;
}

// A stock picture: one person for a contact without photo, two for a group.
QImage StockPicture(bool group, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(0xdd, 0xe6, 0xf4));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  auto person = [&](qreal left, qreal top, qreal width, const QColor& color) {
    painter.setBrush(color);
    painter.drawEllipse(
        QRectF(left + width * 0.3, top, width * 0.4, width * 0.4));
    painter.drawChord(
        QRectF(left + width * 0.1, top + width * 0.45, width * 0.8, width), 0,
        180 * 16);
  };
  if (group) {
    person(size * 0.35, size * 0.08, size * 0.65, QColor(0x8f, 0xa8, 0xcf));
    person(0, size * 0.22, size * 0.65, QColor(0x31, 0x4a, 0x7b));
  } else {
    person(size * 0.1, size * 0.12, size * 0.8, QColor(0x31, 0x4a, 0x7b));
  }
  painter.setPen(QColor(0x31, 0x4a, 0x7b));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRectF(0.5, 0.5, size - 1, size - 1));
  return image;
}

// The tick image: a box, with a check mark when ticked.
void DrawTick(QPainter* painter, const QRect& box, bool ticked) {
  painter->setPen(QColor(0x31, 0x4a, 0x7b));
  painter->setBrush(Qt::white);
  painter->drawRect(box.adjusted(0, 0, -1, -1));
  if (!ticked) return;
  QPen pen(Qt::black, 2);
  painter->setPen(pen);
  const QPointF mark[] = {
      QPointF(box.left() + box.width() * 0.2, box.top() + box.height() * 0.5),
      QPointF(box.left() + box.width() * 0.42, box.top() + box.height() * 0.75),
      QPointF(box.left() + box.width() * 0.8, box.top() + box.height() * 0.22)};
  painter->drawPolyline(mark, 3);
}

}  // namespace

// The list's rows over the picker's PickerList.
class PickerModel : public QAbstractListModel {
 public:
  explicit PickerModel(ContactPicker* picker)
      : QAbstractListModel(picker), picker_(picker) {}

  int rowCount(const QModelIndex& parent) const override {
    if (parent.isValid()) return 0;
    return static_cast<int>(picker_->list().items().size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid() ||
        index.row() >= rowCount({}))
      return {};
    const PickerList& list = picker_->list();
    return kit::Q(list.Name(list.items()[static_cast<size_t>(index.row())]));
  }

  void BeginReset() { beginResetModel(); }
  void EndReset() { endResetModel(); }
  void RowChanged(int row) { emit dataChanged(index(row), index(row)); }
  // The rows' height changed.
  void Remeasure() {
    emit layoutAboutToBeChanged();
    emit layoutChanged();
  }

 private:
  ContactPicker* picker_;
};

// Draws a row: tick image, picture, name.
class PickerDelegate : public QStyledItemDelegate {
 public:
  PickerDelegate(ContactPicker* picker, QObject* parent)
      : QStyledItemDelegate(parent), picker_(picker) {}

  QSize sizeHint(const QStyleOptionViewItem&,
                 const QModelIndex&) const override {
    return QSize(0, picker_->row_height());
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const size_t row = static_cast<size_t>(index.row());
    const PickerList& list = picker_->list();
    if (row >= list.items().size()) return;
    const PickerItem& item = list.items()[row];
    const QRect rect = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->fillRect(
        rect, selected ? option.palette.highlight() : option.palette.base());
    int x = rect.left() + 2;
    if (picker_->mode() != kPickerSingle) {
      DrawTick(painter, QRect(x, rect.center().y() - 6, 13, 13), item.ticked);
      x += 17;
    }
    if (picker_->row_height() == kPhotoRowHeight) {
      const int size = kPhotoRowHeight - 2 * kPhotoMargin;
      QImage picture = picker_->photo(row);
      if (picture.isNull()) {
        picture = Stock(item.kind == PickerItem::Kind::kGroup, size);
      }
      QRect box(x, rect.top() + kPhotoMargin, size, size);
      QRect placed(QPoint(0, 0), picture.size().boundedTo(box.size()));
      placed.moveCenter(box.center());
      painter->drawImage(placed, picture);
      x += size + 4;
    }
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText)
                             : option.palette.color(QPalette::Text));
    QRect text_rect(x, rect.top(), rect.right() - x, rect.height());
    painter->drawText(
        text_rect, Qt::AlignVCenter | Qt::AlignLeft,
        option.fontMetrics.elidedText(kit::Q(list.Name(item)), Qt::ElideRight,
                                      text_rect.width()));
    painter->restore();
  }

 private:
  const QImage& Stock(bool group, int size) const {
    QImage& stock = group ? group_stock_ : contact_stock_;
    if (stock.width() != size) stock = StockPicture(group, size);
    return stock;
  }

  ContactPicker* picker_;
  mutable QImage contact_stock_;
  mutable QImage group_stock_;
};

// ------------------------------------------------------------ ContactPicker

ContactPicker::ContactPicker(QWidget* parent,
                             const PickerEnvironment& environment, int mode)
    : DeviceDialog(parent, kPickerTemplate),
      environment_(environment),
      mode_(mode),
      list_(std::make_unique<PickerList>(nullptr, nullptr, mode,
                                         environment.touch_screen)),
      view_(new QListView(content())),
      model_(new PickerModel(this)),
      // A window that never takes the activation from the picker.
      info_(new QLabel(this, Qt::ToolTip | Qt::FramelessWindowHint)),
      loader_(new PhotoLoader(this)) {
  title_bar()->SetCaption(kit::Str(kit::ids::kContactsTitle));
  soft_keys()->SetMenuBar(mode == kPickerSingle ? kit::PickerSingleMenuBar()
                                                : kit::PickerMultiMenuBar());
  if (QMenu* menu = soft_keys()->menu()) {
    auto popup = [menu](uint32_t text_id) {
      return menu->findChild<QMenu*>(QStringLiteral("menu.") +
                                     QString::number(text_id));
    };
    category_menu_ = popup(kit::ids::kCategoryMenu);
    if (mode != kPickerSingle && mode != kPickerMultiple) {
      if (QMenu* groups = popup(kit::ids::kSendGroup)) {
        groups->menuAction()->setVisible(false);
      }
    }
    category_group_ = new QActionGroup(this);
    category_group_->setExclusionPolicy(
        QActionGroup::ExclusionPolicy::ExclusiveOptional);
    if (QAction* all = kit::FindCommand(menu, cmds::kAllCategories)) {
      all->setCheckable(true);
      category_group_->addAction(all);
    }
  }

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  if (environment_.touch_screen) {
    tabs_ = new QWidget(content());
    tabs_->setObjectName(QStringLiteral("tabs"));
    auto* row = new QHBoxLayout(tabs_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int tab = 0; tab < kTabCount; ++tab) {
      auto* button = new QPushButton(
          kit::Str(kit::ids::kTabHashAb + static_cast<uint32_t>(tab)), tabs_);
      button->setObjectName(QStringLiteral("tab.") + QString::number(tab));
      button->setFocusPolicy(Qt::NoFocus);
      button->setMinimumWidth(0);
      button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
      connect(button, &QPushButton::clicked, this, [this, tab] {
        if (list_->TapTab(tab)) SyncSelection();
      });
      row->addWidget(button);
    }
    layout->addWidget(tabs_);
  }
  kit::SetControlId(view_, kPickerListId);
  view_->setModel(model_);
  view_->setItemDelegate(new PickerDelegate(this, view_));
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->installEventFilter(this);
  view_->viewport()->installEventFilter(this);
  layout->addWidget(view_, 1);
  connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            OnCurrentRowChanged(current.row());
          });
  connect(view_, &QListView::doubleClicked, this,
          [this](const QModelIndex& index) {
            if (!index.isValid()) return;
            const size_t row = static_cast<size_t>(index.row());
            if (row < list_->items().size() &&
                list_->items()[row].kind == PickerItem::Kind::kGroup) {
              EditGroup(row);
            }
          });

  info_->setObjectName(QStringLiteral("info"));
  info_->setAttribute(Qt::WA_ShowWithoutActivating);
  info_->setFrameShape(QFrame::Box);
  info_->setAutoFillBackground(true);
  info_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  info_->setMargin(4);
  info_->setWordWrap(true);
  info_delay_.setSingleShot(true);
  info_delay_.setInterval(kInfoDelay);
  connect(&info_delay_, &QTimer::timeout, this, [this] { OnInfoDelay(); });
  info_hide_.setSingleShot(true);
  info_hide_.setInterval(kInfoShowTime);
  connect(&info_hide_, &QTimer::timeout, info_, &QWidget::hide);

  connect(loader_, &PhotoLoader::PhotoLoaded, this,
          [this](int item, const QImage& picture) {
            if (item < 0 || static_cast<size_t>(item) >= photos_.size()) return;
            photos_[static_cast<size_t>(item)] = picture;
            RowChanged(static_cast<size_t>(item));
          });

  Fill(std::nullopt);
  view_->setFocus();
}

ContactPicker::~ContactPicker() {
  // The loader's worker must not hand pictures to a list that is gone.
  loader_->Stop(kPhotoLoaderPatience);
}

QImage ContactPicker::photo(size_t item) const {
  return item < photos_.size() ? photos_[item] : QImage();
}

int ContactPicker::row_height() const {
  return show_photo() ? kPhotoRowHeight : kRowHeight;
}

bool ContactPicker::show_photo() const {
  return environment_.settings->show_photo() != 0;
}

const PickerItem* ContactPicker::SelectedItem() const {
  std::optional<size_t> selected = list_->selected();
  if (!selected || *selected >= list_->items().size()) return nullptr;
  return &list_->items()[*selected];
}

bool ContactPicker::SelectItem(size_t item) {
  if (!list_->Select(item)) return false;
  SyncSelection();
  return true;
}

void ContactPicker::SyncSelection() {
  std::optional<size_t> selected = list_->selected();
  if (!selected) {
    view_->setCurrentIndex(QModelIndex());
    return;
  }
  QModelIndex index = model_->index(static_cast<int>(*selected));
  view_->setCurrentIndex(index);
  // Before the list has its size it is scrolled when shown.
  if (view_->isVisible()) view_->scrollTo(index);
}

void ContactPicker::showEvent(QShowEvent* event) {
  DeviceDialog::showEvent(event);
  SyncSelection();
}

void ContactPicker::OnCurrentRowChanged(int row) {
  if (row >= 0) list_->Select(static_cast<size_t>(row));
  info_->hide();
  info_hide_.stop();
  if (row >= 0) info_delay_.start();
}

void ContactPicker::RowChanged(size_t item) {
  model_->RowChanged(static_cast<int>(item));
}

// ---- Filling

void ContactPicker::Fill(std::optional<std::u16string> category) {
  BeginFill();
  snapshot_ = environment_.store->contacts();
  list_ = std::make_unique<PickerList>(
      snapshot_,
      mode_ == kPickerMultiple ? &environment_.store->groups().groups()
                               : nullptr,
      mode_, environment_.touch_screen);
  list_->Fill(std::move(category));
  EndFill();
}

void ContactPicker::RebuildGroups() {
  struct Kept {
    bool ticked;
    int number;
  };
  std::map<size_t, Kept> kept;  // by record
  for (const PickerItem& item : list_->items()) {
    if (item.kind == PickerItem::Kind::kContact) {
      kept[item.index] = {item.ticked, item.number};
    }
  }
  std::optional<size_t> selected_record;
  const PickerItem* selected = SelectedItem();
  if (selected != nullptr && selected->kind == PickerItem::Kind::kContact) {
    selected_record = selected->index;
  }
  std::optional<size_t> selected_row = list_->selected();

  BeginFill();
  list_->Fill(list_->category());
  const size_t count = list_->items().size();
  std::optional<size_t> select = list_->selected();
  if (selected_row && count > 0) select = std::min(*selected_row, count - 1);
  for (size_t i = 0; i < count; ++i) {
    const PickerItem& item = list_->items()[i];
    if (item.kind != PickerItem::Kind::kContact) continue;
    auto found = kept.find(item.index);
    if (found == kept.end()) continue;
    if (selected_record == item.index) select = i;
    list_->Select(i);
    if (item.ticked != found->second.ticked) list_->ToggleTick();
    for (int step = 0; step < kNumberCount &&
                       list_->items()[i].number != found->second.number;
         ++step) {
      if (!list_->MoveChosenNumber()) break;
    }
  }
  if (select) list_->Select(*select);
  EndFill();
}

void ContactPicker::BeginFill() {
  loader_->Stop(kPhotoLoaderPatience);
  view_->setUpdatesEnabled(false);
  model_->BeginReset();
}

void ContactPicker::EndFill() {
  photos_.assign(list_->items().size(), QImage());
  model_->EndReset();
  RebuildCategoryMenu();
  SyncSelection();
  view_->setUpdatesEnabled(true);
  StartPhotos();
}

void ContactPicker::RebuildCategoryMenu() {
  for (QAction* action : category_actions_) delete action;
  category_actions_.clear();
  if (category_menu_ == nullptr) return;
  const std::optional<std::u16string>& chosen = list_->category();
  for (QAction* all : category_group_->actions()) all->setChecked(!chosen);
  const std::vector<std::u16string>& names = snapshot_->categories;
  for (size_t i = 0; i < names.size(); ++i) {
    QAction* action = category_menu_->addAction(kit::Q(names[i]));
    const uint32_t command = cmds::kCategoryBase + static_cast<uint32_t>(i);
    action->setData(static_cast<uint>(command));
    action->setObjectName(QString::number(command));
    action->setCheckable(true);
    category_group_->addAction(action);
    action->setChecked(chosen && *chosen == names[i]);
    category_actions_.push_back(action);
  }
}

void ContactPicker::StartPhotos() {
  if (!show_photo()) return;
  std::vector<PhotoJob> jobs;
  for (size_t i = 0; i < list_->items().size(); ++i) {
    const PickerItem& item = list_->items()[i];
    if (const ContactRecord* record = list_->Record(item)) {
      jobs.push_back(PhotoJob{static_cast<int>(i), record->name});
    }
  }
  loader_->Start(environment_.settings->photo_folder(), std::move(jobs),
                 kPhotoRowHeight - 2 * kPhotoMargin);
}

bool ContactPicker::WaitForPhotos(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (loader_->busy()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  QCoreApplication::processEvents();
  return true;
}

// ---- The information window

void ContactPicker::OnInfoDelay() {
  // Only over the picker itself, not over a dialog or box it opened.
  if (!isActiveWindow()) return;
  ShowInfoNow();
}

void ContactPicker::ShowInfoNow() {
  std::vector<std::u16string> lines = list_->InfoLines();
  if (lines.empty()) {
    info_->hide();
    return;
  }
  QStringList texts;
  for (const std::u16string& line : lines) texts.push_back(kit::Q(line));
  info_->setText(texts.join(QChar(u'\n')));

  // The screen is the picker's area; the window goes in the half that does
  // not hold the item.
  const QSize screen = kit::DeviceScreenSize();
  const int height = screen.height() / 3;
  const int half = screen.height() / 2;
  QRect row = view_->visualRect(
      model_->index(static_cast<int>(list_->selected().value_or(0))));
  const int item_y = view_->viewport()->mapTo(this, row.center()).y();
  const int top =
      item_y < half ? half + (half - height) / 2 : (half - height) / 2;
  const QPoint origin = mapToGlobal(QPoint(0, 0));
  info_->setGeometry(origin.x() + 8, origin.y() + top, screen.width() - 16,
                     height);
  info_->show();
  info_->raise();
  info_hide_.start();
}

// ---- Commands

void ContactPicker::OnCommand(uint32_t command) {
  switch (command) {
    case kit::kCommandOk:  // the title bar's OK button
    case cmds::kPickerConfirm:
      Confirm();
      return;
    case kit::kCommandCancel:
    case cmds::kCancel:
      done(kPickerCancelled);
      return;
    case cmds::kRefresh:
      environment_.store->Load();
      Fill(list_->category());
      return;
    case cmds::kAllCategories:
      Fill(std::nullopt);
      return;
    case cmds::kCheckAll:
    case cmds::kUncheckAll:
      list_->SetAllTicks(command == cmds::kCheckAll);
      view_->viewport()->update();
      return;
    case cmds::kSetPhoto:
      SetPhotoCommand();
      return;
    case cmds::kDeletePhoto:
      DeletePhotoCommand();
      return;
    case cmds::kShowPhoto:
      ShowPhotoCommand();
      return;
    case cmds::kAddToGroup:
      AddToGroupCommand();
      return;
    case cmds::kEditGroup:
      if (list_->selected()) EditGroup(*list_->selected());
      return;
    case cmds::kDeleteGroup:
      DeleteGroupCommand();
      return;
    default:
      break;
  }
  if (command >= cmds::kCategoryBase &&
      command - cmds::kCategoryBase < snapshot_->categories.size()) {
    Fill(snapshot_->categories[command - cmds::kCategoryBase]);
  }
}

void ContactPicker::OnBack() { done(kPickerCancelled); }

void ContactPicker::OnMenuPopup(QMenu* menu) {
  const PickerItem* item = SelectedItem();
  const bool group = item != nullptr && item->kind == PickerItem::Kind::kGroup;
  const bool contact =
      item != nullptr && item->kind == PickerItem::Kind::kContact;
  kit::CheckCommand(menu, cmds::kShowPhoto, show_photo());
  kit::EnableCommand(menu, cmds::kEditGroup, group);
  kit::EnableCommand(menu, cmds::kDeleteGroup, group);
  kit::EnableCommand(menu, cmds::kAddToGroup, contact);
  kit::EnableCommand(menu, cmds::kSetPhoto, contact);
  kit::EnableCommand(menu, cmds::kDeletePhoto,
                     contact && FindPhoto(environment_.settings->photo_folder(),
                                          list_->Name(*item)));
}

void ContactPicker::done(int result) {
  loader_->Stop(kPhotoLoaderPatience);
  info_delay_.stop();
  info_hide_.stop();
  info_->hide();
  DeviceDialog::done(result);
}

void ContactPicker::Confirm() {
  if (mode_ == kPickerSingle) {
    choice_ = list_->SingleOutput();
    if (!choice_) return;
    output_ = choice_->number;
  } else {
    output_ = list_->MultipleOutput();
  }
  done(kPickerConfirmed);
}

void ContactPicker::ToggleTick(size_t item) {
  if (!SelectItem(item) || !list_->ToggleTick()) return;
  RowChanged(item);
}

void ContactPicker::MoveChosenNumber() {
  if (!list_->selected()) return;
  if (list_->MoveChosenNumber()) RowChanged(*list_->selected());
  ShowInfoNow();
}

// ---- Photos

void ContactPicker::SetPhotoCommand() {
  const PickerItem* item = SelectedItem();
  if (item == nullptr || item->kind != PickerItem::Kind::kContact) return;
  const size_t row = *list_->selected();
  const std::u16string name(list_->Name(*item));
  settings::SettingsStore& settings = *environment_.settings;
  std::u16string folder = settings.last_dir();
  std::u16string chosen;
  const int answer = kit::BrowseForFile(
      this, kit::BrowseMode::kOpen,
      kit::StringView(kit::ids::kPictureExtensions), &folder, &chosen);
  settings.set_last_dir(folder);
  if (answer != 1) return;
  text::CutAtLineBreak(chosen);
  std::u16string stored;
  platform::Status status =
      SetPhoto(settings.photo_folder(), name, chosen, &stored);
  if (!status.ok()) {
    // Named as the copy would have been.
    std::u16string target = settings.photo_folder() + name;
    size_t dot = chosen.find_last_of(u".\\");
    if (dot != std::u16string::npos && chosen[dot] == u'.') {
      target += chosen.substr(dot);
    }
    ReportSaveFailure(stored.empty() ? target : stored, status);
  }
  // In place even when an older photo could not be removed.
  if (!stored.empty() && show_photo()) {
    loader_->Add(settings.photo_folder(), PhotoJob{static_cast<int>(row), name},
                 kPhotoRowHeight - 2 * kPhotoMargin);
  }
}

void ContactPicker::DeletePhotoCommand() {
  const PickerItem* item = SelectedItem();
  if (item == nullptr || item->kind != PickerItem::Kind::kContact) return;
  const size_t row = *list_->selected();
  const std::u16string& folder = environment_.settings->photo_folder();
  const std::u16string name(list_->Name(*item));
  std::optional<std::u16string> path = FindPhoto(folder, name);
  if (!path) return;
  platform::Status status = DeletePhoto(folder, name);
  if (!status.ok() && status.code() != platform::ErrorCode::kNotFound) {
    ReportSaveFailure(*path, status);
    return;
  }
  photos_[row] = QImage();
  RowChanged(row);
}

void ContactPicker::ShowPhotoCommand() {
  settings::SettingsStore& settings = *environment_.settings;
  settings.set_show_photo(show_photo() ? 0 : 1);
  platform::Status status = settings.Save();
  if (!status.ok()) ReportSaveFailure(kSettingsName, status);
  model_->Remeasure();
  if (show_photo()) {
    StartPhotos();
  } else {
    loader_->Stop(kPhotoLoaderPatience);
  }
  SyncSelection();
}

// ---- Send groups

void ContactPicker::AddToGroupCommand() {
  if (mode_ != kPickerMultiple) return;
  SendGroups& groups = environment_.store->groups();
  size_t chosen = 0;
  bool changed = false;
  const int answer = ChooseGroup(this, &groups, &chosen, &changed);
  if (answer == kGroupOk) list_->AddTickedContactsToGroup(groups, chosen);
  // The list's group items point into the groups: rebuilt when groups were
  // created or deleted, which the dialog did at once.
  if (changed) RebuildGroups();
  if (answer == kGroupOk || changed) SaveGroups();
}

void ContactPicker::EditGroup(size_t item) {
  if (item >= list_->items().size()) return;
  const PickerItem& group = list_->items()[item];
  if (group.kind != PickerItem::Kind::kGroup) return;
  if (EditMembers(this, &environment_.store->groups(), group.index) ==
      kGroupOk) {
    SaveGroups();
  }
}

void ContactPicker::DeleteGroupCommand() {
  const PickerItem* item = SelectedItem();
  if (item == nullptr || item->kind != PickerItem::Kind::kGroup) return;
  if (!environment_.store->groups().DeleteGroup(item->index)) return;
  RebuildGroups();
  SaveGroups();
}

void ContactPicker::SaveGroups() {
  const SendGroups& groups = environment_.store->groups();
  platform::Status status = groups.Save();
  if (!status.ok()) ReportSaveFailure(groups.path(), status);
}

void ContactPicker::ReportSaveFailure(std::u16string_view what,
                                      const platform::Status& status) {
  kit::ShowMessage(
      this,
      FillText(kit::Str(kit::ids::kSaveFailed),
               {kit::Q(what), QString::fromStdString(status.ToString())}),
      kit::Str(kit::ids::kCaptionError));
}

// ---- Keys and taps

bool ContactPicker::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (HandleKey(key->key(), key->text())) return true;
  }
  if (watched == view_->viewport() &&
      (event->type() == QEvent::MouseButtonPress ||
       event->type() == QEvent::MouseButtonDblClick) &&
      mode_ != kPickerSingle) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    const QModelIndex index = view_->indexAt(at);
    if (mouse->button() == Qt::LeftButton && index.isValid() &&
        at.x() - view_->visualRect(index).left() < kTickZone) {
      ToggleTick(static_cast<size_t>(index.row()));
      return true;
    }
  }
  return DeviceDialog::eventFilter(watched, event);
}

bool ContactPicker::HandleKey(int key, const QString& text) {
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
      QKeyEvent page(QEvent::KeyPress,
                     key == Qt::Key_Left ? Qt::Key_PageUp : Qt::Key_PageDown,
                     Qt::NoModifier);
      QApplication::sendEvent(view_, &page);
      return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Select:
      if (mode_ == kPickerSingle) {
        Confirm();
      } else if (list_->selected()) {
        ToggleTick(*list_->selected());
      }
      return true;
    default:
      break;
  }
  if (text.size() != 1 || !text[0].isPrint()) return false;
  const char16_t c = text[0].unicode();
  if (c == u'1' || c == u'*') {
    MoveChosenNumber();
  } else if (c >= u'2' && c <= u'9') {
    // Keypad phones find by digits; touch-screen devices by their tabs.
    if (!environment_.touch_screen && list_->PressDigit(c)) SyncSelection();
  } else if (IsAsciiLetter(c) || c == u'#') {
    if (list_->FindLetter(c)) SyncSelection();
  }
  // Other characters do nothing: the list's own search by typing is off.
  return true;
}

// ---- Entry points

int RunContactPicker(QWidget* parent, const PickerEnvironment& environment,
                     int mode, std::u16string* output) {
  ContactPicker picker(parent, environment, mode);
  if (picker.Run() != kPickerConfirmed) return kPickerCancelled;
  if (output != nullptr) *output = picker.output();
  return kPickerConfirmed;
}

int PickContact(QWidget* parent, const PickerEnvironment& environment,
                std::u16string* number, std::u16string* name) {
  ContactPicker picker(parent, environment, kPickerSingle);
  if (picker.Run() != kPickerConfirmed || !picker.choice()) {
    return kPickerCancelled;
  }
  if (number != nullptr) *number = picker.choice()->number;
  if (name != nullptr) *name = picker.choice()->name;
  return kPickerConfirmed;
}

}  // namespace contacts::ui
