// The Import dialog (template 113, "Import SMS", menu bar 118): the
// messages of the phone's SMS Inbox or Sent Items in one list, each with a
// tick image; the ticked ones become message nodes under the target folder
// of the document.
//
// The list: one row per readable message (import/source.h), its text the
// sender, the time (today) or the date, and the start of the body on a
// second line. The first screen of rows is listed before the dialog shows;
// the rest follow in steps while it is up, and anything that needs every
// row (Import, Check All, Uncheck All) lists the rest at once first. The
// first row is selected. Enter, or a tap on a row, toggles its tick.
//
// Commands:
//   "Import"            files the ticked messages from the last row to the
//                       first (import::ImportIntoDocument), each safe in the
//                       document before anything else happens; with
//                       "Delete After Import" the filed ones are then
//                       deleted from the folder they were listed from. What
//                       the document could not keep stays on the phone and
//                       the user is told once. Ends with kImportDone, also
//                       when nothing was ticked.
//   "From Sent Items", "From Inbox"
//                       set "ImportSource" and list that folder afresh
//                       (ticks cleared); the folder already shown: nothing.
//   "Delete After Import" flips "SmsDelete".
//   "Check All", "Uncheck All" set every tick.
//   "Cancel", the OK button and the Back key end with kImportCancelled.
// When the menu opens, "Delete After Import" carries a check mark under
// "SmsDelete" and the folder shown the radio mark.
//
// A phone without the "SMS" store, or a folder that cannot be listed, gives
// an empty list and no message.
//
// UI thread only. The document, the target and the settings are not owned
// and must outlive the dialog.
#ifndef TELVANE_IMPORT_UI_IMPORT_DIALOG_H_
#define TELVANE_IMPORT_UI_IMPORT_DIALOG_H_

#include <QPixmap>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "import/source.h"
#include "kit/device_window.h"
#include "platform/time.h"

class QMenu;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace settings {
class SettingsStore;
}
namespace store {
class Document;
class Node;
}  // namespace store

namespace import::ui {

inline constexpr int kImportTemplate = 113;
inline constexpr int kImportList = 1001;

// What the dialog ends with.
inline constexpr int kImportDone = 1;
inline constexpr int kImportCancelled = 2;

// Rows listed before the dialog shows, and in each later step.
inline constexpr size_t kFirstScreenRows = 16;
inline constexpr size_t kRowsPerStep = 64;

struct ImportContext {
  store::Document* document = nullptr;
  store::Node* target = nullptr;  // the folder the messages go to
  settings::SettingsStore* settings = nullptr;
  // The local time that decides between a row's time and its date; empty:
  // the device's clock.
  std::function<platform::SystemTime()> clock;
};

class ImportDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  ImportDialog(QWidget* parent, const ImportContext& context);
  ~ImportDialog() override;

  QTreeWidget* list() const { return list_; }
  PhoneFolder folder() const { return folder_; }
  // The rows listed so far, and whether more are to come.
  size_t row_count() const { return items_.size(); }
  bool listing() const { return listing_ != nullptr; }
  const ImportItem& item(size_t row) const { return items_[row]; }
  bool ticked(size_t row) const;
  // Lists every row still to come at once.
  void FinishListing();
  // What "Import" did (empty before).
  const ImportResult& result() const { return result_; }

  // The two tick images: 0 clear, 1 ticked.
  static const std::vector<QPixmap>& TickImages();

 protected:
  void OnCommand(uint32_t command) override;
  void OnMenuPopup(QMenu* menu) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Empties the list and lists `folder` from its start (the first screen).
  void List(PhoneFolder folder);
  void ListStep(size_t rows);
  void SetTick(int row, bool ticked);
  void ToggleSelected();
  void SetAllTicks(bool ticked);
  void SwitchTo(PhoneFolder folder);
  void Import();

  ImportContext context_;
  PhoneFolder folder_ = PhoneFolder::kInbox;
  std::unique_ptr<FolderListing> listing_;
  std::vector<ImportItem> items_;  // row i shows items_[i]
  std::vector<bool> ticks_;
  platform::SystemTime today_;
  ImportResult result_;
  QTreeWidget* list_;
  QTimer* step_timer_;
};

// Runs the dialog over `context`: kImportDone after "Import" (the document
// changed), kImportCancelled otherwise. Nothing runs without a document
// open, a target folder and the settings (kImportCancelled).
int RunImportDialog(QWidget* parent, const ImportContext& context);

}  // namespace import::ui

#endif  // TELVANE_IMPORT_UI_IMPORT_DIALOG_H_
