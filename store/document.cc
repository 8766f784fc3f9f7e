#include "store/document.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <utility>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/unicode.h"
#include "store/salvage.h"
#include "text/text.h"

namespace store {
namespace {

constexpr std::array<std::u16string_view, kWellKnownFolderCount> kFolderPaths =
    {u"\\Sent Box", u"\\Outbox", u"\\Inbox", u"\\Drafts"};

// The current local time as an OLE date (0 if the clock is unreadable).
double LocalDateNow() {
  return platform::SystemTimeToVariantTime(platform::CurrentLocalTime())
      .value_or(0.0);
}

uint16_t ClampCount(int count) {
  return static_cast<uint16_t>(std::clamp(count, 0, 0xFFFF));
}

bool IsAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char16_t c) { return c < 0x80; });
}

// Multibyte text as the file stores a body: the conversion and its NUL.
// ASCII is the same single bytes in every code page.
std::string BodyBytes(std::u16string_view body, uint32_t code_page) {
  std::string bytes;
  if (IsAscii(body)) {
    bytes.reserve(body.size() + 1);
    for (char16_t c : body) bytes.push_back(static_cast<char>(c));
  } else {
    bytes = platform::WideToMultiByte(body, code_page);
  }
  bytes.push_back('\0');
  return bytes;
}

// A chosen path is cut at its first carriage return.
std::u16string_view CutAtCarriageReturn(std::u16string_view path) {
  return path.substr(0, std::min(path.find(u'\r'), path.size()));
}

}  // namespace

std::u16string_view WellKnownFolderPath(int index) {
  if (index < 0 || index >= kWellKnownFolderCount) return {};
  return kFolderPaths[static_cast<size_t>(index)];
}

Document::Document(DocumentOptions options, DocumentUi* ui)
    : options_(options), ui_(ui) {
  tree_.AddObserver(this);
}

Document::~Document() {
  Close().IgnoreError();
  tree_.RemoveObserver(this);
}

// --- User interaction -------------------------------------------------------

bool Document::Confirm(std::u16string_view text, std::u16string_view caption) {
  return ui_ == nullptr || ui_->Confirm(text, caption);
}

void Document::Inform(std::u16string_view text, std::u16string_view caption) {
  if (ui_ != nullptr) ui_->Inform(text, caption);
}

// --- The unread total
// ---------------------------------------------------------

platform::Status Document::OpenUnreadCounter() {
  platform::Status status;
  bool existed = false;
  auto counter = platform::SharedMemory::CreateOrOpen(
      kUnreadCountName, kUnreadCountSize, &existed, &status);
  if (!counter) return status;
  counter_ = std::move(*counter);
  return platform::Status::Ok();
}

void Document::SetUnreadCounter(platform::SharedMemory counter) {
  counter_ = std::move(counter);
}

int Document::UnreadTotal() const {
  int total = 0;
  const Node* root = tree_.root();
  for (size_t i = 0; i < root->child_count(); ++i) {
    const Node* item = root->child(i);
    if (item == recycle_bin_) continue;
    total += item->tag().unread;
  }
  return total;
}

void Document::PublishUnreadTotal() {
  if (!counter_.is_open() || counter_.size() < kUnreadCountSize) return;
  const uint32_t total = static_cast<uint32_t>(IsOpen() ? UnreadTotal() : 0);
  // Little-endian whatever the host; the mapping is page-aligned, so one
  // whole-word store never tears for the reading process.
  uint32_t value = total;
  if constexpr (std::endian::native == std::endian::big) {
    value = ((total & 0xFFu) << 24) | ((total & 0xFF00u) << 8) |
            ((total >> 8) & 0xFF00u) | (total >> 24);
  }
  std::atomic_ref<uint32_t>(*static_cast<uint32_t*>(counter_.data()))
      .store(value, std::memory_order_relaxed);
}

// --- Files
// --------------------------------------------------------------------

void Document::MarkModified() {
  if (file_.IsOpen()) file_.MarkModified();
}

std::u16string Document::NewFileName(std::u16string_view name) {
  if (name.empty()) return {};
  std::u16string lower(name);
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  constexpr std::u16string_view kExtension = u".zud";
  if (!lower.ends_with(kExtension)) lower += kExtension;
  return lower;
}

platform::Status Document::New(std::u16string_view path,
                               const NewFileOptions& options) {
  DocumentLock::Holder hold(lock_);
  if (path.empty()) {
    return platform::Status(platform::ErrorCode::kInvalidArgument,
                            "new document: empty file name");
  }
  if (platform::files::Exists(path) || (IsOpen() && path == file_.path())) {
    return platform::Status(platform::ErrorCode::kAlreadyExists,
                            "new document: the file exists");
  }
  Close().IgnoreError();
  FileHeader header;
  header.set_author(options.author);
  header.set_password(options.password);
  platform::Status status = file_.Create(path, header);
  if (!status.ok()) return status;
  code_page_ = platform::AnsiCodePage();
  open_ = true;
  if (options.create_recycle_bin) {
    recycle_bin_ =
        AddNode(nullptr, kRecycleBinTitle, kImageRecycleBinEmpty, {}, false);
  }
  folders_.fill(nullptr);
  WellKnownFolder(kFolderDrafts);
  WellKnownFolder(kFolderSentBox);
  WellKnownFolder(kFolderInbox);
  MarkModified();
  PublishUnreadTotal();
  return platform::Status::Ok();
}

