// What the tests of the contacts' windows share: a scratch device whose
// phone has contacts, through the build's real pimstore.dll and
// cellcore.dll and devicectl.
#ifndef TELVANE_CONTACTS_TESTING_PHONE_CONTACTS_H_
#define TELVANE_CONTACTS_TESTING_PHONE_CONTACTS_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/testing/temp_device.h"

namespace contacts::testing {

// Installs the build's contacts libraries on `device` (the current device)
// with `devicectl install` of a folder that holds only them.
inline void InstallContactLibraries(
    const platform::testing::TempDevice& device) {
  namespace fs = std::filesystem;
  fs::path build = device.root() / "build";
  fs::create_directories(build / "lib");
  for (const char* library : {"libpimstore.so", "libcellcore.so"}) {
    fs::copy_file(platform::testing::BinDir().parent_path() / "lib" / library,
                  build / "lib" / library,
                  fs::copy_options::overwrite_existing);
  }
  platform::testing::CommandResult installed =
      platform::testing::Devicectl("install " + build.string());
  ASSERT_EQ(installed.exit_code, 0) << installed.out;
}

// Imports the vCard text `cards` into the phone's contacts of `device`.
inline void ImportCards(const platform::testing::TempDevice& device,
                        std::string_view cards) {
  std::filesystem::path file = device.root() / "contacts.vcf";
  std::ofstream(file, std::ios::binary | std::ios::trunc) << cards;
  platform::testing::CommandResult imported =
      platform::testing::Devicectl("contacts import " + file.string());
  ASSERT_EQ(imported.exit_code, 0) << imported.out;
}

}  // namespace contacts::testing

#endif  // TELVANE_CONTACTS_TESTING_PHONE_CONTACTS_H_
