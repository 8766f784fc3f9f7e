#include "settings/settings_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/device_db.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/testing/registry_faults.h"
#include "platform/testing/temp_device.h"
#include "text/text.h"

namespace settings {
namespace {

using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryType;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr RegistryRoot kUser = RegistryRoot::kCurrentUser;
constexpr char16_t kApp[] = u"\\Program Files\\Telvane\\";

// The documented orders of the main key's values.
const std::vector<std::u16string> kLoadOrder = {u"StartHide",
                                                u"StatusReport",
                                                u"ShowPhoto",
                                                u"ShowPopup",
                                                u"SaveWhenArrive",
                                                u"DisplayMode",
                                                u"AutoCompress",
                                                u"WhenCompress",
                                                u"SmsDelete",
                                                u"DeleteAlert",
                                                u"OpenLastFile",
                                                u"EmptyReceiveBinAlert",
                                                u"LastDir",
                                                u"LastOpenFile",
                                                u"Sign",
                                                u"TreeviewFont",
                                                u"ListViewFont",
                                                u"ContentFont",
                                                u"SentSkin",
                                                u"defaultPhoto",
                                                u"PhotoFolder",
                                                u"RndSoundPath",
                                                u"AlertSound",
                                                u"AutoHide",
                                                u"ShowTrayIcon",
                                                u"AutoStart",
                                                u"AutoSave",
                                                u"SaveDuration",
                                                u"BlackDeleteToRecycleBin",
                                                u"ReceiptToRecycleBin",
                                                u"SaveToSentBox",
                                                u"StartScreenSaveMin",
                                                u"ProtectLevel",
                                                u"ReceiveTitle",
                                                u"SendTitle",
                                                u"ImportTitle",
                                                u"SummaryLength",
                                                u"SentAlert",
                                                u"DisappearTime",
                                                u"DisappearTimeRecv",
                                                u"ImportSource",
                                                u"UnReadIcon",
                                                u"UnReadAlert",
                                                u"AlertSecond"};

const std::vector<std::u16string> kSaveOrder = {u"ShowPopup",
                                                u"DisplayMode",
                                                u"SaveWhenArrive",
                                                u"AutoCompress",
                                                u"WhenCompress",
                                                u"StartHide",
                                                u"SmsSource",
                                                u"SmsDelete",
                                                u"OpenLastFile",
                                                u"DeleteAlert",
                                                u"EmptyReceiveBinAlert",
                                                u"LastDir",
                                                u"Sign",
                                                u"SentSkin",
                                                u"AlertSound",
                                                u"AutoHide",
                                                u"AutoStart",
                                                u"AutoSave",
                                                u"RndSoundPath",
                                                u"SaveDuration",
                                                u"ReceiptToRecycleBin",
                                                u"BlackDeleteToRecycleBin",
                                                u"SaveToSentBox",
                                                u"StartScreenSaveMin",
                                                u"ProtectLevel",
                                                u"ReceiveTitle",
                                                u"SendTitle",
                                                u"ImportTitle",
                                                u"SummaryLength",
                                                u"SentAlert",
                                                u"DisappearTime",
                                                u"DisappearTimeRecv",
                                                u"ImportSource",
                                                u"StatusReport",
                                                u"ShowTrayIcon",
                                                u"UnReadIcon",
                                                u"UnReadAlert",
                                                u"AlertSecond",
                                                u"ShowPhoto",
                                                u"defaultPhoto",
                                                u"PhotoFolder",
                                                u"TreeviewFont",
                                                u"ListViewFont",
                                                u"ContentFont"};

class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() { unsetenv("TELVANE_APP_FOLDER"); }

  static RegistryKey MainKey() {
    return *RegistryKey::Create(kUser, kSettingsKey);
  }
  static RegistryKey HotkeyKey() {
    return *RegistryKey::Create(kUser, kHotkeyKey);
  }
  static std::vector<std::u16string> ValueNames(std::u16string_view path) {
    std::vector<std::u16string> names;
    if (auto key = RegistryKey::Open(kUser, path)) {
      for (const auto& value : key->Values()) names.push_back(value.name);
    }
    return names;
  }
  // The value names of the main key in the order they were first stored,
  // straight from the registry's table in device.db.
  static std::vector<std::string> StoredOrder() {
    std::vector<std::string> names;
    auto db = platform::DeviceDb::Get();
    platform::Statement rows(
        *db,
        "SELECT v.name FROM registry_values v JOIN registry_keys k"
        " ON v.key = k.id WHERE k.root = 2 AND k.folded = ?"
        " ORDER BY v.rowid");
    rows.Bind(1, std::string_view("software\\pelicorde"));
    while (rows.Step()) names.push_back(rows.ColumnText(0));
    return names;
  }

