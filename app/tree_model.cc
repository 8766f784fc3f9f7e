#include "app/tree_model.h"

#include <QFont>

#include "kit/images.h"
#include "kit/qt_text.h"

namespace app {

TreeModel::TreeModel(QObject* parent)
    : QAbstractItemModel(parent),
      icons_(kit::ImageStrip(kit::kBitmapTreeIcons)) {}

TreeModel::~TreeModel() { SetTree(nullptr); }

void TreeModel::SetTree(store::MessageTree* tree) {
  if (tree == tree_) return;
  beginResetModel();
  if (tree_ != nullptr) tree_->RemoveObserver(this);
  tree_ = tree;
  if (tree_ != nullptr) tree_->AddObserver(this);
  endResetModel();
}

QModelIndex TreeModel::IndexOf(const store::Node* node) const {
  if (node == nullptr || node->parent() == nullptr) return {};
  return createIndex(static_cast<int>(node->index_in_parent()), 0,
                     const_cast<store::Node*>(node));
}

store::Node* TreeModel::NodeOf(const QModelIndex& index) const {
  if (!index.isValid()) return tree_ != nullptr ? tree_->root() : nullptr;
  return static_cast<store::Node*>(index.internalPointer());
}

QModelIndex TreeModel::index(int row, int column,
                             const QModelIndex& parent) const {
  store::Node* node = NodeOf(parent);
  if (node == nullptr || column != 0 || row < 0 ||
      static_cast<size_t>(row) >= node->child_count()) {
    return {};
  }
  return createIndex(row, 0, node->child(static_cast<size_t>(row)));
}

QModelIndex TreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return IndexOf(NodeOf(child)->parent());
}

int TreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  store::Node* node = NodeOf(parent);
  return node == nullptr ? 0 : static_cast<int>(node->child_count());
}

int TreeModel::columnCount(const QModelIndex&) const { return 1; }

bool TreeModel::hasChildren(const QModelIndex& parent) const {
  store::Node* node = NodeOf(parent);
  return node != nullptr && node->child_count() > 0;
}

QVariant TreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  store::Node* node = NodeOf(index);
  switch (role) {
    case Qt::DisplayRole:
      return kit::Q(node->title());
    case Qt::DecorationRole: {
      size_t image = static_cast<size_t>(node->image());
      return image < icons_.size() ? QVariant(icons_[image]) : QVariant();
    }
    case Qt::FontRole:
      if (node->bold()) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
      return {};
    case kNodeRole:
      return QVariant::fromValue(static_cast<void*>(node));
    default:
      return {};
  }
}

void TreeModel::NodeAboutToBeInserted(store::Node* parent, size_t index) {
  beginInsertRows(IndexOf(parent), static_cast<int>(index),
                  static_cast<int>(index));
}

void TreeModel::NodeInserted(store::Node*, size_t, store::Node*) {
  endInsertRows();
}

void TreeModel::NodeAboutToBeRemoved(store::Node* parent, size_t index,
                                     store::Node*) {
  beginRemoveRows(IndexOf(parent), static_cast<int>(index),
                  static_cast<int>(index));
}

void TreeModel::NodeRemoved(store::Node*, size_t) { endRemoveRows(); }

void TreeModel::NodeChanged(store::Node* node) {
  QModelIndex changed = IndexOf(node);
  if (changed.isValid()) emit dataChanged(changed, changed);
}

void TreeModel::TreeAboutToBeReset() { beginResetModel(); }

void TreeModel::TreeReset() { endResetModel(); }

}  // namespace app
