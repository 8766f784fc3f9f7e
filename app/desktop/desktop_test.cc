// The built program on a real X display (Xvfb, 800 x 600) under real window
// managers, driven and watched from outside as a user's desktop would:
// xdotool clicks and types, xwininfo reads where the windows are, xwd takes
// pictures of the display. The phone's screen is one 240 x 320 rectangle
// centred on the display; every window of the program must keep to it.
//
// Pictures of the display go to $TELVANE_DESKTOP_SHOTS when it is set.
// A missing X program skips the test (scripts/install-deps installs them).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/testing/program.h"
#include "firewall/filter_file.h"
#include "intercept/registration.h"
#include "platform/time.h"
#include "settings/settings_store.h"
#include "store/document.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using platform::testing::CommandResult;
using platform::testing::Devicectl;
using platform::testing::RunCommand;

constexpr char16_t kDocument[] = u"\\Program Files\\Telvane\\sms.zud";
// The device screen on an 800 x 600 display: scale 1, centred.
constexpr int kScreenLeft = (800 - 240) / 2;
constexpr int kScreenTop = (600 - 320) / 2;

struct Geometry {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int right() const { return x + width; }
  int bottom() const { return y + height; }
};

bool Installed(const std::string& program) {
  return RunCommand("command -v " + program + " >/dev/null 2>&1").exit_code ==
         0;
}

