// The Import dialog over a phone Inbox of 5,000 messages, through the real
// cemapi.dll, offscreen:
//   - opening the dialog until its first screen is drawn;
//   - listing the whole Inbox (what "Check All" waits for);
//   - importing all 5,000 into a new document (each filed with its note).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_device.h"
#include "device/cemapi/message_store.h"
#include "import/source.h"
#include "import/ui/import_dialog.h"
#include "kit/testing/qt_app.h"
#include "platform/files.h"
#include "settings/settings_store.h"
#include "store/document.h"

namespace {

constexpr int kMessages = 5000;

// The device with the build installed and the Inbox filled, once.
bool Ready() {
  static const bool ready = [] {
    if (!bench::MakeInstalledDevice()) return false;
    std::optional<int64_t> count =
        device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox);
    if (!count) return false;
    const uint64_t start = 133800000000000000ull;  // early 2025
    std::mt19937 random(5000);
    for (int64_t i = *count; i < kMessages; ++i) {
      const std::u16string body = bench::RandomBody(random);
      if (!device::cemapi::DeliverIncomingSms(
              u"1380013800" +
                  std::u16string(1, static_cast<char16_t>(u'0' + i % 10)),
              body,
              platform::FileTime::FromValue(start + uint64_t(i) * 600'000'000),
              nullptr)) {
        return false;
      }
    }
    return true;
  }();
  return ready;
}

settings::SettingsStore& Settings() {
  static settings::SettingsStore* settings = [] {
    auto* made = new settings::SettingsStore;
    made->Load();
    made->set_import_source(0);
    made->set_sms_delete(0);
    return made;
  }();
  return *settings;
}

void BM_ImportFirstScreen(benchmark::State& state) {
  if (!Ready()) {
    state.SkipWithError("no device with a filled Inbox");
    return;
  }
  kit::testing::EnsureApplication();
  import::ui::ImportContext context;
  context.settings = &Settings();
  for (auto _ : state) {
    import::ui::ImportDialog dialog(nullptr, context);
    dialog.show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(dialog.list()->topLevelItemCount());
    state.PauseTiming();
    dialog.close();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ImportFirstScreen)->Unit(benchmark::kMillisecond);

void BM_ImportListsWholeInbox(benchmark::State& state) {
  if (!Ready()) {
    state.SkipWithError("no device with a filled Inbox");
    return;
  }
  kit::testing::EnsureApplication();
  import::ui::ImportContext context;
  context.settings = &Settings();
  size_t rows = 0;
  for (auto _ : state) {
    import::ui::ImportDialog dialog(nullptr, context);
    dialog.FinishListing();
    rows = dialog.row_count();
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_ImportListsWholeInbox)->Unit(benchmark::kMillisecond);

void BM_ImportAll(benchmark::State& state) {
  if (!Ready()) {
    state.SkipWithError("no device with a filled Inbox");
    return;
  }
  std::optional<std::vector<import::ImportItem>> items =
      import::ListFolder(import::PhoneFolder::kInbox);
  if (!items) {
    state.SkipWithError("the Inbox cannot be listed");
    return;
  }
  std::vector<const import::ImportItem*> chosen;
  for (const import::ImportItem& item : *items) chosen.push_back(&item);
  int run = 0;
  int imported = 0;
  for (auto _ : state) {
    state.PauseTiming();
    store::Document document;
    const std::u16string path =
        u"\\import-bench-" +
        std::u16string(1, static_cast<char16_t>(u'a' + run++ % 26)) + u".zud";
    platform::files::Delete(path).IgnoreError();
    if (!document.New(path, {}).ok()) {
      state.SkipWithError("no document");
      return;
    }
    store::Node* target = document.WellKnownFolder(store::kFolderInbox);
    state.ResumeTiming();
    imported = import::ImportIntoDocument(document, target, chosen,
                                          /*delete_after=*/false)
                   .imported;
    state.PauseTiming();
    document.Close().IgnoreError();
    state.ResumeTiming();
  }
  state.counters["imported"] = imported;
}
BENCHMARK(BM_ImportAll)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
