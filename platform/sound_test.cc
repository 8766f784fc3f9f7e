// The simple sound call and the default beep, heard through the WAV sink.
#include "platform/sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/device.h"
#include "platform/testing/temp_device.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// A WAV file with the given format tag and 16-bit samples.
void WriteWav(const fs::path& path, uint16_t tag, uint16_t channels,
              const std::vector<int16_t>& samples) {
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<char*>(&v), 2); };
  uint32_t data = uint32_t(samples.size() * 2);
  out << "RIFF";
  u32(36 + data);
  out << "WAVEfmt ";
  u32(16);
  u16(tag);
  u16(channels);
  u32(11025);
  u32(11025 * 2 * channels);
  u16(uint16_t(2 * channels));
  u16(16);
  out << "data";
  u32(data);
  out.write(reinterpret_cast<const char*>(samples.data()), data);
}

std::vector<int16_t> SinkSamples(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
  if (bytes.size() < 46) return {};
  std::vector<int16_t> samples((bytes.size() - 44) / 2);
  std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
  return samples;
}

TEST(SoundTest, BeepAndPcmFilesPlayOthersDoNot) {
  testing::TempDevice device;
  ASSERT_TRUE(SetDeviceSetting("audio_output", "wavfile").ok());
  ASSERT_TRUE(SetDeviceSetting("wavfile_pace", "fast").ok());
  fs::path sinks = device.root() / "wave-out";

  Beep();
  ASSERT_TRUE(WaitForSound(5000));
  std::vector<int16_t> beep = SinkSamples(sinks / "stream-000001.wav");
  ASSERT_EQ(beep.size(), kBeepFrames);
  // A tone: starts silent, reaches about half scale, crosses zero at
  // 880 Hz (2 * 0.15 * 880 = 264 times).
  EXPECT_EQ(beep[0], 0);
  int peak = 0, crossings = 0;
  for (size_t i = 1; i < beep.size(); ++i) {
    peak = std::max(peak, std::abs(int(beep[i])));
    if ((beep[i - 1] < 0) != (beep[i] < 0)) ++crossings;
  }
  EXPECT_NEAR(peak, 16384, 200);
  EXPECT_NEAR(crossings, 264, 3);

  std::vector<int16_t> ramp;
  for (int i = 0; i < 3000; ++i) ramp.push_back(int16_t(i * 7));
  WriteWav(device.HostPath("\\My Documents\\ramp.wav"), 1, 1, ramp);
  EXPECT_TRUE(PlaySoundFile(u"\\My Documents\\ramp.wav"));
  ASSERT_TRUE(WaitForSound(5000));
  EXPECT_EQ(SinkSamples(sinks / "stream-000002.wav"), ramp);

  // Not PCM, not WAV, not there: nothing plays, no sink file appears.
  WriteWav(device.HostPath("\\My Documents\\law.wav"), 7, 1, ramp);
  std::ofstream(device.HostPath("\\My Documents\\text.wav")) << "RIFF";
  EXPECT_FALSE(PlaySoundFile(u"\\My Documents\\law.wav"));
  EXPECT_FALSE(PlaySoundFile(u"\\My Documents\\text.wav"));
  EXPECT_FALSE(PlaySoundFile(u"\\My Documents\\none.wav"));
  EXPECT_FALSE(fs::exists(sinks / "stream-000003.wav"));

  // A new sound stops the one that plays.
  ASSERT_TRUE(SetDeviceSetting("wavfile_pace", "realtime").ok());
  std::vector<int16_t> long_sound(11025 * 5, 100);
  WriteWav(device.HostPath("\\My Documents\\long.wav"), 1, 1, long_sound);
  EXPECT_TRUE(PlaySoundFile(u"\\My Documents\\long.wav"));
  for (int i = 0; i < 5000 && SinkSamples(sinks / "stream-000003.wav").empty();
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Beep();
  ASSERT_TRUE(WaitForSound(5000));
  EXPECT_LT(SinkSamples(sinks / "stream-000003.wav").size(), long_sound.size());
  EXPECT_EQ(SinkSamples(sinks / "stream-000004.wav").size(), kBeepFrames);
  StopSound();
}

}  // namespace
}  // namespace platform
