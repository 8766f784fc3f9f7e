// UTF-16 <-> UTF-8 and case folding.
//
// The core keeps text as std::u16string (the device's wide strings); host
// file names, SQLite text and log lines are UTF-8. These helpers are the only
// place the two meet. They never fail: unpaired surrogates and invalid UTF-8
// become U+FFFD.
#ifndef TELVANE_PLATFORM_UNICODE_H_
#define TELVANE_PLATFORM_UNICODE_H_

#include <string>
#include <string_view>

namespace platform {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
// Appends the UTF-8 bytes of one code point (at most U+10FFFF; the caller
// keeps surrogates out).
void AppendUtf8(char32_t c, std::string* out);

// Folds one UTF-16 code unit for case-insensitive comparison the way the
// device's file system and registry do: simple (one-to-one) lower-casing of
// every BMP letter that has one. Surrogates are returned unchanged.
char16_t FoldCase(char16_t c);
std::u16string FoldCase(std::u16string_view text);
// True when a and b are equal ignoring case (unit by unit after FoldCase).
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
// Three-way comparison of the folded texts; ties broken by the raw units so
// that the order is total.
int CompareIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform

#endif  // TELVANE_PLATFORM_UNICODE_H_
