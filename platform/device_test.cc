#include "platform/device.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_device.h"

namespace platform {
namespace {

TEST(DeviceSettings, DefaultsAndValidation) {
  testing::TempDevice device;
  EXPECT_EQ(GetDeviceSetting("codepage"), "936");
  EXPECT_EQ(GetDeviceSetting("date_format"), "yyyy-M-d");
  EXPECT_EQ(GetDeviceSetting("time_format"), "H:mm:ss");
  EXPECT_EQ(GetDeviceSettingInt("screen_width", 0), 240);
  EXPECT_FALSE(GetDeviceSetting("no_such_setting").has_value());

  EXPECT_TRUE(SetDeviceSetting("codepage", "1252").ok());
  EXPECT_EQ(GetDeviceSetting("codepage"), "1252");
  EXPECT_EQ(SetDeviceSetting("codepage", "437").code(),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(SetDeviceSetting("phone", "2").code(), ErrorCode::kInvalidArgument);
  EXPECT_EQ(SetDeviceSetting("screen_width", "-3").code(),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(SetDeviceSetting("bogus", "1").code(), ErrorCode::kInvalidArgument);
  EXPECT_EQ(GetDeviceSetting("codepage"), "1252");
}

TEST(DeviceSettings, ScreenScaleAndOrigin) {
  testing::TempDevice device;
  EXPECT_EQ(GetDeviceSetting("screen_scale"), "auto");
  EXPECT_EQ(GetDeviceSetting("screen_origin"), "centre");
  EXPECT_TRUE(SetDeviceSetting("screen_scale", "3").ok());
  for (const char* bad : {"0", "9", "1.5", "", "-1"}) {
    EXPECT_EQ(SetDeviceSetting("screen_scale", bad).code(),
              ErrorCode::kInvalidArgument)
        << bad;
  }
  EXPECT_EQ(GetDeviceSetting("screen_scale"), "3");
  EXPECT_TRUE(SetDeviceSetting("screen_origin", "0,0").ok());
  EXPECT_TRUE(SetDeviceSetting("screen_origin", "1680,25").ok());
  for (const char* bad : {"x,y", "12", "12,", ",5", "-4,5", "4,-5", "1,2,3",
                          "4 ,5", "centre,1", "99999999,1"}) {
    EXPECT_EQ(SetDeviceSetting("screen_origin", bad).code(),
              ErrorCode::kInvalidArgument)
        << bad;
  }
  EXPECT_EQ(GetDeviceSetting("screen_origin"), "1680,25");
  EXPECT_TRUE(SetDeviceSetting("screen_origin", "centre").ok());
}

TEST(DeviceSettings, EachDeviceHasItsOwn) {
  std::string first_id;
  {
    testing::TempDevice a;
    first_id = DeviceId();
    ASSERT_TRUE(SetDeviceSetting("led_count", "5").ok());
    EXPECT_EQ(GetDeviceSettingInt("led_count", 0), 5);
  }
  testing::TempDevice b;
  EXPECT_NE(DeviceId(), first_id);
  EXPECT_EQ(GetDeviceSettingInt("led_count", 0), 2);
}

TEST(DeviceRootTest, InitialiseKeepsExistingData) {
  testing::TempDevice device;
  ASSERT_TRUE(SetDeviceSetting("phone", "0").ok());
  ASSERT_TRUE(InitialiseDevice().ok());
  EXPECT_EQ(GetDeviceSetting("phone"), "0");
  EXPECT_TRUE(std::filesystem::is_directory(device.root() / "fs" / "Windows"));
  EXPECT_TRUE(std::filesystem::is_directory(device.root() / "run"));
  EXPECT_TRUE(DeviceExists());
}

}  // namespace
}  // namespace platform
