#include "platform/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/testing/registry_faults.h"
#include "platform/testing/temp_device.h"
#include "platform/unicode.h"

namespace platform {
namespace {

using std::string_literals::operator""s;

constexpr RegistryRoot kHkcu = RegistryRoot::kCurrentUser;

std::vector<std::u16string> Names(const std::vector<RegistryValue>& values) {
  std::vector<std::u16string> names;
  for (const RegistryValue& value : values) names.push_back(value.name);
  return names;
}

// Runs `body` in a child process; the child's exit code is body's result.
pid_t Spawn(int (*body)(int), int arg) {
  pid_t pid = fork();
  if (pid == 0) _exit(body(arg));
  return pid;
}

int ExitCode(pid_t pid) {
  int wstatus = 0;
  if (waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus)) return -1;
  return WEXITSTATUS(wstatus);
}

TEST(RegistryTest, TypedRoundTrips) {
  testing::TempDevice device;
  bool created = false;
  std::optional<RegistryKey> key =
      RegistryKey::Create(kHkcu, u"Software\\Pelicorde", &created);
  ASSERT_TRUE(key);
  EXPECT_TRUE(created);

  ASSERT_TRUE(key->SetDword(u"Count", 0x12345678).ok());
  RegistryValue value;
  size_t needed = 0;
  ASSERT_TRUE(key->Query(u"Count", 4, &value, &needed).ok());
  EXPECT_EQ(value.type, RegistryType::kDword);
  EXPECT_EQ(value.data, "\x78\x56\x34\x12"s);
  EXPECT_EQ(needed, 4u);
  EXPECT_EQ(key->QueryDword(u"Count"), 0x12345678u);

  // SZ: UTF-16LE with the terminator, (length + 1) x 2 bytes.
  ASSERT_TRUE(key->SetString(u"Name", u"A\u4E2D").ok());
  ASSERT_TRUE(key->Query(u"Name", 100, &value).ok());
  EXPECT_EQ(value.type, RegistryType::kSz);
  EXPECT_EQ(value.data, "A\0\x2D\x4E\0\0"s);
  EXPECT_EQ(key->QueryString(u"Name", 3), u"A\u4E2D");
  ASSERT_TRUE(key->SetString(u"Empty", u"").ok());
  ASSERT_TRUE(key->Query(u"Empty", 100, &value).ok());
  EXPECT_EQ(value.data, "\0\0"s);
  EXPECT_EQ(key->QueryString(u"Empty", 1), u"");

  // Strings written by others: ends at the first NUL, an odd byte ignored,
  // an expandable string is a string.
  ASSERT_TRUE(
      key->Set(u"Raw", RegistryType::kExpandSz, "x\0y\0\0\0z\0q"s).ok());
  EXPECT_EQ(key->QueryString(u"Raw", 5), u"xy");

  const std::string blob = "\0\xFF\x01%_\\"s;
  ASSERT_TRUE(key->SetBinary(u"Blob", blob).ok());
  EXPECT_EQ(key->QueryBinary(u"Blob", blob.size()), blob);
  ASSERT_TRUE(key->SetBinary(u"NoBytes", "").ok());
  EXPECT_EQ(key->QueryBinary(u"NoBytes", 0), "");
  ASSERT_TRUE(key->Set(u"Odd", static_cast<RegistryType>(11), "abc").ok());
  ASSERT_TRUE(key->Query(u"Odd", 3, &value).ok());
  EXPECT_EQ(static_cast<uint32_t>(value.type), 11u);
  EXPECT_EQ(value.data, "abc");

  // The default value has the empty name, on a key and on a root.
  ASSERT_TRUE(key->SetString(u"", u"default").ok());
  EXPECT_EQ(key->QueryString(u"", 8), u"default");
  std::optional<RegistryKey> root = RegistryKey::Open(kHkcu, u"");
  ASSERT_TRUE(root);
  ASSERT_TRUE(root->SetDword(u"", 7).ok());
  EXPECT_EQ(RegistryKey::Open(kHkcu, u"\\")->QueryDword(u""), 7u);
  EXPECT_EQ(root->Subkeys(), std::vector<std::u16string>{u"Software"});

  // Data survives reopening, and a flush succeeds.
  EXPECT_TRUE(key->Flush().ok());
  EXPECT_EQ(RegistryKey::Open(kHkcu, u"software\\pelicorde")
                ->QueryBinary(u"blob", 100),
            blob);
}

TEST(RegistryTest, ReadFailures) {
  testing::TempDevice device;
  std::optional<RegistryKey> key = RegistryKey::Create(kHkcu, u"K");
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->SetString(u"Text", u"hello").ok());  // 12 bytes
  ASSERT_TRUE(key->SetDword(u"Number", 1).ok());
  ASSERT_TRUE(key->Set(u"Wide", RegistryType::kDword, "12345678").ok());

