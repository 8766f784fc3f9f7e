// The dialog that edits the stock sentences and the mark names (template
// 181, menu bar 203): a one-line edit field (1035) above a list (1001) of
// the list being edited, with "OK" and a menu of "Add", "Modify", "Delete"
// and "Cancel".
//
// Run for sentences, the dialog also hands back a text: on OK the edit
// field's text (when not empty, at most 259 characters) is the chosen
// sentence. Run for marks, the title reads "Manage Mark" and no text is
// returned. Either way the store is saved on OK and on Cancel when the
// dialog changed it, so a deletion followed by Cancel is kept.
//
// The dialog edits the store it is given (not owned; it must outlive the
// dialog). UI thread only.
#ifndef TELVANE_CONTACTS_UI_MY_TEXT_DIALOG_H_
#define TELVANE_CONTACTS_UI_MY_TEXT_DIALOG_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "contacts/sentence_store.h"
#include "kit/device_window.h"
#include "platform/status.h"

class QLineEdit;
class QTreeWidget;

namespace contacts::ui {

inline constexpr int kMyTextTemplate = 181;
inline constexpr int kMyTextEdit = 1035;
inline constexpr int kMyTextList = 1001;

// The dialog's results: OK and Cancel.
inline constexpr int kMyTextOk = 1;
inline constexpr int kMyTextCancel = 40016;

// The longest text handed back (the caller's buffer holds 260 characters
// with the terminator).
inline constexpr size_t kMyTextMaxChars = 259;

class MyTextDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  // Edits list `which` of `store`.
  MyTextDialog(QWidget* parent, SentenceStore* store, SentenceList which);
  ~MyTextDialog() override;

  // After OK in the sentence use: the chosen text (empty when the edit
  // field was empty, or in the mark use).
  const std::u16string& chosen() const { return chosen_; }
  // Whether Add, Modify or Delete changed the list while the dialog was up.
  bool edited() const { return edited_; }
  // The result of the last save the dialog made (success when none).
  const platform::Status& save_status() const { return save_status_; }

  QLineEdit* edit() const { return edit_; }
  QTreeWidget* list() const { return list_; }
  // The selected row, or -1.
  int SelectedRow() const;

 protected:
  void OnCommand(uint32_t command) override;
  void OnBack() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Fill(int select_row);
  void Add();
  void Modify();
  void Delete();
  void Finish(int result);

  SentenceStore* store_;
  SentenceList which_;
  std::u16string chosen_;
  bool edited_ = false;
  platform::Status save_status_;
  QLineEdit* edit_;
  QTreeWidget* list_;
};

// Shows the stock sentences. Returns kMyTextOk with the chosen text in
// `*chosen` (left alone when the edit field was empty), or kMyTextCancel.
int ChooseSentence(QWidget* parent, SentenceStore* store,
                   std::u16string* chosen);

// Edits the mark names. Returns kMyTextOk or kMyTextCancel; `*changed`
// (optional) tells whether the list was edited, so the caller rebuilds its
// mark menu.
int ManageMarks(QWidget* parent, SentenceStore* store, bool* changed);

}  // namespace contacts::ui

#endif  // TELVANE_CONTACTS_UI_MY_TEXT_DIALOG_H_
