// Document: the open message file together with its tree, and every
// operation the program performs on them.
//
// The document owns the MessageTree and the MessageFile, and keeps the
// Recycle Bin node, the four well-known folders it has found ("\Sent Box",
// "\Outbox", "\Inbox", "\Drafts"), the clipboard, the document lock and the
// unread total it publishes in the named shared memory "ZUD_SmsCount"
// (docs/formats/unread-count.md).
//
// Node handles: operations take and return Node* of this document's tree.
// A Node* passed in must be alive (not removed); null means "the root" where
// a method says so. Handles the document keeps (Recycle Bin, well-known
// folders, clipboard entries) are dropped the moment their node is removed,
// so they never dangle.
//
// Unread bookkeeping: every node's tag counts the unread messages in its
// subtree. The published total is the sum over the root items except the
// Recycle Bin: deleting unread messages lowers the total even though their
// copies in the Recycle Bin keep their count there.
//
// User interaction: the document never shows anything itself. Questions and
// password prompts go through DocumentUi, which the program implements with
// its dialogs and tests script. Options come in a plain DocumentOptions that
// the program fills from its settings.
//
// Filing: every node the document makes (a message, a draft, a folder) is
// written to the file with a note of where it goes (store/journal.h) in
// one commit, before it enters the tree. Opening a document puts back what
// was filed after its last save, so a crash loses nothing that was filed.
// A caller that must answer someone once the message is safe (the
// firewall) uses PersistMessage, answers, then InsertPending.
//
// Damage: opening reports what it found (LoadReport). A damaged document is
// copied beside itself (path + ".damaged", numbered when taken) before
// anything is written to it; when the copy cannot be made, the document
// opens but refuses every write.
//
// Thread safety: a Document belongs to one thread (the user-interface
// thread). Its lock is re-entrant and counted; saving, closing, opening,
// creating, compacting, storing messages and resolving folder paths hold
// it, and other code that must not interleave with those may take it too.
#ifndef TELVANE_STORE_DOCUMENT_H_
#define TELVANE_STORE_DOCUMENT_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel_objects.h"
#include "platform/status.h"
#include "platform/time.h"
#include "store/message_file.h"
#include "store/message_tree.h"

namespace store {

// The name and size of the shared unread total.
inline constexpr std::string_view kUnreadCountName = "ZUD_SmsCount";
inline constexpr size_t kUnreadCountSize = 4;

// Texts the document asks or shows, exactly as the user sees them.
inline constexpr std::u16string_view kCaptionAlert = u"Alert";
inline constexpr std::u16string_view kCaptionError = u"Error";
inline constexpr std::u16string_view kAskDeleteNode =
    u"Do you want to delete the node?";
inline constexpr std::u16string_view kAskEmptyRecycleBin =
    u"Do you want to empty the Recycle Bin?";
inline constexpr std::u16string_view kCompressError =
    u"Compressing file error!";
inline constexpr std::u16string_view kAskBackupError =
    u"Backup file error! Do you want to continue?";

// The well-known root folders, by index.
inline constexpr int kFolderSentBox = 0;
inline constexpr int kFolderOutbox = 1;
inline constexpr int kFolderInbox = 2;
inline constexpr int kFolderDrafts = 3;
inline constexpr int kWellKnownFolderCount = 4;
// Their paths.
std::u16string_view WellKnownFolderPath(int index);

// ProtectLevel values.
inline constexpr int kProtectOnlyOnce = 0;
inline constexpr int kProtectAfterMinimize = 1;
inline constexpr int kProtectEveryTime = 2;

// The options the document reads (the program fills them from its settings).
struct DocumentOptions {
  int receive_title = 0;  // text::kTitle* modes
  int send_title = 0;
  int import_title = 0;
  bool save_when_arrive = false;
  bool delete_alert = true;
  bool empty_receive_bin_alert = true;
  int protect_level = kProtectOnlyOnce;
};

// What the document asks the user. The program implements it with its
// message boxes and its password dialog; tests script it.
class DocumentUi {
 public:
  virtual ~DocumentUi() = default;
  // A question with OK and Cancel; true for OK.
  virtual bool Confirm(std::u16string_view text,
                       std::u16string_view caption) = 0;
  // A message with OK alone.
  virtual void Inform(std::u16string_view text,
                      std::u16string_view caption) = 0;
  // The password prompt in check mode ("Input Password:"): true when the
  // user entered `password` (the prompt compares), false when cancelled.
  virtual bool CheckPassword(const std::u16string& password) = 0;
  // The password prompt in change mode, given the current password (empty =
  // none): the new password (empty = remove it), or nullopt when cancelled.
  virtual std::optional<std::u16string> ChangePassword(
      const std::u16string& current) = 0;
};

// The re-entrant, counted document lock.
class DocumentLock {
 public:
  void Lock() {
    mutex_.lock();
    depth_.fetch_add(1, std::memory_order_relaxed);
  }
  void Unlock() {
    depth_.fetch_sub(1, std::memory_order_relaxed);
    mutex_.unlock();
  }
  // How many times the lock is held (by whichever thread holds it).
  int depth() const { return depth_.load(std::memory_order_relaxed); }

