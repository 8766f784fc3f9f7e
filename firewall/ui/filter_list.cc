#include "firewall/ui/filter_list.h"

#include <QAbstractListModel>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <utility>

#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"

namespace firewall::ui {

namespace cmds = kit::cmds;

namespace {

// The slots with an icon, in the order the row shows them.
constexpr std::array<int, 8> kIconOrder = {
    kPlaySound, kVibrate,         kDontShowInInbox, kSpecificPhoto,
    kAutoReply, kShowPopupWindow, kAutoForward,     kUnreadAlert,
};

constexpr int kRowHeight = 20;
constexpr int kMargin = 2;
const QColor kInk(0x31, 0x4a, 0x7b);

// The text for a string-table format with one "%d" or "%s".
QString FillFormat(uint32_t id, const QString& value) {
  QString format = kit::Str(id);
  qsizetype at = format.indexOf(QLatin1Char('%'));
  if (at < 0 || at + 1 >= format.size()) return format;
  return format.replace(at, 2, value);
}

// The check image: a box, with a check mark when the filter is enabled.
void DrawCheck(QPainter* painter, const QRect& box, bool checked) {
  painter->setPen(kInk);
  painter->setBrush(Qt::white);
  painter->drawRect(box.adjusted(0, 0, -1, -1));
  if (!checked) return;
  painter->setPen(QPen(Qt::black, 2));
  const QPointF mark[] = {
      QPointF(box.left() + box.width() * 0.2, box.top() + box.height() * 0.5),
      QPointF(box.left() + box.width() * 0.42, box.top() + box.height() * 0.75),
      QPointF(box.left() + box.width() * 0.8, box.top() + box.height() * 0.22)};
  painter->drawPolyline(mark, 3);
}

// An arrow along y = 8 from `from` to `to`, head at `to`.
void DrawArrow(QPainter* p, qreal from, qreal to) {
  const qreal head = to > from ? -4 : 4;
  p->drawLine(QPointF(from, 8), QPointF(to, 8));
  p->drawLine(QPointF(to, 8), QPointF(to + head, 4));
  p->drawLine(QPointF(to, 8), QPointF(to + head, 12));
}

// Draws the glyph of `slot` into a 16 by 16 painter.
void DrawGlyph(QPainter* p, int slot) {
  p->setPen(QPen(kInk, 1.5));
  p->setBrush(Qt::NoBrush);
  switch (slot) {
    case kPlaySound: {  // a loudspeaker with two waves
      const QPointF cone[] = {{2, 6},  {5, 6},  {9, 2},
                              {9, 14}, {5, 10}, {2, 10}};
      p->setBrush(kInk);
      p->drawPolygon(cone, 6);
      p->setBrush(Qt::NoBrush);
      p->drawArc(QRectF(7, 5, 5, 6), -60 * 16, 120 * 16);
      p->drawArc(QRectF(7, 2, 8, 12), -60 * 16, 120 * 16);
      return;
    }
    case kVibrate:  // a phone between two zigzags
      p->drawRoundedRect(QRectF(5, 2, 6, 12), 1, 1);
      for (qreal x : {2.0, 14.0}) {
        const QPointF zig[] = {
            {x, 4}, {x - 1, 6}, {x + 1, 8}, {x - 1, 10}, {x, 12}};
        p->drawPolyline(zig, 5);
      }
      return;
    case kDontShowInInbox:  // an in-tray, struck through
      p->drawRect(QRectF(2, 6, 12, 7));
      p->drawLine(QPointF(2, 9), QPointF(14, 9));
      p->setPen(QPen(Qt::red, 2));
      p->drawLine(QPointF(2, 2), QPointF(14, 14));
      return;
    case kSpecificPhoto: {  // a picture: a hill and the sun
      p->drawRect(QRectF(1.5, 2.5, 13, 11));
      const QPointF hill[] = {{2, 13}, {6, 8}, {9, 11}, {11, 9}, {14, 13}};
      p->setBrush(QColor(0x3a, 0x8a, 0x3a));
      p->setPen(Qt::NoPen);
      p->drawPolygon(hill, 5);
      p->setBrush(QColor(0xe8, 0xb0, 0x20));
      p->drawEllipse(QRectF(10, 4, 3, 3));
      return;
    }
    case kAutoReply: {  // an arrow turning back to the left
      QPainterPath path(QPointF(13, 13));
      path.cubicTo(QPointF(13, 6), QPointF(9, 6), QPointF(3, 6));
      p->drawPath(path);
      p->drawLine(QPointF(3, 6), QPointF(7, 2));
      p->drawLine(QPointF(3, 6), QPointF(7, 10));
      return;
    }
    case kShowPopupWindow:  // a small window with a title bar
      p->drawRect(QRectF(1.5, 2.5, 13, 11));
      p->fillRect(QRectF(1.5, 2.5, 13, 3), kInk);
      return;
    case kAutoForward:  // an arrow to the right
      DrawArrow(p, 2, 14);
      return;
    case kUnreadAlert:  // a letter with a red dot
      p->drawRect(QRectF(1.5, 4.5, 11, 8));
      p->drawLine(QPointF(1.5, 4.5), QPointF(7, 9));
      p->drawLine(QPointF(12.5, 4.5), QPointF(7, 9));
      p->setPen(Qt::NoPen);
      p->setBrush(Qt::red);
      p->drawEllipse(QRectF(10, 1, 5, 5));
      return;
    default:
      return;
  }
}

}  // namespace

std::vector<int> ActionIcons(const FilterRecord& filter) {
  std::vector<int> present;
  for (int slot : kIconOrder) {
    if (filter.Has(slot)) present.push_back(slot);
  }
  return present;
}

QImage ActionIcon(int slot) {
  if (std::find(kIconOrder.begin(), kIconOrder.end(), slot) ==
      kIconOrder.end()) {
    return {};
  }
  static std::array<QImage, kActionSlotCount>* const icons =
      new std::array<QImage, kActionSlotCount>();
  QImage& icon = (*icons)[static_cast<size_t>(slot)];
  if (icon.isNull()) {
    icon = QImage(kActionIconSize, kActionIconSize,
                  QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawGlyph(&painter, slot);
  }
  return icon;
}

QString CutName(const QString& name, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(name) <= width) return name;
  const QString dots = QStringLiteral("..");
  QString cut = name;
  while (!cut.isEmpty() && metrics.horizontalAdvance(cut + dots) > width) {
    cut.chop(1);
  }
  return cut + dots;
}

// The rows over the set's filters.
class FilterListModel : public QAbstractListModel {
 public:
  FilterListModel(FilterSet* set, QObject* parent)
      : QAbstractListModel(parent), set_(set) {}

