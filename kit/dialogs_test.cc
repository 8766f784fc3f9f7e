// The password prompt and the file browser, run modally and driven by a
// dialog script the way a user would: typing, tapping, choosing commands.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kit/device_window.h"
#include "kit/file_browser.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/files.h"
#include "platform/testing/temp_device.h"

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace kit {
namespace {

void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
  }
}

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureApplication();
    previous_messages_ =
        SetMessageScript([this](const MessageRequest& request) {
          messages_.push_back(request.caption + QStringLiteral(": ") +
                              request.text);
          return kAnswerOk;
        });
  }
  void TearDown() override {
    SetMessageScript(previous_messages_);
    SetDialogScript({});
  }

  // Runs `steps` on the dialog the next Run() shows.
  void Script(std::function<void(DeviceDialog*)> steps) {
    SetDialogScript(std::move(steps));
  }

  void MakeFile(const std::string& device_path, size_t size) {
    std::filesystem::path host = device_.HostPath(device_path);
    std::filesystem::create_directories(host.parent_path());
    std::ofstream(host, std::ios::binary) << std::string(size, 'x');
  }

  platform::testing::TempDevice device_;
  std::vector<QString> messages_;
  MessageScript previous_messages_;
};

TEST_F(DialogsTest, CheckModeKeepsAskingUntilTheEntryMatches) {
  std::u16string password = u"Secret";
  bool up_while_shown = false;
  Script([&](DeviceDialog* dialog) {
    up_while_shown = PasswordPromptUp();
    auto* entered = FindControl<QLineEdit>(dialog, kPasswordEdit);
    EXPECT_TRUE(FindControl<QLineEdit>(dialog, kNewPasswordEdit)->isHidden());
    EXPECT_EQ(FindControl<QLabel>(dialog, kPasswordLabel)->text(),
              QStringLiteral("Input Password:"));
    Type(entered, QStringLiteral("secret"));  // case matters
    dialog->Dispatch(kCommandOk);
    EXPECT_TRUE(dialog->isVisible()) << "a wrong entry never ends the dialog";
    EXPECT_TRUE(entered->text().isEmpty());
    Type(entered, QStringLiteral("Secret"));
    dialog->Dispatch(kCommandOk);
  });
  EXPECT_EQ(PasswordPrompt(nullptr, PasswordMode::kCheck, &password), 1);
  EXPECT_TRUE(up_while_shown);
  EXPECT_FALSE(PasswordPromptUp());
  EXPECT_EQ(messages_,
            std::vector<QString>{QStringLiteral("Error: Password Error!")});
  EXPECT_EQ(password, u"Secret");

  Script([](DeviceDialog* dialog) { dialog->Dispatch(kCommandCancel); });
  EXPECT_EQ(PasswordPrompt(nullptr, PasswordMode::kCheck, &password), 2);
}

TEST_F(DialogsTest, ChangeModeStoresAtMostTenCharacters) {
  std::u16string password;
  Script([&](DeviceDialog* dialog) {
    EXPECT_TRUE(FindControl<QLineEdit>(dialog, kPasswordEdit)->isHidden())
        << "no old password to give";
    auto* fresh = FindControl<QLineEdit>(dialog, kNewPasswordEdit);
    auto* confirm = FindControl<QLineEdit>(dialog, kConfirmPasswordEdit);
    Type(fresh, QStringLiteral("abcdefghijkl"));  // the 12th is refused
    EXPECT_EQ(fresh->text(), QStringLiteral("abcdefghijk"));
    Type(confirm, QStringLiteral("abcdefghijX"));  // differs only in the 11th
    dialog->Dispatch(kCommandOk);
  });
  EXPECT_EQ(PasswordPrompt(nullptr, PasswordMode::kChange, &password), 1);
  EXPECT_EQ(password, u"abcdefghij");

  // Confirmation differs within the first ten: refused, edits emptied.
  Script([&](DeviceDialog* dialog) {
    Type(FindControl<QLineEdit>(dialog, kPasswordEdit),
         QStringLiteral("abcdefghij"));
    Type(FindControl<QLineEdit>(dialog, kNewPasswordEdit),
         QStringLiteral("one"));
    Type(FindControl<QLineEdit>(dialog, kConfirmPasswordEdit),
         QStringLiteral("two"));
    dialog->Dispatch(kCommandOk);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(
        FindControl<QLineEdit>(dialog, kNewPasswordEdit)->text().isEmpty());
    // Then the password is removed: old one given, new and confirm empty.
    Type(FindControl<QLineEdit>(dialog, kPasswordEdit),
         QStringLiteral("abcdefghij"));
    dialog->Dispatch(kCommandOk);
  });
  EXPECT_EQ(PasswordPrompt(nullptr, PasswordMode::kChange, &password), 1);
  EXPECT_EQ(password, u"");
  EXPECT_EQ(messages_, std::vector<QString>{
                           QStringLiteral("Error: Password is not the same!")});
}

TEST_F(DialogsTest, SizesAndSaveNames) {
  EXPECT_EQ(FileSizeText(0), u"0B");
  EXPECT_EQ(FileSizeText(1024), u"1024B");
  EXPECT_EQ(FileSizeText(1025), u"1.0KB");
  EXPECT_EQ(FileSizeText(1048576), u"1024.0KB");
  EXPECT_EQ(FileSizeText(1048577), u"1.0MB");

  EXPECT_EQ(SavePath(u"\\My Documents\\", u"report", u".txt"),
            u"\\My Documents\\report.txt");
  EXPECT_EQ(SavePath(u"\\", u"a.TXT", u".txt"), u"\\a.TXT");
  EXPECT_EQ(SavePath(u"\\", u"ab", u".txt"), u"\\ab.txt");

  EXPECT_TRUE(PassesTypeFilter(u"song.MP3", u".wav;.mp3;.mp2"));
  EXPECT_TRUE(PassesTypeFilter(u"odd.mp", u".wav;.mp3;.mp2"))
      << "a plain substring test";
  EXPECT_FALSE(PassesTypeFilter(u"notes.txt", u".wav;.mp3;.mp2"));
  EXPECT_FALSE(PassesTypeFilter(u"README", u".wav;.mp3;.mp2"));
}

