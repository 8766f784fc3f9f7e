// The phone book tables through devicectl, and cellcore.dll and
// pimstore.dll loaded the way programs load them.
#include "device/contacts/phone_book.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/com.h"
#include "platform/device.h"
#include "platform/modules.h"
#include "platform/pim.h"
#include "platform/telephony.h"
#include "platform/testing/temp_device.h"

namespace device::contacts {
namespace {

namespace fs = std::filesystem;
using platform::testing::BinDir;
using platform::testing::RunCommand;
using platform::testing::TempDevice;

using platform::testing::Devicectl;

void Install(const TempDevice& device, const char* library,
             const char* device_path) {
  fs::path target = device.HostPath(device_path);
  fs::create_directories(target.parent_path());
  fs::copy_file(BinDir().parent_path() / "lib" / library, target,
                fs::copy_options::overwrite_existing);
}

TEST(PhoneBookTest, DevicectlFillsListsAndClears) {
  TempDevice device;
  fs::path file = device.root() / "a.vcf";
  std::ofstream(file)
      << "BEGIN:VCARD\nFN:Ann\nTEL;CELL:1\nCATEGORIES:A,B\n"
         "END:VCARD\nBEGIN:VCARD\nNOTE:x\nEND:VCARD\n"
         // More numbers than the phone keeps; the fax is never one.
         "BEGIN:VCARD\nVERSION:3.0\nFN:John Doe\n"
         "item1.TEL;type=pref:+1555 0001\nTEL;type=CELL;type=VOICE:+15550002\n"
         "TEL;TYPE=WORK:03\nTEL;TYPE=FAX:04\nTEL:05\nTEL:06\nEND:VCARD\n"
         "BEGIN:VCARD\nTEL:1\nTEL:2\nTEL:3\nTEL:4\nTEL:5\nTEL:6\nTEL:7\n"
         "TEL:8\nTEL:9\nEND:VCARD\n";
  auto result = Devicectl("contacts import " + file.string());
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_NE(result.out.find("kept 3 of 5 numbers of John Doe; dropped 05, 06\n"
                            "kept 3 of 9 numbers of card 4 (no name); dropped "
                            "4, 5, 6, 7, 8 and 1 more\n"
                            "imported 3 contact(s)"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("1 card(s) without a name"), std::string::npos);
  result = Devicectl("contacts list");
  EXPECT_NE(result.out.find("Ann\tM:1\tH:\tW:\t[A, B]"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("John Doe\tM:+15550002\tH:+1555 0001\tW:03\t[]"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(Devicectl("contacts import /no/such.vcf").exit_code, 1);
  EXPECT_EQ(Devicectl("contacts frob").exit_code, 2);

  result = Devicectl("sim add --index 2 Bob 555");
  EXPECT_NE(result.out.find("stored SIM entry 2"), std::string::npos);
  result = Devicectl("sim add Cy 556");  // the first free index
  EXPECT_NE(result.out.find("stored SIM entry 1"), std::string::npos);
  EXPECT_EQ(Devicectl("sim add --index 251 X 1").exit_code, 2);
  EXPECT_EQ(Devicectl("sim add OnlyName").exit_code, 2);
  result = Devicectl("sim list");
  EXPECT_NE(result.out.find("1\tCy\t556\n2\tBob\t555\n2 SIM entries"),
            std::string::npos)
      << result.out;

  EXPECT_EQ(Devicectl("contacts clear").exit_code, 0);
  EXPECT_EQ(Devicectl("sim clear").exit_code, 0);
  EXPECT_TRUE(ListContacts().empty());
  EXPECT_TRUE(ListSimEntries().empty());
}

TEST(PhoneBookTest, SimCardFillsUpAndRefusesBadEntries) {
  TempDevice device;
  uint32_t at = 0;
  for (uint32_t i = kSimMinIndex; i <= kSimMaxIndex; ++i)
    ASSERT_TRUE(AddSimEntry({0, u"n", u"1"}, &at).ok());
  EXPECT_EQ(at, kSimMaxIndex);
  EXPECT_EQ(AddSimEntry({0, u"n", u"1"}, &at).code(),
            platform::ErrorCode::kAlreadyExists);
  EXPECT_TRUE(AddSimEntry({7, u"seven", u"7"}, &at).ok());  // replaces
  EXPECT_EQ(ReadSimEntry(7)->text, u"seven");
  EXPECT_EQ(AddSimEntry({0, std::u16string(256, u'x'), u"1"}, &at).code(),
            platform::ErrorCode::kInvalidArgument);
}

template <typename F>
F Entry(const platform::Library& library, const char* name) {
  auto entry = reinterpret_cast<F>(library.Symbol(name));
  EXPECT_NE(entry, nullptr) << name;
  return entry;
}

TEST(PhoneBookTest, CellcoreLinesAndSimManager) {
  TempDevice device;
  Install(device, "libcellcore.so", "\\Windows\\cellcore.dll");
  ASSERT_TRUE(AddSimEntry({5, u"Zoe", u"+44"}, nullptr).ok());
  auto cellcore = platform::Library::Load(platform::kCellcoreLibraryName);
  ASSERT_NE(cellcore, nullptr);
  using namespace platform;
  auto initialize =
      Entry<LineInitializeFunction>(*cellcore, kLineInitializeName);
  auto get_name = Entry<LineGetNameFunction>(*cellcore, kLineGetNameName);
  auto open = Entry<LineOpenFunction>(*cellcore, kLineOpenName);
  auto info =
      Entry<LineGetGeneralInfoFunction>(*cellcore, kLineGetGeneralInfoName);
  auto close = Entry<LineCloseFunction>(*cellcore, kLineCloseName);
  auto shutdown = Entry<LineShutdownFunction>(*cellcore, kLineShutdownName);
  LineApp app = 0;
  uint32_t devices = 0;
  ASSERT_EQ(initialize(&app, &devices), kTelOk);
  ASSERT_EQ(devices, 1u);
  char16_t name[8];
  EXPECT_EQ(get_name(app, 0, name, 8), kTelOk);
  EXPECT_EQ(std::u16string(name), u"Cellula");  // cut to the buffer
  EXPECT_EQ(get_name(app, 1, name, 8), kTelNoDevice);
  Line line = 0;
  ASSERT_EQ(open(app, 0, &line), kTelOk);
  LineGeneralInfo general{};
  EXPECT_EQ(info(line, &general), kTelOk);
  EXPECT_NE(general.serial_number[0], u'\0');
  EXPECT_EQ(close(line), kTelOk);
  EXPECT_EQ(info(line, &general), kTelInvalidHandle);
  EXPECT_EQ(shutdown(app), kTelOk);
  EXPECT_EQ(open(app, 0, &line), kTelInvalidHandle);

  auto sim_init = Entry<SimInitializeFunction>(*cellcore, kSimInitializeName);
  auto caps = Entry<SimGetDevCapsFunction>(*cellcore, kSimGetDevCapsName);
  auto read = Entry<SimReadPhonebookEntryFunction>(*cellcore,
                                                   kSimReadPhonebookEntryName);
  auto deinit = Entry<SimDeinitializeFunction>(*cellcore, kSimDeinitializeName);
  SimHandle sim = 0;
  ASSERT_EQ(sim_init(0, &sim), kTelOk);
  SimCaps range{};
  EXPECT_EQ(caps(sim, kSimCapsPhonebookIndexRange, &range), kTelOk);
  EXPECT_EQ(range.min_phonebook_index, 1u);
  EXPECT_EQ(range.max_phonebook_index, 250u);
  SimPhonebookEntry entry{};
  EXPECT_EQ(read(sim, kSimPhonebookStorageSim, 5, &entry), kTelOk);
  EXPECT_EQ(std::u16string(entry.text), u"Zoe");
  EXPECT_EQ(std::u16string(entry.address), u"+44");
  EXPECT_EQ(entry.address_type, 1u);
  EXPECT_EQ(read(sim, kSimPhonebookStorageSim, 6, &entry), kTelNotFound);
  EXPECT_EQ(read(sim, kSimPhonebookStorageSim, 0, &entry), kTelNotFound);
  EXPECT_EQ(deinit(sim), kTelOk);
  EXPECT_EQ(read(sim, kSimPhonebookStorageSim, 5, &entry), kTelInvalidHandle);

  // Without a cellular line there are no lines at all.
  ASSERT_TRUE(platform::SetDeviceSetting("cellular_line", "0").ok());
  ASSERT_EQ(initialize(&app, &devices), kTelOk);
  EXPECT_EQ(devices, 0u);
  EXPECT_EQ(open(app, 0, &line), kTelNoDevice);
  EXPECT_EQ(shutdown(app), kTelOk);
}

TEST(PhoneBookTest, PimstoreThroughComActivation) {
  TempDevice device;
  Install(device, "libpimstore.so", "\\Windows\\pimstore.dll");
  using namespace platform;
  IPimApplication* app = nullptr;
  // Not registered yet.
  EXPECT_EQ(
      CreateComInstance(CLSID_PimApplication, nullptr, IID_IPimApplication,
                        reinterpret_cast<void**>(&app)),
      REGDB_E_CLASSNOTREG);
  auto registered = Devicectl("install " + device.root().string());
  ASSERT_EQ(registered.exit_code, 0) << registered.out;
  ASSERT_TRUE(AddContacts({{0, u"Ann", u"1", u"", u"3", u"Work"},
                           {0, u"Bob", u"", u"2", u"", u""}})
                  .ok());
  ASSERT_EQ(
      CreateComInstance(CLSID_PimApplication, nullptr, IID_IPimApplication,
                        reinterpret_cast<void**>(&app)),
      S_OK);
  IPimFolder* folder = nullptr;
  EXPECT_EQ(app->GetDefaultFolder(kPimFolderContacts, &folder), E_FAIL);
  ASSERT_EQ(app->Logon(0), S_OK);
  EXPECT_EQ(app->GetDefaultFolder(3, &folder), E_INVALIDARG);
  ASSERT_EQ(app->GetDefaultFolder(kPimFolderContacts, &folder), S_OK);
  IPimItemCollection* items = nullptr;
  ASSERT_EQ(folder->get_Items(&items), S_OK);
  int count = 0;
  EXPECT_EQ(items->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
  IUnknown* item = nullptr;
  EXPECT_EQ(items->Item(0, &item), E_INVALIDARG);
  EXPECT_EQ(items->Item(3, &item), E_INVALIDARG);
  ASSERT_EQ(items->Item(1, &item), S_OK);
  IPimContact* contact = nullptr;
  ASSERT_EQ(
      item->QueryInterface(IID_IPimContact, reinterpret_cast<void**>(&contact)),
      S_OK);
  PimStringHolder text;
  EXPECT_EQ(contact->get_FileAs(text.out()), S_OK);
  EXPECT_EQ(text.view(), u"Ann");
  EXPECT_EQ(contact->get_HomeTelephoneNumber(text.out()), S_OK);
  EXPECT_EQ(text.view(), u"");
  EXPECT_EQ(contact->get_BusinessTelephoneNumber(text.out()), S_OK);
  EXPECT_EQ(text.view(), u"3");
  EXPECT_EQ(contact->get_Categories(text.out()), S_OK);
  EXPECT_EQ(text.view(), u"Work");
  contact->Release();
  item->Release();
  items->Release();
  folder->Release();
  EXPECT_EQ(app->Logoff(), S_OK);
  app->Release();
}

}  // namespace
}  // namespace device::contacts
