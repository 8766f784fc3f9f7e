// The Today screen with the real pelicordep.dll on a scratch device: what
// the item shows, how it follows the unread count, how it paints when it
// moves, and what a tap starts.
#include "device/todayshell/today_screen.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/kernel_objects.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/testing/temp_device.h"
#include "platform/today.h"

namespace device::todayshell {
namespace {

namespace fs = std::filesystem;
namespace td = platform::today;
using platform::testing::BinDir;
using platform::testing::ReadHostFile;

constexpr char kFolder[] = "\\Program Files\\Telvane\\";
const QString kNoUnread = QString::fromUtf16(u"没有未阅读的短信");

QApplication& App() {
  static int argc = 1;
  static char name[] = "todayshell_test";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Lets queued repaints run: an item that moved paints in three rounds.
void Settle() {
  for (int round = 0; round < 10; ++round) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

// Waits up to 10 s for a host file another process writes.
std::string WaitForFile(const fs::path& path) {
  for (int i = 0; i < 1000 && !fs::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ReadHostFile(path);
}

void RegisterItem(std::u16string_view name, std::u16string_view dll,
                  uint32_t enabled = 1) {
  std::optional<platform::RegistryKey> key = platform::RegistryKey::Create(
      platform::RegistryRoot::kLocalMachine,
      std::u16string(td::kItemsKey) + u"\\" + std::u16string(name));
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->SetDword(u"Type", 4).ok());
  ASSERT_TRUE(key->SetDword(u"Enabled", enabled).ok());
  ASSERT_TRUE(key->SetDword(u"Options", 1).ok());
  ASSERT_TRUE(key->SetString(u"DLL", dll).ok());
}

class TodayScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Install(BinDir().parent_path() / "lib" / "libpelicordep.so",
            "pelicordep.dll");
    RegisterItem(u"\"Telvane\"", u"\\Program Files\\Telvane\\pelicordep.dll");
    screen_.resize(240, 320);
    screen_.show();
  }
  void TearDown() override { unsetenv("TELVANE_TEST_OUTPUT"); }

  fs::path Install(const fs::path& from, const std::string& name) {
    fs::path to = device_.HostPath(kFolder + name);
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    return to;
  }

  void SetCount(int32_t count) {
    if (!count_) {
      bool existed = false;
      count_ =
          platform::SharedMemory::CreateOrOpen("ZUD_SmsCount", 4, &existed);
      ASSERT_TRUE(count_);
    }
    *static_cast<volatile int32_t*>(count_->data()) = count;
  }

  QWidget* Item() { return screen_.items().at(0).window; }
  QString ItemText() {
    Settle();
    return Item()->accessibleName();
  }

  // The right end of the item's row, where no text or icon is drawn,
  // against the screen's own background at the same place.
  void ExpectBackgroundUnderItem() {
    Settle();
    QWidget* item = Item();
    const QRect strip(200, item->y() + 1, 36, item->height() - 2);
    QImage shown = screen_.grab(strip).toImage();
    QImage own(strip.size(), QImage::Format_RGB32);
    screen_.render(&own, QPoint(), QRegion(strip),
                   QWidget::DrawWindowBackground);
    shown = shown.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), own.size());
    int different = 0;
    for (int y = 0; y < own.height(); ++y) {
      for (int x = 0; x < own.width(); ++x) {
        QRgb a = shown.pixel(x, y);
        QRgb b = own.pixel(x, y);
        if (std::abs(qRed(a) - qRed(b)) > 2 ||
            std::abs(qGreen(a) - qGreen(b)) > 2 ||
            std::abs(qBlue(a) - qBlue(b)) > 2) {
          ++different;
        }
      }
    }
    EXPECT_EQ(different, 0) << "at y " << item->y();
  }

  QApplication& app_ = App();
  platform::testing::TempDevice device_;
  std::optional<platform::SharedMemory> count_;
  TodayScreen screen_;
};

TEST_F(TodayScreenTest, ShowsNoUnreadBeforeTheProgramEverRan) {
  ASSERT_EQ(screen_.LoadItems(), 1);
  // The first refresh set the unknown height.
  EXPECT_EQ(screen_.items()[0].record->height, 23);
  EXPECT_EQ(Item()->height(), 23);
  EXPECT_EQ(Item()->objectName(), "MyTodayScreen");
  EXPECT_EQ(ItemText(), kNoUnread);
}

TEST_F(TodayScreenTest, FollowsTheUnreadCount) {
  ASSERT_EQ(screen_.LoadItems(), 1);
  Settle();
  SetCount(3);
  EXPECT_EQ(screen_.RefreshItems(), 1);
  EXPECT_EQ(ItemText(), QString::fromUtf16(u"未读短信: 3"));
  EXPECT_EQ(screen_.RefreshItems(), 0);  // unchanged
  SetCount(4);
  EXPECT_EQ(screen_.RefreshItems(), 1);
  EXPECT_EQ(ItemText(), QString::fromUtf16(u"未读短信: 4"));
  SetCount(0);
  EXPECT_EQ(screen_.RefreshItems(), 1);
  EXPECT_EQ(ItemText(), kNoUnread);
}