TEST_F(DialogsTest, BrowsingListsFoldersAndFilteredFiles) {
  MakeFile("\\Sounds\\ring.mp3", 1025);
  MakeFile("\\Sounds\\beep.WAV", 10);
  MakeFile("\\Sounds\\notes.txt", 5);
  MakeFile("\\Sounds\\Old\\x.mp2", 1);

  std::vector<std::vector<QString>> listings;
  auto listing = [](DeviceDialog* dialog) {
    std::vector<QString> rows;
    auto* list = FindControl<QTreeWidget>(dialog, kFileList);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      rows.push_back(list->topLevelItem(i)->text(0) + "|" +
                     list->topLevelItem(i)->text(1));
    }
    return rows;
  };
  Script([&](DeviceDialog* dialog) {
    auto* browser = static_cast<FileBrowserDialog*>(dialog);
    listings.push_back(listing(dialog));
    browser->Activate(2);  // "Old"
    listings.push_back(listing(dialog));
    browser->Activate(0);  // ".."
    browser->Activate(3);  // ring.mp3: chosen at once in open mode
  });
  std::u16string folder = u"\\Sounds\\";
  std::u16string result;
  ASSERT_EQ(BrowseForFile(nullptr, BrowseMode::kOpen, u".WAV;.mp3;.mp2",
                          &folder, &result),
            1);
  EXPECT_EQ(result, u"\\Sounds\\ring.mp3\r\n");
  EXPECT_EQ(folder, u"\\Sounds\\");
  ASSERT_EQ(listings.size(), 2u);
  EXPECT_EQ(listings[0], (std::vector<QString>{"..|", "beep.WAV|10B", "Old|Dir",
                                               "ring.mp3|1.0KB"}));
  EXPECT_EQ(listings[1], (std::vector<QString>{"..|", "x.mp2|1B"}));

  // A start folder that does not exist starts at the root; the folder the
  // user ends in is handed back even when cancelled.
  Script([&](DeviceDialog* dialog) {
    std::vector<QString> rows = listing(dialog);
    auto sounds =
        std::find(rows.begin(), rows.end(), QStringLiteral("Sounds|Dir"));
    ASSERT_NE(sounds, rows.end());
    EXPECT_NE(rows.front(), QStringLiteral("..|")) << "the root has no way up";
    static_cast<FileBrowserDialog*>(dialog)->Activate(
        static_cast<int>(sounds - rows.begin()));
    dialog->Dispatch(kCommandCancel);
  });
  folder = u"\\Nowhere\\";
  EXPECT_EQ(
      BrowseForFile(nullptr, BrowseMode::kOpen, u".mp3", &folder, &result), 0);
  EXPECT_EQ(folder, u"\\Sounds\\");
}

TEST_F(DialogsTest, SaveAndFolderModes) {
  MakeFile("\\My Documents\\old.txt", 3);
  Script([&](DeviceDialog* dialog) {
    EXPECT_FALSE(FindControl<QLineEdit>(dialog, kFileNameEdit)->isHidden());
    EXPECT_EQ(FindControl<QLabel>(dialog, kFolderLabel)->text(),
              QStringLiteral("\\My Documents\\"));
    Type(FindControl<QLineEdit>(dialog, kFileNameEdit),
         QStringLiteral("report"));
    dialog->Dispatch(kCommandOk);
  });
  std::u16string folder = u"\\My Documents\\";
  std::u16string result;
  ASSERT_EQ(
      BrowseForFile(nullptr, BrowseMode::kSave, u".txt", &folder, &result), 1);
  EXPECT_EQ(result, u"\\My Documents\\report.txt\r\n");

  // Tapping a file copies its name; an empty name with a folder focused
  // ends with 0.
  Script([&](DeviceDialog* dialog) {
    static_cast<FileBrowserDialog*>(dialog)->Activate(1);
    EXPECT_EQ(FindControl<QLineEdit>(dialog, kFileNameEdit)->text(),
              QStringLiteral("old.txt"));
    dialog->Dispatch(kCommandOk);
  });
  ASSERT_EQ(
      BrowseForFile(nullptr, BrowseMode::kSave, u".txt", &folder, &result), 1);
  EXPECT_EQ(result, u"\\My Documents\\old.txt\r\n");
  Script([&](DeviceDialog* dialog) {
    dialog->Dispatch(kCommandOk);
  });  // ".." focused
  EXPECT_EQ(
      BrowseForFile(nullptr, BrowseMode::kSave, u".txt", &folder, &result), 0);

  Script([&](DeviceDialog* dialog) {
    auto* list = FindControl<QTreeWidget>(dialog, kFileList);
    EXPECT_EQ(list->topLevelItemCount(), 1) << "folder mode lists no files";
    dialog->Dispatch(kCommandOk);
  });
  ASSERT_EQ(BrowseForFolder(nullptr, &folder), 1);
  EXPECT_EQ(folder, u"\\My Documents\\");
}

}  // namespace
}  // namespace kit