platform::Status Document::Open(std::u16string_view path, bool defer_password,
                                LoadReport* report) {
  DocumentLock::Holder hold(lock_);
  Close().IgnoreError();
  return OpenFile(CutAtCarriageReturn(path), Access::kWrite, defer_password,
                  report, nullptr);
}

platform::Status Document::OpenForReading(std::u16string_view path,
                                          LoadReport* report) {
  DocumentLock::Holder hold(lock_);
  Close().IgnoreError();
  return OpenFile(CutAtCarriageReturn(path), Access::kRead, false, report,
                  nullptr);
}

platform::Status Document::OpenFile(std::u16string_view path, Access access,
                                    bool defer_password, LoadReport* report,
                                    std::unique_ptr<platform::LockFile> lock) {
  platform::Status status = file_.Open(path, access, std::move(lock));
  if (!status.ok()) return status;
  code_page_ = platform::AnsiCodePage();
  // Until the index is loaded the document is not open: a message that
  // arrives while the password is asked is not filed into an empty tree,
  // and no save writes one.
  const std::u16string password = file_.header().password();
  if (!password.empty() && !defer_password &&
      (ui_ == nullptr || !ui_->CheckPassword(password))) {
    file_.Close();
    return platform::Status(platform::ErrorCode::kAccessDenied,
                            "open document: password not entered");
  }
  LoadReport local_report;
  LoadReport& out = report != nullptr ? *report : local_report;
  std::optional<std::vector<IndexEntry>> entries =
      file_.LoadIndex(&out, &status);
  if (!entries) entries.emplace();  // the notes may still name an index
  Recover(access, &*entries, out);
  if (!open_) {
    file_.Close();
    if (status.ok()) {
      status = platform::Status(platform::ErrorCode::kIoError,
                                "open document: the index cannot be read");
    }
    return status;
  }
  return platform::Status::Ok();
}

