// Fuzz target for the code page service: arbitrary bytes through
// MultiByteToWide in each code page and back, and the same input read as
// UTF-16 code units through WideToMultiByte and back. Any broken invariant
// aborts with a message.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace {

using platform::kCodePageGbk;
using platform::kCodePageUtf8;
using platform::kCodePageWestern;
using platform::MultiByteToWide;
using platform::WideToMultiByte;

void Check(bool condition, const char* what, uint32_t code_page) {
  if (condition) return;
  fprintf(stderr, "codepage_fuzz: %s (code page %u)\n", what, code_page);
  abort();
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// `text` with every unpaired surrogate replaced by '?', and the number of
// characters (a pair counts once).
std::u16string WithoutLoneSurrogates(std::u16string_view text,
                                     size_t* characters) {
  std::u16string out;
  *characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    ++*characters;
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
      out += text[i];
      out += text[++i];
    } else if (IsHigh(text[i]) || IsLow(text[i])) {
      out += u'?';
    } else {
      out += text[i];
    }
  }
  return out;
}

void CheckBytes(std::string_view bytes, uint32_t code_page) {
  std::u16string wide = MultiByteToWide(bytes, code_page);
  // Every character takes at least one byte, and U+FFFD stands for one.
  Check(wide.size() <= bytes.size(), "more units than bytes", code_page);
  size_t characters = 0;
  Check(WithoutLoneSurrogates(wide, &characters) == wide,
        "decoding made an unpaired surrogate", code_page);

  std::string again = WideToMultiByte(wide, code_page);
  if (code_page == kCodePageWestern) {
    // One byte, one character: what decoded comes back as it was, and what
    // did not (U+FFFD) comes back as "?".
    Check(wide.size() == bytes.size() && again.size() == bytes.size(),
          "1252 is not one byte per character", code_page);
    for (size_t i = 0; i < bytes.size(); ++i) {
      Check(again[i] == (wide[i] == 0xFFFD ? '?' : bytes[i]),
            "1252 byte changed", code_page);
    }
    return;
  }
  // GB18030 and UTF-8 encode every character: decoded text is stable.
  Check(MultiByteToWide(again, code_page) == wide, "decoded text not stable",
        code_page);
  // Valid UTF-8 comes back byte for byte.
  if (code_page == kCodePageUtf8 &&
      wide.find(u'\uFFFD') == std::u16string::npos) {
    Check(again == bytes, "valid UTF-8 changed", code_page);
  }
}

void CheckWide(std::u16string_view text, uint32_t code_page) {
  size_t characters = 0;
  std::u16string expected = WithoutLoneSurrogates(text, &characters);
  std::string bytes = WideToMultiByte(text, code_page);
  if (code_page == kCodePageWestern) {
    Check(bytes.size() == characters, "1252 is not one byte per character",
          code_page);
    return;
  }
  // GB18030 and UTF-8 lose nothing but unpaired surrogates.
  Check(MultiByteToWide(bytes, code_page) == expected,
        "valid UTF-16 did not round-trip", code_page);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::u16string units(size / 2, u'\0');
  if (!units.empty()) memcpy(units.data(), data, units.size() * 2);
  for (uint32_t code_page : {kCodePageGbk, kCodePageWestern, kCodePageUtf8}) {
    CheckBytes(bytes, code_page);
    CheckWide(units, code_page);
  }
  return 0;
}
