// A reader for vCard files (versions 2.1, 3.0 and 4.0) that takes from each
// card what the phone's contacts keep: the name (FN, else composed from N),
// the mobile, home and work numbers (from TEL) and the categories.
//
// Understood: folded lines (a line starting with a space or tab continues
// the one before), property groups ("item1.TEL"), 2.1 bare parameters
// ("TEL;CELL;VOICE:") and 3.0/4.0 TYPE= lists (also quoted), quoted-
// printable values with soft line breaks, the UTF-8 charset (the default)
// and ISO-8859-1/Windows-1252, backslash escapes of 3.0/4.0 and "tel:" URIs.
//
// Numbers are placed once the whole card is read, so the order of the TEL
// lines does not decide where a number goes:
//   1. a TEL typed CELL is the mobile number, HOME the home number, WORK the
//      work number (CELL before HOME before WORK when a TEL has several);
//      the first one of a kind takes its place;
//   2. then the other numbers, in card order, fill the free places (mobile,
//      home, work): first the typed ones whose place was taken, then those
//      typed none of the three (untyped, VOICE, PREF, MAIN, OTHER, TEXT...);
//   3. in step 2, a number equal to one already placed (ignoring spaces,
//      dashes, dots and brackets) is skipped and not counted;
//   4. what is left is dropped, and the report lists it.
// FAX, PAGER, MODEM, BBS and TEXTPHONE numbers cannot take a text message
// and are never a number of the contact, whatever other types they carry;
// they are neither kept nor counted.
//
// Any bytes are accepted: text outside BEGIN:VCARD/END:VCARD is ignored,
// nested cards (a 2.1 AGENT) are skipped, a card cut off at the end of the
// file is kept, and a card with neither a name nor a number is dropped.
// Invalid UTF-8 becomes U+FFFD.
#ifndef TELVANE_DEVICE_CONTACTS_VCARD_H_
#define TELVANE_DEVICE_CONTACTS_VCARD_H_

#include <string>
#include <string_view>
#include <vector>

#include "device/contacts/phone_book.h"

namespace device::contacts {

// A stored card that had more numbers than the phone keeps.
struct VCardDroppedNumbers {
  int card = 0;                         // 1 for the file's first card
  std::u16string name;                  // the contact's name; may be empty
  int kept = 0;                         // numbers placed (at most 3)
  std::vector<std::u16string> dropped;  // the others, in card order
};

struct VCardReport {
  int cards = 0;                             // BEGIN:VCARD met at the top level
  int skipped = 0;                           // cards without a name or a number
  std::vector<VCardDroppedNumbers> dropped;  // in card order
};

std::vector<Contact> ParseVCards(std::string_view data,
                                 VCardReport* report = nullptr);

}  // namespace device::contacts

#endif  // TELVANE_DEVICE_CONTACTS_VCARD_H_