void Document::Recover(Access access, std::vector<IndexEntry>* entries,
                       LoadReport& report) {
  const bool index_loaded = report.index_end != 0;
  const bool header_index_unusable = report.used_fallback_index;
  // With the header's index unusable every note may matter: walk the whole
  // file. Otherwise only what follows the index in use.
  const uint64_t scan_from = header_index_unusable || !index_loaded
                                 ? kFirstRecordOffset
                                 : report.index_end;
  platform::Status scan_status;
  std::optional<NoteScan> scan = file_.ScanNotes(scan_from, &scan_status);
  if (!scan) {
    report.problems.push_back("the notes cannot be read: " +
                              scan_status.ToString());
    scan.emplace();
  }

  // The latest save whose index is whole: a save whose header write never
  // happened, or a later one than the fallback.
  size_t first_note = 0;
  for (size_t i = scan->notes.size(); i-- > 0;) {
    const NoteScan::Entry& entry = scan->notes[i];
    if (entry.note.kind != NoteKind::kSaved) continue;
    if (index_loaded && entry.note.target_offset < report.index_end) break;
    if (!file_.CheckTarget(entry.note.target_offset, entry.note.target_size,
                           entry.note.target_crc)) {
      continue;
    }
    LoadReport noted;
    platform::Status load_status;
    std::optional<std::vector<IndexEntry>> loaded =
        file_.LoadIndexAt(entry.note.target_offset, &noted, &load_status);
    if (!loaded) continue;
    *entries = std::move(*loaded);
    report.used_noted_index = true;
    report.index_used = noted.index_used;
    report.index_end = noted.index_end;
    for (std::string& problem : noted.problems)
      report.problems.push_back(std::move(problem));
    first_note = i + 1;
    break;
  }
  if (!index_loaded && !report.used_noted_index) {
    // Neither the header's index, the registry's nor a noted one: nothing
    // to open.
    return;
  }
  // Notes before the index in use belong to saves it covers.
  while (first_note < scan->notes.size() &&
         scan->notes[first_note].at < report.index_end) {
    ++first_note;
  }

  BuildReport built = tree_.Build(*entries);
  recycle_bin_ = built.recycle_bin;
  for (std::string& problem : built.problems)
    report.problems.push_back(std::move(problem));
  folders_.fill(nullptr);

  // What the notes after the index say: the CRC-32s each record may have
  // (filed, then rewritten in place), the filings withdrawn.
  std::map<uint32_t, std::vector<uint32_t>> accepted;
  std::map<uint32_t, bool> withdrawn;
  for (size_t i = first_note; i < scan->notes.size(); ++i) {
    const Note& note = scan->notes[i].note;
    if (note.kind == NoteKind::kFiled || note.kind == NoteKind::kRetagged ||
        note.kind == NoteKind::kRewritten) {
      accepted[note.target_offset].push_back(note.target_crc);
    } else if (note.kind == NoteKind::kWithdrawn) {
      withdrawn[note.target_offset] = true;
    }
  }
  // Records the tree reaches already: never put back twice.
  std::map<uint32_t, bool> reached;
  for (const IndexEntry& entry : *entries) {
    if (entry.record_offset != 0) reached[entry.record_offset] = true;
  }
  auto intact = [&](const Note& note) {
    for (uint32_t crc : accepted[note.target_offset]) {
      if (file_.CheckTarget(note.target_offset, note.target_size, crc))
        return true;
    }
    return false;
  };
  std::vector<const Note*> plan;
  for (size_t i = first_note; i < scan->notes.size(); ++i) {
    const Note& note = scan->notes[i].note;
    if (note.kind != NoteKind::kFiled && note.kind != NoteKind::kRetagged) {
      continue;
    }
    if (withdrawn.count(note.target_offset) != 0 ||
        reached.count(note.target_offset) != 0) {
      continue;
    }
    if (!intact(note)) {
      ++report.bad_records;
      report.problems.push_back("the record filed at " +
                                std::to_string(note.target_offset) +
                                " no longer matches its note");
      continue;
    }
    reached[note.target_offset] = true;
    plan.push_back(&note);
  }
  report.unnoted_bytes = scan->unnoted_bytes;

  // Intact messages nothing reaches: with the header's index unusable,
  // anywhere in the file; otherwise among the records after the index that
  // have no note (an older writer's, or a last write cut short).
  std::vector<std::pair<uint32_t, uint32_t>> candidates;
  for (const auto& record : scan->unnoted_records) {
    if (record.first >= report.index_end || header_index_unusable) {
      candidates.push_back(record);
    }
  }
  // A last record without its note is a write a crash cut short (never
  // answered for, so its message is still in the phone's Inbox) when the
  // writer leaves notes; an older writer's otherwise.
  if (scan->last_unnoted_record && scan->notes.empty()) {
    candidates.push_back(*scan->last_unnoted_record);
  }
  if (header_index_unusable) {
    for (const NoteScan::Entry& entry : scan->notes) {
      if (entry.note.kind == NoteKind::kFiled && entry.at < report.index_end) {
        candidates.emplace_back(
            entry.note.target_offset,
            entry.note.target_offset + entry.note.target_size);
      }
    }
  }
  for (const auto& [offset, end] : candidates) {
    if (reached.count(offset) != 0) continue;
    if (ReadSalvageableMessage(file_, offset)) ++report.unreached_messages;
  }

  if (access == Access::kRead) {
    for (const Note* note : plan) {
      if (note->kind == NoteKind::kRetagged) {
        ++report.recovered_edits;
      } else if (note->image == kImageFolder) {
        ++report.recovered_folders;
      } else {
        ++report.recovered_messages;
      }
    }
    open_ = true;
    RecountUnread(nullptr);
    PublishUnreadTotal();
    return;
  }

  // Nothing is written to a damaged document before it is copied.
  if (report.damaged() && !KeepDamagedCopy(report)) file_.ForbidWrites();
  open_ = true;
  for (const Note* note : plan) {
    if (note->kind == NoteKind::kRetagged) {
      Node* node = nullptr;
      std::vector<Node*> pending = {tree_.root()};
      while (!pending.empty() && node == nullptr) {
        Node* current = pending.back();
        pending.pop_back();
        for (size_t i = current->child_count(); i-- > 0;) {
          Node* child = current->child(i);
          if (child->tag().record_offset == note->previous_offset &&
              node == nullptr && child != recycle_bin_) {
            node = child;
          }
          pending.push_back(child);
        }
      }
      if (node == nullptr) continue;
      NodeTag tag = node->tag();
      tag.record_offset = note->target_offset;
      tree_.SetTag(node, tag);
      if (!note->title.empty()) tree_.SetTitle(node, note->title);
      ++report.recovered_edits;
      continue;
    }
    Node* parent = ResolveNotePath(*note);
    if (parent == nullptr && !note->path.empty()) continue;
    if (note->image == kImageFolder) {
      if (FindChildFolder(parent, note->title) != nullptr) continue;
      NodeTag tag;
      tag.record_offset = note->target_offset;
      AddNode(parent, note->title, kImageFolder, tag, false);
      ++report.recovered_folders;
      continue;
    }
    NodeTag tag;
    tag.record_offset = note->target_offset;
    const NodeImage image = note->image == kImageMessageUnread
                                ? kImageMessageUnread
                                : kImageMessageRead;
    AddNode(parent, note->title, image, tag, false);
    ++report.recovered_messages;
    if ((note->flags & kNoteReleased) != 0) {
      report.released.push_back({note->delivery_time, note->fingerprint});
    }
  }
  RecountUnread(nullptr);
  if (report.recovered_messages + report.recovered_folders +
          report.recovered_edits >
      0) {
    MarkModified();
    UpdateRecycleBinImage();
  }
  PublishUnreadTotal();
}

bool Document::KeepDamagedCopy(LoadReport& report) {
  const std::u16string& path = file_.path();
  for (int n = 1; n <= 99; ++n) {
    std::u16string copy = path + u".damaged";
    if (n > 1) copy += u"." + platform::FromUtf8(std::to_string(n));
    if (platform::files::Exists(copy)) continue;
    platform::Status status =
        platform::files::Copy(path, copy, /*fail_if_exists=*/true);
    if (status.ok()) {
      report.damaged_copy = copy;
      return true;
    }
    if (status.code() != platform::ErrorCode::kAlreadyExists) {
      report.problems.push_back("no copy of the damaged file could be kept (" +
                                status.ToString() +
                                "); nothing will be written to it");
      return false;
    }
  }
  report.problems.push_back(
      "no free name for a copy of the damaged file; nothing will be written "
      "to it");
  return false;
}