  int rowCount(const QModelIndex& parent) const override {
    if (parent.isValid()) return 0;
    return static_cast<int>(set_->filters.size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    const FilterRecord* filter = Filter(index);
    if (filter == nullptr || role != Qt::DisplayRole) return {};
    return kit::Q(filter->name);
  }

  const FilterRecord* Filter(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= rowCount({})) return nullptr;
    return &set_->filters[static_cast<size_t>(index.row())];
  }

  void Reset() {
    beginResetModel();
    endResetModel();
  }
  void RowChanged(int row) { emit dataChanged(index(row), index(row)); }

 private:
  FilterSet* set_;
};

namespace {

// Draws a row: check image, name, action icons.
class FilterRowDelegate : public QStyledItemDelegate {
 public:
  FilterRowDelegate(FilterListModel* model, QObject* parent)
      : QStyledItemDelegate(parent), model_(model) {}

  QSize sizeHint(const QStyleOptionViewItem&,
                 const QModelIndex&) const override {
    return QSize(0, kRowHeight);
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const FilterRecord* filter = model_->Filter(index);
    if (filter == nullptr) return;
    const QRect rect = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->fillRect(
        rect, selected ? option.palette.highlight() : option.palette.base());
    DrawCheck(painter, QRect(rect.left() + 4, rect.center().y() - 6, 13, 13),
              filter->enabled != 0);

    const std::vector<int> icons = ActionIcons(*filter);
    const int x = rect.left() + kCheckZone;
    const int icons_width = static_cast<int>(icons.size()) * kActionIconStep;
    const int name_room = std::max(0, rect.right() - x - icons_width - kMargin);
    const QString name =
        CutName(kit::Q(filter->name), option.fontMetrics, name_room);
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText)
                             : option.palette.color(QPalette::Text));
    painter->drawText(QRect(x, rect.top(), name_room, rect.height()),
                      Qt::AlignVCenter | Qt::AlignLeft, name);

    int icon_x = x + option.fontMetrics.horizontalAdvance(name) + kMargin;
    const int icon_y = rect.top() + (rect.height() - kActionIconSize) / 2;
    for (int slot : icons) {
      painter->drawImage(QPoint(icon_x, icon_y), ActionIcon(slot));
      icon_x += kActionIconStep;
    }
    painter->restore();
  }

 private:
  FilterListModel* model_;
};

}  // namespace

FilterListDialog::FilterListDialog(QWidget* parent, FilterSet* set,
                                   const FilterEditEnvironment& environment)
    : DeviceDialog(parent, kFilterListTemplate),
      set_(set),
      environment_(environment),
      model_(new FilterListModel(set, this)),
      view_(new QListView(content())) {
  title_bar()->SetCaption(kit::Str(kit::ids::kFiltersTitle));
  soft_keys()->SetMenuBar(kit::FilterListMenuBar());

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(0, 0, 0, 0);
  kit::SetControlId(view_, kFilterListId);
  view_->setModel(model_);
  view_->setItemDelegate(new FilterRowDelegate(model_, view_));
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  view_->installEventFilter(this);
  view_->viewport()->installEventFilter(this);
  layout->addWidget(view_, 1);

  if (const kit::MenuEntry* entry =
          kit::FindPopup(kit::ContextMenus(), kit::ids::kFilterMenu)) {
    context_menu_ = kit::BuildMenu(*entry, this);
    connect(context_menu_, &QMenu::triggered, this, [this](QAction* action) {
      if (uint32_t command = kit::CommandOf(action)) OnCommand(command);
    });
  }
  connect(view_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowContextMenu(at); });
  connect(view_, &QListView::doubleClicked, this,
          [this](const QModelIndex& index) {
            if (index.isValid()) Edit();
          });
  Refill(0);
}

