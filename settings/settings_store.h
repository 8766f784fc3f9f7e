// SettingsStore: every user option of the program, kept in the registry of
// the current user.
//
// Plain values live under "Software\Pelicorde", the hotkey bindings under
// "Software\Pelicorde\Key" ("KeyVirt%d", "KeyCode%d", "KeyCmd%d" for the
// binding at position %d). Every value, its type, size, first-run value and
// the value taken when it cannot be read are listed in
// docs/formats/settings-registry.md. "Software\Pelicorde\Index" belongs to
// the message file and is never touched here.
//
// The program makes exactly one store, on the user-interface thread, loads it
// once at start-up, lets the dialogs change it in memory and saves it as a
// whole. The store is not thread-safe: only that thread may use it.
//
// Reading is forgiving by design: a key that cannot be opened leaves the
// options as they are, and a value that cannot be read (missing, of another
// type, or larger than its buffer) takes its "missing" value. Writing is
// all or nothing: Save (and SaveLastOpenFile) make all their writes in one
// registry transaction (platform::RegistryBatch), so a failure or a crash
// part-way leaves every old value and no mix; the result says which.
//
// Fonts: this library makes no font objects. ApplyFonts takes a snapshot of
// the three descriptions as "the applied fonts" and counts a generation; the
// user-interface side makes its fonts from applied_fonts() and remakes them
// when font_generation() changes. Until the first ApplyFonts there are no
// applied fonts and the views keep the platform's default font.
#ifndef TELVANE_SETTINGS_SETTINGS_STORE_H_
#define TELVANE_SETTINGS_SETTINGS_STORE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "settings/font_description.h"
#include "settings/random_sound_list.h"

namespace platform {
class RegistryBatch;
}  // namespace platform

namespace settings {

// Registry key paths under the current user.
inline constexpr std::u16string_view kSettingsKey = u"Software\\Pelicorde";
inline constexpr std::u16string_view kHotkeyKey = u"Software\\Pelicorde\\Key";

// Load reads hotkey slots 0..98; Save writes as many as there are bindings.
inline constexpr int kHotkeySlots = 99;

// Capacities of the text options in UTF-16 units, terminator included: a
// text holds at most capacity - 1 characters.
inline constexpr size_t kPathCapacity = 260;
inline constexpr size_t kSignCapacity = 140;

// The folder of the running program with a trailing "\" (from its module
// file name; see platform/modules.h). "sms.zud", "photo\", "skins\" and the
// program's libraries and text files are found from it.
std::u16string AppFolder();

// Whether the device has a phone: set by the SettingsStore constructor from
// whether the platform library "phone.dll" loads. False until a store is
// made. May be read from any thread.
bool PhonePresent();

// One hotkey: a hardware key (with its modifier byte) bound to a command of
// the main window.
struct HotkeyBinding {
  uint8_t modifiers = 0;  // "KeyVirt%d"
  uint16_t key_code = 0;  // "KeyCode%d"
  uint16_t command = 0;   // "KeyCmd%d"

  bool operator==(const HotkeyBinding&) const = default;
};

// The font descriptions as last applied (see ApplyFonts).
struct AppliedFonts {
  FontDescription tree_view;
  FontDescription list_view;
  FontDescription content;
};

// A registry access or step made by Load or Save, in the order made; for
// diagnostics and for tests of that order (see set_trace).
struct SettingsTraceEvent {
  enum class Kind {
    kRead,               // a value read; `key` and `name` say which
    kWrite,              // a value written
    kApplyFonts,         // ApplyFonts ran
    kCreatePhotoFolder,  // the photo folder was created (or found)
    kScanRandomSounds,   // the random sound list was made and scanned
    kCommit,             // the writes so far were committed as one
    kFlush,              // the main key was flushed
  };
  Kind kind;
  std::u16string_view key;   // kSettingsKey or kHotkeyKey; empty for steps
  std::u16string_view name;  // the value name; empty for steps
};

class SettingsStore {
 public:
  // Sets every option to its first-run value ("LastOpenFile" is
  // AppFolder() + "sms.zud", "PhotoFolder" AppFolder() + "photo\"), the
  // process-wide summary length to 10, empties the hotkey list, sets the
  // three fonts to DefaultFontDescription() and sets PhonePresent() by
  // trying to load "phone.dll" (released at once). Reads no registry.
  SettingsStore();
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Reads the hotkey bindings and every option from the registry, in the
  // documented order; calls ApplyFonts after the fonts, creates the photo
  // folder after "PhotoFolder" is read, and makes and scans the random
  // sound list when "RndSoundPath" is read and not empty. When the main key
  // does not exist only the hotkeys are read and the options keep their
  // values. Values are taken without range checks.
  void Load();

