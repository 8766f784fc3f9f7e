// telvane: work with a Telvane archive (".zud" document) from the shell.
//
//   telvane zud create FILE [--author A] [--password P] [--recycle-bin]
//   telvane zud tree FILE
//   telvane zud cat FILE PATH
//   telvane zud add FILE FOLDER --from SENDER --text TEXT [--time TIME]
//   telvane zud export FILE PATH OUT.txt
//   telvane zud verify FILE
//   telvane zud recover FILE [--all]
//   telvane zud compact FILE OUT
//   telvane zud import-xml FILE FOLDER BACKUP.xml
//   telvane zud export-xml FILE PATH OUT.xml [--no-subfolders]
//
// FILE may lie anywhere on the host. A document with a password asks for it
// on the terminal; scripts give it with --password. Every failure prints one
// line starting with "telvane: " and exits non-zero (2: usage, 1: other;
// verify exits 3 when it found damage). `telvane --help` lists the commands,
// `telvane COMMAND --help` tells one. The other command groups (filters,
// send, play, contacts, groups, sentences, setup) have a file each.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/times.h"
#include "import/xml/xml_backup.h"
#include "intercept/phone_inbox.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/time.h"
#include "platform/unicode.h"
#include "settings/settings_store.h"
#include "store/document.h"
#include "store/salvage.h"
#include "text/text.h"
#include "tools/telvane/commands.h"
#include "tools/telvane/host_device.h"

namespace {

namespace fs = std::filesystem;
using cli::Fail;
using cli::U16;
using cli::U8;
using cli::UsageError;
using platform::Status;

constexpr int kDamaged = 3;
// What the program's password prompt takes, and what a header holds.
constexpr size_t kMaxPasswordChars = 10;
constexpr size_t kMaxPasswordBytes = 12;

// What the zud commands are given.
struct ZudArgs {
  std::string file;
  std::optional<std::string> password;
  std::string path;  // PATH, FOLDER or OUT
  std::string out;   // export's OUT.txt, the XML commands' backup
  std::optional<std::string> author;
  bool recycle_bin = false;
  std::string from;
  std::string text;
  std::optional<platform::SystemTime> time;  // UTC
  bool all = false;
  bool no_subfolders = false;
};

// Reads a password from the terminal without echo; nullopt without one.
std::optional<std::u16string> AskPassword(const std::string& prompt) {
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (tty == nullptr) return std::nullopt;
  std::fprintf(tty, "%s", prompt.c_str());
  std::fflush(tty);
  termios old_mode{};
  bool restore = tcgetattr(fileno(tty), &old_mode) == 0;
  if (restore) {
    termios quiet = old_mode;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fileno(tty), TCSANOW, &quiet);
  }
  char line[256] = {};
  bool got = std::fgets(line, sizeof line, tty) != nullptr;
  if (restore) tcsetattr(fileno(tty), TCSANOW, &old_mode);
  std::fprintf(tty, "\n");
  std::fclose(tty);
  if (!got) return std::nullopt;
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return U16(text);
}

// The document's questions, answered for a command-line user: questions are
// answered OK (the user asked for the command), passwords come from
// --password or the terminal.
class CommandLineUi : public store::DocumentUi {
 public:
  explicit CommandLineUi(const std::optional<std::string>& password) {
    if (password) password_ = U16(*password);
  }
  bool Confirm(std::u16string_view, std::u16string_view) override {
    return true;
  }
  void Inform(std::u16string_view text, std::u16string_view caption) override {
    std::cerr << U8(caption) << ": " << U8(text) << "\n";
  }
  bool CheckPassword(const std::u16string& password) override {
    asked_ = true;
    if (password_) return *password_ == password;
    std::optional<std::u16string> typed = AskPassword("Input Password:");
    if (!typed) {
      no_terminal_ = true;
      return false;
    }
    return *typed == password;
  }
  std::optional<std::u16string> ChangePassword(const std::u16string&) override {
    return std::nullopt;
  }
  bool asked() const { return asked_; }
  bool no_terminal() const { return no_terminal_; }