platform::Status Document::Save() {
  DocumentLock::Holder hold(lock_);
  if (!IsOpen() || !file_.writable()) return platform::Status::Ok();
  // A failed index leaves the header pointing at the previous one, so the
  // header (author, password changes) is still written.
  platform::Status status = file_.SaveIndex(tree_.ToIndexEntries());
  platform::Status flushed = file_.FlushHeader();
  return status.ok() ? flushed : status;
}

platform::Status Document::Close() {
  DocumentLock::Holder hold(lock_);
  platform::Status status;
  if (IsOpen()) status = Save();
  file_.Close();
  open_ = false;
  tree_.Clear();
  ForgetNodes();
  PublishUnreadTotal();
  return status;
}

platform::Status Document::Compact(bool defer_password) {
  DocumentLock::Holder hold(lock_);
  if (!IsOpen() || tree_.empty()) {
    return platform::Status(platform::ErrorCode::kInvalidArgument,
                            "compact: no document or an empty tree");
  }
  if (!file_.writable()) {
    return platform::Status(platform::ErrorCode::kAccessDenied,
                            "compact: the document is not writable");
  }
  // The compacted copy is written from the tree, and must not lose what
  // the save did not manage to write: a failed save stops here.
  platform::Status status = Save();
  if (!status.ok()) {
    Inform(kCompressError, kCaptionError);
    return status;
  }
  compacted_ = true;
  const std::u16string path = file_.path();
  const std::u16string packed = path + u".ban";
  const std::u16string backup = path + u".bak";
  status = file_.CompactTo(packed, tree_.ToIndexEntries());
  if (!status.ok()) {
    platform::files::Delete(packed).IgnoreError();
    Inform(kCompressError, kCaptionError);
    return status;
  }
  // Closed, but the writer lock stays ours until the document is open
  // again: no other writer can slip in between.
  open_ = false;
  tree_.Clear();
  ForgetNodes();
  std::unique_ptr<platform::LockFile> writer = file_.CloseKeepingLock();
  PublishUnreadTotal();
  status = platform::files::Copy(path, backup, /*fail_if_exists=*/false);
  if (!status.ok() && !Confirm(kAskBackupError, kCaptionAlert)) {
    platform::files::Delete(packed).IgnoreError();
    return status;
  }
  status = platform::files::Copy(packed, path, /*fail_if_exists=*/false);
  if (!status.ok()) return status;  // closed; the ".ban" file stays
  platform::files::Delete(packed).IgnoreError();
  return OpenFile(path, Access::kWrite, defer_password, nullptr,
                  std::move(writer));
}

// --- Bookkeeping of removed nodes
// -----------------------------------------------

void Document::ForgetNodes() {
  pending_parents_.clear();
  recycle_bin_ = nullptr;
  folders_.fill(nullptr);
  clipboard_.clear();
  clipboard_command_ = ClipboardCommand::kNone;
}

void Document::NodeAboutToBeRemoved(Node* /*parent*/, size_t /*index*/,
                                    Node* node) {
  if (recycle_bin_ != nullptr && recycle_bin_->IsWithin(node)) {
    recycle_bin_ = nullptr;
  }
  for (Node*& folder : folders_) {
    if (folder != nullptr && folder->IsWithin(node)) folder = nullptr;
  }
  std::erase_if(clipboard_,
                [node](const Node* entry) { return entry->IsWithin(node); });
  if (clipboard_.empty()) clipboard_command_ = ClipboardCommand::kNone;
  for (auto& [id, parent] : pending_parents_) {
    if (parent != nullptr && parent->IsWithin(node)) parent = nullptr;
  }
}

void Document::TreeAboutToBeReset() { ForgetNodes(); }

void Document::RemoveNode(Node* node) {
  if (node == nullptr || node == tree_.root()) return;
  if (node->tag().unread != 0)
    AdjustUnread(node->parent(), -node->tag().unread);
  tree_.Remove(node);
}

// --- Nodes
// --------------------------------------------------------------------

Node* Document::AddNode(Node* parent, std::u16string_view title,
                        NodeImage image, const NodeTag& tag, bool bold) {
  return tree_.Append(parent, title, image, tag, bold);
}

Note Document::FilingNote(Node* parent, std::u16string_view title,
                          NodeImage image) const {
  Note note;
  note.kind = NoteKind::kFiled;
  note.image = image;
  note.title = std::u16string(title.substr(0, kMaxTitleChars));
  for (const Node* node = parent; node != nullptr && node != tree_.root();
       node = node->parent()) {
    if (node == recycle_bin_) {
      note.flags |= kNoteInRecycleBin;
      break;
    }
    note.path.push_back(node->title());
  }
  std::reverse(note.path.begin(), note.path.end());
  return note;
}

