// The audio player decoding a 3-minute 128 kbit/s MP3 (tones synthesised
// with sox, encoded with lame at the start of the run) as fast as it goes
// into the WAV-file sink, beside:
//   - a bare libmad loop over the same bytes in memory (decode, synthesis
//     and the conversion to 16-bit samples): the floor for this decoder;
//   - Debian's `mpg123 -t` (decode and discard) on the same file: a peer.
// Each reports "rtf", the real-time factor (seconds of sound decoded per
// second of wall time). A fourth run plays 10 seconds in real time and
// counts the sink's underruns (the feeder starving the output), which
// should be 0 on an otherwise idle machine.
#include <benchmark/benchmark.h>
#include <mad.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_player.h"
#include "platform/device.h"

namespace {

namespace fs = std::filesystem;

fs::path g_scratch;
fs::path g_long_mp3;   // 180 s
fs::path g_short_mp3;  // 10 s
constexpr double kLongSeconds = 180;
constexpr double kShortSeconds = 10;

bool Run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

bool MakeFiles() {
  char pattern[] = "/tmp/telvane-audio-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  g_scratch = pattern;
  setenv("TELVANE_DEVICE", (g_scratch / "device").c_str(), 1);
  if (!platform::InitialiseDevice().ok() ||
      !platform::SetDeviceSetting("audio_output", "wavfile").ok()) {
    return false;
  }
  g_long_mp3 = g_scratch / "long.mp3";
  g_short_mp3 = g_scratch / "short.mp3";
  std::string wav = (g_scratch / "long.wav").string();
  // Two sweeping tones and a little noise: every frame is different work.
  return Run("sox -n -r 44100 -c 2 -b 16 " + wav +
             " synth 180 sine 220-880 sine 330-1320 synth 180 pinknoise mix"
             " vol 0.4 2>/dev/null") &&
         Run("lame --quiet -b 128 " + wav + " " + g_long_mp3.string()) &&
         Run("sox " + wav + " " + (g_scratch / "short.wav").string() +
             " trim 0 10") &&
         Run("lame --quiet -b 128 " + (g_scratch / "short.wav").string() + " " +
             g_short_mp3.string());
}

void ClearSink() {
  std::error_code ec;
  fs::remove_all(platform::DeviceRoot() / "wave-out", ec);
}

void PlayToSink(benchmark::State& state, const char* pace, const fs::path& file,
                double seconds) {
  if (!platform::SetDeviceSetting("wavfile_pace", pace).ok()) {
    state.SkipWithError("no device");
    return;
  }
  uint64_t underruns = 0;
  for (auto _ : state) {
    audio::AudioPlayer player;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    player.SetNotify([&](uint32_t message, uint32_t param) {
      if (message != audio::kStateMessage || param != 0) return;
      std::lock_guard lock(mutex);
      done = true;
      ended.notify_all();
    });
    if (!player.OpenSource(audio::OpenHostFile(file), u"bench") ||
        !player.Play()) {
      state.SkipWithError("the player did not start");
      return;
    }
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return done; });
    lock.unlock();
    underruns += player.underruns();
    state.PauseTiming();
    ClearSink();
    state.ResumeTiming();
  }
  state.counters["rtf"] = benchmark::Counter(
      seconds * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["underruns"] = double(underruns);
}

void BM_PlayerToWavSink(benchmark::State& state) {
  PlayToSink(state, "fast", g_long_mp3, kLongSeconds);
}
BENCHMARK(BM_PlayerToWavSink)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareLibmad(benchmark::State& state) {
  std::ifstream in(g_long_mp3, std::ios::binary);
  std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
  bytes.resize(bytes.size() + MAD_BUFFER_GUARD, 0);
  std::vector<int16_t> out(1152 * 2);
  for (auto _ : state) {
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, bytes.data(), bytes.size());
    for (;;) {
      if (mad_frame_decode(&frame, &stream) != 0) {
        if (MAD_RECOVERABLE(stream.error)) continue;
        break;
      }
      mad_synth_frame(&synth, &frame);
      for (unsigned i = 0; i < synth.pcm.length; ++i) {
        for (unsigned c = 0; c < 2; ++c) {
          mad_fixed_t s = synth.pcm.samples[c < synth.pcm.channels ? c : 0][i];
          s += 1L << (MAD_F_FRACBITS - 16);
          s = s >= MAD_F_ONE ? MAD_F_ONE - 1 : s < -MAD_F_ONE ? -MAD_F_ONE : s;
          out[i * 2 + c] = int16_t(s >> (MAD_F_FRACBITS + 1 - 16));
        }
      }
      benchmark::DoNotOptimize(out.data());
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
  }
  state.counters["rtf"] = benchmark::Counter(
      kLongSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareLibmad)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Mpg123(benchmark::State& state) {
  if (!Run("command -v mpg123 >/dev/null 2>&1")) {
    state.SkipWithError("mpg123 is not installed");
    return;
  }
  std::string command = "mpg123 -q -t '" + g_long_mp3.string() + "'";
  for (auto _ : state) {
    if (!Run(command)) {
      state.SkipWithError("mpg123 failed");
      return;
    }
  }
  state.counters["rtf"] = benchmark::Counter(
      kLongSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Mpg123)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RealTimePlaybackUnderruns(benchmark::State& state) {
  PlayToSink(state, "realtime", g_short_mp3, kShortSeconds);
}
BENCHMARK(BM_RealTimePlaybackUnderruns)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (!MakeFiles()) {
    std::fprintf(stderr,
                 "audio_bench: needs sox and lame (scripts/install-deps)\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(g_scratch, ec);
  return 0;
}
