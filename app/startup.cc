#include "app/startup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "app/main_window.h"
#include "kit/device_window.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/screen.h"
#include "kit/string_table.h"
#include "platform/debug.h"
#include "platform/kernel_objects.h"
#include "platform/unique_fd.h"
#include "platform/window_endpoints.h"

namespace app {

namespace {

// The write end of the pipe through which a termination signal reaches the
// message loop (a signal handler may only write).
int termination_pipe_write = -1;

void OnTerminationSignal(int) {
  if (termination_pipe_write >= 0) {
    char byte = 1;
    ssize_t written = ::write(termination_pipe_write, &byte, 1);
    (void)written;  // a full pipe already holds a request
  }
}

// Turns SIGTERM, SIGINT and SIGHUP into a call on the loop's thread for as
// long as the object lives. `Catch` takes the signals at once (a request
// that comes before anyone listens waits in the pipe); `Listen` hands them to
// the event loop. When the pipe cannot be made the signals keep their default
// action.
class TerminationRequests {
 public:
  bool Catch() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    read_end_.Reset(fds[0]);
    write_end_.Reset(fds[1]);
    termination_pipe_write = write_end_.get();
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
      ::sigaction(signal, &action, nullptr);
    }
    return true;
  }

  // Needs the application object; `on_request` runs on the loop's thread.
  void Listen(const std::function<void()>& on_request) {
    if (!read_end_) return;
    notifier_ = std::make_unique<QSocketNotifier>(read_end_.get(),
                                                  QSocketNotifier::Read);
    QObject::connect(
        notifier_.get(), &QSocketNotifier::activated, [this, on_request] {
          char buffer[16];
          while (::read(read_end_.get(), buffer, sizeof buffer) > 0) {
          }
          on_request();
        });
  }

  // Requests from here on wait in the pipe again.
  void StopListening() { notifier_.reset(); }

  ~TerminationRequests() {
    if (!read_end_) return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
      ::sigaction(signal, &action, nullptr);
    }
    termination_pipe_write = -1;
    notifier_.reset();
    read_end_.Reset();
    write_end_.Reset();
  }

 private:
  platform::UniqueFd read_end_;
  platform::UniqueFd write_end_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

void RequestExit(MainWindow* window) {
  kit::CancelAllDialogs();
  QTimer::singleShot(0, window, [window] { ExitOnceUnwound(window); });
}

void ExitOnceUnwound(MainWindow* window) {
  if (kit::ModalDepth() > 0) {
    // A dialog's loop is still unwinding (or one slipped in): end it, and
    // come back once it has.
    kit::CancelAllDialogs();
    QTimer::singleShot(1, window, [window] { ExitOnceUnwound(window); });
    return;
  }
  window->Dispatch(kit::cmds::kExit);
}

int RunProgram(int argc, char** argv) {
  TerminationRequests termination;
  if (!termination.Catch()) {
    platform::DebugOutput(std::string_view(
        "pelicorde: termination signals keep their default action"));
  }
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
    // A request that comes while the window initialises (it can be found
    // before it is ready) is kept and acted on once it is.
    bool ready = false;
    bool requested = false;
    termination.Listen([&] {
      if (ready) {
        RequestExit(&window);
      } else {
        requested = true;
        kit::CancelAllDialogs();
      }
    });
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
      ready = true;
      if (requested) RequestExit(&window);
      window.ShowAtStart();
      application.exec();
      window.TearDown();
    }
    termination.StopListening();
  }
  LogFailure(mutex->Release(), "releasing the instance mutex");
  mutex->Close();
  return 0;
}

}  // namespace app
