// MessageTree: the document's tree of folders and messages, as a plain model.
//
// Every node has a title, an image (its kind, NodeImage 1..5), a NodeTag that
// ties it to its record in the message file, a bold state, an ordered list of
// children and a parent. The tree owns its nodes; a Node* stays valid until
// that node (or an ancestor) is removed or the tree is cleared or rebuilt.
// The root is an invisible node without title; the document's "root items"
// are its children, and their parent() is root().
//
// Every change is reported to the observers (a Qt item model mirrors the
// tree through them): insertions and removals before and after they happen,
// title/image/bold/tag changes afterwards, and whole-tree resets.
//
// The tree knows nothing about files or unread bookkeeping rules beyond
// storing what it is told; store::Document carries those out.
//
// Thread safety: none. The tree belongs to the thread that owns the document
// (the user-interface thread).
#ifndef TELVANE_STORE_MESSAGE_TREE_H_
#define TELVANE_STORE_MESSAGE_TREE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/message_file.h"

namespace store {

// Titles hold at most this many characters (a 260-character buffer with its
// terminator).
inline constexpr size_t kMaxTitleChars = 259;
// The title every Recycle Bin gets, whatever an index says.
inline constexpr std::u16string_view kRecycleBinTitle = u"Recycle Bin";
// Build attaches nothing deeper than this (depth 0 being a root item), so
// that walking or destroying a tree read from a hostile index stays within
// the stack.
inline constexpr int kMaxTreeDepth = 1000;
// The unlock stamp of a node whose password the user has just set.
inline constexpr uint16_t kUnlockedBySetting = 0xFFFF;

// The small tag every node carries.
struct NodeTag {
  uint32_t record_offset = 0;  // the node's NodeRecord; 0 = none (Recycle Bin)
  uint16_t unread = 0;         // unread messages in the subtree, self included
  uint16_t unlock_stamp = 0;   // 0, a minimize count's low 16 bits, or 0xFFFF

  bool operator==(const NodeTag&) const = default;
};

class MessageTree;

class Node {
 public:
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  const std::u16string& title() const { return title_; }
  NodeImage image() const { return image_; }
  const NodeTag& tag() const { return tag_; }
  bool bold() const { return bold_; }
  // The parent node; the tree's root() for root items; nullptr for root().
  Node* parent() const { return parent_; }
  size_t child_count() const { return children_.size(); }
  Node* child(size_t index) const { return children_[index].get(); }
  // Position among the parent's children (0 for the root). Kept by the
  // tree as children come and go, so asking costs nothing.
  size_t index_in_parent() const { return index_; }
  // 0 for root items.
  int depth() const;

  bool is_message() const {
    return image_ == kImageMessageRead || image_ == kImageMessageUnread;
  }
  bool is_recycle_bin() const {
    return image_ == kImageRecycleBinEmpty || image_ == kImageRecycleBinFull;
  }
  // True when `ancestor` is this node or lies above it.
  bool IsWithin(const Node* ancestor) const;

 private:
  friend class MessageTree;
  Node() = default;

  std::u16string title_;
  NodeImage image_ = kImageFolder;
  NodeTag tag_;
  bool bold_ = false;
  Node* parent_ = nullptr;
  size_t index_ = 0;  // position in parent_->children_
  std::vector<std::unique_ptr<Node>> children_;
};

// Receives the tree's change reports. Every method has an empty default.
class TreeObserver {
 public:
  virtual ~TreeObserver() = default;
  // A node is about to become child `index` of `parent`, and has.
  virtual void NodeAboutToBeInserted(Node* /*parent*/, size_t /*index*/) {}
  virtual void NodeInserted(Node* /*parent*/, size_t /*index*/,
                            Node* /*node*/) {}
  // `node` (child `index` of `parent`) is about to be destroyed with its
  // subtree; after NodeRemoved it no longer exists.
  virtual void NodeAboutToBeRemoved(Node* /*parent*/, size_t /*index*/,
                                    Node* /*node*/) {}
  virtual void NodeRemoved(Node* /*parent*/, size_t /*index*/) {}
  // Title, image, bold state or tag of `node` changed.
  virtual void NodeChanged(Node* /*node*/) {}
  // The whole tree is about to be replaced (cleared or rebuilt), and was.
  virtual void TreeAboutToBeReset() {}
  virtual void TreeReset() {}
};

// What Build found odd in an index and how it was attached.
struct BuildReport {
  Node* recycle_bin = nullptr;
  std::vector<std::string> problems;
};

class MessageTree {
 public:
  MessageTree();
  ~MessageTree();
  MessageTree(const MessageTree&) = delete;
  MessageTree& operator=(const MessageTree&) = delete;

  // Observers are not owned and must outlive the tree or be removed first.
  void AddObserver(TreeObserver* observer);
  void RemoveObserver(TreeObserver* observer);

  Node* root() { return root_.get(); }
  const Node* root() const { return root_.get(); }
  bool empty() const { return root_->children_.empty(); }
  // Number of nodes, the root not counted.
  size_t size() const { return size_; }

  // Adds a node as the last child of `parent` (the root when null). The
  // title is cleaned as by SetTitle.
  Node* Append(Node* parent, std::u16string_view title, NodeImage image,
               const NodeTag& tag, bool bold);
  // Destroys `node` and its subtree. The root cannot be removed.
  void Remove(Node* node);
  // Removes every node.
  void Clear();

  // Stores at most kMaxTitleChars characters; NUL, tab, CR and LF become
  // spaces (they would break the index's one-line-per-node text).
  void SetTitle(Node* node, std::u16string_view title);
  void SetImage(Node* node, NodeImage image);
  void SetBold(Node* node, bool bold);
  void SetTag(Node* node, const NodeTag& tag);
  void SetUnread(Node* node, uint16_t unread);
  void SetUnlockStamp(Node* node, uint16_t stamp);

  // The tree in pre-order (a node, its children, then its next sibling), as
  // an index stores it.
  std::vector<IndexEntry> ToIndexEntries() const;
  // Replaces the tree with the entries (pre-order, depth 0 for root items):
  // a deeper entry becomes a child of the one before it, a shallower one
  // goes up one parent per level, an equal one is a sibling. Depths below 0,
  // a first entry deeper than 0, and jumps of more than one level are
  // attached one level below the previous entry (or at the root); entries
  // deeper than kMaxTreeDepth at that depth. The first
  // root entry with image 4 or 5 becomes the Recycle Bin, titled "Recycle
  // Bin" with record offset 0; any other entry with image 4 or 5 becomes a
  // folder. Images outside 1..5 become folders. Unread counts and unlock
  // stamps start at 0; nothing is bold.
  BuildReport Build(const std::vector<IndexEntry>& entries);

 private:
  void NotifyChanged(Node* node);
  static std::u16string CleanTitle(std::u16string_view title);
  static size_t CountSubtree(const Node* node);

  std::unique_ptr<Node> root_;
  size_t size_ = 0;
  std::vector<TreeObserver*> observers_;
};

}  // namespace store

#endif  // TELVANE_STORE_MESSAGE_TREE_H_
