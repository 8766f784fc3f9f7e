// Runs the real telvane-tour into a scratch folder and checks that every
// window and menu of the tour was written as a PNG with real pixels.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/testing/temp_device.h"

namespace {

namespace fs = std::filesystem;

struct PngSize {
  uint32_t width = 0;
  uint32_t height = 0;
};

// The size in a PNG's header; zero when the bytes are not a PNG.
PngSize ReadPngSize(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  static const char kSignature[] = "\x89PNG\r\n\x1a\n";
  if (bytes.size() < 24 || bytes.compare(0, 8, kSignature, 8) != 0 ||
      bytes.compare(12, 4, "IHDR") != 0) {
    return {};
  }
  auto word = [&bytes](size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
      value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    }
    return value;
  };
  return {word(16), word(20)};
}

TEST(TourTest, WritesEveryWindowAndMenu) {
  fs::path out = fs::temp_directory_path() /
                 ("telvane-tour-test-" + std::to_string(::getpid()));
  fs::remove_all(out);
  platform::testing::CommandResult result = platform::testing::RunCommand(
      (platform::testing::BinDir() / "telvane-tour").string() + " " +
      out.string() + " 2>&1");
  EXPECT_EQ(result.exit_code, 0) << result.out;

  const char* const kPictures[] = {
      "main-mode1",
      "main-mode2",
      "menu-system",
      "menu-main",
      "menu-main-mode2",
      "menu-tree-context",
      "preview-popup",
      "new-file",
      "file-property",
      "node-property",
      "about",
      "password-check",
      "password-change",
      "browse-open",
      "browse-save",
      "browse-folder",
      "my-text",
      "menu-my-text",
      "manage-mark",
      "message-view",
      "menu-message-view",
      "message-view-edit",
      "new-folder",
      "preference",
      "popup",
      "popup-blue",
      "popup-mint",
      "popup-sunset",
      "popup-sent",
      "picker-single",
      "menu-picker-single",
      "picker-multiple",
      "menu-picker-multiple",
      "picker-info",
      "picker-info-group",
      "picker-photos",
      "picker-category",
      "picker-touch",
      "group-dialog",
      "member-editor",
      "compose",
      "menu-compose",
      "compose-reply",
      "compose-resend",
      "compose-signature",
      "compose-70",
      "timer-set",
      "timer-clear",
      "group-send-ready",
      "group-send-sending",
      "group-send-complete",
      "filter-list",
      "menu-filter-list",
      "filter-edit",
      "filter-edit-contact-default",
      "filter-edit-stranger-default",
      "rule-editor",
      "filter-edit-middle",
      "filter-edit-bottom",
      "filter-edit-error",
      "filter-edit-fast-create",
      "rule-password",
      "black-list",
      "sms-setting",
      "sms-setting-bottom",
      "alert-option",
      "alert-option-bottom",
      "alert-option-test",
      "security",
      "font-setting",
      "font",
      "hotkey",
      "hotkey-capture",
      "menu-hotkey",
      "menu-hotkey-row",
      "import-inbox",
      "import-sent",
      "menu-import",
      "xml-import-result",
      "today-none",
      "today-3",
      "today-options",
  };
  for (const char* name : kPictures) {
    fs::path file = out / (std::string(name) + ".png");
    SCOPED_TRACE(file.string());
    ASSERT_TRUE(fs::exists(file)) << result.out;
    EXPECT_GT(fs::file_size(file), 0u);
    PngSize size = ReadPngSize(file);
    EXPECT_GT(size.width, 8u);
    EXPECT_GT(size.height, 8u);
  }
  // The windows are full-screen dialogs: at least the device's width.
  EXPECT_GE(ReadPngSize(out / "main-mode1.png").width, 240u);
  EXPECT_GE(ReadPngSize(out / "my-text.png").width, 240u);

  // Every listed path is one of the files written.
  size_t listed = 0;
  for (const auto& entry : fs::directory_iterator(out)) {
    EXPECT_EQ(entry.path().extension(), ".png");
    EXPECT_NE(result.out.find(entry.path().string()), std::string::npos);
    ++listed;
  }
  EXPECT_GE(listed, std::size(kPictures));

  // A usage error is reported, not a crash.
  EXPECT_EQ(
      platform::testing::RunCommand(
          (platform::testing::BinDir() / "telvane-tour").string() + " 2>&1")
          .exit_code,
      2);
  fs::remove_all(out);
}

}  // namespace