Node* Document::FindChildFolder(Node* parent, std::u16string_view title) const {
  const Node* from = parent != nullptr ? parent : tree_.root();
  for (size_t i = 0; i < from->child_count(); ++i) {
    Node* child = from->child(i);
    if (!child->is_message() && !child->is_recycle_bin() &&
        child->title() == title) {
      return child;
    }
  }
  return nullptr;
}

Node* Document::CreateFolder(Node* parent, std::u16string_view title) {
  NodeRecord record;
  record.set_type(kRecordCompressed);
  record.set_date(LocalDateNow());
  auto offset = file_.AppendNotedRecord(
      record, std::nullopt, FilingNote(parent, title, kImageFolder));
  if (!offset) return nullptr;
  NodeTag tag;
  tag.record_offset = *offset;
  Node* folder = AddNode(parent, title, kImageFolder, tag, false);
  MarkModified();
  return folder;
}

Node* Document::ResolveNotePath(const Note& note) {
  Node* current = nullptr;  // the root
  if ((note.flags & kNoteInRecycleBin) != 0) {
    if (recycle_bin_ == nullptr) {
      recycle_bin_ =
          AddNode(nullptr, kRecycleBinTitle, kImageRecycleBinEmpty, {}, false);
      MarkModified();
    }
    current = recycle_bin_;
  }
  for (const std::u16string& title : note.path) {
    Node* next = FindChildFolder(current, title);
    if (next == nullptr) next = CreateFolder(current, title);
    if (next == nullptr) return nullptr;
    current = next;
  }
  return current;
}

std::optional<PendingFiling> Document::PersistNode(
    Node* parent, std::u16string_view title, NodeImage image,
    const NodeRecord& record, std::optional<std::string_view> body,
    platform::Status* status) {
  return PersistNoted(parent, FilingNote(parent, title, image), record, body,
                      status);
}

std::optional<PendingFiling> Document::PersistNoted(
    Node* parent, Note note, const NodeRecord& record,
    std::optional<std::string_view> body, platform::Status* status) {
  if (!IsOpen() || (parent != nullptr && parent->is_message())) {
    if (status != nullptr) {
      *status = platform::Status(
          platform::ErrorCode::kInvalidArgument,
          IsOpen() ? "a message holds no nodes" : "no document is open");
    }
    return std::nullopt;
  }
  PendingFiling pending;
  pending.note = std::move(note);
  std::optional<uint32_t> offset =
      file_.AppendNotedRecord(record, body, pending.note, status);
  if (!offset) return std::nullopt;
  pending.note.target_offset = *offset;
  pending.record = record;
  pending.record.set_has_payload(body.has_value() && !body->empty());
  pending.id = next_pending_++;
  pending_parents_[pending.id] = parent != nullptr ? parent : tree_.root();
  return pending;
}

Node* Document::InsertPending(const PendingFiling& pending) {
  DocumentLock::Holder hold(lock_);
  auto found = pending_parents_.find(pending.id);
  if (!IsOpen() || found == pending_parents_.end()) return nullptr;
  Node* parent = found->second;
  pending_parents_.erase(found);
  // The folder it was filed in has gone meanwhile: the same path again.
  if (parent == nullptr) {
    parent = ResolveNotePath(pending.note);
    if (parent == nullptr && !pending.note.path.empty()) return nullptr;
  }
  if (parent == tree_.root()) parent = nullptr;
  NodeTag tag;
  tag.record_offset = pending.note.target_offset;
  const NodeImage image = static_cast<NodeImage>(pending.note.image);
  Node* node = AddNode(parent, pending.note.title, image, tag, false);
  if (image == kImageMessageUnread) AdjustUnread(node, +1);
  PublishUnreadTotal();
  MarkModified();
  UpdateRecycleBinImage();
  if (pending.save_when_arrive && options_.save_when_arrive) {
    Save().IgnoreError();
  }
  return node;
}

platform::Status Document::WithdrawPending(const PendingFiling& pending) {
  DocumentLock::Holder hold(lock_);
  pending_parents_.erase(pending.id);
  if (!file_.IsOpen()) return platform::Status::Ok();
  Note note;
  note.kind = NoteKind::kWithdrawn;
  note.target_offset = pending.note.target_offset;
  return file_.AppendNote(note, /*commit=*/true);
}

Node* Document::AddRecordNode(Node* parent, std::u16string_view title,
                              NodeImage image, const NodeRecord& record,
                              std::optional<std::string_view> body) {
  DocumentLock::Holder hold(lock_);
  std::optional<PendingFiling> pending =
      PersistNode(parent, title, image, record, body);
  return pending ? InsertPending(*pending) : nullptr;
}

platform::Status Document::ReplaceNodeRecord(
    Node* node, const NodeRecord& record, std::optional<std::string_view> body,
    std::u16string_view title) {
  DocumentLock::Holder hold(lock_);
  if (!IsOpen() || node == nullptr || node == tree_.root() ||
      node->tag().record_offset == 0) {
    return platform::Status(platform::ErrorCode::kInvalidArgument,
                            "replace record: the node has no record");
  }
  Note note;
  note.kind = NoteKind::kRetagged;
  note.image = node->image();
  note.previous_offset = node->tag().record_offset;
  note.title = std::u16string(title.substr(0, kMaxTitleChars));
  platform::Status status;
  std::optional<uint32_t> offset =
      file_.AppendNotedRecord(record, body, note, &status);
  if (!offset) return status;
  NodeTag tag = node->tag();
  tag.record_offset = *offset;
  tree_.SetTag(node, tag);
  if (!title.empty()) tree_.SetTitle(node, title);
  MarkModified();
  return platform::Status::Ok();
}

