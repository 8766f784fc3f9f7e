#include "store/message_tree.h"

#include <algorithm>

namespace store {

int Node::depth() const {
  int depth = -1;
  for (const Node* node = parent_; node != nullptr; node = node->parent_) {
    ++depth;
  }
  return depth;
}

bool Node::IsWithin(const Node* ancestor) const {
  if (ancestor == nullptr) return false;
  for (const Node* node = this; node != nullptr; node = node->parent_) {
    if (node == ancestor) return true;
  }
  return false;
}

MessageTree::MessageTree() : root_(new Node()) {}

MessageTree::~MessageTree() = default;

void MessageTree::AddObserver(TreeObserver* observer) {
  if (observer != nullptr && std::find(observers_.begin(), observers_.end(),
                                       observer) == observers_.end()) {
    observers_.push_back(observer);
  }
}

void MessageTree::RemoveObserver(TreeObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer),
                   observers_.end());
}

std::u16string MessageTree::CleanTitle(std::u16string_view title) {
  std::u16string clean(title.substr(0, kMaxTitleChars));
  for (char16_t& c : clean) {
    if (c == u'\0' || c == u'\t' || c == u'\r' || c == u'\n') c = u' ';
  }
  return clean;
}

size_t MessageTree::CountSubtree(const Node* node) {
  size_t count = 1;
  for (const auto& child : node->children_) count += CountSubtree(child.get());
  return count;
}

Node* MessageTree::Append(Node* parent, std::u16string_view title,
                          NodeImage image, const NodeTag& tag, bool bold) {
  if (parent == nullptr) parent = root_.get();
  std::unique_ptr<Node> node(new Node());
  node->title_ = CleanTitle(title);
  node->image_ = image;
  node->tag_ = tag;
  node->bold_ = bold;
  node->parent_ = parent;
  const size_t index = parent->children_.size();
  node->index_ = index;
  for (TreeObserver* observer : observers_) {
    observer->NodeAboutToBeInserted(parent, index);
  }
  Node* raw = node.get();
  parent->children_.push_back(std::move(node));
  ++size_;
  for (TreeObserver* observer : observers_) {
    observer->NodeInserted(parent, index, raw);
  }
  return raw;
}

void MessageTree::Remove(Node* node) {
  if (node == nullptr || node == root_.get() || node->parent_ == nullptr) {
    return;
  }
  Node* parent = node->parent_;
  const size_t index = node->index_in_parent();
  for (TreeObserver* observer : observers_) {
    observer->NodeAboutToBeRemoved(parent, index, node);
  }
  const size_t removed = CountSubtree(node);
  // Keep the node alive until it is out of the list, then destroy it.
  std::unique_ptr<Node> owned = std::move(parent->children_[index]);
  parent->children_.erase(parent->children_.begin() +
                          static_cast<std::ptrdiff_t>(index));
  for (size_t i = index; i < parent->children_.size(); ++i) {
    parent->children_[i]->index_ = i;
  }
  size_ -= removed;
  owned.reset();
  for (TreeObserver* observer : observers_) {
    observer->NodeRemoved(parent, index);
  }
}

void MessageTree::Clear() {
  for (TreeObserver* observer : observers_) observer->TreeAboutToBeReset();
  root_->children_.clear();
  size_ = 0;
  for (TreeObserver* observer : observers_) observer->TreeReset();
}

void MessageTree::NotifyChanged(Node* node) {
  for (TreeObserver* observer : observers_) observer->NodeChanged(node);
}

void MessageTree::SetTitle(Node* node, std::u16string_view title) {
  if (node == nullptr || node == root_.get()) return;
  node->title_ = CleanTitle(title);
  NotifyChanged(node);
}

void MessageTree::SetImage(Node* node, NodeImage image) {
  if (node == nullptr || node == root_.get() || node->image_ == image) return;
  node->image_ = image;
  NotifyChanged(node);
}

