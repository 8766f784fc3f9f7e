#include "platform/sound.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_convert.h"
#include "platform/files.h"
#include "platform/unicode.h"
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

Status NotPlayable(std::u16string_view path, const char* why) {
  return Status(ErrorCode::kWrongType, ToUtf8(path) + ": " + why);
}

// A PCM WAV file's format and samples; nullopt with *status saying why for
// anything else.
std::optional<Sound> ReadPcmWave(std::u16string_view path, Status* status) {
  // Too large to play is known before it is read.
  if (std::optional<uint64_t> size = files::Size(path);
      size && *size > kMaxSoundFileBytes) {
    *status = NotPlayable(path, "too large to play");
    return std::nullopt;
  }
  std::string whole;
  *status = files::ReadWhole(path, &whole);
  if (!status->ok()) return std::nullopt;
  if (whole.size() > kMaxSoundFileBytes) {
    *status = NotPlayable(path, "too large to play");
    return std::nullopt;
  }
  std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(whole.data()),
                                 whole.size());
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    *status = NotPlayable(path, "not a WAV file");
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
      std::optional<PcmFormat> pcm;
      if (format && format->format_tag == kWaveFormatPcm &&
          (format->bits_per_sample == 8 || format->bits_per_sample == 16)) {
        pcm = SuggestPcmFormat(*format);
      }
      if (!pcm) {
        *status = NotPlayable(path, "not 8- or 16-bit PCM");
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
  *status = NotPlayable(path, "no sound data");
  return std::nullopt;
}

// The one sound of the simple call: its thread and its stop flag.
class SoundChannel {
 public:
  void Start(Sound sound) {
    std::lock_guard lock(mutex_);
    StopLocked();
    PlaybackClock* clock = clock_.load();
    stop_ = std::make_shared<std::atomic<bool>>(false);
    {
      std::lock_guard state_lock(state_mutex_);
      playing_ = true;
    }
    thread_ =
        std::thread(&SoundChannel::Play, this, std::move(sound),
                    clock != nullptr ? clock : HostPlaybackClock(), stop_);
  }
  void Stop() {
    std::lock_guard lock(mutex_);
    StopLocked();
  }
  void SetClock(PlaybackClock* clock) { clock_.store(clock); }
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
      drained_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
  }

  void Play(Sound sound, PlaybackClock* clock,
            std::shared_ptr<std::atomic<bool>> stop) {
    std::unique_ptr<WaveOut> output =
        WaveOut::Open(sound.format, nullptr, clock);
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
      // Until the last samples played (or a stop), looking every 2 ms or
      // when they should have played, whichever comes first.
      std::unique_lock state_lock(state_mutex_);
      for (uint64_t queued; !stop->load() && (queued = output->Queued()) > 0;) {
        auto left = std::chrono::microseconds(
            (queued * 1000000 + sound.format.sample_rate - 1) /
            sound.format.sample_rate);
        clock->WaitUntil(
            state_lock, drained_,
            clock->Now() + std::min<std::chrono::microseconds>(
                               left, std::chrono::milliseconds(2)));
      }
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
  std::condition_variable drained_;  // wakes the wait for the end on a stop
  bool playing_ = false;
  WaveOut* output_ = nullptr;                   // the playing stream, for Stop
  std::atomic<PlaybackClock*> clock_{nullptr};  // nullptr: the host's
};

// Never destroyed: a sound may still play while the process exits.
SoundChannel& Channel() {
  static SoundChannel* channel = new SoundChannel;
  return *channel;
}

}  // namespace

bool PlaySoundFile(std::u16string_view device_path, Status* status) {
  Status local;
  std::optional<Sound> sound =
      ReadPcmWave(device_path, status != nullptr ? status : &local);
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

void SetSoundClock(PlaybackClock* clock) { Channel().SetClock(clock); }

bool WaitForSound(uint32_t timeout_ms) { return Channel().Wait(timeout_ms); }

}  // namespace platform
