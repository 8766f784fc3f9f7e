#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/device.h"
#include "platform/device_db.h"
#include "platform/unicode.h"

// The conversions run on the C library's iconv: 936 on "GB18030", 1252 on
// "WINDOWS-1252", 65001 on "UTF-8", the wide side on UTF-16 in host order.
//
// Error rules (the same for every code page):
//  - Encoding: an unpaired surrogate, or a character the code page lacks,
//    becomes one "?" (a surrogate pair is one character, so one "?").
//  - Decoding: a byte sequence that is not valid becomes U+FFFD and decoding
//    resumes at the next byte; an incomplete sequence at the very end becomes
//    one U+FFFD. (1252's five unassigned bytes 81 8D 8F 90 9D are not valid.)
//
// Code page 936: GB18030 with a few characters mapped here by hand, each one
// a character the phone's 936 (GBK) does not have or, for the euro, has at a
// different place:
//  - U+20AC (euro) is 0x80, as in the phone's 936; the C library's GB18030
//    gives A2 E3 and refuses the byte 0x80. A2 E3 still decodes to U+20AC.
//  - 24 private-use characters that the C library's GB18030 cannot encode
//    (it follows the 2022 edition for the 2-byte codes A6D9.., FE59..) are
//    mapped as the 2022 edition does: the 18 whose 2-byte code now holds a
//    standard character take that character's former 4-byte code (U+E78D is
//    84 31 82 36, ...), the 6 others keep their 2-byte codes (U+E816 is
//    FE 51, ...), and the 6 supplementary characters that the C library had
//    put on those 2-byte codes keep their 4-byte codes (U+20087 is
//    95 32 90 31, ...).
// With these, every Unicode scalar value survives a round trip through 936,
// and every character the phone's 936 has gets its GBK bytes (the C
// library's GB18030 and CP936 differ on the euro alone).

namespace platform {
namespace {

constexpr const char* kWideCharset =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

uint32_t KnownCodePage(uint32_t code_page) {
  return code_page == kCodePageWestern || code_page == kCodePageUtf8
             ? code_page
             : kCodePageGbk;
}

int CodePageIndex(uint32_t code_page) {
  switch (code_page) {
    case kCodePageWestern:
      return 1;
    case kCodePageUtf8:
      return 2;
    default:
      return 0;
  }
}

constexpr const char* kCharsets[3] = {"GB18030", "WINDOWS-1252", "UTF-8"};

// --- the 936 hand mappings ----------------------------------------------

struct Gb18030Override {
  char32_t code_point;
  unsigned char bytes[4];
  size_t length;
};

constexpr Gb18030Override kGb18030Overrides[] = {
    {0x20AC, {0x80}, 1},
    {0xE78D, {0x84, 0x31, 0x82, 0x36}, 4},
    {0xE78E, {0x84, 0x31, 0x82, 0x38}, 4},
    {0xE78F, {0x84, 0x31, 0x82, 0x37}, 4},
    {0xE790, {0x84, 0x31, 0x82, 0x39}, 4},
    {0xE791, {0x84, 0x31, 0x83, 0x30}, 4},
    {0xE792, {0x84, 0x31, 0x83, 0x31}, 4},
    {0xE793, {0x84, 0x31, 0x83, 0x32}, 4},
    {0xE794, {0x84, 0x31, 0x83, 0x33}, 4},
    {0xE795, {0x84, 0x31, 0x83, 0x34}, 4},
    {0xE796, {0x84, 0x31, 0x83, 0x35}, 4},
    {0xE816, {0xFE, 0x51}, 2},
    {0xE817, {0xFE, 0x52}, 2},
    {0xE818, {0xFE, 0x53}, 2},
    {0xE81E, {0x82, 0x35, 0x90, 0x37}, 4},
    {0xE826, {0x82, 0x35, 0x90, 0x38}, 4},
    {0xE82B, {0x82, 0x35, 0x90, 0x39}, 4},
    {0xE82C, {0x82, 0x35, 0x91, 0x30}, 4},
    {0xE831, {0xFE, 0x6C}, 2},
    {0xE832, {0x82, 0x35, 0x91, 0x31}, 4},
    {0xE83B, {0xFE, 0x76}, 2},
    {0xE843, {0x82, 0x35, 0x91, 0x32}, 4},
    {0xE854, {0x82, 0x35, 0x91, 0x33}, 4},
    {0xE855, {0xFE, 0x91}, 2},
    {0xE864, {0x82, 0x35, 0x91, 0x34}, 4},
    {0x20087, {0x95, 0x32, 0x90, 0x31}, 4},
    {0x20089, {0x95, 0x32, 0x90, 0x33}, 4},
    {0x200CC, {0x95, 0x32, 0x97, 0x30}, 4},
    {0x215D7, {0x95, 0x36, 0xB9, 0x37}, 4},
    {0x2298F, {0x96, 0x30, 0xBA, 0x35}, 4},
    {0x241FE, {0x96, 0x35, 0xB6, 0x30}, 4},
};

const Gb18030Override* FindOverride(char32_t code_point) {
  // Every overridden character is U+20AC or above: one compare rejects the
  // common text (ASCII, CJK ideographs below U+E000 take two).
  if (code_point < 0x20AC || (code_point > 0x20AC && code_point < 0xE78D)) {
    return nullptr;
  }
  for (const Gb18030Override& entry : kGb18030Overrides) {
    if (entry.code_point == code_point) return &entry;
  }
  return nullptr;
}

// The override whose bytes start at `at`, if any.
const Gb18030Override* FindOverride(std::string_view bytes, size_t at,
                                    size_t length) {
  if (at + length > bytes.size()) return nullptr;
  for (const Gb18030Override& entry : kGb18030Overrides) {
    if (entry.length == length &&
        std::equal(entry.bytes, entry.bytes + length,
                   reinterpret_cast<const unsigned char*>(bytes.data()) + at)) {
      return &entry;
    }
  }
  return nullptr;
}

// --- iconv plumbing ---------------------------------------------------------

// One converter per code page and direction, per thread (iconv_t is not
// safe to share between threads).
class ConverterCache {
 public:
  ConverterCache() {
    for (auto& pair : converters_) pair[0] = pair[1] = Closed();
  }
  ~ConverterCache() {
    for (auto& pair : converters_) {
      for (iconv_t cd : pair) {
        if (cd != Closed()) iconv_close(cd);
      }
    }
  }
  ConverterCache(const ConverterCache&) = delete;
  ConverterCache& operator=(const ConverterCache&) = delete;