// Polls `done` every 50 ms (each look runs X programs) for a generous time.
template <class Predicate>
bool WaitFor(Predicate done) {
  return platform::testing::WaitUntil([&] {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return false;
  });
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& display,
            int keep_fd = -1) {
  pid_t pid = fork();
  if (pid == 0) {
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("QT_SCALE_FACTOR");
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    for (int fd = 3; fd < 256; ++fd) {
      if (fd != keep_fd) close(fd);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t* pid) {
  if (*pid <= 0) return;
  kill(*pid, SIGTERM);
  waitpid(*pid, nullptr, 0);
  *pid = 0;
}

// CPU time (user and system) of a process so far, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  long utime = 0;
  long stime = 0;
  // Fields 3 to 13, then utime (14) and stime (15).
  for (int i = 3; i <= 13; ++i) fields >> field;
  fields >> utime >> stime;
  return utime + stime;
}

class DesktopTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
#ifdef TELVANE_SANITIZED_BUILD
    // The sanitized program starts too slowly beside the rest of the
    // sanitized suite for the window managers' timing; the program's code
    // is checked by the other tests of that build.
    GTEST_SKIP() << "not run in a sanitized build";
#endif
    for (const char* program :
         {"Xvfb", GetParam(), "xdotool", "xwininfo", "xwd", "convert"}) {
      if (!Installed(program)) {
        GTEST_SKIP() << program
                     << " is not installed (scripts/install-deps installs it)";
      }
    }
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    ASSERT_NO_FATAL_FAILURE(MakeDevice());
    window_manager_ = Spawn({GetParam()}, display_);
    ASSERT_GT(window_manager_, 0);
    ASSERT_TRUE(WaitFor([&] {
      return X("xprop -root _NET_SUPPORTING_WM_CHECK").out.find("window id") !=
             std::string::npos;
    })) << GetParam()
        << " did not start";
  }

  void TearDown() override {
    Stop(&program_);
    Devicectl("stop");
    Stop(&window_manager_);
    Stop(&server_);
  }

  void StartDisplay() {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    server_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen",
                     "0", "800x600x24", "-nolisten", "tcp"},
                    "", fds[1]);
    close(fds[1]);
    std::string number;
    pollfd wait{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&wait, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 &&
           c != '\n') {
      number += c;
    }
    close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    display_ = ":" + number;
  }

  // The phone with the rule client, a document with one message in \Work,
  // and a filter set that shows the popup for strangers.
  void MakeDevice() {
    std::string build = platform::testing::BinDir().parent_path().string();
    CommandResult install = Devicectl("install " + build);
    ASSERT_EQ(install.exit_code, 0) << install.out;
    ASSERT_TRUE(
        intercept::RegisterRuleClient(u"\\Program Files\\Telvane\\").ok());
    settings::SettingsStore settings;
    settings.Load();
    settings.set_disappear_time_recv(0);  // the popup stays until tapped
    ASSERT_TRUE(settings.Save().ok());
    ASSERT_TRUE(settings.SaveLastOpenFile(kDocument).ok());
    store::NewFileOptions options;
    options.create_recycle_bin = false;
    store::Document document;
    ASSERT_TRUE(document.New(kDocument, options).ok());
    store::Node* work = document.FindOrCreateFolderPath(u"\\Work");
    ASSERT_NE(work, nullptr);
    ASSERT_NE(document.StoreMessage(work, u"+15550100", u"Lunch at noon?",
                                    platform::CurrentSystemTime()),
              nullptr);
    ASSERT_TRUE(document.Close().ok());
    firewall::FilterSet set;
    set.file_path = firewall::DefaultFilterFilePath();
    set.stranger_default.GiveInitialActions();
    set.stranger_default.Set(firewall::kShowPopupWindow, u"");
    set.contact_default.GiveInitialActions();
    ASSERT_EQ(firewall::SaveFilterFile(set), firewall::SaveOutcome::kSaved);
    CommandResult start = Devicectl("start");
    ASSERT_EQ(start.exit_code, 0) << start.out;
  }

  CommandResult X(const std::string& command) {
    // An X client that waits (xwininfo asking for a click) never holds the
    // test up.
    return RunCommand("DISPLAY=" + display_ + " timeout 10 " + command +
                      " 2>/dev/null");
  }

  // The program's windows that are on the display now.
  // The last lines of the device's debug log, for a failure message.
  std::string DebugTail() {
    std::ifstream in(device_.root() / "debug.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::string tail = "\ndebug.log:\n";
    for (size_t i = lines.size() > 25 ? lines.size() - 25 : 0; i < lines.size();
         ++i) {
      tail += lines[i] + "\n";
    }
    return tail;
  }

  std::vector<std::string> Windows() {
    std::vector<std::string> ids;
    std::istringstream out(
        X("xdotool search --onlyvisible --pid " + std::to_string(program_))
            .out);
    for (std::string id; out >> id;) {
      // Window ids only: a warning on the output is not a window.
      if (id.find_first_not_of("0123456789") == std::string::npos) {
        ids.push_back(id);
      }
    }
    return ids;
  }

  std::optional<Geometry> Where(const std::string& id) {
    std::string info = X("xwininfo -id " + id).out;
    auto number = [&](const std::string& label) {
      size_t at = info.find(label);
      return at == std::string::npos
                 ? -1
                 : std::atoi(info.c_str() + at + label.size());
    };
    if (info.find("IsViewable") == std::string::npos) return std::nullopt;
    return Geometry{number("Absolute upper-left X:"),
                    number("Absolute upper-left Y:"), number("Width:"),
                    number("Height:")};
  }

  // Waits for exactly `count` windows of the program; their geometries.
  std::vector<Geometry> WaitForWindows(size_t count) {
    std::vector<Geometry> found;
    WaitFor([&] {
      found.clear();
      for (const std::string& id : Windows()) {
        if (std::optional<Geometry> g = Where(id)) found.push_back(*g);
      }
      return found.size() == count;
    });
    return found;
  }

  // A window of the program that is not one of `known`, once there is one.
  std::optional<Geometry> WaitForNewWindow(
      const std::vector<std::string>& known) {
    std::optional<Geometry> found;
    WaitFor([&] {
      for (const std::string& id : Windows()) {
        if (std::find(known.begin(), known.end(), id) != known.end()) continue;
        found = Where(id);
        if (found) return true;
      }
      return false;
    });
    return found;
  }

  void Click(int x, int y) {
    X("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
      " click 1");
  }

  void Key(const std::string& keys) {
    // Keys go to the window that has the input focus.
    X("xdotool key --delay 80 " + keys);
  }

  void Shoot(const std::string& name) {
    const char* folder = std::getenv("TELVANE_DESKTOP_SHOTS");
    if (folder == nullptr || *folder == '\0') return;
    fs::create_directories(folder);
    std::string wm = fs::path(GetParam()).filename().string();
    fs::path file = fs::path(folder) / (wm + "-" + name + ".png");
    X("sh -c 'xwd -root -silent | convert xwd:- \"" + file.string() + "\"'");
  }

  // Whether the display shows something other than black at `where` (a
  // window that is mapped but never drawn stays black).
  bool Drawn(const Geometry& where) {
    std::string crop = std::to_string(where.width) + "x" +
                       std::to_string(where.height) + "+" +
                       std::to_string(where.x) + "+" + std::to_string(where.y);
    std::string mean = X("sh -c 'xwd -root -silent | convert xwd:- -crop " +
                         crop + " -format \"%[fx:mean]\" info:'")
                           .out;
    return std::atof(mean.c_str()) > 0.05;
  }

  void StartProgram() {
    program_ = Spawn({testing::Program().string()}, display_);
    ASSERT_GT(program_, 0);
  }

  platform::testing::TempDevice device_;
  std::string display_;
  pid_t server_ = 0;
  pid_t window_manager_ = 0;
  pid_t program_ = 0;
};

