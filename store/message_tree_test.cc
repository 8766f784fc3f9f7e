#include "store/message_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace store {
namespace {

IndexEntry Entry(int depth, std::u16string title, uint32_t image = kImageFolder,
                 uint32_t offset = 200) {
  IndexEntry entry;
  entry.depth = depth;
  entry.title = std::move(title);
  entry.image = image;
  entry.record_offset = offset;
  return entry;
}

// The shape of a tree as "title(child,child)" text.
std::u16string Shape(const Node* node) {
  std::u16string text;
  for (size_t i = 0; i < node->child_count(); ++i) {
    if (i != 0) text += u",";
    const Node* child = node->child(i);
    text += child->title();
    if (child->child_count() != 0) text += u"(" + Shape(child) + u")";
  }
  return text;
}

class Recorder : public TreeObserver {
 public:
  void NodeAboutToBeInserted(Node* parent, size_t index) override {
    Log("+?", parent, index);
  }
  void NodeInserted(Node* parent, size_t index, Node* node) override {
    Log("+" + std::string(node->title().begin(), node->title().end()), parent,
        index);
  }
  void NodeAboutToBeRemoved(Node* parent, size_t index, Node* node) override {
    Log("-" + std::string(node->title().begin(), node->title().end()), parent,
        index);
  }
  void NodeRemoved(Node* parent, size_t index) override {
    Log("-!", parent, index);
  }
  void NodeChanged(Node* node) override {
    events.push_back("~" +
                     std::string(node->title().begin(), node->title().end()));
  }
  void TreeAboutToBeReset() override { events.push_back("reset?"); }
  void TreeReset() override { events.push_back("reset"); }

  std::vector<std::string> events;

