// The interception round trip through real processes: this process asks
// deviced to receive an SMS; deviced stores it in the phone's Inbox and calls
// inrelay.dll, which queues it in the shared buffer; the intake here answers
// at once with a delete verdict; inrelay deletes it from the Inbox and
// deviced replies. Reported: p50 and p99 of that round trip over 1,000
// messages, and a flood of 1,000 messages sent as fast as deviced takes
// them, with the count of messages neither handled nor left in the Inbox
// ("lost", which must be 0).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_device.h"
#include "device/cemapi/message_store.h"
#include "device/deviced/protocol.h"
#include "intercept/intake.h"
#include "intercept/registration.h"
#include "platform/device.h"

namespace {

// One device with everything installed, deviced running and an intake that
// deletes every message; made once per process.
struct Channel {
  bool ready = false;
  std::optional<platform::NamedEvent> delete_event;
  intercept::Intake intake;
  std::atomic<int> handled{0};

  Channel() {
    if (!bench::MakeInstalledDevice()) return;
    if (!intercept::RegisterRuleClient(u"\\Program Files\\Telvane\\").ok()) {
      return;
    }
    if (!bench::Devicectl("start")) return;
    delete_event = intercept::CreateDeleteEvent();
    if (!delete_event) return;
    ready =
        intake.StartIntake([this](const intercept::IncomingSms&) -> uint32_t {
          ++handled;
          delete_event->Set().IgnoreError();
          return 1;
        });
  }
  ~Channel() {
    intake.StopIntake();
    intake.WaitStopped(10000);
    bench::Devicectl("stop");
  }
};

// Destroyed at exit, which stops the intake and deviced.
Channel& TheChannel() {
  static Channel channel;
  return channel;
}

bool Receive(const std::string& text, std::string* reply) {
  std::optional<std::string> answer =
      device::deviced::Exchange({"receive", "10086", "", text}, 60000);
  if (!answer) return false;
  *reply = *answer;
  return true;
}

void BM_ReceiveToDeleted(benchmark::State& state) {
  Channel& channel = TheChannel();
  if (!channel.ready) {
    state.SkipWithError("no interception channel");
    return;
  }
  std::vector<double> latencies;
  int i = 0;
  for (auto _ : state) {
    std::string reply;
    auto start = std::chrono::steady_clock::now();
    bool ok = Receive("message " + std::to_string(i++), &reply);
    auto elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    if (!ok || reply.rfind("deleted", 0) != 0) {
      state.SkipWithError(("not deleted: " + reply).c_str());
      return;
    }
    state.SetIterationTime(elapsed.count());
    latencies.push_back(elapsed.count() * 1000.0);
  }
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) {
    return latencies[static_cast<size_t>(q * (latencies.size() - 1))];
  };
  state.counters["p50_ms"] = at(0.50);
  state.counters["p99_ms"] = at(0.99);
  state.counters["max_ms"] = latencies.back();
}
BENCHMARK(BM_ReceiveToDeleted)
    ->Iterations(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_Flood(benchmark::State& state) {
  Channel& channel = TheChannel();
  if (!channel.ready) {
    state.SkipWithError("no interception channel");
    return;
  }
  constexpr int kMessages = 1000;
  int deleted = 0, left = 0, failed = 0;
  for (auto _ : state) {
    int handled_before = channel.handled.load();
    int64_t inbox_before =
        device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox)
            .value_or(-1);
    deleted = left = failed = 0;
    for (int i = 0; i < kMessages; ++i) {
      std::string reply;
      if (!Receive("flood " + std::to_string(i), &reply)) {
        ++failed;
      } else if (reply.rfind("deleted", 0) == 0) {
        ++deleted;
      } else {
        ++left;
      }
    }
    int handled = channel.handled.load() - handled_before;
    int64_t in_inbox =
        device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox)
            .value_or(-1) -
        inbox_before;
    state.counters["handled"] = handled;
    state.counters["left_in_inbox"] = static_cast<double>(in_inbox);
    state.counters["lost"] =
        static_cast<double>(kMessages - deleted - in_inbox);
    state.counters["failed"] = failed;
  }
  state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_Flood)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