 private:
  std::optional<std::u16string> password_;
  bool asked_ = false;
  bool no_terminal_ = false;
};

// Everything a command needs: the device the file is reached on, the
// settings of that device, the document.
struct Session {
  tools::telvane::HostDevice device;
  std::unique_ptr<CommandLineUi> ui;
  std::unique_ptr<settings::SettingsStore> settings;
  std::unique_ptr<store::Document> document;
  std::u16string path;  // the document's device path
};

// Attaches FILE and loads the settings; the document is made but not opened.
int Begin(Session& session, const std::string& file,
          const std::optional<std::string>& password) {
  Status status;
  std::optional<std::u16string> path = session.device.Attach(file, &status);
  if (!path) return Fail(file + ": " + status.ToString());
  session.path = *path;
  session.settings = std::make_unique<settings::SettingsStore>();
  session.settings->Load();
  store::DocumentOptions options;
  options.receive_title = session.settings->receive_title();
  options.send_title = session.settings->send_title();
  options.import_title = session.settings->import_title();
  options.save_when_arrive = false;  // the command saves once at its end
  options.protect_level = store::kProtectEveryTime;
  session.ui = std::make_unique<CommandLineUi>(password);
  session.document =
      std::make_unique<store::Document>(options, session.ui.get());
  return 0;
}

// Opens FILE for writing (holding it against every other writer), or, with
// `read_only`, as a reader that sees the last save and writes nothing.
int OpenDocument(Session& session, const std::string& file,
                 store::LoadReport* report = nullptr, bool read_only = false) {
  Status status = read_only
                      ? session.document->OpenForReading(session.path, report)
                      : session.document->Open(session.path, false, report);
  if (status.ok()) return 0;
  if (status.code() == platform::ErrorCode::kBusy) {
    std::string holder = store::MessageFile::WriterOf(session.path);
    return Fail(file + " is open for writing by " +
                (holder.empty() ? std::string("another program") : holder) +
                "; close it there first");
  }
  if (status.code() == platform::ErrorCode::kAccessDenied &&
      session.ui->asked()) {
    if (session.ui->no_terminal()) {
      return Fail(file +
                  ": the archive has a password; give it with --password");
    }
    return Fail(file + ": wrong password");
  }
  return Fail(file + ": " + status.ToString());
}

// Finds a node by "\A\B\#3" style path; null with `error` set.
store::Node* FindNode(store::Document& document, std::u16string_view path,
                      std::string* error) {
  store::Node* node = document.tree().root();
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    std::u16string_view part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    store::Node* next = nullptr;
    if (part.size() > 1 && part[0] == u'#') {
      std::string digits = U8(part.substr(1));
      char* stop = nullptr;
      unsigned long n = std::strtoul(digits.c_str(), &stop, 10);
      if (stop != nullptr && *stop == '\0' && n >= 1 &&
          n <= node->child_count()) {
        next = node->child(n - 1);
      }
    } else {
      for (size_t i = 0; i < node->child_count(); ++i) {
        if (node->child(i)->title() == part) {
          next = node->child(i);
          break;
        }
      }
    }
    if (next == nullptr) {
      *error = "no node \"" + U8(part) + "\" in " + U8(path);
      return nullptr;
    }
    node = next;
  }
  if (node == document.tree().root()) {
    *error = "the path names no node";
    return nullptr;
  }
  return node;
}

const char* KindName(const store::Node& node) {
  switch (node.image()) {
    case store::kImageFolder:
      return "folder";
    case store::kImageMessageRead:
      return "read";
    case store::kImageMessageUnread:
      return "unread";
    case store::kImageRecycleBinEmpty:
    case store::kImageRecycleBinFull:
      return "recycle bin";
    default:
      return "?";
  }
}