  class Holder {
   public:
    explicit Holder(DocumentLock& lock) : lock_(lock) { lock_.Lock(); }
    ~Holder() { lock_.Unlock(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

   private:
    DocumentLock& lock_;
  };

 private:
  std::recursive_mutex mutex_;
  std::atomic<int> depth_{0};
};

// How a message enters the document.
enum class MessageKind {
  kReceived,  // unread, titled by ReceiveTitle, saved at once under
              // SaveWhenArrive
  kSent,      // read, titled by SendTitle
  kImported,  // read, titled by ImportTitle
};

// A node written to the file (with its note) but not yet in the tree.
struct PendingFiling {
  uint64_t id = 0;                // the document's handle of it
  NodeRecord record;              // as filed (payload flag set when it has one)
  Note note;                      // target offset, parent path, title, image
  bool save_when_arrive = false;  // a received message: save under the option
};

// The new-file dialog's choices.
struct NewFileOptions {
  std::u16string author;
  std::u16string password;
  bool create_recycle_bin = true;
};

class Document : private TreeObserver {
 public:
  // `ui` is not owned and may be null: then every question is answered OK,
  // messages are dropped and every password prompt is cancelled.
  explicit Document(DocumentOptions options = {}, DocumentUi* ui = nullptr);
  // Closes the document (saving it when modified).
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  void set_options(const DocumentOptions& options) { options_ = options; }
  const DocumentOptions& options() const { return options_; }
  void set_ui(DocumentUi* ui) { ui_ = ui; }

  // The main window's minimize count (starts at 1); unlock stamps hold its
  // low 16 bits.
  uint32_t minimize_count() const { return minimize_count_; }
  void set_minimize_count(uint32_t count) { minimize_count_ = count; }
  void RaiseMinimizeCount() { ++minimize_count_; }

  // --- The unread total ---------------------------------------------------
  // Creates or opens "ZUD_SmsCount" (4 bytes) for this document.
  platform::Status OpenUnreadCounter();
  // Uses a mapping the caller made (at least 4 bytes).
  void SetUnreadCounter(platform::SharedMemory counter);
  bool has_unread_counter() const { return counter_.is_open(); }
  // The sum of the root items' unread counts, the Recycle Bin left out.
  int UnreadTotal() const;
  // Writes UnreadTotal() (0 with no document) into "ZUD_SmsCount" as one
  // little-endian 32-bit integer. Nothing happens without a mapping.
  void PublishUnreadTotal();

  // --- Files --------------------------------------------------------------
  // A document counts as open once its index is loaded and what was filed
  // after its last save is back: not while its password is asked.
  bool IsOpen() const { return open_; }
  const std::u16string& path() const { return file_.path(); }
  MessageFile& file() { return file_; }
  MessageTree& tree() { return tree_; }
  const MessageTree& tree() const { return tree_; }
  DocumentLock& lock() { return lock_; }

