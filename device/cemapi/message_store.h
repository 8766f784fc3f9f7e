// The phone's message store in device.db, for the device's own tools
// (deviced, devicectl, tests) and for cemapi.dll, which offers the same
// store to programs through the messaging interface (platform/mapi.h).
//
// One store named "SMS" with a root folder and, below it, "Inbox" and
// "Sent Items"; they are created on first use. Tables and identifier bytes:
// docs/formats/message-store.md.
//
// Every call opens the current device's database (platform::DeviceDb::Get)
// and is one statement or one transaction, so calls are safe from any
// thread and from several processes at once; what one process commits the
// next call in another process sees. A failure (no device, database error)
// is a Status with the reason; a missing object is ErrorCode::kNotFound.
#ifndef TELVANE_DEVICE_CEMAPI_MESSAGE_STORE_H_
#define TELVANE_DEVICE_CEMAPI_MESSAGE_STORE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/time.h"

namespace device::cemapi {

// ---------------------------------------------------------------- entry ids

enum class EntryKind : uint8_t { kStore = 1, kFolder = 2, kMessage = 3 };

struct EntryRef {
  EntryKind kind = EntryKind::kMessage;
  int64_t row = 0;  // the row id in that kind's table
  friend bool operator==(const EntryRef&, const EntryRef&) = default;
};

// 4 zero flag bytes, version 1, the kind, the row id (64 bits, little
// endian): 14 bytes.
inline constexpr size_t kEntryIdSize = 14;
std::string EncodeEntryId(EntryRef ref);
// nullopt for anything that is not exactly such an identifier.
std::optional<EntryRef> DecodeEntryId(std::string_view bytes);

// ---------------------------------------------------------------- objects

enum class FolderRole : int { kRoot = 0, kInbox = 1, kSentItems = 2 };

inline constexpr char16_t kSmsStoreName[] = u"SMS";

struct StoreInfo {
  int64_t id = 0;
  std::u16string name;
};

struct FolderInfo {
  int64_t id = 0;
  int64_t store = 0;
  int64_t parent = 0;  // 0: none (the root folder)
  FolderRole role = FolderRole::kRoot;
  std::u16string name;
};

struct PhoneMessage {
  int64_t id = 0;
  int64_t folder = 0;
  std::u16string text;     // the SMS text (the message's subject)
  std::u16string address;  // sender of a received, recipient of a sent SMS
  platform::FileTime delivery_time;  // UTC
  uint32_t flags = 0;                // MSGFLAG_* bits
  std::string entry_id() const {
    return EncodeEntryId({EntryKind::kMessage, id});
  }
};

// Creates the tables, the "SMS" store and its folders when missing.
platform::Status EnsureMessageStore();

std::optional<std::vector<StoreInfo>> ListStores(
    platform::Status* status = nullptr);
std::optional<StoreInfo> FindStore(int64_t id,
                                   platform::Status* status = nullptr);
std::optional<FolderInfo> FindFolder(int64_t id,
                                     platform::Status* status = nullptr);
// The folder of the "SMS" store with that role.
std::optional<FolderInfo> FindSmsFolder(FolderRole role,
                                        platform::Status* status = nullptr);
std::optional<PhoneMessage> FindMessage(int64_t id,
                                        platform::Status* status = nullptr);
// By entry identifier; kInvalidArgument for bytes that are not a message's.
std::optional<PhoneMessage> FindMessage(std::string_view entry_id,
                                        platform::Status* status = nullptr);

// The messages of a folder, newest delivery time first (equal times: the
// later added first).
std::optional<std::vector<PhoneMessage>> ListMessages(
    int64_t folder_id, platform::Status* status = nullptr);
std::optional<std::vector<PhoneMessage>> ListSmsFolder(
    FolderRole role, platform::Status* status = nullptr);
std::optional<int64_t> CountMessages(int64_t folder_id,
                                     platform::Status* status = nullptr);
std::optional<int64_t> CountSmsFolder(FolderRole role,
                                      platform::Status* status = nullptr);

// Puts an incoming SMS into the Inbox, unread (flags 0); returns its entry
// identifier.
std::optional<std::string> DeliverIncomingSms(
    std::u16string_view sender, std::u16string_view text,
    platform::FileTime delivered, platform::Status* status = nullptr);
// Puts a sent SMS into Sent Items (MSGFLAG_READ | MSGFLAG_FROMME).
std::optional<std::string> AddSentSms(std::u16string_view recipient,
                                      std::u16string_view text,
                                      platform::FileTime sent,
                                      platform::Status* status = nullptr);

// Deletes the listed message rows that lie in `folder_id`, in one
// transaction; returns how many were deleted (rows elsewhere or gone are
// skipped).
std::optional<int> DeleteMessagesIn(int64_t folder_id,
                                    const std::vector<int64_t>& message_ids,
                                    platform::Status* status = nullptr);
// Deletes a message by entry identifier, from whichever folder holds it;
// kNotFound when there is none.
platform::Status DeleteMessage(std::string_view entry_id);

}  // namespace device::cemapi

#endif  // TELVANE_DEVICE_CEMAPI_MESSAGE_STORE_H_