void PrintTree(const store::Node& node, int depth) {
  for (size_t i = 0; i < node.child_count(); ++i) {
    const store::Node& child = *node.child(i);
    std::string line(static_cast<size_t>(depth) * 2, ' ');
    line += "#" + std::to_string(i + 1) + " [" + KindName(child) + "] " +
            U8(child.title());
    if (!child.is_message() && child.tag().unread > 0) {
      line += " (" + std::to_string(child.tag().unread) + " unread)";
    }
    std::cout << line << "\n";
    PrintTree(child, depth + 1);
  }
}

// The export block of one message: date, sender, body, as multibyte text.
std::optional<std::string> ExportBlock(store::Document& document,
                                       store::Node* node) {
  std::optional<store::NodeRecord> record = document.ReadNodeRecord(node);
  if (!record) return std::nullopt;
  std::u16string body;
  if (record->has_payload()) {
    std::optional<std::u16string> read = document.ReadNodeBody(node);
    if (!read) return std::nullopt;
    body = *read;
  }
  std::u16string date;
  if (std::optional<platform::SystemTime> time =
          platform::VariantTimeToSystemTime(record->date())) {
    date = text::FormatTime(*time, text::TimeKind::kDateAndTime, 260);
  }
  std::u16string block = u"Date:" + date + u"\r\nSender:" + record->sender() +
                         u"\r\nContent:\r\n" + body + u"\r\n";
  return platform::WideToMultiByte(block);
}

// ---------------------------------------------------------------- commands

int Create(const ZudArgs& args) {
  const std::string& file = args.file;
  store::NewFileOptions options;
  if (args.author) options.author = U16(*args.author);
  if (args.password) {
    options.password = U16(*args.password);
    // The program's password prompt takes at most 10 characters, and the
    // file keeps at most 12 bytes: a longer one could never be typed in.
    if (options.password.size() > kMaxPasswordChars ||
        platform::WideToMultiByte(options.password).size() >
            kMaxPasswordBytes) {
      return UsageError("--password holds at most " +
                        std::to_string(kMaxPasswordChars) +
                        " characters (12 bytes in the device's code page), "
                        "as many as the program's password prompt takes");
    }
  }
  options.create_recycle_bin = args.recycle_bin;
  if (fs::exists(file)) return Fail(file + ": File exists!");
  Session session;
  if (int rc = Begin(session, file, args.password)) return rc;
  Status status = session.document->New(session.path, options);
  if (status.ok()) status = session.document->Close();
  if (!status.ok()) return Fail(file + ": " + status.ToString());
  std::cout << "created " << file << "\n";
  return 0;
}

int Tree(const ZudArgs& args) {
  Session session;
  if (int rc = Begin(session, args.file, args.password)) return rc;
  if (int rc = OpenDocument(session, args.file, nullptr, true)) return rc;
  store::Document& document = *session.document;
  std::cout << args.file << ": " << document.tree().size() << " node(s), "
            << document.UnreadTotal() << " unread\n";
  PrintTree(*document.tree().root(), 0);
  return 0;
}

int Cat(const ZudArgs& args) {
  Session session;
  if (int rc = Begin(session, args.file, args.password)) return rc;
  if (int rc = OpenDocument(session, args.file, nullptr, true)) return rc;
  std::string error;
  store::Node* node = FindNode(*session.document, U16(args.path), &error);
  if (node == nullptr) return Fail(error);
  if (!node->is_message()) return Fail(args.path + " is not a message");
  if (!session.document->CheckNodePassword(node))
    return Fail("wrong password for the message");
  std::optional<std::string> block = ExportBlock(*session.document, node);
  if (!block)
    return Fail("cannot read the message: the archive is damaged there");
  std::cout << U8(platform::MultiByteToWide(*block));
  return 0;
}

