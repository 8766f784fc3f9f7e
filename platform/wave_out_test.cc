// Wave-out with the WAV-file sink and without output; the sink's files,
// its real-time pace (on a clock the test moves), pause, reset, underruns
// and the stream limit.
#include "platform/wave_out.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/device.h"
#include "platform/device_db.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/temp_device.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (uint32_t(b[at + 3]) << 24);
}

class WaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetDeviceSetting("audio_output", "wavfile").ok());
  }
  fs::path Sink(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "stream-%06d.wav", n);
    return device_.root() / "wave-out" / name;
  }
  testing::TempDevice device_;
};

TEST_F(WaveOutTest, SinkWritesEveryStreamToItsOwnWavFile) {
  ASSERT_TRUE(SetDeviceSetting("wavfile_pace", "fast").ok());
  Status status;
  std::unique_ptr<WaveOut> out = WaveOut::Open({2, 22050, 16}, &status);
  ASSERT_NE(out, nullptr) << status.ToString();
  EXPECT_STREQ(out->backend_name(), "wavfile");
  std::vector<uint8_t> samples(4 * 100 + 3);  // 100 frames and a partial one
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i);
  ASSERT_TRUE(out->Write(samples.data(), samples.size()).ok());
  EXPECT_EQ(out->Position(), 100u);  // fast: played as written
  EXPECT_EQ(out->Queued(), 0u);

  // The samples are in the file at once; the header follows every quarter
  // second of sound and at the close.
  EXPECT_EQ(fs::file_size(Sink(1)), 44u + 400);
  out.reset();
  std::vector<uint8_t> file = ReadBytes(Sink(1));
  ASSERT_EQ(file.size(), 44u + 400);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(Le32(file, 4), 36u + 400);
  EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(Le32(file, 16), 16u);
  EXPECT_EQ(file[20] | (file[21] << 8), 1);  // PCM
  EXPECT_EQ(file[22] | (file[23] << 8), 2);  // channels
  EXPECT_EQ(Le32(file, 24), 22050u);
  EXPECT_EQ(Le32(file, 28), 22050u * 4);
  EXPECT_EQ(file[32] | (file[33] << 8), 4);  // block alignment
  EXPECT_EQ(file[34] | (file[35] << 8), 16);
  EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
  EXPECT_EQ(Le32(file, 40), 400u);
  EXPECT_TRUE(std::equal(file.begin() + 44, file.end(), samples.begin()));

  // A new open, a new file; the device database lists both streams.
  out = WaveOut::Open({1, 8000, 8});
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> half_second(4000, 0x80);
  ASSERT_TRUE(out->Write(half_second.data(), half_second.size()).ok());
  EXPECT_EQ(Le32(ReadBytes(Sink(2)), 40), 4000u);  // while still open
  ASSERT_TRUE(out->Write("\x80\x81", 2).ok());
  out.reset();
  EXPECT_EQ(Le32(ReadBytes(Sink(2)), 40), 4002u);
  std::shared_ptr<DeviceDb> db = DeviceDb::Get();
  Statement rows(*db,
                 "SELECT file, channels, rate, bits, frames, closed IS NOT NULL"
                 " FROM wave_out_streams ORDER BY id");
  ASSERT_TRUE(rows.Step());
  EXPECT_EQ(rows.ColumnText(0), "stream-000001.wav");
  EXPECT_EQ(rows.ColumnInt(4), 100);
  EXPECT_EQ(rows.ColumnInt(5), 1);
  ASSERT_TRUE(rows.Step());
  EXPECT_EQ(rows.ColumnInt(1), 1);
  EXPECT_EQ(rows.ColumnInt(2), 8000);
  EXPECT_EQ(rows.ColumnInt(3), 8);
  EXPECT_EQ(rows.ColumnInt(4), 4002);
}

