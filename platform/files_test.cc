#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/testing/file_faults.h"
#include "platform/testing/temp_device.h"
#include "platform/unicode.h"

namespace platform::files {
namespace {

namespace fs = std::filesystem;
using platform::testing::FileFaults;

std::string ReadHost(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReadDevice(std::u16string_view path) {
  std::unique_ptr<File> file = File::Open(path, "rb");
  if (!file) return "<missing>";
  std::string content(4096, '\0');
  size_t got = 0;
  if (Status status = file->Read(content.data(), content.size(), &got);
      !status.ok()) {
    return "<unreadable: " + status.ToString() + ">";
  }
  content.resize(got);
  return content;
}

// Up to `size` bytes read at the stream's position (or at `offset`); the
// read must work.
std::string ReadFrom(File* file, size_t size) {
  std::string bytes(size, '\0');
  size_t got = 0;
  Status status = file->Read(bytes.data(), size, &got);
  EXPECT_TRUE(status.ok()) << status.ToString();
  bytes.resize(got);
  return bytes;
}

std::string ReadFromAt(File* file, size_t size, uint64_t offset) {
  std::string bytes(size, '\0');
  size_t got = 0;
  Status status = file->ReadAt(bytes.data(), size, offset, &got);
  EXPECT_TRUE(status.ok()) << status.ToString();
  bytes.resize(got);
  return bytes;
}

Status WriteDevice(std::u16string_view path, const std::string& content) {
  Status status;
  std::unique_ptr<File> file = File::Open(path, "wb", &status);
  if (!file) return status;
  if (file->Write(content.data(), content.size()) != content.size()) {
    return Status(ErrorCode::kIoError, "short write");
  }
  return file->Close();
}

std::vector<std::u16string> Names(std::u16string_view pattern,
                                  Status* status = nullptr) {
  std::vector<std::u16string> names;
  for (const FindData& data : Find(pattern, status)) names.push_back(data.name);
  return names;
}

ErrorCode ResolveCode(std::u16string_view path) {
  Status status;
  std::optional<fs::path> host = Resolve(path, &status);
  EXPECT_EQ(host.has_value(), status.ok());
  return status.code();
}

TEST(FilesResolve, ComponentsIgnoreCase) {
  testing::TempDevice device;
  fs::path fs_root = device.root() / "fs";

  // Created through one spelling, opened through another: one file, which
  // keeps the case it was created with, inside the existing "Windows".
  ASSERT_TRUE(WriteDevice(u"\\windows\\X", "hello").ok());
  EXPECT_EQ(ReadHost(fs_root / "Windows" / "X"), "hello");
  EXPECT_FALSE(fs::exists(fs_root / "windows"));
  EXPECT_EQ(ReadDevice(u"\\Windows\\x"), "hello");
  EXPECT_EQ(Resolve(u"/WINDOWS/./x"), fs_root / "Windows" / "X");
  EXPECT_EQ(Resolve(u"windows\\\\x\\"), fs_root / "Windows" / "X");
  EXPECT_EQ(ToDevicePath(fs_root / "Windows" / "X"), u"\\Windows\\X");

  // The missing tail is kept as given.
  EXPECT_EQ(Resolve(u"\\program files\\New\\Deeper"),
            fs_root / "Program Files" / "New" / "Deeper");
  EXPECT_EQ(Resolve(u"\\"), fs_root);
  EXPECT_EQ(Resolve(u""), fs_root);

  // Letters beyond ASCII fold too; names travel as UTF-8 on the host.
  ASSERT_TRUE(CreateFolder(u"\\\u00c9t\u00e9").ok());
  EXPECT_TRUE(fs::is_directory(fs_root / "\u00c9t\u00e9"));
  EXPECT_EQ(Resolve(u"\\\u00e9T\u00c9"), fs_root / "\u00c9t\u00e9");
  EXPECT_EQ(ToDevicePath(fs_root / "\u00c9t\u00e9"), u"\\\u00c9t\u00e9");

  // Several host names that differ only in case: the exact one when given,
  // else always the first in case-insensitive order.
  platform::testing::WriteHostFile(fs_root / "dUP", "second");
  platform::testing::WriteHostFile(fs_root / "Dup", "first");
  EXPECT_EQ(Resolve(u"\\dup"), fs_root / "Dup");
  EXPECT_EQ(Resolve(u"\\DUP"), fs_root / "Dup");
  EXPECT_EQ(Resolve(u"\\dUP"), fs_root / "dUP");

  // A file in the middle of a path is not a folder.
  EXPECT_EQ(ResolveCode(u"\\Windows\\x\\y"), ErrorCode::kNotFound);

  EXPECT_EQ(ToDevicePath(fs_root), u"\\");
  EXPECT_EQ(ToDevicePath(fs_root / "My Documents" / ".." / "Temp" / ""),
            u"\\Temp");
  EXPECT_FALSE(ToDevicePath(device.root() / "device.db").has_value());
  EXPECT_FALSE(ToDevicePath(fs_root / ".." / "device.db").has_value());
  EXPECT_FALSE(ToDevicePath(device.root() / "fsx").has_value());
}

TEST(FilesResolve, RefusesEscapesAndBadNames) {
  testing::TempDevice device;
  fs::path fs_root = device.root() / "fs";

  EXPECT_EQ(ResolveCode(u"\\..\\device.db"), ErrorCode::kAccessDenied);
  EXPECT_EQ(ResolveCode(u"\\a\\..\\..\\x"), ErrorCode::kAccessDenied);
  EXPECT_EQ(ResolveCode(u"\\Windows\\..\\x"), ErrorCode::kAccessDenied);
  EXPECT_EQ(ResolveCode(u"../device.db"), ErrorCode::kAccessDenied);
  EXPECT_EQ(File::Open(u"\\..\\device.db", "rb"), nullptr);

  for (std::u16string bad : std::vector<std::u16string>{
           u"\\a<b", u"\\a>b", u"\\c:\\x", u"\\a\"b", u"\\a|b", u"\\a?", u"\\*",
           u"\\a\tb", std::u16string(u"\\a\0b", 4)}) {
    EXPECT_EQ(ResolveCode(bad), ErrorCode::kInvalidArgument) << ToUtf8(bad);
  }
  // 255 UTF-8 bytes is the longest name; "é" is two bytes.
  EXPECT_EQ(ResolveCode(u"\\" + std::u16string(255, u'a')), ErrorCode::kOk);
  EXPECT_EQ(ResolveCode(u"\\" + std::u16string(256, u'a')),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(ResolveCode(u"\\" + std::u16string(128, u'\u00e9')),
            ErrorCode::kInvalidArgument);

  // Links planted on the host, pointing out of fs/, are never followed.
  platform::testing::WriteHostFile(device.root() / "outside", "secret");
  ASSERT_EQ(
      symlink((device.root() / "outside").c_str(), (fs_root / "Leak").c_str()),
      0);
  ASSERT_EQ(symlink(device.root().c_str(), (fs_root / "Up").c_str()), 0);
  EXPECT_EQ(ResolveCode(u"\\Leak"), ErrorCode::kAccessDenied);
  EXPECT_EQ(ResolveCode(u"\\leak"), ErrorCode::kAccessDenied);
  EXPECT_EQ(ResolveCode(u"\\up\\device.db"), ErrorCode::kAccessDenied);
  for (const char* mode : {"rb", "rb+", "wb", "wb+c"}) {
    Status status;
    EXPECT_EQ(File::Open(u"\\Leak", mode, &status), nullptr);
    EXPECT_EQ(status.code(), ErrorCode::kAccessDenied) << mode;
  }
  EXPECT_EQ(ReadHost(device.root() / "outside"), "secret");
  EXPECT_FALSE(Exists(u"\\Leak"));
  EXPECT_EQ(Delete(u"\\Leak").code(), ErrorCode::kAccessDenied);
  EXPECT_EQ(Copy(u"\\Leak", u"\\copy", false).code(), ErrorCode::kAccessDenied);
  ASSERT_TRUE(WriteDevice(u"\\Temp\\f", "mine").ok());
  EXPECT_EQ(Copy(u"\\Temp\\f", u"\\leak", false).code(),
            ErrorCode::kAccessDenied);
  EXPECT_TRUE(fs::exists(fs_root / "Leak"));
  std::vector<std::u16string> names = Names(u"\\*");
  EXPECT_EQ(std::count(names.begin(), names.end(), u"Leak"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), u"Up"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), u"Windows"), 1);
  Status status;
  Find(u"\\Up\\*", &status);
  EXPECT_EQ(status.code(), ErrorCode::kAccessDenied);
}

TEST(FilesFind, OrderPatternsAndAttributes) {
  testing::TempDevice device;
  fs::path folder = device.root() / "fs" / "Program Files" / "Telvane";
  for (const char* name :
       {"b", "A", "c", "README", "x.cfg", "Y.CFG", "pelicorde.exe",
        "Pelicorde_old.exe", "loader.exe"}) {
    platform::testing::WriteHostFile(folder / name, name);
  }
  fs::create_directory(folder / "skins");
  chmod((folder / "c").c_str(), 0444);

  Status status;
  EXPECT_EQ(
      Names(u"\\program files\\telvane\\*", &status),
      (std::vector<std::u16string>{u"A", u"b", u"c", u"loader.exe",
                                   u"pelicorde.exe", u"Pelicorde_old.exe",
                                   u"README", u"skins", u"x.cfg", u"Y.CFG"}));
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(Names(u"\\Program Files\\Telvane\\*.*").size(), 10u);
  EXPECT_EQ(Names(u"\\Program Files\\Telvane\\*.cfg"),
            (std::vector<std::u16string>{u"x.cfg", u"Y.CFG"}));
  EXPECT_EQ(
      Names(u"/Program Files/Telvane/pelicorde*.exe"),
      (std::vector<std::u16string>{u"pelicorde.exe", u"Pelicorde_old.exe"}));
  EXPECT_EQ(Names(u"\\Program Files\\Telvane\\?"),
            (std::vector<std::u16string>{u"A", u"b", u"c"}));
  EXPECT_EQ(Names(u"\\Program Files\\Telvane\\readme.*"),
            (std::vector<std::u16string>{u"README"}));
  EXPECT_TRUE(Names(u"\\Program Files\\Telvane\\*.zud", &status).empty());
  EXPECT_TRUE(status.ok());

  std::vector<FindData> found = Find(u"\\Program Files\\Telvane\\*");
  ASSERT_EQ(found.size(), 10u);
  EXPECT_EQ(found[0].attributes, kAttributeArchive);
  EXPECT_EQ(found[0].size, 1u);
  EXPECT_EQ(found[2].attributes, kAttributeArchive | kAttributeReadOnly);
  EXPECT_EQ(found[7].name, u"skins");
  EXPECT_EQ(found[7].attributes, kAttributeDirectory);
  EXPECT_EQ(found[7].size, 0u);
  EXPECT_GT(found[0].last_write_time.value(), 116444736000000000ULL);
  EXPECT_EQ(found[0].creation_time.value(), found[0].last_write_time.value());

  Finder finder;
  FindData data;
  std::vector<std::u16string> walked;
  for (bool more = finder.First(u"\\Program Files\\Telvane\\*.exe", &data);
       more; more = finder.Next(&data)) {
    walked.push_back(data.name);
  }
  EXPECT_EQ(walked,
            (std::vector<std::u16string>{u"loader.exe", u"pelicorde.exe",
                                         u"Pelicorde_old.exe"}));
  EXPECT_FALSE(finder.Next(&data));
  EXPECT_FALSE(finder.First(u"\\Missing\\*", &data));

  Find(u"\\Missing\\*", &status);
  EXPECT_EQ(status.code(), ErrorCode::kNotFound);
  Find(u"\\Program Files\\Telvane\\README\\*", &status);
  EXPECT_EQ(status.code(), ErrorCode::kNotFound);

  EXPECT_TRUE(MatchesPattern(u"*", u""));
  EXPECT_TRUE(MatchesPattern(u"*.*", u"noext"));
  EXPECT_TRUE(MatchesPattern(u"A*B*C", u"axxbyyBzc"));
  EXPECT_FALSE(MatchesPattern(u"a*b*c", u"axxbyyBzcd"));
  EXPECT_TRUE(MatchesPattern(u"\u00c9*", u"\u00e9t\u00e9"));
  EXPECT_FALSE(MatchesPattern(u"?", u""));
  EXPECT_FALSE(MatchesPattern(u"a.*", u"ab"));
  EXPECT_FALSE(MatchesPattern(u"", u"a"));
}

TEST(FilesOpen, Modes) {
  testing::TempDevice device;
  fs::path host = device.root() / "fs" / "My Documents" / "data.bin";
  Status status;

  for (const char* mode : {"", "r", "w", "rb+x", "ab", "rt", "wbcc", "c"}) {
    EXPECT_EQ(File::Open(u"\\My Documents\\data.bin", mode, &status), nullptr);
    EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument) << mode;
  }
  EXPECT_EQ(File::Open(u"\\My Documents\\data.bin", "rb", &status), nullptr);
  EXPECT_EQ(status.code(), ErrorCode::kNotFound);
  EXPECT_EQ(File::Open(u"\\My Documents\\data.bin", "rb+c", &status), nullptr);
  EXPECT_EQ(status.code(), ErrorCode::kNotFound);
  EXPECT_EQ(File::Open(u"\\No Folder\\data.bin", "wb", &status), nullptr);
  EXPECT_EQ(status.code(), ErrorCode::kNotFound);
  EXPECT_EQ(File::Open(u"\\My Documents", "rb", &status), nullptr);
  EXPECT_EQ(status.code(), ErrorCode::kAccessDenied);
  EXPECT_EQ(File::Open(u"\\My Documents", "wb", &status), nullptr);
  EXPECT_EQ(status.code(), ErrorCode::kAccessDenied);

