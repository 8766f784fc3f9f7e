#include "contacts/sentence_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/testing/file_faults.h"
#include "platform/testing/temp_device.h"

namespace contacts {
namespace {

using platform::files::FileCall;
using platform::testing::FileFaults;
using platform::testing::TempDevice;

std::string Utf16(std::u16string_view text, bool bom = true) {
  std::string bytes = bom ? "\xFF\xFE" : "";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::string HostFile(const TempDevice& device, const std::string& path) {
  return platform::testing::ReadHostFile(device.HostPath(path));
}

TEST(SentenceStoreTest, FirstStartWritesTheDefaults) {
  TempDevice device;
  SentenceStore store(SentenceFilePath(u"\\"));
  ASSERT_EQ(store.path(), u"\\pelicorde.sen");
  ASSERT_TRUE(store.Load().ok());
  EXPECT_EQ(store.sentences(), DefaultSentences());
  EXPECT_EQ(store.marks(), DefaultMarkNames());
  EXPECT_FALSE(store.changed());
  EXPECT_EQ(
      HostFile(device, "\\pelicorde.sen"),
      Utf16(u"Yes.\r\nNo.\r\nThanks!\r\nPlease call my mobile.\r\n"
            u"I'll be right there.\r\nI'm running late.\r\n"
            u"I'll get back to you.\r\nSorry, I am busy now.\r\n`\r\n"
            u"Must Reply\r\nUrgency\r\nHome\r\nBusiness\r\nTechnical\r\n"));

  // The next start reads each list in reverse.
  SentenceStore again(u"\\pelicorde.sen");
  ASSERT_TRUE(again.Load().ok());
  EXPECT_EQ(again.sentences().front(), u"Sorry, I am busy now.");
  EXPECT_EQ(again.sentences().back(), u"Yes.");
  EXPECT_EQ(again.marks(),
            (std::vector<std::u16string>{u"Technical", u"Business", u"Home",
                                         u"Urgency", u"Must Reply"}));
}

TEST(SentenceStoreTest, EditsMarkChangedAndSurviveCancel) {
  TempDevice device;
  SentenceStore store(u"\\pelicorde.sen");
  ASSERT_TRUE(store.Load().ok());
  store.Add(SentenceList::kSentences, u"On my way");
  EXPECT_TRUE(store.changed());
  EXPECT_EQ(store.sentences().front(), u"On my way");
  EXPECT_TRUE(store.Modify(SentenceList::kMarks, 0, u"Later"));
  EXPECT_FALSE(store.Modify(SentenceList::kMarks, 5, u"x"));
  EXPECT_TRUE(store.Delete(SentenceList::kSentences, 1));  // "Yes."
  EXPECT_FALSE(store.Delete(SentenceList::kSentences, 99));
  store.Add(SentenceList::kSentences, u"");  // an empty text is added too
  ASSERT_TRUE(store.SaveIfChanged().ok());   // what Cancel does
  EXPECT_FALSE(store.changed());

  SentenceStore reread(u"\\pelicorde.sen");
  ASSERT_TRUE(reread.Load().ok());
  ASSERT_EQ(reread.sentences().size(), 9u);
  EXPECT_EQ(reread.sentences()[0], u"Sorry, I am busy now.");
  EXPECT_EQ(reread.sentences()[7], u"On my way");
  EXPECT_EQ(reread.sentences()[8], u"");
  EXPECT_EQ(reread.marks().back(), u"Later");
  EXPECT_EQ(
      std::count(reread.sentences().begin(), reread.sentences().end(), u"Yes."),
      0);
}

// A save that fails at any file call, or whose write is cut short, reports
// the failure and leaves the old file or the new one, whole, with nothing
// beside it; so does a crash at any moment; the lists keep the new texts.
TEST(SentenceStoreTest, EveryFailedSaveLeavesTheOldFileOrTheNew) {
  TempDevice device;
  const std::filesystem::path folder = device.HostPath("\\Texts");
  const std::filesystem::path host = folder / "pelicorde.sen";
  std::filesystem::create_directory(folder);
  const std::string old_bytes = Utf16(u"Old one\r\nOld two\r\n`\r\nMark\r\n");
  platform::testing::WriteHostFile(host, old_bytes);
  SentenceStore store(u"\\Texts\\pelicorde.sen");
  ASSERT_TRUE(store.Load().ok());
  store.Add(SentenceList::kSentences, u"New");
  ASSERT_TRUE(store.Delete(SentenceList::kMarks, 0));
  const std::vector<std::u16string> sentences = store.sentences();
  const std::vector<std::u16string> marks = store.marks();
  const std::string new_bytes = store.FileBytes();

  auto old_or_new = [&] {
    std::string now = platform::testing::ReadHostFile(host);
    EXPECT_TRUE(now == old_bytes || now == new_bytes) << now.size() << " bytes";
  };
  size_t calls = platform::testing::SweepFileFaults(
      [&] { platform::testing::WriteHostFile(host, old_bytes); },
      [&] { return store.Save(); },
      [&] {
        old_or_new();
        EXPECT_EQ(platform::testing::HostFileNames(folder),
                  std::vector<std::string>{"pelicorde.sen"});
        EXPECT_EQ(store.sentences(), sentences);
        EXPECT_EQ(store.marks(), marks);
        EXPECT_TRUE(store.changed());
      },
      old_or_new);
  EXPECT_GE(calls, 4u);
  ASSERT_TRUE(store.SaveIfChanged().ok());
  EXPECT_FALSE(store.changed());
  EXPECT_EQ(platform::testing::ReadHostFile(host), new_bytes);
}

// A sentence file that is there but cannot be read is never written over:
// the store works with the defaults, and neither the load nor a later save
// touches the file.
TEST(SentenceStoreTest, UnreadableFileIsLeftAlone) {
  TempDevice device;
  const std::filesystem::path folder = device.HostPath("\\pelicorde.sen");
  std::filesystem::create_directory(folder);
  SentenceStore store(u"\\pelicorde.sen");
  EXPECT_EQ(store.Load().code(), platform::ErrorCode::kAccessDenied);
  EXPECT_TRUE(store.file_unreadable());
  EXPECT_EQ(store.sentences(), DefaultSentences());
  EXPECT_EQ(store.marks(), DefaultMarkNames());
  store.Add(SentenceList::kMarks, u"Mine");
  EXPECT_EQ(store.SaveIfChanged().code(), platform::ErrorCode::kAccessDenied);
  EXPECT_TRUE(store.changed());
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(platform::testing::HostFileNames(folder).empty());

  // A file whose reading fails at once or part way, or comes back short.
  const std::filesystem::path host = device.HostPath("\\My Documents\\s.sen");
  const std::string bytes = Utf16(u"Kept\r\n`\r\nMark\r\n");
  const struct {
    const char* what;
    void (*arm)(FileFaults&);
    const char* cause;  // in the status the load reports
  } kFaults[] = {
      {"failed read",
       [](FileFaults& faults) { faults.FailCall(FileCall::kRead, 1, EIO); },
       "Input/output error"},
      // The sentence and the separator come, then the read fails.
      {"read failing part way",
       [](FileFaults& faults) {
         faults.FailMidway(FileCall::kRead, 1, 2 + 2 * 9, EIO);
       },
       "Input/output error"},
      {"short read",
       [](FileFaults& faults) { faults.CutCall(FileCall::kRead, 1, 0); },
       "ended after 0 of"},
  };
  for (const auto& fault : kFaults) {
    SCOPED_TRACE(fault.what);
    platform::testing::WriteHostFile(host, bytes);
    SentenceStore other(u"\\My Documents\\s.sen");
    {
      FileFaults faults;
      fault.arm(faults);
      platform::Status status = other.Load();
      EXPECT_EQ(status.code(), platform::ErrorCode::kIoError);
      EXPECT_NE(status.message().find(fault.cause), std::string::npos)
          << status.ToString();
      EXPECT_TRUE(faults.fired());
      EXPECT_EQ(faults.calls(FileCall::kCreate), 0u);
    }
    EXPECT_TRUE(other.file_unreadable());
    // The defaults, not what came of the file.
    EXPECT_EQ(other.sentences(), DefaultSentences());
    EXPECT_EQ(other.marks(), DefaultMarkNames());
    other.Add(SentenceList::kSentences, u"Typed after the failed load");
    EXPECT_FALSE(other.Save().ok());
    EXPECT_EQ(platform::testing::ReadHostFile(host), bytes);
    ASSERT_TRUE(other.Load().ok());
    EXPECT_FALSE(other.file_unreadable());
    EXPECT_EQ(other.sentences(), std::vector<std::u16string>{u"Kept"});
    EXPECT_EQ(other.marks(), std::vector<std::u16string>{u"Mark"});
  }
}

TEST(SentenceStoreTest, OddFilesLoadSafely) {
  SentenceStore store;
  // No separator: everything is a sentence; a lone CR or LF cuts the line.
  store.LoadBytes(Utf16(u"a\rjunk\nb\r\n"));
  EXPECT_EQ(store.sentences(), (std::vector<std::u16string>{u"b", u"a"}));
  EXPECT_TRUE(store.marks().empty());
  // Several separators; text after the backquote is dropped with it.
  store.LoadBytes(Utf16(u"s\r\n`x\r\nm1\r\n`\r\nm2"));
  EXPECT_EQ(store.sentences(), (std::vector<std::u16string>{u"s"}));
  EXPECT_EQ(store.marks(), (std::vector<std::u16string>{u"m2", u"m1"}));
  // A long line comes back in pieces of at most 259 characters.
  store.LoadBytes(Utf16(std::u16string(600, u'x') + u"\r\n"));
  ASSERT_EQ(store.sentences().size(), 3u);
  EXPECT_EQ(store.sentences()[2].size(), 259u);
  EXPECT_EQ(store.sentences()[0].size(), 600u - 2 * 259u);
  // Odd byte counts and files without a byte-order mark.
  store.LoadBytes(std::string("\xFF\xFE\x41\x00\x42", 5));
  EXPECT_EQ(store.sentences(), (std::vector<std::u16string>{u"A"}));
  store.LoadBytes("");
  EXPECT_TRUE(store.sentences().empty());
  store.LoadBytes(Utf16(u"Hi\r\nYo\r\n", false));
  EXPECT_EQ(store.sentences(), (std::vector<std::u16string>{u"Yo", u"i"}));
}

}  // namespace
}  // namespace contacts
