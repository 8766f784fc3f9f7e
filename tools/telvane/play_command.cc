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
#include <mutex>
#include <optional>
#include <string>

#include "audio/audio_player.h"
#include "platform/device.h"
#include "platform/files.h"
#include "settings/random_sound_list.h"
#include "settings/settings_store.h"
#include "tools/telvane/cli.h"
#include "tools/telvane/commands.h"

namespace tools::telvane {

const char* const kPlayUsage =
    "\n"
    "telvane play FILE | --random   play a sound on the device's audio output\n"
    "  FILE                a host file, a device path (\\...) or an http://\n"
    "                      stream; prints its format, length and the\n"
    "                      player's state changes until it ends\n"
    "  --random            play a \"Random Ring\" pick from RndSoundPath\n"
    "The device setting audio_output chooses the output (devicectl config).\n";

namespace {

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

// Opens `file` by what it names.
bool OpenFile(audio::AudioPlayer& player, const std::string& file) {
  if (file.rfind("http://", 0) == 0 || file.rfind("\\", 0) == 0) {
    return player.Open(U16(file));
  }
  std::error_code ec;
  std::filesystem::path host = std::filesystem::absolute(file, ec);
  if (std::optional<std::u16string> device_path =
          platform::files::ToDevicePath(host)) {
    return player.Open(*device_path);
  }
  return player.OpenSource(audio::OpenHostFile(host), U16(file));
}

}  // namespace

int PlayCommand(const CommandArgs& args) {
  Arguments parsed = Parse(args, {}, {"--random"});
  if (!parsed.error.empty()) return UsageError("play: " + parsed.error);
  bool random = parsed.Has("--random");
  if (random != parsed.positional.empty() || parsed.positional.size() > 1) {
    return UsageError("play: give one FILE or --random");
  }
  if (!platform::DeviceExists()) {
    return Fail("play: no device at " + platform::DeviceRoot().string() +
                " (devicectl init)");
  }

  audio::AudioPlayer player;
  std::string name;
  bool opened = false;
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
    opened = player.Open(*pick);
  } else {
    name = parsed.positional[0];
    opened = OpenFile(player, name);
  }
  if (!opened) return Fail("play: " + name + " is neither MPEG audio nor WAV");

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

}  // namespace tools::telvane