TEST_P(DesktopTest, OneDeviceScreenUnderTheWindowManager) {
  ASSERT_NO_FATAL_FAILURE(StartProgram());

  // The main window: the device screen's size at scale 1 (it fits 800 x
  // 600 once, not twice), about the middle of the display (a frame the
  // window manager adds may shift it a little), wholly on the display.
  std::vector<Geometry> windows = WaitForWindows(1);
  ASSERT_EQ(windows.size(), 1u) << "the main window did not show";
  const Geometry main = windows[0];
  const std::vector<std::string> main_id = Windows();
  EXPECT_EQ(main.width, 240);
  EXPECT_EQ(main.height, 320);
  EXPECT_NEAR(main.x, kScreenLeft, 40);
  EXPECT_NEAR(main.y, kScreenTop, 40);
  EXPECT_LE(main.bottom(), 600) << "the soft keys fall off the display";
  EXPECT_TRUE(WaitFor([&] { return Drawn(main); }));
  Shoot("main");

  // The soft-key menus: one column, above their key, inside the device
  // screen's width (and below its top when they are short enough). A click
  // beside the phone closes a menu.
  const int key_y = main.bottom() - 8;
  Click(main.x + 20, key_y);
  std::optional<Geometry> left = WaitForNewWindow(main_id);
  ASSERT_TRUE(left.has_value()) << "the left soft key opened no menu";
  EXPECT_GE(left->x, kScreenLeft);
  EXPECT_LE(left->right(), kScreenLeft + 240);
  EXPECT_LT(left->width, 240) << "more than one column";
  EXPECT_LE(left->bottom(), key_y);
  EXPECT_LT(left->x, main.x + 20) << "not at the key";
  if (left->height <= key_y - kScreenTop - 20) {
    EXPECT_GE(left->y, kScreenTop);
  }
  Shoot("left-menu");
  Click(20, 20);
  ASSERT_EQ(WaitForWindows(1).size(), 1u);

  Click(main.right() - 20, key_y);
  std::optional<Geometry> menu = WaitForNewWindow(main_id);
  ASSERT_TRUE(menu.has_value()) << "the Menu soft key opened no menu";
  EXPECT_GE(menu->x, kScreenLeft);
  EXPECT_LE(menu->right(), kScreenLeft + 240);
  EXPECT_LT(menu->width, 240) << "more than one column";
  EXPECT_GT(menu->right(), main.right() - 30) << "not at the key";
  // Above the key when the display has the room.
  if (menu->height <= key_y) {
    EXPECT_LE(menu->bottom(), key_y);
  }
  Shoot("menu");
  Click(20, 20);
  ASSERT_EQ(WaitForWindows(1).size(), 1u);

  // The message view, a modal window, opened from the keyboard: \Work,
  // open it, its message, Enter.
  X("xdotool search --onlyvisible --pid " + std::to_string(program_) +
    " windowactivate --sync");
  Key("End Right Down Return");
  std::optional<Geometry> view = WaitForNewWindow(main_id);
  ASSERT_TRUE(view.has_value()) << "the message view did not open";
  EXPECT_EQ(view->width, 240);
  EXPECT_EQ(view->height, 320);
  EXPECT_TRUE(WaitFor([&] { return Drawn(*view); })) << "the view is not drawn";
  Shoot("view");
  // The program rests while the view waits for the user.
  const long hz = sysconf(_SC_CLK_TCK);
  const long before = CpuTicks(program_);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  const double busy =
      static_cast<double>(CpuTicks(program_) - before) / hz / seconds;
  EXPECT_LT(busy, 0.5) << "the program spins with the view open";
  RecordProperty("cpu_with_view_open", std::to_string(busy));

  // The view takes clicks (its Menu soft key opens its menu) and keys
  // (Escape, the Back key, closes it).
  Click(view->right() - 20, view->bottom() - 8);
  ASSERT_EQ(WaitForWindows(3).size(), 3u) << "the click did not reach the view";
  Shoot("view-menu");
  Click(20, 20);
  ASSERT_EQ(WaitForWindows(2).size(), 2u);
  Key("Escape");
  ASSERT_TRUE(WaitFor([&] { return Windows().size() <= 1; }))
      << "the key did not reach the view";

  // Hidden (the Back key; its release after the view closed may already
  // have hidden it), the program still shows the popup of a new message, on
  // the device screen where the skin puts it.
  if (!Windows().empty()) Key("Escape");
  ASSERT_EQ(WaitForWindows(0).size(), 0u) << "the main window did not hide";
  CommandResult receive = Devicectl("receive --from 5550123 'Are you there?'");
  ASSERT_EQ(receive.exit_code, 0) << receive.out;
  windows = WaitForWindows(1);
  ASSERT_EQ(windows.size(), 1u) << "no popup while hidden";
  EXPECT_EQ(windows[0].width, 150);
  EXPECT_EQ(windows[0].height, 95);
  EXPECT_EQ(windows[0].x, kScreenLeft + 46);
  EXPECT_EQ(windows[0].y, kScreenTop + 173);
  Shoot("popup");
  Click(windows[0].x + 75, windows[0].y + 47);  // a tap closes it
  ASSERT_EQ(WaitForWindows(0).size(), 0u);

  // A second start brings the first one's window back and ends.
  pid_t second = Spawn({testing::Program().string()}, display_);
  int status = -1;
  ASSERT_EQ(waitpid(second, &status, 0), second);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  windows = WaitForWindows(1);
  ASSERT_EQ(windows.size(), 1u)
      << "the second start did not raise the first" << DebugTail();
  // Drawn where the window manager puts it back.
  EXPECT_TRUE(WaitFor([&] {
    std::vector<std::string> ids = Windows();
    std::optional<Geometry> now =
        ids.size() == 1 ? Where(ids[0]) : std::nullopt;
    return now && now->width == 240 && now->height == 320 && Drawn(*now);
  })) << "the raised window is not drawn";
  Shoot("raised");
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, DesktopTest,
                         ::testing::Values("matchbox-window-manager",
                                           "openbox"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).substr(0, 5) ==
                                          "match"
                                      ? std::string("Matchbox")
                                      : std::string("Openbox");
                         });

}  // namespace
}  // namespace app
