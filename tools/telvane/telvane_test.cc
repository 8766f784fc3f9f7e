// Runs the real telvane binary on archives in a scratch folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry.h"
#include "platform/testing/temp_device.h"
#include "store/document.h"

namespace {

namespace fs = std::filesystem;

using Result = platform::testing::CommandResult;

Result Telvane(const std::string& args) {
  // setsid: no terminal to ask a password on, as in a script.
  std::string command = "setsid -w " +
                        (platform::testing::BinDir() / "telvane").string() +
                        " " + args + " 2>&1 </dev/null";
  return platform::testing::RunCommand(command);
}

class TelvaneTool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/telvane-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // Files outside any device: the tool makes a view device of its own.
    setenv("TELVANE_DEVICE", (dir_ / "no-device").c_str(), 1);
    // View devices go into a folder of this test's own, so that other
    // tests running at the same time cannot be mistaken for leftovers.
    fs::create_directory(dir_ / "tmp");
    setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TELVANE_DEVICE");
    unsetenv("TMPDIR");
    fs::remove_all(dir_);
  }
  std::string File(const std::string& name) const {
    return (dir_ / name).string();
  }

  fs::path dir_;
};

TEST_F(TelvaneTool, CreateAddTreeCatExport) {
  std::string a = File("a.zud");
  Result create = Telvane("zud create " + a + " --recycle-bin --author Ann");
  ASSERT_EQ(create.exit_code, 0) << create.out;
  // Header and empty index (140), three folder records (3 x 104) each with
  // the note of where it was filed (64 bytes and the title as a counted
  // UTF-16 text), the saved index: a 20-byte block, "Recycle Bin\r\nDrafts
  // \r\nSent Box\r\nInbox\r\n" with its NUL (39), four 8-byte table
  // entries; and the note vouching for that index (64).
  const size_t notes = (64 + 2 + 2 * 6) + (64 + 2 + 2 * 8) + (64 + 2 + 2 * 5);
  EXPECT_EQ(fs::file_size(a), 140u + 3 * 104 + notes + 20 + 39 + 4 * 8 + 64);
  EXPECT_NE(Telvane("zud create " + a).exit_code, 0) << "no overwriting";

  Result add =
      Telvane("zud add " + a +
              " '\\Inbox' --from '\"Ann\"<+8613800138000>' --text 'hi' "
              "--time 2026-12-07T08:30:00Z");
  ASSERT_EQ(add.exit_code, 0) << add.out;
  ASSERT_EQ(Telvane("zud add " + a +
                    " '\\Work\\Team' --from 10086 --text 'line one\nline two'")
                .exit_code,
            0);

  Result tree = Telvane("zud tree " + a);
  ASSERT_EQ(tree.exit_code, 0) << tree.out;
  EXPECT_NE(tree.out.find("2 unread"), std::string::npos) << tree.out;
  EXPECT_NE(tree.out.find("#1 [recycle bin] Recycle Bin\n"), std::string::npos)
      << tree.out;
  EXPECT_NE(tree.out.find("[folder] Inbox (1 unread)\n  #1 [unread] Ann "),
            std::string::npos)
      << tree.out;
  EXPECT_NE(
      tree.out.find("[folder] Work (1 unread)\n  #1 [folder] Team (1 unread)"),
      std::string::npos)
      << tree.out;

  Result cat = Telvane("zud cat " + a + " '\\Inbox\\#1'");
  ASSERT_EQ(cat.exit_code, 0) << cat.out;
  EXPECT_NE(
      cat.out.find("Sender:\"Ann\"<+8613800138000>\r\nContent:\r\nhi\r\n"),
      std::string::npos)
      << cat.out;
  EXPECT_NE(Telvane("zud cat " + a + " '\\Inbox\\#2'").exit_code, 0);
  EXPECT_NE(Telvane("zud cat " + a + " '\\Inbox'").exit_code, 0)
      << "a folder is no message";

  std::string out = File("team.txt");
  ASSERT_EQ(Telvane("zud export " + a + " '\\Work\\Team' " + out).exit_code, 0);
  std::ifstream exported(out, std::ios::binary);
  std::stringstream text;
  text << exported.rdbuf();
  EXPECT_NE(
      text.str().find("Sender:10086\r\nContent:\r\nline one\r\nline two\r\n"),
      std::string::npos)
      << text.str();
  EXPECT_EQ(text.str().rfind("Date:", 0), 0u);

  // Exporting a folder that holds only folders makes an empty file.
  ASSERT_EQ(
      Telvane("zud export " + a + " '\\Work' " + File("work.txt")).exit_code,
      0);
  EXPECT_EQ(fs::file_size(File("work.txt")), 0u);
}