 private:
  void Log(const std::string& what, Node* parent, size_t index) {
    events.push_back(
        what + "@" +
        std::string(parent->title().begin(), parent->title().end()) + ":" +
        std::to_string(index));
  }
};

TEST(MessageTreeTest, BuildFollowsDepthsAndRoundTrips) {
  MessageTree tree;
  const std::vector<IndexEntry> entries = {
      Entry(0, u"Inbox"),
      Entry(1, u"Work"),
      Entry(2, u"m1", kImageMessageUnread, 300),
      Entry(1, u"m2", kImageMessageRead, 400),
      Entry(0, u"stored bin title", kImageRecycleBinFull, 999),
      Entry(1, u"gone", kImageMessageRead, 500),
      Entry(0, u"Drafts"),
  };
  BuildReport report = tree.Build(entries);
  EXPECT_TRUE(report.problems.empty());
  EXPECT_EQ(Shape(tree.root()), u"Inbox(Work(m1),m2),Recycle Bin(gone),Drafts");
  ASSERT_NE(report.recycle_bin, nullptr);
  EXPECT_EQ(report.recycle_bin->title(), u"Recycle Bin");
  EXPECT_EQ(report.recycle_bin->tag().record_offset, 0u);
  EXPECT_EQ(tree.size(), 7u);

  std::vector<IndexEntry> back = tree.ToIndexEntries();
  ASSERT_EQ(back.size(), entries.size());
  for (size_t i = 0; i < back.size(); ++i) {
    EXPECT_EQ(back[i].depth, entries[i].depth) << i;
    EXPECT_EQ(back[i].image, entries[i].image) << i;
    if (i != 4) {
      EXPECT_EQ(back[i].title, entries[i].title) << i;
      EXPECT_EQ(back[i].record_offset, entries[i].record_offset) << i;
    }
  }
  EXPECT_EQ(back[4].title, u"Recycle Bin");
  EXPECT_EQ(back[4].record_offset, 0u);
  Node* m1 = tree.root()->child(0)->child(0)->child(0);
  EXPECT_EQ(m1->depth(), 2);
  EXPECT_TRUE(m1->IsWithin(tree.root()->child(0)));
  EXPECT_FALSE(tree.root()->child(0)->IsWithin(m1));
  EXPECT_EQ(tree.root()->child(2)->index_in_parent(), 2u);
}

TEST(MessageTreeTest, BuildAttachesDamagedIndexesSafely) {
  MessageTree tree;
  BuildReport report = tree.Build({
      Entry(3, u"a"),   // first entry too deep
      Entry(5, u"b"),   // jump of four levels
      Entry(-2, u"c"),  // negative depth
      Entry(0, u"bin", kImageRecycleBinEmpty, 0),
      Entry(1, u"nested bin", kImageRecycleBinFull, 0),
      Entry(0, u"second bin", kImageRecycleBinEmpty, 0),
      Entry(0, u"odd", 77),
  });
  EXPECT_EQ(Shape(tree.root()),
            u"a(b),c,Recycle Bin(nested bin),second bin,odd");
  EXPECT_EQ(report.problems.size(), 6u);
  ASSERT_NE(report.recycle_bin, nullptr);
  EXPECT_EQ(report.recycle_bin, tree.root()->child(2));
  EXPECT_EQ(tree.root()->child(2)->child(0)->image(), kImageFolder);
  EXPECT_EQ(tree.root()->child(3)->image(), kImageFolder);
  EXPECT_EQ(tree.root()->child(4)->image(), kImageFolder);

  // A staircase far deeper than the limit stays within it.
  std::vector<IndexEntry> deep;
  for (int i = 0; i < 3 * kMaxTreeDepth; ++i) deep.push_back(Entry(i, u"d"));
  report = tree.Build(deep);
  int max_depth = 0;
  for (const IndexEntry& entry : tree.ToIndexEntries()) {
    max_depth = std::max(max_depth, entry.depth);
  }
  EXPECT_EQ(max_depth, kMaxTreeDepth);
  EXPECT_EQ(tree.size(), deep.size());
}

TEST(MessageTreeTest, ObserversSeeEveryChangeAndTitlesAreCleaned) {
  MessageTree tree;
  Recorder recorder;
  tree.AddObserver(&recorder);
  Node* a = tree.Append(nullptr, u"a", kImageFolder, {}, false);
  Node* b = tree.Append(a, u"b", kImageMessageRead, {}, false);
  tree.Append(a, u"c", kImageMessageRead, {}, false);
  tree.SetBold(b, true);
  tree.SetBold(b, true);  // no change, no report
  tree.SetUnread(b, 3);
  tree.Remove(a);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{
                                 "+?@:0", "+a@:0", "+?@a:0", "+b@a:0", "+?@a:1",
                                 "+c@a:1", "~b", "~b", "-a@:0", "-!@:0"}));
  EXPECT_TRUE(tree.empty());
  EXPECT_EQ(tree.size(), 0u);

  Node* t = tree.Append(nullptr, u"x\ty\r\nz", kImageFolder, {}, false);
  EXPECT_EQ(t->title(), u"x y  z");
  tree.SetTitle(t, std::u16string(300, u'w'));
  EXPECT_EQ(t->title().size(), kMaxTitleChars);
  recorder.events.clear();
  tree.Clear();
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"reset?", "reset"}));
  tree.RemoveObserver(&recorder);
}

// Positions are kept as children come and go: every child always knows its
// place, whatever was removed before it.
TEST(MessageTreeTest, PositionsFollowRemovals) {
  MessageTree tree;
  std::vector<Node*> nodes;
  for (int i = 0; i < 6; ++i) {
    nodes.push_back(tree.Append(nullptr, u"n", kImageFolder, {}, false));
  }
  tree.Remove(nodes[1]);
  tree.Remove(nodes[4]);
  tree.Append(nullptr, u"last", kImageFolder, {}, false);
  Node* root = tree.root();
  ASSERT_EQ(root->child_count(), 5u);
  for (size_t i = 0; i < root->child_count(); ++i) {
    EXPECT_EQ(root->child(i)->index_in_parent(), i);
  }
  EXPECT_EQ(nodes[5]->index_in_parent(), 3u);
}

}  // namespace
}  // namespace store