int Add(const ZudArgs& args) {
  platform::SystemTime utc = args.time.value_or(platform::CurrentSystemTime());
  Session session;
  if (int rc = Begin(session, args.file, args.password)) return rc;
  if (int rc = OpenDocument(session, args.file)) return rc;
  store::Document& document = *session.document;
  std::u16string folder_path = U16(args.path);
  std::u16string text = U16(args.text);
  // The shell gives "\n"; messages keep the device's line breaks.
  std::u16string device_text;
  for (char16_t c : text) {
    if (c == u'\n' && (device_text.empty() || device_text.back() != u'\r'))
      device_text += u'\r';
    device_text += c;
  }
  store::Node* folder = document.FindOrCreateFolderPath(folder_path);
  if (folder == nullptr) return Fail("cannot make the folder " + args.path);
  if (store::Node* node =
          document.StoreMessage(folder, U16(args.from), device_text, utc);
      node == nullptr) {
    return Fail("cannot store the message");
  }
  Status status = document.Close();
  if (!status.ok()) return Fail("save: " + status.ToString());
  std::cout << "added to " << args.path << "\n";
  return 0;
}

int Export(const ZudArgs& args) {
  Session session;
  if (int rc = Begin(session, args.file, args.password)) return rc;
  if (int rc = OpenDocument(session, args.file, nullptr, true)) return rc;
  store::Document& document = *session.document;
  std::string error;
  store::Node* node = FindNode(document, U16(args.path), &error);
  if (node == nullptr) return Fail(error);
  if (!node->is_recycle_bin() && !document.CheckNodePassword(node)) {
    return Fail("wrong password for " + args.path);
  }
  std::string out;
  int written = 0, skipped = 0;
  auto add = [&](store::Node* message) {
    std::optional<std::string> block = ExportBlock(document, message);
    if (block) {
      out += *block;
      ++written;
    } else {
      ++skipped;
    }
  };
  if (node->is_message()) {
    add(node);
  } else {
    for (size_t i = 0; i < node->child_count(); ++i) {
      store::Node* child = node->child(i);
      if (!child->is_message()) continue;
      std::optional<store::NodeRecord> record = document.ReadNodeRecord(child);
      if (record && !record->password().empty())
        continue;  // protected: left out
      add(child);
    }
  }
  std::ofstream file(args.out, std::ios::binary | std::ios::trunc);
  if (!file ||
      !file.write(out.data(), static_cast<std::streamsize>(out.size()))) {
    return Fail("cannot write " + args.out);
  }
  std::cout << "exported " << written << " message(s) to " << args.out << "\n";
  if (skipped > 0)
    return Fail(std::to_string(skipped) + " message(s) could not be read");
  return 0;
}

