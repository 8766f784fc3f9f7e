#include "contacts/picker_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "contacts/pinyin.h"
#include "platform/testing/temp_device.h"

namespace contacts {
namespace {

struct Person {
  Person(std::u16string name_in, std::u16string mobile_in = u"",
         std::u16string home_in = u"", std::u16string work_in = u"",
         std::u16string categories_in = u"")
      : name(std::move(name_in)),
        mobile(std::move(mobile_in)),
        home(std::move(home_in)),
        work(std::move(work_in)),
        categories(std::move(categories_in)) {}
  std::u16string name;
  std::u16string mobile, home, work;
  std::u16string categories;
};

std::shared_ptr<const ContactData> Data(const std::vector<Person>& people) {
  auto data = std::make_shared<ContactData>();
  for (const Person& person : people) {
    ContactRecord record;
    record.name = person.name;
    record.categories = data->InternCategories(person.categories);
    const std::u16string* numbers[] = {&person.mobile, &person.home,
                                       &person.work};
    for (int i = 0; i < kNumberCount; ++i) {
      if (!numbers[i]->empty()) record.numbers[i] = *numbers[i];
    }
    data->records.push_back(std::move(record));
  }
  return data;
}

std::vector<std::u16string> Names(const PickerList& list) {
  std::vector<std::u16string> names;
  for (const PickerItem& item : list.items())
    names.emplace_back(list.Name(item));
  return names;
}

std::u16string SelectedName(const PickerList& list) {
  if (!list.selected()) return u"(none)";
  return std::u16string(list.Name(list.items()[*list.selected()]));
}

TEST(PinyinTest, InitialsOfIdeographsAndOthers) {
  EXPECT_EQ(PinyinInitial(u'张'), u'Z');
  EXPECT_EQ(PinyinInitial(u'伟'), u'W');
  EXPECT_EQ(PinyinInitial(u'李'), u'L');
  EXPECT_EQ(PinyinInitial(u'一'), u'Y');  // U+4E00, the first
  EXPECT_EQ(PinyinInitial(u'阿'), u'A');  // a tone mark on the first letter
  EXPECT_EQ(PinyinInitial(u'鹅'), u'E');
  EXPECT_EQ(PinyinInitial(0x9FA5), u'Y');  // the last
  // Outside the table the character is its own initial.
  EXPECT_EQ(PinyinInitial(u'a'), u'a');
  EXPECT_EQ(PinyinInitial(0x9FA6), 0x9FA6);
  EXPECT_EQ(PinyinInitial(0x4DFF), 0x4DFF);
  // Every code in the table is a letter or "none".
  for (char16_t c = kFirstPinyinIdeograph; c <= kLastPinyinIdeograph; ++c) {
    char16_t initial = PinyinInitial(c);
    ASSERT_TRUE((initial >= u'A' && initial <= u'Z') || initial == u'[')
        << static_cast<int>(c);
  }
  EXPECT_EQ(NameInitial(u"张伟"), u'Z');
  EXPECT_EQ(NameInitial(u"anna"), u'A');
  EXPECT_EQ(NameInitial(u""), 0);
}

TEST(PickerOrderTest, CompareNamesOnKeypadAndTouchScreen) {
  // Keypad: a non-ideograph decides at once by code, so only the first
  // position orders Latin names; ideographs go by initial, then code.
  EXPECT_LT(CompareNames(u"Anna", u"Bob", false), 0);
  EXPECT_EQ(CompareNames(u"Anna", u"Anne", false), 0);
  EXPECT_EQ(CompareNames(u"A", u"Ab", false), 0);
  EXPECT_LT(CompareNames(u"Zoe", u"李四", false), 0);
  EXPECT_LT(CompareNames(u"李四", u"张伟", false), 0);  // L before Z
  EXPECT_LT(CompareNames(u"张", u"张伟", false), 0);    // a prefix first
  EXPECT_GT(CompareNames(u"张伟", u"张a", false), 0);   // 伟 vs "a": code
  EXPECT_GT(CompareNames(u"章", u"张", false), 0);      // both Z: by code
  // Touch screen: every position by initial, then code.
  EXPECT_LT(CompareNames(u"Anna", u"Anne", true), 0);
  EXPECT_LT(CompareNames(u"Carl", u"张伟", true), 0);
  EXPECT_LT(CompareNames(u"Zoe", u"张伟", true), 0);   // "Z" before 张 by code
  EXPECT_LT(CompareNames(u"Bob", u"alice", true), 0);  // case counts
  EXPECT_EQ(CompareNames(u"same", u"same", true), 0);
}

TEST(PickerOrderTest, FillSortsGroupsFirstAndKeepsSelection) {
  auto data = Data({{u"Bob", u"2"},
                    {u"张伟", u"", u"", u"9"},
                    {u"Nobody"},  // no number: not listed
                    {u"Anne", u"3"},
                    {u"Anna", u"", u"4"},
                    {u"李四", u"5"}});
  std::vector<SendGroup> groups = {{u"Zeta", {}}, {u"Alpha", {}}};

  PickerList keypad(data, &groups, kPickerMultiple, false);
  keypad.Fill();
  EXPECT_EQ(Names(keypad),
            (std::vector<std::u16string>{u"Alpha", u"Zeta", u"Anne", u"Anna",
                                         u"Bob", u"李四", u"张伟"}));
  EXPECT_EQ(SelectedName(keypad), u"Zeta");  // the first item added
  // Each contact with its first number; a work-only contact with "W".
  const PickerItem& zhang = keypad.items()[6];
  EXPECT_EQ(zhang.number, kWorkNumber);
  EXPECT_EQ(keypad.Number(zhang), u"9");

  PickerList touch(data, &groups, kPickerSingle, true);
  touch.Fill();
  EXPECT_EQ(Names(touch), (std::vector<std::u16string>{u"Anna", u"Anne", u"Bob",
                                                       u"李四", u"张伟"}));
  EXPECT_EQ(SelectedName(touch), u"Bob");
  // Modes other than 0 and 2 list no groups.
  PickerList other(data, &groups, 1, false);
  other.Fill();
  EXPECT_EQ(other.items().size(), 5u);
}

TEST(PickerOrderTest, CategoriesFilterAndAreKeptOnce) {
  auto data = Data({{u"Ann", u"1", u"", u"", u"Friends, Work"},
                    {u"Ben", u"2", u"", u"", u"Work,Friends, , Work"},
                    {u"Cat", u"3", u"", u"", u" Family"}});
  // One leading space is skipped after the first piece only; names are
  // kept once in order of first appearance, exactly.
  EXPECT_EQ(data->categories,
            (std::vector<std::u16string>{u"Friends", u"Work", u" Family"}));
  EXPECT_EQ(data->records[1].categories, (std::vector<size_t>{1, 0}));
  std::vector<SendGroup> groups = {{u"G", {}}};
  PickerList list(data, &groups, kPickerMultiple, false);
  list.Fill(u"Work");
  EXPECT_EQ(Names(list), (std::vector<std::u16string>{u"G", u"Ann", u"Ben"}));
  list.Fill(u"work");  // exact comparison
  EXPECT_EQ(Names(list), (std::vector<std::u16string>{u"G"}));
  PickerList single(data, &groups, kPickerSingle, false);
  single.Fill(u"Nobody's");
  EXPECT_TRUE(single.items().empty());
  EXPECT_FALSE(single.selected());
  EXPECT_FALSE(single.SingleOutput());
}

TEST(PickerFindTest, LettersKeypadDigitsAndTabs) {
  auto data = Data({{u"Anna", u"1"},
                    {u"Carl", u"2"},
                    {u"Cora", u"3"},
                    {u"张伟", u"4"},
                    {u"007", u"5"},
                    {u"Bea", u"6"}});
  PickerList list(data, nullptr, kPickerSingle, false);
  list.Fill();
  // Keypad order: 007, Anna, Bea, Carl, Cora, 张伟; selected: Anna.
  ASSERT_EQ(SelectedName(list), u"Anna");
  EXPECT_TRUE(list.FindLetter(u'z'));  // the ideograph's pinyin initial
  EXPECT_EQ(SelectedName(list), u"张伟");
  EXPECT_TRUE(list.FindLetter(u'C'));  // wraps to the top
  EXPECT_EQ(SelectedName(list), u"Carl");
  EXPECT_TRUE(list.FindLetter(u'c'));  // the next one after the selection
  EXPECT_EQ(SelectedName(list), u"Cora");
  EXPECT_TRUE(list.FindLetter(u'#'));
  EXPECT_EQ(SelectedName(list), u"007");
  EXPECT_FALSE(list.FindLetter(u'q'));
  EXPECT_EQ(SelectedName(list), u"007");

  // "2" three times: a, b, c in turn.
  EXPECT_TRUE(list.PressDigit(u'2'));
  EXPECT_EQ(SelectedName(list), u"Anna");
  EXPECT_TRUE(list.PressDigit(u'2'));
  EXPECT_EQ(SelectedName(list), u"Bea");
  EXPECT_TRUE(list.PressDigit(u'2'));
  EXPECT_EQ(SelectedName(list), u"Carl");
  EXPECT_TRUE(list.PressDigit(u'9'));  // another key starts at its first
  EXPECT_EQ(SelectedName(list), u"张伟");
  EXPECT_FALSE(list.PressDigit(u'7'));  // p, q, r, s: nothing
  EXPECT_FALSE(list.PressDigit(u'1'));

  // Letters without names are passed over: no "b" here.
  auto sparse = Data({{u"Anna", u"1"}, {u"Carl", u"2"}, {u"Dan", u"3"}});
  PickerList keys(sparse, nullptr, kPickerSingle, false);
  keys.Fill();
  EXPECT_TRUE(keys.PressDigit(u'2'));
  EXPECT_EQ(SelectedName(keys), u"Anna");
  EXPECT_TRUE(keys.PressDigit(u'2'));
  EXPECT_EQ(SelectedName(keys), u"Carl");
  EXPECT_TRUE(keys.PressDigit(u'2'));  // back to "a"
  EXPECT_EQ(SelectedName(keys), u"Anna");

  // Touch-screen tabs cycle through their three characters.
  EXPECT_EQ(TabLetters(0), u"#ab");
  EXPECT_EQ(TabLetters(8), u"xyz");
  EXPECT_TRUE(list.TapTab(0));
  EXPECT_EQ(SelectedName(list), u"007");
  EXPECT_TRUE(list.TapTab(0));
  EXPECT_EQ(SelectedName(list), u"Anna");
  EXPECT_TRUE(list.TapTab(0));
  EXPECT_EQ(SelectedName(list), u"Bea");
  EXPECT_TRUE(list.TapTab(0));
  EXPECT_EQ(SelectedName(list), u"007");
  EXPECT_FALSE(list.TapTab(9));
}

TEST(PickerChoiceTest, ChosenNumbersTicksAndOutputs) {
  auto data = Data({{u"Ann", u"111", u"222"}, {u"Bob", u"", u"", u"333"}});
  std::vector<SendGroup> groups = {
      {u"Family", {{u"Mum", u"0123"}, {u"Dad", u"0456"}, {u"Sis", u"0789"}}}};
  PickerList list(data, &groups, kPickerMultiple, false);
  list.Fill();
  ASSERT_EQ(Names(list),
            (std::vector<std::u16string>{u"Family", u"Ann", u"Bob"}));
  ASSERT_TRUE(list.Select(1));
  // "*" on mobile and home: home, then back to mobile.
  EXPECT_TRUE(list.MoveChosenNumber());
  EXPECT_EQ(list.Number(list.items()[1]), u"222");
  EXPECT_EQ(list.InfoLines(),
            (std::vector<std::u16string>{u"Ann", u"M: 111", u"H: 222 \u221A"}));
  EXPECT_TRUE(list.MoveChosenNumber());
  EXPECT_EQ(list.Number(list.items()[1]), u"111");
  ASSERT_TRUE(list.Select(2));
  EXPECT_FALSE(list.MoveChosenNumber());  // a single number stays
  ASSERT_TRUE(list.Select(0));
  EXPECT_FALSE(list.MoveChosenNumber());  // a group has none
  EXPECT_EQ(list.InfoLines(),
            (std::vector<std::u16string>{u"<Group>", u"Family", u"Mum", u"Dad",
                                         u"..."}));

  // Nothing ticked: an empty text.
  EXPECT_EQ(list.MultipleOutput(), u"");
  list.ToggleTick();  // the group
  ASSERT_TRUE(list.Select(1));
  list.ToggleTick();  // Ann
  EXPECT_EQ(list.MultipleOutput(),
            u";\"Mum\"<0123>;\"Dad\"<0456>;\"Sis\"<0789>;\"Ann\"<111>");
  // Entries that do not fit are left out; the text never reaches the
  // terminator's place.
  std::u16string cut = list.MultipleOutput(26);
  EXPECT_EQ(cut, u";\"Mum\"<0123>;\"Dad\"<0456>");
  EXPECT_LE(cut.size(), 25u);
  EXPECT_EQ(list.MultipleOutput(24), u";\"Mum\"<0123>;\"Ann\"<111>");
  EXPECT_EQ(list.MultipleOutput(0), u"");

  // "Add to Group...": the ticked contacts (not the ticked group) join.
  SendGroups edited;
  ASSERT_TRUE(edited.AddGroup(u"Friends"));
  ASSERT_TRUE(list.Select(2));
  list.ToggleTick();  // Bob too
  EXPECT_EQ(list.AddTickedContactsToGroup(edited, 0), 2);
  EXPECT_EQ(edited.groups()[0].members,
            (std::vector<GroupMember>{{u"Ann", u"111"}, {u"Bob", u"333"}}));
  EXPECT_EQ(list.AddTickedContactsToGroup(edited, 1), 0);  // no such group

  list.SetAllTicks(false);
  EXPECT_EQ(list.MultipleOutput(), u"");

  // Single choice: the chosen number and the name, within their buffers.
  PickerList single(data, &groups, kPickerSingle, false);
  single.Fill();
  std::optional<SingleChoice> choice = single.SingleOutput();
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->number, u"111");
  EXPECT_EQ(choice->name, u"Ann");
  choice = single.SingleOutput(3, 2);
  EXPECT_EQ(choice->number, u"11");
  EXPECT_EQ(choice->name, u"A");
}

TEST(PickerPhotoTest, FirstExistingOfBmpGifJpg) {
  platform::testing::TempDevice device;
  std::filesystem::path folder = device.HostPath("\\photo");
  std::filesystem::create_directories(folder);
  EXPECT_FALSE(FindPhoto(u"\\photo\\", u"Ann"));
  std::ofstream(folder / "Ann.jpg") << "j";
  EXPECT_EQ(FindPhoto(u"\\photo\\", u"Ann"), u"\\photo\\Ann.jpg");
  std::ofstream(folder / "Ann.gif") << "g";
  EXPECT_EQ(FindPhoto(u"\\photo\\", u"Ann"), u"\\photo\\Ann.gif");
  std::ofstream(folder / "Ann.bmp") << "b";
  EXPECT_EQ(FindPhoto(u"\\photo\\", u"ann"), u"\\photo\\ann.bmp");
}

}  // namespace
}  // namespace contacts