  // The converter in its initial state, or nothing when the C library has
  // no such conversion.
  std::optional<iconv_t> Get(uint32_t code_page, bool encode) {
    int index = CodePageIndex(code_page);
    iconv_t& cd = converters_[index][encode ? 1 : 0];
    if (cd == Closed()) {
      cd = encode ? iconv_open(kCharsets[index], kWideCharset)
                  : iconv_open(kWideCharset, kCharsets[index]);
      if (cd == Closed()) return std::nullopt;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return cd;
  }

 private:
  static iconv_t Closed() { return reinterpret_cast<iconv_t>(-1); }
  iconv_t converters_[3][2];
};

ConverterCache& Converters() {
  thread_local ConverterCache cache;
  return cache;
}

// An output buffer filled by iconv and by hand; grows geometrically.
template <typename Unit>
class Sink {
 public:
  explicit Sink(size_t expected) { buffer_.resize(expected + 16); }

  void Put(Unit unit) {
    Reserve(1);
    buffer_[used_++] = unit;
  }
  void Reserve(size_t units) {
    if (buffer_.size() < used_ + units) {
      buffer_.resize(std::max(buffer_.size() * 2, used_ + units));
    }
  }
  std::basic_string<Unit> Take() {
    buffer_.resize(used_);
    return std::move(buffer_);
  }

  // Converts `size` bytes at `in` and reports how many were consumed and
  // the errno that stopped it (0 when everything was converted).
  int Convert(iconv_t cd, const char* in, size_t size, size_t* consumed) {
    char* in_ptr = const_cast<char*>(in);
    size_t in_left = size;
    int error = 0;
    for (;;) {
      Reserve(in_left + 16);
      char* out_start = reinterpret_cast<char*>(buffer_.data() + used_);
      char* out_ptr = out_start;
      size_t out_left = (buffer_.size() - used_) * sizeof(Unit);
      size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
      int saved = errno;
      used_ += static_cast<size_t>(out_ptr - out_start) / sizeof(Unit);
      if (result != static_cast<size_t>(-1)) break;
      if (saved != E2BIG) {
        error = saved;
        break;
      }
      Reserve(buffer_.size() - used_ + 64);  // no room: at least double
    }
    *consumed = size - in_left;
    return error;
  }

