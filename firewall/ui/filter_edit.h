// Filter Edit and the Rule Editor: the dialogs that edit one filter record
// of the filter set in place.
//
// Filter Edit ("Filter Edit", menu bar 109, taller than the screen and
// scrolled) runs in four modes: a user filter, the Contact Default, Fast
// Create (the Rule Editor opens at once, picking rule 1 from the contacts;
// when it is not accepted the dialog ends as cancelled) and the Stranger
// Default. OK validates and stores the fields in a fixed order; the first
// failure is told in an "Error" box and the dialog stays open. The dialogs
// edit a copy of the record that replaces it whole when they end with OK:
// Cancel (also after a failed OK or an accepted Rule Editor) leaves the
// record as it was, and the live filter set never holds a half-edited
// filter.
//
// The Rule Editor ("Rule Editor", menu bar 109) edits the record's two rule
// slots; "From Contact..." runs the contact picker in single-choice mode.
//
// UI thread only. The record, the settings, the sentences and the picker's
// store are not owned and must outlive the dialogs.
#ifndef TELVANE_FIREWALL_UI_FILTER_EDIT_H_
#define TELVANE_FIREWALL_UI_FILTER_EDIT_H_

#include <string>

#include "contacts/ui/contact_picker.h"
#include "firewall/filter_set.h"
#include "kit/device_window.h"

class QWidget;

namespace contacts {
class SentenceStore;
}
namespace settings {
class SettingsStore;
}

namespace firewall::ui {

enum class FilterEditMode {
  kUser = 0,
  kContactDefault = 1,
  kFastCreate = 2,
  kStrangerDefault = 3,
};

// What the editors are given.
struct FilterEditEnvironment {
  // The skins' folder, "defaultPhoto", "LastDir" for the file browser.
  settings::SettingsStore* settings = nullptr;  // required
  // "My Text..." shows its sentences; null: the button does nothing.
  contacts::SentenceStore* sentences = nullptr;
  // "Contact..." and "From Contact..."; a null store: not offered.
  contacts::ui::PickerEnvironment picker;
  // The program's folder, ending in "\" (skins are "%sskins\%s.cfg").
  std::u16string app_folder;
};

// The dialogs' names ("dialog.<id>") and their controls' identifiers, by
// which tests and the screenshot tour find them.
inline constexpr int kFilterEditTemplate = 146;
inline constexpr int kRuleEditorTemplate = 147;

// Filter Edit, top to bottom.
inline constexpr int kNameEdit = 1201;
inline constexpr int kApplyToAllBox = 1202;
inline constexpr int kRuleSettingButton = 1203;
inline constexpr int kMatchNote = 1204;  // modes 1 and 3 only
inline constexpr int kPlaySoundBox = 1205;
inline constexpr int kSoundFileEdit = 1206;
inline constexpr int kSoundBrowseButton = 1207;
inline constexpr int kPlayStopButton = 1208;
inline constexpr int kRandomRingBox = 1209;
inline constexpr int kVibrateBox = 1210;
inline constexpr int kUnreadAlertBox = 1211;
inline constexpr int kPopupBox = 1212;
inline constexpr int kSkinList = 1213;
inline constexpr int kTestButton = 1214;
inline constexpr int kPhotoBox = 1215;
inline constexpr int kPhotoEdit = 1216;
inline constexpr int kPhotoBrowseButton = 1217;
inline constexpr int kSentenceBox = 1218;
inline constexpr int kSentenceEdit = 1219;
inline constexpr int kFolderBox = 1220;
inline constexpr int kFolderEdit = 1221;
inline constexpr int kDontShowBox = 1222;
inline constexpr int kForwardBox = 1223;
inline constexpr int kForwardEdit = 1224;
inline constexpr int kForwardContactButton = 1225;
inline constexpr int kReplyBox = 1226;
inline constexpr int kReplyEdit = 1227;
inline constexpr int kMyTextButton = 1228;

// The Rule Editor: rule 1's controls, and rule 2's at kRule2Offset above.
inline constexpr int kObjectList = 1301;
inline constexpr int kJudgeList = 1302;
inline constexpr int kContentEdit = 1303;
inline constexpr int kFromContactButton = 1304;
inline constexpr int kRule2Offset = 10;
inline constexpr int kAndRule2Box = 1320;

// The name edit takes one character more than a name keeps.
inline constexpr int kNameEditLimit = 40;

// Results of both dialogs.
inline constexpr int kFilterEditOk = 1;
inline constexpr int kFilterEditCancelled = 2;

// Runs Filter Edit on `record` in `mode`: kFilterEditOk when OK stored
// every field, else kFilterEditCancelled.
int RunFilterEdit(QWidget* parent, FilterRecord* record, FilterEditMode mode,
                  const FilterEditEnvironment& environment);

// The copy a Filter Edit dialog is editing (what its OK has stored so far);
// null for another dialog.
const FilterRecord* EditedRecord(const kit::DeviceDialog* dialog);

// Runs the Rule Editor on `record`'s rules (`fast_create`: picks rule 1
// from the contacts at once; cancelling that picker cancels the editor):
// kFilterEditOk when the rules were stored, else kFilterEditCancelled.
int RunRuleEditor(QWidget* parent, FilterRecord* record, bool fast_create,
                  const FilterEditEnvironment& environment);

}  // namespace firewall::ui

#endif  // TELVANE_FIREWALL_UI_FILTER_EDIT_H_