Node* Document::FindOrCreateFolderPath(std::u16string_view path) {
  DocumentLock::Holder hold(lock_);
  if (!IsOpen()) return nullptr;
  Node* current = nullptr;  // the root
  bool any = false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    std::u16string_view name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    name = name.substr(0, kMaxTitleChars);
    any = true;
    Node* found = nullptr;
    const Node* from = current != nullptr ? current : tree_.root();
    for (size_t i = 0; i < from->child_count(); ++i) {
      Node* child = from->child(i);
      if (!child->is_message() && child->title() == name) {
        found = child;
        break;
      }
    }
    if (found == nullptr) found = CreateFolder(current, name);
    if (found == nullptr) return nullptr;
    current = found;
  }
  return any ? current : nullptr;
}

Node* Document::WellKnownFolder(int index) {
  if (index < 0 || index >= kWellKnownFolderCount || !IsOpen()) return nullptr;
  Node*& cached = folders_[static_cast<size_t>(index)];
  if (cached == nullptr) cached = FindOrCreateFolderPath(kFolderPaths[index]);
  return cached;
}

std::optional<PendingFiling> Document::PersistMessage(
    Node* folder, std::u16string_view sender, std::u16string_view body,
    const platform::SystemTime& utc_time, MessageKind kind,
    platform::Status* status, std::optional<PhoneCopy> released) {
  DocumentLock::Holder hold(lock_);
  if (!IsOpen() || folder == nullptr || folder == tree_.root() ||
      folder->is_message()) {
    if (status != nullptr) {
      *status = platform::Status(
          platform::ErrorCode::kInvalidArgument,
          IsOpen() ? "no folder to file into" : "no document is open");
    }
    return std::nullopt;
  }
  const platform::SystemTime local =
      platform::SystemTimeToLocal(utc_time).value_or(utc_time);
  NodeRecord record;
  record.set_type(kRecordCompressed);
  record.set_date(platform::SystemTimeToVariantTime(local).value_or(0.0));
  // The device's code page (a settings look-up) is read once for the sender
  // and the body, and not at all when both are ASCII, which every code page
  // stores alike.
  const uint32_t code_page =
      IsAscii(sender) && IsAscii(body) ? platform::kCodePageUtf8 : code_page_;
  record.set_sender(sender, code_page);

  int title_mode = options_.receive_title;
  if (kind == MessageKind::kSent) title_mode = options_.send_title;
  if (kind == MessageKind::kImported) title_mode = options_.import_title;
  const bool unread = kind == MessageKind::kReceived;
  const std::u16string title =
      text::MessageTitle(body, sender, local, title_mode);
  const NodeImage image = unread ? kImageMessageUnread : kImageMessageRead;
  Note note = FilingNote(folder, title, image);
  if (released) {
    note.flags |= kNoteReleased;
    note.delivery_time = released->delivery_time;
    note.fingerprint = released->fingerprint;
  }
  std::optional<PendingFiling> pending;
  if (body.empty()) {
    pending =
        PersistNoted(folder, std::move(note), record, std::nullopt, status);
  } else {
    const std::string bytes = BodyBytes(body, code_page);
    pending = PersistNoted(folder, std::move(note), record,
                           std::string_view(bytes), status);
  }
  if (pending) pending->save_when_arrive = unread;
  return pending;
}

Node* Document::StoreMessage(Node* folder, std::u16string_view sender,
                             std::u16string_view body,
                             const platform::SystemTime& utc_time,
                             MessageKind kind) {
  DocumentLock::Holder hold(lock_);
  std::optional<PendingFiling> pending =
      PersistMessage(folder, sender, body, utc_time, kind);
  return pending ? InsertPending(*pending) : nullptr;
}

Node* Document::CopySubtree(Node* new_parent, Node* node) {
  if (node == nullptr || node == tree_.root() || node->is_recycle_bin()) {
    return nullptr;
  }
  if (new_parent != nullptr && new_parent->IsWithin(node)) return nullptr;
  return CopySubtreeUnchecked(new_parent, node);
}

Node* Document::CopySubtreeUnchecked(Node* new_parent, const Node* node) {
  Node* copy = AddNode(new_parent, node->title(), node->image(), node->tag(),
                       node->bold());
  // The child count is taken first: even a copy into the node's own subtree
  // (which callers refuse) would end.
  const size_t count = node->child_count();
  for (size_t i = 0; i < count; ++i) CopySubtreeUnchecked(copy, node->child(i));
  return copy;
}

