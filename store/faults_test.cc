// Saving and compacting a document when the host refuses any one of their
// file calls, or cuts a write short (platform/testing/file_faults.h): the
// document on disk is the old version or the new one, never a mix; the
// document in memory keeps the new one; and a crash at any point of the save
// loses nothing that was filed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/temp_device.h"
#include "platform/unicode.h"
#include "store/document.h"

namespace store {
namespace {

constexpr std::u16string_view kPath = u"\\faults.zud";
constexpr std::u16string_view kCrashed = u"\\crashed.zud";
const platform::SystemTime kTime{2026, 12, 3, 8, 9, 30, 0, 0};

std::string HostBytes(std::u16string_view path) {
  return platform::testing::ReadHostFile(*platform::files::Resolve(path));
}

void WriteHost(std::u16string_view path, const std::string& bytes) {
  platform::testing::WriteHostFile(*platform::files::Resolve(path), bytes);
}

// "title [image]" of every node in pre-order, with depth.
std::vector<std::string> Lines(const Document& doc) {
  std::vector<std::string> lines;
  for (const IndexEntry& entry : doc.tree().ToIndexEntries()) {
    lines.push_back(std::to_string(entry.depth) + " " +
                    platform::ToUtf8(entry.title) + " [" +
                    std::to_string(entry.image) + "]");
  }
  return lines;
}

// The texts of every message in the tree, sorted.
std::vector<std::string> Messages(Document& doc) {
  std::vector<std::string> texts;
  std::vector<Node*> pending = {doc.tree().root()};
  while (!pending.empty()) {
    Node* node = pending.back();
    pending.pop_back();
    for (size_t i = 0; i < node->child_count(); ++i)
      pending.push_back(node->child(i));
    if (node->is_message()) {
      texts.push_back(platform::ToUtf8(doc.ReadNodeBody(node).value_or(u"?")));
    }
  }
  std::sort(texts.begin(), texts.end());
  return texts;
}

class DocumentFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Document doc(options_);
    ASSERT_TRUE(doc.New(kPath, {}).ok());
    Node* inbox = doc.WellKnownFolder(kFolderInbox);
    for (const char16_t* text : {u"one", u"two", u"three"}) {
      ASSERT_NE(doc.StoreMessage(inbox, u"10086", text, kTime), nullptr);
    }
    ASSERT_TRUE(doc.Close().ok());
    old_bytes_ = HostBytes(kPath);
    Document old_view(options_);
    ASSERT_TRUE(old_view.OpenForReading(kPath).ok());
    old_lines_ = Lines(old_view);
  }

  // The document open on the old file, with changes not yet saved: a
  // message filed, one deleted, a folder made, the author changed.
  void Restore() {
    doc_.reset();
    WriteHost(kPath, old_bytes_);
    doc_ = std::make_unique<Document>(options_);
    ASSERT_TRUE(doc_->Open(kPath).ok());
    Node* inbox = doc_->WellKnownFolder(kFolderInbox);
    ASSERT_NE(doc_->StoreMessage(inbox, u"10010", u"four", kTime), nullptr);
    ASSERT_TRUE(doc_->DeleteNodes(std::vector<Node*>{inbox->child(0)}));
    ASSERT_NE(doc_->FindOrCreateFolderPath(u"\\Work"), nullptr);
    doc_->file().header().set_author(u"new author");
    doc_->file().MarkHeaderDirty();
    new_lines_ = Lines(*doc_);
  }

  // What a reader finds on disk now: the old save or the new one, whole.
  void ExpectOldOrNew() {
    Document view(options_);
    LoadReport report;
    ASSERT_TRUE(view.OpenForReading(kPath, &report).ok());
    EXPECT_FALSE(report.damaged());
    const std::vector<std::string> lines = Lines(view);
    EXPECT_TRUE(lines == old_lines_ || lines == new_lines_);
  }

  // What a crash now would leave: opened again, it holds every message
  // filed (the deleted one may come back; nothing is lost).
  void ExpectNothingLost() {
    WriteHost(kCrashed, HostBytes(kPath));
    Document crashed(options_);
    LoadReport report;
    ASSERT_TRUE(crashed.Open(kCrashed, false, &report).ok());
    EXPECT_FALSE(report.damaged());
    std::vector<std::string> messages = Messages(crashed);
    for (const char* title : {"two", "three", "four"}) {
      EXPECT_NE(std::find(messages.begin(), messages.end(), title),
                messages.end())
          << title;
    }
    crashed.file().ForbidWrites();
  }

  platform::testing::TempDevice device_;
  DocumentOptions options_;
  std::string old_bytes_;
  std::vector<std::string> old_lines_;
  std::vector<std::string> new_lines_;
  std::unique_ptr<Document> doc_;
};

TEST_F(DocumentFaultsTest, EverySaveLeavesTheOldDocumentOrTheNew) {
  size_t calls = platform::testing::SweepFileFaults(
      [&] { Restore(); }, [&] { return doc_->Save(); },
      [&] {
        ExpectOldOrNew();
        // The program goes on with what it holds.
        EXPECT_EQ(Lines(*doc_), new_lines_);
        ExpectNothingLost();
      },
      [&] { ExpectNothingLost(); });
  EXPECT_GE(calls, 3u);  // the index, its commit, the header and its commit
  doc_.reset();
}

TEST_F(DocumentFaultsTest, EveryCompactionLeavesTheOldDocumentOrTheNew) {
  const std::u16string packed = std::u16string(kPath) + u".ban";
  platform::testing::SweepFileFaults(
      [&] {
        Restore();
        ASSERT_TRUE(doc_->Save().ok());
        new_lines_ = Lines(*doc_);
        platform::files::Delete(packed).IgnoreError();
      },
      [&] {
        return doc_->file().CompactTo(packed, doc_->tree().ToIndexEntries());
      },
      [&] {
        // No partial copy is left, the document itself is untouched.
        EXPECT_FALSE(platform::files::Exists(packed));
        ExpectOldOrNew();
        EXPECT_TRUE(doc_->IsOpen());
      });
  doc_.reset();
}

TEST_F(DocumentFaultsTest, ACompressWithAnyCallFailingLeavesADocumentWhole) {
  // The whole command: save, compact, keep a backup (a failed backup is
  // answered "continue"), copy over, reopen. Whatever call fails, the file
  // at the path is a whole document with the saved messages.
  auto prepare = [&] {
    Restore();
    ASSERT_TRUE(doc_->Save().ok());
    new_lines_ = Lines(*doc_);
    for (const char16_t* name : {u"\\faults.zud.ban", u"\\faults.zud.bak"})
      platform::files::Delete(name).IgnoreError();
  };
  size_t calls = 0;
  prepare();
  {
    platform::testing::FileFaults counting;
    ASSERT_TRUE(doc_->Compact().ok());
    calls = counting.calls();
  }
  for (size_t n = 1; n <= calls; ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n));
    prepare();
    {
      platform::testing::FileFaults faults;
      faults.FailCall(n);
      doc_->Compact().IgnoreError();
      EXPECT_TRUE(faults.fired());
    }
    doc_.reset();
    Document view(options_);
    ASSERT_TRUE(view.OpenForReading(kPath).ok());
    EXPECT_EQ(Lines(view), new_lines_);
  }
}

}  // namespace
}  // namespace store