TEST_F(TelvaneTool, PasswordsVerifyAndCompact) {
  std::string a = File("locked.zud");
  ASSERT_EQ(Telvane("zud create " + a + " --password s3cret").exit_code, 0);
  Result no_password = Telvane("zud tree " + a);
  EXPECT_EQ(no_password.exit_code, 1);
  EXPECT_NE(no_password.out.find("--password"), std::string::npos)
      << no_password.out;
  Result wrong = Telvane("zud tree " + a + " --password nope");
  EXPECT_EQ(wrong.exit_code, 1);
  EXPECT_NE(wrong.out.find("wrong password"), std::string::npos) << wrong.out;
  ASSERT_EQ(
      Telvane("zud add " + a + " '\\Inbox' --from 1 --text x --password s3cret")
          .exit_code,
      0);

  Result verify = Telvane("zud verify " + a + " --password s3cret");
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
  EXPECT_NE(verify.out.find("3 folder(s), 1 message(s)"), std::string::npos)
      << verify.out;

  std::string b = File("compact.zud");
  ASSERT_EQ(
      Telvane("zud compact " + a + " " + b + " --password s3cret").exit_code,
      0);
  EXPECT_LE(fs::file_size(b), fs::file_size(a));
  EXPECT_NE(Telvane("zud tree " + b).exit_code, 0)
      << "the password travels with the copy";
  Result tree = Telvane("zud tree " + b + " --password s3cret");
  EXPECT_NE(tree.out.find("[unread]"), std::string::npos) << tree.out;

  // Damage a message body: verify names it and exits 3; tree still works.
  std::fstream file(b, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)),
                    std::istreambuf_iterator<char>());
  size_t zlib = bytes.find("\x78\x5e");  // the start of the compressed body
  ASSERT_NE(zlib, std::string::npos);
  file.seekp(static_cast<std::streamoff>(zlib + 2));
  file.write("\xff\xff\xff\xff", 4);
  file.close();
  Result damaged = Telvane("zud verify " + b + " --password s3cret");
  EXPECT_EQ(damaged.exit_code, 3) << damaged.out;
  EXPECT_NE(damaged.out.find("damage:"), std::string::npos) << damaged.out;
}

TEST_F(TelvaneTool, VerifySaysWhatRecoverBringsBack) {
  // An archive as a crash leaves it: two messages filed after its last
  // save, and never saved again.
  const std::string crashed = File("crashed.zud");
  {
    platform::testing::TempDevice device;
    store::Document live;
    ASSERT_TRUE(live.New(u"\\live.zud", {}).ok());
    ASSERT_TRUE(live.Save().ok());
    const platform::SystemTime time{2026, 12, 2, 7, 9, 0, 0, 0};
    ASSERT_NE(live.StoreMessage(live.FindOrCreateFolderPath(u"\\Inbox"),
                                u"10086", u"first", time),
              nullptr);
    ASSERT_NE(live.StoreMessage(live.FindOrCreateFolderPath(u"\\Work"),
                                u"10010", u"second", time),
              nullptr);
    fs::copy_file(device.HostPath("\\live.zud"), crashed);
  }
  Result verify = Telvane("zud verify " + crashed);
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
  EXPECT_NE(verify.out.find("filed after the last save"), std::string::npos)
      << verify.out;
  EXPECT_NE(verify.out.find("2 message(s), 1 folder(s)"), std::string::npos)
      << verify.out;
  // Reading changes nothing.
  Result tree = Telvane("zud tree " + crashed);
  EXPECT_EQ(tree.out.find("second"), std::string::npos) << tree.out;

  Result recover = Telvane("zud recover " + crashed);
  ASSERT_EQ(recover.exit_code, 0) << recover.out;
  EXPECT_NE(recover.out.find("2 message(s)"), std::string::npos) << recover.out;
  tree = Telvane("zud tree " + crashed);
  EXPECT_NE(tree.out.find("[folder] Work (1 unread)\n  #1 [unread] "),
            std::string::npos)
      << tree.out;
  verify = Telvane("zud verify " + crashed);
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
  EXPECT_EQ(verify.out.find("filed after"), std::string::npos) << verify.out;
  // Run again, nothing comes back twice.
  ASSERT_EQ(Telvane("zud recover " + crashed).exit_code, 0);
  EXPECT_EQ(Telvane("zud tree " + crashed).out, tree.out);

  // Cut off before its last index: the copy is kept, and what no index
  // reaches any more is gathered into \Recovered, oldest first.
  std::string bytes = platform::testing::ReadHostFile(crashed);
  const size_t last = bytes.rfind("ZudNote");
  ASSERT_NE(last, std::string::npos);
  const std::string cut = bytes.substr(0, last - 30);
  std::ofstream(crashed, std::ios::binary | std::ios::trunc) << cut;
  verify = Telvane("zud verify " + crashed);
  EXPECT_EQ(verify.exit_code, 3) << verify.out;
  recover = Telvane("zud recover " + crashed);
  ASSERT_EQ(recover.exit_code, 0) << recover.out;
  EXPECT_EQ(platform::testing::ReadHostFile(crashed + ".damaged"), cut);
  tree = Telvane("zud tree " + crashed);
  EXPECT_NE(tree.out.find("first"), std::string::npos) << tree.out;
  EXPECT_NE(tree.out.find("second"), std::string::npos) << tree.out;
}