  // The new-file dialog's name rule: lower case, ".zud" appended unless it
  // already ends so. Empty stays empty.
  static std::u16string NewFileName(std::u16string_view name);
  // Closes the current document and creates a new one at `path` (taken as
  // given; see NewFileName) with the author and password, then adds the
  // Recycle Bin when asked, "\Drafts", "\Sent Box" and "\Inbox". Fails with
  // kAlreadyExists when the file exists or is the open document (nothing is
  // closed then).
  platform::Status New(std::u16string_view path, const NewFileOptions& options);
  // Closes the current document and opens `path` (cut at its first carriage
  // return) for writing. kBusy (naming the holder) when another writer has
  // it open. When the file has a password and `defer_password` is false,
  // the user must enter it (a wrong or cancelled entry closes the file:
  // kAccessDenied). Then loads the index (or a later one a note vouches
  // for), puts back what was filed after it, recounts and publishes the
  // unread total; a damaged document is copied first (see above). A file
  // whose index cannot be read at all, and whose notes name none, is closed
  // again. `report` says what was found and done.
  platform::Status Open(std::u16string_view path, bool defer_password = false,
                        LoadReport* report = nullptr);
  // Opens `path` for reading only (no writer lock, nothing written): the
  // tree as last saved; what the notes would bring back is counted in the
  // report, not applied.
  platform::Status OpenForReading(std::u16string_view path,
                                  LoadReport* report = nullptr);
  // Writes the tree as a new index (when modified) and the header (when
  // dirty). Nothing happens without a document.
  platform::Status Save();
  // Saves, closes the file, empties the tree and the clipboard, forgets the
  // Recycle Bin and the folders, and publishes 0. Returns the save's status
  // (the document is closed either way).
  platform::Status Close();
  // Saves, compacts into path + ".ban", copies the old file to path + ".bak"
  // and the compacted one over the path, deletes the ".ban" file and opens
  // the document again (asking its password unless deferred). Only with an
  // open, non-empty document. A failed compaction deletes the ".ban" file,
  // shows "Compressing file error!" and leaves the document open. A failed
  // backup asks "Backup file error! Do you want to continue?"; Cancel
  // deletes the ".ban" file and leaves the document closed. A failed copy
  // over the path leaves it closed and keeps the ".ban" file. Unlock stamps
  // do not survive (the tree is read again).
  platform::Status Compact(bool defer_password = false);
  // True once Compact has run in this document object.
  bool compacted() const { return compacted_; }

  bool modified() const { return file_.modified(); }
  void MarkModified();

  // --- Nodes --------------------------------------------------------------
  Node* recycle_bin() const { return recycle_bin_; }

