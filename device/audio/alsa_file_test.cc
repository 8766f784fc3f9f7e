// The ALSA backend heard without a sound card. ALSA's configuration is
// pointed (ALSA_CONFIG_PATH) at a file in the test's folder that keeps the
// host's own configuration and makes the default device ALSA's "file"
// plugin over its "null" device: whatever the backend plays lands in a WAV
// file. `telvane play` through the ALSA backend must leave the same file,
// header and every sample, as the device's WAV sink does for the same sound.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/testing/source_tree.h"
#include "platform/testing/temp_device.h"

namespace {

namespace fs = std::filesystem;
using platform::testing::CommandResult;
using platform::testing::Devicectl;
using platform::testing::ReadHostFile;
using platform::testing::RunCommand;
using platform::testing::WriteHostFile;

constexpr char kHostAlsaConfig[] = "/usr/share/alsa/alsa.conf";

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

class AlsaFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kHostAlsaConfig)) {
      GTEST_SKIP() << "no ALSA configuration at " << kHostAlsaConfig;
    }
    std::string build = platform::testing::BinDir().parent_path().string();
    CommandResult install = Devicectl("install " + build);
    ASSERT_EQ(install.exit_code, 0) << install.out;
    captured_ = device_.root() / "alsa-out.wav";
    config_ = device_.root() / "asound.conf";
    WriteHostFile(config_, std::string("<") + kHostAlsaConfig +
                               ">\n"
                               "pcm.!default {\n"
                               "  type file\n"
                               "  slave.pcm \"null\"\n"
                               "  file \"" +
                               captured_.string() +
                               "\"\n"
                               "  format \"wav\"\n"
                               "}\n");
  }

  // Plays `sound` with `telvane play` on the device's audio output.
  CommandResult Play(const fs::path& sound, const char* output) {
    EXPECT_TRUE(platform::SetDeviceSetting("audio_output", output).ok());
    std::string command = "ALSA_CONFIG_PATH=" + Quoted(config_) + " " +
                          Quoted(platform::testing::BinDir() / "telvane") +
                          " play " + Quoted(sound) + " 2>&1";
    return RunCommand(command);
  }

  // The WAV files the sink wrote, in order.
  std::vector<fs::path> SinkFiles() const {
    std::vector<fs::path> files;
    for (const std::string& name :
         platform::testing::HostFileNames(device_.root() / "wave-out")) {
      files.push_back(device_.root() / "wave-out" / name);
    }
    return files;
  }

  platform::testing::TempDevice device_;
  fs::path config_;
  fs::path captured_;
};

TEST_F(AlsaFileTest, PlaysTheSameSamplesAsTheWavSink) {
  ASSERT_TRUE(platform::SetDeviceSetting("wavfile_pace", "fast").ok());
  const fs::path testdata =
      platform::testing::SourceFolderOf(__FILE__).parent_path().parent_path() /
      "audio" / "testdata";
  // Mono and stereo, 8 and 16 bits, and a decoded MP3 of several seconds.
  for (const char* name :
       {"pcm8.wav", "pcm16.wav", "pcm16-stereo.wav", "tone.mp3"}) {
    SCOPED_TRACE(name);
    fs::remove(captured_);
    for (const fs::path& old : SinkFiles()) fs::remove(old);

    CommandResult alsa = Play(testdata / name, "alsa");
    ASSERT_EQ(alsa.exit_code, 0) << alsa.out;
    EXPECT_NE(alsa.out.find("playing"), std::string::npos) << alsa.out;
    CommandResult sink = Play(testdata / name, "wavfile");
    ASSERT_EQ(sink.exit_code, 0) << sink.out;

    std::vector<fs::path> written = SinkFiles();
    ASSERT_EQ(written.size(), 1u);
    std::string expected = ReadHostFile(written[0]);
    std::string heard = ReadHostFile(captured_);
    ASSERT_GT(expected.size(), 44u) << "the sink wrote no samples";
    // Same format in the header (channels, rate, bits), same data size,
    // and the samples byte for byte.
    EXPECT_EQ(heard.size(), expected.size());
    EXPECT_TRUE(heard == expected) << "the sound card got other samples";
  }
}

TEST_F(AlsaFileTest, AnUnknownAlsaDeviceLeavesNoOutputAndSaysSo) {
  WriteHostFile(config_, std::string("<") + kHostAlsaConfig +
                             ">\n"
                             "pcm.!default { type hw card 97 }\n");
  const fs::path sound =
      platform::testing::SourceFolderOf(__FILE__).parent_path().parent_path() /
      "audio" / "testdata" / "pcm16.wav";
  CommandResult alsa = Play(sound, "alsa");
  EXPECT_NE(alsa.exit_code, 0) << alsa.out;
  EXPECT_NE(alsa.out.find("did not open"), std::string::npos) << alsa.out;
  EXPECT_FALSE(fs::exists(captured_));
}

}  // namespace
