// The SMS Setting dialog (template 152): how messages are titled, what
// happens to status reports and black-listed messages, whether sent
// messages are kept, the summary length and the signature.
//
// It reads the options from a SettingsStore when it opens and writes them
// back only on "Done"; it never saves the store (the caller does). A title
// mode outside 0..2 shows as "Contact Time" (2), and a status report
// handling outside 0..4 as "None" (0); "Done" stores what is shown.
//
// "Done" (also the title bar's OK) reads "Summary Length:" as a decimal
// number: an empty, non-numeric or zero value puts the focus back on that
// edit and leaves the dialog open, with no message and nothing stored.
// Otherwise it stores "SummaryLength", "ReceiveTitle", "SendTitle",
// "ImportTitle", "BlackDeleteToRecycleBin", "ReceiptToRecycleBin",
// "SaveToSentBox" and "Sign" (its first 139 characters) and ends with 1.
// "Cancel" and the Back key end it with 0 and change nothing.
//
// In the multi-line "Sign" edit, Up on the first line moves the focus to
// the previous control; its line breaks are stored as the edit gives them
// ("\n", which the compose window turns into "\r\n" with the rest of the
// text), and a stored "\r\n" shows as one line break. The dialog is tall: its
// controls scroll (option_scroll.h) and stretch to the right edge when it is
// resized. UI thread only.
#ifndef TELVANE_SETTINGS_UI_SMS_SETTING_DIALOG_H_
#define TELVANE_SETTINGS_UI_SMS_SETTING_DIALOG_H_

#include <cstdint>
#include <initializer_list>

#include "settings/ui/option_dialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace settings {
class SettingsStore;
}

namespace settings::ui {

class OptionScrollArea;

inline constexpr int kSmsSettingTemplate = 152;

// Control identifiers.
inline constexpr int kReceiveTitleList = 40352;   // "ReceiveTitle"
inline constexpr int kSentTitleList = 40354;      // "SendTitle"
inline constexpr int kImportTitleList = 40364;    // "ImportTitle"
inline constexpr int kStatusReportList = 1041;    // "ReceiptToRecycleBin"
inline constexpr int kBlackToRecycleBox = 1040;   // "BlackDeleteToRecycleBin"
inline constexpr int kSaveToSentBox = 1039;       // "SaveToSentBox"
inline constexpr int kSummaryLengthEdit = 40355;  // "SummaryLength"
inline constexpr int kSignEdit = 40371;           // "Sign"

// The most characters of "Sign" that are stored.
inline constexpr int kSignMaxLength = 139;

class SmsSettingDialog : public OptionDialog {
  Q_OBJECT

 public:
  // `settings` must outlive the dialog.
  SmsSettingDialog(QWidget* parent, settings::SettingsStore* settings);

  OptionScrollArea* scroll_area() const { return scroll_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A labelled choice list showing entry `value` (`fallback` when out of
  // range).
  QComboBox* AddList(int id, uint32_t label_id,
                     std::initializer_list<uint32_t> entries, int32_t value,
                     int fallback);
  QCheckBox* AddBox(int id, uint32_t text_id, bool checked);
  void Done() override;

  settings::SettingsStore* settings_;
  OptionScrollArea* scroll_;

  QComboBox* receive_title_;
  QComboBox* sent_title_;
  QComboBox* import_title_;
  QComboBox* status_report_;
  QCheckBox* black_to_recycle_;
  QCheckBox* save_to_sent_;
  QLineEdit* summary_length_;
  QPlainTextEdit* sign_;
};

// "SMS..." (command 40349): runs the dialog modally over `parent`. Returns
// 1 after "Done" and 0 otherwise.
int RunSmsSettingDialog(QWidget* parent, settings::SettingsStore* settings);

}  // namespace settings::ui

#endif  // TELVANE_SETTINGS_UI_SMS_SETTING_DIALOG_H_