int Verify(const ZudArgs& args) {
  Session session;
  if (int rc = Begin(session, args.file, args.password)) return rc;
  store::LoadReport report;
  if (int rc = OpenDocument(session, args.file, &report, true)) return rc;
  store::Document& document = *session.document;
  std::vector<std::string> problems = report.problems;
  if (report.used_fallback_index) {
    problems.push_back("the header's index is unreadable; the index at " +
                       std::to_string(report.index_used) + " was used");
  }
  int folders = 0, messages = 0;
  std::vector<store::Node*> stack{document.tree().root()};
  while (!stack.empty()) {
    store::Node* node = stack.back();
    stack.pop_back();
    for (size_t i = 0; i < node->child_count(); ++i)
      stack.push_back(node->child(i));
    if (node == document.tree().root() || node->is_recycle_bin()) continue;
    std::optional<store::NodeRecord> record = document.ReadNodeRecord(node);
    if (!record) {
      problems.push_back("record of \"" + U8(node->title()) + "\" at offset " +
                         std::to_string(node->tag().record_offset) +
                         " cannot be read");
      continue;
    }
    if (node->is_message()) {
      ++messages;
      if (record->has_payload() && !document.ReadNodeBody(node)) {
        problems.push_back("text of \"" + U8(node->title()) + "\" at offset " +
                           std::to_string(node->tag().record_offset) +
                           " is damaged");
      }
    } else {
      ++folders;
    }
  }
  std::cout << args.file << ": " << folders << " folder(s), " << messages
            << " message(s)\n";
  if (report.used_noted_index && !report.used_fallback_index) {
    std::cout << "the last save's header was never written; its index at "
              << report.index_used << " is the one in use\n";
  }
  if (report.recovered_messages + report.recovered_folders +
          report.recovered_edits >
      0) {
    std::cout << "filed after the last save (opening the archive for writing "
                 "puts them back): "
              << report.recovered_messages << " message(s), "
              << report.recovered_folders << " folder(s), "
              << report.recovered_edits << " edit(s)\n";
  }
  if (report.unnoted_bytes > 0) {
    std::cout << report.unnoted_bytes
              << " byte(s) after the last complete write (a write a crash cut "
                 "short, or records of an older version)\n";
  }
  if (report.unreached_messages > 0) {
    problems.push_back(std::to_string(report.unreached_messages) +
                       " intact message(s) that nothing reaches; `telvane zud "
                       "recover` gathers them into \\Recovered");
  }
  for (const std::string& problem : problems)
    std::cout << "damage: " << problem << "\n";
  if (problems.empty()) {
    std::cout << "no damage found\n";
    return 0;
  }
  return kDamaged;
}

int Recover(const ZudArgs& args) {
  const std::string& file = args.file;
  Session session;
  if (int rc = Begin(session, file, args.password)) return rc;
  store::LoadReport report;
  if (int rc = OpenDocument(session, file, &report)) return rc;
  store::Document& document = *session.document;
  if (!report.damaged_copy.empty()) {
    std::cout << "the archive is damaged; a copy of it as it was is kept as "
              << U8(report.damaged_copy) << "\n";
  }
  if (!document.file().writable()) {
    return Fail(
        "no copy of the damaged archive could be kept; nothing was "
        "changed (make room beside it and try again)");
  }
  std::cout << "put back what was filed after the last save: "
            << report.recovered_messages << " message(s), "
            << report.recovered_folders << " folder(s), "
            << report.recovered_edits << " edit(s)\n";
  if (!report.released.empty()) {
    // Their answer may never have gone out: the phone's copies go now.
    Status phone;
    if (std::optional<int> removed =
            intercept::RemoveFromPhoneInbox(report.released, &phone)) {
      std::cout << "taken out of the phone's Inbox, as their filter asked: "
                << *removed << " message(s)\n";
    }
  }

  // Salvage: intact messages that nothing reaches, when the archive lost
  // its way to them (or, with --all, every such message).
  int salvaged = 0;
  if (report.damaged() || args.all) {
    std::set<uint32_t> reached;
    for (const store::IndexEntry& entry : document.tree().ToIndexEntries())
      reached.insert(entry.record_offset);
    std::vector<store::SalvagedMessage> found =
        store::SalvageMessages(document.file(), reached);
    if (!found.empty()) {
      store::Node* folder =
          document.FindOrCreateFolderPath(store::kRecoveredFolderPath);
      if (folder == nullptr) return Fail("cannot make the folder \\Recovered");
      for (const store::SalvagedMessage& message : found) {
        std::u16string title = message.sender;
        if (std::optional<platform::SystemTime> time =
                platform::VariantTimeToSystemTime(message.record.date())) {
          title = text::MessageTitle(message.body, message.sender, *time,
                                     session.settings->receive_title());
        }
        // The record is there already: the node only points to it again
        // (the save below makes that last).
        store::NodeTag tag;
        tag.record_offset = message.offset;
        document.AddNode(folder, title, store::kImageMessageRead, tag, false);
        document.MarkModified();
        ++salvaged;
      }
    }
  }
  std::cout << "gathered into \\Recovered: " << salvaged
            << " message(s) nothing reached\n";
  Status status = document.Close();
  if (!status.ok()) return Fail("save: " + status.ToString());
  return 0;
}

