// The Filter List on a set of 1,000 filters, each with a name, a rule and 2
// to 5 actions (so every row carries action icons), offscreen:
//   - opening the dialog until its first screen is drawn;
//   - paging down the list (PageDown to list 1001, back to the top after
//     the last row), with the longest single step reported as the counter
//     "longest_frame_ms";
//   - saving the 1,000-filter set to the filter file on the device.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListView>
#include <algorithm>
#include <array>
#include <string>

#include "bench/bench_device.h"
#include "firewall/filter_file.h"
#include "firewall/filter_set.h"
#include "firewall/ui/filter_edit.h"
#include "firewall/ui/filter_list.h"
#include "kit/testing/qt_app.h"
#include "settings/settings_store.h"

namespace {

using firewall::FilterRecord;
using firewall::FilterSet;
using firewall::ui::FilterEditEnvironment;
using firewall::ui::FilterListDialog;

constexpr int kFilters = 1000;

std::u16string Number(int i) {
  std::string digits = std::to_string(i);
  return std::u16string(digits.begin(), digits.end());
}

// Filter `i`: a sender or body rule, and 2 to 5 of the actions that have
// an icon in the row.
FilterRecord MakeFilter(int i) {
  FilterRecord filter;
  filter.SetName(u"Filter " + Number(i) + u" for the office and home");
  if (i % 2 == 0) {
    filter.rules[0] =
        firewall::Rule{firewall::kObjectPhoneNumber, firewall::kJudgeEqual,
                       u"13800" + Number(100000 + i)};
  } else {
    filter.rules[0] =
        firewall::Rule{firewall::kObjectBody, firewall::kJudgeInclude,
                       u"meeting " + Number(i)};
  }
  static constexpr std::array<int, 8> kIconSlots = {
      firewall::kPlaySound,       firewall::kVibrate,
      firewall::kDontShowInInbox, firewall::kSpecificPhoto,
      firewall::kAutoReply,       firewall::kShowPopupWindow,
      firewall::kAutoForward,     firewall::kUnreadAlert};
  const int count = 2 + i % 4;
  for (int a = 0; a < count; ++a) {
    const int slot = kIconSlots[(i + a * 3) % kIconSlots.size()];
    switch (slot) {
      case firewall::kPlaySound:
        filter.Set(slot, u"\\Windows\\Alarm" + Number(i % 5) + u".wav");
        break;
      case firewall::kSpecificPhoto:
        filter.Set(slot, u"\\My Documents\\photo" + Number(i) + u".jpg");
        break;
      case firewall::kAutoReply:
        filter.Set(slot, std::u16string(firewall::kDefaultReplyText));
        break;
      case firewall::kShowPopupWindow:
        filter.Set(slot, u"");
        break;
      case firewall::kAutoForward:
        filter.Set(slot, u"13900" + Number(100000 + i));
        break;
      default:
        filter.Set(slot, u"");
        break;
    }
  }
  return filter;
}

// The 1,000-filter set, made once, with the device's filter file as its
// path.
FilterSet& Filters() {
  static FilterSet* set = [] {
    bench::EnsureDevice();
    auto* made = new FilterSet;
    firewall::SetUpFirstStartDefaults(made);
    made->file_path = firewall::DefaultFilterFilePath();
    for (int i = 0; i < kFilters; ++i) made->filters.push_back(MakeFilter(i));
    return made;
  }();
  return *set;
}

settings::SettingsStore& Settings() {
  static settings::SettingsStore* settings = [] {
    bench::EnsureDevice();
    auto* made = new settings::SettingsStore;
    made->Load();
    return made;
  }();
  return *settings;
}

FilterEditEnvironment Environment() {
  FilterEditEnvironment environment;
  environment.settings = &Settings();
  environment.app_folder = settings::AppFolder();
  return environment;
}

void BM_FilterListOpens(benchmark::State& state) {
  FilterSet& set = Filters();
  kit::testing::EnsureApplication();
  const FilterEditEnvironment environment = Environment();
  for (auto _ : state) {
    FilterListDialog dialog(nullptr, &set, environment);
    dialog.show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(dialog.list()->isVisible());
    state.PauseTiming();
    dialog.close();
    QApplication::processEvents();
    state.ResumeTiming();
  }
  state.counters["filters"] = static_cast<double>(set.filters.size());
}
BENCHMARK(BM_FilterListOpens)->Unit(benchmark::kMillisecond);

void BM_FilterListScrolls(benchmark::State& state) {
  FilterSet& set = Filters();
  kit::testing::EnsureApplication();
  FilterListDialog dialog(nullptr, &set, Environment());
  dialog.show();
  QApplication::processEvents();
  QListView* list = dialog.list();
  const int last = static_cast<int>(set.filters.size()) - 1;
  double longest_ms = 0;
  QElapsedTimer step;
  for (auto _ : state) {
    if (dialog.SelectedRow() >= last) {
      state.PauseTiming();
      dialog.SelectRow(0);
      QApplication::processEvents();
      state.ResumeTiming();
    }
    step.start();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    QApplication::sendEvent(list, &key);
    QApplication::processEvents();
    longest_ms = std::max(longest_ms, step.nsecsElapsed() / 1e6);
  }
  if (dialog.SelectedRow() <= 0) {
    state.SkipWithError("PageDown did not move the selection");
  }
  state.counters["longest_frame_ms"] = longest_ms;
  dialog.close();
}
BENCHMARK(BM_FilterListScrolls)->Unit(benchmark::kMicrosecond);

void BM_SaveThousandFilters(benchmark::State& state) {
  FilterSet& set = Filters();
  for (auto _ : state) {
    platform::Status status;
    if (firewall::SaveFilterFile(set, &status) !=
        firewall::SaveOutcome::kSaved) {
      state.SkipWithError("the filter file was not saved");
      return;
    }
  }
  state.counters["bytes"] =
      static_cast<double>(firewall::SerializeFilterFile(set).size());
}
BENCHMARK(BM_SaveThousandFilters)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