  // Replaces "Software\Pelicorde\Key" with the current bindings (slots
  // 0..n-1), then writes every option except "LastOpenFile" to the main key
  // (created when needed) in the documented order (texts cut to their
  // capacity), all in one registry transaction, and flushes it. On a
  // failure nothing of the save stays (every value is as before) and the
  // failure is returned; a failed flush comes after the commit.
  platform::Status Save();

  // Sets "LastOpenFile" (cut to 259 characters) and writes that value
  // alone, creating the main key when needed, in one transaction.
  platform::Status SaveLastOpenFile(std::u16string_view path);

  // Snapshots the three descriptions as the applied fonts and advances
  // font_generation().
  void ApplyFonts();
  const std::optional<AppliedFonts>& applied_fonts() const {
    return applied_fonts_;
  }
  uint64_t font_generation() const { return font_generation_; }

  // The random sound list: present while "RndSoundPath" names a folder.
  const RandomSoundList* random_sounds() const { return random_sounds_.get(); }
  // After "RndSoundPath" changed: when it is not empty, makes the list if
  // there is none and scans the folder; when it is empty, drops the list.
  // Returns the number of sound files listed.
  size_t RescanRandomSounds();

  // Test and diagnostic seam: called with every registry access and step of
  // Load, Save and SaveLastOpenFile, in order (a read just before it is
  // made; a write as it is added to the save's transaction, which kCommit
  // then marks).
  // The event's views are valid only during the call. Empty by default.
  void set_trace(std::function<void(const SettingsTraceEvent&)> trace) {
    trace_ = std::move(trace);
  }

  // ---- Hotkeys, in list order.
  const std::vector<HotkeyBinding>& hotkeys() const { return hotkeys_; }
  std::vector<HotkeyBinding>& mutable_hotkeys() { return hotkeys_; }

