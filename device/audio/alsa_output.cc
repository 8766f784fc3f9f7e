#include "device/audio/alsa_output.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/wave_out.h"

namespace device::audio {
namespace {

snd_pcm_t* Pcm(void* p) { return static_cast<snd_pcm_t*>(p); }

}  // namespace

bool AlsaOutput::CardPresent() {
  int card = -1;
  return snd_card_next(&card) == 0 && card >= 0;
}

std::unique_ptr<AlsaOutput> AlsaOutput::Open(int channels, int rate, int bits,
                                             int* result) {
  snd_pcm_t* pcm = nullptr;
  int error =
      snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (error < 0) {
    *result =
        error == -EBUSY ? platform::kWaveApiBusy : platform::kWaveApiNoDevice;
    return nullptr;
  }
  snd_pcm_format_t format =
      bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
  if ((bits != 8 && bits != 16) || channels < 1 || channels > 2 ||
      snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED,
                         static_cast<unsigned>(channels),
                         static_cast<unsigned>(rate), /*soft_resample=*/1,
                         /*latency_us=*/200000) < 0) {
    snd_pcm_close(pcm);
    *result = platform::kWaveApiBadFormat;
    return nullptr;
  }
  *result = platform::kWaveApiOk;
  return std::unique_ptr<AlsaOutput>(
      new AlsaOutput(pcm, static_cast<size_t>(channels) * (bits / 8)));
}

AlsaOutput::~AlsaOutput() {
  std::lock_guard lock(mutex_);
  snd_pcm_drop(Pcm(pcm_));
  snd_pcm_close(Pcm(pcm_));
}

int AlsaOutput::Write(const void* data, size_t frames) {
  const uint8_t* at = static_cast<const uint8_t*>(data);
  std::unique_lock lock(mutex_);
  const uint64_t generation = generation_;
  while (frames > 0) {
    if (generation != generation_) return 0;
    snd_pcm_sframes_t n =
        paused_ ? -EAGAIN : snd_pcm_writei(Pcm(pcm_), at, frames);
    if (n == -EAGAIN) {
      // Full (or paused): let the others in while the card plays.
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      lock.lock();
      continue;
    }
    if (n < 0) {
      n = snd_pcm_recover(Pcm(pcm_), static_cast<int>(n), /*silent=*/1);
      if (n < 0) return static_cast<int>(n);
      continue;
    }
    at += static_cast<size_t>(n) * bytes_per_frame_;
    frames -= static_cast<size_t>(n);
  }
  // A sound shorter than the card's buffer would never reach the start
  // threshold: start as soon as there is something to play.
  if (snd_pcm_state(Pcm(pcm_)) == SND_PCM_STATE_PREPARED && !paused_) {
    snd_pcm_start(Pcm(pcm_));
  }
  return 0;
}

int AlsaOutput::Pause(bool paused) {
  std::lock_guard lock(mutex_);
  if (paused == paused_) return 0;
  paused_ = paused;
  // Cards without a hardware pause just stop being fed.
  snd_pcm_pause(Pcm(pcm_), paused ? 1 : 0);
  return 0;
}

int AlsaOutput::Drop() {
  std::lock_guard lock(mutex_);
  ++generation_;
  int error = snd_pcm_drop(Pcm(pcm_));
  if (error < 0) return error;
  return snd_pcm_prepare(Pcm(pcm_));
}

long AlsaOutput::Delay() {
  std::lock_guard lock(mutex_);
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(Pcm(pcm_), &delay) < 0) return 0;
  return delay;
}

}  // namespace device::audio