  RegistryValue value;
  size_t needed = 0;
  Status s = key->Query(u"Text", 11, &value, &needed);
  EXPECT_EQ(s.code(), ErrorCode::kMoreData);
  EXPECT_EQ(needed, 12u);
  EXPECT_EQ(value.type, RegistryType::kSz);
  EXPECT_TRUE(key->Query(u"Text", 0, nullptr, &needed).ok());
  EXPECT_EQ(needed, 12u);
  EXPECT_FALSE(key->QueryString(u"Text", 5, &s));
  EXPECT_EQ(s.code(), ErrorCode::kMoreData);
  EXPECT_EQ(key->QueryString(u"Text", 6), u"hello");
  EXPECT_FALSE(key->QueryBinary(u"Text", 100, &s));
  EXPECT_EQ(s.code(), ErrorCode::kWrongType);
  ASSERT_TRUE(key->SetBinary(u"Bytes", "12345").ok());
  EXPECT_FALSE(key->QueryBinary(u"Bytes", 4, &s));
  EXPECT_EQ(s.code(), ErrorCode::kMoreData);

  // Wrong types, also when the data would not fit.
  EXPECT_FALSE(key->QueryDword(u"Text", &s));
  EXPECT_EQ(s.code(), ErrorCode::kWrongType);
  EXPECT_FALSE(key->QueryDword(u"Wide", &s));
  EXPECT_EQ(s.code(), ErrorCode::kWrongType);
  EXPECT_FALSE(key->QueryString(u"Number", 100, &s));
  EXPECT_EQ(s.code(), ErrorCode::kWrongType);

  EXPECT_FALSE(key->QueryDword(u"Missing", &s));
  EXPECT_EQ(s.code(), ErrorCode::kNotFound);
  EXPECT_EQ(key->DeleteValue(u"Missing").code(), ErrorCode::kNotFound);
  EXPECT_TRUE(key->DeleteValue(u"NUMBER").ok());
  EXPECT_EQ(key->Query(u"Number", 4, &value).code(), ErrorCode::kNotFound);
  EXPECT_FALSE(RegistryKey::Open(kHkcu, u"K\\Missing", &s));
  EXPECT_EQ(s.code(), ErrorCode::kNotFound);
  EXPECT_EQ(key->SetString(u"bad\0name"s, u"x").code(),
            ErrorCode::kInvalidArgument);
  EXPECT_FALSE(RegistryKey::Create(kHkcu, u"A\xD800", nullptr, &s));
  EXPECT_EQ(s.code(), ErrorCode::kInvalidArgument);
}

