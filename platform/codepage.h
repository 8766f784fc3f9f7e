// The ANSI code page service: wide (UTF-16) text to and from the device's
// multibyte code page.
//
// The device setting "codepage" chooses it: 936 (the default) is realised as
// GB18030, which encodes every Unicode character and is byte-for-byte GBK
// wherever GBK has the character; 1252 is Windows Western; 65001 is UTF-8.
// Conversions never fail: a character the code page lacks becomes "?" and a
// byte sequence that is not valid becomes U+FFFD, as the platform's default
// character rules do. Thread-safe.
//
// Precisely: an unpaired surrogate is also one "?"; after an invalid byte,
// decoding resumes at the next byte; a truncated character at the very end
// becomes one U+FFFD. In 936 the euro sign is 0x80 as in GBK (glibc's
// GB18030 alone would give A2 E3), and the few private-use characters the C
// library's GB18030 cannot encode are mapped by hand (see codepage.cc), so
// every Unicode character survives a round trip through 936 and 65001.
#ifndef TELVANE_PLATFORM_CODEPAGE_H_
#define TELVANE_PLATFORM_CODEPAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

inline constexpr uint32_t kCodePageGbk = 936;
inline constexpr uint32_t kCodePageWestern = 1252;
inline constexpr uint32_t kCodePageUtf8 = 65001;

// The device's ANSI code page (936 when the setting is missing or unknown).
uint32_t AnsiCodePage();

std::string WideToMultiByte(std::u16string_view text);
std::u16string MultiByteToWide(std::string_view bytes);
// The same with an explicit code page (936, 1252 or 65001; others as 936).
std::string WideToMultiByte(std::u16string_view text, uint32_t code_page);
std::u16string MultiByteToWide(std::string_view bytes, uint32_t code_page);

}  // namespace platform

#endif  // TELVANE_PLATFORM_CODEPAGE_H_
