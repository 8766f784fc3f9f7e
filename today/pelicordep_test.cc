// The item library called directly through its ordinals, as built, from a
// scratch device.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/kernel_objects.h"
#include "platform/modules.h"
#include "platform/testing/temp_device.h"
#include "platform/today.h"

namespace today {
namespace {

namespace td = platform::today;

constexpr char16_t kLibrary[] = u"\\Program Files\\Telvane\\pelicordep.dll";

QApplication& App() {
  static int argc = 1;
  static char name[] = "today_test";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class PelicordepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::path to =
        device_.HostPath("\\Program Files\\Telvane\\pelicordep.dll");
    std::filesystem::create_directories(to.parent_path());
    std::filesystem::copy_file(
        platform::testing::BinDir().parent_path() / "lib" / "libpelicordep.so",
        to);
    library_ = platform::Library::Load(kLibrary);
    ASSERT_NE(library_, nullptr);
    initialise_ = reinterpret_cast<td::InitializeItemFunction>(
        td::EntryPointByOrdinal(*library_, td::kOrdinalInitializeItem));
    options_ = reinterpret_cast<td::WindowProcedure>(
        td::EntryPointByOrdinal(*library_, td::kOrdinalOptionsDialog));
    ASSERT_NE(initialise_, nullptr);
    ASSERT_NE(options_, nullptr);
    record_.enabled = true;
    record_.module = library_.get();
  }

  // The item window's procedure (from its class property).
  intptr_t Send(QWidget* window, uint32_t message, uintptr_t first,
                intptr_t second) {
    auto procedure = reinterpret_cast<td::WindowProcedure>(
        window->property(td::kProcedureProperty).value<quintptr>());
    return procedure(window, message, first, second);
  }
  intptr_t Refresh(QWidget* window) {
    return Send(window, td::kQueryRefreshCache, 0,
                reinterpret_cast<intptr_t>(&record_));
  }

  QApplication& app_ = App();
  platform::testing::TempDevice device_;
  std::unique_ptr<platform::Library> library_;
  td::InitializeItemFunction initialise_ = nullptr;
  td::WindowProcedure options_ = nullptr;
  td::ItemRecord record_;
  QWidget parent_;
};

TEST_F(PelicordepTest, OnlyTheNamedOrdinalsAreExported) {
  EXPECT_EQ(td::EntryPointByOrdinal(*library_, 242), nullptr);
  EXPECT_EQ(library_->Symbol("TodayItemWindow"), nullptr);
}

TEST_F(PelicordepTest, ADisabledItemMakesNoWindow) {
  record_.enabled = false;
  EXPECT_EQ(initialise_(&record_, &parent_), nullptr);
  EXPECT_TRUE(parent_.findChildren<QWidget*>().isEmpty());
}

TEST_F(PelicordepTest, NoWindowWhenTheCountCannotBeMapped) {
  // Another block under the name, too small for the count.
  bool existed = false;
  std::optional<platform::SharedMemory> small =
      platform::SharedMemory::CreateOrOpen("ZUD_SmsCount", 2, &existed);
  ASSERT_TRUE(small);
  EXPECT_EQ(initialise_(&record_, &parent_), nullptr);
  EXPECT_TRUE(parent_.findChildren<QWidget*>().isEmpty());
}

TEST_F(PelicordepTest, MakesTheItemWindowAndCreatesTheCount) {
  auto* window = static_cast<QWidget*>(initialise_(&record_, &parent_));
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->parentWidget(), &parent_);
  EXPECT_EQ(window->objectName(), "MyTodayScreen");
  EXPECT_EQ(window->property(td::kClassProperty).toString(), "MyToday");
  // Created at 0 when it did not exist.
  bool existed = false;
  auto count =
      platform::SharedMemory::CreateOrOpen("ZUD_SmsCount", 4, &existed);
  ASSERT_TRUE(count);
  EXPECT_TRUE(existed);
  EXPECT_EQ(*static_cast<int32_t*>(count->data()), 0);
  EXPECT_EQ(Send(window, td::kEraseBackground, 0, 0), 1);
  EXPECT_EQ(Send(window, td::kClearCache, 0, 0), 0);
}

TEST_F(PelicordepTest, RefreshAnswersOnlyForANewHeightOrCount) {
  auto* window = static_cast<QWidget*>(initialise_(&record_, &parent_));
  ASSERT_NE(window, nullptr);
  bool existed = false;
  auto count =
      platform::SharedMemory::CreateOrOpen("ZUD_SmsCount", 4, &existed);
  ASSERT_TRUE(count);
  auto* value = static_cast<int32_t*>(count->data());
  // The height is unknown: it becomes 23, and the item wants painting
  // though the count (0) did not change.
  ASSERT_EQ(record_.height, 0);
  EXPECT_EQ(Refresh(window), 1);
  EXPECT_EQ(record_.height, 23);
  EXPECT_EQ(Refresh(window), 0);
  *value = 3;
  EXPECT_EQ(Refresh(window), 1);
  EXPECT_EQ(Refresh(window), 0);
  *value = 4;
  EXPECT_EQ(Refresh(window), 1);
  // A height the host set stays.
  record_.height = 40;
  EXPECT_EQ(Refresh(window), 0);
  EXPECT_EQ(record_.height, 40);
  // Back to 0 unread is a change as well.
  *value = 0;
  EXPECT_EQ(Refresh(window), 1);
}

TEST_F(PelicordepTest, TheOptionsDialogShowsItsTextAndEndsWithOk) {
  QDialog dialog;
  EXPECT_EQ(options_(&dialog, td::kInitDialog, 0, 0), 1);
  auto* text = dialog.findChild<QLabel*>("1001");
  ASSERT_NE(text, nullptr);
  EXPECT_FALSE(text->text().isEmpty());
  // Other commands and messages are not its own.
  EXPECT_EQ(options_(&dialog, td::kCommand, 2, 0), 0);
  EXPECT_EQ(options_(&dialog, td::kPaint, 0, 0), 0);
  EXPECT_EQ(dialog.result(), 0);
  auto* ok = dialog.findChild<QPushButton*>("1");
  ASSERT_NE(ok, nullptr);
  dialog.show();
  ok->click();
  EXPECT_EQ(dialog.result(), 1);
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace today