TEST(RegistryTest, NamesIgnoreCaseAndKeepFirstCase) {
  testing::TempDevice device;
  ASSERT_TRUE(RegistryKey::Create(kHkcu, u"Software\\Pelicorde"));
  bool created = true;
  std::optional<RegistryKey> key =
      RegistryKey::Create(kHkcu, u"\\SOFTWARE\\\\pelicorde\\", &created);
  ASSERT_TRUE(key);
  EXPECT_FALSE(created);
  EXPECT_EQ(key->path(), u"Software\\Pelicorde");
  std::optional<RegistryKey> deeper =
      RegistryKey::Create(kHkcu, u"software\\PELICORDE\\Été", &created);
  ASSERT_TRUE(deeper);
  EXPECT_TRUE(created);
  EXPECT_EQ(deeper->path(), u"Software\\Pelicorde\\Été");
  EXPECT_EQ(RegistryKey::Open(kHkcu, u"SOFTWARE\\pelicorde\\ÉTÉ")->path(),
            u"Software\\Pelicorde\\Été");
  // Roots are separate.
  EXPECT_FALSE(RegistryKey::Open(RegistryRoot::kLocalMachine, u"Software"));

  ASSERT_TRUE(key->SetDword(u"MaxCount", 1).ok());
  ASSERT_TRUE(key->SetString(u"MAXCOUNT", u"two").ok());
  std::vector<RegistryValue> values = key->Values();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, u"MaxCount");
  EXPECT_EQ(values[0].type, RegistryType::kSz);
  EXPECT_EQ(key->QueryString(u"maxcount", 10), u"two");

  // Listing order ignores case; names come back as first written.
  for (const char16_t* name : {u"beta", u"Alpha", u"", u"GAMMA", u"_x"}) {
    ASSERT_TRUE(key->SetDword(name, 0).ok());
  }
  EXPECT_EQ(Names(key->Values()),
            (std::vector<std::u16string>{u"", u"_x", u"Alpha", u"beta",
                                         u"GAMMA", u"MaxCount"}));
  for (const char16_t* name : {u"zed", u"Bee", u"ant"}) {
    ASSERT_TRUE(RegistryKey::Create(
        kHkcu, std::u16string(key->path()) + u"\\" + name + u"\\Child"));
  }
  EXPECT_EQ(key->Subkeys(),
            (std::vector<std::u16string>{u"ant", u"Bee", u"zed", u"Été"}));

  EXPECT_EQ(ParseRegistryRoot("hkcu"), kHkcu);
  EXPECT_EQ(ParseRegistryRoot("HKEY_local_MACHINE"),
            RegistryRoot::kLocalMachine);
  EXPECT_EQ(ParseRegistryRoot("HKCR"), RegistryRoot::kClassesRoot);
  EXPECT_FALSE(ParseRegistryRoot("HKLMX"));
  EXPECT_STREQ(RegistryRootName(RegistryRoot::kClassesRoot),
               "HKEY_CLASSES_ROOT");
}

TEST(RegistryTest, DeleteKeyTakesSubtreeOnly) {
  testing::TempDevice device;
  const std::vector<std::u16string> paths = {u"A\\Key\\Sub\\Deep",
                                             u"A\\Key2",
                                             u"A\\Key]",
                                             u"A\\K_y",
                                             u"A\\Kxy",
                                             u"A\\K_y2",
                                             u"A\\50%",
                                             u"A\\50%off",
                                             u"A\\50x",
                                             u"A\\5",
                                             u"B\\Key"};
  // Every key gets a value and a subkey with a value.
  for (const std::u16string& path : paths) {
    for (const std::u16string& made : {path, path + u"\\C"}) {
      std::optional<RegistryKey> key = RegistryKey::Create(kHkcu, made);
      ASSERT_TRUE(key);
      ASSERT_TRUE(key->SetDword(u"v", 1).ok());
    }
  }
  std::optional<RegistryKey> sub = RegistryKey::Open(kHkcu, u"A\\Key\\Sub");
  ASSERT_TRUE(sub);
  ASSERT_TRUE(sub->SetString(u"s", u"x").ok());

  EXPECT_TRUE(DeleteRegistryKey(kHkcu, u"\\a\\KEY").ok());
  EXPECT_TRUE(DeleteRegistryKey(kHkcu, u"A\\K_y").ok());
  EXPECT_TRUE(DeleteRegistryKey(kHkcu, u"A\\50%").ok());
  EXPECT_EQ(DeleteRegistryKey(kHkcu, u"A\\Key").code(), ErrorCode::kNotFound);
  EXPECT_EQ(DeleteRegistryKey(kHkcu, u"").code(), ErrorCode::kInvalidArgument);

  EXPECT_EQ(RegistryKey::Open(kHkcu, u"A")->Subkeys(),
            (std::vector<std::u16string>{u"5", u"50%off", u"50x", u"K_y2",
                                         u"Key2", u"Key]", u"Kxy"}));
  for (const char16_t* kept : {u"A\\Key2", u"A\\Key]", u"A\\Kxy", u"A\\K_y2",
                               u"A\\50%off", u"A\\50x", u"A\\5", u"B\\Key"}) {
    for (const std::u16string& path :
         {std::u16string(kept), kept + std::u16string(u"\\C")}) {
      std::optional<RegistryKey> key = RegistryKey::Open(kHkcu, path);
      ASSERT_TRUE(key) << ToUtf8(path);
      EXPECT_EQ(key->QueryDword(u"v"), 1u);
    }
  }

  // A handle to a deleted key reads nothing and does not bring it back.
  Status s;
  EXPECT_EQ(sub->SetDword(u"v", 2).code(), ErrorCode::kNotFound);
  EXPECT_FALSE(sub->QueryString(u"s", 10, &s));
  EXPECT_EQ(s.code(), ErrorCode::kNotFound);
  EXPECT_TRUE(sub->Values(&s).empty());
  EXPECT_EQ(s.code(), ErrorCode::kNotFound);
  EXPECT_FALSE(RegistryKey::Open(kHkcu, u"A\\Key\\Sub"));
  // Made again, the key starts empty: its old values went with it.
  ASSERT_TRUE(RegistryKey::Create(kHkcu, u"A\\Key\\Sub\\Deep"));
  EXPECT_TRUE(sub->Values(&s).empty());
  EXPECT_TRUE(s.ok());
  EXPECT_TRUE(RegistryKey::Open(kHkcu, u"A\\Key")->Values().empty());
}

