#include "contacts/picker_list.h"

#include <algorithm>

#include "contacts/pinyin.h"
#include "platform/files.h"

namespace contacts {
namespace {

constexpr char16_t kIdeographStart = 0x4E00;
constexpr char16_t kCheckSign = 0x221A;

int Sign(long long value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

char16_t UpperAscii(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool IsAsciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// ;"NAME"<NUMBER>
std::u16string Entry(std::u16string_view name, std::u16string_view number) {
  std::u16string entry = u";\"";
  entry += name;
  entry += u"\"<";
  entry += number;
  entry += u">";
  return entry;
}

}  // namespace

int CompareNames(std::u16string_view a, std::u16string_view b,
                 bool touch_screen) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    char16_t ca = a[i];
    char16_t cb = b[i];
    if (touch_screen || (ca >= kIdeographStart && cb >= kIdeographStart)) {
      if (ca == cb) continue;
      int initial_a = PinyinInitial(ca);
      int initial_b = PinyinInitial(cb);
      if (initial_a != initial_b) return Sign(initial_a - initial_b);
      return Sign(static_cast<int>(ca) - static_cast<int>(cb));
    }
    return Sign(static_cast<int>(ca) - static_cast<int>(cb));
  }
  return Sign(static_cast<long long>(a.size()) -
              static_cast<long long>(b.size()));
}

char16_t NameInitial(std::u16string_view name) {
  if (name.empty()) return 0;
  return UpperAscii(PinyinInitial(name[0]));
}

std::optional<std::u16string> FindPhoto(std::u16string_view photo_folder,
                                        std::u16string_view name) {
  for (std::u16string_view extension : {u".bmp", u".gif", u".jpg"}) {
    std::u16string path = std::u16string(photo_folder);
    path += name;
    path += extension;
    if (platform::files::Exists(path) && !platform::files::IsFolder(path))
      return path;
  }
  return std::nullopt;
}

std::u16string_view KeypadLetters(char16_t digit) {
  static constexpr std::u16string_view kLetters[] = {
      u"abc", u"def", u"ghi", u"jkl", u"mno", u"pqrs", u"tuv", u"wxyz"};
  if (digit < u'2' || digit > u'9') return {};
  return kLetters[digit - u'2'];
}

std::u16string_view TabLetters(int tab) {
  static constexpr std::u16string_view kTabs[kTabCount] = {
      u"#ab", u"cde", u"fgh", u"ijk", u"lmn", u"opq", u"rst", u"uvw", u"xyz"};
  if (tab < 0 || tab >= kTabCount) return {};
  return kTabs[tab];
}

PickerList::PickerList(std::shared_ptr<const ContactData> contacts,
                       const std::vector<SendGroup>* groups, int mode,
                       bool touch_screen)
    : contacts_(contacts ? std::move(contacts)
                         : std::make_shared<const ContactData>()),
      groups_(groups),
      mode_(mode),
      touch_screen_(touch_screen) {}

void PickerList::Fill(std::optional<std::u16string> category) {
  category_ = std::move(category);
  items_.clear();
  selected_.reset();
  last_key_ = -1;
  if (mode_ == kPickerMultiple && groups_ != nullptr) {
    for (size_t i = 0; i < groups_->size(); ++i)
      items_.push_back({PickerItem::Kind::kGroup, i, -1, false});
  }
  std::optional<size_t> category_index;
  if (category_) {
    const auto& names = contacts_->categories;
    auto found = std::find(names.begin(), names.end(), *category_);
    if (found != names.end()) category_index = found - names.begin();
  }
  for (size_t i = 0; i < contacts_->records.size(); ++i) {
    const ContactRecord& record = contacts_->records[i];
    if (!record.HasNumber()) continue;
    if (category_) {
      if (!category_index) continue;  // no contact carries it
      const auto& carried = record.categories;
      if (std::find(carried.begin(), carried.end(), *category_index) ==
          carried.end())
        continue;
    }
    items_.push_back(
        {PickerItem::Kind::kContact, i, record.FirstNumber(), false});
  }
  if (items_.empty()) return;
  PickerItem first = items_.front();
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const PickerItem& a, const PickerItem& b) {
                     if (a.kind != b.kind)
                       return a.kind == PickerItem::Kind::kGroup;
                     return CompareNames(Name(a), Name(b), touch_screen_) < 0;
                   });
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].kind == first.kind && items_[i].index == first.index) {
      selected_ = i;
      break;
    }
  }
}

bool PickerList::Select(size_t index) {
  if (index >= items_.size()) return false;
  selected_ = index;
  return true;
}

std::u16string_view PickerList::Name(const PickerItem& item) const {
  if (const SendGroup* group = Group(item)) return group->name;
  if (const ContactRecord* record = Record(item)) return record->name;
  return {};
}

std::u16string_view PickerList::Number(const PickerItem& item) const {
  const ContactRecord* record = Record(item);
  if (record == nullptr || item.number < 0 || item.number >= kNumberCount ||
      !record->numbers[item.number])
    return {};
  return *record->numbers[item.number];
}

