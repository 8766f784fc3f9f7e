// The look of the device's windows: full-screen dialogs with a title bar
// (caption and the OK button), the dialog's controls, and the soft-key bar
// (a left key and, at the right, a key that opens a popup menu upwards).
//
// Controls carry their numeric identifiers as objectName, so windows,
// tests and the screenshot tour find them by identifier. Every user action
// reaches the window as a command identifier (OnCommand), from the keys,
// the menu or the keyboard. The Back key (Escape on the host) calls OnBack.
// Everything here lives on the UI thread.
#ifndef TELVANE_KIT_DEVICE_WINDOW_H_
#define TELVANE_KIT_DEVICE_WINDOW_H_

#include <QDialog>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;

namespace kit {
struct MenuEntry;
}

namespace kit {

// Command identifiers every dialog knows: the OK button and Cancel.
inline constexpr uint32_t kCommandOk = 1;
inline constexpr uint32_t kCommandCancel = 2;

// Names a control by its identifier.
void SetControlId(QWidget* widget, int id);
// The control of `root` with identifier `id`, or nullptr.
template <class T>
T* FindControl(QWidget* root, int id) {
  return root->findChild<T*>(QString::number(id));
}

// The bar at the bottom: two soft keys. Each key either sends a command or
// opens a popup menu upwards (the right one usually "Menu").
class SoftKeyBar : public QWidget {
  Q_OBJECT

 public:
  explicit SoftKeyBar(QWidget* parent);

  // Both keys from a menu bar of the menu table (menu_table.h): each child
  // of `bar` is a key, a command entry or a popup. Menus are owned by the
  // bar. Keys beyond the second are ignored.
  void SetMenuBar(const MenuEntry& bar);

  // A key that shows `text` and sends `command`; an empty text hides it.
  void SetLeftKey(const QString& text, uint32_t command);
  void SetRightKey(const QString& text, uint32_t command);
  // A key that opens `menu` (not owned); nullptr hides the key.
  void SetLeftMenu(QMenu* menu, const QString& text);
  void SetMenu(QMenu* menu, const QString& text);  // the right key

  QPushButton* left_key() const { return keys_[0].button; }
  QPushButton* right_key() const { return keys_[1].button; }
  QMenu* left_menu() const { return keys_[0].menu; }
  QMenu* menu() const { return keys_[1].menu; }
  uint32_t left_command() const { return keys_[0].command; }

  // Opens a key's menu above it, as a tap on the key does.
  void OpenLeftMenu() { Open(0); }
  void OpenMenu() { Open(1); }

 signals:
  void Command(uint32_t command);
  void MenuAboutToShow(QMenu* menu);

 private:
  struct Key {
    QPushButton* button = nullptr;
    QMenu* menu = nullptr;
    uint32_t command = 0;
  };
  void SetKeyCommand(int key, const QString& text, uint32_t command);
  void SetKeyMenu(int key, QMenu* menu, const QString& text);
  void Open(int key);

  Key keys_[2];
};

class TitleBar : public QWidget {
  Q_OBJECT

 public:
  explicit TitleBar(QWidget* parent);
  void SetCaption(const QString& caption);
  QString caption() const;
  // Shows or hides the OK button at the right (command 1).
  void ShowOk(bool show);
  QPushButton* ok_button() const { return ok_; }

 signals:
  void Command(uint32_t command);

 private:
  QLabel* caption_;
  QPushButton* ok_;
};

class DeviceDialog : public QDialog {
  Q_OBJECT

 public:
  // `template_id` names the dialog ("dialog.<id>") for tests and tools.
  DeviceDialog(QWidget* parent, int template_id);

  // Where the dialog's own controls go; it has no layout until one is set.
  QWidget* content() const { return content_; }
  TitleBar* title_bar() const { return title_; }
  SoftKeyBar* soft_keys() const { return soft_keys_; }
  int template_id() const { return template_id_; }

  // Runs the dialog modally: 1 for OK or Done, 2 for Cancel (or what the
  // dialog's commands chose). With a dialog script installed, the script
  // runs once the dialog is up; a dialog the script leaves open is then
  // cancelled, so a test never waits on a window.
  int Run();

  // Sends `command` as if the user chose it (menus, keys, tests).
  void Dispatch(uint32_t command) { OnCommand(command); }

 protected:
  // A command from the title bar, the soft keys or the menu. The default
  // ends the dialog with 1 for the OK button and 2 for Cancel.
  virtual void OnCommand(uint32_t command);
  // The Back key. The default ends the dialog with 2.
  virtual void OnBack();
  // The soft-key menu is about to open: enable and check its entries.
  virtual void OnMenuPopup(QMenu* menu);

  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;  // the window's close button is the Back key

 private:
  int template_id_;
  TitleBar* title_;
  QWidget* content_;
  SoftKeyBar* soft_keys_;
};

// The one-column or report lists of the dialogs (QTreeWidget without
// children): makes `row` the current and selected row when it exists, and
// gives the selected row, or -1.
void SelectListRow(QTreeWidget* list, int row);
int SelectedListRow(const QTreeWidget* list);

// Left and Right page through a list, as on the device: when `event` is a
// key press of Left or Right, `list` gets Page Up or Page Down and the
// result is true (the event is handled); otherwise false.
bool PageOnLeftRight(QWidget* list, QEvent* event);

// Shutting down (a termination signal): every modal window still open -
// dialogs, message boxes, password prompts, open menus - ends at once as
// cancelled, bypassing what the window would do on its Back key, so nothing
// half-edited is applied; and every dialog or box asked for afterwards is
// answered as cancelled without being shown. Their event loops unwind on
// the next turn of the loop.
void CancelAllDialogs();
// True once CancelAllDialogs ran (until ResetDialogCancel).
bool DialogsCancelled();
// How many modal dialogs and message boxes are running now (nested ones
// each count): while it is not 0, a caller up the stack may still hold a
// node of the document.
int ModalDepth();
// Counts one modal run for the life of the object.
class ModalRun {
 public:
  ModalRun();
  ~ModalRun();
  ModalRun(const ModalRun&) = delete;
  ModalRun& operator=(const ModalRun&) = delete;
};
// For tests that go on after a shutdown.
void ResetDialogCancel();

// Tests drive modal dialogs through a script: it receives every dialog that
// Run() shows (in order, nested ones too) and fills, taps and ends it.
using DialogScript = std::function<void(DeviceDialog*)>;
// Installs `script` (an empty one restores plain modal runs); returns the
// one installed before.
DialogScript SetDialogScript(DialogScript script);

}  // namespace kit

#endif  // TELVANE_KIT_DEVICE_WINDOW_H_