TEST(RegistryBatchTest, WritesInOrderAsOne) {
  testing::TempDevice device;
  ASSERT_TRUE(RegistryKey::Create(kHkcu, u"App\\Old\\Deep"));
  RegistryBatch batch;
  EXPECT_TRUE(batch.empty());
  EXPECT_TRUE(batch.Commit().ok());
  batch.DeleteKey(kHkcu, u"App\\old")
      .DeleteKey(kHkcu, u"App\\Never There")
      .CreateKey(kHkcu, u"\\App\\New\\")
      .SetDword(kHkcu, u"App\\New", u"Count", 7)
      .SetString(kHkcu, u"app\\new", u"Name", u"x")
      .SetBinary(kHkcu, u"App\\New", u"Blob", "\x01\x02"s)
      .SetDword(kHkcu, u"App\\NEW", u"COUNT", 8);  // the later write wins
  EXPECT_EQ(batch.size(), 7u);
  ASSERT_TRUE(batch.Commit().ok());
  EXPECT_FALSE(RegistryKey::Open(kHkcu, u"App\\Old"));
  std::optional<RegistryKey> key = RegistryKey::Open(kHkcu, u"App\\New");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->path(), u"App\\New");
  EXPECT_EQ(Names(key->Values()),
            (std::vector<std::u16string>{u"Blob", u"Count", u"Name"}));
  EXPECT_EQ(key->QueryDword(u"count"), 8u);
  EXPECT_EQ(key->QueryString(u"Name", 2), u"x");
  EXPECT_EQ(key->QueryBinary(u"Blob", 2), "\x01\x02"s);

  // A write to a key that is not there, a bad name, a root: the whole
  // batch fails and nothing of it stays.
  std::vector<testing::CommittedValue> before =
      testing::CommittedRegistry(kHkcu, u"App");
  ASSERT_EQ(before.size(), 3u);
  RegistryBatch missing;
  missing.SetDword(kHkcu, u"App\\New", u"Count", 9)
      .SetDword(kHkcu, u"App\\Missing", u"v", 1);
  EXPECT_EQ(missing.Commit().code(), ErrorCode::kNotFound);
  RegistryBatch bad_name;
  bad_name.SetDword(kHkcu, u"App\\New", u"Count", 9)
      .SetDword(kHkcu, u"App\\New", u"a\0b"s, 1);
  EXPECT_EQ(bad_name.Commit().code(), ErrorCode::kInvalidArgument);
  RegistryBatch root;
  root.SetDword(kHkcu, u"App\\New", u"Count", 9).DeleteKey(kHkcu, u"\\");
  EXPECT_EQ(root.Commit().code(), ErrorCode::kInvalidArgument);
  EXPECT_EQ(testing::CommittedRegistry(kHkcu, u"App"), before);
}

