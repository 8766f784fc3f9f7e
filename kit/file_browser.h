// The program's own file dialog over the device's file system: open a
// file, name a file to save, or choose a folder. One folder is listed at a
// time (folders, then files of the type filter, in the platform's order);
// ".." and folders navigate.
//
// Type filters are extensions with their dots separated by ";" (".zud",
// ".wav;.mp3;.mp2"); a file passes when its extension, in lower case,
// occurs anywhere in the filter text. UI thread only.
#ifndef TELVANE_KIT_FILE_BROWSER_H_
#define TELVANE_KIT_FILE_BROWSER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "kit/device_window.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace kit {

enum class BrowseMode { kOpen, kSave, kFolder };

// Control identifiers of the dialog (template 126).
inline constexpr int kFileBrowserTemplate = 126;
inline constexpr int kFileList = 1005;
inline constexpr int kFileNameEdit = 1042;
inline constexpr int kFolderLabel = 1044;
inline constexpr int kFileTypeList = 40156;

// Open or save mode: returns 1 with `*result` set to the chosen path
// followed by "\r\n", or 0. `*folder` is where the dialog starts (a device
// path ending in "\"; "\" when it is not an existing folder) and, when the
// dialog ends, the folder the user was in.
int BrowseForFile(QWidget* parent, BrowseMode mode,
                  std::u16string_view type_filter, std::u16string* folder,
                  std::u16string* result);

// Folder mode: returns 1 with `*folder` replaced by the chosen folder, or 0.
int BrowseForFolder(QWidget* parent, std::u16string* folder);

// The size column's text: "1024B", "1.0KB", "1.0MB".
std::u16string FileSizeText(uint64_t size);

// Whether a file named `name` is listed under `type_filter` (lower case).
bool PassesTypeFilter(std::u16string_view name,
                      std::u16string_view type_filter);

// The path saved for the typed `name` in `folder`: the filter is appended
// unless the name's last 4 characters, in lower case, equal it.
std::u16string SavePath(std::u16string_view folder, std::u16string_view name,
                        std::u16string_view type_filter);

class FileBrowserDialog : public DeviceDialog {
  Q_OBJECT

 public:
  FileBrowserDialog(QWidget* parent, BrowseMode mode,
                    std::u16string_view type_filter,
                    std::u16string_view start_folder);

  const std::u16string& folder() const { return folder_; }
  const std::u16string& result() const { return result_; }

  // Activates the entry in row `row` as a tap would.
  void Activate(int row);

 protected:
  void OnCommand(uint32_t command) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void List();
  void Choose(const std::u16string& path);
  bool FocusedIsFile(std::u16string* name) const;

  BrowseMode mode_;
  std::u16string filter_;
  std::u16string folder_;
  std::u16string result_;
  QTreeWidget* list_;
  QLineEdit* name_ = nullptr;
  QComboBox* type_ = nullptr;
  QLabel* folder_label_ = nullptr;
};

}  // namespace kit

#endif  // TELVANE_KIT_FILE_BROWSER_H_