  // ---- Integer options ("DWORD" values; int32 in memory, no range checks).
  // The comments give the value name and the first-run value.
  int32_t display_mode() const { return display_mode_; }  // "DisplayMode" 1
  void set_display_mode(int32_t v) { display_mode_ = v; }
  int32_t start_hide() const { return start_hide_; }  // "StartHide" 0
  void set_start_hide(int32_t v) { start_hide_ = v; }
  int32_t show_popup() const { return show_popup_; }  // "ShowPopup" 1
  void set_show_popup(int32_t v) { show_popup_ = v; }
  int32_t open_last_file() const { return open_last_file_; }  // 1
  void set_open_last_file(int32_t v) { open_last_file_ = v; }
  int32_t delete_alert() const { return delete_alert_; }  // "DeleteAlert" 1
  void set_delete_alert(int32_t v) { delete_alert_ = v; }
  // "BlackDeleteToRecycleBin" 0
  int32_t black_delete_to_recycle_bin() const {
    return black_delete_to_recycle_bin_;
  }
  void set_black_delete_to_recycle_bin(int32_t v) {
    black_delete_to_recycle_bin_ = v;
  }
  // "SaveToSentBox": 1 at first run, 0 when missing.
  int32_t save_to_sent_box() const { return save_to_sent_box_; }
  void set_save_to_sent_box(int32_t v) { save_to_sent_box_ = v; }
  // "StartScreenSaveMin": 1 at first run, 0 when missing.
  int32_t start_screen_save_min() const { return start_screen_save_min_; }
  void set_start_screen_save_min(int32_t v) { start_screen_save_min_ = v; }
  int32_t protect_level() const { return protect_level_; }  // 1
  void set_protect_level(int32_t v) { protect_level_ = v; }
  // "EmptyReceiveBinAlert" 1
  int32_t empty_receive_bin_alert() const { return empty_receive_bin_alert_; }
  void set_empty_receive_bin_alert(int32_t v) { empty_receive_bin_alert_ = v; }
  // "ReceiptToRecycleBin" 0
  int32_t receipt_to_recycle_bin() const { return receipt_to_recycle_bin_; }
  void set_receipt_to_recycle_bin(int32_t v) { receipt_to_recycle_bin_ = v; }
  int32_t auto_start() const { return auto_start_; }  // "AutoStart" 0
  void set_auto_start(int32_t v) { auto_start_ = v; }
  int32_t auto_hide() const { return auto_hide_; }  // "AutoHide" 0
  void set_auto_hide(int32_t v) { auto_hide_ = v; }
  int32_t show_tray_icon() const { return show_tray_icon_; }  // 1
  void set_show_tray_icon(int32_t v) { show_tray_icon_ = v; }
  int32_t save_when_arrive() const { return save_when_arrive_; }  // 0
  void set_save_when_arrive(int32_t v) { save_when_arrive_ = v; }
  int32_t auto_compress() const { return auto_compress_; }  // 0
  void set_auto_compress(int32_t v) { auto_compress_ = v; }
  int32_t when_compress() const { return when_compress_; }  // 2
  void set_when_compress(int32_t v) { when_compress_ = v; }
  int32_t unread_icon() const { return unread_icon_; }  // "UnReadIcon" 1
  void set_unread_icon(int32_t v) { unread_icon_ = v; }
  int32_t unread_alert() const { return unread_alert_; }  // "UnReadAlert" 0
  void set_unread_alert(int32_t v) { unread_alert_ = v; }
  int32_t alert_second() const { return alert_second_; }  // 30000 (ms)
  void set_alert_second(int32_t v) { alert_second_ = v; }
  // "AutoSave": 1 at first run and when missing.
  int32_t auto_save() const { return auto_save_; }
  void set_auto_save(int32_t v) { auto_save_ = v; }
  int32_t save_duration() const { return save_duration_; }  // 2 (minutes)
  void set_save_duration(int32_t v) { save_duration_ = v; }
  int32_t receive_title() const { return receive_title_; }  // 2
  void set_receive_title(int32_t v) { receive_title_ = v; }
  int32_t send_title() const { return send_title_; }  // 2
  void set_send_title(int32_t v) { send_title_ = v; }
  int32_t import_title() const { return import_title_; }  // 2
  void set_import_title(int32_t v) { import_title_ = v; }
  int32_t sent_alert() const { return sent_alert_; }  // "SentAlert" 1
  void set_sent_alert(int32_t v) { sent_alert_ = v; }
  int32_t disappear_time() const { return disappear_time_; }  // 15000 (ms)
  void set_disappear_time(int32_t v) { disappear_time_ = v; }
  // "DisappearTimeRecv" 15000 (ms)
  int32_t disappear_time_recv() const { return disappear_time_recv_; }
  void set_disappear_time_recv(int32_t v) { disappear_time_recv_ = v; }
  // "ShowPhoto": 0 at first run, 1 when missing.
  int32_t show_photo() const { return show_photo_; }
  void set_show_photo(int32_t v) { show_photo_ = v; }
  int32_t status_report() const { return status_report_; }  // 0
  void set_status_report(int32_t v) { status_report_ = v; }
  int32_t sms_delete() const { return sms_delete_; }  // "SmsDelete" 0
  void set_sms_delete(int32_t v) { sms_delete_ = v; }
  int32_t import_source() const { return import_source_; }  // 0
  void set_import_source(int32_t v) { import_source_ = v; }
  // "SummaryLength" 10: the process-wide value of text::SummaryLength(),
  // which the title routines read directly.
  int32_t summary_length() const;
  void set_summary_length(int32_t v);

  // The scroll offset (pixels) shared by the tall option dialogs; reset to 0
  // whenever one opens. Never saved.
  int32_t option_scroll_offset() const { return option_scroll_offset_; }
  void set_option_scroll_offset(int32_t v) { option_scroll_offset_ = v; }

