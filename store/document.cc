#include "store/document.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <utility>

#include "platform/codepage.h"
#include "platform/files.h"
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
  const size_t cr = path.find(u'\r');
  if (cr != std::u16string_view::npos) path = path.substr(0, cr);
  return OpenFile(path, defer_password, report);
}

platform::Status Document::OpenFile(std::u16string_view path,
                                    bool defer_password, LoadReport* report) {
  platform::Status status = file_.Open(path);
  if (!status.ok()) return status;
  const std::u16string password = file_.header().password();
  if (!password.empty() && !defer_password &&
      (ui_ == nullptr || !ui_->CheckPassword(password))) {
    file_.Close();
    return platform::Status(platform::ErrorCode::kAccessDenied,
                            "open document: password not entered");
  }
  LoadReport local_report;
  LoadReport* load_report = report != nullptr ? report : &local_report;
  auto entries = file_.LoadIndex(load_report, &status);
  if (!entries) {
    file_.Close();
    if (status.ok()) {
      status = platform::Status(platform::ErrorCode::kIoError,
                                "open document: the index cannot be read");
    }
    return status;
  }
  BuildReport built = tree_.Build(*entries);
  recycle_bin_ = built.recycle_bin;
  for (std::string& problem : built.problems) {
    load_report->problems.push_back(std::move(problem));
  }
  folders_.fill(nullptr);
  RecountUnread(nullptr);
  PublishUnreadTotal();
  return platform::Status::Ok();
}

platform::Status Document::Save() {
  DocumentLock::Holder hold(lock_);
  if (!IsOpen()) return platform::Status::Ok();
  // A failed index leaves the header pointing at the previous one, so the
  // header (author, password changes) is still written.
  platform::Status status = file_.SaveIndex(tree_.ToIndexEntries());
  platform::Status flushed = file_.FlushHeader();
  return status.ok() ? flushed : status;
}

platform::Status Document::Close() {
  DocumentLock::Holder hold(lock_);
  platform::Status status;
  if (IsOpen()) {
    status = Save();
    file_.Close();
  }
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
  Save().IgnoreError();  // the compacted copy is written from the tree
  compacted_ = true;
  const std::u16string path = file_.path();
  const std::u16string packed = path + u".ban";
  const std::u16string backup = path + u".bak";
  platform::Status status = file_.CompactTo(packed, tree_.ToIndexEntries());
  if (!status.ok()) {
    platform::files::Delete(packed).IgnoreError();
    Inform(kCompressError, kCaptionError);
    return status;
  }
  Close().IgnoreError();
  status = platform::files::Copy(path, backup, /*fail_if_exists=*/false);
  if (!status.ok() && !Confirm(kAskBackupError, kCaptionAlert)) {
    platform::files::Delete(packed).IgnoreError();
    return status;
  }
  status = platform::files::Copy(packed, path, /*fail_if_exists=*/false);
  if (!status.ok()) return status;  // closed; the ".ban" file stays
  platform::files::Delete(packed).IgnoreError();
  return OpenFile(path, defer_password, nullptr);
}

// --- Bookkeeping of removed nodes
// -----------------------------------------------

void Document::ForgetNodes() {
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

Node* Document::AddRecordNode(Node* parent, std::u16string_view title,
                              NodeImage image, const NodeRecord& record,
                              std::optional<std::string_view> body) {
  if (!IsOpen() || (parent != nullptr && parent->is_message())) return nullptr;
  auto offset = file_.AppendRecord(record, body);
  if (!offset) return nullptr;
  NodeTag tag;
  tag.record_offset = *offset;
  Node* node = AddNode(parent, title, image, tag, false);
  if (image == kImageMessageUnread) AdjustUnread(node, +1);
  MarkModified();
  UpdateRecycleBinImage();
  return node;
}

Node* Document::FindOrCreateFolderPath(std::u16string_view path) {
  DocumentLock::Holder hold(lock_);
  if (!IsOpen()) return nullptr;
  Node* current = tree_.root();
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
    for (size_t i = 0; i < current->child_count(); ++i) {
      Node* child = current->child(i);
      if (!child->is_message() && child->title() == name) {
        found = child;
        break;
      }
    }
    if (found == nullptr) {
      NodeRecord record;
      record.set_type(kRecordCompressed);
      record.set_date(LocalDateNow());
      auto offset = file_.AppendRecord(record, std::nullopt);
      if (!offset) return nullptr;
      NodeTag tag;
      tag.record_offset = *offset;
      found = AddNode(current, name, kImageFolder, tag, false);
      MarkModified();
    }
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

Node* Document::StoreMessage(Node* folder, std::u16string_view sender,
                             std::u16string_view body,
                             const platform::SystemTime& utc_time,
                             MessageKind kind) {
  DocumentLock::Holder hold(lock_);
  if (!IsOpen() || folder == nullptr || folder == tree_.root() ||
      folder->is_message()) {
    return nullptr;
  }
  const platform::SystemTime local =
      platform::SystemTimeToLocal(utc_time).value_or(utc_time);
  NodeRecord record;
  record.set_type(kRecordCompressed);
  record.set_date(platform::SystemTimeToVariantTime(local).value_or(0.0));
  // The device's code page (a settings look-up) is read once for the sender
  // and the body, and not at all when both are ASCII, which every code page
  // stores alike.
  const uint32_t code_page = IsAscii(sender) && IsAscii(body)
                                 ? platform::kCodePageUtf8
                                 : platform::AnsiCodePage();
  record.set_sender(sender, code_page);
  std::optional<uint32_t> offset;
  if (body.empty()) {
    offset = file_.AppendRecord(record, std::nullopt);
  } else {
    const std::string bytes = BodyBytes(body, code_page);
    offset = file_.AppendRecord(record, std::string_view(bytes));
  }
  if (!offset) return nullptr;

  int title_mode = options_.receive_title;
  if (kind == MessageKind::kSent) title_mode = options_.send_title;
  if (kind == MessageKind::kImported) title_mode = options_.import_title;
  const bool unread = kind == MessageKind::kReceived;
  NodeTag tag;
  tag.record_offset = *offset;
  Node* node =
      AddNode(folder, text::MessageTitle(body, sender, local, title_mode),
              unread ? kImageMessageUnread : kImageMessageRead, tag, false);
  if (unread) AdjustUnread(node, +1);
  PublishUnreadTotal();
  MarkModified();
  if (unread && options_.save_when_arrive) Save().IgnoreError();
  return node;
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
  if (node == nullptr || node->is_recycle_bin() ||
      node->tag().record_offset == 0) {
    return true;
  }
  auto record = file_.ReadRecord(node->tag().record_offset);
  // An unreadable record has nothing readable left to protect.
  if (!record) return true;
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
