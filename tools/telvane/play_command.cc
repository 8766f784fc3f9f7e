// telvane play: try a sound as the program would play it, through the
// application player on the device's audio output.
//
//   telvane play FILE
//   telvane play --random
//
// FILE is a host file, a device path ("\My Documents\ring.mp3") or an
// "http://" stream. --random plays what "Random Ring" would pick from the
// random sound folder ("RndSoundPath" in the device's registry).
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "audio/audio_player.h"
#include "cli/cli.h"
#include "platform/device.h"
#include "platform/files.h"
#include "settings/random_sound_list.h"
#include "settings/settings_store.h"
#include "tools/telvane/commands.h"

namespace tools::telvane {
namespace {

using cli::Fail;
using cli::U16;
using cli::U8;
using cli::UsageError;

const char* StateName(uint32_t state) {
  switch (state) {
    case audio::AudioPlayer::kStopped:
      return "stopped";
    case audio::AudioPlayer::kPlaying:
      return "playing";
    case audio::AudioPlayer::kPaused:
      return "paused";
    case audio::AudioPlayer::kPreparing:
      return "preparing";
  }
  return "unknown";
}

std::string Duration(uint64_t ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%llu:%02llu.%03llu",
                static_cast<unsigned long long>(ms / 60000),
                static_cast<unsigned long long>(ms / 1000 % 60),
                static_cast<unsigned long long>(ms % 1000));
  return text;
}

// Opens `file` by what it names; *status says why not.
bool OpenFile(audio::AudioPlayer& player, const std::string& file,
              platform::Status* status) {
  if (file.rfind("http://", 0) == 0 || file.rfind("\\", 0) == 0) {
    return player.Open(U16(file), status);
  }
  std::error_code ec;
  std::filesystem::path host = std::filesystem::absolute(file, ec);
  if (std::optional<std::u16string> device_path =
          platform::files::ToDevicePath(host)) {
    return player.Open(*device_path, status);
  }
  std::unique_ptr<audio::Source> source = audio::OpenHostFile(host, status);
  return source != nullptr &&
         player.OpenSource(std::move(source), U16(file), status);
}

// Plays FILE, or with `random` a "Random Ring" pick.
int Play(const std::optional<std::string>& file, bool random) {
  if (random == file.has_value()) {
    return UsageError("play: give one FILE or --random");
  }
  if (!platform::DeviceExists()) {
    return Fail("play: no device at " + platform::DeviceRoot().string() +
                " (devicectl init)");
  }

  audio::AudioPlayer player;
  std::string name;
  bool opened = false;
  platform::Status status;
  if (random) {
    settings::SettingsStore settings;
    settings.Load();
    if (settings.rnd_sound_path().empty()) {
      return Fail("play: RndSoundPath is empty: no random sound folder");
    }
    const settings::RandomSoundList* list = settings.random_sounds();
    std::optional<std::u16string> pick =
        list != nullptr ? list->Pick() : std::nullopt;
    if (!pick) {
      return Fail("play: no sound file in " + U8(settings.rnd_sound_path()));
    }
    name = U8(*pick);
    opened = player.Open(*pick, &status);
  } else {
    name = *file;
    opened = OpenFile(player, name, &status);
  }
  // The player says why: the file is missing, unreadable, not sound...
  if (!opened) {
    return Fail("play: " +
                (status.ok() ? name + " cannot be opened" : status.ToString()));
  }

  platform::PcmFormat format = player.format();
  std::cout << "file: " << name << "\n"
            << "kind: "
            << (player.kind() == audio::SourceKind::kMpeg ? "MPEG audio"
                                                          : "WAV")
            << "\n"
            << "format: " << format.channels << " channel"
            << (format.channels == 1 ? "" : "s") << ", " << format.sample_rate
            << " Hz, " << format.bits_per_sample << " bits\n";
  uint64_t length = player.length_ms();
  std::cout << "length: " << (length > 0 ? Duration(length) : "unknown")
            << "\n";
  audio::StreamInfo stream = player.stream_info();
  if (!stream.name.empty()) std::cout << "stream: " << stream.name << "\n";
  if (!stream.genre.empty()) std::cout << "genre: " << stream.genre << "\n";
  std::cout.flush();

  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  bool played = false;
  player.SetNotify([&](uint32_t message, uint32_t param) {
    if (message != audio::kStateMessage) return;
    std::lock_guard lock(mutex);
    std::printf("state: %u %s\n", param, StateName(param));
    std::fflush(stdout);
    if (param == audio::AudioPlayer::kPlaying) played = true;
    if (param == audio::AudioPlayer::kStopped) {
      done = true;
      ended.notify_all();
    }
  });
  if (!player.Play()) return Fail("play: the player did not start");
  {
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return done; });
  }
  std::string title = player.stream_info().title;
  player.SetNotify(nullptr);
  if (!title.empty()) std::cout << "title: " << title << "\n";
  if (!played) {
    return Fail("play: the device's audio output did not open (audio_output " +
                platform::GetDeviceSetting("audio_output").value_or("?") + ")");
  }
  return 0;
}

}  // namespace

void AddPlayCommand(cli::Tool& tool) {
  struct PlayArgs {
    std::optional<std::string> file;
    bool random = false;
  };
  auto args = std::make_shared<PlayArgs>();
  CLI::App* play = tool.AddCommand(
      tool.root(), "play",
      "play a sound on the device's audio output, as the program would; "
      "prints its format, length and the player's state changes until it "
      "ends",
      [args] { return Play(args->file, args->random); });
  play->add_option("FILE", args->file,
                   "a host file, a device path (\\...) or an http:// stream");
  play->add_flag("--random", args->random,
                 "play a \"Random Ring\" pick from RndSoundPath instead");
  play->footer(
      "The device setting audio_output chooses the output (devicectl "
      "config).");
}

}  // namespace tools::telvane