TEST_F(TodayScreenTest, DrawsInTheScreensTextColour) {
  ASSERT_EQ(screen_.LoadItems(), 1);
  ASSERT_EQ(ItemText(), kNoUnread);
  // Text pixels, right of the icon, are in the screen's text colour
  // (white, smoothed at the edges); the background there is blue, with
  // little red in it.
  QImage row = Item()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int light = 0;
  for (int y = 0; y < row.height(); ++y) {
    for (int x = 29; x < 120; ++x) {
      if (qRed(row.pixel(x, y)) > 160) ++light;
    }
  }
  EXPECT_GT(light, 10);
  EXPECT_EQ(
      TodayScreen::WindowProcedure(&screen_, td::kGetColor, td::kColorText, 0),
      0x00FFFFFF);
}

TEST_F(TodayScreenTest, AMovedItemNeverShowsAStaleBackground) {
  ASSERT_EQ(screen_.LoadItems(), 1);
  ExpectBackgroundUnderItem();
  // Scrolled: the item lies 120 pixels lower, over a lighter background.
  screen_.SetScrollOffset(-120);
  ExpectBackgroundUnderItem();
  screen_.SetScrollOffset(-40);
  ExpectBackgroundUnderItem();
  EXPECT_EQ(ItemText(), kNoUnread);
}

TEST_F(TodayScreenTest, ItemsThatCannotStartAreLeftOut) {
  RegisterItem(u"Missing", u"\\Program Files\\Telvane\\nothere.dll");
  RegisterItem(u"Off", u"\\Program Files\\Telvane\\nothere.dll", 0);
  // The real library cannot map a count that is too small under its name.
  bool existed = false;
  auto small =
      platform::SharedMemory::CreateOrOpen("ZUD_SmsCount", 2, &existed);
  ASSERT_TRUE(small);
  EXPECT_EQ(screen_.LoadItems(), 0);
  EXPECT_TRUE(screen_.findChildren<QWidget*>("MyTodayScreen").isEmpty());
  std::string log = ReadHostFile(device_.root() / "debug.log");
  EXPECT_NE(log.find("item \"\"Telvane\"\" left out"), std::string::npos)
      << log;
  EXPECT_NE(log.find("item \"Missing\" left out"), std::string::npos) << log;
  EXPECT_EQ(log.find("item \"Off\""), std::string::npos) << log;
  EXPECT_EQ(screen_.RefreshItems(), 0);
}

TEST_F(TodayScreenTest, TheOptionsDialogComesFromTheItem) {
  ASSERT_EQ(screen_.LoadItems(), 1);
  std::unique_ptr<QDialog> dialog = screen_.MakeOptionsDialog(0);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->objectName(), "500");
  ASSERT_NE(dialog->findChild<QLabel*>("1001"), nullptr);
  auto* ok = dialog->findChild<QPushButton*>("1");
  ASSERT_NE(ok, nullptr);
  QTimer::singleShot(0, ok, &QPushButton::click);
  EXPECT_EQ(dialog->exec(), 1);
  EXPECT_EQ(screen_.MakeOptionsDialog(1), nullptr);
}

TEST_F(TodayScreenTest, ATapStartsTheFirstProgramTheFolderLists) {
  // Stand-ins for the program that record which one was started; the one
  // made first is not the first in name order.
  Install(BinDir() / "devicetestprogram", "pelicordeZ.exe");
  Install(BinDir() / "devicetestprogram", "pelicorde-b.exe");
  Install(BinDir() / "devicetestprogram", "pelicordex.dat");
  fs::path output = device_.root().parent_path() / "tap.txt";
  setenv("TELVANE_TEST_OUTPUT", output.c_str(), 1);
  ASSERT_EQ(screen_.LoadItems(), 1);
  Settle();
  QTest::mouseClick(Item(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
  std::string text = WaitForFile(output);
  EXPECT_NE(text.find("program=\\Program Files\\Telvane\\pelicorde-b.exe\n"),
            std::string::npos)
      << text;
}

TEST_F(TodayScreenTest, ATapBringsTheRunningProgramForward) {
  // The running instance: it holds the instance mutex (this test does) and
  // its window records the message it is posted.
  bool existed = false;
  auto mutex = platform::NamedMutex::CreateOrOpen(
      "PELICORDE_EXE_MUTEX", /*initially_owned=*/true, &existed);
  ASSERT_TRUE(mutex);
  fs::path output = device_.root().parent_path() / "window.txt";
  setenv("TELVANE_TEST_OUTPUT", output.c_str(), 1);
  Install(BinDir() / "devicetestprogram", "running.exe");
  ASSERT_TRUE(
      platform::StartProgram(u"\\Program Files\\Telvane\\running.exe",
                             {u"--wait-window", u"Dialog", u"Telvane"}));
  ASSERT_FALSE(WaitForFile(fs::path(output.string() + ".ready")).size() > 0);
  ASSERT_TRUE(fs::exists(output.string() + ".ready"));
  // The real program, started by the tap, is the second instance.
  Install(BinDir() / "pelicorde", "pelicorde.exe");
  ASSERT_EQ(screen_.LoadItems(), 1);
  Settle();
  QTest::mouseClick(Item(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
  EXPECT_EQ(WaitForFile(output), "1274 0 515\n");
  EXPECT_EQ(mutex->Release().ok(), true);
}

}  // namespace
}  // namespace device::todayshell
