// The phone's own SMS folders as the Import dialog sees them: listing the
// Inbox or Sent Items of the phone's "SMS" message store, the text each
// listed message shows, filing chosen messages into the document, and
// deleting them from the phone once they are safe there.
//
// The store is reached through the device's "cemapi.dll" (platform/mapi.h),
// loaded by name: the library is initialised and logged on to, the stores
// table read row by row until the store named "SMS", the folder opened by
// the identifier the store gives for it, its contents table read one row
// at a time and each message opened by its entry identifier.
//
// Nothing here shows anything; failures are values. Any thread, one call
// at a time per object; the document calls (ImportIntoDocument) belong to
// the document's thread.
#ifndef TELVANE_IMPORT_SOURCE_H_
#define TELVANE_IMPORT_SOURCE_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi.h"
#include "platform/status.h"
#include "platform/time.h"

namespace store {
class Document;
class Node;
}  // namespace store

namespace import {

// The folder listed, as the setting "ImportSource" stores it.
enum class PhoneFolder : int { kInbox = 0, kSentItems = 1 };

// "ImportSource" read leniently: 1 is Sent Items, anything else the Inbox.
PhoneFolder FolderFromSetting(int value);

// One listed message.
struct ImportItem {
  std::u16string body;                  // the SMS text
  std::u16string sender;                // the other party, as stored
  platform::FileTime delivery_utc;      // as the store gives it
  platform::SystemTime delivery_local;  // the same, local time
  // The store's identifier of the message, held whole whatever its length.
  std::string entry_id;
  PhoneFolder folder = PhoneFolder::kInbox;  // where it was listed from
};

// The start of the body a row shows: at most kBodyStartUnits width units,
// a character above code 128 counting two and any other one; carriage
// returns and line feeds become spaces. When the body does not fit and more
// than two characters were kept, the last two kept become "..".
inline constexpr size_t kBodyStartUnits = 30;
std::u16string BodyStart(std::u16string_view body);

// The longest date a row shows.
inline constexpr size_t kRowDateChars = 19;

// A row's text: the sender, one space, the delivery time as the time alone
// (the device's time format) when it falls on `today`'s date, else as the
// date alone, a line feed, and BodyStart of the body.
std::u16string ItemText(const ImportItem& item,
                        const platform::SystemTime& today);

// The item a message makes from its entry identifier and its properties
// (PR_SENDER_EMAIL_ADDRESS, PR_MESSAGE_DELIVERY_TIME, PR_SUBJECT, in any
// order, others ignored). nullopt when the sender, the time or the text is
// missing, of another type, or the time cannot be taken to local time.
std::optional<ImportItem> ItemFromProps(
    std::string_view entry_id, std::span<const platform::SPropValue> props,
    PhoneFolder folder);

// A folder being listed: the session, the folder and its contents table
// stay open until the object goes, so the caller may take the rows a few
// at a time (the first screen first).
class FolderListing {
 public:
  // kUnavailable, saying why, when the library, the session, the "SMS"
  // store, the folder or its table cannot be had.
  static std::unique_ptr<FolderListing> Open(
      PhoneFolder folder, platform::Status* status = nullptr);
  ~FolderListing();
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  // The next items, reading at most `rows` rows (messages that cannot be
  // read are left out, so fewer items may come back). Empty once done().
  std::vector<ImportItem> Next(size_t rows);
  bool done() const { return done_; }
  PhoneFolder folder() const { return folder_; }

 private:
  struct Session;
  FolderListing() = default;

  std::unique_ptr<Session> session_;
  PhoneFolder folder_ = PhoneFolder::kInbox;
  bool done_ = false;
};

// Every readable message of the folder, newest first; nullopt (with the
// cause) when the store or the folder cannot be reached.
std::optional<std::vector<ImportItem>> ListFolder(
    PhoneFolder folder, platform::Status* status = nullptr);

// Deletes from `folder` the messages with these entry identifiers, in one
// request (identifiers that name nothing there are skipped). Returns how
// many of them the folder no longer holds; nullopt when the store or the
// folder cannot be reached.
std::optional<int> DeleteFromPhone(PhoneFolder folder,
                                   std::span<const std::string> entry_ids,
                                   platform::Status* status = nullptr);

// What filing a set of items did.
struct ImportResult {
  int imported = 0;   // nodes added under the target
  int not_filed = 0;  // items the document could not take (left alone)
  int deleted = 0;    // messages taken off the phone
  // Filed messages left on the phone because the document could not be
  // saved (see save_status).
  int kept_on_phone = 0;
  platform::Status filing_status;  // the first filing failure, if any
  platform::Status save_status;    // the save before deleting
  platform::Status delete_status;  // why the phone could not be reached
};

// Files `items` under `target` (a folder of the open document) from the
// last to the first, each as an imported message (read, titled by the
// document's import title mode) written with the note that brings it back
// after a crash, in one commit at the end. Marks the document modified.
// With `delete_after`, the document is then saved, and only when the save
// worked are the messages that were filed, and only those, deleted from
// the phone folder each was listed from.
ImportResult ImportIntoDocument(store::Document& document, store::Node* target,
                                std::span<const ImportItem* const> items,
                                bool delete_after);

}  // namespace import

#endif  // TELVANE_IMPORT_SOURCE_H_
