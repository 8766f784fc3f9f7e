// Wave-out: the device's PCM audio output.
//
// A stream is opened with a PCM format (channels, sample rate, bits per
// sample), takes interleaved little-endian samples through Write, and can be
// paused, restarted and reset. The device setting "audio_output" chooses
// what plays the samples:
//   "alsa"     the host's sound card, through the device library
//              "waveapi.dll" (which links ALSA; the platform does not);
//   "wavfile"  a sink that writes every opened stream to a new WAV file in
//              <device root>/wave-out/ (see docs/formats/wave-sink.md), for
//              tests and headless runs;
//   "none"     no output: every open fails with kUnavailable, as on a
//              device without a speaker;
//   "auto"     "alsa" when waveapi.dll loads and the host has a card,
//              otherwise "none".
// The sink plays in real time by default (device setting "wavfile_pace"
// "realtime": the play position advances with the clock, Write waits for
// room, and a stream that runs dry while samples are still due counts an
// underrun); with "fast" every sample counts as played the moment it is
// written. The real-time clock is the host's monotonic clock unless the
// opener supplies a PlaybackClock (a test's, which it moves by hand); the
// sound card ("alsa") keeps its own time and takes no clock.
//
// The device mixes a few streams at once: while "wave_out_streams" (device
// setting, default 4) streams are open in this process, another open fails
// with kWaveOutBusy, and so does an open of a sound card that another
// program holds. Callers that want to wait retry.
//
// Thread safety: a WaveOut may be used from several threads at once (one
// thread writing while another pauses, resets or asks for the position).
#ifndef TELVANE_PLATFORM_WAVE_OUT_H_
#define TELVANE_PLATFORM_WAVE_OUT_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/status.h"

namespace platform {

struct PcmFormat {
  uint16_t channels = 0;         // 1 or 2
  uint32_t sample_rate = 0;      // 1000..192000 Hz
  uint16_t bits_per_sample = 0;  // 8 (unsigned) or 16 (signed)

  uint32_t BytesPerFrame() const {
    return channels * static_cast<uint32_t>(bits_per_sample / 8);
  }
  bool operator==(const PcmFormat&) const = default;
};

// The clock that real-time sound keeps to: the WAV sink's play position and
// its writers' waits for room, and the pauses of the players that watch a
// stream drain (platform/sound.h, audio::AudioPlayer). In the program it is
// the host's monotonic clock; a test supplies one it moves by hand
// (platform/testing/manual_clock.h), so that it decides how much sound has
// played instead of sleeping while it plays.
//
// REQUIRES of an implementation: every call is safe from several threads at
// once, and the clock lives as long as anything that was handed it.
class PlaybackClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual TimePoint Now() = 0;
  // Waits on `changed`, whose mutex `lock` holds, until it is notified or
  // until Now() reaches `deadline` (TimePoint::max(): no deadline), or
  // spuriously: callers look at what they wait for again after every
  // return. Returns with `lock` held; the mutex may have been let go
  // meanwhile, as by any wait on a condition variable.
  virtual void WaitUntil(std::unique_lock<std::mutex>& lock,
                         std::condition_variable& changed,
                         TimePoint deadline) = 0;

 protected:
  ~PlaybackClock() = default;
};

// The host's monotonic clock; never destroyed.
PlaybackClock* HostPlaybackClock();

// The status code of an open refused because the output is in use.
inline constexpr ErrorCode kWaveOutBusy = ErrorCode::kAccessDenied;

class WaveOutBackend;

class WaveOut {
 public:
  // Opens the device's output for `format`. Failures: kUnavailable (no
  // output on this device), kWaveOutBusy (in use), kInvalidArgument (a
  // format the output does not take), kIoError (the host refused).
  // `clock` paces a real-time WAV sink (nullptr: the host's clock); it must
  // outlive the stream.
  static std::unique_ptr<WaveOut> Open(const PcmFormat& format,
                                       Status* status = nullptr,
                                       PlaybackClock* clock = nullptr);
  ~WaveOut();  // plays nothing more; drops what is queued and closes
  WaveOut(const WaveOut&) = delete;
  WaveOut& operator=(const WaveOut&) = delete;

  const PcmFormat& format() const { return format_; }

  // Queues whole frames (a trailing partial frame is dropped). Returns once
  // the data is queued; waits while the output holds a full queue or is
  // paused. A Reset() from another thread ends the wait: the rest of the
  // data is dropped and the result is still ok (dropping is what a reset
  // means). kIoError when the host output failed.
  Status Write(const void* data, size_t bytes);

  // Pause holds the play position; Restart continues. Both are idempotent.
  Status Pause();
  Status Restart();
  // Drops everything queued, wakes a waiting Write, and sets the position
  // back to 0. A paused stream stays paused.
  Status Reset();

  // Frames played since the open or the last reset.
  uint64_t Position();
  // Frames written but not yet played.
  uint64_t Queued();
  // Times the stream ran dry while it was playing (nothing left to play
  // before the next Write came). Not counted after a reset until the next
  // Write, nor while paused.
  uint64_t Underruns();

  // The backend that plays this stream: "alsa" or "wavfile".
  const char* backend_name() const;

 private:
  WaveOut(PcmFormat format, std::unique_ptr<WaveOutBackend> backend);
  PcmFormat format_;
  std::unique_ptr<WaveOutBackend> backend_;
};

// The output device's entry points, exported by "waveapi.dll" as extern "C"
// functions. A stream handle is an opaque pointer.
inline constexpr char16_t kWaveApiLibraryName[] = u"waveapi.dll";
// Results of the open entry point.
enum WaveApiResult : int {
  kWaveApiOk = 0,
  kWaveApiNoDevice = 1,  // no sound card
  kWaveApiBusy = 2,      // the card is in use
  kWaveApiBadFormat = 3,
  kWaveApiError = 4,
};
// 1 when the host has a sound card the library can open.
inline constexpr char kWaveApiPresentName[] = "WaveApiPresent";
using WaveApiPresentFunction = int (*)();
// (channels, rate, bits, result out) -> stream or nullptr.
inline constexpr char kWaveApiOpenName[] = "WaveApiOpen";
using WaveApiOpenFunction = void* (*)(int, int, int, int*);
// Writes whole frames, waiting for room; 0 or a negative error.
inline constexpr char kWaveApiWriteName[] = "WaveApiWrite";
using WaveApiWriteFunction = int (*)(void*, const void*, size_t frames);
// (stream, paused) -> 0 or a negative error.
inline constexpr char kWaveApiPauseName[] = "WaveApiPause";
using WaveApiPauseFunction = int (*)(void*, int);
// Drops what is queued; 0 or a negative error.
inline constexpr char kWaveApiDropName[] = "WaveApiDrop";
using WaveApiDropFunction = int (*)(void*);
// Frames written but not yet played (0 on an error).
inline constexpr char kWaveApiDelayName[] = "WaveApiDelay";
using WaveApiDelayFunction = long (*)(void*);
inline constexpr char kWaveApiCloseName[] = "WaveApiClose";
using WaveApiCloseFunction = void (*)(void*);

}  // namespace platform

#endif  // TELVANE_PLATFORM_WAVE_OUT_H_