// Every write of a batch failed in turn leaves every value as it was, and
// no other reader ever sees a part of it.
TEST(RegistryBatchTest, FailureAtAnyWriteLeavesEverythingAsItWas) {
  testing::TempDevice device;
  {
    std::optional<RegistryKey> key = RegistryKey::Create(kHkcu, u"App");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetDword(u"a", 1).ok());
    ASSERT_TRUE(key->SetString(u"b", u"old").ok());
    ASSERT_TRUE(
        RegistryKey::Create(kHkcu, u"App\\Sub")->SetDword(u"c", 3).ok());
  }
  const std::vector<testing::CommittedValue> before =
      testing::CommittedRegistry(kHkcu, u"App");
  RegistryBatch batch;
  batch.DeleteKey(kHkcu, u"App\\Sub")
      .CreateKey(kHkcu, u"App\\Sub")
      .SetDword(kHkcu, u"App\\Sub", u"c", 30)
      .SetDword(kHkcu, u"App", u"a", 10)
      .SetString(kHkcu, u"App", u"b", u"new");
  size_t writes = 0;
  {
    testing::RegistryFaults counting;
    counting.set_observer([&](const testing::RegistryFaults::Write&) {
      EXPECT_EQ(testing::CommittedRegistry(kHkcu, u"App"), before);
    });
    ASSERT_TRUE(batch.Commit().ok());
    writes = counting.writes();
    EXPECT_EQ(counting.writes(RegistryWriteKind::kSetValue), 3u);
  }
  EXPECT_EQ(writes, batch.size());
  const std::vector<testing::CommittedValue> after =
      testing::CommittedRegistry(kHkcu, u"App");
  ASSERT_NE(after, before);

  RegistryBatch restore;
  restore.DeleteKey(kHkcu, u"App\\Sub")
      .CreateKey(kHkcu, u"App\\Sub")
      .SetDword(kHkcu, u"App\\Sub", u"c", 3)
      .SetDword(kHkcu, u"App", u"a", 1)
      .SetString(kHkcu, u"App", u"b", u"old");
  for (size_t n = 1; n <= writes; ++n) {
    SCOPED_TRACE("failing write " + std::to_string(n));
    ASSERT_TRUE(restore.Commit().ok());
    ASSERT_EQ(testing::CommittedRegistry(kHkcu, u"App"), before);
    testing::RegistryFaults faults;
    faults.FailWrite(n);
    EXPECT_EQ(batch.Commit().code(), ErrorCode::kIoError);
    EXPECT_TRUE(faults.fired());
    EXPECT_EQ(testing::CommittedRegistry(kHkcu, u"App"), before);
  }
  // Single calls go through the same seam.
  testing::RegistryFaults faults;
  faults.FailWrite(RegistryWriteKind::kSetValue, 1);
  EXPECT_FALSE(RegistryKey::Open(kHkcu, u"App")->SetDword(u"a", 99).ok());
  faults.FailWrite(RegistryWriteKind::kCreateKey, 1);
  EXPECT_FALSE(RegistryKey::Create(kHkcu, u"App\\Other\\Deeper"));
  faults.FailWrite(RegistryWriteKind::kDeleteKey, 1);
  EXPECT_FALSE(DeleteRegistryKey(kHkcu, u"App\\Sub").ok());
  faults.FailWrite(RegistryWriteKind::kDeleteValue, 1);
  EXPECT_FALSE(RegistryKey::Open(kHkcu, u"App")->DeleteValue(u"a").ok());
  EXPECT_EQ(testing::CommittedRegistry(kHkcu, u"App"), before);
  EXPECT_FALSE(RegistryKey::Open(kHkcu, u"App\\Other"));
}

int WriteMany(int child) {
  std::optional<RegistryKey> key =
      RegistryKey::Create(kHkcu, u"Shared\\Deep\\Key");
  if (!key) return 2;
  for (int i = 0; i < 200; ++i) {
    std::u16string name = u"p" + std::u16string(1, u'0' + child) + u"_" +
                          FromUtf8(std::to_string(i));
    if (!key->SetDword(name, static_cast<uint32_t>(child * 1000 + i)).ok()) {
      return 1;
    }
  }
  return 0;
}

