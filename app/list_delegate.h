// Draws the rows of the main window's list (ListModel): two lines of text
// beside the node's icon, a line along the bottom, and the selection mark's
// box at the right edge of markable rows. A tap within kMarkEdge pixels of
// the right edge of a markable row toggles its mark.
#ifndef TELVANE_APP_LIST_DELEGATE_H_
#define TELVANE_APP_LIST_DELEGATE_H_

#include <QStyledItemDelegate>

namespace app {

class ListDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // The width of the band at the right edge that toggles the mark.
  static constexpr int kMarkEdge = 21;
  // Where the text starts and the lines sit.
  static constexpr int kTextLeft = 20;
  static constexpr int kFirstLineTop = 2;

  explicit ListDelegate(QObject* parent = nullptr);

  // Two lines of `font` and 4 pixels.
  static int RowHeight(const QFont& font);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
  bool editorEvent(QEvent* event, QAbstractItemModel* model,
                   const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

}  // namespace app

#endif  // TELVANE_APP_LIST_DELEGATE_H_
