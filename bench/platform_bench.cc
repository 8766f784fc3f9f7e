// Costs of the platform calls the program makes in its hot paths: the code
// page conversion of a 102400-character index piece, registry reads at
// settings load and device path lookups. The named objects have their own.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "bench/bench_device.h"
#include "platform/codepage.h"
#include "platform/device.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace {

using bench::EnsureDevice;

std::u16string IndexPiece() {
  // Tree titles as they look: tabs, Chinese names, digits, CR LF.
  std::u16string line = u"\t\t\u5f20\u4e09 2006-3-5 7:08:09\r\n";
  std::u16string text;
  while (text.size() + line.size() <= 102400) text += line;
  return text;
}

void BM_WideToGbk(benchmark::State& state) {
  EnsureDevice();
  std::u16string text = IndexPiece();
  for (auto _ : state) {
    std::string bytes = platform::WideToMultiByte(text, platform::kCodePageGbk);
    benchmark::DoNotOptimize(bytes);
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_WideToGbk);

void BM_GbkToWide(benchmark::State& state) {
  EnsureDevice();
  std::string bytes =
      platform::WideToMultiByte(IndexPiece(), platform::kCodePageGbk);
  for (auto _ : state) {
    std::u16string text =
        platform::MultiByteToWide(bytes, platform::kCodePageGbk);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_GbkToWide);

void BM_RegistryQueryDword(benchmark::State& state) {
  EnsureDevice();
  auto key = platform::RegistryKey::Create(platform::RegistryRoot::kCurrentUser,
                                           u"Software\\Pelicorde");
  if (!key || !key->SetDword(u"DisplayMode", 1).ok()) {
    state.SkipWithError("no registry");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(key->QueryDword(u"displaymode"));
}
BENCHMARK(BM_RegistryQueryDword);

void BM_RegistrySetString(benchmark::State& state) {
  EnsureDevice();
  auto key = platform::RegistryKey::Create(platform::RegistryRoot::kCurrentUser,
                                           u"Software\\Pelicorde");
  if (!key) {
    state.SkipWithError("no registry");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        key->SetString(u"LastOpenFile", u"\\Program Files\\Telvane\\sms.zud"));
  }
}
BENCHMARK(BM_RegistrySetString);

void BM_ResolveDevicePath(benchmark::State& state) {
  EnsureDevice();
  // The second spelling differs in case, so every component needs a scan.
  const char16_t* path = state.range(0) == 0
                             ? u"\\Program Files\\Telvane\\sms.zud"
                             : u"\\PROGRAM FILES\\telvane\\SMS.ZUD";
  for (auto _ : state) benchmark::DoNotOptimize(platform::files::Resolve(path));
}
BENCHMARK(BM_ResolveDevicePath)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
