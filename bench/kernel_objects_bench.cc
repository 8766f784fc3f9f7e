// Costs of the named kernel objects: an uncontended mutex round trip, an
// auto-reset event set and taken, and opening an existing block.
// Runs on a scratch device of its own (TELVANE_DEVICE is pointed at it).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

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