  // Adds a node as last child of `parent` (null: the root).
  Node* AddNode(Node* parent, std::u16string_view title, NodeImage image,
                const NodeTag& tag, bool bold);
  // Appends `record` (and `body`, multibyte with its NUL, when given) to the
  // file and adds a node for it under `parent` (null: the root), as the
  // new-node commands do. Marks the document modified. Null on failure.
  Node* AddRecordNode(Node* parent, std::u16string_view title, NodeImage image,
                      const NodeRecord& record,
                      std::optional<std::string_view> body);
  // The first half of AddRecordNode: record, body and note written and
  // committed; the node is added by InsertPending. `parent` may be null (the
  // root) but not a message.
  std::optional<PendingFiling> PersistNode(Node* parent,
                                           std::u16string_view title,
                                           NodeImage image,
                                           const NodeRecord& record,
                                           std::optional<std::string_view> body,
                                           platform::Status* status = nullptr);
  // The first half of StoreMessage: the record and its note are committed,
  // so the message survives a crash from here on.
  // `released` names the phone's copy when the filing goes with the answer
  // that takes the message out of the phone's Inbox (see kNoteReleased).
  std::optional<PendingFiling> PersistMessage(
      Node* folder, std::u16string_view sender, std::u16string_view body,
      const platform::SystemTime& utc_time,
      MessageKind kind = MessageKind::kReceived,
      platform::Status* status = nullptr,
      std::optional<PhoneCopy> released = std::nullopt);
  // The second half: the node enters the tree under the folder it was filed
  // in (found again by its path when that node has gone meanwhile), with
  // the unread counts, the published total, the modified flag and, for a
  // received message, the save under "SaveWhenArrive". Null with no
  // document.
  Node* InsertPending(const PendingFiling& pending);
  // The filing did not take place after all: a note says so (committed), so
  // the record is not put back when the document is next opened.
  platform::Status WithdrawPending(const PendingFiling& pending);
  // Gives `node` a new record (an edited body or draft): `record` and `body`
  // are appended with a note naming the record they replace, committed,
  // then the node's tag points to them. `title` (when not empty) becomes
  // the node's title in the note and the tree.
  platform::Status ReplaceNodeRecord(Node* node, const NodeRecord& record,
                                     std::optional<std::string_view> body,
                                     std::u16string_view title = {});
  // Resolves "\A\B\C" from the root by exact, case-sensitive titles (empty
  // components skipped), creating missing folders (a record of type 3 with
  // the current local date and no payload). Messages never match a
  // component. Returns the last component's node; null with no document,
  // when a record cannot be written, or when the path has no component.
  Node* FindOrCreateFolderPath(std::u16string_view path);
  // The cached well-known folder `index` (0..3), resolved and cached on
  // first use; null for other indexes or with no document.
  Node* WellKnownFolder(int index);
  // Files a message under `folder` (not null, not a message). `utc_time` is
  // the message time in UTC; the record holds it as a local OLE date and the
  // title shows it in local time. Received messages are unread; sent and
  // imported ones read. Null with no document or when the record cannot be
  // written.
  Node* StoreMessage(Node* folder, std::u16string_view sender,
                     std::u16string_view body,
                     const platform::SystemTime& utc_time,
                     MessageKind kind = MessageKind::kReceived);
  // Copies `node` and its subtree under `new_parent` (null: the root),
  // sharing records; the copies carry the tags (unread counts, unlock
  // stamps) and bold states. Nothing is adjusted in the ancestors. Null
  // when `new_parent` lies inside `node`'s subtree (the copy would never
  // end).
  Node* CopySubtree(Node* new_parent, Node* node);
  // Deletes the nodes: confirmation under DeleteAlert, the password of each
  // node, a copy into the Recycle Bin unless the node is inside it, then the
  // node leaves the tree. A node whose ancestor is also listed is covered
  // by that ancestor; the Recycle Bin itself is skipped. Returns false when
  // the user cancelled or some node failed its password check (the others
  // are deleted).
  bool DeleteNodes(std::span<Node* const> nodes);
  // Recounts `node`'s subtree (setting bold on nodes with unread ones,
  // never clearing it) and returns its count; null recounts every root item
  // and returns UnreadTotal().
  int RecountUnread(Node* node);
  // Adds `delta` to `node` and each ancestor; bold follows the count.
  // Counts stay within 0..65535.
  void AdjustUnread(Node* node, int delta);
  // Recycle Bin image 5 with children, else 4; then PublishUnreadTotal.
  void UpdateRecycleBinImage();
  // Passes when the node has no password, or it was entered and still
  // counts under ProtectLevel, or the user enters it now (then the unlock
  // stamp becomes the minimize count).
  bool CheckNodePassword(Node* node);
  // Marks messages read (image 3 -> 2) or unread (2 -> 3), keeping the
  // counts; other nodes are left alone. Publishes the total.
  void MarkRead(std::span<Node* const> nodes, bool read);

  // The node's record and body (wide).
  std::optional<NodeRecord> ReadNodeRecord(Node* node);
  std::optional<std::u16string> ReadNodeBody(Node* node);
  // Rewrites the node's record in place (shared by every copy of it).
  platform::Status RewriteNodeRecord(Node* node, const NodeRecord& record);
  // The property dialog's author change (16-byte field).
  platform::Status SetNodeAuthor(Node* node, std::u16string_view author);
  // The "Password..." command: the prompt in change mode with the current
  // password; the new one goes into the record, and the unlock stamp
  // becomes 0xFFFF (password set) or 0 (removed). False when cancelled, for
  // the Recycle Bin, or when the record cannot be read or written.
  bool ChangeNodePassword(Node* node);

  // Asks under EmptyReceiveBinAlert, then deletes everything in the bin.
  bool EmptyRecycleBin();
  // `folder` (a folder or the Recycle Bin, with children; a folder must pass
  // its password check) is emptied after the user confirms: children move
  // to the Recycle Bin unless already inside it.
  bool EmptyFolder(Node* folder);
  // Adds a Recycle Bin at the end of the root, or deletes the existing one
  // with everything in it.
  void ToggleRecycleBin();