 private:
  std::basic_string<Unit> buffer_;
  size_t used_ = 0;
};

// --- encoding ---------------------------------------------------------------

// Without a converter (a C library without the conversion): ASCII passes,
// everything else is "?".
std::string EncodeAsciiOnly(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (IsHigh(u) && i + 1 < text.size() && IsLow(text[i + 1])) ++i;
    out += u < 0x80 ? static_cast<char>(u) : '?';
  }
  return out;
}

// Converts a run without hand-mapped characters.
void EncodeRun(iconv_t cd, std::u16string_view run, Sink<char>& out) {
  size_t pos = 0;
  while (pos < run.size()) {
    size_t consumed = 0;
    int error = out.Convert(cd, reinterpret_cast<const char*>(run.data() + pos),
                            (run.size() - pos) * sizeof(char16_t), &consumed);
    pos += consumed / sizeof(char16_t);
    if (error == 0 || pos >= run.size()) break;
    // EILSEQ (unpaired surrogate or no such character) or EINVAL (a high
    // surrogate ending the run): one "?" for the character.
    out.Put('?');
    bool pair = IsHigh(run[pos]) && pos + 1 < run.size() && IsLow(run[pos + 1]);
    pos += pair ? 2 : 1;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
}

// The hand-mapped character of 936 starting at text[i], with its length in
// code units.
const Gb18030Override* WideOverrideAt(std::u16string_view text, size_t i,
                                      size_t* units) {
  char16_t u = text[i];
  if (u < 0x20AC) return nullptr;
  if (IsHigh(u)) {
    if (i + 1 >= text.size() || !IsLow(text[i + 1])) return nullptr;
    *units = 2;
    return FindOverride(0x10000 + ((char32_t{u} - 0xD800) << 10) +
                        (char32_t{text[i + 1]} - 0xDC00));
  }
  *units = 1;
  return FindOverride(u);
}

// --- decoding ---------------------------------------------------------------

std::u16string DecodeAsciiOnly(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) out += c < 0x80 ? char16_t{c} : u'\uFFFD';
  return out;
}

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
  return c >= low && c <= high;
}

// Walks GB18030 characters from `pos` up to about `limit` bytes and stops at
// the first hand-mapped sequence (returned with its position in *at) or at a
// character boundary past the limit (nullptr, *at the boundary). Invalid
// bytes are stepped over one at a time; iconv reports them.
const Gb18030Override* ScanGb18030(std::string_view bytes, size_t pos,
                                   size_t limit, size_t* at) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t size = bytes.size();
  const size_t stop = std::min(size, pos + limit);
  while (pos < stop) {
    unsigned char lead = data[pos];
    if (lead < 0x80) {
      ++pos;
      continue;
    }
    size_t length = 1;
    if (InRange(lead, 0x81, 0xFE) && pos + 1 < size) {
      unsigned char second = data[pos + 1];
      if (InRange(second, 0x30, 0x39)) {
        if (pos + 3 < size && InRange(data[pos + 2], 0x81, 0xFE) &&
            InRange(data[pos + 3], 0x30, 0x39)) {
          length = 4;
        }
      } else if (InRange(second, 0x40, 0x7E) || InRange(second, 0x80, 0xFE)) {
        length = 2;
      }
    }
    if ((length == 1 && lead == 0x80) || (length == 2 && lead == 0xFE) ||
        (length == 4 &&
         (lead == 0x82 || lead == 0x84 || lead == 0x95 || lead == 0x96))) {
      if (const Gb18030Override* entry = FindOverride(bytes, pos, length)) {
        *at = pos;
        return entry;
      }
    }
    pos += length;
  }
  *at = pos;
  return nullptr;
}

// True when `tail` (the last bytes of the input, where iconv asked for more)
// could be the start of a valid character, so that it is a truncated
// character rather than a bad byte followed by others.
bool IsTruncatedCharacter(std::string_view tail, uint32_t code_page) {
  const auto* data = reinterpret_cast<const unsigned char*>(tail.data());
  const size_t size = tail.size();
  if (size == 0) return false;
  if (code_page == kCodePageGbk) {
    if (size > 3 || !InRange(data[0], 0x81, 0xFE)) return false;
    if (size >= 2 && !InRange(data[1], 0x30, 0x39)) return false;
    return size < 3 || InRange(data[2], 0x81, 0xFE);
  }
  if (code_page == kCodePageUtf8) {
    unsigned char lead = data[0];
    size_t needed = lead >= 0xC2 && lead <= 0xDF   ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (needed == 0 || size >= needed) return false;
    for (size_t i = 1; i < size; ++i) {
      unsigned char low = 0x80, high = 0xBF;
      if (i == 1 && lead == 0xE0) low = 0xA0;
      if (i == 1 && lead == 0xED) high = 0x9F;
      if (i == 1 && lead == 0xF0) low = 0x90;
      if (i == 1 && lead == 0xF4) high = 0x8F;
      if (!InRange(data[i], low, high)) return false;
    }
    return true;
  }
  return false;
}

