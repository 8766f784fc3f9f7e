// The sound card behind the device's wave-out: one ALSA PCM playback
// stream on the host's "default" device, driven in non-blocking mode so
// that pause, drop and the queue size can be asked from other threads while
// a write waits for room.
//
// Thread safety: every method may be called from any thread.
#ifndef TELVANE_DEVICE_AUDIO_ALSA_OUTPUT_H_
#define TELVANE_DEVICE_AUDIO_ALSA_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace device::audio {

class AlsaOutput {
 public:
  // True when the host has at least one sound card.
  static bool CardPresent();
  // `result` gets one of platform::WaveApiResult.
  static std::unique_ptr<AlsaOutput> Open(int channels, int rate, int bits,
                                          int* result);
  ~AlsaOutput();
  AlsaOutput(const AlsaOutput&) = delete;
  AlsaOutput& operator=(const AlsaOutput&) = delete;

  // Writes whole frames, waiting for room; stops early (returning 0) when
  // Drop() is called meanwhile. A negative ALSA error otherwise.
  int Write(const void* data, size_t frames);
  int Pause(bool paused);
  int Drop();
  long Delay();

 private:
  AlsaOutput(void* pcm, size_t bytes_per_frame)
      : pcm_(pcm), bytes_per_frame_(bytes_per_frame) {}
  void* pcm_;  // snd_pcm_t*
  const size_t bytes_per_frame_;
  std::mutex mutex_;
  uint64_t generation_ = 0;  // advanced by Drop
  bool paused_ = false;
};

}  // namespace device::audio

#endif  // TELVANE_DEVICE_AUDIO_ALSA_OUTPUT_H_