bool Document::DeleteNodes(std::span<Node* const> nodes) {
  if (nodes.empty() || !IsOpen()) return true;
  // Nodes covered by another listed node go with it; the bin is never
  // deleted this way.
  std::vector<Node*> chosen;
  for (Node* node : nodes) {
    if (node == nullptr || node == tree_.root() || node == recycle_bin_)
      continue;
    if (std::find(chosen.begin(), chosen.end(), node) != chosen.end()) continue;
    chosen.push_back(node);
  }
  std::vector<Node*> targets;
  for (Node* node : chosen) {
    const bool covered =
        std::any_of(chosen.begin(), chosen.end(), [node](const Node* other) {
          return other != node && node->IsWithin(other);
        });
    if (!covered) targets.push_back(node);
  }
  if (targets.empty()) return true;
  if (options_.delete_alert && !Confirm(kAskDeleteNode, kCaptionAlert)) {
    return false;
  }
  bool all = true;
  for (Node* node : targets) {
    if (!CheckNodePassword(node)) {
      all = false;
      continue;
    }
    if (recycle_bin_ != nullptr && !node->IsWithin(recycle_bin_)) {
      CopySubtreeUnchecked(recycle_bin_, node);
    }
    RemoveNode(node);
  }
  if (recycle_bin_ != nullptr) RecountUnread(recycle_bin_);
  MarkModified();
  UpdateRecycleBinImage();
  PublishUnreadTotal();
  return all;
}

int Document::RecountSubtree(Node* node) {
  int count = node->image() == kImageMessageUnread ? 1 : 0;
  for (size_t i = 0; i < node->child_count(); ++i) {
    count += RecountSubtree(node->child(i));
  }
  tree_.SetUnread(node, ClampCount(count));
  if (count != 0) tree_.SetBold(node, true);
  return count;
}

int Document::RecountUnread(Node* node) {
  if (node != nullptr && node != tree_.root()) return RecountSubtree(node);
  Node* root = tree_.root();
  for (size_t i = 0; i < root->child_count(); ++i) {
    RecountSubtree(root->child(i));
  }
  return UnreadTotal();
}

void Document::AdjustUnread(Node* node, int delta) {
  for (; node != nullptr && node != tree_.root(); node = node->parent()) {
    const uint16_t count = ClampCount(node->tag().unread + delta);
    tree_.SetUnread(node, count);
    tree_.SetBold(node, count != 0);
  }
}

void Document::UpdateRecycleBinImage() {
  if (recycle_bin_ == nullptr) return;
  tree_.SetImage(recycle_bin_, recycle_bin_->child_count() != 0
                                   ? kImageRecycleBinFull
                                   : kImageRecycleBinEmpty);
  PublishUnreadTotal();
}

bool Document::CheckNodePassword(Node* node) {
  if (node == nullptr || node->is_recycle_bin()) return true;
  // A record that cannot be read may hold a password: what it protects is
  // not given away.
  std::optional<NodeRecord> record = ReadNodeRecord(node);
  if (!record) return false;
  const std::u16string password = record->password();
  if (password.empty()) return true;
  const uint16_t stamp = node->tag().unlock_stamp;
  const uint16_t now = static_cast<uint16_t>(minimize_count_ & 0xFFFF);
  if (options_.protect_level == kProtectOnlyOnce && stamp != 0) return true;
  if (options_.protect_level == kProtectAfterMinimize && stamp == now) {
    return true;
  }
  if (ui_ == nullptr || !ui_->CheckPassword(password)) return false;
  tree_.SetUnlockStamp(node, now);
  return true;
}

void Document::MarkRead(std::span<Node* const> nodes, bool read) {
  const NodeImage from = read ? kImageMessageUnread : kImageMessageRead;
  const NodeImage to = read ? kImageMessageRead : kImageMessageUnread;
  bool changed = false;
  for (Node* node : nodes) {
    if (node == nullptr || node->image() != from) continue;
    AdjustUnread(node, read ? -1 : +1);
    tree_.SetImage(node, to);
    changed = true;
  }
  if (changed) {
    MarkModified();
    PublishUnreadTotal();
  }
}

std::optional<NodeRecord> Document::ReadNodeRecord(Node* node) {
  if (!IsOpen() || node == nullptr || node->tag().record_offset == 0) {
    return std::nullopt;
  }
  return file_.ReadRecord(node->tag().record_offset);
}

std::optional<std::u16string> Document::ReadNodeBody(Node* node) {
  if (!IsOpen() || node == nullptr || node->tag().record_offset == 0) {
    return std::nullopt;
  }
  MessageFile::Guard guard(file_);
  const uint32_t offset = node->tag().record_offset;
  auto record = file_.ReadRecord(offset);
  if (!record) return std::nullopt;
  if (!record->has_payload()) return std::u16string();
  auto bytes = file_.ReadPayload(offset, *record);
  if (!bytes) return std::nullopt;
  const size_t nul = bytes->find('\0');
  if (nul != std::string::npos) bytes->resize(nul);
  return platform::MultiByteToWide(*bytes);
}

platform::Status Document::RewriteNodeRecord(Node* node,
                                             const NodeRecord& record) {
  if (!IsOpen() || node == nullptr || node->tag().record_offset == 0) {
    return platform::Status(platform::ErrorCode::kInvalidArgument,
                            "rewrite record: the node has no record");
  }
  return file_.RewriteRecord(node->tag().record_offset, record);
}