TEST(RegistryTest, TwoProcessesWritingLoseNothing) {
  testing::TempDevice device;
  pid_t first = Spawn(WriteMany, 1);
  pid_t second = Spawn(WriteMany, 2);
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_EQ(ExitCode(first), 0);
  EXPECT_EQ(ExitCode(second), 0);

  std::optional<RegistryKey> key =
      RegistryKey::Open(kHkcu, u"shared\\deep\\key");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->Values().size(), 400u);
  for (int child = 1; child <= 2; ++child) {
    for (int i = 0; i < 200; ++i) {
      std::string name = "p" + std::to_string(child) + "_" + std::to_string(i);
      EXPECT_EQ(key->QueryDword(FromUtf8(name)),
                static_cast<uint32_t>(child * 1000 + i))
          << name;
    }
  }
  EXPECT_EQ(RegistryKey::Open(kHkcu, u"Shared")->Subkeys().size(), 1u);
}

constexpr uint32_t kWrites = 300;

int CountUp(int) {
  std::optional<RegistryKey> key = RegistryKey::Create(kHkcu, u"Counter");
  if (!key) return 2;
  for (uint32_t i = 1; i <= kWrites; ++i) {
    if (!key->SetDword(u"count", i).ok()) return 1;
    if (!key->SetBinary(FromUtf8("v" + std::to_string(i)), "x").ok()) {
      return 1;
    }
  }
  return 0;
}

TEST(RegistryTest, ReaderWhileAnotherProcessWrites) {
  testing::TempDevice device;
  pid_t writer = Spawn(CountUp, 0);
  ASSERT_GT(writer, 0);
  uint32_t last = 0;
  size_t reads = 0;
  int wstatus = 0;
  pid_t done = 0;
  while (done == 0) {
    done = waitpid(writer, &wstatus, WNOHANG);
    std::optional<RegistryKey> key = RegistryKey::Open(kHkcu, u"Counter");
    if (!key) continue;
    Status s;
    std::optional<uint32_t> count = key->QueryDword(u"count", &s);
    if (!count) {
      ASSERT_EQ(s.code(), ErrorCode::kNotFound) << s.ToString();
      continue;
    }
    ASSERT_GE(*count, last);
    last = *count;
    // One snapshot per call: the list never goes back either.
    std::vector<RegistryValue> values = key->Values(&s);
    ASSERT_TRUE(s.ok()) << s.ToString();
    ASSERT_GE(values.size(), last);
    ++reads;
  }
  ASSERT_EQ(done, writer);
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
  EXPECT_EQ(RegistryKey::Open(kHkcu, u"Counter")->QueryDword(u"count"),
            kWrites);
  EXPECT_GT(reads, 0u);
}

TEST(RegistryTest, NoDeviceIsUnavailable) {
  std::optional<RegistryKey> key;
  {
    testing::TempDevice device;
    key = RegistryKey::Create(kHkcu, u"K");
    ASSERT_TRUE(key);
  }
  char pattern[] = "/tmp/telvane-nodevice-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const char* previous = getenv("TELVANE_DEVICE");
  std::string saved = previous != nullptr ? previous : "";
  setenv("TELVANE_DEVICE", (std::string(pattern) + "/none").c_str(), 1);

  Status s;
  EXPECT_FALSE(RegistryKey::Open(kHkcu, u"", &s));
  EXPECT_EQ(s.code(), ErrorCode::kUnavailable);
  EXPECT_FALSE(RegistryKey::Create(kHkcu, u"K", nullptr, &s));
  EXPECT_EQ(s.code(), ErrorCode::kUnavailable);
  EXPECT_EQ(key->SetDword(u"v", 1).code(), ErrorCode::kUnavailable);
  EXPECT_FALSE(key->QueryDword(u"v", &s));
  EXPECT_EQ(s.code(), ErrorCode::kUnavailable);
  EXPECT_EQ(DeleteRegistryKey(kHkcu, u"K").code(), ErrorCode::kUnavailable);

  if (previous != nullptr) {
    setenv("TELVANE_DEVICE", saved.c_str(), 1);
  } else {
    unsetenv("TELVANE_DEVICE");
  }
  rmdir(pattern);
}

}  // namespace
}  // namespace platform
