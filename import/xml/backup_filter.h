// BackupFilter: turns the bytes of an SMS backup as phones really write it
// into well-formed UTF-8 XML, one chunk at a time, before the XML reader
// sees it (docs/formats/xml-backup.md, "Repairs on reading").
//
// Phones write characters outside the Basic Multilingual Plane as two
// numeric character references, one per UTF-16 surrogate ("&#55357;&#56832;"
// for one emoji), and copy control characters of a message body into the
// file raw or as references ("&#1;"). Neither is allowed in XML 1.0. The
// filter
//  - joins a high and a low surrogate reference that follow each other into
//    the character they stand for (written as UTF-8); a lone surrogate, raw
//    or referenced, becomes U+FFFD, as do references to U+FFFE, U+FFFF and
//    to numbers past U+10FFFF;
//  - joins the same pair written raw as two three-byte UTF-8 sequences;
//  - replaces every other byte that is not UTF-8 by U+FFFD;
//  - drops NUL (a stored body ends at its first NUL anyway);
//  - writes every other C0 control character except TAB, LF and CR as the
//    stand-in U+10FF00 + its value (ControlFromStandIn reverses it);
//  - inside an attribute value, writes a raw TAB, LF or CR as a reference,
//    so that the reader keeps it instead of turning it into a space.
// Everything else passes through unchanged; well-formed input comes out
// byte for byte the same. Memory is constant: at most one pending reference
// and one pending character are held between chunks.
#ifndef TELVANE_IMPORT_XML_BACKUP_FILTER_H_
#define TELVANE_IMPORT_XML_BACKUP_FILTER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace import::xml {

// The first of the 32 code points that stand in for C0 control characters.
inline constexpr char32_t kControlStandIn = 0x10FF00;

// The control character `c` stands for, or `c` itself.
inline char16_t ControlFromStandIn(char32_t c) {
  return c >= kControlStandIn && c < kControlStandIn + 0x20
             ? static_cast<char16_t>(c - kControlStandIn)
             : static_cast<char16_t>(c);
}

class BackupFilter {
 public:
  // Appends what `input` turns into to `*out` (possibly less than all of
  // it: the tail of an unfinished reference or character waits for the
  // next chunk).
  void Feed(std::string_view input, std::string* out);
  // The input has ended: whatever is held is written out.
  void Finish(std::string* out);

 private:
  // Where the lexer stands in the markup.
  enum class Place {
    kText,
    kLess,        // after "<"
    kTag,         // inside a start or end tag, a processing instruction
    kAttribute,   // inside a quoted attribute value
    kBang,        // after "<!"
    kComment,     // inside "<!--"
    kCdata,       // inside "<![CDATA["
    kDeclaration  // inside another "<!" declaration
  };
  // Where a numeric reference stands.
  enum class Ref { kNone, kAmp, kHash, kDigits };

  void Byte(uint8_t byte, std::string* out);
  void Markup(uint8_t byte);
  void ReferenceByte(uint8_t byte, std::string* out);
  void EndReference(std::string* out);
  void Utf8Byte(uint8_t byte, std::string* out);
  // A whole code point from the input (raw or referenced); `raw` is how it
  // was written, passed through when nothing needs changing.
  void CodePoint(char32_t c, std::string_view raw, std::string* out);
  void FlushHigh(std::string* out);

  Place place_ = Place::kText;
  char quote_ = 0;      // the quote that closes the attribute value
  std::string marker_;  // the last bytes of a comment, CDATA or "<!"
  Ref ref_ = Ref::kNone;
  bool hex_ = false;
  uint32_t value_ = 0;  // saturates past 0x10FFFF
  std::string held_;    // the reference's bytes so far
  char32_t high_ = 0;   // a high surrogate waiting for its low half
  std::string utf8_;    // an unfinished UTF-8 sequence
  size_t utf8_need_ = 0;
};

}  // namespace import::xml

#endif  // TELVANE_IMPORT_XML_BACKUP_FILTER_H_
