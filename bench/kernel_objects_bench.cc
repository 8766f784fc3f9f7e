// Costs of the named kernel objects: an uncontended mutex round trip, an
// auto-reset event set and taken, a wake-up round trip between two threads
// through two auto-reset events, and opening an existing block.
// Runs on a scratch device of its own (TELVANE_DEVICE is pointed at it).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/device.h"
#include "platform/kernel_objects.h"

namespace {

class ScratchDevice {
 public:
  ScratchDevice() {
    std::string pattern = "/tmp/telvane-bench-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    setenv("TELVANE_DEVICE", (folder_ / "device").c_str(), 1);
    platform::InitialiseDevice().IgnoreError();
  }
  ~ScratchDevice() {
    platform::ShutdownDevice().IgnoreError();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

 private:
  std::filesystem::path folder_;
};

void BM_MutexWaitRelease(benchmark::State& state) {
  ScratchDevice device;
  bool existed = false;
  auto mutex = platform::NamedMutex::CreateOrOpen("bench", false, &existed);
  if (!mutex) return state.SkipWithError("cannot create the mutex");
  for (auto _ : state) {
    benchmark::DoNotOptimize(mutex->Wait());
    mutex->Release().IgnoreError();
  }
}
BENCHMARK(BM_MutexWaitRelease);

void BM_AutoEventSetWait(benchmark::State& state) {
  ScratchDevice device;
  bool existed = false;
  auto event =
      platform::NamedEvent::CreateOrOpen("bench", false, false, &existed);
  if (!event) return state.SkipWithError("cannot create the event");
  for (auto _ : state) {
    event->Set().IgnoreError();
    benchmark::DoNotOptimize(event->Wait(0));
  }
}
BENCHMARK(BM_AutoEventSetWait);

// One iteration: this thread sets "ping" and sleeps on "pong" until a
// second thread, asleep on "ping", wakes and sets "pong". Measures the cost
// of a Set that has to wake a sleeper, twice.
void BM_AutoEventPingPong(benchmark::State& state) {
  ScratchDevice device;
  bool existed = false;
  auto ping =
      platform::NamedEvent::CreateOrOpen("ping", false, false, &existed);
  auto pong =
      platform::NamedEvent::CreateOrOpen("pong", false, false, &existed);
  if (!ping || !pong) return state.SkipWithError("cannot create the events");
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    for (;;) {
      if (ping->Wait() != platform::WaitResult::kSignaled) return;
      if (stop.load()) return;
      pong->Set().IgnoreError();
    }
  });
  for (auto _ : state) {
    ping->Set().IgnoreError();
    benchmark::DoNotOptimize(pong->Wait());
  }
  stop.store(true);
  ping->Set().IgnoreError();
  echo.join();
}
BENCHMARK(BM_AutoEventPingPong)->UseRealTime();

void BM_OpenExistingSharedMemory(benchmark::State& state) {
  ScratchDevice device;
  bool existed = false;
  auto keep = platform::SharedMemory::CreateOrOpen("bench", 4096, &existed);
  if (!keep) return state.SkipWithError("cannot create the block");
  for (auto _ : state) {
    auto block = platform::SharedMemory::CreateOrOpen("bench", 4096, &existed);
    benchmark::DoNotOptimize(block->data());
  }
}
BENCHMARK(BM_OpenExistingSharedMemory);

}  // namespace

BENCHMARK_MAIN();
