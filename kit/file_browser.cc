#include "kit/file_browser.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <vector>

#include "kit/images.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/files.h"
#include "platform/unicode.h"
#include "text/text.h"

namespace kit {
namespace {

constexpr int kIconFolder = 0;
constexpr int kIconFile = 1;
constexpr int kKindRole = Qt::UserRole;  // 0 up, 1 folder, 2 file
constexpr int kKindUp = 0;
constexpr int kKindFolder = 1;
constexpr int kKindFile = 2;

std::u16string Lower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

bool IsFolder(const std::u16string& path) {
  return platform::files::IsFolder(path);
}

}  // namespace

std::u16string FileSizeText(uint64_t size) {
  char text[64];
  if (size <= 1024) {
    std::snprintf(text, sizeof text, "%lluB",
                  static_cast<unsigned long long>(size));
  } else if (size <= 1048576) {
    std::snprintf(text, sizeof text, "%.1fKB",
                  static_cast<double>(size) / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1fMB",
                  static_cast<double>(size) / 1048576);
  }
  return platform::FromUtf8(text);
}

bool PassesTypeFilter(std::u16string_view name,
                      std::u16string_view type_filter) {
  std::u16string extension = Lower(text::FileExtension(name));
  return !extension.empty() &&
         type_filter.find(extension) != std::u16string_view::npos;
}

std::u16string SavePath(std::u16string_view folder, std::u16string_view name,
                        std::u16string_view type_filter) {
  std::u16string path(folder);
  path += name;
  if (name.size() < 4 || Lower(name.substr(name.size() - 4)) != type_filter) {
    path += type_filter;
  }
  return path;
}

FileBrowserDialog::FileBrowserDialog(QWidget* parent, BrowseMode mode,
                                     std::u16string_view type_filter,
                                     std::u16string_view start_folder)
    : DeviceDialog(parent, kFileBrowserTemplate),
      mode_(mode),
      filter_(Lower(type_filter)) {
  folder_ = std::u16string(start_folder);
  if (folder_.empty() || folder_.back() != u'\\') folder_ += u'\\';
  if (folder_ != u"\\" && !IsFolder(folder_)) folder_ = u"\\";

  title_bar()->SetCaption(
      Str(mode == BrowseMode::kSave ? ids::kSave : ids::kOpen));
  soft_keys()->SetLeftKey(Str(ids::kDone), kCommandOk);
  soft_keys()->SetRightKey(Str(ids::kCancel), kCommandCancel);

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  if (mode == BrowseMode::kSave) {
    auto* grid = new QGridLayout();
    grid->setContentsMargins(4, 4, 4, 0);
    grid->addWidget(new QLabel(Str(ids::kFilenameColon), content()), 0, 0);
    name_ = new QLineEdit(content());
    SetControlId(name_, kFileNameEdit);
    grid->addWidget(name_, 0, 1);
    grid->addWidget(new QLabel(Str(ids::kTypeColon), content()), 1, 0);
    type_ = new QComboBox(content());
    SetControlId(type_, kFileTypeList);
    type_->addItem(Q(filter_));
    grid->addWidget(type_, 1, 1);
    layout->addLayout(grid);
    folder_label_ = new QLabel(content());
    SetControlId(folder_label_, kFolderLabel);
    folder_label_->setContentsMargins(4, 0, 4, 0);
    layout->addWidget(folder_label_);
  }
  list_ = new QTreeWidget(content());
  SetControlId(list_, kFileList);
  list_->setColumnCount(2);
  list_->setHeaderLabels({Str(ids::kFilenameColumn), Str(ids::kSizeColumn)});
  list_->setRootIsDecorated(false);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setIconSize(QSize(16, 16));
  list_->header()->setSectionResizeMode(QHeaderView::Fixed);
  list_->installEventFilter(this);
  layout->addWidget(list_, 1);
  connect(list_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) {
            Activate(list_->indexOfTopLevelItem(item));
          });
  List();
}

