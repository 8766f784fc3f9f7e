// The tree model against the tree it mirrors, checked by Qt's model tester
// through inserts, removals, changes and rebuilds.
#include "app/tree_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QFont>
#include <QSignalSpy>

#include "kit/testing/qt_app.h"

namespace app {
namespace {

using store::MessageTree;
using store::Node;

TEST(TreeModelTest, MirrorsEveryChangeOfTheTree) {
  kit::testing::EnsureApplication();
  MessageTree tree;
  TreeModel model;
  QAbstractItemModelTester tester(
      &model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetTree(&tree);

  Node* inbox = tree.Append(nullptr, u"Inbox", store::kImageFolder, {}, false);
  Node* ann =
      tree.Append(inbox, u"Ann 2006-3-5", store::kImageMessageUnread, {}, true);
  Node* bob = tree.Append(inbox, u"Bob", store::kImageMessageRead, {}, false);
  tree.Append(nullptr, u"Notes", store::kImageFolder, {}, false);
  ASSERT_EQ(model.rowCount({}), 2);
  QModelIndex inbox_index = model.index(0, 0, {});
  EXPECT_EQ(model.NodeOf(inbox_index), inbox);
  EXPECT_EQ(model.rowCount(inbox_index), 2);
  EXPECT_EQ(model.IndexOf(bob), model.index(1, 0, inbox_index));
  EXPECT_EQ(model.parent(model.IndexOf(ann)), inbox_index);
  EXPECT_EQ(model.data(model.IndexOf(ann), Qt::DisplayRole).toString(),
            "Ann 2006-3-5");
  EXPECT_TRUE(
      model.data(model.IndexOf(ann), Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(model.data(model.IndexOf(bob), Qt::DecorationRole).isNull());

  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  tree.SetTitle(bob, u"Bob 2006-3-6");
  tree.SetBold(ann, false);
  EXPECT_EQ(changed.count(), 2);
  EXPECT_EQ(model.data(model.IndexOf(bob), Qt::DisplayRole).toString(),
            "Bob 2006-3-6");

  tree.Remove(ann);
  EXPECT_EQ(model.rowCount(inbox_index), 1);
  EXPECT_EQ(model.IndexOf(bob).row(), 0);

  tree.Build({{0, u"A", 0, store::kImageFolder},
              {1, u"B", 0, store::kImageMessageRead}});
  EXPECT_EQ(model.rowCount({}), 1);
  EXPECT_EQ(model.rowCount(model.index(0, 0, {})), 1);

  tree.Clear();
  EXPECT_EQ(model.rowCount({}), 0);
  model.SetTree(nullptr);
  EXPECT_EQ(model.rowCount({}), 0);
  tree.Append(nullptr, u"After", store::kImageFolder, {},
              false);  // no longer mirrored
  EXPECT_EQ(model.rowCount({}), 0);
}

}  // namespace
}  // namespace app