TEST_F(TelvaneTool, OneWriterAndPasswordsThePromptCanTake) {
  const std::string a = File("held.zud");
  ASSERT_EQ(Telvane("zud create " + a).exit_code, 0);
  // Another writer holds it (the program, say).
  int fd = open((a + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "pelicorde.exe pid 4242\n", 23), 23);
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = off_t{1} << 30;
  lock.l_len = 1;
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
  Result add = Telvane("zud add " + a + " '\\Inbox' --from 1 --text x");
  EXPECT_EQ(add.exit_code, 1);
  EXPECT_NE(add.out.find("open for writing by pelicorde.exe pid 4242"),
            std::string::npos)
      << add.out;
  EXPECT_EQ(Telvane("zud tree " + a).exit_code, 0) << "readers go on";
  close(fd);  // the holder ends: the archive is free
  EXPECT_EQ(Telvane("zud add " + a + " '\\Inbox' --from 1 --text x").exit_code,
            0);

  // The program's prompt takes 10 characters; the file 12 bytes.
  Result long_password =
      Telvane("zud create " + File("p.zud") + " --password 12345678901");
  EXPECT_EQ(long_password.exit_code, 2) << long_password.out;
  EXPECT_NE(long_password.out.find("10 characters"), std::string::npos);
  EXPECT_FALSE(fs::exists(File("p.zud")));
  EXPECT_EQ(Telvane("zud create " + File("p.zud") + " --password 1234567890")
                .exit_code,
            0);
}

TEST_F(TelvaneTool, BadInputIsRefusedClearly) {
  std::string junk = File("junk.zud");
  std::ofstream(junk) << "this is not an archive";
  struct Case {
    std::string args;
    int exit_code;
  } cases[] = {
      {"", 2},
      {"zud", 2},
      {"zud frob x", 2},
      {"zud tree", 2},
      {"zud tree " + File("missing.zud"), 1},
      {"zud tree " + junk, 1},
      {"zud add " + junk + " '\\Inbox' --from 1", 2},
      {"zud add " + junk + " '\\Inbox' --from 1 --text x --time yesterday", 2},
      {"zud create " + File("x.zud") + " --bogus", 2},
  };
  for (const Case& c : cases) {
    Result result = Telvane(c.args);
    EXPECT_EQ(result.exit_code, c.exit_code) << c.args << "\n" << result.out;
    EXPECT_NE(result.out.find("telvane"), std::string::npos) << c.args;
  }
  // No view device is left behind.
  for (const auto& entry : fs::directory_iterator(dir_ / "tmp")) {
    EXPECT_EQ(entry.path().filename().string().rfind("telvane-view-", 0),
              std::string::npos);
  }
}