void MessageTree::SetBold(Node* node, bool bold) {
  if (node == nullptr || node == root_.get() || node->bold_ == bold) return;
  node->bold_ = bold;
  NotifyChanged(node);
}

void MessageTree::SetTag(Node* node, const NodeTag& tag) {
  if (node == nullptr || node == root_.get() || node->tag_ == tag) return;
  node->tag_ = tag;
  NotifyChanged(node);
}

void MessageTree::SetUnread(Node* node, uint16_t unread) {
  if (node == nullptr) return;
  NodeTag tag = node->tag_;
  tag.unread = unread;
  SetTag(node, tag);
}

void MessageTree::SetUnlockStamp(Node* node, uint16_t stamp) {
  if (node == nullptr) return;
  NodeTag tag = node->tag_;
  tag.unlock_stamp = stamp;
  SetTag(node, tag);
}

std::vector<IndexEntry> MessageTree::ToIndexEntries() const {
  std::vector<IndexEntry> entries;
  entries.reserve(size_);
  // Iterative pre-order walk: a damaged or huge tree never exhausts the
  // stack.
  struct Frame {
    const Node* node;
    size_t next_child;
  };
  std::vector<Frame> stack{{root_.get(), 0}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next_child == frame.node->children_.size()) {
      stack.pop_back();
      continue;
    }
    const Node* child = frame.node->children_[frame.next_child++].get();
    IndexEntry entry;
    entry.depth = static_cast<int>(stack.size()) - 1;
    entry.title = child->title_;
    entry.image = child->image_;
    entry.record_offset =
        child->is_recycle_bin() ? 0 : child->tag_.record_offset;
    entries.push_back(std::move(entry));
    stack.push_back({child, 0});
  }
  return entries;
}

BuildReport MessageTree::Build(const std::vector<IndexEntry>& entries) {
  BuildReport report;
  for (TreeObserver* observer : observers_) observer->TreeAboutToBeReset();
  root_->children_.clear();
  size_ = 0;

  // path[d] is the last node placed at depth d.
  std::vector<Node*> path;
  for (size_t i = 0; i < entries.size(); ++i) {
    const IndexEntry& entry = entries[i];
    int depth = entry.depth;
    // One below the last entry, and never past the depth limit.
    const int deepest = std::min(static_cast<int>(path.size()), kMaxTreeDepth);
    if (depth < 0 || depth > deepest) {
      const int attached = std::clamp(depth, 0, deepest);
      report.problems.push_back("entry " + std::to_string(i) + " at depth " +
                                std::to_string(depth) + " attached at depth " +
                                std::to_string(attached));
      depth = attached;
    }
    path.resize(static_cast<size_t>(depth));
    Node* parent = depth == 0 ? root_.get() : path.back();

    NodeImage image = static_cast<NodeImage>(entry.image);
    std::u16string_view title = entry.title;
    uint32_t offset = entry.record_offset;
    const bool bin_image =
        image == kImageRecycleBinEmpty || image == kImageRecycleBinFull;
    if (bin_image && depth == 0 && report.recycle_bin == nullptr) {
      title = kRecycleBinTitle;
      offset = 0;
    } else if (bin_image || image < kImageFolder ||
               image > kImageRecycleBinFull) {
      report.problems.push_back("entry " + std::to_string(i) + " has image " +
                                std::to_string(entry.image) +
                                ", kept as a folder");
      image = kImageFolder;
    }

    std::unique_ptr<Node> node(new Node());
    node->title_ = CleanTitle(title);
    node->image_ = image;
    node->tag_.record_offset = offset;
    node->parent_ = parent;
    node->index_ = parent->children_.size();
    Node* raw = node.get();
    parent->children_.push_back(std::move(node));
    ++size_;
    if (image == kImageRecycleBinEmpty || image == kImageRecycleBinFull) {
      report.recycle_bin = raw;
    }
    path.push_back(raw);
  }
  for (TreeObserver* observer : observers_) observer->TreeReset();
  return report;
}

}  // namespace store
