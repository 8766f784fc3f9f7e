#include "kit/testing/qt_app.h"

#include <QApplication>
#include <cstdlib>

namespace kit::testing {

QApplication* EnsureApplication() {
  if (auto* existing =
          qobject_cast<QApplication*>(QCoreApplication::instance())) {
    return existing;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("QT_SCALE_FACTOR", "1", 1);
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  // Lives until the process ends: widgets of every test need it.
  return new QApplication(argc, argv);
}

}  // namespace kit::testing
