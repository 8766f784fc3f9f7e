// Loading a skin from a scratch device: each file is read whole before any
// of it is used, and a read that fails leaves the built-in look and the
// skin's files as they were.
#include "alerts/ui/popup_look.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <cerrno>
#include <filesystem>
#include <string>

#include "kit/testing/qt_app.h"
#include "platform/files.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/temp_device.h"

namespace alerts::ui {
namespace {

using platform::files::FileCall;
using platform::testing::FileFaults;

constexpr char16_t kSkin[] = u"\\Program Files\\Telvane\\skins\\Blue.cfg";
constexpr char kSkinHost[] = "\\Program Files\\Telvane\\skins\\Blue.cfg";
constexpr char kBitmapHost[] = "\\Program Files\\Telvane\\skins\\Blue.bmp";
// The window's values sit in the first half of the file, so that a part of
// it would already place the window.
constexpr char kCfg[] =
    "[ZuduzAvev Skin SP]\n"
    "DialogLeft=10\nDialogTop=20\nDialogWidth=100\nDialogHeight=60\n"
    "FontSize=12\n"
    ";;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;\n";

std::string BmpBytes() {
  QImage image(100, 60, QImage::Format_RGB32);
  image.fill(QColor(20, 40, 60));
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "BMP");
  return data.toStdString();
}

class PopupLookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    platform::testing::WriteHostFile(device_.HostPath(kSkinHost), kCfg);
    platform::testing::WriteHostFile(device_.HostPath(kBitmapHost), bitmap_);
  }

  // The skin's files are what was written: a load only reads.
  void ExpectFilesUntouched() {
    EXPECT_EQ(platform::testing::ReadHostFile(device_.HostPath(kSkinHost)),
              kCfg);
    EXPECT_EQ(platform::testing::ReadHostFile(device_.HostPath(kBitmapHost)),
              bitmap_);
  }

  platform::testing::TempDevice device_;
  const std::string bitmap_ = BmpBytes();
};

TEST_F(PopupLookTest, ReadFailingPartWayGivesTheBuiltInLookWithTheCause) {
  SkinLook look;
  ASSERT_TRUE(LoadSkinLook(kSkin, &look).ok());
  EXPECT_FALSE(look.built_in);
  EXPECT_EQ(look.skin.dialog_left, 10);

  // The bitmap is read first (its bytes, then the look for more), then the
  // ".cfg" file the same way.
  const struct {
    const char* what;
    size_t read;  // the read of the file that is cut
    size_t keep;
  } kFaults[] = {
      {"the bitmap", 1, bitmap_.size() / 2},
      {"the .cfg file", 3, sizeof kCfg / 2},
  };
  for (const auto& fault : kFaults) {
    SCOPED_TRACE(fault.what);
    SkinLook failed;
    platform::Status status;
    {
      FileFaults faults;
      faults.FailMidway(FileCall::kRead, fault.read, fault.keep, EIO);
      status = LoadSkinLook(kSkin, &failed);
      EXPECT_TRUE(faults.fired()) << faults.Describe();
      EXPECT_EQ(faults.calls(FileCall::kCreate), 0u);
      EXPECT_EQ(faults.calls(FileCall::kWrite), 0u);
    }
    EXPECT_EQ(status.code(), platform::ErrorCode::kIoError);
    EXPECT_NE(status.message().find("Input/output error"), std::string::npos)
        << status.ToString();
    // Nothing of what came was used: the program's own look, whole.
    EXPECT_TRUE(failed.built_in);
    PopupSkin built_in;
    SetBuiltInLook(&built_in);
    EXPECT_EQ(failed.skin, built_in);
    EXPECT_EQ(failed.bitmap.size(), QSize(150, 95));
    ExpectFilesUntouched();
  }

  // Read again without a fault, the skin loads.
  ASSERT_TRUE(LoadSkinLook(kSkin, &look).ok());
  EXPECT_EQ(look.skin.path, kSkin);
}

TEST_F(PopupLookTest, DeviceFilesAreReadWholeOrNotAtAll) {
  platform::Status status;
  std::optional<std::string> bytes =
      ReadDeviceFile(kSkin, sizeof kCfg - 1, &status);
  ASSERT_TRUE(bytes.has_value()) << status.ToString();
  EXPECT_EQ(*bytes, kCfg);

  // Larger than allowed: refused, not cut.
  EXPECT_FALSE(ReadDeviceFile(kSkin, sizeof kCfg - 2, &status).has_value());
  EXPECT_EQ(status.code(), platform::ErrorCode::kInvalidArgument);
  EXPECT_FALSE(ReadDeviceFile(u"\\Program Files\\none.cfg", 100, &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kNotFound);
  EXPECT_FALSE(ReadDeviceFile(u"\\Program Files", 100, &status));
  EXPECT_EQ(status.code(), platform::ErrorCode::kAccessDenied);

  // Missing skin files give the built-in look, with the reason.
  SkinLook look;
  EXPECT_EQ(
      LoadSkinLook(u"\\Program Files\\Telvane\\skins\\None.cfg", &look).code(),
      platform::ErrorCode::kNotFound);
  EXPECT_TRUE(look.built_in);
  EXPECT_FALSE(LoadSkinLook(u"", &look).ok());
  EXPECT_TRUE(look.built_in);
}

}  // namespace
}  // namespace alerts::ui
