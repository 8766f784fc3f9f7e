// The shared text and number routines: phone numbers and recipient entries,
// the title line of a message, time texts, escaping of line breaks for the
// line-oriented text files, and shortening of paths for display.
//
// Every routine is a single pass over UTF-16 code units. A text is the whole
// std::u16string / std::u16string_view: a zero character is an ordinary
// character unless a routine says it stops at one. Nothing here fails: any
// input, however malformed, gives a defined result.
//
// Thread safety: every routine may be called from any thread. The summary
// length is one process-wide atomic integer; the time routines read the
// device's settings through platform/locale.h.
#ifndef TELVANE_TEXT_TEXT_H_
#define TELVANE_TEXT_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/time.h"

namespace text {

// ---------------------------------------------------------------------------
// Phone numbers and recipient entries
//
// A recipient entry is one party: either a bare number ("13800138000") or a
// name in double quotes followed by the number in angle brackets
// ("\"Li Lei\"<138 0013 8000>"). Several entries are joined with ";".

// Reduces a number or a recipient entry to the characters that are compared:
// every space, "(", ")", "-" and ">" is left out, and a "<" throws away what
// was kept so far, so that of "\"Name\"<123 45>" only "12345" remains. Every
// other character (digits, "+", letters, quotes) is kept. The length of the
// result is the count of characters. Phone numbers are compared after this
// reduction everywhere.
std::u16string NormalizeNumber(std::u16string_view number);

// One recipient entry taken apart.
struct Recipient {
  std::u16string name;
  std::u16string number;
  bool quoted = false;  // a double quote was met
};

// Reads one recipient entry up to its first ";" or ">" (or the end):
// - space, "(", ")" and "-" are skipped everywhere;
// - the first double quote starts the name over and stops characters from
//   going to the number; the second ends the name: from then on characters
//   go to the number again but no longer to the name; later double quotes
//   are skipped;
// - "<" starts the number over;
// - any other character goes to the name (unless the name has ended) and,
//   while characters are going to it, to the number.
// A bare number gives the same text as name and number, quoted false. Of
// "\"A\"<1>;\"B\"<2>" only the first entry is read (name "A", number "1").
Recipient SplitRecipient(std::u16string_view entry);

// ---------------------------------------------------------------------------
// Titles and summaries

// The number of body characters a summary title shows: the process-wide
// setting "SummaryLength" (10 until set). The settings store sets it when it
// loads; values below 1 give empty summaries.
int SummaryLength();
void SetSummaryLength(int length);

// Copies `source` up to `limit` characters, stopping early at the first zero
// character, tab, line feed or carriage return (which is not copied).
std::u16string CopySummary(std::u16string_view source, size_t limit);

// Title modes, as the settings "ReceiveTitle", "SendTitle" and "ImportTitle"
// store them (offered as "Summary", "Contact Summary", "Contact Time").
inline constexpr int kTitleSummary = 0;
inline constexpr int kTitleContactSummary = 1;
inline constexpr int kTitleContactTime = 2;

// The line that stands for a message in the tree and the lists.
// The party text is taken apart as by SplitRecipient; the party is its name
// followed by one space when the entry holds a quoted, non-empty name, else
// its number followed by one space (nothing when the number is empty).
// - kTitleSummary: the summary alone;
// - kTitleContactSummary: the party, then the summary;
// - kTitleContactTime: the party, then `time` formatted as
//   TimeKind::kDateAndTime; no summary.
// The summary is CopySummary(body, SummaryLength()), so it ends at the first
// line break of the body. Any other mode is taken as kTitleSummary.
// kTitleContactTime reads the device's formats (see FormatTime).
std::u16string MessageTitle(std::u16string_view body, std::u16string_view party,
                            const platform::SystemTime& time, int title_mode);

// ---------------------------------------------------------------------------
// Time texts

enum class TimeKind {
  kDate = 0,         // the device's default short date format
  kTime = 1,         // the device's default time format
  kDateAndTime = 2,  // the date, one space, the time
};

// Formats the fields of `time` as they are (no time-zone conversion) with
// the device's default formats. `capacity` counts a terminator, as for a
// caller's buffer: the result has at most capacity - 1 characters and is
// cut there when longer (capacity 0 or 1 gives an empty text).
std::u16string FormatTime(const platform::SystemTime& time, TimeKind kind,
                          size_t capacity);

// ---------------------------------------------------------------------------
// Line breaks in one-line file values
//
// The text files ("pelicorde.ini", "pelicorde.sen", "smsgroup.ini") keep one
// value per physical line. Writers escape multi-line texts and readers
// unescape them. Both work in place and return `text`.
//
// Escaping replaces every carriage return together with the character after
// it (the line feed that follows it in edited text) by two backquotes "``";
// the length stays the same. A text without a carriage return is unchanged.
// A carriage return at the very end becomes "``" too (the text grows by one
// character), so that it comes back as a line break.
//
// Unescaping replaces every backquote together with the character after it
// by a carriage return and a line feed; the length stays the same. A
// backquote at the very end becomes a carriage return and a line feed too
// (the text grows by one character): a backquote always reads as a line
// break.
//
// So a text whose carriage returns are each followed by a line feed and that
// holds no backquote comes back from a file line exactly as it was written.
// A backquote typed in a text comes back as a line break and takes the
// character after it with it. A line feed without a carriage return before
// it is not escaped: such a text would break its file line.
std::u16string& EscapeLineBreaks(std::u16string& text);
std::u16string& UnescapeLineBreaks(std::u16string& text);

// Ends `text` at its first carriage return or line feed; returns `text`.
std::u16string& CutAtLineBreak(std::u16string& text);

// ---------------------------------------------------------------------------
// Paths and file names

// Fits `path` into `capacity` characters, a terminator included (so the
// result has at most capacity - 1 characters), for display. The separator is
// the last "/" or "\" of the path ("\" when it has none); the file name is
// the part after the last "/", ":" or "\" that is followed by a character
// other than "/" and "\" (so a trailing separator stays with the name), or
// the whole path when there is no such character. The result is:
// - the path unchanged when it fits;
// - when the path has a folder part and the capacity is 6 or less:
//   capacity - 1 characters, all ".", except the fourth, which is the
//   separator ("...\." for 6);
// - when the path is a file name alone: the start of the name followed by
//   "..." (only dots when the capacity is below 4);
// - when the file name fits with four more characters: the start of the
//   path, "...", the separator and the whole file name;
// - otherwise: "...", the separator, the start of the file name and "...",
//   cut to capacity - 1 characters ("...\.." for 7).
// Every result that does not keep the path has exactly capacity - 1
// characters. Capacity 0 gives an empty text.
std::u16string CompactPath(std::u16string_view path, size_t capacity);

// Cuts `text` at its last "." (when it has one) and returns the part of what
// is left after its last "\" (the whole of it when there is none):
// "skins\Blue.Night.cfg" becomes "skins\Blue.Night" and returns
// "Blue.Night". Only "\" counts as a separator.
std::u16string BaseName(std::u16string& text);

// The extension of `path` without its dot. The path is scanned backwards
// from its end: at the first "." that is not the path's first character the
// text after it is the result; when a "/" is met first, or the start is
// reached, the result is empty. Only "/" stops the scan, not "\", so for
// "\My.Folder\readme" the result is "Folder\readme".
std::u16string FileExtension(std::u16string_view path);

// True when the device file at `device_path` can be opened for reading (a
// folder is not a file).
bool FileExists(std::u16string_view device_path);

}  // namespace text

#endif  // TELVANE_TEXT_TEXT_H_