  platform::testing::TempDevice device_;
};

std::string Utf8(const std::u16string& ascii) {
  return std::string(ascii.begin(), ascii.end());
}

TEST_F(SettingsStoreTest, FirstRunValuesAndMissingValues) {
  SettingsStore first;
  EXPECT_EQ(AppFolder(), kApp);
  EXPECT_EQ(first.last_open_file(), std::u16string(kApp) + u"sms.zud");
  EXPECT_EQ(first.photo_folder(), std::u16string(kApp) + u"photo\\");
  EXPECT_EQ(first.show_photo(), 0);
  EXPECT_EQ(first.save_to_sent_box(), 1);
  EXPECT_EQ(first.start_screen_save_min(), 1);
  EXPECT_EQ(first.display_mode(), 1);
  EXPECT_EQ(first.alert_second(), 30000);
  EXPECT_EQ(first.disappear_time_recv(), 15000);
  EXPECT_EQ(first.summary_length(), 10);
  EXPECT_EQ(first.content_font(), DefaultFontDescription());
  EXPECT_TRUE(first.hotkeys().empty());
  EXPECT_FALSE(PhonePresent());

  // No key yet: the load changes nothing, applies no fonts and makes no
  // photo folder.
  first.set_show_photo(0);
  first.Load();
  EXPECT_EQ(first.save_to_sent_box(), 1);
  EXPECT_FALSE(first.applied_fonts().has_value());
  EXPECT_FALSE(platform::files::IsFolder(first.photo_folder()));

  ASSERT_TRUE(first.Save().ok());
  auto key = MainKey();
  for (const char16_t* name :
       {u"ShowPhoto", u"SaveToSentBox", u"StartScreenSaveMin"}) {
    ASSERT_TRUE(key.DeleteValue(name).ok());
  }
  SettingsStore second;
  second.Load();
  EXPECT_EQ(second.show_photo(), 1);
  EXPECT_EQ(second.save_to_sent_box(), 0);
  EXPECT_EQ(second.start_screen_save_min(), 0);
  // Save never writes "LastOpenFile": it is rebuilt from the program folder.
  EXPECT_EQ(second.last_open_file(), std::u16string(kApp) + u"sms.zud");
  EXPECT_TRUE(platform::files::IsFolder(second.photo_folder()));
  ASSERT_TRUE(second.applied_fonts().has_value());
  EXPECT_EQ(second.applied_fonts()->tree_view, DefaultFontDescription());
}

TEST_F(SettingsStoreTest, ReadsAreTakenAsStoredOrReplacedWhenUnreadable) {
  {
    SettingsStore store;
    store.set_auto_start(1);
    store.set_auto_save(0);
    ASSERT_TRUE(store.Save().ok());
  }
  auto key = MainKey();
  ASSERT_TRUE(key.DeleteValue(u"AutoSave").ok());
  ASSERT_TRUE(key.SetString(u"DisplayMode", u"2").ok());  // wrong type
  ASSERT_TRUE(key.Set(u"WhenCompress", RegistryType::kDword,
                      "\1\0"
                      "\0\0\0")
                  .ok());                              // wrong size
  ASSERT_TRUE(key.SetDword(u"ProtectLevel", 7).ok());  // out of range
  ASSERT_TRUE(key.SetDword(u"SaveDuration", 0xFFFFFFFFu).ok());
  ASSERT_TRUE(key.SetDword(u"LastDir", 5).ok());  // text as DWORD
  ASSERT_TRUE(key.SetString(u"PhotoFolder", std::u16string(260, u'p')).ok());
  ASSERT_TRUE(key.SetString(u"SentSkin", std::u16string(259, u's')).ok());

  SettingsStore store;
  store.set_last_dir(u"keep me?");
  store.Load();
  EXPECT_EQ(store.auto_save(), 1);
  EXPECT_EQ(store.auto_start(), 1);
  EXPECT_EQ(store.display_mode(), 1);
  EXPECT_EQ(store.when_compress(), 2);
  EXPECT_EQ(store.protect_level(), 7);
  EXPECT_EQ(store.save_duration(), -1);
  EXPECT_EQ(store.last_dir(), u"");
  // 260 characters need 522 bytes: too long for the buffer, so missing.
  EXPECT_EQ(store.photo_folder(), std::u16string(kApp) + u"photo\\");
  EXPECT_EQ(store.sent_skin(), std::u16string(259, u's'));
}

struct IntOption {
  const char16_t* name;
  int32_t (SettingsStore::*get)() const;
  void (SettingsStore::*set)(int32_t);
};
struct TextOption {
  const char16_t* name;
  const std::u16string& (SettingsStore::*get)() const;
  void (SettingsStore::*set)(std::u16string_view);
};
using S = SettingsStore;
const IntOption kIntOptions[] = {
    {u"DisplayMode", &S::display_mode, &S::set_display_mode},
    {u"StartHide", &S::start_hide, &S::set_start_hide},
    {u"ShowPopup", &S::show_popup, &S::set_show_popup},
    {u"OpenLastFile", &S::open_last_file, &S::set_open_last_file},
    {u"DeleteAlert", &S::delete_alert, &S::set_delete_alert},
    {u"BlackDeleteToRecycleBin", &S::black_delete_to_recycle_bin,
     &S::set_black_delete_to_recycle_bin},
    {u"SaveToSentBox", &S::save_to_sent_box, &S::set_save_to_sent_box},
    {u"StartScreenSaveMin", &S::start_screen_save_min,
     &S::set_start_screen_save_min},
    {u"ProtectLevel", &S::protect_level, &S::set_protect_level},
    {u"EmptyReceiveBinAlert", &S::empty_receive_bin_alert,
     &S::set_empty_receive_bin_alert},
    {u"ReceiptToRecycleBin", &S::receipt_to_recycle_bin,
     &S::set_receipt_to_recycle_bin},
    {u"AutoStart", &S::auto_start, &S::set_auto_start},
    {u"AutoHide", &S::auto_hide, &S::set_auto_hide},
    {u"ShowTrayIcon", &S::show_tray_icon, &S::set_show_tray_icon},
    {u"SaveWhenArrive", &S::save_when_arrive, &S::set_save_when_arrive},
    {u"AutoCompress", &S::auto_compress, &S::set_auto_compress},
    {u"WhenCompress", &S::when_compress, &S::set_when_compress},
    {u"UnReadIcon", &S::unread_icon, &S::set_unread_icon},
    {u"UnReadAlert", &S::unread_alert, &S::set_unread_alert},
    {u"AlertSecond", &S::alert_second, &S::set_alert_second},
    {u"AutoSave", &S::auto_save, &S::set_auto_save},
    {u"SaveDuration", &S::save_duration, &S::set_save_duration},
    {u"ReceiveTitle", &S::receive_title, &S::set_receive_title},
    {u"SendTitle", &S::send_title, &S::set_send_title},
    {u"ImportTitle", &S::import_title, &S::set_import_title},
    {u"SummaryLength", &S::summary_length, &S::set_summary_length},
    {u"SentAlert", &S::sent_alert, &S::set_sent_alert},
    {u"DisappearTime", &S::disappear_time, &S::set_disappear_time},
    {u"DisappearTimeRecv", &S::disappear_time_recv,
     &S::set_disappear_time_recv},
    {u"ShowPhoto", &S::show_photo, &S::set_show_photo},
    {u"StatusReport", &S::status_report, &S::set_status_report},
    {u"SmsDelete", &S::sms_delete, &S::set_sms_delete},
    {u"ImportSource", &S::import_source, &S::set_import_source},
};
const TextOption kTextOptions[] = {
    {u"AlertSound", &S::alert_sound, &S::set_alert_sound},
    {u"SentSkin", &S::sent_skin, &S::set_sent_skin},
    {u"LastDir", &S::last_dir, &S::set_last_dir},
    {u"Sign", &S::sign, &S::set_sign},
    {u"PhotoFolder", &S::photo_folder, &S::set_photo_folder},
    {u"defaultPhoto", &S::default_photo, &S::set_default_photo},
    {u"RndSoundPath", &S::rnd_sound_path, &S::set_rnd_sound_path},
};

// Each option gets a value of its own, so that two options swapped between
// accessor and value name cannot pass.
TEST_F(SettingsStoreTest, EveryOptionIsStoredUnderItsNameAndReadBack) {
  FontDescription bold = DefaultFontDescription();
  bold.weight = 700;
  SetFaceName(&bold, u"Tahoma");
  auto text_for = [](const char16_t* name) {
    return u"\\My Documents\\" + std::u16string(name) + u"李\\";
  };
  {
    SettingsStore store;
    int32_t value = -3;
    for (const IntOption& option : kIntOptions) (store.*option.set)(value++);
    for (const TextOption& option : kTextOptions) {
      (store.*option.set)(text_for(option.name));
    }
    store.set_list_view_font(bold);
    ASSERT_TRUE(store.Save().ok());
  }
  auto key = MainKey();
  int32_t value = -3;
  for (const IntOption& option : kIntOptions) {
    platform::RegistryValue stored;
    ASSERT_TRUE(key.Query(option.name, 64, &stored).ok()) << Utf8(option.name);
    EXPECT_EQ(stored.type, RegistryType::kDword);
    EXPECT_EQ(stored.data.size(), 4u);
    EXPECT_EQ(key.QueryDword(option.name), static_cast<uint32_t>(value++))
        << Utf8(option.name);
  }
  for (const TextOption& option : kTextOptions) {
    platform::RegistryValue stored;
    ASSERT_TRUE(key.Query(option.name, 1024, &stored).ok());
    EXPECT_EQ(stored.type, RegistryType::kSz);
    EXPECT_EQ(stored.data.size(), (text_for(option.name).size() + 1) * 2);
  }
  EXPECT_EQ(key.QueryDword(u"SmsSource"), 0u);

  text::SetSummaryLength(99);
  SettingsStore store;  // construction resets the summary length
  EXPECT_EQ(text::SummaryLength(), 10);
  store.Load();
  value = -3;
  for (const IntOption& option : kIntOptions) {
    EXPECT_EQ((store.*option.get)(), value++) << Utf8(option.name);
  }
  for (const TextOption& option : kTextOptions) {
    EXPECT_EQ((store.*option.get)(), text_for(option.name))
        << Utf8(option.name);
  }
  EXPECT_EQ(text::SummaryLength(), store.summary_length());
  EXPECT_TRUE(platform::files::IsFolder(text_for(u"PhotoFolder")));
  EXPECT_EQ(store.list_view_font(), bold);
  EXPECT_EQ(store.tree_view_font(), DefaultFontDescription());
  ASSERT_TRUE(store.applied_fonts().has_value());
  EXPECT_EQ(store.applied_fonts()->list_view, bold);
}

TEST_F(SettingsStoreTest, SaveWritesTheDocumentedOrder) {
  SettingsStore store;
  std::vector<std::u16string> traced;
  store.set_trace([&](const SettingsTraceEvent& event) {
    if (event.kind == SettingsTraceEvent::Kind::kWrite &&
        event.key == kSettingsKey) {
      traced.emplace_back(event.name);
    }
  });
  ASSERT_TRUE(store.Save().ok());
  EXPECT_EQ(traced, kSaveOrder);
  // The registry's own record of insertion order agrees with the trace.
  std::vector<std::string> expected;
  for (const auto& name : kSaveOrder) expected.push_back(Utf8(name));
  EXPECT_EQ(StoredOrder(), expected);
}

// Everything a save writes, as committed (another process's view).
std::vector<platform::testing::CommittedValue> Committed() {
  return platform::testing::CommittedRegistry(kUser, kSettingsKey);
}

// A save that fails at any of its writes leaves every old value (the
// hotkeys included) and no other reader ever sees a part of it; the store
// keeps what it was to save.
TEST_F(SettingsStoreTest, SaveIsAllOrNothing) {
  SettingsStore old_store;
  old_store.mutable_hotkeys() = {HotkeyBinding{1, 2, 3},
                                 HotkeyBinding{4, 5, 6}};
  old_store.set_last_dir(u"\\Old\\");
  ASSERT_TRUE(old_store.SaveLastOpenFile(u"\\My Documents\\old.zud").ok());
  ASSERT_TRUE(old_store.Save().ok());
  const auto old_values = Committed();

  SettingsStore store;
  store.mutable_hotkeys() = {HotkeyBinding{7, 8, 9}};
  store.set_last_dir(u"\\New\\");
  store.set_show_photo(1);
  store.set_sign(u"bye");
  FontDescription bold = DefaultFontDescription();
  bold.weight = 700;
  store.set_content_font(bold);
  size_t writes = 0;
  {
    platform::testing::RegistryFaults counting;
    counting.set_observer([&](const platform::testing::RegistryFaults::Write&) {
      EXPECT_EQ(Committed(), old_values);
    });
    ASSERT_TRUE(store.Save().ok());
    writes = counting.writes();
  }
  const auto new_values = Committed();
  ASSERT_NE(new_values, old_values);
  // Both hotkey writes and main key writes are in the one transaction.
  EXPECT_EQ(writes, 2 + 3 + 1 + kSaveOrder.size());

  for (size_t n = 1; n <= writes; ++n) {
    SCOPED_TRACE("failing write " + std::to_string(n));
    ASSERT_TRUE(old_store.Save().ok());
    platform::testing::RegistryFaults faults;
    faults.FailWrite(n);
    EXPECT_FALSE(store.Save().ok());
    EXPECT_TRUE(faults.fired());
    EXPECT_EQ(Committed(), old_values);
  }
  // What the store held is what it saves once nothing fails.
  EXPECT_THAT(store.hotkeys(), ElementsAre(HotkeyBinding{7, 8, 9}));
  ASSERT_TRUE(store.Save().ok());
  EXPECT_EQ(Committed(), new_values);
}

// On a device that has no settings yet, a failed SaveLastOpenFile leaves no
// main key behind: an empty one would load every option as missing.
TEST_F(SettingsStoreTest, SaveLastOpenFileMakesTheKeyAndValueTogether) {
  SettingsStore store;
  size_t writes = 0;
  {
    platform::testing::RegistryFaults counting;
    ASSERT_TRUE(store.SaveLastOpenFile(u"\\a.zud").ok());
    writes = counting.writes();
  }
  EXPECT_EQ(writes, 2u);
  for (size_t n = 1; n <= writes; ++n) {
    SCOPED_TRACE("failing write " + std::to_string(n));
    platform::DeleteRegistryKey(kUser, u"Software").IgnoreError();
    ASSERT_FALSE(RegistryKey::Open(kUser, kSettingsKey).has_value());
    platform::testing::RegistryFaults faults;
    faults.FailWrite(n);
    EXPECT_FALSE(store.SaveLastOpenFile(u"\\b.zud").ok());
    EXPECT_FALSE(RegistryKey::Open(kUser, kSettingsKey).has_value());
    SettingsStore loaded;
    loaded.Load();
    EXPECT_EQ(loaded.save_to_sent_box(), 1);  // first-run, not missing
  }
  EXPECT_EQ(store.last_open_file(), u"\\b.zud");
}

TEST_F(SettingsStoreTest, LoadReadsTheDocumentedOrderWithItsSteps) {
  {
    SettingsStore store;
    store.set_rnd_sound_path(u"\\My Documents\\");
    ASSERT_TRUE(store.Save().ok());
  }
  SettingsStore store;
  std::vector<std::u16string> sequence;
  int hotkey_reads = 0;
  store.set_trace([&](const SettingsTraceEvent& event) {
    using Kind = SettingsTraceEvent::Kind;
    switch (event.kind) {
      case Kind::kRead:
        if (event.key == kHotkeyKey) {
          EXPECT_TRUE(sequence.empty()) << "hotkeys come first";
          ++hotkey_reads;
        } else {
          sequence.emplace_back(event.name);
        }
        break;
      case Kind::kApplyFonts:
        sequence.push_back(u"<apply fonts>");
        break;
      case Kind::kCreatePhotoFolder:
        sequence.push_back(u"<photo folder>");
        break;
      case Kind::kScanRandomSounds:
        sequence.push_back(u"<scan sounds>");
        break;
      default:
        sequence.push_back(u"<unexpected>");
    }
  });
  store.Load();
  EXPECT_EQ(hotkey_reads, 3 * 99);
  std::vector<std::u16string> expected = kLoadOrder;
  auto after = [&](const char16_t* name, const char16_t* step) {
    auto at = std::find(expected.begin(), expected.end(), name);
    expected.insert(at + 1, step);
  };
  after(u"ContentFont", u"<apply fonts>");
  after(u"PhotoFolder", u"<photo folder>");
  after(u"RndSoundPath", u"<scan sounds>");
  EXPECT_EQ(sequence, expected);
  ASSERT_NE(store.random_sounds(), nullptr);
  EXPECT_EQ(store.random_sounds()->folder(), u"\\My Documents\\");
}

TEST_F(SettingsStoreTest, SaveLastOpenFileWritesThatValueAlone) {
  SettingsStore store;
  store.set_show_photo(1);
  ASSERT_TRUE(store.SaveLastOpenFile(u"\\My Documents\\a.zud").ok());
  EXPECT_EQ(store.last_open_file(), u"\\My Documents\\a.zud");
  EXPECT_THAT(ValueNames(kSettingsKey), ElementsAre(u"LastOpenFile"));
  EXPECT_EQ(MainKey().QueryString(u"LastOpenFile", 260),
            u"\\My Documents\\a.zud");
  EXPECT_TRUE(ValueNames(kHotkeyKey).empty());

  ASSERT_TRUE(store.Save().ok());
  store.set_show_photo(0);
  ASSERT_TRUE(store.SaveLastOpenFile(u"").ok());
  EXPECT_EQ(MainKey().QueryDword(u"ShowPhoto"), 1u);
  platform::RegistryValue value;
  ASSERT_TRUE(MainKey().Query(u"LastOpenFile", 16, &value).ok());
  EXPECT_EQ(value.data, std::string(2, '\0'));

  SettingsStore reloaded;
  reloaded.Load();
  EXPECT_EQ(reloaded.last_open_file(), u"");
}

TEST_F(SettingsStoreTest, HotkeySlotsLoadInOrderWithGapsAndSaveCompacted) {
  auto key = HotkeyKey();
  auto put = [&](int slot, uint32_t virt, uint32_t code, uint32_t cmd) {
    std::u16string n;
    for (char c : std::to_string(slot)) n.push_back(c);
    ASSERT_TRUE(key.SetDword(u"KeyVirt" + n, virt).ok());
    ASSERT_TRUE(key.SetDword(u"KeyCode" + n, code).ok());
    ASSERT_TRUE(key.SetDword(u"KeyCmd" + n, cmd).ok());
  };
  put(0, 0x08, 0xC1, 32771);
  put(1, 0x1FF, 0x12345, 0x10010);  // only the low byte / 16 bits count
  put(5, 0, 0x26, 40001);
  put(6, 1, 2, 3);
  ASSERT_TRUE(key.DeleteValue(u"KeyCmd6").ok());  // incomplete: dropped
  put(7, 0xFFFFFFFFu, 2, 3);  // reads as "not read": dropped
  put(99, 1, 2, 3);           // beyond the 99 slots

  SettingsStore store;
  store.Load();
  EXPECT_THAT(store.hotkeys(), ElementsAre(HotkeyBinding{0x08, 0xC1, 32771},
                                           HotkeyBinding{0xFF, 0x2345, 0x0010},
                                           HotkeyBinding{0, 0x26, 40001}));

  ASSERT_TRUE(store.Save().ok());
  EXPECT_THAT(
      ValueNames(kHotkeyKey),
      ::testing::UnorderedElementsAre(u"KeyVirt0", u"KeyCode0", u"KeyCmd0",
                                      u"KeyVirt1", u"KeyCode1", u"KeyCmd1",
                                      u"KeyVirt2", u"KeyCode2", u"KeyCmd2"));
  EXPECT_EQ(HotkeyKey().QueryDword(u"KeyVirt1"), 0xFFu);
  EXPECT_EQ(HotkeyKey().QueryDword(u"KeyCmd2"), 40001u);
}

TEST_F(SettingsStoreTest, SavingReplacesTheKeySubkeyAndLeavesIndexAlone) {
  RegistryKey index =
      *RegistryKey::Create(kUser, u"Software\\Pelicorde\\Index");
  ASSERT_TRUE(index.SetDword(u"Count", 3).ok());

  SettingsStore store;
  for (uint16_t i = 0; i < 5; ++i) {
    store.mutable_hotkeys().push_back(HotkeyBinding{1, i, uint16_t(100 + i)});
  }
  ASSERT_TRUE(store.Save().ok());
  EXPECT_EQ(ValueNames(kHotkeyKey).size(), 15u);
  store.mutable_hotkeys().erase(store.mutable_hotkeys().begin(),
                                store.mutable_hotkeys().begin() + 3);
  ASSERT_TRUE(store.Save().ok());

  auto subkeys = RegistryKey::Open(kUser, kSettingsKey)->Subkeys();
  EXPECT_THAT(subkeys, ::testing::UnorderedElementsAre(u"Key", u"Index"));
  EXPECT_EQ(ValueNames(kHotkeyKey).size(), 6u);
  SettingsStore reloaded;
  reloaded.Load();
  EXPECT_THAT(reloaded.hotkeys(),
              ElementsAre(HotkeyBinding{1, 3, 103}, HotkeyBinding{1, 4, 104}));
  EXPECT_EQ(index.QueryDword(u"Count"), 3u);

  // Save writes every binding; only the first 99 come back.
  for (uint16_t i = 0; i < 100; ++i) {
    store.mutable_hotkeys().push_back(HotkeyBinding{0, i, i});
  }
  ASSERT_TRUE(store.Save().ok());
  EXPECT_EQ(HotkeyKey().QueryDword(u"KeyCmd101"), 99u);
  reloaded.Load();
  ASSERT_EQ(reloaded.hotkeys().size(), 99u);
  EXPECT_EQ(reloaded.hotkeys().back(), (HotkeyBinding{0, 96, 96}));
}

TEST_F(SettingsStoreTest, FontsAreStoredAs92ByteBinaryAndCheckedForSize) {
  FontDescription font = DefaultFontDescription();
  font.weight = 700;
  font.charset = 134;
  SetFaceName(&font, u"SimSun");
  {
    SettingsStore store;
    store.set_content_font(font);
    ASSERT_TRUE(store.Save().ok());
  }
  platform::RegistryValue value;
  auto key = MainKey();
  ASSERT_TRUE(key.Query(u"ContentFont", 1024, &value).ok());
  EXPECT_EQ(value.type, RegistryType::kBinary);
  ASSERT_EQ(value.data.size(), 92u);
  EXPECT_EQ(value.data, EncodeFontDescription(font));

  SettingsStore store;
  store.Load();
  EXPECT_EQ(store.content_font(), font);
  const uint64_t generation = store.font_generation();

  // Too short, too long and of another type: each gives the default.
  ASSERT_TRUE(key.SetBinary(u"TreeviewFont", value.data.substr(0, 91)).ok());
  ASSERT_TRUE(key.SetBinary(u"ListViewFont", value.data + "x").ok());
  ASSERT_TRUE(key.Set(u"ContentFont", RegistryType::kSz, value.data).ok());
  store.set_tree_view_font(font);
  store.Load();
  EXPECT_EQ(store.tree_view_font(), DefaultFontDescription());
  EXPECT_EQ(store.list_view_font(), DefaultFontDescription());
  EXPECT_EQ(store.content_font(), DefaultFontDescription());
  EXPECT_EQ(store.font_generation(), generation + 1);
  EXPECT_EQ(store.applied_fonts()->content, DefaultFontDescription());
}

TEST(FontDescriptionTest, LayoutMatchesThePlatformStructure) {
  FontDescription font = DefaultFontDescription();
  EXPECT_EQ(font.height, -12);
  EXPECT_EQ(font.weight, 400);
  EXPECT_EQ(font.charset, 1);
  EXPECT_EQ(font.pitch_and_family, 0x20);
  EXPECT_EQ(FaceName(font), u"System");
  font.width = 0x01020304;
  font.escapement = 900;
  font.orientation = 1800;
  font.italic = 1;
  font.underline = 2;
  font.strike_out = 3;
  font.out_precision = 5;
  font.clip_precision = 6;
  font.quality = 7;
  std::string bytes = EncodeFontDescription(font);
  ASSERT_EQ(bytes.size(), 92u);
  EXPECT_EQ(bytes.substr(0, 28), std::string("\xf4\xff\xff\xff"
                                             "\x04\x03\x02\x01"
                                             "\x84\x03\0\0"
                                             "\x08\x07\0\0"
                                             "\x90\x01\0\0"
                                             "\x01\x02\x03\x01\x05\x06\x07\x20",
                                             28));
  EXPECT_EQ(bytes.substr(28, 14), std::string("S\0y\0s\0t\0e\0m\0\0\0", 14));
  EXPECT_EQ(DecodeFontDescription(bytes), font);
  EXPECT_FALSE(DecodeFontDescription(bytes.substr(1)).has_value());

  // A face name of 32 units with no terminator is read whole; setting one
  // keeps room for the terminator.
  for (int i = 0; i < 32; ++i) bytes[28 + 2 * i] = 'A';
  EXPECT_EQ(FaceName(*DecodeFontDescription(bytes)), std::u16string(32, u'A'));
  SetFaceName(&font, std::u16string(40, u'B'));
  EXPECT_EQ(FaceName(font), std::u16string(31, u'B'));
}

TEST_F(SettingsStoreTest, SignatureLongerThanItsBufferIsCutToWhatFits) {
  auto key = MainKey();
  ASSERT_TRUE(key.SetString(u"Sign", std::u16string(200, u'x')).ok());
  SettingsStore store;
  store.Load();
  EXPECT_EQ(store.sign(), std::u16string(139, u'x'));

  // A pair of surrogates across the cut is not split.
  std::u16string text(138, u'y');
  text += u"\U0001F600z";
  ASSERT_TRUE(key.SetString(u"Sign", text).ok());
  store.Load();
  EXPECT_EQ(store.sign(), std::u16string(138, u'y'));

  ASSERT_TRUE(key.SetString(u"Sign", std::u16string(139, u'k')).ok());
  store.Load();
  EXPECT_EQ(store.sign(), std::u16string(139, u'k'));

  ASSERT_TRUE(key.SetBinary(u"Sign", std::string(400, 'a')).ok());
  store.Load();
  EXPECT_EQ(store.sign(), u"");

  // The setter and the save hold to the same capacity.
  store.set_sign(std::u16string(150, u'q'));
  EXPECT_EQ(store.sign().size(), 139u);
}

TEST_F(SettingsStoreTest, RandomSoundListFollowsTheSoundFolder) {
  std::filesystem::create_directories(device_.HostPath("\\My Documents\\Ring"));
  for (const char* name : {"a.wav", "b.txt", "c.mp3"}) {
    std::filesystem::path path =
        device_.HostPath(std::string("\\My Documents\\Ring\\") + name);
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fclose(file);
  }
  SettingsStore store;
  store.set_rnd_sound_path(u"\\My Documents\\Ring\\");
  ASSERT_TRUE(store.Save().ok());

  SettingsStore loaded;
  loaded.Load();
  ASSERT_NE(loaded.random_sounds(), nullptr);
  EXPECT_THAT(loaded.random_sounds()->names(), ElementsAre(u"a.wav", u"c.mp3"));

  loaded.set_rnd_sound_path(u"");
  EXPECT_EQ(loaded.RescanRandomSounds(), 0u);
  EXPECT_EQ(loaded.random_sounds(), nullptr);

  // A path that cannot be read leaves no list.
  ASSERT_TRUE(MainKey().SetDword(u"RndSoundPath", 1).ok());
  store.Load();
  EXPECT_EQ(store.rnd_sound_path(), u"");
  EXPECT_EQ(store.random_sounds(), nullptr);
}

TEST_F(SettingsStoreTest, PhonePresentFollowsThePhoneLibrary) {
  { SettingsStore store; }
  EXPECT_FALSE(PhonePresent());
  // Any loadable library stands for the phone's; the platform tests build one.
  std::filesystem::path library =
      platform::testing::BinDir().parent_path() / "lib" / "libcomtestserver.so";
  if (!std::filesystem::exists(library)) {
    GTEST_SKIP() << "no library to install as phone.dll";
  }
  std::filesystem::copy_file(library, device_.HostPath("\\Windows\\phone.dll"));
  { SettingsStore store; }
  EXPECT_TRUE(PhonePresent());
}

}  // namespace
}  // namespace settings
