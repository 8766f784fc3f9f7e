// Alert sounds, vibration and the unread reminder on a scratch device: the
// LED log shows the vibrator, the WAV-file sink shows what was heard.
#include "alerts/alert_sounds.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "alerts/unread_reminder.h"
#include "platform/device.h"
#include "platform/files.h"
#include "platform/leds.h"
#include "platform/sound.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/source_tree.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"

namespace alerts {
namespace {

namespace fs = std::filesystem;

fs::path TestSound(const std::string& name) {
  return platform::testing::SourceFolderOf(__FILE__).parent_path() / "audio" /
         "testdata" / name;
}

class AlertSoundsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::SetDeviceSetting("audio_output", "wavfile").ok());
    ASSERT_TRUE(platform::SetDeviceSetting("wavfile_pace", "fast").ok());
    fs::copy_file(TestSound("pcm16.wav"),
                  device_.HostPath("\\My Documents\\ping.wav"));
    fs::copy_file(TestSound("tone-22k-mono.mp3"),
                  device_.HostPath("\\My Documents\\ring.mp3"));
  }
  void TearDown() override { platform::StopSound(); }

  // Sink files written so far, with their sample counts (16-bit mono).
  std::vector<uintmax_t> SinkFrames() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e :
         fs::directory_iterator(device_.root() / "wave-out", ec)) {
      files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<uintmax_t> frames;
    for (const fs::path& f : files)
      frames.push_back((fs::file_size(f) - 44) / 2);
    return frames;
  }
  // The vibrator's switches, in order.
  std::vector<bool> VibratorLog() {
    std::vector<bool> log;
    std::optional<std::vector<platform::LedEvent>> history =
        platform::LedHistory();
    if (!history) return {true, true, true};  // never what a test expects
    for (const platform::LedEvent& e : *history) {
      if (e.led == platform::kVibratorLed) log.push_back(e.on);
    }
    return log;
  }

  platform::testing::TempDevice device_;
  settings::SettingsStore settings_;
};

TEST_F(AlertSoundsTest, VibrateNeedsTwoLeds) {
  auto start = std::chrono::steady_clock::now();
  Vibrate(120);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(120));
  EXPECT_EQ(VibratorLog(), (std::vector<bool>{true, false}));
  std::vector<platform::LedEvent> history = platform::LedHistory().value();
  EXPECT_GE(history[1].time_ms - history[0].time_ms, 120);

  for (const char* count : {"1", "0"}) {
    ASSERT_TRUE(platform::SetDeviceSetting("led_count", count).ok());
    Vibrate(50);
    EXPECT_EQ(VibratorLog().size(), 2u) << count;
  }
}

TEST_F(AlertSoundsTest, ReminderTickByUnreadAlert) {
  audio::AudioPlayer player;
  // 0 and unknown values: nothing at all.
  for (int32_t mode : {0, 4, -1}) {
    settings_.set_unread_alert(mode);
    UnreadReminderTick(settings_, player);
  }
  EXPECT_TRUE(platform::WaitForSound(5000));
  EXPECT_TRUE(SinkFrames().empty());
  EXPECT_TRUE(VibratorLog().empty());

  // 1: vibration only.
  settings_.set_unread_alert(kUnreadAlertVibrate);
  UnreadReminderTick(settings_, player);
  EXPECT_EQ(VibratorLog(), (std::vector<bool>{true, false}));
  EXPECT_TRUE(SinkFrames().empty());

  // 2 with no "AlertSound": the default beep at every tick, no vibration.
  settings_.set_unread_alert(kUnreadAlertSound);
  for (int tick = 0; tick < 2; ++tick) {
    UnreadReminderTick(settings_, player);
    ASSERT_TRUE(platform::WaitForSound(5000));
  }
  EXPECT_EQ(SinkFrames(), (std::vector<uintmax_t>{platform::kBeepFrames,
                                                  platform::kBeepFrames}));
  EXPECT_EQ(VibratorLog().size(), 2u);

  // 3 with a PCM "AlertSound": that file through the simple sound call,
  // then a vibration.
  settings_.set_unread_alert(kUnreadAlertVibrateAndSound);
  settings_.set_alert_sound(u"\\My Documents\\ping.wav");
  UnreadReminderTick(settings_, player);
  ASSERT_TRUE(platform::WaitForSound(5000));
  EXPECT_EQ(SinkFrames().back(), 4000u);
  EXPECT_EQ(VibratorLog().size(), 4u);

  EXPECT_EQ(player.kind(), audio::SourceKind::kNone)
      << "PCM WAV does not take the player";
}

// The simple call plays PCM WAV only; an MP3 or MP2 reminder sound plays on
// the application player instead, and is heard to its end.
TEST_F(AlertSoundsTest, CompressedReminderSoundPlaysOnThePlayer) {
  audio::AudioPlayer player;
  settings_.set_alert_sound(u"\\My Documents\\ring.mp3");
  settings_.set_unread_alert(kUnreadAlertSound);
  UnreadReminderTick(settings_, player);
  EXPECT_EQ(player.path(), u"\\My Documents\\ring.mp3");
  EXPECT_EQ(player.kind(), audio::SourceKind::kMpeg);
  ASSERT_TRUE(platform::testing::WaitUntil(
      [&] { return player.GetState() == audio::AudioPlayer::kStopped; }));
  player.Stop();
  std::vector<uintmax_t> frames = SinkFrames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_GT(frames[0], 0u);
  EXPECT_TRUE(VibratorLog().empty());

  // A reminder sound that is neither: silent, the player left closed.
  std::ofstream(device_.HostPath("\\My Documents\\notes.wav"))
      << "not a sound at all";
  settings_.set_alert_sound(u"\\My Documents\\notes.wav");
  UnreadReminderTick(settings_, player);
  ASSERT_TRUE(platform::WaitForSound(5000));
  EXPECT_EQ(player.kind(), audio::SourceKind::kNone);
  EXPECT_EQ(SinkFrames().size(), 1u);
}