int Compact(const ZudArgs& args) {
  const std::string& out = args.path;
  if (fs::exists(out)) return Fail(out + ": File exists!");
  Session session;
  if (int rc = Begin(session, args.file, args.password)) return rc;
  if (int rc = OpenDocument(session, args.file, nullptr, true)) return rc;
  Status status;
  std::optional<std::u16string> out_path = session.device.Attach(out, &status);
  if (!out_path) return Fail(out + ": " + status.ToString());
  store::Document& document = *session.document;
  status =
      document.file().CompactTo(*out_path, document.tree().ToIndexEntries());
  if (!status.ok()) {
    std::error_code ec;
    fs::remove(out, ec);
    return Fail("Compressing file error! " + status.ToString());
  }
  std::error_code ec;
  std::cout << "compacted " << args.file << " (" << fs::file_size(args.file, ec)
            << " bytes) into " << out << " (" << fs::file_size(out, ec)
            << " bytes)\n";
  return 0;
}

int ImportXml(const ZudArgs& args) {
  Session session;
  if (int rc = Begin(session, args.file, args.password)) return rc;
  if (int rc = OpenDocument(session, args.file)) return rc;
  Status status;
  std::optional<std::u16string> backup =
      session.device.Attach(args.out, &status);
  if (!backup) return Fail(args.out + ": " + status.ToString());
  store::Document& document = *session.document;
  store::Node* folder = document.FindOrCreateFolderPath(U16(args.path));
  if (folder == nullptr) return Fail("cannot make the folder " + args.path);
  import::xml::ImportResult result =
      import::xml::ImportBackupFile(document, folder, *backup);
  Status saved = document.Close();
  std::cout << result.imported << " imported, " << result.skipped
            << " skipped, " << result.refused << " refused\n";
  if (!result.status.ok()) {
    return Fail(args.out + ": " + result.status.ToString());
  }
  if (!saved.ok()) return Fail("save: " + saved.ToString());
  if (!result.damage.empty()) {
    return Fail(args.out + " is damaged (" + result.damage +
                "); what came before the damage was imported");
  }
  return 0;
}

int ExportXml(const ZudArgs& args) {
  Session session;
  if (int rc = Begin(session, args.file, args.password)) return rc;
  if (int rc = OpenDocument(session, args.file, nullptr, true)) return rc;
  store::Document& document = *session.document;
  store::Node* node = nullptr;  // the whole document
  if (args.path != "/" && args.path != "\\" && !args.path.empty()) {
    std::string error;
    node = FindNode(document, U16(args.path), &error);
    if (node == nullptr) return Fail(error);
    if (!node->is_recycle_bin() && !document.CheckNodePassword(node)) {
      return Fail("wrong password for " + args.path);
    }
  }
  Status status;
  std::optional<std::u16string> out = session.device.Attach(args.out, &status);
  if (!out) return Fail(args.out + ": " + status.ToString());
  import::xml::ExportResult result =
      import::xml::ExportBackup(document, node, !args.no_subfolders, *out);
  if (!result.status.ok()) {
    return Fail("cannot write " + args.out + ": " + result.status.ToString());
  }
  std::cout << "exported " << result.written << " message(s) to " << args.out
            << "\n";
  if (result.left_out > 0) {
    std::cout << "left out " << result.left_out
              << " message(s) protected by a password or unreadable\n";
  }
  return 0;
}

// ---------------------------------------------------------------- the tool

