// The phone's contacts and its SIM card's phonebook as device.db keeps them
// (docs/formats/contacts.md). pimstore.dll and cellcore.dll read them;
// devicectl fills them (contacts import, sim add).
//
// Every call opens the current device's database; without a device it
// fails with kUnavailable. Calls may come from any thread and any process
// (device.db serialises them).
#ifndef TELVANE_DEVICE_CONTACTS_PHONE_BOOK_H_
#define TELVANE_DEVICE_CONTACTS_PHONE_BOOK_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace device::contacts {

struct Contact {
  int64_t id = 0;         // assigned when stored; the collection's order
  std::u16string name;    // the name shown and filed under
  std::u16string mobile;  // empty when none
  std::u16string home;
  std::u16string business;
  std::u16string categories;  // names joined with ", "
};

// Appends contacts in the given order (one transaction); ids are assigned.
platform::Status AddContacts(const std::vector<Contact>& contacts);
// Every contact, in id order.
std::vector<Contact> ListContacts(platform::Status* status = nullptr);
platform::Status ClearContacts();

// The SIM phonebook's index range.
inline constexpr uint32_t kSimMinIndex = 1;
inline constexpr uint32_t kSimMaxIndex = 250;
// What fits in an entry (the card's own limits are smaller; these are the
// interface's buffers less the terminator).
inline constexpr size_t kSimMaxChars = 255;

struct SimEntry {
  uint32_t index = 0;
  std::u16string text;     // the name
  std::u16string address;  // the number
};

// Stores an entry at `index`, or at the first free index when it is 0;
// replaces an entry already there. kInvalidArgument for an index outside
// the range or texts longer than kSimMaxChars; kAlreadyExists when the card
// is full. The index used is returned in *stored_at.
platform::Status AddSimEntry(const SimEntry& entry, uint32_t* stored_at);
std::optional<SimEntry> ReadSimEntry(uint32_t index,
                                     platform::Status* status = nullptr);
std::vector<SimEntry> ListSimEntries(platform::Status* status = nullptr);
platform::Status ClearSim();

// The cellular line's serial number; empty when the device has no cellular
// line (device setting "cellular_line").
std::u16string CellularLineSerialNumber();

}  // namespace device::contacts

#endif  // TELVANE_DEVICE_CONTACTS_PHONE_BOOK_H_
