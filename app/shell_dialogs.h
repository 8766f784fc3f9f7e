// The main window's own dialogs: New File (template 127), File Property
// (125), the node Property dialog (123) and About (108). Each is a
// full-screen device dialog with "OK" and "Cancel" soft keys, run modally
// with Run() (1 for OK, 2 for Cancel); controls carry their identifiers.
// UI thread only.
#ifndef TELVANE_APP_SHELL_DIALOGS_H_
#define TELVANE_APP_SHELL_DIALOGS_H_

#include <string>

#include "kit/device_window.h"
#include "store/document.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace app {

// Dialog templates and control identifiers.
inline constexpr int kAboutTemplate = 108;
inline constexpr int kNodePropertyTemplate = 123;
inline constexpr int kFilePropertyTemplate = 125;
inline constexpr int kNewFileTemplate = 127;

inline constexpr int kNewFileNameEdit = 1024;
inline constexpr int kNewFileAuthorEdit = 1023;
inline constexpr int kNewFileBrowse = 1027;
inline constexpr int kNewFilePassword = 1026;
inline constexpr int kNewFileRecycleBin = 1034;

inline constexpr int kFilePropertyAuthorEdit = 1023;
inline constexpr int kFilePropertyBuildDate = 1027;
inline constexpr int kFilePropertyModifyDate = 1028;
inline constexpr int kFilePropertyPassword = 1026;

inline constexpr int kNodePropertyAuthorEdit = 1013;
inline constexpr int kNodePropertyCreateDate = 1018;
inline constexpr int kNodePropertyPassword = 1019;

inline constexpr int kAboutProductName = 1000;
inline constexpr int kAboutVersion = 1001;

// The author fields hold 16 characters.
inline constexpr int kAuthorChars = 16;

// The program's version, as About shows it.
inline constexpr char kVersionText[] = "1.0.0";

// "New File": a file name (typed, or chosen with "Browse..." in the file
// browser's save mode for ".zud" files), an author, a password and whether
// to create a Recycle Bin. OK with an empty name cancels; a name that
// exists (after the new-file name rule) or is the open document's path
// shows "File exists!" under "Error" and keeps the dialog open.
class NewFileDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  // `open_path` is the open document's path (empty: none); `*last_dir` is
  // where "Browse..." starts and is updated to where it ended.
  NewFileDialog(QWidget* parent, std::u16string open_path,
                std::u16string* last_dir);

  // After OK: the file to create (lower case, ending in ".zud") and the
  // choices.
  const std::u16string& path() const { return path_; }
  const store::NewFileOptions& options() const { return options_; }

 protected:
  void OnCommand(uint32_t command) override;

 private:
  void Browse();
  void Accept();

  std::u16string open_path_;
  std::u16string* last_dir_;
  std::u16string path_;
  store::NewFileOptions options_;
  QLineEdit* name_;
  QLineEdit* author_;
  QCheckBox* recycle_bin_;
};

// "File Property": the header's author (editable), build and modify dates
// and a "Password" button that changes the password the dialog keeps. The
// caller writes author() and password() into the header on OK.
class FilePropertyDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  FilePropertyDialog(QWidget* parent, const store::FileHeader& header);

  std::u16string author() const;
  const std::u16string& password() const { return password_; }

 private:
  std::u16string password_;
  QLineEdit* author_;
};

// "Property" of a node: the record's author (editable), its date, and
// "Password..." (the prompt in change mode on the node's password). After
// OK, changed() tells whether the record must be rewritten, and record()
// holds the new author and password.
class NodePropertyDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  NodePropertyDialog(QWidget* parent, const store::NodeRecord& record);

  bool changed() const;
  // The record with the dialog's author and password.
  store::NodeRecord record() const;

 private:
  store::NodeRecord record_;
  std::u16string original_author_;
  bool password_changed_ = false;
  QLineEdit* author_;
};

// "About": the product name and the version.
class AboutDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent);
};

// A record or header date as the dialogs show it (date and time); empty
// when the date is not a valid time.
std::u16string DateText(double ole_date);

}  // namespace app

#endif  // TELVANE_APP_SHELL_DIALOGS_H_
