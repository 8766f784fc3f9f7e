// The store loaded from the real pimstore.dll and cellcore.dll of a scratch
// device that devicectl installs and fills from a vCard file.
#include "contacts/contact_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "contacts/picker_list.h"
#include "platform/testing/temp_device.h"

namespace contacts {
namespace {

namespace fs = std::filesystem;
using platform::testing::BinDir;
using platform::testing::RunCommand;
using platform::testing::TempDevice;

using platform::testing::Devicectl;

// A device with the two libraries installed by `devicectl install` (from a
// build folder holding only them) and the contacts of `vcard` imported.
class PhoneDevice {
 public:
  explicit PhoneDevice(const std::string& vcard) {
    fs::path build = device_.root() / "build";
    fs::create_directories(build / "lib");
    for (const char* library : {"libpimstore.so", "libcellcore.so"})
      fs::copy_file(BinDir().parent_path() / "lib" / library,
                    build / "lib" / library);
    auto installed = Devicectl("install " + build.string());
    EXPECT_EQ(installed.exit_code, 0) << installed.out;
    EXPECT_NE(installed.out.find("registered"), std::string::npos)
        << installed.out;
    fs::path file = device_.root() / "contacts.vcf";
    std::ofstream(file, std::ios::binary) << vcard;
    auto imported = Devicectl("contacts import " + file.string());
    EXPECT_EQ(imported.exit_code, 0) << imported.out;
  }
  void Run(const std::string& args) {
    auto result = Devicectl(args);
    EXPECT_EQ(result.exit_code, 0) << args << ": " << result.out;
  }

 private:
  TempDevice device_;
};

constexpr char kCards[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:张伟\r\nN:张;伟;;;\r\n"
    "TEL;TYPE=CELL:13800000000\r\nCATEGORIES:Friends,Work\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:2.1\r\nN:;Anna\r\nTEL;HOME:0201234\r\n"
    "TEL;WORK:0207777\r\nCATEGORIES:Work\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:No Number\r\nCATEGORIES:Lonely\r\n"
    "END:VCARD\r\n";

TEST(ContactStoreTest, LoadsContactsAndSimFromThePhone) {
  PhoneDevice phone(kCards);
  phone.Run("sim add --index 3 Zoe +4470001");
  phone.Run("sim add Bert 0800");
  phone.Run("sim add --index 250 \"\" \"\"");  // an empty entry is kept

  ContactStore store;
  EXPECT_TRUE(store.contacts()->records.empty());
  store.StartLoad();
  store.WaitForLoad();
  std::shared_ptr<const ContactData> data = store.contacts();
  LoadReport report = store.last_report();
  EXPECT_TRUE(report.contacts_read);
  EXPECT_TRUE(report.cellular_line);
  EXPECT_EQ(report.contacts, 3);
  EXPECT_EQ(report.sim_entries, 3);
  EXPECT_EQ(data->categories, (std::vector<std::u16string>{u"Friends", u"Work",
                                                           u"Lonely", u"SIM"}));
  ASSERT_EQ(data->records.size(), 6u);
  const ContactRecord& zhang = data->records[0];
  EXPECT_EQ(zhang.name, u"张伟");
  EXPECT_EQ(zhang.numbers[kMobileNumber], u"13800000000");
  EXPECT_FALSE(zhang.numbers[kHomeNumber]);
  EXPECT_EQ(zhang.categories, (std::vector<size_t>{0, 1}));
  const ContactRecord& anna = data->records[1];
  EXPECT_EQ(anna.name, u"Anna");
  EXPECT_FALSE(anna.numbers[kMobileNumber]);
  EXPECT_EQ(anna.numbers[kWorkNumber], u"0207777");
  // SIM entries in index order, after the contacts, in category "SIM".
  EXPECT_EQ(data->records[3].name, u"Bert");
  EXPECT_EQ(data->records[4].name, u"Zoe");
  EXPECT_EQ(data->records[4].numbers[kMobileNumber], u"+4470001");
  EXPECT_EQ(data->records[4].categories, (std::vector<size_t>{3}));
  EXPECT_FALSE(data->records[5].HasNumber());

  // The picker orders and finds them: 张伟 under "Z".
  PickerList list(data, nullptr, kPickerSingle, false);
  list.Fill();
  std::vector<std::u16string> names;
  for (const PickerItem& item : list.items())
    names.emplace_back(list.Name(item));
  EXPECT_EQ(names,
            (std::vector<std::u16string>{u"Anna", u"Bert", u"Zoe", u"张伟"}));
  ASSERT_TRUE(list.FindLetter(u'z'));
  EXPECT_EQ(list.Name(list.items()[*list.selected()]), u"Zoe");
  ASSERT_TRUE(list.FindLetter(u'z'));
  EXPECT_EQ(list.Name(list.items()[*list.selected()]), u"张伟");
  list.Fill(u"SIM");
  EXPECT_EQ(list.items().size(), 2u);
}

TEST(ContactStoreTest, NoCellularLineNoSimAndReloadReplaces) {
  PhoneDevice phone(kCards);
  phone.Run("sim add Zoe 1");
  phone.Run("config set cellular_line 0");
  ContactStore store;
  store.Load();
  EXPECT_FALSE(store.last_report().cellular_line);
  EXPECT_EQ(store.contacts()->records.size(), 3u);
  EXPECT_EQ(std::count(store.contacts()->categories.begin(),
                       store.contacts()->categories.end(), u"SIM"),
            0);

  std::shared_ptr<const ContactData> before = store.contacts();
  phone.Run("contacts clear");
  phone.Run("config set cellular_line 1");
  store.Load();
  EXPECT_EQ(store.contacts()->records.size(), 1u);  // the SIM entry alone
  EXPECT_EQ(before->records.size(), 3u);  // a held snapshot stays whole
}

std::string ManyCards(int count) {
  std::string cards;
  for (int i = 0; i < count; ++i) {
    cards += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Person " + std::to_string(i) +
             "\r\nTEL;TYPE=CELL:1380000" + std::to_string(10000 + i) +
             "\r\nEND:VCARD\r\n";
  }
  return cards;
}

TEST(ContactStoreTest, ABackgroundLoadShowsWhatItHasAndStopsWhenAsked) {
  const int kCount = 3 * kPublishEvery + 10;
  PhoneDevice phone(ManyCards(kCount));
  ContactStore store;
  store.StartLoad();
  // While it runs, every snapshot is one the load published: whole steps
  // of kPublishEvery, growing, then everything.
  size_t last = 0;
  while (store.loading()) {
    size_t now = store.contacts()->records.size();
    EXPECT_TRUE(now % kPublishEvery == 0 || now == size_t{kCount}) << now;
    EXPECT_GE(now, last);
    last = now;
  }
  store.WaitForLoad();
  EXPECT_EQ(store.contacts()->records.size(), size_t{kCount});

  // Stopped at once, a load ends early (what it read stays) and the store
  // loads whole again afterwards.
  store.StartLoad();
  store.Stop();
  EXPECT_FALSE(store.loading());
  EXPECT_LE(store.contacts()->records.size(), size_t{kCount});
  store.Load();
  EXPECT_EQ(store.contacts()->records.size(), size_t{kCount});
  EXPECT_EQ(store.last_report().contacts, kCount);
}

TEST(ContactStoreTest, WithoutTheLibrariesTheStoreIsEmpty) {
  TempDevice device;
  ContactStore store;
  store.Load();
  EXPECT_FALSE(store.last_report().contacts_read);
  EXPECT_TRUE(store.contacts()->records.empty());
}

}  // namespace
}  // namespace contacts
