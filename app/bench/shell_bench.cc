// The main window on a document of 100,000 messages (one folder holding
// 20,000 of them, the rest in 240 folders), offscreen:
//   - opening the document in a new main window until the tree is shown
//     vs  store::Document::Open alone (Open + LoadIndex + recount: the floor);
//   - switching to list mode ("Preview Mode") on the 20,000-message folder;
//   - opening the compose window as a reply to a message of that document
//     (construction, filling from the node, first screen drawn);
//   - one keystroke into a message of 1,375 characters, until the counter
//     shows the new count.
// The process's resident memory with the document open in the window is
// reported as the counter "rss_kb".
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QTreeView>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/list_model.h"
#include "app/main_window.h"
#include "app/tree_model.h"
#include "bench/bench_device.h"
#include "kit/menu_table.h"
#include "kit/testing/qt_app.h"
#include "platform/codepage.h"
#include "platform/device.h"
#include "send/ui/compose_window.h"
#include "settings/settings_store.h"
#include "store/document.h"
#include "store/message_file.h"

namespace {

constexpr int kMessages = 100000;
constexpr int kBigFolder = 20000;
constexpr int kOtherFolders = 240;
constexpr char16_t kPath[] = u"\\My Documents\\shell.zud";

using bench::EnsureDevice;

// Writes the document once per process and makes it the last open file.
bool MakeDocument() {
  static bool made = [] {
    EnsureDevice();
    store::MessageFile file;
    if (!file.Create(kPath, store::FileHeader()).ok()) return false;
    file.set_commit_appends(false);
    std::mt19937 random(42);
    std::vector<store::IndexEntry> entries;
    auto add_folder = [&](std::u16string title) {
      store::NodeRecord folder;
      folder.set_type(store::kRecordCompressed);
      entries.push_back({0, std::move(title),
                         file.AppendRecord(folder, std::nullopt).value_or(0),
                         store::kImageFolder});
    };
    auto add_messages = [&](int count, int first) {
      for (int m = 0; m < count; ++m) {
        store::NodeRecord record;
        record.set_type(store::kRecordCompressed);
        record.set_sender(u"\"Ann\"<+8613800138000>");
        std::string body = platform::WideToMultiByte(bench::RandomBody(random));
        body.push_back('\0');
        entries.push_back({1,
                           u"Ann " + std::u16string(1, u'0' + (first + m) % 10),
                           file.AppendRecord(record, body).value_or(0),
                           m % 7 == 0 ? store::kImageMessageUnread
                                      : store::kImageMessageRead});
      }
    };
    add_folder(u"Big");
    add_messages(kBigFolder, 0);
    int rest = kMessages - kBigFolder;
    for (int f = 0; f < kOtherFolders; ++f) {
      add_folder(u"Folder " + std::u16string(1, u'A' + f % 26));
      int count = rest / kOtherFolders +
                  (f + 1 == kOtherFolders ? rest % kOtherFolders : 0);
      add_messages(count, f);
    }
    file.MarkModified();
    bool ok = file.SaveIndex(entries).ok() && file.FlushHeader().ok();
    file.Close();
    settings::SettingsStore settings;
    settings.set_display_mode(1);
    settings.set_show_popup(0);
    ok = ok && settings.Save().ok() && settings.SaveLastOpenFile(kPath).ok();
    return ok;
  }();
  return made;
}

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void BM_DocumentOpenAlone(benchmark::State& state) {
  if (!MakeDocument()) {
    state.SkipWithError("cannot make the document");
    return;
  }
  for (auto _ : state) {
    store::Document document;
    if (!document.Open(kPath).ok()) {
      state.SkipWithError("cannot open");
      return;
    }
    benchmark::DoNotOptimize(document.tree().size());
    state.PauseTiming();
    document.Close().ok();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DocumentOpenAlone)->Unit(benchmark::kMillisecond);

void BM_WindowOpenUntilTreeShown(benchmark::State& state) {
  if (!MakeDocument()) {
    state.SkipWithError("cannot make the document");
    return;
  }
  kit::testing::EnsureApplication();
  long rss = 0;
  for (auto _ : state) {
    auto window = std::make_unique<app::MainWindow>(
        app::MainWindow::Options{.publish_endpoint = false});
    if (!window->Initialize() || !window->document().IsOpen()) {
      state.SkipWithError("the window did not open the document");
      return;
    }
    window->show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(window->tree_view()->isVisible());
    state.PauseTiming();
    rss = std::max(rss, ResidentKb());
    window->TearDown();
    window.reset();
    state.ResumeTiming();
  }
  state.counters["rss_kb"] = static_cast<double>(rss);
}
BENCHMARK(BM_WindowOpenUntilTreeShown)->Unit(benchmark::kMillisecond);

void BM_SwitchToListOn20000Messages(benchmark::State& state) {
  if (!MakeDocument()) {
    state.SkipWithError("cannot make the document");
    return;
  }
  kit::testing::EnsureApplication();
  app::MainWindow window(app::MainWindow::Options{.publish_endpoint = false});
  if (!window.Initialize() || !window.document().IsOpen()) {
    state.SkipWithError("the window did not open the document");
    return;
  }
  window.show();
  QApplication::processEvents();
  store::Node* big = window.document().tree().root()->child(0);
  store::Node* message = big->child(kBigFolder / 2);
  int rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    window.ChooseNode(message);
    state.ResumeTiming();
    window.Dispatch(kit::cmds::kPreviewMode);  // to the list
    QApplication::processEvents();
    rows = window.list_model()->rowCount();
    state.PauseTiming();
    window.Dispatch(kit::cmds::kPreviewMode);  // back to the tree
    QApplication::processEvents();
    state.ResumeTiming();
  }
  state.counters["rows"] = rows;
  window.TearDown();
}
BENCHMARK(BM_SwitchToListOn20000Messages)->Unit(benchmark::kMillisecond);

void BM_ComposeReplyOn100000Messages(benchmark::State& state) {
  if (!MakeDocument()) {
    state.SkipWithError("cannot make the document");
    return;
  }
  kit::testing::EnsureApplication();
  app::MainWindow window(app::MainWindow::Options{.publish_endpoint = false});
  if (!window.Initialize() || !window.document().IsOpen()) {
    state.SkipWithError("the window did not open the document");
    return;
  }
  window.show();
  QApplication::processEvents();
  store::Node* message =
      window.document().tree().root()->child(0)->child(kBigFolder / 2);
  const send::ui::ComposeContext context = window.ComposeContext();
  for (auto _ : state) {
    send::ui::ComposeWindow compose(&window, context);
    compose.FillWithNode(message, send::ui::ComposeMode::kReply);
    compose.show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(compose.counter()->text().size());
    state.PauseTiming();
    compose.close();
    state.ResumeTiming();
  }
  window.TearDown();
}
BENCHMARK(BM_ComposeReplyOn100000Messages)->Unit(benchmark::kMillisecond);

void BM_KeystrokeInto1375Characters(benchmark::State& state) {
  bench::EnsureDevice();
  kit::testing::EnsureApplication();
  app::MainWindow window(app::MainWindow::Options{.publish_endpoint = false});
  if (!window.Initialize()) {
    state.SkipWithError("the window did not initialise");
    return;
  }
  send::ui::ComposeWindow compose(&window, window.ComposeContext());
  std::mt19937 random(7);
  std::u16string text;
  while (text.size() < 1375) text += bench::RandomBody(random);
  text.resize(1374);
  compose.FillWithTexts(text, u"5550100", send::ui::ComposeMode::kForward);
  compose.show();
  QApplication::processEvents();
  QPlainTextEdit* field = compose.message_field();
  field->setFocus();
  bool add = true;
  for (auto _ : state) {
    // One character typed, then taken back: the text stays at 1,374 or
    // 1,375 characters.
    QKeyEvent key(QEvent::KeyPress, add ? Qt::Key_A : Qt::Key_Backspace,
                  Qt::NoModifier, add ? QStringLiteral("a") : QString());
    QApplication::sendEvent(field, &key);
    QApplication::processEvents();
    benchmark::DoNotOptimize(compose.counter()->text().size());
    add = !add;
  }
  compose.close();
  window.TearDown();
}
BENCHMARK(BM_KeystrokeInto1375Characters)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
