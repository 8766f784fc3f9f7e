#include "firewall/filter_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/files.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/temp_device.h"

namespace firewall {
namespace {

using namespace std::literals;

constexpr std::u16string_view kFilePath = u"\\My Documents\\pelicorde.ini";

// UTF-16LE bytes of `units` (no mark added).
std::string Bytes(std::u16string_view units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// The units of a UTF-16LE image (an odd last byte dropped).
std::u16string Units(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(
        static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                              (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  return units;
}

FilterSet Parse(std::u16string_view units_after_mark,
                ParseReport* report = nullptr) {
  std::string bytes = Bytes(u"\uFEFF") + Bytes(units_after_mark);
  FilterSet set;
  ParseFilterFile(
      std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
      &set, report);
  return set;
}

FilterSet ParseBytes(const std::string& bytes) {
  FilterSet set;
  ParseFilterFile(
      std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
      &set);
  return set;
}

using platform::testing::ReadHostFile;

TEST(FilterFileFormat, FirstStartFileBytes) {
  platform::testing::TempDevice device;
  FilterSet set;
  set.file_path = std::u16string(kFilePath);
  EXPECT_EQ(LoadFilterFile(&set), LoadOutcome::kCreated);
  std::string expected =
      "\xFF\xFE" + Bytes(
                       u"G\r\nA0\\Inbox\r\nA8\r\nEnd\r\nU\r\nA0\\Inbox\r\n"
                       u"A8\r\nEnd\r\nP\r\n");
  EXPECT_EQ(ReadHostFile(device.HostPath("/My Documents/pelicorde.ini")),
            expected);
  for (const FilterRecord* d : {&set.contact_default, &set.stranger_default}) {
    EXPECT_NE(d->apply_to_all, 0);
    EXPECT_EQ(d->Value(kSaveToFolder), u"\\Inbox");
    EXPECT_TRUE(d->Has(kUnreadAlert));
  }

  // The second start reads it back, with the same defaults.
  FilterSet again;
  again.file_path = set.file_path;
  EXPECT_EQ(LoadFilterFile(&again), LoadOutcome::kRead);
  EXPECT_EQ(again.stranger_default.Value(kSaveToFolder), u"\\Inbox");
  EXPECT_TRUE(again.contact_default.Has(kUnreadAlert));
  EXPECT_NE(again.contact_default.apply_to_all, 0);
  EXPECT_TRUE(again.filters.empty());
  EXPECT_TRUE(again.password.empty());
}

TEST(FilterFileFormat, ExampleFilterAndEscapedValues) {
  FilterSet set;
  FilterRecord filter;
  filter.SetName(u"Filter 3");
  filter.rules[0] = Rule{kObjectPhoneNumber, kJudgeInclude, u"138"};
  filter.Set(kVibrate, std::nullopt);
  filter.Set(kSaveToFolder, u"\\Work");
  set.filters.push_back(filter);
  std::u16string units = Units(SerializeFilterFile(set));
  EXPECT_EQ(units.substr(0, 1), u"\uFEFF");
  const std::u16string example =
      u"F01Filter 3\r\nC00138\r\nA0\\Work\r\nA3\r\nEnd\r\n";
  EXPECT_EQ(units.substr(1, example.size()), example);

  // An auto reply with a line break is written on one line and read back
  // with it; the value in memory keeps its line break.
  set.filters[0].Set(kAutoReply, u"Hi\r\nBye");
  units = Units(SerializeFilterFile(set));
  EXPECT_NE(units.find(u"A2Hi``Bye\r\n"), std::u16string::npos);
  EXPECT_EQ(set.filters[0].Value(kAutoReply), u"Hi\r\nBye");
  FilterSet back = ParseBytes(SerializeFilterFile(set));
  EXPECT_EQ(back.filters[0].Value(kAutoReply), u"Hi\r\nBye");

  // A typed backquote does not survive (it reads as a line break and takes
  // the next unit with it); a lone line feed is written as a line break
  // rather than breaking the line.
  set.filters[0].Set(kAutoReply, u"a`bc");
  set.filters[0].Set(kAutoForward, u"1\n2");
  back = ParseBytes(SerializeFilterFile(set));
  EXPECT_EQ(back.filters[0].Value(kAutoReply), u"a\r\nc");
  EXPECT_EQ(back.filters[0].Value(kAutoForward), u"1\r\n2");
  EXPECT_EQ(back.filters[0].rules[0]->content, u"138");

  // The "P" line is always there; the password is masked unit by unit.
  EXPECT_EQ(units.substr(units.size() - 3), u"P\r\n");
  set.password = u"ab";
  units = Units(SerializeFilterFile(set));
  std::u16string masked = {static_cast<char16_t>(u'a' ^ kPasswordMask),
                           static_cast<char16_t>(u'b' ^ kPasswordMask)};
  EXPECT_EQ(units.substr(units.size() - 5), u"P" + masked + u"\r\n");
  EXPECT_EQ(kPasswordMask, 0xE3A5);  // must never change
}

TEST(FilterFileFormat, SaveThenLoadKeepsEverything) {
  FilterSet set;
  for (int i = 0; i < 3; ++i) {
    FilterRecord filter = NewFilter();
    filter.SetName(u"filter " + std::u16string(1, u'0' + i));
    filter.apply_to_all = i == 2;
    filter.enabled = i != 1;
    filter.rules[0] = Rule{kObjectBody, kJudgeEqual, u"x?y"};
    if (i == 1) filter.rules[1] = Rule{kObjectPhoneNumber, kJudgeNotEqual, u""};
    for (int slot = 0; slot < kActionSlotCount; ++slot) {
      filter.Set(slot, u"value " + std::u16string(1, u'0' + slot));
    }
    filter.Set(kAutoReply, u"two\r\nlines");
    filter.Set(kPlaySound, std::u16string(kRandomRingMarker));
    filter.Set(kDontShowInInbox, std::nullopt);  // comes back empty
    set.filters.push_back(filter);
  }
  set.black_list = {
      {u"Ann", u"13800138000"}, {u"", u"138????8000"}, {u"all", u""}};
  set.contact_default.rules[0] = Rule{kObjectBody, kJudgeExclude, u"ad"};
  set.contact_default.Set(kVibrate, u"");
  set.stranger_default.Set(kDontShowInInbox, u"");
  set.password = u"0123456789";

  FilterSet back = ParseBytes(SerializeFilterFile(set));
  ASSERT_EQ(back.filters.size(), 3u);
  for (FilterRecord& filter : set.filters) {
    filter.actions[kDontShowInInbox].value = u"";
  }
  EXPECT_EQ(back.filters, set.filters);
  EXPECT_EQ(back.black_list, set.black_list);
  EXPECT_EQ(back.contact_default.rules, set.contact_default.rules);
  EXPECT_EQ(back.contact_default.actions, set.contact_default.actions);
  EXPECT_EQ(back.stranger_default.actions, set.stranger_default.actions);
  EXPECT_EQ(back.password, set.password);
  // Save of what was read is byte-identical.
  EXPECT_EQ(SerializeFilterFile(back), SerializeFilterFile(set));
}

TEST(FilterFileFormat, DigitFieldsAndOddValuesKeepTheFileWhole) {
  // Non-digit digit fields read as unit - 48, and are written back the same.
  FilterSet set = Parse(u"Fx1odd\r\nC7:abc\r\nEnd\r\nP\r\n");
  ASSERT_EQ(set.filters.size(), 1u);
  EXPECT_EQ(set.filters[0].apply_to_all, u'x' - 48);
  EXPECT_EQ(set.filters[0].rules[0]->object, 7);
  EXPECT_EQ(set.filters[0].rules[0]->judge, u':' - 48);
  EXPECT_EQ(Units(SerializeFilterFile(set)).substr(1, 22),
            u"Fx1odd\r\nC7:abc\r\nEnd\r\nG");
  // Values no unit can carry are written as digits of the same meaning.
  set.filters[0].apply_to_all = -35;
  set.filters[0].enabled = 100000;
  set.filters[0].rules[0]->object = -38;
  set.filters[0].rules[0]->judge = -35;
  set.filters[0].name = u"a\r\nE";
  FilterSet back = ParseBytes(SerializeFilterFile(set));
  ASSERT_EQ(back.filters.size(), 1u);
  EXPECT_EQ(back.filters[0].apply_to_all, 1);
  EXPECT_EQ(back.filters[0].enabled, 1);
  EXPECT_EQ(back.filters[0].rules[0]->object, 9);
  EXPECT_EQ(back.filters[0].rules[0]->judge, 9);
  EXPECT_EQ(back.filters[0].name, u"a");
}

TEST(FilterFileLoader, DamagedInputKeepsWhatIsSound) {
  ParseReport report;
  // Stray block lines at top level, a bad slot, a third rule, a missing End.
  FilterSet set = Parse(
      u"C00x\r\nA1\r\nEnd\r\nZzz\r\n"
      u"F11Only\r\nC001\r\nC112\r\nC003\r\nA:bad\r\nA5+1;+2\r\nA5+3\r\nXx\r\n"
      u"Bnobackquote\r\nB`1234\r\nBname`\r\nBa``5``6\r\n"
      u"Pq",
      &report);
  ASSERT_EQ(set.filters.size(), 1u);  // the block swallowed the rest
  const FilterRecord& only = set.filters[0];
  EXPECT_EQ(only.name, u"Only");
  EXPECT_EQ(only.rules[0]->content, u"1");
  EXPECT_EQ(only.rules[1]->content, u"2");     // the third "C" is not read
  EXPECT_EQ(only.Value(kAutoForward), u"+3");  // a repeated slot replaces
  EXPECT_FALSE(only.Has(kDontShowInInbox));
  EXPECT_EQ(report.bad_slots, 1u);
  EXPECT_TRUE(report.missing_end);
  EXPECT_TRUE(set.black_list.empty());
  EXPECT_GE(report.skipped_lines, 4u);

  // The same Black List lines at top level.
  set = Parse(u"Bnobackquote\r\nB`1234\r\nBname`\r\nBa``5``6\r\nB\r\nPq");
  ASSERT_EQ(set.black_list.size(), 3u);
  EXPECT_EQ(set.black_list[0], (BlackListEntry{u"", u"1234"}));
  EXPECT_EQ(set.black_list[1], (BlackListEntry{u"name", u""}));
  EXPECT_EQ(set.black_list[2], (BlackListEntry{u"a", u"5"}));
  EXPECT_EQ(set.password,
            std::u16string(1, static_cast<char16_t>(u'q' ^ kPasswordMask)));

  // Short lines: missing digits read as NUL; "A" at the very end of the
  // file without CR LF is present without a value; a NUL ends a line.
  set = Parse(u"F\r\nC\r\nA7\0tail\r\nA8"sv);
  ASSERT_EQ(set.filters.size(), 1u);
  EXPECT_EQ(set.filters[0].apply_to_all, u'\r' - 48);
  EXPECT_EQ(set.filters[0].enabled, u'\n' - 48);
  EXPECT_EQ(set.filters[0].rules[0]->object, u'\r' - 48);
  EXPECT_TRUE(set.filters[0].Has(7));
  EXPECT_FALSE(set.filters[0].actions[7].value.has_value());
  EXPECT_TRUE(set.filters[0].Has(kUnreadAlert));
  EXPECT_FALSE(set.filters[0].actions[kUnreadAlert].value.has_value());

  // A long name is cut to 39; a line of 10,000 units is read in pieces of
  // 259, each taken as a line of its own.
  std::u16string long_name(10000, u'n');
  set = Parse(u"F01" + long_name + u"\r\nA3\r\nEnd\r\nB`9\r\n");
  ASSERT_EQ(set.filters.size(), 1u);
  EXPECT_EQ(set.filters[0].name, std::u16string(39, u'n'));
  EXPECT_TRUE(set.filters[0].Has(kVibrate));
  EXPECT_EQ(set.black_list.size(), 1u);
  // A piece that starts with "E" closes the block early.
  std::u16string name_then_end(kLinePieceLength - 3, u'n');
  set = Parse(u"F01" + name_then_end + u"End\r\nA3\r\nEnd\r\n");
  ASSERT_EQ(set.filters.size(), 1u);
  EXPECT_FALSE(set.filters[0].Has(kVibrate));

  // Odd length, no mark, nothing at all.
  std::string odd = Bytes(u"\uFEFFB`77\r\n") + "X";
  set = ParseBytes(odd);
  EXPECT_EQ(set.black_list.size(), 1u);
  set = ParseBytes(Bytes(u"B`1\r\nB`2\r\n"));  // first two bytes: the "mark"
  ASSERT_EQ(set.black_list.size(), 1u);
  EXPECT_EQ(set.black_list[0].phone, u"2");
  set = ParseBytes("");
  EXPECT_TRUE(set.filters.empty());
  EXPECT_NE(set.contact_default.apply_to_all, 0);
}

TEST(FilterFileLoader, ReloadReplacesTheSetAndDefaultsKeepOnlyTheirSection) {
  FilterSet set = Parse(
      u"F01a\r\nEnd\r\nB`1\r\nG\r\nC11x\r\nA3\r\nEnd\r\nU\r\n"
      u"End\r\nP\r\n");
  EXPECT_TRUE(set.contact_default.Has(kVibrate));
  EXPECT_FALSE(set.contact_default.Has(kSaveToFolder));  // nothing implied
  EXPECT_FALSE(set.stranger_default.Has(kSaveToFolder));
  EXPECT_NE(set.stranger_default.apply_to_all, 0);
  std::string again = Bytes(u"\uFEFFG\r\nA0\\x\r\nEnd\r\n");
  ParseFilterFile(
      std::span(reinterpret_cast<const uint8_t*>(again.data()), again.size()),
      &set);
  EXPECT_TRUE(set.filters.empty());
  EXPECT_TRUE(set.black_list.empty());
  EXPECT_FALSE(set.contact_default.Has(kVibrate));
  EXPECT_FALSE(set.contact_default.rules[0].has_value());
  EXPECT_EQ(set.contact_default.Value(kSaveToFolder), u"\\x");
  EXPECT_EQ(set.contact_default.name, u"Contact Default");
}

TEST(FilterFileStorage, UnwritableFileAndMissingPath) {
  platform::testing::TempDevice device;
  FilterSet set;
  EXPECT_EQ(SaveFilterFile(set), SaveOutcome::kNoPath);
  EXPECT_EQ(LoadFilterFile(&set), LoadOutcome::kCreated);  // nothing written
  EXPECT_NE(set.stranger_default.apply_to_all, 0);

  // A folder where the file should be: cannot be opened either way.
  ASSERT_TRUE(platform::files::CreateFolder(u"\\My Documents\\dir.ini").ok());
  set.file_path = u"\\My Documents\\dir.ini";
  set.black_list.push_back({u"x", u"1"});
  EXPECT_EQ(SaveFilterFile(set), SaveOutcome::kNotWritten);
  EXPECT_EQ(set.black_list.size(), 1u);  // the set in memory stays

  // A read-only file is not written; the old content stays.
  set.file_path = std::u16string(kFilePath);
  ASSERT_EQ(SaveFilterFile(set), SaveOutcome::kSaved);
  std::filesystem::path host = device.HostPath("/My Documents/pelicorde.ini");
  std::string before = ReadHostFile(host);
  ASSERT_EQ(chmod(host.c_str(), 0444), 0);
  set.black_list.clear();
  EXPECT_EQ(SaveFilterFile(set), SaveOutcome::kNotWritten);
  EXPECT_EQ(ReadHostFile(host), before);
  ASSERT_EQ(chmod(host.c_str(), 0644), 0);
  set.black_list.push_back({u"x", u"1"});

  // A save goes through a file beside the target and leaves nothing else.
  ASSERT_EQ(SaveFilterFile(set), SaveOutcome::kSaved);
  EXPECT_FALSE(platform::files::Exists(u"\\My Documents\\pelicorde.ini.new"));

  // Load from the saved file.
  FilterSet loaded;
  loaded.file_path = std::u16string(kFilePath);
  EXPECT_EQ(LoadFilterFile(&loaded), LoadOutcome::kRead);
  ASSERT_EQ(loaded.black_list.size(), 1u);
  EXPECT_EQ(loaded.black_list[0].phone, u"1");
}

// A save that fails at any file call, or whose write is cut short, reports
// it and leaves the old file or the new one, whole, with nothing beside it;
// so does a crash at any moment. The set is not touched.
TEST(FilterFileStorage, EveryFailedSaveLeavesTheOldFileOrTheNew) {
  platform::testing::TempDevice device;
  const std::filesystem::path folder = device.HostPath("/My Documents");
  const std::filesystem::path host = folder / "pelicorde.ini";
  FilterSet set;
  set.file_path = std::u16string(kFilePath);
  ASSERT_EQ(LoadFilterFile(&set), LoadOutcome::kCreated);
  const std::string old_bytes = ReadHostFile(host);
  FilterRecord filter = NewFilter();
  filter.SetName(u"Spam");
  filter.rules[0] = Rule{kObjectBody, kJudgeInclude, u"offer"};
  filter.Set(kVibrate, std::nullopt);
  set.filters.push_back(filter);
  set.black_list.push_back({u"Ann", u"138"});
  set.password = u"pw";
  const std::string new_bytes = SerializeFilterFile(set);

  auto old_or_new = [&] {
    std::string now = ReadHostFile(host);
    EXPECT_TRUE(now == old_bytes || now == new_bytes) << now.size() << " bytes";
  };
  size_t calls = platform::testing::SweepFileFaults(
      [&] { platform::testing::WriteHostFile(host, old_bytes); },
      [&] {
        platform::Status status;
        SaveOutcome outcome = SaveFilterFile(set, &status);
        EXPECT_EQ(outcome == SaveOutcome::kSaved, status.ok());
        return status;
      },
      [&] {
        old_or_new();
        EXPECT_EQ(platform::testing::HostFileNames(folder),
                  std::vector<std::string>{"pelicorde.ini"});
        EXPECT_EQ(SerializeFilterFile(set), new_bytes);
      },
      old_or_new);
  // One write of the whole file, no copy after it.
  EXPECT_EQ(calls, 5u);
}

// A filter file that is there but cannot be read whole is never parsed in
// part and never written over, by the load or by a later save.
TEST(FilterFileStorage, UnreadableFileIsNeverParsedOrWrittenOver) {
  platform::testing::TempDevice device;
  // A folder in the file's place.
  std::filesystem::create_directory(device.HostPath("/My Documents/dir.ini"));
  FilterSet set;
  set.file_path = u"\\My Documents\\dir.ini";
  platform::Status status;
  EXPECT_EQ(LoadFilterFile(&set, nullptr, &status), LoadOutcome::kUnreadable);
  EXPECT_EQ(status.code(), platform::ErrorCode::kAccessDenied);
  EXPECT_EQ(set.contact_default.Value(kSaveToFolder), u"\\Inbox");
  EXPECT_EQ(SaveFilterFile(set), SaveOutcome::kUnreadable);
  EXPECT_TRUE(
      std::filesystem::is_directory(device.HostPath("/My Documents/dir.ini")));

  // A file that reads short, fails part way, or fails after its bytes
  // came: the set gets the first-start defaults, not what was read of it,
  // and the file stays.
  FilterSet saved;
  saved.file_path = std::u16string(kFilePath);
  saved.filters.push_back(NewFilter());
  saved.black_list.push_back({u"Ann", u"138"});
  ASSERT_EQ(SaveFilterFile(saved), SaveOutcome::kSaved);
  const std::filesystem::path host =
      device.HostPath("/My Documents/pelicorde.ini");
  const std::string bytes = ReadHostFile(host);
  using platform::testing::FileFaults;
  const struct {
    const char* what;
    const char* cause;  // in the status the load reports
    void (*arm)(FileFaults&, size_t file_size);
  } kFaults[] = {
      {"ends early", "ended after 0 of",
       [](FileFaults& faults, size_t) {
         faults.CutCall(platform::files::FileCall::kRead, 1, 0);
       }},
      // The filter and the Black List entry come, then the read fails.
      {"fails part way", "Input/output error",
       [](FileFaults& faults, size_t file_size) {
         faults.FailMidway(platform::files::FileCall::kRead, 1, file_size - 4);
       }},
      {"fails after its bytes came", "Input/output error",
       [](FileFaults& faults, size_t) {
         faults.FailCall(platform::files::FileCall::kRead, 2);
       }},
  };
  for (const auto& fault : kFaults) {
    SCOPED_TRACE(fault.what);
    FilterSet loaded;
    loaded.file_path = std::u16string(kFilePath);
    {
      FileFaults faults;
      fault.arm(faults, bytes.size());
      EXPECT_EQ(LoadFilterFile(&loaded, nullptr, &status),
                LoadOutcome::kUnreadable);
      EXPECT_TRUE(faults.fired());
      EXPECT_EQ(faults.calls(platform::files::FileCall::kCreate), 0u);
    }
    // The real cause, not a made-up one.
    EXPECT_EQ(status.code(), platform::ErrorCode::kIoError);
    EXPECT_NE(status.message().find(fault.cause), std::string::npos)
        << status.ToString();
    EXPECT_TRUE(loaded.filters.empty());
    EXPECT_TRUE(loaded.black_list.empty());
    EXPECT_EQ(loaded.stranger_default.Value(kSaveToFolder), u"\\Inbox");
    // Not by a later save either, whatever the case of the path.
    loaded.black_list.push_back({u"Bob", u"139"});
    EXPECT_EQ(SaveFilterFile(loaded, &status), SaveOutcome::kUnreadable);
    EXPECT_EQ(status.code(), platform::ErrorCode::kAccessDenied);
    loaded.file_path = u"\\MY DOCUMENTS\\PELICORDE.INI";
    EXPECT_EQ(SaveFilterFile(loaded), SaveOutcome::kUnreadable);
    EXPECT_EQ(ReadHostFile(host), bytes);
  }

  // Once a load reads it, saves go ahead again.
  FilterSet again;
  again.file_path = std::u16string(kFilePath);
  ASSERT_EQ(LoadFilterFile(&again), LoadOutcome::kRead);
  EXPECT_EQ(again.black_list.size(), 1u);
  again.black_list.clear();
  EXPECT_EQ(SaveFilterFile(again), SaveOutcome::kSaved);
  EXPECT_NE(ReadHostFile(host), bytes);
}

}  // namespace
}  // namespace firewall
