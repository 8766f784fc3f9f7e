// waveapi.dll installed into a scratch device and reached the way programs
// reach it, through wave-out. Without a sound card on the host (the usual
// case on build machines) "auto" and "alsa" both report no output; with one
// a short stream plays and its position advances.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "device/audio/alsa_output.h"
#include "platform/device.h"
#include "platform/modules.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"
#include "platform/wave_out.h"

namespace {

TEST(WaveApiTest, WaveOutReachesTheSoundCardThroughTheLibrary) {
  platform::testing::TempDevice device;
  std::filesystem::path built =
      platform::testing::BinDir().parent_path() / "lib" / "libwaveapi.so";
  std::filesystem::path target = device.HostPath("\\Windows\\waveapi.dll");
  std::filesystem::create_directories(target.parent_path());
  std::filesystem::copy_file(built, target);

  std::unique_ptr<platform::Library> library =
      platform::Library::Load(platform::kWaveApiLibraryName);
  ASSERT_NE(library, nullptr);
  for (const char* name :
       {platform::kWaveApiPresentName, platform::kWaveApiOpenName,
        platform::kWaveApiWriteName, platform::kWaveApiPauseName,
        platform::kWaveApiDropName, platform::kWaveApiDelayName,
        platform::kWaveApiCloseName}) {
    EXPECT_NE(library->Symbol(name), nullptr) << name;
  }

  platform::Status status;
  if (!device::audio::AlsaOutput::CardPresent()) {
    for (const char* output : {"auto", "alsa"}) {
      ASSERT_TRUE(platform::SetDeviceSetting("audio_output", output).ok());
      EXPECT_EQ(platform::WaveOut::Open({2, 44100, 16}, &status), nullptr);
      EXPECT_EQ(status.code(), platform::ErrorCode::kUnavailable) << output;
    }
    return;
  }
  ASSERT_TRUE(platform::SetDeviceSetting("audio_output", "alsa").ok());
  std::unique_ptr<platform::WaveOut> out =
      platform::WaveOut::Open({1, 8000, 16}, &status);
  if (out == nullptr && status.code() == platform::kWaveOutBusy) {
    GTEST_SKIP() << "the sound card is busy";
  }
  ASSERT_NE(out, nullptr) << status.ToString();
  EXPECT_STREQ(out->backend_name(), "alsa");
  std::vector<uint8_t> silence(8000 * 2 / 5);  // 200 ms
  ASSERT_TRUE(out->Write(silence.data(), silence.size()).ok());
  // The card keeps its own time: its position moves on while it plays.
  EXPECT_TRUE(
      platform::testing::WaitUntil([&] { return out->Position() > 0; }));
  EXPECT_TRUE(out->Reset().ok());
}

}  // namespace
