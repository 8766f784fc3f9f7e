// The firewall's decision for one message on a large filter set: 1,000
// filters of two rules each (rule 1 holds, rule 2 fails, so every filter is
// looked at and the Contact Default decides) and a Black List of 10,000
// entries, none matching.
//   - BM_Decide: IsBlacklisted then FindGoverningFilter, as the incoming-
//     message procedure asks them;
//   - BM_FloorBlackListLoop: the floor for this work, a plain loop that
//     normalises the sender and compares it with every Black List phone;
//   - BM_Parse / BM_Serialize: the file image in memory;
//   - BM_LoadFile / BM_SaveFile: the file on the device (save commits to
//     storage).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <random>
#include <string>
#include <string_view>

#include "bench/bench_device.h"
#include "firewall/filter_file.h"
#include "firewall/filter_set.h"
#include "platform/device.h"
#include "text/text.h"

namespace {

constexpr int kFilters = 1000;
constexpr int kBlackList = 10000;
constexpr std::u16string_view kSender = u"\"Li Lei\"<+86 138-0013-8000>";
constexpr std::u16string_view kBody =
    u"Hello, see you at the meeting tomorrow at 10:30 in the usual place.";

using bench::EnsureDevice;

std::u16string Digits(std::mt19937& random, int count) {
  std::uniform_int_distribution<int> digit(0, 9);
  std::u16string out;
  for (int i = 0; i < count; ++i) out.push_back(u'0' + digit(random));
  return out;
}

const firewall::FilterSet& LargeSet() {
  static const firewall::FilterSet set = [] {
    std::mt19937 random(7);
    firewall::FilterSet s;
    firewall::SetUpFirstStartDefaults(&s);
    for (int i = 0; i < kFilters; ++i) {
      firewall::FilterRecord filter = firewall::NewFilter();
      filter.SetName(u"filter " + Digits(random, 4));
      filter.rules[0] =
          firewall::Rule{firewall::kObjectBody, firewall::kJudgeExclude,
                         u"unsubscribe " + Digits(random, 4)};
      filter.rules[1] =
          firewall::Rule{firewall::kObjectPhoneNumber, firewall::kJudgeEqual,
                         u"139" + Digits(random, 8)};
      filter.Set(firewall::kSaveToFolder, u"\\Work\\" + Digits(random, 3));
      filter.Set(firewall::kVibrate, std::nullopt);
      s.filters.push_back(std::move(filter));
    }
    for (int i = 0; i < kBlackList; ++i) {
      std::u16string phone = u"13" + Digits(random, 9);
      if (phone == u"13800138000") phone = u"13900000000";
      s.black_list.push_back({u"spam " + Digits(random, 3), phone});
    }
    return s;
  }();
  return set;
}

void BM_Decide(benchmark::State& state) {
  const firewall::FilterSet& set = LargeSet();
  for (auto _ : state) {
    bool blacklisted = firewall::IsBlacklisted(set, kSender);
    const firewall::FilterRecord* filter =
        blacklisted ? nullptr
                    : &firewall::FindGoverningFilter(set, kSender, kBody);
    benchmark::DoNotOptimize(filter);
  }
  if (firewall::IsBlacklisted(set, kSender) ||
      &firewall::FindGoverningFilter(set, kSender, kBody) !=
          &set.contact_default) {
    state.SkipWithError("the set must not match the message");
  }
}
BENCHMARK(BM_Decide)->Unit(benchmark::kMicrosecond);

void BM_FloorBlackListLoop(benchmark::State& state) {
  const firewall::FilterSet& set = LargeSet();
  for (auto _ : state) {
    std::u16string normalized = text::NormalizeNumber(kSender);
    std::u16string_view subject = normalized;
    bool found = false;
    for (const firewall::BlackListEntry& entry : set.black_list) {
      if (subject.ends_with(entry.phone)) {
        found = true;
        break;
      }
    }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_FloorBlackListLoop)->Unit(benchmark::kMicrosecond);

void BM_Serialize(benchmark::State& state) {
  const firewall::FilterSet& set = LargeSet();
  for (auto _ : state) {
    std::string bytes = firewall::SerializeFilterFile(set);
    benchmark::DoNotOptimize(bytes.data());
    state.counters["file_bytes"] = static_cast<double>(bytes.size());
  }
}
BENCHMARK(BM_Serialize)->Unit(benchmark::kMillisecond);

void BM_Parse(benchmark::State& state) {
  std::string bytes = firewall::SerializeFilterFile(LargeSet());
  for (auto _ : state) {
    firewall::FilterSet set;
    firewall::ParseFilterFile(
        std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
        &set);
    benchmark::DoNotOptimize(set.filters.data());
  }
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

void BM_SaveFile(benchmark::State& state) {
  EnsureDevice();
  firewall::FilterSet set = LargeSet();
  set.file_path = u"\\My Documents\\bench.ini";
  for (auto _ : state) {
    if (firewall::SaveFilterFile(set) != firewall::SaveOutcome::kSaved) {
      state.SkipWithError("save failed");
      break;
    }
  }
}
BENCHMARK(BM_SaveFile)->Unit(benchmark::kMillisecond);

void BM_LoadFile(benchmark::State& state) {
  EnsureDevice();
  firewall::FilterSet set = LargeSet();
  set.file_path = u"\\My Documents\\bench.ini";
  if (firewall::SaveFilterFile(set) != firewall::SaveOutcome::kSaved) {
    state.SkipWithError("save failed");
    return;
  }
  for (auto _ : state) {
    firewall::FilterSet loaded;
    loaded.file_path = set.file_path;
    if (firewall::LoadFilterFile(&loaded) != firewall::LoadOutcome::kRead ||
        loaded.filters.size() != kFilters) {
      state.SkipWithError("load failed");
      break;
    }
  }
}
BENCHMARK(BM_LoadFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