const ContactRecord* PickerList::Record(const PickerItem& item) const {
  if (item.kind != PickerItem::Kind::kContact ||
      item.index >= contacts_->records.size())
    return nullptr;
  return &contacts_->records[item.index];
}

const SendGroup* PickerList::Group(const PickerItem& item) const {
  if (item.kind != PickerItem::Kind::kGroup || groups_ == nullptr ||
      item.index >= groups_->size())
    return nullptr;
  return &(*groups_)[item.index];
}

bool PickerList::Matches(const PickerItem& item, char16_t letter) const {
  std::u16string_view name = Name(item);
  if (name.empty()) return false;
  if (letter == u'#') return name[0] < 128 && !IsAsciiLetter(name[0]);
  return NameInitial(name) == UpperAscii(letter);
}

bool PickerList::FindLetter(char16_t letter) {
  size_t count = items_.size();
  if (count == 0) return false;
  size_t start = selected_ ? *selected_ + 1 : 0;
  for (size_t step = 0; step < count; ++step) {
    size_t i = (start + step) % count;
    if (Matches(items_[i], letter)) {
      selected_ = i;
      return true;
    }
  }
  return false;
}

bool PickerList::CycleKeys(int key, std::u16string_view letters) {
  if (letters.empty()) return false;
  int count = static_cast<int>(letters.size());
  int first = key == last_key_ ? (key_letter_ + 1) % count : 0;
  last_key_ = key;
  key_letter_ = first;
  for (int step = 0; step < count; ++step) {
    int letter = (first + step) % count;
    if (FindLetter(letters[letter])) {
      key_letter_ = letter;
      return true;
    }
  }
  return false;
}

bool PickerList::PressDigit(char16_t digit) {
  return CycleKeys(digit, KeypadLetters(digit));
}

bool PickerList::TapTab(int tab) {
  return CycleKeys(1000 + tab, TabLetters(tab));
}

bool PickerList::MoveChosenNumber() {
  if (!selected_) return false;
  PickerItem& item = items_[*selected_];
  const ContactRecord* record = Record(item);
  if (record == nullptr) return false;
  int next = record->NextNumber(item.number);
  if (next < 0 || next == item.number) return false;
  item.number = next;
  return true;
}

int PickerList::AddTickedContactsToGroup(SendGroups& groups,
                                         size_t group) const {
  int added = 0;
  for (const PickerItem& item : items_) {
    if (item.ticked && Record(item) != nullptr &&
        groups.AddMember(group, Name(item), Number(item)))
      ++added;
  }
  return added;
}

bool PickerList::ToggleTick() {
  if (!selected_) return false;
  items_[*selected_].ticked = !items_[*selected_].ticked;
  return true;
}

void PickerList::SetAllTicks(bool ticked) {
  for (PickerItem& item : items_) item.ticked = ticked;
}

std::u16string PickerList::MultipleOutput(size_t capacity) const {
  std::u16string output;
  size_t room = capacity > 0 ? capacity - 1 : 0;
  auto append = [&](std::u16string_view name, std::u16string_view number) {
    std::u16string entry = Entry(name, number);
    if (output.size() + entry.size() <= room) output += entry;
  };
  for (const PickerItem& item : items_) {
    if (!item.ticked) continue;
    if (const SendGroup* group = Group(item)) {
      for (const GroupMember& member : group->members)
        append(member.name, member.number);
    } else if (Record(item) != nullptr) {
      append(Name(item), Number(item));
    }
  }
  return output;
}

std::optional<SingleChoice> PickerList::SingleOutput(
    size_t number_capacity, size_t name_capacity) const {
  if (!selected_) return std::nullopt;
  const PickerItem& item = items_[*selected_];
  SingleChoice choice;
  choice.number =
      Number(item).substr(0, number_capacity ? number_capacity - 1 : 0);
  choice.name = Name(item).substr(0, name_capacity ? name_capacity - 1 : 0);
  return choice;
}

std::vector<std::u16string> PickerList::InfoLines() const {
  std::vector<std::u16string> lines;
  if (!selected_) return lines;
  const PickerItem& item = items_[*selected_];
  if (const SendGroup* group = Group(item)) {
    lines.push_back(u"<Group>");
    lines.push_back(group->name);
    for (size_t i = 0; i < group->members.size() && i < 2; ++i)
      lines.push_back(group->members[i].name);
    if (group->members.size() > 2) lines.push_back(u"...");
    return lines;
  }
  const ContactRecord* record = Record(item);
  if (record == nullptr) return lines;
  lines.push_back(record->name);
  for (int i = 0; i < kNumberCount; ++i) {
    if (!record->numbers[i]) continue;
    std::u16string line(kNumberLabels[i]);
    line += u": ";
    line += *record->numbers[i];
    if (i == item.number) {
      line += u' ';
      line += kCheckSign;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace contacts
