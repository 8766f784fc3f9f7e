#include "settings/settings_store.h"

#include <atomic>
#include <utility>

#include "platform/files.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "text/text.h"

namespace settings {

namespace {

using platform::RegistryBatch;
using platform::RegistryKey;
using platform::RegistryRoot;
using Kind = SettingsTraceEvent::Kind;

constexpr RegistryRoot kRoot = RegistryRoot::kCurrentUser;

std::atomic<bool> phone_present{false};

// Cuts to capacity - 1 units without leaving half of a surrogate pair at
// the end.
std::u16string CutWhole(std::u16string_view text, size_t capacity) {
  if (text.size() < capacity) return std::u16string(text);
  size_t end = capacity - 1;
  if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
  return std::u16string(text.substr(0, end));
}

std::u16string Decimal(int number) {
  std::u16string out;
  for (char c : std::to_string(number)) out.push_back(static_cast<char16_t>(c));
  return out;
}

std::u16string DefaultLastOpenFile() { return AppFolder() + u"sms.zud"; }
std::u16string DefaultPhotoFolder() { return AppFolder() + u"photo\\"; }

}  // namespace

std::u16string AppFolder() {
  return platform::FolderOf(platform::ProgramFileName());
}

bool PhonePresent() { return phone_present.load(std::memory_order_relaxed); }

// Reads the values of one open key into options, taking the "missing" value
// whenever a read fails.
class SettingsStore::Reader {
 public:
  Reader(const SettingsStore& store, RegistryKey key)
      : store_(store), key_(std::move(key)) {}

  void Int(std::u16string_view name, int32_t* out, int32_t missing) {
    store_.Trace(Kind::kRead, kSettingsKey, name);
    std::optional<uint32_t> value = key_.QueryDword(name);
    *out = value ? static_cast<int32_t>(*value) : missing;
  }

  // A text read into a buffer of `capacity` units; one that does not fit
  // fails, as the platform's read call does, and counts as missing.
  bool Text(std::u16string_view name, size_t capacity, std::u16string* out,
            std::u16string_view missing) {
    store_.Trace(Kind::kRead, kSettingsKey, name);
    std::optional<std::u16string> value = key_.QueryString(name, capacity);
    if (!value) {
      *out = missing;
      return false;
    }
    *out = std::move(*value);
    return true;
  }

  // "Sign": a stored signature longer than its buffer is not dropped but cut
  // to what fits (139 characters), which is what its writer expects back.
  void Sign(std::u16string_view name, std::u16string* out) {
    store_.Trace(Kind::kRead, kSettingsKey, name);
    platform::Status status;
    std::optional<std::u16string> value =
        key_.QueryString(name, kSignCapacity, &status);
    if (value) {
      *out = std::move(*value);
      return;
    }
    out->clear();
    if (status.code() != platform::ErrorCode::kMoreData) return;
    size_t needed = 0;
    platform::RegistryValue raw;
    if (!key_.Query(name, 0, nullptr, &needed).ok()) return;
    if (!key_.Query(name, needed, &raw).ok()) return;
    if (raw.type != platform::RegistryType::kSz &&
        raw.type != platform::RegistryType::kExpandSz) {
      return;
    }
    std::u16string whole;
    for (size_t i = 0; i + 1 < raw.data.size(); i += 2) {
      char16_t unit =
          static_cast<char16_t>(static_cast<uint8_t>(raw.data[i]) |
                                (static_cast<uint8_t>(raw.data[i + 1]) << 8));
      if (unit == u'\0') break;
      whole.push_back(unit);
    }
    *out = CutWhole(whole, kSignCapacity);
  }

  // A font: exactly 92 bytes of REG_BINARY, else the default description.
  void Font(std::u16string_view name, FontDescription* out) {
    store_.Trace(Kind::kRead, kSettingsKey, name);
    std::optional<std::string> bytes =
        key_.QueryBinary(name, kFontDescriptionSize);
    std::optional<FontDescription> font;
    if (bytes) font = DecodeFontDescription(*bytes);
    *out = font ? *font : DefaultFontDescription();
  }

 private:
  const SettingsStore& store_;
  RegistryKey key_;
};

// Adds the writes of one key to a save's batch, which is committed as one
// transaction.
class SettingsStore::Writer {
 public:
  Writer(const SettingsStore& store, RegistryBatch* batch,
         std::u16string_view path)
      : store_(store), batch_(batch), path_(path) {}