  {
    std::unique_ptr<File> file =
        File::Open(u"\\my documents\\data.bin", "wb+c", &status);
    ASSERT_NE(file, nullptr) << status.ToString();
    EXPECT_EQ(file->Write("hello world", 11), 11u);
    EXPECT_EQ(file->Size(), 11u);
    EXPECT_TRUE(file->Flush().ok());
    EXPECT_TRUE(file->Flush().ok());
    EXPECT_EQ(ReadHost(host), "hello world");
    // Read straight after a write, then write after a read.
    ASSERT_TRUE(file->Seek(6, SEEK_SET).ok());
    EXPECT_EQ(ReadFrom(file.get(), 5), "world");
    ASSERT_TRUE(file->Seek(-5, SEEK_CUR).ok());
    EXPECT_EQ(file->Write("W", 1), 1u);
    EXPECT_EQ(ReadFrom(file.get(), 4), "orld");
    EXPECT_EQ(file->Write("!", 1), 1u);
    EXPECT_EQ(file->Tell(), 12);
    // Truncate writes what is buffered, then cuts or extends with zeros
    // and leaves the position alone.
    EXPECT_EQ(file->Write("??", 2), 2u);
    ASSERT_TRUE(file->Truncate(16).ok());
    EXPECT_EQ(file->Size(), 16u);
    EXPECT_EQ(ReadHost(host), std::string("hello World!??\0\0", 16));
    ASSERT_TRUE(file->Truncate(12).ok());
    EXPECT_EQ(file->Size(), 12u);
    EXPECT_EQ(file->Tell(), 14);
    ASSERT_TRUE(file->Seek(12, SEEK_SET).ok());
    EXPECT_EQ(file->Seek(-1, SEEK_SET).code(), ErrorCode::kInvalidArgument);
    EXPECT_EQ(file->Seek(0, 42).code(), ErrorCode::kInvalidArgument);
    EXPECT_TRUE(file->Close().ok());
    EXPECT_EQ(file->Truncate(0).code(), ErrorCode::kInvalidArgument);
    EXPECT_EQ(file->Write("x", 1), 0u);
    char c = '?';
    size_t got = 1;
    EXPECT_EQ(file->Read(&c, 1, &got).code(), ErrorCode::kInvalidArgument);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(file->ReadAt(&c, 1, 0, &got).code(), ErrorCode::kInvalidArgument);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(file->Tell(), -1);
    EXPECT_FALSE(file->Size().has_value());
    EXPECT_TRUE(file->Close().ok());
  }
  EXPECT_EQ(ReadHost(host), "hello World!");