std::u16string Decode(std::string_view bytes, uint32_t code_page) {
  std::optional<iconv_t> cd = Converters().Get(code_page, /*encode=*/false);
  if (!cd) {
    return code_page == kCodePageUtf8 ? FromUtf8(bytes)
                                      : DecodeAsciiOnly(bytes);
  }
  const bool gb18030 = code_page == kCodePageGbk;
  // 936 text is scanned for hand-mapped sequences ahead of iconv. After an
  // invalid byte the scan restarts one byte later, so it looks ahead a short
  // way first and further while the text stays clean: damaged input costs a
  // bounded rescan per bad byte, clean input a handful of iconv calls.
  constexpr size_t kMinWindow = 64;
  constexpr size_t kMaxWindow = 64 * 1024;
  size_t window = kMinWindow;
  Sink<char16_t> out(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.size();
    const Gb18030Override* mapped = nullptr;
    if (gb18030) mapped = ScanGb18030(bytes, pos, window, &end);
    size_t consumed = 0;
    int error = out.Convert(*cd, bytes.data() + pos, end - pos, &consumed);
    pos += consumed;
    if (error != 0) {
      out.Put(u'\uFFFD');
      // An incomplete sequence at the very end is one U+FFFD; anywhere else
      // the bad byte is skipped and decoding resumes after it.
      bool truncated = error == EINVAL && end == bytes.size() &&
                       IsTruncatedCharacter(bytes.substr(pos), code_page);
      pos = truncated ? end : pos + 1;
      window = kMinWindow;
      iconv(*cd, nullptr, nullptr, nullptr, nullptr);
      continue;
    }
    if (mapped != nullptr) {
      char32_t c = mapped->code_point;
      if (c >= 0x10000) {
        out.Put(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        out.Put(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
      } else {
        out.Put(static_cast<char16_t>(c));
      }
      pos += mapped->length;
    }
    window = std::min(window * 2, kMaxWindow);
  }
  return out.Take();
}

std::string Encode(std::u16string_view text, uint32_t code_page) {
  std::optional<iconv_t> cd = Converters().Get(code_page, /*encode=*/true);
  if (!cd) {
    return code_page == kCodePageUtf8 ? ToUtf8(text) : EncodeAsciiOnly(text);
  }
  Sink<char> out(text.size() * 2);
  if (code_page != kCodePageGbk) {
    EncodeRun(*cd, text, out);
    return out.Take();
  }
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t units = 1;
    const Gb18030Override* mapped = WideOverrideAt(text, i, &units);
    if (mapped == nullptr) continue;
    EncodeRun(*cd, text.substr(start, i - start), out);
    for (size_t k = 0; k < mapped->length; ++k) {
      out.Put(static_cast<char>(mapped->bytes[k]));
    }
    i += units - 1;
    start = i + 1;
  }
  EncodeRun(*cd, text.substr(start), out);
  return out.Take();
}

}  // namespace

uint32_t AnsiCodePage() {
  // Text is converted for every message stored or shown, so the setting is
  // read once and then only again after device.db has changed.
  static auto* cache = new ChangeCachedValue<uint32_t>();  // used until exit
  return cache->Get([] {
    const int64_t value = GetDeviceSettingInt("codepage", kCodePageGbk);
    return value == kCodePageWestern || value == kCodePageUtf8
               ? static_cast<uint32_t>(value)
               : uint32_t{kCodePageGbk};
  });
}

std::string WideToMultiByte(std::u16string_view text) {
  return WideToMultiByte(text, AnsiCodePage());
}

std::u16string MultiByteToWide(std::string_view bytes) {
  return MultiByteToWide(bytes, AnsiCodePage());
}

std::string WideToMultiByte(std::u16string_view text, uint32_t code_page) {
  if (text.empty()) return {};
  return Encode(text, KnownCodePage(code_page));
}

std::u16string MultiByteToWide(std::string_view bytes, uint32_t code_page) {
  if (bytes.empty()) return {};
  return Decode(bytes, KnownCodePage(code_page));
}

}  // namespace platform
