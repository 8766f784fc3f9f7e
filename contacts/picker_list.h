// The contact picker's list without its window: which items it shows and
// in what order, the finding keys, the chosen numbers, the ticks, and the
// texts it hands back.
//
// Items: in several-choice mode (kPickerMultiple) one per send group, first;
// then one per contact that has a number (of the chosen category when one
// is chosen), with its first number (mobile, home, work) as the chosen
// one. Items are sorted with CompareNames: groups before contacts. The
// first item added is selected when any was added, and the selection stays
// with its item through the sort.
//
// The list holds a snapshot of the store's contacts and a pointer to the
// send groups, which must outlive it (and not change while it lives: a
// caller that edits the groups fills the list again). Not thread-safe.
#ifndef TELVANE_CONTACTS_PICKER_LIST_H_
#define TELVANE_CONTACTS_PICKER_LIST_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contact_store.h"
#include "contacts/send_groups.h"

namespace contacts {

// The picker's modes: 0 single choice (no groups), 2 several choices with
// the send groups. Any other value behaves like 2 without groups.
inline constexpr int kPickerSingle = 0;
inline constexpr int kPickerMultiple = 2;

// The capacities (terminator included) of the callers' output buffers.
inline constexpr size_t kSingleNumberCapacity = 255;
inline constexpr size_t kSingleNameCapacity = 99;
inline constexpr size_t kMultipleOutputCapacity = 15299;

// Three-way order of two names: negative when `a` comes first. Position by
// position up to the shorter length: when both characters are at or above
// U+4E00, or on a touch-screen device, equal characters go on, otherwise
// the pinyin initials decide and then the character codes; when some
// character is below U+4E00 on a keypad device the code difference at that
// position decides at once (equal characters make the names equal). A name
// that is a prefix of the other comes first.
int CompareNames(std::u16string_view a, std::u16string_view b,
                 bool touch_screen);

// The letter a name is found under: the pinyin initial of its first
// character, upper-cased; 0 for an empty name.
char16_t NameInitial(std::u16string_view name);

// The first existing photo file of a contact: "%s%s.bmp", then ".gif",
// then ".jpg" (photo folder with its trailing "\", contact name).
std::optional<std::u16string> FindPhoto(std::u16string_view photo_folder,
                                        std::u16string_view name);

// The letters of a keypad digit key ("abc" for '2' ... "wxyz" for '9');
// empty for other keys.
std::u16string_view KeypadLetters(char16_t digit);
// The nine tabs of the touch-screen header: "#ab", "cde", ... "xyz".
inline constexpr int kTabCount = 9;
std::u16string_view TabLetters(int tab);

struct PickerItem {
  enum class Kind { kGroup, kContact };
  Kind kind = Kind::kContact;
  size_t index = 0;  // into the groups or into the snapshot's records
  int number = -1;   // the chosen number of a contact (0-2)
  bool ticked = false;
};

// What single-choice mode hands back.
struct SingleChoice {
  std::u16string number;
  std::u16string name;
};

class PickerList {
 public:
  // `groups` may be null (no groups are listed then).
  PickerList(std::shared_ptr<const ContactData> contacts,
             const std::vector<SendGroup>* groups, int mode, bool touch_screen);

  // Fills the list again: every contact, or those of `category` (its name,
  // compared exactly). Clears the finding keys' state.
  void Fill(std::optional<std::u16string> category = std::nullopt);

  const std::vector<PickerItem>& items() const { return items_; }
  const ContactData& contacts() const { return *contacts_; }
  std::optional<size_t> selected() const { return selected_; }
  bool Select(size_t index);
  // The chosen category, when one is.
  const std::optional<std::u16string>& category() const { return category_; }

  // The name an item is listed under (a group's or a contact's).
  std::u16string_view Name(const PickerItem& item) const;
  // A contact item's chosen number (empty for a group).
  std::u16string_view Number(const PickerItem& item) const;
  const ContactRecord* Record(const PickerItem& item) const;
  const SendGroup* Group(const PickerItem& item) const;

  // ---- Finding. Each moves the selection and returns true when it found
  // an item; the search starts after the selection, wraps to the top and
  // ends with the selected item itself.
  // A letter (either case) or "#" (names starting with a character below
  // 128 that is not a letter).
  bool FindLetter(char16_t letter);
  // A keypad digit key '2'..'9': the first press tries the key's first
  // letter, each further press of the same key the next one (wrapping);
  // letters without a match are passed over.
  bool PressDigit(char16_t digit);
  // A touch-screen tab (0-8), cycling through its three characters the same
  // way.
  bool TapTab(int tab);

  // The "1" and "*" keys: the selected contact's chosen number moves to its
  // next number (mobile, home, work, wrapping). False when no contact is
  // selected or it has only one number.
  bool MoveChosenNumber();

  // "Add to Group...": every ticked contact becomes a member of group
  // `group` of `groups` (its name and chosen number; contacts without a
  // name are passed over, as the group file could not hold them). The
  // number of members added. The caller saves the groups and, when the
  // list shows them, fills it again.
  int AddTickedContactsToGroup(SendGroups& groups, size_t group) const;

  bool ToggleTick();  // the selected item's; false without a selection
  void SetAllTicks(bool ticked);

  // Several-choice mode's text: for every ticked item in list order,
  // ";"NAME"<NUMBER>" with a contact's name and chosen number, or one such
  // entry per member of a ticked group. An entry that would not fit in
  // `capacity` characters (terminator included) is left out.
  std::u16string MultipleOutput(
      size_t capacity = kMultipleOutputCapacity) const;
  // Single-choice mode's result: the selected item's chosen number and its
  // name, each cut to its capacity less the terminator; nullopt without a
  // selection.
  std::optional<SingleChoice> SingleOutput(
      size_t number_capacity = kSingleNumberCapacity,
      size_t name_capacity = kSingleNameCapacity) const;

  // The information window's lines for the selected item: a contact's name
  // and one "LABEL: NUMBER" line per number with the chosen one marked
  // with the check sign; a group's "<Group>" line, its name, the first two
  // members' names and "..." when there are more.
  std::vector<std::u16string> InfoLines() const;

 private:
  bool CycleKeys(int key, std::u16string_view letters);
  bool Matches(const PickerItem& item, char16_t letter) const;

  std::shared_ptr<const ContactData> contacts_;
  const std::vector<SendGroup>* groups_;
  int mode_;
  bool touch_screen_;
  std::optional<std::u16string> category_;
  std::vector<PickerItem> items_;
  std::optional<size_t> selected_;
  int last_key_ = -1;   // the key of the last PressDigit/TapTab
  int key_letter_ = 0;  // the letter that key last tried
};

}  // namespace contacts

#endif  // TELVANE_CONTACTS_PICKER_LIST_H_
