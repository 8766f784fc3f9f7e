// The simple sound call and the default beep, heard through the WAV sink;
// what it tells about files it does not play.
#include "platform/sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/device.h"
#include "platform/testing/manual_clock.h"
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

// Real-time sounds play by a clock the test moves.
class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetDeviceSetting("audio_output", "wavfile").ok());
    ASSERT_TRUE(SetDeviceSetting("wavfile_pace", "fast").ok());
    SetSoundClock(&clock_);
  }
  void TearDown() override {
    StopSound();
    SetSoundClock(nullptr);
  }
  fs::path Sink(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "stream-%06d.wav", n);
    return device_.root() / "wave-out" / name;
  }

  testing::TempDevice device_;
  testing::ManualClock clock_;
};

TEST_F(SoundTest, BeepAndPcmFilesPlayOthersDoNot) {
  // Played at once (fast pace): the clock never moves.
  Beep();
  ASSERT_TRUE(WaitForSound(5000));
  std::vector<int16_t> beep = SinkSamples(Sink(1));
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
  WriteWav(device_.HostPath("\\My Documents\\ramp.wav"), 1, 1, ramp);
  Status status;
  EXPECT_TRUE(PlaySoundFile(u"\\My Documents\\ramp.wav", &status));
  EXPECT_TRUE(status.ok()) << status.ToString();
  ASSERT_TRUE(WaitForSound(5000));
  EXPECT_EQ(SinkSamples(Sink(2)), ramp);

  // Not PCM, not WAV, not there, not a file: nothing plays, no sink file
  // appears, and the status tells which.
  WriteWav(device_.HostPath("\\My Documents\\law.wav"), 7, 1, ramp);
  std::ofstream(device_.HostPath("\\My Documents\\text.wav")) << "RIFF";
  EXPECT_FALSE(PlaySoundFile(u"\\My Documents\\law.wav", &status));
  EXPECT_EQ(status.code(), ErrorCode::kWrongType);
  EXPECT_EQ(status.message(), "\\My Documents\\law.wav: not 8- or 16-bit PCM");
  EXPECT_FALSE(PlaySoundFile(u"\\My Documents\\text.wav", &status));
  EXPECT_EQ(status.code(), ErrorCode::kWrongType);
  EXPECT_EQ(status.message(), "\\My Documents\\text.wav: not a WAV file");
  EXPECT_FALSE(PlaySoundFile(u"\\My Documents\\none.wav", &status));
  EXPECT_EQ(status.code(), ErrorCode::kNotFound) << status.ToString();
  EXPECT_FALSE(PlaySoundFile(u"\\My Documents", &status));
  EXPECT_EQ(status.code(), ErrorCode::kAccessDenied) << status.ToString();
  EXPECT_FALSE(PlaySoundFile(u"\\My Documents\\none.wav"));
  EXPECT_FALSE(fs::exists(Sink(3)));
}

TEST_F(SoundTest, ANewSoundStopsTheOneThatPlays) {
  ASSERT_TRUE(SetDeviceSetting("wavfile_pace", "realtime").ok());
  std::vector<int16_t> long_sound(11025 * 5, 100);
  WriteWav(device_.HostPath("\\My Documents\\long.wav"), 1, 1, long_sound);
  EXPECT_TRUE(PlaySoundFile(u"\\My Documents\\long.wav"));
  ASSERT_TRUE(clock_.WaitForSleepers(1));  // its output is full
  size_t heard = SinkSamples(Sink(1)).size();
  EXPECT_GT(heard, 0u);
  EXPECT_LT(heard, long_sound.size());

  Beep();
  // The long sound stopped where it was; the beep is written and plays
  // until its 150 ms have passed.
  ASSERT_TRUE(clock_.WaitForSleepers(1));
  EXPECT_EQ(SinkSamples(Sink(1)).size(), heard);
  EXPECT_EQ(SinkSamples(Sink(2)).size(), kBeepFrames);
  EXPECT_FALSE(WaitForSound(0));
  clock_.Advance(std::chrono::milliseconds(149));
  EXPECT_FALSE(WaitForSound(0));
  clock_.Advance(std::chrono::milliseconds(1));
  EXPECT_TRUE(WaitForSound(5000));
}

}  // namespace
}  // namespace platform