  // ---- Text options. Setters cut to the capacity (259 characters; "Sign"
  // 139). All are empty at first run except the two noted.
  // "LastOpenFile": AppFolder() + "sms.zud"; set by SaveLastOpenFile only.
  const std::u16string& last_open_file() const { return last_open_file_; }
  const std::u16string& alert_sound() const { return alert_sound_; }
  void set_alert_sound(std::u16string_view v);
  const std::u16string& sent_skin() const { return sent_skin_; }
  void set_sent_skin(std::u16string_view v);
  const std::u16string& last_dir() const { return last_dir_; }
  void set_last_dir(std::u16string_view v);
  const std::u16string& sign() const { return sign_; }
  void set_sign(std::u16string_view v);
  // "PhotoFolder": AppFolder() + "photo\".
  const std::u16string& photo_folder() const { return photo_folder_; }
  void set_photo_folder(std::u16string_view v);
  // "defaultPhoto"
  const std::u16string& default_photo() const { return default_photo_; }
  void set_default_photo(std::u16string_view v);
  // "RndSoundPath"; call RescanRandomSounds() to bring the list along.
  const std::u16string& rnd_sound_path() const { return rnd_sound_path_; }
  void set_rnd_sound_path(std::u16string_view v);

  // ---- Font descriptions ("TreeviewFont", "ListViewFont", "ContentFont").
  // Changing one takes effect at the next ApplyFonts.
  const FontDescription& tree_view_font() const { return tree_view_font_; }
  void set_tree_view_font(const FontDescription& f) { tree_view_font_ = f; }
  const FontDescription& list_view_font() const { return list_view_font_; }
  void set_list_view_font(const FontDescription& f) { list_view_font_ = f; }
  const FontDescription& content_font() const { return content_font_; }
  void set_content_font(const FontDescription& f) { content_font_ = f; }

 private:
  class Reader;
  class Writer;

  void LoadHotkeys();
  // Adds the replacement of the hotkey subkey to a save's batch.
  void SaveHotkeys(platform::RegistryBatch* batch) const;
  void Trace(SettingsTraceEvent::Kind kind, std::u16string_view key = {},
             std::u16string_view name = {}) const;

  std::vector<HotkeyBinding> hotkeys_;

  int32_t display_mode_ = 1;
  int32_t start_hide_ = 0;
  int32_t show_popup_ = 1;
  int32_t open_last_file_ = 1;
  int32_t delete_alert_ = 1;
  int32_t black_delete_to_recycle_bin_ = 0;
  int32_t save_to_sent_box_ = 1;
  int32_t start_screen_save_min_ = 1;
  int32_t protect_level_ = 1;
  int32_t empty_receive_bin_alert_ = 1;
  int32_t receipt_to_recycle_bin_ = 0;
  int32_t auto_start_ = 0;
  int32_t auto_hide_ = 0;
  int32_t show_tray_icon_ = 1;
  int32_t save_when_arrive_ = 0;
  int32_t option_scroll_offset_ = 0;
  int32_t auto_compress_ = 0;
  int32_t when_compress_ = 2;
  int32_t unread_icon_ = 1;
  int32_t unread_alert_ = 0;
  int32_t alert_second_ = 30000;
  int32_t auto_save_ = 1;
  int32_t save_duration_ = 2;
  int32_t receive_title_ = 2;
  int32_t send_title_ = 2;
  int32_t import_title_ = 2;
  int32_t sent_alert_ = 1;
  int32_t disappear_time_ = 15000;
  int32_t disappear_time_recv_ = 15000;
  int32_t show_photo_ = 0;
  int32_t status_report_ = 0;
  int32_t sms_delete_ = 0;
  int32_t import_source_ = 0;

  std::u16string last_open_file_;
  std::u16string alert_sound_;
  std::u16string sent_skin_;
  std::u16string last_dir_;
  std::u16string sign_;
  std::u16string photo_folder_;
  std::u16string default_photo_;
  std::u16string rnd_sound_path_;

  FontDescription tree_view_font_;
  FontDescription list_view_font_;
  FontDescription content_font_;

  std::optional<AppliedFonts> applied_fonts_;  // none until ApplyFonts
  uint64_t font_generation_ = 0;               // ApplyFonts calls so far

  std::unique_ptr<RandomSoundList> random_sounds_;
  std::function<void(const SettingsTraceEvent&)> trace_;
};

}  // namespace settings

#endif  // TELVANE_SETTINGS_SETTINGS_STORE_H_
