// sms.dll as a program uses it (installed in a scratch device, loaded and
// bound by name), the radio log it keeps, and `devicectl sent`.
#include "device/sms/radio_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/device.h"
#include "platform/modules.h"
#include "platform/sms.h"
#include "platform/testing/temp_device.h"

namespace {

using namespace platform;  // the library's names, as a program uses them

class SmsDll : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::path built =
        platform::testing::BinDir().parent_path() / "lib" / "libsms.so";
    std::filesystem::path target = device_.HostPath("\\Windows\\sms.dll");
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(built, target);
    library_ = Library::Load(kSmsLibraryName);
    ASSERT_NE(library_, nullptr);
    open_ = reinterpret_cast<SmsOpenFunction>(library_->Symbol(kSmsOpenName));
    send_ = reinterpret_cast<SmsSendMessageFunction>(
        library_->Symbol(kSmsSendMessageName));
    close_ =
        reinterpret_cast<SmsCloseFunction>(library_->Symbol(kSmsCloseName));
    ASSERT_TRUE(open_ && send_ && close_);
  }

  static SMS_ADDRESS Address(std::u16string_view text, uint32_t type = 0) {
    SMS_ADDRESS address{};
    address.smsatAddressType = type;
    std::copy(text.begin(), text.end(), address.ptsAddress);
    return address;
  }
  HRESULT Send(SMS_HANDLE handle, const SMS_ADDRESS& to,
               std::u16string_view text, uint32_t provider_size = 12,
               SMS_MESSAGE_ID* id = nullptr) {
    TEXT_PROVIDER_SPECIFIC_DATA data{};
    data.dwMessageOptions = PS_MESSAGE_OPTION_STATUSREPORT;
    data.psMessageClass = PS_MESSAGE_CLASS0;
    return send_(handle, nullptr, &to, nullptr,
                 reinterpret_cast<const uint8_t*>(text.data()),
                 static_cast<uint32_t>(text.size() * 2),
                 reinterpret_cast<const uint8_t*>(&data), provider_size,
                 SMSDE_OPTIMAL, 0, id);
  }

  platform::testing::TempDevice device_;
  std::unique_ptr<Library> library_;
  SmsOpenFunction open_ = nullptr;
  SmsSendMessageFunction send_ = nullptr;
  SmsCloseFunction close_ = nullptr;
};

