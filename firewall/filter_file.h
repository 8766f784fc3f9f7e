// The filter file "pelicorde.ini": the whole FilterSet as UTF-16LE text.
// The layout, with a worked example, is in docs/formats/filters.md.
//
// In short: a byte-order mark, then one CR LF line per item, each known by
// its first code unit:
//   F<apply><enabled><name>   opens a user filter block
//   G / U                     opens the Contact / Stranger Default block
//   C<object><judge><content> a rule (inside a block; first two only)
//   A<slot>[<value>]          a present action slot, value escaped
//   E...                      closes a block ("End")
//   B<name>`<phone>           a Black List entry
//   P<masked password>        the rule password, each unit XOR kPasswordMask
//
// The file is outside input. Parsing never fails: any bytes load, and what
// is sound in them is kept (see ParseFilterFile). Loading reads the file
// whole or not at all: a file that exists but cannot be read whole is
// never parsed in part and never written over. Saving replaces the whole
// file in one step (platform::files::WriteFileAtomically), so a crash or a
// full disk leaves the old file or the new one, whole; a file that cannot
// be written is left as it is and nothing in memory changes.
//
// Thread safety: the functions may be called from any thread; the set they
// are given must not be used by another thread meanwhile. The only state
// kept is the process-wide list of files a load could not read (see
// LoadOutcome::kUnreadable), which is locked.
#ifndef TELVANE_FIREWALL_FILTER_FILE_H_
#define TELVANE_FIREWALL_FILTER_FILE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "firewall/filter_set.h"
#include "platform/status.h"

namespace firewall {

// The file's name in the program's folder.
inline constexpr std::u16string_view kFilterFileName = u"pelicorde.ini";

// Every code unit of the rule password is XORed with this on writing and
// again on reading. Chosen once; changing it would make every existing file
// read back a wrong password. Printable text masks into the private-use
// area, so a masked unit is never CR, LF or NUL for anything a user types.
inline constexpr char16_t kPasswordMask = 0xE3A5;

// The reader takes lines in pieces of at most this many code units (a
// longer line is read as several lines).
inline constexpr size_t kLinePieceLength = 259;

// The first code units of the lines.
inline constexpr char16_t kFilterLine = u'F';
inline constexpr char16_t kContactDefaultLine = u'G';
inline constexpr char16_t kStrangerDefaultLine = u'U';
inline constexpr char16_t kRuleLine = u'C';
inline constexpr char16_t kActionLine = u'A';
inline constexpr char16_t kEndLine = u'E';
inline constexpr char16_t kBlackListLine = u'B';
inline constexpr char16_t kPasswordLine = u'P';
inline constexpr char16_t kBlackListSeparator = u'`';

// AppFolder() + "pelicorde.ini": where the program keeps its filter file.
std::u16string DefaultFilterFilePath();

// Masks (or unmasks) a password: every code unit XOR kPasswordMask.
std::u16string MaskPassword(std::u16string_view password);

// What ParseFilterFile skipped, for tools that report damage.
struct ParseReport {
  size_t lines = 0;          // lines (pieces) read
  size_t skipped_lines = 0;  // top-level lines of no known kind, damaged
                             // "B" lines, and block lines of no use
  size_t bad_slots = 0;      // "A" lines with a slot number outside 0..9
  bool missing_end = false;  // the file ended inside a block
  bool odd_length = false;   // a last, lone byte was ignored
};

// Reads a filter file image into `set`: empties the filters and the Black
// List and clears both defaults' rules and actions, then reads the image
// (its first two bytes are taken as the byte-order mark and skipped, not
// examined) and sets both defaults' apply-to-all flag. The file path and
// the defaults' names and enabled flags are kept; so is the password when
// the image has no "P" line.
//
// Damaged input: a digit field holding a non-digit gives that code unit
// minus 48 (a missing one counts as NUL, so -48); a line's text ends at its
// first NUL; names are cut to kMaxFilterNameLength; an "A" line whose slot
// is outside 0..9 is skipped; a "B" line without a backquote is skipped; a
// block without its "End" ends with the file; stray "C", "A" and "E" lines
// at the top level are skipped.
void ParseFilterFile(std::span<const uint8_t> bytes, FilterSet* set,
                     ParseReport* report = nullptr);

// The file image of `set`, byte for byte as SaveFilterFile writes it.
std::string SerializeFilterFile(const FilterSet& set);

// Sets up a set for a device without a filter file: the defaults get the
// apply-to-all flag and the initial actions (nothing else changes).
void SetUpFirstStartDefaults(FilterSet* set);

enum class LoadOutcome {
  kRead,        // the file was read whole and parsed
  kCreated,     // there was none (or the set has no path): the defaults
                // were set up and a save was attempted
  kUnreadable,  // the file exists but could not be read whole: the set
                // holds the first-start defaults in memory, nothing was
                // written, and SaveFilterFile leaves the file alone from now
                // on (until a load reads it)
};

// Loads `set` from set->file_path (device path), reading the whole file
// (platform::files::ReadWhole) before parsing any of it. Without a file the
// set is emptied, SetUpFirstStartDefaults, then saved at once (kCreated).
// A file that exists but cannot be read whole (a folder in its place, no
// permission, an I/O error, a short read) gives the same set, but nothing
// is parsed or written (kUnreadable; `status` tells why). `status`, when
// given, is the read's failure, or OK.
LoadOutcome LoadFilterFile(FilterSet* set, ParseReport* report = nullptr,
                           platform::Status* status = nullptr);

enum class SaveOutcome {
  kSaved,
  kNotWritten,  // the file could not be written (read-only, a folder in
                // its place, no room...): the old file is kept, whole
  kNoPath,      // the set has no file path
  kUnreadable,  // a load found the file but could not read it: it is not
                // written over (see LoadOutcome::kUnreadable)
};

// Replaces set.file_path with SerializeFilterFile(set) in one step
// (platform::files::WriteFileAtomically): the new bytes go to a file beside
// it, committed to storage, which is then renamed over it; on any failure
// the old file stays, whole. The set is not changed. `status`, when given,
// says why a save did not happen (OK after kSaved).
SaveOutcome SaveFilterFile(const FilterSet& set,
                           platform::Status* status = nullptr);

}  // namespace firewall

#endif  // TELVANE_FIREWALL_FILTER_FILE_H_
