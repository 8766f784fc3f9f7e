// What the send tests share: a scratch device with the real sms.dll
// installed, and the radio log read back.
#ifndef TELVANE_SEND_TESTING_RADIO_DEVICE_H_
#define TELVANE_SEND_TESTING_RADIO_DEVICE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/sms/radio_log.h"
#include "platform/device.h"
#include "platform/testing/temp_device.h"

namespace send::testing {

// A fresh device; sms.dll is copied from the build into \Windows\ unless
// `install_sms` is false.
class RadioDevice {
 public:
  explicit RadioDevice(bool install_sms = true) {
    if (!install_sms) return;
    std::filesystem::path built =
        platform::testing::BinDir().parent_path() / "lib" / "libsms.so";
    std::filesystem::path target = device_.HostPath("\\Windows\\sms.dll");
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(built, target);
  }
  const platform::testing::TempDevice& device() const { return device_; }

  // Sets a device setting, failing the test when it is refused.
  static void Set(const char* key, const std::string& value) {
    platform::Status status = platform::SetDeviceSetting(key, value);
    ASSERT_TRUE(status.ok()) << status.ToString();
  }

 private:
  platform::testing::TempDevice device_;
};

// One line per submission: "ADDRESS type=T class=C options=O TEXT", refused
// ones marked "refused".
inline std::vector<std::string> RadioLines(bool include_refused = false) {
  std::vector<std::string> lines;
  auto submissions = device::sms::ListSubmissions(include_refused);
  EXPECT_TRUE(submissions.has_value());
  if (!submissions) return lines;
  for (const device::sms::RadioSubmission& s : *submissions) {
    std::string line = std::string(s.address.begin(), s.address.end()) +
                       " type=" + std::to_string(s.address_type) +
                       " class=" + std::to_string(s.message_class) +
                       " options=" + std::to_string(s.message_options);
    if (!s.accepted()) line += " refused";
    std::u16string text = s.text();
    line += " " + std::string(text.begin(), text.end());
    lines.push_back(line);
  }
  return lines;
}

}  // namespace send::testing

#endif  // TELVANE_SEND_TESTING_RADIO_DEVICE_H_