TEST_F(SmsDll, HandlesArgumentsAndTheLog) {
  SMS_HANDLE handle = 0;
  EXPECT_EQ(open_(u"Other Protocol", SMS_MODE_SEND, &handle, nullptr),
            SMS_E_INVALIDPROTOCOL);
  EXPECT_EQ(open_(SMS_MSGTYPE_TEXT, SMS_MODE_RECEIVE, &handle, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(open_(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, nullptr, nullptr),
            E_INVALIDARG);
  ASSERT_EQ(open_(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &handle, nullptr), S_OK);
  EXPECT_NE(handle, 0u);

  SMS_MESSAGE_ID id = 0;
  EXPECT_EQ(Send(handle, Address(u"+8613800138000"), u"hi \u4e2d", 12, &id),
            S_OK);
  EXPECT_EQ(id, 1u);
  // Malformed calls are refused and leave no trace.
  SMS_ADDRESS unterminated{};
  std::fill(std::begin(unterminated.ptsAddress),
            std::end(unterminated.ptsAddress), u'1');
  EXPECT_EQ(Send(handle, unterminated, u"x"), E_INVALIDARG);
  EXPECT_EQ(Send(handle, Address(u""), u"x"), E_INVALIDARG);
  EXPECT_EQ(Send(handle, Address(u"1", 7), u"x"), E_INVALIDARG);
  EXPECT_EQ(Send(handle, Address(u"1"), u"x", 8), E_INVALIDARG);
  EXPECT_EQ(Send(handle, Address(u"1"), u"x", 165), E_INVALIDARG);
  EXPECT_EQ(Send(handle + 1, Address(u"1"), u"x"), SMS_E_INVALIDHANDLE);
  EXPECT_EQ(close_(handle), S_OK);
  EXPECT_EQ(close_(handle), SMS_E_INVALIDHANDLE);
  EXPECT_EQ(Send(handle, Address(u"1"), u"x"), SMS_E_INVALIDHANDLE);

  auto log = device::sms::ListSubmissions(true);
  ASSERT_TRUE(log.has_value());
  ASSERT_EQ(log->size(), 1u);
  const device::sms::RadioSubmission& s = (*log)[0];
  EXPECT_EQ(s.address, u"+8613800138000");
  EXPECT_EQ(s.text(), u"hi \u4e2d");
  EXPECT_EQ(s.message_class, PS_MESSAGE_CLASS0);
  EXPECT_EQ(s.message_options, PS_MESSAGE_OPTION_STATUSREPORT);
  EXPECT_TRUE(s.accepted());
}

TEST_F(SmsDll, FailureSwitches) {
  ASSERT_TRUE(SetDeviceSetting(device::sms::kSettingOpenFails, "1").ok());
  SMS_HANDLE handle = 0;
  EXPECT_EQ(open_(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &handle, nullptr),
            SMS_E_RADIOUNAVAILABLE);
  ASSERT_TRUE(SetDeviceSetting(device::sms::kSettingOpenFails, "0").ok());
  ASSERT_EQ(open_(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &handle, nullptr), S_OK);

  // Junk in the type list is ignored; the pattern picks the numbers.
  ASSERT_TRUE(
      SetDeviceSetting(device::sms::kSettingRefuseTypes, "2, x,5,").ok());
  ASSERT_TRUE(
      SetDeviceSetting(device::sms::kSettingRefuseMatch, "+86*,10?86").ok());
  EXPECT_EQ(Send(handle, Address(u"+8613800138000", 2), u"a"),
            SMS_E_ADDRESSREFUSED);
  EXPECT_EQ(Send(handle, Address(u"10086", 5), u"a"), SMS_E_ADDRESSREFUSED);
  EXPECT_EQ(Send(handle, Address(u"10086", 1), u"a"), S_OK);
  EXPECT_EQ(Send(handle, Address(u"555", 2), u"a"), S_OK);
  EXPECT_EQ(device::sms::ListSubmissions(false)->size(), 2u);
  EXPECT_EQ(device::sms::ListSubmissions(true)->size(), 4u);
  EXPECT_EQ(close_(handle), S_OK);

  platform::testing::CommandResult listed = platform::testing::RunCommand(
      (platform::testing::BinDir() / "devicectl").string() +
      " sent --all 2>&1");
  EXPECT_EQ(listed.exit_code, 0);
  EXPECT_NE(listed.out.find("4 submission(s)"), std::string::npos);
  EXPECT_NE(listed.out.find("10086  type=5 class=0 options=2 replace=0 "
                            "encoding=0  refused 0x82000104  a"),
            std::string::npos)
      << listed.out;
  listed = platform::testing::RunCommand(
      (platform::testing::BinDir() / "devicectl").string() + " sent --clear");
  EXPECT_EQ(listed.exit_code, 0);
  EXPECT_TRUE(device::sms::ListSubmissions(true)->empty());
}

TEST(RadioPattern, GlobsAndLists) {
  EXPECT_TRUE(device::sms::MatchesAddressPattern("*", ""));
  EXPECT_TRUE(device::sms::MatchesAddressPattern("1*3", "123"));
  EXPECT_TRUE(device::sms::MatchesAddressPattern("1*3", "13"));
  EXPECT_FALSE(device::sms::MatchesAddressPattern("1*3", "1234"));
  EXPECT_TRUE(device::sms::MatchesAddressPattern("9,1?3", "153"));
  EXPECT_FALSE(device::sms::MatchesAddressPattern("", "1"));
  EXPECT_FALSE(device::sms::MatchesAddressPattern(",,", "1"));
  EXPECT_TRUE(device::sms::MatchesAddressPattern("*a*b*", "xxaxxbxx"));
  EXPECT_FALSE(device::sms::MatchesAddressPattern("*a*b", "xxbxxa"));
}

}  // namespace
