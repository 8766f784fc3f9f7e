// The main window's message list (display mode 2) as a Qt model: the
// children of one folder of the document's tree, each with a selection mark,
// and an "up" entry first when the folder is not the root.
//
// Rows show two lines. A folder's (or the Recycle Bin's) lines are its
// title and "Unread:%d Count:%d"; a message's are the sender's display name
// with its date, and the start of its body. A message's lines read its
// record and body from the file, so they are computed the first time the
// row is drawn and cached; a message with a node password shows an empty
// first line and "<Need Password>" and is never cached.
//
// The model watches the tree: entries whose node leaves the tree are
// dropped at once (no entry ever points at a removed node), nodes added to
// the listed folder appear as new entries, and changed nodes are redrawn.
// When the listed folder itself is removed the list goes to the root.
//
// UI thread only, like the document. The document must outlive the model.
#ifndef TELVANE_APP_LIST_MODEL_H_
#define TELVANE_APP_LIST_MODEL_H_

#include <QAbstractListModel>
#include <QPixmap>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "store/document.h"
#include "store/message_tree.h"

namespace app {

// Selection marks of list entries.
inline constexpr int32_t kNotMarked = 0;
inline constexpr int32_t kMarked = 1;
inline constexpr int32_t kNotMarkable = -1;

class ListModel : public QAbstractListModel, private store::TreeObserver {
  Q_OBJECT

 public:
  // Data roles besides DisplayRole (the first line), DecorationRole (the
  // 16 x 16 icon) and FontRole (bold when the node counts unread ones).
  static constexpr int kSecondLineRole = Qt::UserRole + 1;
  static constexpr int kMarkRole = Qt::UserRole + 2;         // int
  static constexpr int kImageRole = Qt::UserRole + 3;        // NodeImage
  static constexpr int kOnClipboardRole = Qt::UserRole + 4;  // bool

  explicit ListModel(store::Document* document, QObject* parent = nullptr);
  ~ListModel() override;

  // The folder listed (nullptr: the root), or none at all.
  store::Node* folder() const { return folder_; }
  bool filled() const { return filled_; }

  // Lists the children of `folder` (nullptr: the root), with an up entry
  // first unless it is the root. Does not check passwords.
  void Fill(store::Node* folder);
  // Empties the list (no folder).
  void Clear();

  // The node of `row`; nullptr for the up entry or a row out of range.
  store::Node* NodeAt(int row) const;
  bool IsUpEntry(int row) const;
  // The row showing `node`, or -1.
  int RowOf(const store::Node* node) const;

  int32_t MarkAt(int row) const;
  // Toggles a markable entry between 0 and 1; false for others.
  bool ToggleMark(int row);
  // Every markable entry gets `mark` (0 or 1).
  void SetAllMarks(int32_t mark);
  // The nodes of the entries marked 1, in list order.
  std::vector<store::Node*> MarkedNodes() const;

  // The row's two lines (computed and cached as described above).
  QString FirstLine(int row) const;
  QString SecondLine(int row) const;

  // The icons of the images 0..8 (7 and 8: the mark boxes).
  const std::vector<QPixmap>& icons() const { return icons_; }

  // QAbstractItemModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  struct Entry {
    store::Node* node = nullptr;  // nullptr: the up entry
    int32_t mark = kNotMarked;
    // Cached lines of a message.
    mutable std::optional<QString> first;
    mutable std::optional<QString> second;
  };

  static Entry MakeEntry(store::Node* node);
  void ComputeLines(const Entry& entry) const;
  bool Shows(const store::Node* folder) const;

  // store::TreeObserver
  void NodeInserted(store::Node* parent, size_t index,
                    store::Node* node) override;
  void NodeAboutToBeRemoved(store::Node* parent, size_t index,
                            store::Node* node) override;
  void NodeChanged(store::Node* node) override;
  void TreeAboutToBeReset() override;

  store::Document* document_;
  store::Node* folder_ = nullptr;
  bool filled_ = false;
  std::vector<Entry> entries_;
  std::vector<QPixmap> icons_;
};

}  // namespace app

#endif  // TELVANE_APP_LIST_MODEL_H_