void AddZudCommands(cli::Tool& tool) {
  CLI::App* zud = tool.AddCommand(tool.root(), "zud",
                                  "work with an archive (.zud document)");
  const std::string notes =
      "FILE may lie anywhere on the host. PATH names a node by its titles\n"
      "from the root, \"\\Inbox\\Ann 2006-3-5\", or by position among its\n"
      "siblings, \"\\Inbox\\#2\" (as `tree` numbers them). --password P\n"
      "gives a document's (or a node's) password without asking.";
  zud->footer(notes);
  auto args = std::make_shared<ZudArgs>();
  // Adds a zud command: FILE, then --password, which every one takes.
  auto command = [&tool, zud, args, notes](const std::string& name,
                                           const std::string& help,
                                           int (*run)(const ZudArgs&)) {
    CLI::App* app =
        tool.AddCommand(zud, name, help, [args, run] { return run(*args); });
    app->add_option("FILE", args->file, "the archive")->required();
    app->footer(notes);
    app->add_option("--password", args->password,
                    "the archive's (or the message's) password, without "
                    "asking")
        ->type_name("P");
    return app;
  };

  CLI::App* create = command(
      "create", "make a new archive (with Drafts, Sent Box, Inbox)", Create);
  create->add_option("--author", args->author, "the author it names")
      ->type_name("A");
  create->add_flag("--recycle-bin", args->recycle_bin, "with a Recycle Bin");

  command("tree", "the folders and messages, with kinds and unread counts",
          Tree);

  command("cat", "one message: date, sender, text", Cat)
      ->add_option("PATH", args->path, "the message")
      ->required();

  CLI::App* add =
      command("add", "file a message in FOLDER as a newly received one", Add);
  add->add_option("FOLDER", args->path,
                  "the folder's path, made when missing (\"\\Inbox\")")
      ->required();
  add->add_option("--from", args->from, "the sender")
      ->type_name("SENDER")
      ->required();
  add->add_option("--text", args->text, "the message's text")->required();
  cli::AddTimeOption(add, "--time", &args->time, cli::Zone::kLocal,
                     "when it arrived (default now)");

  CLI::App* export_command = command(
      "export", "write a message, or a folder's messages, as text", Export);
  export_command->add_option("PATH", args->path, "the message or folder")
      ->required();
  export_command->add_option("OUT.txt", args->out, "the text file to write")
      ->required();

  command("verify",
          "read everything the index reaches, report damage and what "
          "recovery would bring back (exit 3: damage found)",
          Verify);

  command("recover",
          "put back what was filed after the last save, and gather intact "
          "messages nothing reaches into \\Recovered",
          Recover)
      ->add_flag("--all", args->all,
                 "also the messages that were deleted long ago");

  command("compact", "write a compacted copy without dead space", Compact)
      ->add_option("OUT", args->path, "the copy (a new file)")
      ->required();

  CLI::App* import_xml =
      command("import-xml",
              "file the messages of an Android SMS backup (XML) in FOLDER, "
              "skipping those already there",
              ImportXml);
  import_xml
      ->add_option("FOLDER", args->path,
                   "the folder's path, made when missing (\"\\Inbox\")")
      ->required();
  import_xml->add_option("BACKUP.xml", args->out, "the backup to read")
      ->required();

  CLI::App* export_xml = command(
      "export-xml",
      "write a message, a folder or the whole archive as an Android SMS "
      "backup (XML)",
      ExportXml);
  export_xml
      ->add_option("PATH", args->path,
                   "the message or folder; \"/\" for the whole archive "
                   "(the Recycle Bin left out)")
      ->required();
  export_xml->add_option("OUT.xml", args->out, "the file to write")->required();
  export_xml->add_flag("--no-subfolders", args->no_subfolders,
                       "only the folder's own messages");
}

}  // namespace

int main(int argc, char** argv) {
  cli::Tool tool("telvane",
                 "work with Telvane's archives, filters, contacts and the "
                 "phone from the shell");
  AddZudCommands(tool);
  tools::telvane::AddFiltersCommands(tool);
  tools::telvane::AddSendCommand(tool);
  tools::telvane::AddPlayCommand(tool);
  tools::telvane::AddContactsCommands(tool);
  tools::telvane::AddSetupCommand(tool);
  return tool.Run(argc, argv);
}
