// The simple sound call and the default beep.
//
// PlaySoundFile starts playing a PCM WAV file (8 or 16 bits, one or two
// channels) on wave-out and returns at once; the sound plays on a thread of
// its own. A file that is missing, is not a WAV file or holds anything but
// PCM plays nothing. Beep plays the device's default beep (a short tone)
// the same way. Only one such sound plays at a time: a new one stops the
// one that is playing. When wave-out is busy or absent the sound is
// dropped; nothing is reported (as with the platform's own call).
//
// Real-time output plays by a PlaybackClock (platform/wave_out.h): the
// host's, or the one a test sets with SetSoundClock.
//
// Thread safety: every function may be called from any thread.
#ifndef TELVANE_PLATFORM_SOUND_H_
#define TELVANE_PLATFORM_SOUND_H_

#include <cstdint>
#include <string_view>

#include "platform/status.h"

namespace platform {

class PlaybackClock;

// True when the file was read and is PCM (its sound is starting). Otherwise
// *status (when given) says why: the file's own failure as
// files::ReadWhole reports it (kNotFound for a missing file), or kWrongType
// for a file that is not an 8- or 16-bit PCM WAV file or is too large to
// play (over 64 MiB).
bool PlaySoundFile(std::u16string_view device_path, Status* status = nullptr);

// The default beep: 880 Hz for 150 ms, 16-bit mono at 22050 Hz.
void Beep();
inline constexpr uint32_t kBeepRate = 22050;
inline constexpr uint32_t kBeepFrames = kBeepRate * 150 / 1000;
inline constexpr double kBeepFrequency = 880.0;

// Stops the sound that is playing, if any, and waits for its thread.
void StopSound();
// Waits until no sound plays; false when `timeout_ms` ran out first.
bool WaitForSound(uint32_t timeout_ms);

// The clock the next sounds play by (nullptr: the host's). For tests; the
// clock must outlive every sound started while it is set.
void SetSoundClock(PlaybackClock* clock);

}  // namespace platform

#endif  // TELVANE_PLATFORM_SOUND_H_
