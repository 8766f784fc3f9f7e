// The phone's own Inbox, as the program reaches it to finish an answer a
// crash interrupted.
//
// A message the program filed with the answer "take it out of the phone's
// Inbox" is safe in the document before the answer goes out; when the
// program dies in between, the rule client stops waiting and the message
// stays in the phone's Inbox too. The document puts such a filing back when
// it is next opened and names the phone's copy (its delivery time and the
// fingerprint of its sender and text, store::PhoneCopy); this takes that
// copy out of the Inbox, as the answer would have, so the message is kept
// exactly once.
//
// The phone's store is reached through the device's "cemapi.dll", loaded by
// name, as the messaging service does. Any thread; one call at a time.
#ifndef TELVANE_INTERCEPT_PHONE_INBOX_H_
#define TELVANE_INTERCEPT_PHONE_INBOX_H_

#include <optional>
#include <span>
#include <string>

#include "platform/status.h"
#include "store/journal.h"

namespace intercept {

// The longest sender and text the rule client passes on (the shared
// buffer's fields): a fingerprint is taken of what the program received.
inline constexpr size_t kPassedSenderUnits = 62;
inline constexpr size_t kPassedBodyUnits = 352 + 1023;

// The fingerprint of a message of the phone's store, as the program saw it
// when the rule client passed it on (cut as the shared buffer cuts).
uint32_t PassedFingerprint(std::u16string_view sender,
                           std::u16string_view body);

// Deletes from the phone's Inbox, for each copy, one message with that
// delivery time and fingerprint (when there is one). Returns how many were
// deleted; nullopt, with `status`, when the store cannot be reached.
std::optional<int> RemoveFromPhoneInbox(
    std::span<const store::PhoneCopy> copies,
    platform::Status* status = nullptr);

}  // namespace intercept

#endif  // TELVANE_INTERCEPT_PHONE_INBOX_H_