  {
    // rb+ keeps the content and writes in place; seeking past the end and
    // writing leaves a zero-filled gap.
    std::unique_ptr<File> file = File::Open(u"\\My Documents\\DATA.BIN", "rb+");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("J", 1), 1u);
    ASSERT_TRUE(file->Seek(15, SEEK_END).ok());
    EXPECT_EQ(file->Write("end", 3), 3u);
    EXPECT_EQ(file->Size(), 30u);
    ASSERT_TRUE(file->Seek(0, SEEK_SET).ok());
    // Short at the end, and nothing after it: no failure.
    EXPECT_EQ(ReadFrom(file.get(), 64),
              std::string("Jello World!") + std::string(15, '\0') + "end");
    EXPECT_EQ(ReadFrom(file.get(), 64), "");
    // Positional reads see what is still buffered and leave the stream
    // where it was.
    ASSERT_TRUE(file->Seek(1, SEEK_SET).ok());
    EXPECT_EQ(file->Write("E", 1), 1u);
    EXPECT_EQ(ReadFromAt(file.get(), 5, 0), "JEllo");
    EXPECT_EQ(ReadFromAt(file.get(), 10, 27), "end");  // short at the end
    EXPECT_EQ(ReadFromAt(file.get(), 1, 30), "");
    EXPECT_EQ(file->Tell(), 2);
    EXPECT_EQ(file->Write("L", 1), 1u);
    EXPECT_EQ(ReadFromAt(file.get(), 3, 0), "JEL");
  }
  {
    std::unique_ptr<File> file = File::Open(u"\\My Documents\\data.bin", "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("x", 1), 0u);  // read-only stream
    EXPECT_EQ(file->Size(), 30u);
  }
  {
    std::unique_ptr<File> file = File::Open(u"\\My Documents\\data.bin", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size(), 0u);  // truncated
    // A write-only stream cannot be read: a failure, not an empty file.
    char c;
    size_t got = 1;
    EXPECT_EQ(file->Read(&c, 1, &got).code(), ErrorCode::kIoError);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(file->ReadAt(&c, 1, 0, &got).code(), ErrorCode::kIoError);
    EXPECT_EQ(got, 0u);
    // The failure does not stick: the stream still writes.
    EXPECT_EQ(file->Write("ok", 2), 2u);
  }
  EXPECT_EQ(ReadHost(host), "ok");
}

TEST(FilesCopy, ReplacesAtomically) {
  testing::TempDevice device;
  fs::path folder = device.root() / "fs" / "My Documents";
  ASSERT_TRUE(WriteDevice(u"\\My Documents\\a.txt", "new content").ok());
  ASSERT_TRUE(WriteDevice(u"\\My Documents\\b.txt", "old").ok());

  EXPECT_EQ(
      Copy(u"\\my documents\\A.TXT", u"\\My Documents\\B.txt", true).code(),
      ErrorCode::kAlreadyExists);
  EXPECT_EQ(ReadHost(folder / "b.txt"), "old");
  EXPECT_TRUE(
      Copy(u"\\my documents\\A.TXT", u"\\My Documents\\B.txt", false).ok());
  EXPECT_EQ(ReadHost(folder / "b.txt"), "new content");
  EXPECT_TRUE(Copy(u"\\My Documents\\a.txt", u"\\Temp\\C.txt", true).ok());
  EXPECT_EQ(ReadHost(device.root() / "fs" / "Temp" / "C.txt"), "new content");

  chmod((folder / "a.txt").c_str(), 0444);
  EXPECT_TRUE(
      Copy(u"\\My Documents\\a.txt", u"\\My Documents\\ro.txt", false).ok());
  EXPECT_EQ(Attributes(u"\\My Documents\\ro.txt"),
            kAttributeArchive | kAttributeReadOnly);

  EXPECT_EQ(
      Copy(u"\\My Documents\\a.txt", u"\\my documents\\a.txt", false).code(),
      ErrorCode::kAccessDenied);
  EXPECT_EQ(ReadHost(folder / "a.txt"), "new content");
  EXPECT_EQ(Copy(u"\\My Documents\\none", u"\\My Documents\\d", false).code(),
            ErrorCode::kNotFound);
  EXPECT_EQ(Copy(u"\\My Documents", u"\\Temp\\d", false).code(),
            ErrorCode::kAccessDenied);
  EXPECT_EQ(Copy(u"\\My Documents\\a.txt", u"\\No Folder\\d", false).code(),
            ErrorCode::kNotFound);
  EXPECT_EQ(Copy(u"\\My Documents\\a.txt", u"\\Windows", false).code(),
            ErrorCode::kAccessDenied);

  // Nothing but the files themselves is left behind.
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.txt", "b.txt", "ro.txt"}));
}

TEST(FilesOperations, ErrorCodes) {
  testing::TempDevice device;
  ASSERT_TRUE(WriteDevice(u"\\Temp\\f.txt", "12345").ok());

  EXPECT_EQ(Attributes(u"\\temp"), kAttributeDirectory);
  EXPECT_EQ(Attributes(u"\\"), kAttributeDirectory);
  EXPECT_EQ(Attributes(u"\\Temp\\F.TXT"), kAttributeArchive);
  Status status;
  EXPECT_FALSE(Attributes(u"\\Temp\\none", &status).has_value());
  EXPECT_EQ(status.code(), ErrorCode::kNotFound);
  EXPECT_EQ(Size(u"\\Temp\\f.txt"), 5u);
  EXPECT_EQ(Size(u"\\Temp"), 0u);
  EXPECT_FALSE(Size(u"\\Temp\\none", &status).has_value());
  EXPECT_EQ(status.code(), ErrorCode::kNotFound);
  EXPECT_TRUE(Exists(u"\\TEMP\\f.txt"));
  EXPECT_FALSE(IsFolder(u"\\TEMP\\f.txt"));
  EXPECT_TRUE(IsFolder(u"\\TEMP"));
  EXPECT_FALSE(Exists(u"\\Temp\\f.txt\\x"));

  EXPECT_EQ(CreateFolder(u"\\temp\\Sub").code(), ErrorCode::kOk);
  EXPECT_TRUE(fs::is_directory(device.root() / "fs" / "Temp" / "Sub"));
  EXPECT_EQ(CreateFolder(u"\\Temp\\sub").code(), ErrorCode::kAlreadyExists);
  EXPECT_EQ(CreateFolder(u"\\Temp\\f.txt").code(), ErrorCode::kAlreadyExists);
  EXPECT_EQ(CreateFolder(u"\\").code(), ErrorCode::kAlreadyExists);
  EXPECT_EQ(CreateFolder(u"\\No\\Sub").code(), ErrorCode::kNotFound);
  EXPECT_EQ(CreateFolder(u"\\a|b").code(), ErrorCode::kInvalidArgument);

  EXPECT_EQ(Delete(u"\\Temp\\Sub").code(), ErrorCode::kAccessDenied);
  EXPECT_EQ(Delete(u"\\Temp\\none").code(), ErrorCode::kNotFound);
  EXPECT_EQ(RemoveFolder(u"\\Temp").code(), ErrorCode::kAccessDenied);
  EXPECT_EQ(RemoveFolder(u"\\Temp\\f.txt").code(), ErrorCode::kNotFound);
  EXPECT_EQ(RemoveFolder(u"\\Temp\\none").code(), ErrorCode::kNotFound);
  EXPECT_EQ(RemoveFolder(u"\\").code(), ErrorCode::kAccessDenied);
  EXPECT_EQ(Delete(u"\\temp\\F.txt").code(), ErrorCode::kOk);
  EXPECT_FALSE(Exists(u"\\Temp\\f.txt"));
  EXPECT_EQ(RemoveFolder(u"\\TEMP\\SUB").code(), ErrorCode::kOk);
  EXPECT_EQ(RemoveFolder(u"\\Temp").code(), ErrorCode::kOk);
  EXPECT_FALSE(Exists(u"\\Temp"));
}

TEST(FilesReadWhole, WholeOrNothing) {
  testing::TempDevice device;
  fs::path folder = device.root() / "fs" / "My Documents";
  std::string bytes = "left over";
  EXPECT_EQ(ReadWhole(u"\\My Documents\\none", &bytes).code(),
            ErrorCode::kNotFound);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(ReadWhole(u"\\No Folder\\none", &bytes).code(),
            ErrorCode::kNotFound);

  std::string content(100000, 'x');
  content[77777] = '\0';
  platform::testing::WriteHostFile(folder / "Data.bin", content);
  ASSERT_TRUE(ReadWhole(u"\\my documents\\data.BIN", &bytes).ok());
  EXPECT_EQ(bytes, content);
  platform::testing::WriteHostFile(folder / "empty", "");
  ASSERT_TRUE(ReadWhole(u"\\My Documents\\empty", &bytes).ok());
  EXPECT_TRUE(bytes.empty());

  // Present but not readable as a file: never kNotFound, never a part.
  bytes = "left over";
  EXPECT_EQ(ReadWhole(u"\\My Documents", &bytes).code(),
            ErrorCode::kAccessDenied);
  EXPECT_TRUE(bytes.empty());
  ASSERT_EQ(symlink((folder / "Data.bin").c_str(), (folder / "link").c_str()),
            0);
  EXPECT_EQ(ReadWhole(u"\\My Documents\\link", &bytes).code(),
            ErrorCode::kAccessDenied);
  {
    FileFaults faults;
    faults.FailCall(FileCall::kRead, 1);
    bytes = "left over";
    EXPECT_EQ(ReadWhole(u"\\My Documents\\Data.bin", &bytes).code(),
              ErrorCode::kIoError);
    EXPECT_TRUE(faults.fired());
    EXPECT_TRUE(bytes.empty());
  }
  {
    // Part of the file comes, then the host fails: that failure, with its
    // cause, and not the part.
    FileFaults faults;
    faults.FailMidway(FileCall::kRead, 1, 4096, EIO);
    bytes = "left over";
    Status status = ReadWhole(u"\\My Documents\\Data.bin", &bytes);
    EXPECT_EQ(status.code(), ErrorCode::kIoError);
    EXPECT_NE(status.message().find("Input/output error"), std::string::npos)
        << status.ToString();
    EXPECT_TRUE(faults.fired());
    EXPECT_TRUE(bytes.empty());
  }
  {
    // The file seems to end early.
    FileFaults faults;
    faults.CutCall(FileCall::kRead, 1, 0);
    Status status = ReadWhole(u"\\My Documents\\Data.bin", &bytes);
    EXPECT_EQ(status.code(), ErrorCode::kIoError);
    EXPECT_NE(status.message().find("ended after 0 of 100000"),
              std::string::npos)
        << status.ToString();
    EXPECT_TRUE(bytes.empty());
  }
  {
    // A read that brings less than asked is no end: the rest is read too.
    FileFaults faults;
    faults.CutCall(FileCall::kRead, 1, 10);
    ASSERT_TRUE(ReadWhole(u"\\My Documents\\Data.bin", &bytes).ok());
    EXPECT_EQ(bytes, content);
    EXPECT_GT(faults.calls(FileCall::kRead), 2u);
  }
}

TEST(FilesWriteFileAtomically, CreatesReplacesAndRefuses) {
  testing::TempDevice device;
  fs::path folder = device.root() / "fs" / "My Documents";
  ASSERT_TRUE(WriteFileAtomically(u"\\My Documents\\New.txt", "first").ok());
  EXPECT_EQ(ReadHost(folder / "New.txt"), "first");
  // The existing name is kept, whatever the case asked for, and so are the
  // permission bits.
  ASSERT_EQ(chmod((folder / "New.txt").c_str(), 0640), 0);
  ASSERT_TRUE(WriteFileAtomically(u"\\my documents\\NEW.TXT", "").ok());
  EXPECT_EQ(ReadHost(folder / "New.txt"), "");
  struct stat st;
  ASSERT_EQ(stat((folder / "New.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  ASSERT_EQ(chmod((folder / "New.txt").c_str(), 0444), 0);
  EXPECT_EQ(WriteFileAtomically(u"\\My Documents\\New.txt", "x").code(),
            ErrorCode::kAccessDenied);
  EXPECT_EQ(fs::file_size(folder / "New.txt"), 0u);
  EXPECT_EQ(WriteFileAtomically(u"\\My Documents", "x").code(),
            ErrorCode::kAccessDenied);
  EXPECT_EQ(WriteFileAtomically(u"\\No Folder\\f", "x").code(),
            ErrorCode::kNotFound);
  EXPECT_EQ(WriteFileAtomically(u"\\My Documents\\a|b", "x").code(),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(platform::testing::HostFileNames(folder),
            (std::vector<std::string>{"New.txt"}));
}

// Fails every call of one save in turn, cuts every write short, and looks at
// the file at every moment a crash could happen: always the old bytes or
// the new ones, whole, with nothing left beside them.
TEST(FilesWriteFileAtomically, EveryFailureAndCrashLeavesOldOrNew) {
  testing::TempDevice device;
  fs::path folder = device.root() / "fs" / "My Documents";
  fs::path host = folder / "settings.ini";
  const std::string old_bytes = "old content that is longer";
  const std::string new_bytes = "new content";
  auto save = [&] {
    return WriteFileAtomically(u"\\My Documents\\settings.ini", new_bytes);
  };

  platform::testing::WriteHostFile(host, old_bytes);
  size_t calls = 0;
  {
    FileFaults counting;
    counting.set_observer([&](const FileFaults::Call&) {
      std::string now = ReadHost(host);
      EXPECT_TRUE(now == old_bytes || now == new_bytes) << now;
    });
    ASSERT_TRUE(save().ok());
    calls = counting.calls();
    // Committed before it is put in place; the folder after.
    EXPECT_EQ(counting.Describe(), "create write sync rename sync folder");
  }
  EXPECT_EQ(ReadHost(host), new_bytes);

  for (size_t n = 1; n <= calls; ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n));
    platform::testing::WriteHostFile(host, old_bytes);
    FileFaults faults;
    faults.FailCall(n, ENOSPC);
    Status status = save();
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(faults.fired());
    EXPECT_EQ(status.code(), ErrorCode::kIoError);
    EXPECT_NE(status.message().find("No space left"), std::string::npos)
        << status.ToString();
    std::string now = ReadHost(host);
    // Only the commit of the folder comes after the rename.
    EXPECT_EQ(now, n < calls ? old_bytes : new_bytes);
    EXPECT_EQ(platform::testing::HostFileNames(folder),
              (std::vector<std::string>{"settings.ini"}));
  }
  {
    platform::testing::WriteHostFile(host, old_bytes);
    FileFaults faults;
    faults.CutCall(FileCall::kWrite, 1);
    EXPECT_FALSE(save().ok());
    EXPECT_TRUE(faults.fired());
    EXPECT_EQ(ReadHost(host), old_bytes);
    EXPECT_EQ(platform::testing::HostFileNames(folder),
              (std::vector<std::string>{"settings.ini"}));
  }
  {
    // The cause is reported as the host gave it.
    FileFaults faults;
    faults.FailCall(FileCall::kCreate, 1, EACCES);
    EXPECT_EQ(save().code(), ErrorCode::kAccessDenied);
  }
  {
    // A new file that fails is not there at all.
    FileFaults faults;
    faults.FailCall(FileCall::kSync, 1);
    EXPECT_FALSE(WriteFileAtomically(u"\\My Documents\\fresh", "x").ok());
    EXPECT_FALSE(fs::exists(folder / "fresh"));
  }
}

TEST(FilesCopy, EveryFailureLeavesOldOrNew) {
  testing::TempDevice device;
  fs::path folder = device.root() / "fs" / "My Documents";
  const std::string source_bytes(200000, 's');
  platform::testing::WriteHostFile(folder / "source", source_bytes);
  auto copy = [] {
    return Copy(u"\\My Documents\\source", u"\\My Documents\\target", false);
  };
  size_t calls = 0;
  {
    FileFaults counting;
    ASSERT_TRUE(copy().ok());
    calls = counting.calls();
    EXPECT_GE(counting.calls(FileCall::kWrite), 2u);  // in pieces
    EXPECT_EQ(counting.calls(FileCall::kSync), 1u);
    EXPECT_EQ(counting.log().back().kind, FileCall::kSyncFolder);
  }
  for (size_t n = 1; n <= calls; ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n));
    platform::testing::WriteHostFile(folder / "target", "old");
    FileFaults faults;
    faults.FailCall(n);
    EXPECT_FALSE(copy().ok());
    std::string now = ReadHost(folder / "target");
    EXPECT_EQ(now, n < calls ? "old" : source_bytes);
    EXPECT_EQ(platform::testing::HostFileNames(folder),
              (std::vector<std::string>{"source", "target"}));
  }
}

TEST(FilesRename, ReplacesInOneStepOrRefuses) {
  testing::TempDevice device;
  fs::path folder = device.root() / "fs" / "My Documents";
  platform::testing::WriteHostFile(folder / "a", "A");
  platform::testing::WriteHostFile(folder / "b", "B");
  fs::create_directory(folder / "Sub");

  ASSERT_TRUE(Rename(u"\\My Documents\\A", u"\\my documents\\b").ok());
  EXPECT_EQ(platform::testing::HostFileNames(folder),
            (std::vector<std::string>{"Sub", "b"}));
  EXPECT_EQ(ReadHost(folder / "b"), "A");
  // Only the case changes.
  ASSERT_TRUE(Rename(u"\\My Documents\\b", u"\\My Documents\\B").ok());
  EXPECT_EQ(platform::testing::HostFileNames(folder),
            (std::vector<std::string>{"B", "Sub"}));
  ASSERT_TRUE(Rename(u"\\My Documents\\B", u"\\My Documents\\sub\\c").ok());
  EXPECT_EQ(ReadHost(folder / "Sub" / "c"), "A");
  ASSERT_TRUE(Rename(u"\\My Documents\\Sub", u"\\Temp\\Moved").ok());
  EXPECT_EQ(ReadHost(device.root() / "fs" / "Temp" / "Moved" / "c"), "A");

  platform::testing::WriteHostFile(folder / "x", "X");
  platform::testing::WriteHostFile(folder / "ro", "RO");
  ASSERT_EQ(chmod((folder / "ro").c_str(), 0444), 0);
  EXPECT_EQ(Rename(u"\\My Documents\\x", u"\\My Documents\\ro").code(),
            ErrorCode::kAccessDenied);
  EXPECT_EQ(Rename(u"\\My Documents\\x", u"\\Temp").code(),
            ErrorCode::kAlreadyExists);
  EXPECT_EQ(Rename(u"\\Temp", u"\\My Documents\\x").code(),
            ErrorCode::kAlreadyExists);
  EXPECT_EQ(Rename(u"\\My Documents\\none", u"\\My Documents\\y").code(),
            ErrorCode::kNotFound);
  EXPECT_EQ(Rename(u"\\My Documents\\x", u"\\No Folder\\y").code(),
            ErrorCode::kNotFound);
  EXPECT_EQ(Rename(u"\\", u"\\x").code(), ErrorCode::kAccessDenied);
  {
    FileFaults faults;
    faults.FailCall(FileCall::kRename, 1);
    EXPECT_FALSE(Rename(u"\\My Documents\\x", u"\\My Documents\\y").ok());
    EXPECT_EQ(faults.Describe(), "rename");
  }
  EXPECT_EQ(platform::testing::HostFileNames(folder),
            (std::vector<std::string>{"ro", "x"}));
  {
    FileFaults faults;
    ASSERT_TRUE(Rename(u"\\My Documents\\x", u"\\Temp\\y").ok());
    EXPECT_EQ(faults.Describe(), "rename sync folder sync folder");
  }
}

// The stream calls reach the seam too, each with its own effect.
TEST(FilesSeam, StreamCallsFailAsTheHostWould) {
  testing::TempDevice device;
  fs::path host = device.root() / "fs" / "Temp" / "f";
  {
    FileFaults faults;
    faults.FailCall(FileCall::kCreate, 1, EACCES);
    Status status;
    EXPECT_EQ(File::Open(u"\\Temp\\f", "wb", &status), nullptr);
    EXPECT_EQ(status.code(), ErrorCode::kAccessDenied);
  }
  EXPECT_FALSE(fs::exists(host));
  std::unique_ptr<File> file = File::Open(u"\\Temp\\f", "wb+c");
  ASSERT_NE(file, nullptr);
  {
    FileFaults faults;
    faults.CutCall(FileCall::kWrite, 2, 3);
    EXPECT_EQ(file->Write("first", 5), 5u);
    EXPECT_EQ(file->Write("second", 6), 3u);  // a short count
    faults.FailCall(FileCall::kSync, 1);
    EXPECT_EQ(file->Flush().code(), ErrorCode::kIoError);
    EXPECT_EQ(ReadHost(host), "firstsec");  // handed on, not committed
    faults.FailCall(FileCall::kTruncate, 1);
    EXPECT_FALSE(file->Truncate(2).ok());
    EXPECT_EQ(file->Size(), 8u);
    ASSERT_TRUE(file->Seek(0, SEEK_SET).ok());
    // A failed read says why and moves nothing; the next one works.
    faults.FailCall(FileCall::kRead, 1, ENOSPC);
    char buffer[8];
    size_t got = 1;
    Status status = file->Read(buffer, sizeof buffer, &got);
    EXPECT_EQ(status.code(), ErrorCode::kIoError);
    EXPECT_NE(status.message().find("No space left"), std::string::npos)
        << status.ToString();
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(ReadFrom(file.get(), 8), "firstsec");
    // A read cut short is a short read, as at the end of the file; one
    // that breaks off part way fails on the next call.
    faults.CutCall(FileCall::kRead, 3, 2);
    EXPECT_EQ(ReadFromAt(file.get(), 8, 0), "fi");
    faults.FailMidway(FileCall::kRead, 4, 3, EACCES);
    EXPECT_EQ(ReadFromAt(file.get(), 8, 0), "fir");
    EXPECT_FALSE(faults.fired());
    EXPECT_EQ(file->ReadAt(buffer, 5, 3, &got).code(),
              ErrorCode::kAccessDenied);
    EXPECT_TRUE(faults.fired());
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(faults.Describe(),
              "write write flush sync truncate read read read read read");
  }
  // The created file's folder entry is committed by the first commit that
  // works.
  FileFaults faults;
  EXPECT_TRUE(file->Flush().ok());
  EXPECT_EQ(faults.Describe(), "flush sync sync folder");
}

}  // namespace
}  // namespace platform::files