TEST_F(TelvaneTool, ImportAndExportXmlBackups) {
  std::string a = File("a.zud");
  ASSERT_EQ(Telvane("zud create " + a).exit_code, 0);
  // 2024-03-05 10:00:00 UTC, an emoji as surrogate references, an mms the
  // archive cannot hold.
  std::string backup = File("backup.xml");
  std::ofstream(backup)
      << "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
         "<smses count=\"3\">\n"
         "<sms address=\"10086\" date=\"1709632800000\" type=\"1\" "
         "body=\"Hi &#55357;&#56832;&#10;bye\" read=\"0\" />\n"
         "<sms address=\"555\" date=\"1709632860000\" type=\"2\" "
         "body=\"Sent &amp; done\" read=\"1\" />\n"
         "<mms date=\"1709632800000\" />\n"
         "</smses>\n";
  Result imported =
      Telvane("zud import-xml " + a + " '\\Phone\\Backup' " + backup);
  ASSERT_EQ(imported.exit_code, 0) << imported.out;
  EXPECT_EQ(imported.out, "2 imported, 0 skipped, 1 refused\n");
  Result again =
      Telvane("zud import-xml " + a + " '\\Phone\\Backup' " + backup);
  EXPECT_EQ(again.out, "0 imported, 2 skipped, 1 refused\n");

  Result tree = Telvane("zud tree " + a);
  EXPECT_NE(tree.out.find("#1 [folder] Backup (1 unread)"), std::string::npos)
      << tree.out;
  Result cat = Telvane("zud cat " + a + " '\\Phone\\Backup\\#2'");
  EXPECT_NE(cat.out.find("Sender:555\r\nContent:\r\nSend To:555\r\n"
                         "--------------------\r\nSent & done"),
            std::string::npos)
      << cat.out;

  // The whole archive out, into a new archive, and the text is the same.
  std::string out = File("out.xml");
  Result exported = Telvane("zud export-xml " + a + " / " + out);
  ASSERT_EQ(exported.exit_code, 0) << exported.out;
  EXPECT_EQ(exported.out, "exported 2 message(s) to " + out + "\n");
  std::stringstream written;
  written << std::ifstream(out).rdbuf();
  EXPECT_NE(written.str().find("body=\"Hi \xF0\x9F\x98\x80&#10;bye\""),
            std::string::npos)
      << written.str();
  std::string b = File("b.zud");
  ASSERT_EQ(Telvane("zud create " + b).exit_code, 0);
  ASSERT_EQ(Telvane("zud import-xml " + b + " '\\Inbox' " + out).out,
            "2 imported, 0 skipped, 0 refused\n");
  Result copy = Telvane("zud cat " + b + " '\\Inbox\\#1'");
  Result original = Telvane("zud cat " + a + " '\\Phone\\Backup\\#1'");
  EXPECT_EQ(copy.out, original.out);
  EXPECT_EQ(
      Telvane("zud export-xml " + a + " '\\Phone' " + out + " --no-subfolders")
          .out,
      "exported 0 message(s) to " + out + "\n");

  // A damaged backup: what came before the damage is filed, and the tool
  // says so and fails.
  std::ofstream(File("cut.xml"))
      << written.str().substr(0, written.str().find("Sent &amp;"));
  Result cut = Telvane("zud import-xml " + a + " '\\Cut' " + File("cut.xml"));
  EXPECT_EQ(cut.exit_code, 1) << cut.out;
  EXPECT_NE(cut.out.find(" refused\ntelvane: " + File("cut.xml") +
                         " is damaged (line "),
            std::string::npos)
      << cut.out;
  EXPECT_EQ(
      Telvane("zud import-xml " + a + " '\\Cut' " + File("none.xml")).exit_code,
      1);
  EXPECT_EQ(Telvane("zud export-xml " + a + " '\\Nothing' " + out).exit_code,
            1);
}

TEST(TelvaneHelp, OnTheToolAndEveryCommand) {
  Result tool = Telvane("--help");
  EXPECT_EQ(tool.exit_code, 0) << tool.out;
  EXPECT_EQ(tool.out.rfind("usage: telvane COMMAND ...\n", 0), 0u) << tool.out;
  for (const char* command : {"zud", "filters", "send", "play", "contacts",
                              "groups", "sentences", "setup", "help"}) {
    EXPECT_NE(tool.out.find("\n  " + std::string(command) + " "),
              std::string::npos)
        << command;
  }
  EXPECT_EQ(Telvane("help").out, tool.out);

  Result add = Telvane("zud add --help");
  EXPECT_EQ(add.exit_code, 0) << add.out;
  EXPECT_EQ(add.out.rfind("usage: telvane zud add --from SENDER --text TEXT "
                          "[OPTIONS] FILE FOLDER\n",
                          0),
            0u)
      << add.out;
  for (const char* text : {"--time TIME", "--password P", "PATH names a node"})
    EXPECT_NE(add.out.find(text), std::string::npos) << text;
  EXPECT_EQ(Telvane("help zud add").out, add.out);

  Result cat = Telvane("zud cat x.zud");
  EXPECT_EQ(cat.exit_code, 2);
  EXPECT_EQ(cat.out,
            "telvane: zud cat needs the PATH\n"
            "run 'telvane zud cat --help' for its usage\n");
  Result explain = Telvane("filters explain --from 1");
  EXPECT_EQ(explain.exit_code, 2);
  EXPECT_EQ(explain.out,
            "telvane: filters explain needs --body TEXT\n"
            "run 'telvane filters explain --help' for its usage\n");
}