  void Int(std::u16string_view name, int32_t value) {
    store_.Trace(Kind::kWrite, path_, name);
    batch_->SetDword(kRoot, path_, name, static_cast<uint32_t>(value));
  }
  void Text(std::u16string_view name, std::u16string_view value,
            size_t capacity) {
    store_.Trace(Kind::kWrite, path_, name);
    batch_->SetString(kRoot, path_, name, CutWhole(value, capacity));
  }
  void Font(std::u16string_view name, const FontDescription& font) {
    store_.Trace(Kind::kWrite, path_, name);
    batch_->SetBinary(kRoot, path_, name, EncodeFontDescription(font));
  }

 private:
  const SettingsStore& store_;
  RegistryBatch* batch_;
  std::u16string_view path_;
};

SettingsStore::SettingsStore()
    : last_open_file_(DefaultLastOpenFile()),
      photo_folder_(DefaultPhotoFolder()),
      tree_view_font_(DefaultFontDescription()),
      list_view_font_(DefaultFontDescription()),
      content_font_(DefaultFontDescription()) {
  text::SetSummaryLength(10);
  // The library is released again at once: only its presence counts.
  phone_present.store(platform::Library::Load(u"phone.dll") != nullptr,
                      std::memory_order_relaxed);
}

SettingsStore::~SettingsStore() = default;

void SettingsStore::Trace(Kind kind, std::u16string_view key,
                          std::u16string_view name) const {
  if (trace_) trace_(SettingsTraceEvent{kind, key, name});
}

void SettingsStore::LoadHotkeys() {
  hotkeys_.clear();
  std::optional<RegistryKey> key = RegistryKey::Open(kRoot, kHotkeyKey);
  if (!key) return;
  for (int slot = 0; slot < kHotkeySlots; ++slot) {
    // Each of the three starts as -1 and stays so when it cannot be read;
    // a stored 0xFFFFFFFF therefore counts as missing too.
    int32_t values[3] = {-1, -1, -1};
    const std::u16string names[3] = {u"KeyVirt" + Decimal(slot),
                                     u"KeyCode" + Decimal(slot),
                                     u"KeyCmd" + Decimal(slot)};
    for (int i = 0; i < 3; ++i) {
      Trace(Kind::kRead, kHotkeyKey, names[i]);
      if (std::optional<uint32_t> v = key->QueryDword(names[i])) {
        values[i] = static_cast<int32_t>(*v);
      }
    }
    if (values[0] == -1 || values[1] == -1 || values[2] == -1) continue;
    hotkeys_.push_back(
        HotkeyBinding{static_cast<uint8_t>(values[0] & 0xff),
                      static_cast<uint16_t>(values[1] & 0xffff),
                      static_cast<uint16_t>(values[2] & 0xffff)});
  }
}

void SettingsStore::Load() {
  LoadHotkeys();

  std::optional<RegistryKey> key = RegistryKey::Open(kRoot, kSettingsKey);
  if (!key) return;
  Reader r(*this, *key);
  // The third argument of each read is the value taken when it fails.
  r.Int(u"StartHide", &start_hide_, 0);
  r.Int(u"StatusReport", &status_report_, 0);
  r.Int(u"ShowPhoto", &show_photo_, 1);
  r.Int(u"ShowPopup", &show_popup_, 1);
  r.Int(u"SaveWhenArrive", &save_when_arrive_, 0);
  r.Int(u"DisplayMode", &display_mode_, 1);
  r.Int(u"AutoCompress", &auto_compress_, 0);
  r.Int(u"WhenCompress", &when_compress_, 2);
  r.Int(u"SmsDelete", &sms_delete_, 0);
  r.Int(u"DeleteAlert", &delete_alert_, 1);
  r.Int(u"OpenLastFile", &open_last_file_, 1);
  r.Int(u"EmptyReceiveBinAlert", &empty_receive_bin_alert_, 1);
  r.Text(u"LastDir", kPathCapacity, &last_dir_, u"");
  r.Text(u"LastOpenFile", kPathCapacity, &last_open_file_,
         DefaultLastOpenFile());
  r.Sign(u"Sign", &sign_);
  r.Font(u"TreeviewFont", &tree_view_font_);
  r.Font(u"ListViewFont", &list_view_font_);
  r.Font(u"ContentFont", &content_font_);
  ApplyFonts();
  r.Text(u"SentSkin", kPathCapacity, &sent_skin_, u"");
  r.Text(u"defaultPhoto", kPathCapacity, &default_photo_, u"");
  r.Text(u"PhotoFolder", kPathCapacity, &photo_folder_, DefaultPhotoFolder());
  // An existing folder is fine; any other failure is left alone too.
  platform::files::CreateFolder(photo_folder_).IgnoreError();
  Trace(Kind::kCreatePhotoFolder);
  if (r.Text(u"RndSoundPath", kPathCapacity, &rnd_sound_path_, u"") &&
      !rnd_sound_path_.empty()) {
    RescanRandomSounds();
  } else {
    random_sounds_.reset();
  }
  r.Text(u"AlertSound", kPathCapacity, &alert_sound_, u"");
  r.Int(u"AutoHide", &auto_hide_, 0);
  r.Int(u"ShowTrayIcon", &show_tray_icon_, 1);
  r.Int(u"AutoStart", &auto_start_, 0);
  r.Int(u"AutoSave", &auto_save_, 1);
  r.Int(u"SaveDuration", &save_duration_, 2);
  r.Int(u"BlackDeleteToRecycleBin", &black_delete_to_recycle_bin_, 0);
  r.Int(u"ReceiptToRecycleBin", &receipt_to_recycle_bin_, 0);
  r.Int(u"SaveToSentBox", &save_to_sent_box_, 0);
  r.Int(u"StartScreenSaveMin", &start_screen_save_min_, 0);
  r.Int(u"ProtectLevel", &protect_level_, 1);
  r.Int(u"ReceiveTitle", &receive_title_, 2);
  r.Int(u"SendTitle", &send_title_, 2);
  r.Int(u"ImportTitle", &import_title_, 2);
  int32_t summary_length = 10;
  r.Int(u"SummaryLength", &summary_length, 10);
  text::SetSummaryLength(summary_length);
  r.Int(u"SentAlert", &sent_alert_, 1);
  r.Int(u"DisappearTime", &disappear_time_, 15000);
  r.Int(u"DisappearTimeRecv", &disappear_time_recv_, 15000);
  r.Int(u"ImportSource", &import_source_, 0);
  r.Int(u"UnReadIcon", &unread_icon_, 1);
  r.Int(u"UnReadAlert", &unread_alert_, 0);
  r.Int(u"AlertSecond", &alert_second_, 30000);
}

void SettingsStore::SaveHotkeys(RegistryBatch* batch) const {
  batch->DeleteKey(kRoot, kHotkeyKey).CreateKey(kRoot, kHotkeyKey);
  Writer w(*this, batch, kHotkeyKey);
  for (size_t i = 0; i < hotkeys_.size(); ++i) {
    const HotkeyBinding& binding = hotkeys_[i];
    std::u16string number = Decimal(static_cast<int>(i));
    w.Int(u"KeyVirt" + number, binding.modifiers);
    w.Int(u"KeyCode" + number, binding.key_code);
    w.Int(u"KeyCmd" + number, binding.command);
  }
}

platform::Status SettingsStore::Save() {
  // Everything below is one transaction: a failure or a crash at any point
  // leaves every old value, and a success every new one.
  RegistryBatch batch;
  SaveHotkeys(&batch);
  batch.CreateKey(kRoot, kSettingsKey);
  Writer w(*this, &batch, kSettingsKey);
  w.Int(u"ShowPopup", show_popup_);
  w.Int(u"DisplayMode", display_mode_);
  w.Int(u"SaveWhenArrive", save_when_arrive_);
  w.Int(u"AutoCompress", auto_compress_);
  w.Int(u"WhenCompress", when_compress_);
  w.Int(u"StartHide", start_hide_);
  w.Int(u"SmsSource", 0);  // kept for older readers; never read
  w.Int(u"SmsDelete", sms_delete_);
  w.Int(u"OpenLastFile", open_last_file_);
  w.Int(u"DeleteAlert", delete_alert_);
  w.Int(u"EmptyReceiveBinAlert", empty_receive_bin_alert_);
  w.Text(u"LastDir", last_dir_, kPathCapacity);
  w.Text(u"Sign", sign_, kSignCapacity);
  w.Text(u"SentSkin", sent_skin_, kPathCapacity);
  w.Text(u"AlertSound", alert_sound_, kPathCapacity);
  w.Int(u"AutoHide", auto_hide_);
  w.Int(u"AutoStart", auto_start_);
  w.Int(u"AutoSave", auto_save_);
  w.Text(u"RndSoundPath", rnd_sound_path_, kPathCapacity);
  w.Int(u"SaveDuration", save_duration_);
  w.Int(u"ReceiptToRecycleBin", receipt_to_recycle_bin_);
  w.Int(u"BlackDeleteToRecycleBin", black_delete_to_recycle_bin_);
  w.Int(u"SaveToSentBox", save_to_sent_box_);
  w.Int(u"StartScreenSaveMin", start_screen_save_min_);
  w.Int(u"ProtectLevel", protect_level_);
  w.Int(u"ReceiveTitle", receive_title_);
  w.Int(u"SendTitle", send_title_);
  w.Int(u"ImportTitle", import_title_);
  w.Int(u"SummaryLength", summary_length());
  w.Int(u"SentAlert", sent_alert_);
  w.Int(u"DisappearTime", disappear_time_);
  w.Int(u"DisappearTimeRecv", disappear_time_recv_);
  w.Int(u"ImportSource", import_source_);
  w.Int(u"StatusReport", status_report_);
  w.Int(u"ShowTrayIcon", show_tray_icon_);
  w.Int(u"UnReadIcon", unread_icon_);
  w.Int(u"UnReadAlert", unread_alert_);
  w.Int(u"AlertSecond", alert_second_);
  w.Int(u"ShowPhoto", show_photo_);
  w.Text(u"defaultPhoto", default_photo_, kPathCapacity);
  w.Text(u"PhotoFolder", photo_folder_, kPathCapacity);
  w.Font(u"TreeviewFont", tree_view_font_);
  w.Font(u"ListViewFont", list_view_font_);
  w.Font(u"ContentFont", content_font_);
  Trace(Kind::kCommit);
  platform::Status status = batch.Commit();
  if (!status.ok()) return status;
  Trace(Kind::kFlush);
  std::optional<RegistryKey> key =
      RegistryKey::Open(kRoot, kSettingsKey, &status);
  if (!key) return status;
  return key->Flush();
}

platform::Status SettingsStore::SaveLastOpenFile(std::u16string_view path) {
  last_open_file_ = CutWhole(path, kPathCapacity);
  // The main key and the value together: a crash never leaves a main key
  // without values (which would load every option as missing).
  RegistryBatch batch;
  batch.CreateKey(kRoot, kSettingsKey);
  Trace(Kind::kWrite, kSettingsKey, u"LastOpenFile");
  batch.SetString(kRoot, kSettingsKey, u"LastOpenFile", last_open_file_);
  Trace(Kind::kCommit);
  return batch.Commit();
}

void SettingsStore::ApplyFonts() {
  applied_fonts_ =
      AppliedFonts{tree_view_font_, list_view_font_, content_font_};
  ++font_generation_;
  Trace(Kind::kApplyFonts);
}

size_t SettingsStore::RescanRandomSounds() {
  if (rnd_sound_path_.empty()) {
    random_sounds_.reset();
    return 0;
  }
  if (!random_sounds_) random_sounds_ = std::make_unique<RandomSoundList>();
  Trace(Kind::kScanRandomSounds);
  return random_sounds_->Scan(rnd_sound_path_);
}

int32_t SettingsStore::summary_length() const { return text::SummaryLength(); }
void SettingsStore::set_summary_length(int32_t v) { text::SetSummaryLength(v); }

void SettingsStore::set_alert_sound(std::u16string_view v) {
  alert_sound_ = CutWhole(v, kPathCapacity);
}
void SettingsStore::set_sent_skin(std::u16string_view v) {
  sent_skin_ = CutWhole(v, kPathCapacity);
}
void SettingsStore::set_last_dir(std::u16string_view v) {
  last_dir_ = CutWhole(v, kPathCapacity);
}
void SettingsStore::set_sign(std::u16string_view v) {
  sign_ = CutWhole(v, kSignCapacity);
}
void SettingsStore::set_photo_folder(std::u16string_view v) {
  photo_folder_ = CutWhole(v, kPathCapacity);
}
void SettingsStore::set_default_photo(std::u16string_view v) {
  default_photo_ = CutWhole(v, kPathCapacity);
}
void SettingsStore::set_rnd_sound_path(std::u16string_view v) {
  rnd_sound_path_ = CutWhole(v, kPathCapacity);
}

}  // namespace settings
