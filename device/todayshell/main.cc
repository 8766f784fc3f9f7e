// todayshell: the device's Today (home) screen. `devicectl boot` starts it
// after deviced; it shows the date, the time, the owner's name and the
// registered Today items (today_screen.h).
//
//   todayshell.exe [--shot FILE]
//
// One runs per device: a second start exits at once. --shot loads the
// items, lets them paint, writes a picture of the screen to the host file
// FILE (PNG) and exits, for demos and documentation. Without a display the
// screen runs offscreen.
#include <QApplication>
#include <QString>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/todayshell/today_screen.h"
#include "platform/debug.h"
#include "platform/device.h"
#include "platform/window_endpoints.h"

namespace {

constexpr std::u16string_view kWindowClass = u"DesktopExplorerWindow";
constexpr std::u16string_view kWindowTitle = u"Desktop";

// Lets the items go through their paint steps (an item that moved paints
// in three rounds).
void Settle() {
  for (int round = 0; round < 5; ++round) {
    QApplication::processEvents();
    QApplication::sendPostedEvents();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* shot = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--shot") == 0) shot = argv[i + 1];
  }
  if (std::getenv("DISPLAY") == nullptr &&
      std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  std::unique_ptr<platform::WindowEndpoint> endpoint;
  if (shot == nullptr) {
    if (platform::FindTopLevelWindow(kWindowClass, kWindowTitle)) {
      return 0;  // the device's Today screen already runs
    }
    platform::Status status;
    endpoint =
        platform::WindowEndpoint::Publish(kWindowClass, kWindowTitle, &status);
    if (endpoint == nullptr) {
      platform::DebugOutput("todayshell: " + status.ToString());
    }
  }
  QApplication application(argc, argv);
  device::todayshell::TodayScreen screen;
  screen.setWindowTitle(QStringLiteral("Today"));
  const int width =
      static_cast<int>(platform::GetDeviceSettingInt("screen_width", 240));
  const int height =
      static_cast<int>(platform::GetDeviceSettingInt("screen_height", 320));
  screen.resize(width > 0 ? width : 240, height > 0 ? height : 320);
  screen.show();
  const int items = screen.LoadItems();
  platform::DebugOutput("todayshell: " + std::to_string(items) +
                        " Today item(s)");
  if (shot != nullptr) {
    Settle();
    const bool saved = screen.grab().save(QString::fromLocal8Bit(shot), "PNG");
    return saved ? 0 : 1;
  }
  return application.exec();
}
