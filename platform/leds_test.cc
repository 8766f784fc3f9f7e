// Notification LEDs: the count, the switches and their history.
#include "platform/leds.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/device.h"
#include "platform/testing/temp_device.h"

namespace platform {
namespace {

TEST(LedsTest, SwitchesAreRecordedInOrder) {
  testing::TempDevice device;
  EXPECT_EQ(LedCount(), 2);
  EXPECT_FALSE(LedIsOn(kVibratorLed));
  ASSERT_TRUE(SetLed(0, true).ok());
  ASSERT_TRUE(SetLed(kVibratorLed, true).ok());
  EXPECT_TRUE(LedIsOn(kVibratorLed));
  ASSERT_TRUE(SetLed(kVibratorLed, false).ok());
  EXPECT_FALSE(LedIsOn(kVibratorLed));
  EXPECT_TRUE(LedIsOn(0));

  std::optional<std::vector<LedEvent>> history = LedHistory();
  ASSERT_TRUE(history);
  ASSERT_EQ(history->size(), 3u);
  EXPECT_EQ((*history)[0].led, 0);
  EXPECT_EQ((*history)[1].led, 1);
  EXPECT_TRUE((*history)[1].on);
  EXPECT_FALSE((*history)[2].on);
  EXPECT_EQ((*history)[2].process, getpid());
  EXPECT_LE((*history)[1].time_ms, (*history)[2].time_ms);

  // Only the LEDs the device has.
  EXPECT_EQ(SetLed(2, true).code(), ErrorCode::kInvalidArgument);
  EXPECT_EQ(SetLed(-1, true).code(), ErrorCode::kInvalidArgument);
  ASSERT_TRUE(SetDeviceSetting("led_count", "1").ok());
  EXPECT_EQ(LedCount(), 1);
  EXPECT_EQ(SetLed(kVibratorLed, true).code(), ErrorCode::kInvalidArgument);

  ASSERT_TRUE(ClearLedHistory().ok());
  EXPECT_TRUE(LedHistory()->empty());
}

}  // namespace
}  // namespace platform
