#include "app/startup.h"

#include <QApplication>
#include <QGuiApplication>
#include <optional>

#include "app/kit/message_box.h"
#include "app/kit/qt_text.h"
#include "app/kit/screen.h"
#include "app/kit/string_table.h"
#include "app/main_window.h"
#include "platform/debug.h"
#include "platform/kernel_objects.h"
#include "platform/window_endpoints.h"

namespace app {

int RunProgram(int argc, char** argv) {
  bool existed = false;
  std::optional<platform::NamedMutex> mutex =
      platform::NamedMutex::CreateOrOpen(kInstanceMutexName,
                                         /*initially_owned=*/true, &existed);
  if (!mutex) return 0;
  if (existed) {
    platform::WaitResult taken = mutex->Wait(0);
    if (taken == platform::WaitResult::kTimeout ||
        taken == platform::WaitResult::kFailed) {
      // Another instance runs: wake its window.
      if (std::optional<platform::WindowRef> window =
              platform::FindTopLevelWindow(
                  kWindowClass, kit::StringView(kit::ids::kProductName))) {
        LogFailure(platform::PostWindowMessage(*window, kMessageTrayNotify, 0,
                                               kTrayDoubleClick),
                   "waking the running instance");
      }
      mutex->Close();
      return 0;
    }
    // The mutex was left by an instance that has ended: this one runs.
  }

  kit::PrepareDisplayScale();
  QApplication application(argc, argv);
  application.setQuitOnLastWindowClosed(false);
  {
    MainWindow window;
    if (!window.Initialize()) {
      platform::DebugOutput(std::string_view(
          "pelicorde: ZUD_SmsCount cannot be created; not starting"));
      // Nobody could answer a box without a display.
      if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
        kit::ShowMessage(nullptr, kit::Str(kit::ids::kNoUnreadCounter),
                         kit::Str(kit::ids::kCaptionError));
      }
      window.TearDown();
    } else {
      QObject::connect(&window, &MainWindow::Exited, &application,
                       &QApplication::quit, Qt::QueuedConnection);
      window.ShowAtStart();
      application.exec();
      window.TearDown();
    }
  }
  LogFailure(mutex->Release(), "releasing the instance mutex");
  mutex->Close();
  return 0;
}

}  // namespace app