// A filter file is read whole or not at all: one that cannot be read is
// reported, never shown in part, and never written over.
TEST(TelvaneFilters, AFileThatCannotBeReadIsReportedAndKept) {
  platform::testing::TempDevice device;
  const fs::path kept = device.root() / "kept.ini";
  platform::testing::WriteHostFile(kept, "the user's own filters");
  const fs::path ini = device.HostPath("/Program Files/Telvane/pelicorde.ini");
  fs::create_directories(ini.parent_path());
  fs::create_symlink(kept, ini);  // no plain file: the device reads no link

  Result show = Telvane("filters show");
  EXPECT_EQ(show.exit_code, 1) << show.out;
  EXPECT_EQ(show.out.rfind("telvane: ", 0), 0u) << show.out;
  EXPECT_NE(show.out.find("pelicorde.ini"), std::string::npos) << show.out;
  Result block = Telvane("filters block 13800000001");
  EXPECT_EQ(block.exit_code, 1) << block.out;
  Result add = Telvane("filters add Work --body meeting --hide");
  EXPECT_EQ(add.exit_code, 1) << add.out;
  EXPECT_TRUE(fs::is_symlink(ini));
  EXPECT_EQ(platform::testing::ReadHostFile(kept), "the user's own filters");

  // A folder given as the file.
  Result folder = Telvane("filters show " + device.root().string());
  EXPECT_EQ(folder.exit_code, 1) << folder.out;
  EXPECT_NE(folder.out.find("cannot read the filter file"), std::string::npos)
      << folder.out;
  Result missing = Telvane("filters explain --from 1 --body x /no/such.ini");
  EXPECT_EQ(missing.exit_code, 1) << missing.out;
  EXPECT_NE(missing.out.find("/no/such.ini: cannot read the filter file"),
            std::string::npos)
      << missing.out;
}

TEST(TelvanePlay, SaysWhyASoundDoesNotOpen) {
  platform::testing::TempDevice device;
  Result missing = Telvane("play /no/such.mp3");
  EXPECT_EQ(missing.exit_code, 1) << missing.out;
  EXPECT_EQ(missing.out.rfind("telvane: play: ", 0), 0u) << missing.out;
  EXPECT_NE(missing.out.find("/no/such.mp3"), std::string::npos);
  EXPECT_NE(missing.out.find("not found"), std::string::npos) << missing.out;
  EXPECT_EQ(Telvane("play").exit_code, 2);
  EXPECT_EQ(Telvane("play x.mp3 --random").exit_code, 2);
}

TEST(TelvaneSetup, RegistersTheTodayItemTheInstallProvides) {
  platform::testing::TempDevice device;
  // The rule client's library is only copied, so any file stands in.
  platform::testing::WriteHostFile(
      device.HostPath("\\Program Files\\Telvane\\inrelay.dll"), "library");
  Result first = Telvane("setup");
  ASSERT_EQ(first.exit_code, 0) << first.out;
  EXPECT_NE(first.out.find("Today item: registered (\\Program Files\\Telvane\\"
                           "pelicordep.dll)\n"),
            std::string::npos)
      << first.out;
  // Where `devicectl install` puts the library.
  auto key = platform::RegistryKey::Open(
      platform::RegistryRoot::kLocalMachine,
      u"\\SOFTWARE\\Microsoft\\Today\\Items\\\"Telvane\"");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->QueryString(u"DLL", 260),
            u"\\Program Files\\Telvane\\pelicordep.dll");
  EXPECT_EQ(key->QueryDword(u"Enabled"), 1u);
  // A user's own choice stays: setup does not turn a disabled item on.
  ASSERT_TRUE(key->SetDword(u"Enabled", 0).ok());
  Result again = Telvane("setup");
  ASSERT_EQ(again.exit_code, 0) << again.out;
  EXPECT_NE(again.out.find("Today item: registered (kept)\n"),
            std::string::npos)
      << again.out;
  EXPECT_EQ(key->QueryDword(u"Enabled"), 0u);
}

}  // namespace
