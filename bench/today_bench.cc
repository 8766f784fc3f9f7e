// The Today screen's costs: the item's answer to a refresh query when the
// unread count did not change (asked of every item every 2 seconds), and
// the Today screen program's CPU use while it sits idle with the item.
// Runs on a device with the build installed (bench_device.h).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "bench/bench_device.h"
#include "device/todayshell/today_screen.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/today.h"

namespace {

namespace td = platform::today;

bool RegisterItem() {
  auto key = platform::RegistryKey::Create(
      platform::RegistryRoot::kLocalMachine,
      std::u16string(td::kItemsKey) + u"\\\"Telvane\"");
  return key && key->SetDword(u"Type", 4).ok() &&
         key->SetDword(u"Enabled", 1).ok() &&
         key->SetString(u"DLL", u"\\Program Files\\Telvane\\pelicordep.dll")
             .ok();
}

bool Ready() {
  static bool ready = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return bench::MakeInstalledDevice() && RegisterItem();
  }();
  return ready;
}

void BM_RefreshQueryUnchanged(benchmark::State& state) {
  if (!Ready()) {
    state.SkipWithError("no device");
    return;
  }
  static int argc = 1;
  static char name[] = "today_bench";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
  device::todayshell::TodayScreen screen;
  if (screen.LoadItems() != 1) {
    state.SkipWithError("the item did not load");
    return;
  }
  const auto record =
      reinterpret_cast<intptr_t>(screen.items()[0].record.get());
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        screen.SendToItem(0, td::kQueryRefreshCache, 0, record));
  }
}
BENCHMARK(BM_RefreshQueryUnchanged);

// user + system clock ticks of a process.
std::optional<long> CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

// The real todayshell.exe, idle for 4 seconds (two refresh rounds) after
// it has started; reported as the percentage of one CPU it used.
void BM_TodayScreenIdleCpu(benchmark::State& state) {
  if (!Ready()) {
    state.SkipWithError("no device");
    return;
  }
  for (auto _ : state) {
    std::optional<pid_t> pid = platform::StartProgram(
        u"\\Windows\\todayshell.exe", {}, {.detached = false});
    if (!pid) {
      state.SkipWithError("todayshell did not start");
      return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto start = std::chrono::steady_clock::now();
    const long before = CpuTicks(*pid).value_or(0);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const long after = CpuTicks(*pid).value_or(0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    kill(*pid, SIGTERM);
    int ignored;
    waitpid(*pid, &ignored, 0);
    state.SetIterationTime(seconds);
    state.counters["cpu_percent"] =
        100.0 * static_cast<double>(after - before) /
        static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
  }
}
BENCHMARK(BM_TodayScreenIdleCpu)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
