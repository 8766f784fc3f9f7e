// waveapi.dll: the sound card's entry points, as declared in
// platform/wave_out.h.
#include "device/audio/alsa_output.h"
#include "platform/wave_out.h"

#define WAVEAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
device::audio::AlsaOutput* Stream(void* stream) {
  return static_cast<device::audio::AlsaOutput*>(stream);
}
}  // namespace

WAVEAPI_EXPORT int WaveApiPresent() {
  return device::audio::AlsaOutput::CardPresent() ? 1 : 0;
}

WAVEAPI_EXPORT void* WaveApiOpen(int channels, int rate, int bits,
                                 int* result) {
  int local = platform::kWaveApiError;
  auto output = device::audio::AlsaOutput::Open(channels, rate, bits, &local);
  if (result != nullptr) *result = local;
  return output.release();
}

WAVEAPI_EXPORT int WaveApiWrite(void* stream, const void* data, size_t frames) {
  return Stream(stream)->Write(data, frames);
}

WAVEAPI_EXPORT int WaveApiPause(void* stream, int paused) {
  return Stream(stream)->Pause(paused != 0);
}

WAVEAPI_EXPORT int WaveApiDrop(void* stream) { return Stream(stream)->Drop(); }

WAVEAPI_EXPORT long WaveApiDelay(void* stream) {
  return Stream(stream)->Delay();
}

WAVEAPI_EXPORT void WaveApiClose(void* stream) { delete Stream(stream); }
