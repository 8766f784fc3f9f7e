#include "platform/sound.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio_convert.h"
#include "platform/files.h"
#include "platform/wave_out.h"

namespace platform {
namespace {

constexpr uint64_t kMaxSoundFileBytes = 64u << 20;

struct Sound {
  PcmFormat format;
  std::vector<uint8_t> samples;
};

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// A PCM WAV file's format and samples; nullopt for anything else.
std::optional<Sound> ReadPcmWave(std::u16string_view path) {
  std::unique_ptr<files::File> file = files::File::Open(path, "rb");
  if (file == nullptr) return std::nullopt;
  std::optional<uint64_t> size = file->Size();
  if (!size || *size < 12 || *size > kMaxSoundFileBytes) return std::nullopt;
  std::vector<uint8_t> bytes(*size);
  if (file->Read(bytes.data(), bytes.size()) != bytes.size()) {
    return std::nullopt;
  }
  if (std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  std::optional<WaveFormat> format;
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    uint32_t chunk = Le32(bytes.data() + at + 4);
    size_t body = at + 8;
    size_t available = std::min<uint64_t>(chunk, bytes.size() - body);
    if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0) {
      format = WaveFormat::Parse({bytes.data() + body, available});
    } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
      if (!format || format->format_tag != kWaveFormatPcm) return std::nullopt;
      std::optional<PcmFormat> pcm = SuggestPcmFormat(*format);
      if (!pcm ||
          (format->bits_per_sample != 8 && format->bits_per_sample != 16)) {
        return std::nullopt;
      }
      Sound sound;
      sound.format = *pcm;
      sound.samples.assign(bytes.begin() + body,
                           bytes.begin() + body + available);
      return sound;
    }
    at = body + chunk + (chunk & 1);
  }
  return std::nullopt;
}

// The one sound of the simple call: its thread and its stop flag.
class SoundChannel {
 public:
  void Start(Sound sound) {
    std::lock_guard lock(mutex_);
    StopLocked();
    stop_ = std::make_shared<std::atomic<bool>>(false);
    {
      std::lock_guard state_lock(state_mutex_);
      playing_ = true;
    }
    thread_ = std::thread(&SoundChannel::Play, this, std::move(sound), stop_);
  }
  void Stop() {
    std::lock_guard lock(mutex_);
    StopLocked();
  }
  bool Wait(uint32_t timeout_ms) {
    std::unique_lock state_lock(state_mutex_);
    return done_.wait_for(state_lock, std::chrono::milliseconds(timeout_ms),
                          [this] { return !playing_; });
  }

 private:
  void StopLocked() {
    if (stop_ != nullptr) stop_->store(true);
    {
      std::lock_guard state_lock(state_mutex_);
      if (output_ != nullptr) output_->Reset().IgnoreError();
    }
    if (thread_.joinable()) thread_.join();
  }

  void Play(Sound sound, std::shared_ptr<std::atomic<bool>> stop) {
    std::unique_ptr<WaveOut> output = WaveOut::Open(sound.format);
    if (output != nullptr) {
      {
        std::lock_guard state_lock(state_mutex_);
        output_ = output.get();
      }
      const size_t frame = sound.format.BytesPerFrame();
      const size_t piece = frame * 1024;
      for (size_t at = 0; at < sound.samples.size() && !stop->load();
           at += piece) {
        size_t n = std::min(piece, sound.samples.size() - at);
        if (!output->Write(sound.samples.data() + at, n).ok()) break;
      }
      while (!stop->load() && output->Queued() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      std::lock_guard state_lock(state_mutex_);
      output_ = nullptr;
    }
    output.reset();
    std::lock_guard state_lock(state_mutex_);
    playing_ = false;
    done_.notify_all();
  }

  std::mutex mutex_;  // serialises Start and Stop
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> stop_;
  std::mutex state_mutex_;
  std::condition_variable done_;
  bool playing_ = false;
  WaveOut* output_ = nullptr;  // the playing stream, for Stop
};

// Never destroyed: a sound may still play while the process exits.
SoundChannel& Channel() {
  static SoundChannel* channel = new SoundChannel;
  return *channel;
}

}  // namespace

bool PlaySoundFile(std::u16string_view device_path) {
  std::optional<Sound> sound = ReadPcmWave(device_path);
  if (!sound) return false;
  Channel().Start(std::move(*sound));
  return true;
}

void Beep() {
  Sound sound;
  sound.format = PcmFormat{1, kBeepRate, 16};
  sound.samples.reserve(kBeepFrames * 2);
  constexpr double kPi = 3.14159265358979323846;
  const uint32_t fade = kBeepRate / 200;  // 5 ms in and out, no clicks
  for (uint32_t i = 0; i < kBeepFrames; ++i) {
    double envelope = 1.0;
    if (i < fade) envelope = static_cast<double>(i) / fade;
    if (kBeepFrames - i < fade) {
      envelope = static_cast<double>(kBeepFrames - i) / fade;
    }
    double value =
        0.5 * envelope * std::sin(2 * kPi * kBeepFrequency * i / kBeepRate);
    int16_t sample = static_cast<int16_t>(std::lround(value * 32767));
    sound.samples.push_back(static_cast<uint8_t>(sample & 0xFF));
    sound.samples.push_back(static_cast<uint8_t>((sample >> 8) & 0xFF));
  }
  Channel().Start(std::move(sound));
}

void StopSound() { Channel().Stop(); }

bool WaitForSound(uint32_t timeout_ms) { return Channel().Wait(timeout_ms); }

}  // namespace platform