FilterListDialog::~FilterListDialog() = default;

int FilterListDialog::SelectedRow() const {
  const QModelIndex current = view_->currentIndex();
  return model_->Filter(current) != nullptr ? current.row() : -1;
}

void FilterListDialog::SelectRow(int row) {
  const QModelIndex index = model_->index(row);
  if (!index.isValid()) return;
  view_->setCurrentIndex(index);
  view_->scrollTo(index);
}

void FilterListDialog::Refill(int row) {
  model_->Reset();
  const int count = model_->rowCount({});
  if (count > 0) SelectRow(std::clamp(row, 0, count - 1));
}

void FilterListDialog::Create(FilterEditMode mode) {
  FilterRecord filter = NewFilter();
  filter.SetName(kit::U(FillFormat(kit::ids::kNewFilterName,
                                   QString::number(set_->filters.size()))));
  if (RunFilterEdit(this, &filter, mode, environment_) != kFilterEditOk) {
    return;
  }
  filter.enabled = 1;
  // At the top: the new filter is matched first.
  set_->filters.insert(set_->filters.begin(), std::move(filter));
  Refill(0);
}

void FilterListDialog::Edit() {
  const int row = SelectedRow();
  if (row < 0) return;
  // Filter Edit works in place, so even a cancelled one may have stored
  // fields: the row is redrawn either way.
  RunFilterEdit(this, &set_->filters[static_cast<size_t>(row)],
                FilterEditMode::kUser, environment_);
  model_->RowChanged(row);
}

void FilterListDialog::Delete() {
  const int row = SelectedRow();
  if (row < 0) return;
  const auto at = set_->filters.begin() + row;
  const QString question =
      FillFormat(kit::ids::kConfirmDeleteFilter, kit::Q(at->name));
  if (kit::ShowMessage(this, question, kit::Str(kit::ids::kCaptionWarning),
                       kit::Buttons::kOkCancel) != kit::kAnswerOk) {
    return;
  }
  set_->filters.erase(at);
  Refill(row);
}

void FilterListDialog::Move(int step) {
  const int row = SelectedRow();
  const int to = row + step;
  if (row < 0 || to < 0 || to >= static_cast<int>(set_->filters.size())) {
    return;
  }
  std::swap(set_->filters[static_cast<size_t>(row)],
            set_->filters[static_cast<size_t>(to)]);
  model_->RowChanged(row);
  model_->RowChanged(to);
  SelectRow(to);
}

void FilterListDialog::Toggle(int row) {
  if (row < 0 || row >= static_cast<int>(set_->filters.size())) return;
  FilterRecord& filter = set_->filters[static_cast<size_t>(row)];
  filter.enabled = filter.enabled != 0 ? 0 : 1;
  model_->RowChanged(row);
}

void FilterListDialog::ShowContextMenu(const QPoint& at) {
  if (context_menu_ == nullptr) return;
  const QModelIndex index = view_->indexAt(at);
  if (index.isValid()) SelectRow(index.row());
  context_menu_->popup(view_->viewport()->mapToGlobal(at));
}

void FilterListDialog::OnCommand(uint32_t command) {
  switch (command) {
    case kit::kCommandOk:  // the title bar's OK button
    case cmds::kDone:
      done(kFilterListDone);
      return;
    case kit::kCommandCancel:
    case cmds::kCancel:
      done(kFilterListCancelled);
      return;
    case cmds::kNewFilter:
      Create(FilterEditMode::kUser);
      return;
    case cmds::kFastCreate:
      Create(FilterEditMode::kFastCreate);
      return;
    case cmds::kEditFilter:
      Edit();
      return;
    case cmds::kDelete:
      Delete();
      return;
    case cmds::kMoveUp:
      Move(-1);
      return;
    case cmds::kMoveDown:
      Move(1);
      return;
    default:
      return;
  }
}

bool FilterListDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::KeyPress) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      // Left and Right toggle the selected filter; they do not page here.
      case Qt::Key_Left:
      case Qt::Key_Right:
        Toggle(SelectedRow());
        return true;
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Select:
        Edit();
        return true;
      default:
        break;
    }
  }
  if (watched == view_->viewport() &&
      (event->type() == QEvent::MouseButtonPress ||
       event->type() == QEvent::MouseButtonDblClick)) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    const QModelIndex index = view_->indexAt(at);
    if (mouse->button() == Qt::LeftButton && index.isValid() &&
        at.x() - view_->visualRect(index).left() < kCheckZone) {
      SelectRow(index.row());
      Toggle(index.row());
      return true;
    }
  }
  return DeviceDialog::eventFilter(watched, event);
}

int RunFilterList(QWidget* parent, FilterSet* set,
                  const FilterEditEnvironment& environment) {
  FilterListDialog dialog(parent, set, environment);
  return dialog.Run() == kFilterListDone ? kFilterListDone
                                         : kFilterListCancelled;
}

}  // namespace firewall::ui
