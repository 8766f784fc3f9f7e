// The document's tree as a Qt item model, for the main window's tree view.
//
// It mirrors a store::MessageTree through the tree's change reports, so
// every insertion, removal, change and reset made by the document shows at
// once. Each index points at its Node (internalPointer); rows are children
// in tree order; there is one column. Titles, the 16 x 16 icon of the
// node's image and the bold state (a folder with unread messages, an
// unread message) are its data.
//
// UI thread only, like the tree. The tree must outlive the model or be
// detached from it first (SetTree(nullptr)).
#ifndef TELVANE_APP_TREE_MODEL_H_
#define TELVANE_APP_TREE_MODEL_H_

#include <QAbstractItemModel>
#include <QPixmap>
#include <vector>

#include "store/message_tree.h"

namespace app {

class TreeModel : public QAbstractItemModel, public store::TreeObserver {
  Q_OBJECT

 public:
  // The node behind an index.
  static constexpr int kNodeRole = Qt::UserRole + 1;

  explicit TreeModel(QObject* parent = nullptr);
  ~TreeModel() override;

  // Mirrors `tree` (nullptr: nothing).
  void SetTree(store::MessageTree* tree);
  store::MessageTree* tree() const { return tree_; }

  // The index of `node` (invalid for the root and for nullptr).
  QModelIndex IndexOf(const store::Node* node) const;
  // The node of `index` (the tree's root for an invalid index).
  store::Node* NodeOf(const QModelIndex& index) const;

  // The icon of each image number (0..8), magenta made transparent.
  const std::vector<QPixmap>& icons() const { return icons_; }

  // QAbstractItemModel
  QModelIndex index(int row, int column,
                    const QModelIndex& parent) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent) const override;
  int columnCount(const QModelIndex& parent) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool hasChildren(const QModelIndex& parent) const override;

  // store::TreeObserver
  void NodeAboutToBeInserted(store::Node* parent, size_t index) override;
  void NodeInserted(store::Node* parent, size_t index,
                    store::Node* node) override;
  void NodeAboutToBeRemoved(store::Node* parent, size_t index,
                            store::Node* node) override;
  void NodeRemoved(store::Node* parent, size_t index) override;
  void NodeChanged(store::Node* node) override;
  void TreeAboutToBeReset() override;
  void TreeReset() override;

 private:
  store::MessageTree* tree_ = nullptr;
  std::vector<QPixmap> icons_;
};

}  // namespace app

#endif  // TELVANE_APP_TREE_MODEL_H_