TEST_F(WaveOutTest, RealTimeSinkPlaysByItsClock) {
  testing::ManualClock clock;
  std::unique_ptr<WaveOut> out = WaveOut::Open({1, 8000, 16}, nullptr, &clock);
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> samples(8000);  // half a second of 16-bit mono
  const uint64_t capacity = 2000;      // frames held ahead: a quarter second

  // Time stands still until the clock moves; then the position follows it.
  ASSERT_TRUE(out->Write(samples.data(), 3200).ok());  // 1600 frames
  EXPECT_EQ(out->Position(), 0u);
  EXPECT_EQ(out->Queued(), 1600u);
  clock.Advance(milliseconds(100));
  EXPECT_EQ(out->Position(), 800u);
  EXPECT_EQ(out->Queued(), 800u);

  // Paused, the position holds and a writer waits until Restart.
  ASSERT_TRUE(out->Pause().ok());
  clock.Advance(milliseconds(60));
  EXPECT_EQ(out->Position(), 800u);
  std::thread writer(
      [&] { EXPECT_TRUE(out->Write(samples.data(), 400).ok()); });
  ASSERT_TRUE(clock.WaitForSleepers(1));  // the writer waits
  EXPECT_EQ(out->Position() + out->Queued(), 1600u);
  ASSERT_TRUE(out->Restart().ok());
  writer.join();
  EXPECT_EQ(out->Position(), 800u);
  EXPECT_EQ(out->Queued(), 1000u);
  // After a restart the clock runs on without another write.
  clock.Advance(milliseconds(50));
  EXPECT_EQ(out->Position(), 1200u);

  // Running dry before the next write is an underrun.
  clock.Advance(milliseconds(200));
  EXPECT_EQ(out->Position(), 1800u);
  EXPECT_EQ(out->Queued(), 0u);
  EXPECT_EQ(out->Underruns(), 0u);
  ASSERT_TRUE(out->Write(samples.data(), 400).ok());
  EXPECT_EQ(out->Underruns(), 1u);

  // Reset drops what is queued, wakes a paused writer, starts at 0, and
  // the first write after it is no underrun.
  ASSERT_TRUE(out->Pause().ok());
  std::thread paused_writer(
      [&] { EXPECT_TRUE(out->Write(samples.data(), 400).ok()); });
  ASSERT_TRUE(clock.WaitForSleepers(1));
  ASSERT_TRUE(out->Reset().ok());
  paused_writer.join();
  ASSERT_TRUE(out->Restart().ok());
  EXPECT_EQ(out->Position(), 0u);
  EXPECT_EQ(out->Queued(), 0u);

  // A full queue makes a writer wait for room, which the clock makes.
  ASSERT_TRUE(out->Write(samples.data(), capacity * 2).ok());
  EXPECT_EQ(out->Underruns(), 1u);
  std::thread full_writer(
      [&] { EXPECT_TRUE(out->Write(samples.data(), 400).ok()); });
  ASSERT_TRUE(clock.WaitForSleepers(1));
  EXPECT_EQ(out->Queued(), capacity);
  clock.Advance(milliseconds(1));
  full_writer.join();
  EXPECT_EQ(out->Position(), 8u);
  EXPECT_EQ(out->Queued(), capacity + 200 - 8);
  EXPECT_EQ(out->Underruns(), 1u);
}

TEST_F(WaveOutTest, NoOutputBusyAndBadFormats) {
  ASSERT_TRUE(SetDeviceSetting("audio_output", "none").ok());
  Status status;
  EXPECT_EQ(WaveOut::Open({1, 8000, 16}, &status), nullptr);
  EXPECT_EQ(status.code(), ErrorCode::kUnavailable);

  ASSERT_TRUE(SetDeviceSetting("audio_output", "wavfile").ok());
  for (PcmFormat bad : {PcmFormat{0, 8000, 16}, PcmFormat{3, 8000, 16},
                        PcmFormat{1, 500, 16}, PcmFormat{1, 8000, 24}}) {
    EXPECT_EQ(WaveOut::Open(bad, &status), nullptr);
    EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument);
  }

  ASSERT_TRUE(SetDeviceSetting("wave_out_streams", "2").ok());
  std::unique_ptr<WaveOut> a = WaveOut::Open({1, 8000, 16});
  std::unique_ptr<WaveOut> b = WaveOut::Open({1, 8000, 16});
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(WaveOut::Open({1, 8000, 16}, &status), nullptr);
  EXPECT_EQ(status.code(), kWaveOutBusy);
  a.reset();
  EXPECT_NE(WaveOut::Open({1, 8000, 16}), nullptr);

  // "alsa" without the device library installed: no output.
  ASSERT_TRUE(SetDeviceSetting("audio_output", "alsa").ok());
  EXPECT_EQ(WaveOut::Open({1, 8000, 16}, &status), nullptr);
  EXPECT_EQ(status.code(), ErrorCode::kUnavailable);
}

}  // namespace
}  // namespace platform
