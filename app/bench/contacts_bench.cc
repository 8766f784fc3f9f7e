// The contacts on a phone with 5,000 contacts (vCard-imported) and 200 SIM
// entries, offscreen:
//   - the main window from construction until it is shown, on that phone
//     and on one without contacts (the load runs in the background, so the
//     two should not differ);
//   - the contact picker opening and showing its first screen once the
//     store has loaded, and finding by letter in it;
//   - the picker's photo thread loading 500 photos, with the longest stall
//     of the event loop meanwhile reported as "longest_stall_ms".
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QListView>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "bench/bench_device.h"
#include "contacts/contact_store.h"
#include "contacts/ui/contact_picker.h"
#include "contacts/ui/photo_loader.h"
#include "kit/testing/qt_app.h"
#include "platform/device.h"
#include "platform/files.h"
#include "settings/settings_store.h"

namespace {

namespace fs = std::filesystem;

constexpr int kContacts = 5000;
constexpr int kSimEntries = 200;
constexpr int kPhotos = 500;

// Two devices with the build installed: one whose phone book holds the
// contacts and the SIM entries (and photos for the first kPhotos
// contacts), one without contacts. Made once per process.
struct Devices {
  std::string full;
  std::string empty;
  bool ok = false;
};

std::string ContactName(int i) {
  static const char* kFirst[] = {"Anna",  "Bob",  "Chen", "Dmitri", "Eve",
                                 "Fang",  "Gao",  "Hans", "Ivy",    "Jun",
                                 "Karl",  "Li",   "Mia",  "Nils",   "Olga",
                                 "Peter", "Qing", "Rosa", "Sam",    "Tom"};
  return std::string(kFirst[i % 20]) + " " + std::to_string(i);
}

bool Install(const std::string& root) {
  setenv("TELVANE_DEVICE", root.c_str(), 1);
  return bench::Devicectl("init") &&
         bench::Devicectl("install " + bench::BinDir().parent_path().string());
}

const Devices& MakeDevices() {
  static Devices devices = [] {
    Devices made;
    char pattern[] = "/tmp/telvane-contacts-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return made;
    made.full = std::string(pattern) + "/full";
    made.empty = std::string(pattern) + "/empty";
    if (!Install(made.empty) || !Install(made.full)) return made;
    std::string cards;
    for (int i = 0; i < kContacts; ++i) {
      cards +=
          "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + ContactName(i) +
          "\r\nTEL;TYPE=CELL:139" + std::to_string(10000000 + i) +
          (i % 3 == 0 ? "\r\nTEL;TYPE=HOME:020" + std::to_string(1000000 + i)
                      : std::string()) +
          "\r\nCATEGORIES:" + (i % 2 == 0 ? "Friends" : "Work") +
          "\r\nEND:VCARD\r\n";
    }
    fs::path file = fs::path(pattern) / "cards.vcf";
    std::ofstream(file, std::ios::binary) << cards;
    if (!bench::Devicectl("contacts import " + file.string())) return made;
    for (int i = 0; i < kSimEntries; ++i) {
      if (!bench::Devicectl("sim add 'Sim " + std::to_string(i) + "' 138" +
                            std::to_string(20000000 + i))) {
        return made;
      }
    }
    // 640 x 480 JPEG photos of the first kPhotos contacts.
    settings::SettingsStore settings;
    settings.Load();
    std::optional<fs::path> resolved =
        platform::files::Resolve(settings.photo_folder());
    if (!resolved) return made;
    fs::path folder = *resolved;
    fs::create_directories(folder);
    QImage picture(640, 480, QImage::Format_RGB32);
    for (int i = 0; i < kPhotos; ++i) {
      picture.fill(QColor::fromHsv(i % 360, 200, 200));
      fs::path photo = folder / (ContactName(i) + ".jpg");
      if (!picture.save(QString::fromStdString(photo.string()), "JPG")) {
        return made;
      }
    }
    made.ok = true;
    return made;
  }();
  return devices;
}

void UseDevice(const std::string& root) {
  setenv("TELVANE_DEVICE", root.c_str(), 1);
}

// From construction until the window is shown; argument 1: the phone with
// the contacts, 0: the one without.
void BM_MainWindowUsable(benchmark::State& state) {
  const Devices& devices = MakeDevices();
  if (!devices.ok) {
    state.SkipWithError("cannot make the devices");
    return;
  }
  UseDevice(state.range(0) != 0 ? devices.full : devices.empty);
  kit::testing::EnsureApplication();
  for (auto _ : state) {
    auto window = std::make_unique<app::MainWindow>(app::MainWindow::Options{
        .publish_endpoint = false, .start_phone = false});
    if (!window->Initialize()) {
      state.SkipWithError("the window did not initialise");
      return;
    }
    window->show();
    QApplication::processEvents();
    state.PauseTiming();
    window->contacts().WaitForLoad();
    state.counters["contacts"] =
        static_cast<double>(window->contacts().contacts()->records.size());
    window->TearDown();
    window.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_MainWindowUsable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The store of the full phone, loaded once.
contacts::ContactStore& LoadedStore() {
  static contacts::ContactStore* store = [] {
    auto* made = new contacts::ContactStore;
    made->Load();
    return made;
  }();
  return *store;
}

settings::SettingsStore& Settings(bool show_photo) {
  static settings::SettingsStore* settings = [] {
    auto* made = new settings::SettingsStore;
    made->Load();
    return made;
  }();
  settings->set_show_photo(show_photo ? 1 : 0);
  return *settings;
}

// From construction until the first screen of the several-choice picker is
// drawn, the store already loaded.
void BM_PickerFirstScreen(benchmark::State& state) {
  const Devices& devices = MakeDevices();
  if (!devices.ok) {
    state.SkipWithError("cannot make the devices");
    return;
  }
  UseDevice(devices.full);
  kit::testing::EnsureApplication();
  contacts::ui::PickerEnvironment environment{&LoadedStore(), &Settings(false),
                                              false};
  for (auto _ : state) {
    contacts::ui::ContactPicker picker(nullptr, environment,
                                       contacts::kPickerMultiple);
    picker.show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(picker.list().items().size());
    state.PauseTiming();
    picker.close();
    state.ResumeTiming();
  }
  state.counters["items"] =
      static_cast<double>(LoadedStore().contacts()->records.size());
}
BENCHMARK(BM_PickerFirstScreen)->Unit(benchmark::kMillisecond);

// One letter key in the list, until the found row is selected and shown.
void BM_FindByLetter(benchmark::State& state) {
  const Devices& devices = MakeDevices();
  if (!devices.ok) {
    state.SkipWithError("cannot make the devices");
    return;
  }
  UseDevice(devices.full);
  kit::testing::EnsureApplication();
  contacts::ui::PickerEnvironment environment{&LoadedStore(), &Settings(false),
                                              false};
  contacts::ui::ContactPicker picker(nullptr, environment,
                                     contacts::kPickerMultiple);
  picker.show();
  QApplication::processEvents();
  const char kLetters[] = "abcdefghijklmnopqrst";
  size_t next = 0;
  for (auto _ : state) {
    char letter = kLetters[next++ % (sizeof kLetters - 1)];
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A + (letter - 'a'), Qt::NoModifier,
                  QString(QChar(letter)));
    QApplication::sendEvent(picker.list_view(), &key);
    QApplication::processEvents();
  }
  picker.close();
}
BENCHMARK(BM_FindByLetter)->Unit(benchmark::kMicrosecond);

// The photo thread over the list with kPhotos photos: the whole load, and
// the longest single turn of the event loop meanwhile.
void BM_PhotoThread(benchmark::State& state) {
  const Devices& devices = MakeDevices();
  if (!devices.ok) {
    state.SkipWithError("cannot make the devices");
    return;
  }
  UseDevice(devices.full);
  kit::testing::EnsureApplication();
  contacts::ui::PickerEnvironment environment{&LoadedStore(), &Settings(true),
                                              false};
  double longest_ms = 0;
  int loaded = 0;
  for (auto _ : state) {
    contacts::ui::ContactPicker picker(nullptr, environment,
                                       contacts::kPickerMultiple);
    picker.show();
    QElapsedTimer turn;
    while (picker.photo_loader()->busy()) {
      turn.start();
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      longest_ms = std::max(longest_ms, turn.nsecsElapsed() / 1e6);
    }
    // What the last results queued.
    turn.start();
    QApplication::processEvents();
    longest_ms = std::max(longest_ms, turn.nsecsElapsed() / 1e6);
    state.PauseTiming();
    loaded = 0;
    for (size_t i = 0; i < picker.list().items().size(); ++i) {
      if (!picker.photo(i).isNull()) ++loaded;
    }
    picker.close();
    state.ResumeTiming();
  }
  state.counters["longest_stall_ms"] = longest_ms;
  state.counters["photos"] = loaded;
}
BENCHMARK(BM_PhotoThread)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