void FileBrowserDialog::List() {
  static const std::vector<QPixmap> icons = ImageStrip(kBitmapFileIcons);
  list_->clear();
  if (folder_label_ != nullptr) folder_label_->setText(Q(folder_));
  if (folder_ != u"\\") {
    auto* up = new QTreeWidgetItem(list_, {QStringLiteral(".."), QString()});
    up->setData(0, kKindRole, kKindUp);
    if (!icons.empty()) up->setIcon(0, icons[kIconFolder]);
  }
  platform::files::Finder finder;
  platform::files::FindData entry;
  for (bool more = finder.First(folder_ + u"*.*", &entry); more;
       more = finder.Next(&entry)) {
    bool folder =
        (entry.attributes & platform::files::kAttributeDirectory) != 0;
    if (!folder && (mode_ == BrowseMode::kFolder ||
                    !PassesTypeFilter(entry.name, filter_))) {
      continue;
    }
    auto* item = new QTreeWidgetItem(
        list_, {Q(entry.name),
                folder ? Str(ids::kDirSize) : Q(FileSizeText(entry.size))});
    item->setData(0, kKindRole, folder ? kKindFolder : kKindFile);
    if (icons.size() > kIconFile)
      item->setIcon(0, icons[folder ? kIconFolder : kIconFile]);
  }
  if (list_->topLevelItemCount() > 0)
    list_->setCurrentItem(list_->topLevelItem(0));
}

void FileBrowserDialog::Activate(int row) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr) return;
  int kind = item->data(0, kKindRole).toInt();
  std::u16string name = U(item->text(0));
  if (kind == kKindUp) {
    // Cut after the "\" before the last component.
    size_t end = folder_.size() - 1;  // the trailing "\"
    size_t cut = folder_.rfind(u'\\', end - 1);
    folder_.resize(cut == std::u16string::npos ? 1 : cut + 1);
    List();
  } else if (kind == kKindFolder) {
    folder_ += name + u"\\";
    List();
  } else if (mode_ == BrowseMode::kOpen) {
    Choose(folder_ + name);
  } else if (mode_ == BrowseMode::kSave && name_ != nullptr) {
    name_->setText(Q(name));
  }
}

bool FileBrowserDialog::FocusedIsFile(std::u16string* name) const {
  QTreeWidgetItem* item = list_->currentItem();
  if (item == nullptr || item->data(0, kKindRole).toInt() != kKindFile)
    return false;
  *name = U(item->text(0));
  return true;
}

void FileBrowserDialog::Choose(const std::u16string& path) {
  result_ = path + u"\r\n";
  done(kCommandOk);
}

void FileBrowserDialog::OnCommand(uint32_t command) {
  if (command != kCommandOk) {
    DeviceDialog::OnCommand(command);
    return;
  }
  std::u16string focused;
  switch (mode_) {
    case BrowseMode::kOpen:
      if (FocusedIsFile(&focused)) Choose(folder_ + focused);
      return;
    case BrowseMode::kSave: {
      std::u16string typed =
          name_ != nullptr ? U(name_->text()) : std::u16string();
      if (!typed.empty()) {
        Choose(SavePath(folder_, typed, filter_));
      } else if (FocusedIsFile(&focused)) {
        Choose(folder_ + focused);
      } else {
        done(0);
      }
      return;
    }
    case BrowseMode::kFolder:
      result_ = folder_;
      done(kCommandOk);
      return;
  }
}

bool FileBrowserDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Up && type_ != nullptr &&
        list_->indexOfTopLevelItem(list_->currentItem()) == 0) {
      type_->setFocus();
      return true;
    }
  }
  return DeviceDialog::eventFilter(watched, event);
}

void FileBrowserDialog::resizeEvent(QResizeEvent* event) {
  DeviceDialog::resizeEvent(event);
  int width = list_->viewport()->width();
  list_->setColumnWidth(0, width * 3 / 5);
  list_->setColumnWidth(1, width - width * 3 / 5);
}

int BrowseForFile(QWidget* parent, BrowseMode mode,
                  std::u16string_view type_filter, std::u16string* folder,
                  std::u16string* result) {
  FileBrowserDialog dialog(parent, mode, type_filter, *folder);
  int code = dialog.Run();
  *folder = dialog.folder();
  if (code != kCommandOk) return 0;
  *result = dialog.result();
  return 1;
}

int BrowseForFolder(QWidget* parent, std::u16string* folder) {
  FileBrowserDialog dialog(parent, BrowseMode::kFolder, u"", *folder);
  if (dialog.Run() != kCommandOk) return 0;
  *folder = dialog.result();
  return 1;
}

}  // namespace kit
