#include "platform/modules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/com.h"
#include "platform/registry.h"
#include "platform/testing/com_test_server.h"
#include "platform/testing/temp_device.h"
#include "platform/threads.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

using testing::IAdder;
using testing::kIidAdder;
constexpr CLSID kTestClsid = testing::kAdderClsid;


fs::path TestServer() {
  return testing::BinDir().parent_path() / "lib" / "libcomtestserver.so";
}

void InstallTestServer(const testing::TempDevice& device,
                       const std::string& device_path) {
  fs::path target = device.HostPath(device_path);
  fs::create_directories(target.parent_path());
  fs::copy_file(TestServer(), target, fs::copy_options::overwrite_existing);
}

TEST(DeviceNames, HostFilesGetDeviceNames) {
  EXPECT_EQ(DeviceFileNameFor("libinrelay.so"), u"inrelay.dll");
  EXPECT_EQ(DeviceFileNameFor("pelicorde"), u"pelicorde.exe");
  EXPECT_EQ(DeviceFileNameFor("sms.dll"), u"sms.dll");
  EXPECT_EQ(DeviceFileNameFor("lib.so"), u"lib.so");  // no name between
  EXPECT_EQ(FolderOf(u"\\Program Files\\Telvane\\pelicorde.exe"),
            u"\\Program Files\\Telvane\\");
  EXPECT_EQ(FolderOf(u"x.exe"), u"\\");
}

TEST(DeviceNames, ProgramOutsideTheDeviceUsesTheAppFolder) {
  testing::TempDevice device;
  unsetenv("TELVANE_APP_FOLDER");
  EXPECT_EQ(ProgramFileName(), u"\\Program Files\\Telvane\\platform_test.exe");
  setenv("TELVANE_APP_FOLDER", "\\Storage Card\\Apps", 1);
  EXPECT_EQ(ProgramFileName(), u"\\Storage Card\\Apps\\platform_test.exe");
  unsetenv("TELVANE_APP_FOLDER");
}

TEST(LibraryTest, SearchesTheProgramFolderThenWindows) {
  testing::TempDevice device;
  unsetenv("TELVANE_APP_FOLDER");
  EXPECT_EQ(Library::Load(u"server.dll"), nullptr);

  InstallTestServer(device, "\\Windows\\server.dll");
  std::unique_ptr<Library> from_windows = Library::Load(u"SERVER.DLL");
  ASSERT_NE(from_windows, nullptr);
  EXPECT_EQ(from_windows->device_path(), u"\\Windows\\server.dll");
  EXPECT_NE(from_windows->Symbol("DllGetClassObject"), nullptr);
  EXPECT_EQ(from_windows->Symbol("NoSuchEntry"), nullptr);

  InstallTestServer(device, "\\Program Files\\Telvane\\server.dll");
  std::unique_ptr<Library> from_app = Library::Load(u"server.dll");
  ASSERT_NE(from_app, nullptr);
  EXPECT_EQ(from_app->device_path(), u"\\Program Files\\Telvane\\server.dll");

  std::unique_ptr<Library> by_path = Library::Load(u"\\windows\\Server.dll");
  ASSERT_NE(by_path, nullptr);
  EXPECT_EQ(by_path->device_path(), u"\\Windows\\server.dll");

  // Not a library at all, and a path leaving the device.
  fs::path junk = device.HostPath("\\Windows\\junk.dll");
  FILE* f = fopen(junk.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("not an ELF file", f);
  fclose(f);
  Status status;
  EXPECT_EQ(Library::Load(u"junk.dll", &status), nullptr);
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(Library::Load(u"\\..\\device.db"), nullptr);
}

TEST(LibraryTest, CoredllOffersThreadPriority) {
  testing::TempDevice device;
  std::unique_ptr<Library> coredll = Library::Load(u"coredll.DLL");
  ASSERT_NE(coredll, nullptr);
  auto set_priority = reinterpret_cast<CeSetThreadPriorityFunction>(
      coredll->Symbol("CeSetThreadPriority"));
  ASSERT_NE(set_priority, nullptr);
  EXPECT_EQ(coredll->Symbol("CeGetThreadPriority"), nullptr);
  // Lowering a thread's priority needs no privilege.
  int thread_result = -1;
  std::thread worker([&] {
    thread_result = set_priority(CurrentThreadId(), 255);
    EXPECT_EQ(ThreadPriority(CurrentThreadId()), 255);
  });
  worker.join();
  EXPECT_EQ(thread_result, 1);
  EXPECT_EQ(set_priority(CurrentThreadId(), 300), 0);  // out of range
}

TEST(ComTest, GuidText) {
  GUID clsid = *ParseGuid(u"{20F58816-51E4-418D-92DD-8390021DCDCA}");
  EXPECT_EQ(clsid.data1, 0x20F58816u);
  EXPECT_EQ(clsid.data2, 0x51E4);
  EXPECT_EQ(clsid.data4[0], 0x92);
  EXPECT_EQ(clsid.data4[7], 0xCA);
  EXPECT_EQ(GuidToString(clsid), u"{20F58816-51E4-418D-92DD-8390021DCDCA}");
  EXPECT_EQ(ParseGuid(u"20f58816-51e4-418d-92dd-8390021dcdca"), clsid);
  for (const char16_t* bad :
       {u"", u"{}", u"{20F58816-51E4-418D-92DD-8390021DCDC}",
        u"{20F58816-51E4-418D-92DD-8390021DCDCAA}", u"{20F58816+51E4-418D-92DD-8390021DCDCA}",
        u"{20F58816-51E4-418D-92DD-8390021DCDCX}", u"20F58816-51E4-418D-92DD-8390021DCDCA}"}) {
    EXPECT_FALSE(ParseGuid(bad).has_value()) << std::u16string(bad).size();
  }
}

TEST(ComTest, ActivatesThroughTheRegistry) {
  testing::TempDevice device;
  void* object = &object;
  EXPECT_EQ(CreateComInstance(kTestClsid, nullptr, kIidAdder, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  std::optional<RegistryKey> key = RegistryKey::Create(
      RegistryRoot::kClassesRoot,
      u"\\CLSID\\" + GuidToString(kTestClsid) + u"\\InprocServer32");
  ASSERT_TRUE(key.has_value());
  ASSERT_TRUE(key->SetString(u"", u"adder.dll").ok());
  EXPECT_EQ(CreateComInstance(kTestClsid, nullptr, kIidAdder, &object),
            CO_E_DLLNOTFOUND);

  InstallTestServer(device, "\\Windows\\adder.dll");
  ASSERT_EQ(CreateComInstance(kTestClsid, nullptr, kIidAdder, &object), S_OK);
  auto* adder = static_cast<IAdder*>(object);
  EXPECT_EQ(adder->Add(2, 3), 5);
  EXPECT_EQ(adder->Release(), 0u);

  // Aggregation is refused (the outer object is never called).
  EXPECT_EQ(CreateComInstance(kTestClsid, reinterpret_cast<IUnknown*>(&object),
                              kIidAdder, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CreateComInstance(kTestClsid, nullptr, IID_IClassFactory, &object),
            E_NOINTERFACE);
  EXPECT_EQ(CreateComInstance(kTestClsid, nullptr, kIidAdder, nullptr), E_POINTER);
}

}  // namespace
}  // namespace platform