platform::Status Document::SetNodeAuthor(Node* node,
                                         std::u16string_view author) {
  MessageFile::Guard guard(file_);
  auto record = ReadNodeRecord(node);
  if (!record) {
    return platform::Status(platform::ErrorCode::kIoError,
                            "set author: the record cannot be read");
  }
  record->set_author(author);
  return RewriteNodeRecord(node, *record);
}

bool Document::ChangeNodePassword(Node* node) {
  if (node == nullptr || node->is_recycle_bin() || ui_ == nullptr) return false;
  MessageFile::Guard guard(file_);
  auto record = ReadNodeRecord(node);
  if (!record) return false;
  auto password = ui_->ChangePassword(record->password());
  if (!password) return false;
  record->set_password(*password);
  if (!RewriteNodeRecord(node, *record).ok()) return false;
  tree_.SetUnlockStamp(node, password->empty() ? 0 : kUnlockedBySetting);
  return true;
}

bool Document::EmptyRecycleBin() {
  if (!IsOpen() || recycle_bin_ == nullptr) return false;
  if (options_.empty_receive_bin_alert &&
      !Confirm(kAskEmptyRecycleBin, kCaptionAlert)) {
    return false;
  }
  while (recycle_bin_->child_count() != 0) {
    RemoveNode(recycle_bin_->child(recycle_bin_->child_count() - 1));
  }
  UpdateRecycleBinImage();
  MarkModified();
  return true;
}

bool Document::EmptyFolder(Node* folder) {
  if (!IsOpen() || folder == nullptr || folder == tree_.root() ||
      folder->is_message() || folder->child_count() == 0) {
    return false;
  }
  if (folder != recycle_bin_ && !CheckNodePassword(folder)) return false;
  if (!Confirm(kAskDeleteNode, kCaptionAlert)) return false;
  while (folder->child_count() != 0) {
    Node* child = folder->child(0);
    if (recycle_bin_ != nullptr && !child->IsWithin(recycle_bin_)) {
      CopySubtreeUnchecked(recycle_bin_, child);
    }
    RemoveNode(child);
  }
  if (recycle_bin_ != nullptr) RecountUnread(recycle_bin_);
  MarkModified();
  UpdateRecycleBinImage();
  PublishUnreadTotal();
  return true;
}

void Document::ToggleRecycleBin() {
  if (!IsOpen()) return;
  if (recycle_bin_ != nullptr) {
    RemoveNode(recycle_bin_);  // forgotten as it goes
  } else {
    recycle_bin_ =
        AddNode(nullptr, kRecycleBinTitle, kImageRecycleBinEmpty, {}, false);
  }
  MarkModified();
  PublishUnreadTotal();
}

// --- Clipboard
// ----------------------------------------------------------------

void Document::ClearClipboard() {
  clipboard_.clear();
  clipboard_command_ = ClipboardCommand::kNone;
}

void Document::Copy(std::span<Node* const> nodes) {
  ClearClipboard();
  for (Node* node : nodes) {
    if (node == nullptr || node == tree_.root() || node->is_recycle_bin()) {
      continue;
    }
    if (std::find(clipboard_.begin(), clipboard_.end(), node) ==
        clipboard_.end()) {
      clipboard_.push_back(node);
    }
  }
  if (!clipboard_.empty()) clipboard_command_ = ClipboardCommand::kCopy;
}

void Document::Cut(std::span<Node* const> nodes) {
  Copy(nodes);
  if (!clipboard_.empty()) clipboard_command_ = ClipboardCommand::kCut;
}

bool Document::Paste(Node* target) {
  if (!IsOpen() || clipboard_command_ == ClipboardCommand::kNone ||
      clipboard_.empty()) {
    return false;
  }
  // At the root every node lies below the target.
  if (target == nullptr || target == tree_.root() || target->is_message()) {
    return false;
  }
  for (const Node* item : clipboard_) {
    if (item->IsWithin(target) || target->IsWithin(item)) return false;
  }
  for (size_t i = clipboard_.size(); i-- > 0;) {
    Node* item = clipboard_[i];
    CopySubtreeUnchecked(target, item);
    AdjustUnread(target, item->tag().unread);
  }
  if (clipboard_command_ == ClipboardCommand::kCut) {
    // Removing one source drops the sources inside it from the list.
    while (!clipboard_.empty()) {
      Node* item = clipboard_.back();
      clipboard_.pop_back();
      RemoveNode(item);
    }
  }
  ClearClipboard();
  UpdateRecycleBinImage();
  MarkModified();
  PublishUnreadTotal();
  return true;
}

Node* Document::CopyToMark(Node* node, std::u16string_view mark_name) {
  if (!IsOpen() || node == nullptr || node == tree_.root() ||
      node->is_recycle_bin()) {
    return nullptr;
  }
  std::u16string path = u"\\";
  path += mark_name;
  Node* folder = FindOrCreateFolderPath(path);
  if (folder == nullptr || folder->IsWithin(node)) return nullptr;
  Node* copy = CopySubtreeUnchecked(folder, node);
  AdjustUnread(folder, node->tag().unread);
  MarkModified();
  PublishUnreadTotal();
  return copy;
}

}  // namespace store
