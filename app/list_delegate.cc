#include "app/list_delegate.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include "app/list_model.h"

namespace app {

namespace {
// Images of the mark boxes in the tree icon strip.
constexpr int kImageUnmarkedBox = 7;
constexpr int kImageMarkedBox = 8;
constexpr int kIconSize = 16;
}  // namespace

ListDelegate::ListDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

int ListDelegate::RowHeight(const QFont& font) {
  return 2 * QFontMetrics(font).height() + 4;
}

QSize ListDelegate::sizeHint(const QStyleOptionViewItem& option,
                             const QModelIndex&) const {
  return QSize(option.rect.width(), RowHeight(option.font));
}

void ListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
  const auto* model = qobject_cast<const ListModel*>(index.model());
  if (model == nullptr) return;
  painter->save();
  const QRect rect = option.rect;
  const bool selected = option.state & QStyle::State_Selected;
  const QPalette& palette = option.palette;
  painter->fillRect(rect, selected ? palette.highlight() : palette.base());
  painter->setPen(selected ? palette.highlightedText().color()
                           : palette.text().color());

  const int image = index.data(ListModel::kImageRole).toInt();
  const std::vector<QPixmap>& icons = model->icons();
  const int icon_top = rect.top() + (rect.height() - kIconSize) / 2;
  if (image >= 0 && static_cast<size_t>(image) < icons.size()) {
    if (index.data(ListModel::kOnClipboardRole).toBool()) {
      painter->setOpacity(0.5);
    }
    painter->drawPixmap(rect.left() + 2, icon_top,
                        icons[static_cast<size_t>(image)]);
    painter->setOpacity(1.0);
  }

  const int mark = index.data(ListModel::kMarkRole).toInt();
  int text_right = rect.right() - 2;
  if (mark != kNotMarkable) {
    int box = mark == kMarked ? kImageMarkedBox : kImageUnmarkedBox;
    if (static_cast<size_t>(box) < icons.size()) {
      painter->drawPixmap(rect.right() - kMarkEdge + 2, icon_top,
                          icons[static_cast<size_t>(box)]);
    }
    text_right = rect.right() - kMarkEdge;
  }

  if (image != 6) {  // the up entry shows its icon only
    QFont font = option.font;
    font.setBold(index.data(Qt::FontRole).value<QFont>().bold());
    painter->setFont(font);
    QFontMetrics metrics(font);
    const int width = text_right - (rect.left() + kTextLeft);
    const QString first = metrics.elidedText(
        index.data(Qt::DisplayRole).toString(), Qt::ElideRight, width);
    const QString second =
        metrics.elidedText(index.data(ListModel::kSecondLineRole).toString(),
                           Qt::ElideRight, width);
    painter->drawText(rect.left() + kTextLeft,
                      rect.top() + kFirstLineTop + metrics.ascent(), first);
    painter->drawText(rect.left() + kTextLeft,
                      rect.top() + rect.height() / 2 + metrics.ascent(),
                      second);
  }
  painter->setPen(palette.mid().color());
  painter->drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
  painter->restore();
}

bool ListDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                               const QStyleOptionViewItem& option,
                               const QModelIndex& index) {
  if (event->type() == QEvent::MouseButtonRelease) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    auto* list = qobject_cast<ListModel*>(model);
    if (list != nullptr &&
        mouse->position().toPoint().x() > option.rect.right() - kMarkEdge &&
        list->MarkAt(index.row()) != kNotMarkable) {
      list->ToggleMark(index.row());
      return true;
    }
  }
  return QStyledItemDelegate::editorEvent(event, model, option, index);
}

}  // namespace app