  // --- Clipboard ----------------------------------------------------------
  enum class ClipboardCommand { kNone, kCopy, kCut };
  // Fill the clipboard anew (the Recycle Bin is never taken; an empty list
  // leaves the clipboard empty with no command).
  void Copy(std::span<Node* const> nodes);
  void Cut(std::span<Node* const> nodes);
  void ClearClipboard();
  const std::vector<Node*>& clipboard() const { return clipboard_; }
  ClipboardCommand clipboard_command() const { return clipboard_command_; }
  // Pastes the clipboard into `target` (null: the root, always refused).
  // Refused (false, nothing changes) when the clipboard is empty, the target
  // is a message, or a clipboard node is the target, lies below it, or holds
  // it. Otherwise copies last to first, moves the counts, deletes the
  // sources after a Cut and clears the clipboard.
  bool Paste(Node* target);

  // Copies `node` (not the Recycle Bin) into the mark folder "\" + name,
  // raising that folder's count by the node's. Null when the node is that
  // folder or holds it, or nothing could be created.
  Node* CopyToMark(Node* node, std::u16string_view mark_name);

 private:
  bool Confirm(std::u16string_view text, std::u16string_view caption);
  void Inform(std::u16string_view text, std::u16string_view caption);
  // Removes the node from the tree with the bookkeeping of a deletion.
  void RemoveNode(Node* node);
  // Forgets handles inside the subtree about to go.
  void NodeAboutToBeRemoved(Node* parent, size_t index, Node* node) override;
  void TreeAboutToBeReset() override;
  Node* CopySubtreeUnchecked(Node* new_parent, const Node* node);
  int RecountSubtree(Node* node);
  void ForgetNodes();
  platform::Status OpenFile(std::u16string_view path, Access access,
                            bool defer_password, LoadReport* report,
                            std::unique_ptr<platform::LockFile> lock);
  // After the index is loaded: the notes after it, the damage copy, and
  // (for a writer) the filings put back.
  void Recover(Access access, std::vector<IndexEntry>* entries,
               LoadReport& report);
  // Copies the damaged file beside itself; false when it cannot.
  bool KeepDamagedCopy(LoadReport& report);
  // The note of a node filed under `parent` (path, Recycle Bin flag).
  Note FilingNote(Node* parent, std::u16string_view title,
                  NodeImage image) const;
  // The folder a note names, made when missing (folders with records and
  // notes; the Recycle Bin when the note starts there). Null when a folder
  // cannot be written.
  Node* ResolveNotePath(const Note& note);
  Node* FindChildFolder(Node* parent, std::u16string_view title) const;
  // Appends a folder record with its note and adds the folder.
  Node* CreateFolder(Node* parent, std::u16string_view title);
  // PersistNode with the note made by the caller.
  std::optional<PendingFiling> PersistNoted(
      Node* parent, Note note, const NodeRecord& record,
      std::optional<std::string_view> body, platform::Status* status);

  DocumentOptions options_;
  DocumentUi* ui_ = nullptr;
  MessageFile file_;
  MessageTree tree_;
  DocumentLock lock_;
  platform::SharedMemory counter_;
  uint32_t minimize_count_ = 1;
  Node* recycle_bin_ = nullptr;
  std::array<Node*, kWellKnownFolderCount> folders_{};
  std::vector<Node*> clipboard_;
  ClipboardCommand clipboard_command_ = ClipboardCommand::kNone;
  bool compacted_ = false;
  bool open_ = false;
  // The device's code page, read when the file was opened (a phone changes
  // it only with a restart): filing a message looks nothing up.
  uint32_t code_page_ = 0;
  // Filings persisted and not yet inserted or withdrawn: their parent
  // folder (the tree's root for a root item), null once it left the tree.
  std::map<uint64_t, Node*> pending_parents_;
  uint64_t next_pending_ = 1;
};

}  // namespace store

#endif  // TELVANE_STORE_DOCUMENT_H_
