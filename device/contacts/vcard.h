// A reader for vCard files (versions 2.1, 3.0 and 4.0) that takes from each
// card what the phone's contacts keep: the name (FN, else composed from N),
// the mobile, home and work numbers (TEL with the CELL, HOME and WORK
// types) and the categories.
//
// Understood: folded lines (a line starting with a space or tab continues
// the one before), property groups ("item1.TEL"), 2.1 bare parameters
// ("TEL;CELL;VOICE:") and 3.0/4.0 TYPE= lists (also quoted), quoted-
// printable values with soft line breaks, the UTF-8 charset (the default)
// and ISO-8859-1/Windows-1252, backslash escapes of 3.0/4.0 and "tel:" URIs.
// A TEL without any of the three types fills the first free of mobile,
// home, work; a number whose place is taken is dropped.
//
// Any bytes are accepted: text outside BEGIN:VCARD/END:VCARD is ignored,
// nested cards (a 2.1 AGENT) are skipped, a card cut off at the end of the
// file is kept, and a card with neither a name nor a number is dropped.
// Invalid UTF-8 becomes U+FFFD.
#ifndef TELVANE_DEVICE_CONTACTS_VCARD_H_
#define TELVANE_DEVICE_CONTACTS_VCARD_H_

#include <string_view>
#include <vector>

#include "device/contacts/phone_book.h"

namespace device::contacts {

struct VCardReport {
  int cards = 0;    // BEGIN:VCARD met at the top level
  int skipped = 0;  // cards without a name or a number
};

std::vector<Contact> ParseVCards(std::string_view data,
                                 VCardReport* report = nullptr);

}  // namespace device::contacts

#endif  // TELVANE_DEVICE_CONTACTS_VCARD_H_
