// AudioPlayer: plays one sound at a time on a thread of its own.
//
// Sources: WAV files (any format the platform's converter turns into PCM),
// MPEG audio (MP3, MP2, MPEG wrapped in RIFF) decoded with libmad, from
// device files or "http://" streams. Output goes to the device's wave-out.
//
// States: 0 stopped, 3 preparing, 1 playing, 2 paused. 0 -> 3 -> 1 <-> 2,
// and back to 0 at the end of the data, on Stop(), or when Open() closes
// the source. Every state change (to 0, 1, 2, 3) is posted as message
// kStateMessage with the new state; while the last buffers play out the
// position (milliseconds) is posted as kPositionMessage, and 0 at the end.
//
// Playback: the playback thread decodes into 8 output buffers (512, 1024
// or 2048 samples per channel for rates up to 11025 Hz, up to 22050 Hz and
// above) that a feeder thread hands to wave-out. The output stays open
// between sounds and is reopened only when the format changes; an open
// that finds the output busy is retried 10 times, 100 ms apart. Those
// pauses, the watch over the last buffers and a real-time WAV sink go by
// the player's PlaybackClock: the host's, or one a test moves by hand.
//
// Thread safety: every public operation takes the player's lock (which is
// recursive) and may be called from any thread. The notification callback
// runs on the player's threads, possibly while the lock is held by a
// caller waiting for them: it must hand the message on (as a window
// message is posted) and must not call the player.
#ifndef TELVANE_AUDIO_AUDIO_PLAYER_H_
#define TELVANE_AUDIO_AUDIO_PLAYER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "audio/decoders.h"
#include "audio/http_source.h"
#include "audio/source.h"
#include "platform/status.h"
#include "platform/threads.h"
#include "platform/wave_out.h"

namespace audio {

inline constexpr uint32_t kStateMessage = 11025;
inline constexpr uint32_t kPositionMessage = 11026;
inline constexpr int kOutputBuffers = 8;
inline constexpr int kOpenAttempts = 10;
inline constexpr int kOpenRetryMs = 100;
// Priorities of the device's fine-grained scale.
inline constexpr int kPreparingPriority = 160;
inline constexpr int kFeederPriority = 248;    // time critical
inline constexpr int kPlaybackPriority = 252;  // below normal

enum class SourceKind { kNone = 0, kMpeg = 1, kWav = 2 };

// The status code of a source that opened and read but is not sound the
// player knows.
inline constexpr platform::ErrorCode kNotSound =
    platform::ErrorCode::kWrongType;

// Samples per channel in one output buffer at `sample_rate`.
uint32_t BufferFramesFor(uint32_t sample_rate);

class AudioPlayer {
 public:
  enum State { kStopped = 0, kPlaying = 1, kPaused = 2, kPreparing = 3 };
  using Notify = std::function<void(uint32_t message, uint32_t param)>;

  // `clock` (nullptr: the host's) must outlive the player.
  explicit AudioPlayer(platform::PlaybackClock* clock = nullptr);
  ~AudioPlayer();  // stops playback and releases everything
  AudioPlayer(const AudioPlayer&) = delete;
  AudioPlayer& operator=(const AudioPlayer&) = delete;

  // Closes the current source (stopping playback first), then opens `path`
  // (a device path, or an "http://" address) as MPEG audio when it looks
  // like it and opens, else as WAV. False when neither works; *status
  // (when given) then says why: the source's own failure (for a file that
  // cannot be opened, "cannot open PATH: not found" and the like; for a
  // stream, the connection's), or kNotSound with "PATH is neither MPEG
  // audio nor WAV" for a source read through that is neither (or is a WAV
  // file the converter does not take).
  bool Open(std::u16string_view path, platform::Status* status = nullptr);
  // The same over a source the caller made (a host file, memory);
  // `name` is what path() reports. A null source is kInvalidArgument.
  bool OpenSource(std::unique_ptr<Source> source, std::u16string_view name,
                  platform::Status* status = nullptr);

  // With a source open: state 2 resumes, state 0 starts the playback
  // thread (returning at once). False otherwise.
  bool Play();
  // Playing -> paused, paused -> playing; false in other states.
  bool Pause();
  // Ends playback, waiting for the playback thread without a time limit;
  // the next Play starts from the beginning.
  void Stop();
  int GetState();

  void SetNotify(Notify notify);

  SourceKind kind();
  // The output format (16 bits for MPEG; the converted format for WAV).
  platform::PcmFormat format();
  // Length in milliseconds (0 when unknown, as for most streams).
  uint64_t length_ms();
  // The play position in milliseconds.
  uint64_t position_ms();
  std::u16string path();
  // The stream's information (empty for files).
  StreamInfo stream_info();
  // The wave-out stream's backend and underrun count (0 without output).
  uint64_t underruns();

 private:
  void CloseLocked();
  void StopLocked();
  void SetState(int state);
  void Post(uint32_t message, uint32_t param);
  bool TryMpeg();
  bool TryWav();

  // The playback thread and its helpers.
  void Run();
  bool PrepareOutput();
  // Waits on the clock for `delay` or until a stop is asked; false for a
  // stop.
  bool SleepUnlessStopped(std::chrono::milliseconds delay);
  void Feeder();
  // Hands the filled part of the current buffer to the feeder; waits for
  // a free buffer. False when a stop was asked.
  bool Submit();
  void StopFeeder();

  std::recursive_mutex lock_;  // taken by every public operation
  platform::PlaybackClock* const clock_;

  // The source.
  std::unique_ptr<Source> source_;
  HttpSource* http_ = nullptr;  // source_ when it is a stream
  std::unique_ptr<Decoder> decoder_;
  SourceKind kind_ = SourceKind::kNone;
  std::u16string path_;
  platform::PcmFormat format_;
  uint64_t length_frames_ = 0;

  // The output, shared with the playback and feeder threads.
  std::mutex output_mutex_;
  std::unique_ptr<platform::WaveOut> output_;

  // Buffers: filled by the playback thread, written by the feeder. A
  // change of a buffer, and a stop, wake the playback thread's waits.
  std::mutex buffer_mutex_;
  std::condition_variable buffer_changed_;
  std::vector<uint8_t> buffer_memory_;  // 8 buffers in one allocation
  size_t buffer_bytes_ = 0;
  size_t buffer_fill_[kOutputBuffers] = {};
  bool buffer_full_[kOutputBuffers] = {};
  int fill_index_ = 0;   // the buffer the playback thread fills
  int write_index_ = 0;  // the buffer the feeder writes next
  bool feeder_quit_ = false;
  std::atomic<bool> feeder_failed_{false};
  std::thread feeder_;
  // The feeder's start: it waits for its priority before it runs.
  std::mutex feeder_start_mutex_;
  std::condition_variable feeder_started_;
  platform::ThreadId feeder_id_ = 0;
  bool feeder_go_ = false;

  std::thread thread_;
  std::atomic<int> state_{kStopped};
  std::atomic<bool> stop_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> ended_{false};  // the thread has finished

  std::mutex notify_mutex_;
  Notify notify_;
};

}  // namespace audio

#endif  // TELVANE_AUDIO_AUDIO_PLAYER_H_