TEST_F(AlertSoundsTest, ReminderSoundPlayableEitherWay) {
  std::ofstream(device_.HostPath("\\My Documents\\notes.wav"))
      << "not a sound at all";
  EXPECT_TRUE(ReminderSoundPlayable(u"\\My Documents\\ping.wav"));
  EXPECT_TRUE(ReminderSoundPlayable(u"\\my documents\\RING.MP3"));
  platform::Status why;
  EXPECT_FALSE(ReminderSoundPlayable(u"\\My Documents\\gone.mp3", &why));
  EXPECT_FALSE(why.ok());
  EXPECT_NE(why.message().find("gone.mp3"), std::string::npos) << why.message();
  EXPECT_FALSE(ReminderSoundPlayable(u"\\My Documents\\notes.wav", &why));
  EXPECT_EQ(why.code(), audio::kNotSound) << why.message();
  EXPECT_FALSE(ReminderSoundPlayable(u"\\My Documents\\", &why));
  // Nothing was played to find out.
  EXPECT_TRUE(platform::WaitForSound(5000));
  EXPECT_TRUE(SinkFrames().empty());
}

TEST_F(AlertSoundsTest, FilterSoundAndRandomRing) {
  audio::AudioPlayer player;
  PlayAlertSound(u"\\My Documents\\ring.mp3", settings_, player);
  EXPECT_EQ(player.path(), u"\\My Documents\\ring.mp3");
  EXPECT_NE(player.GetState(), audio::AudioPlayer::kStopped);
  player.Stop();

  // A missing file: nothing opens, nothing is reported.
  PlayAlertSound(u"\\My Documents\\gone.mp3", settings_, player);
  EXPECT_EQ(player.kind(), audio::SourceKind::kNone);

  // "|" with no random folder plays nothing.
  PlayAlertSound(u"|", settings_, player);
  EXPECT_EQ(player.kind(), audio::SourceKind::kNone);

  // With one sound file in the folder it always plays that one.
  ASSERT_TRUE(platform::files::CreateFolder(u"\\Rings").ok());
  fs::copy_file(TestSound("tone-22k-mono.mp3"),
                device_.HostPath("\\Rings\\only.mp3"));
  std::ofstream(device_.HostPath("\\Rings\\notes.txt")) << "not a sound";
  settings_.set_rnd_sound_path(u"\\Rings\\");
  ASSERT_EQ(settings_.RescanRandomSounds(), 1u);
  for (int i = 0; i < 3; ++i) {
    PlayAlertSound(u"|", settings_, player);
    EXPECT_EQ(player.path(), u"\\Rings\\only.mp3");
    EXPECT_EQ(player.kind(), audio::SourceKind::kMpeg);
  }
  player.Stop();

  // An empty folder: nothing.
  ASSERT_TRUE(platform::files::Delete(u"\\Rings\\only.mp3").ok());
  EXPECT_EQ(settings_.RescanRandomSounds(), 0u);
  audio::AudioPlayer fresh;
  PlayAlertSound(u"|", settings_, fresh);
  EXPECT_EQ(fresh.kind(), audio::SourceKind::kNone);
}

class RecordingTimer : public ReminderTimer {
 public:
  void StartTimer(uint32_t period_ms) override { calls.push_back(period_ms); }
  void StopTimer() override { calls.push_back(0); }
  std::vector<uint32_t> calls;  // periods started; 0 for a stop
};

TEST_F(AlertSoundsTest, ReminderStartsStopsAndSilencesThePlayer) {
  RecordingTimer timer;
  UnreadReminder reminder(&timer, &settings_);
  reminder.Start(7000);
  EXPECT_TRUE(reminder.running());
  // A period of 0 would tick without pause: it stops instead.
  reminder.Start(0);
  EXPECT_FALSE(reminder.running());
  reminder.Start(7000);
  reminder.Stop();
  EXPECT_FALSE(reminder.running());
  EXPECT_EQ(timer.calls, (std::vector<uint32_t>{0, 7000, 0, 0, 7000, 0}));

  // Clearing the notification stops the timer and a playing player (which
  // plays until then: its clock stands still).
  ASSERT_TRUE(platform::SetDeviceSetting("wavfile_pace", "realtime").ok());
  platform::testing::ManualClock clock;
  audio::AudioPlayer player(&clock);
  ASSERT_TRUE(player.Open(u"\\My Documents\\ring.mp3"));
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(platform::testing::WaitUntil(
      [&] { return player.GetState() == audio::AudioPlayer::kPlaying; }));
  reminder.Start(7000);
  reminder.Clear(&player);
  EXPECT_FALSE(reminder.running());
  EXPECT_EQ(player.GetState(), audio::AudioPlayer::kStopped);
  EXPECT_EQ(timer.calls.back(), 0u);
}

}  // namespace
}  // namespace alerts
