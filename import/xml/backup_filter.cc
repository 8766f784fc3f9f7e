#include "import/xml/backup_filter.h"

#include "platform/unicode.h"

namespace import::xml {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr uint32_t kPastUnicode = 0x110000;
// A reference longer than this is not one the filter rewrites.
constexpr size_t kMaxReferenceBytes = 16;

bool IsHigh(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

int DigitValue(uint8_t byte, bool hex) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (!hex) return -1;
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

// True when `marker` may still grow into `word`.
bool Prefix(const std::string& marker, std::string_view word) {
  return marker.size() <= word.size() &&
         word.substr(0, marker.size()) == marker;
}

}  // namespace

void BackupFilter::Feed(std::string_view input, std::string* out) {
  out->reserve(out->size() + input.size());
  size_t i = 0;
  while (i < input.size()) {
    // Plain text runs (nearly everything in a backup) go through whole.
    if (ref_ == Ref::kNone && utf8_need_ == 0 && high_ == 0 &&
        (place_ == Place::kText || place_ == Place::kAttribute)) {
      size_t end = i;
      while (end < input.size()) {
        const uint8_t byte = static_cast<uint8_t>(input[end]);
        if (byte < 0x20 || byte > 0x7E || byte == '&' || byte == '<' ||
            byte == '"' || byte == '\'') {
          break;
        }
        ++end;
      }
      if (end > i) {
        out->append(input.substr(i, end - i));
        i = end;
        continue;
      }
    }
    Byte(static_cast<uint8_t>(input[i]), out);
    ++i;
  }
}

void BackupFilter::Finish(std::string* out) {
  if (ref_ != Ref::kNone) {
    FlushHigh(out);
    out->append(held_);
    held_.clear();
    ref_ = Ref::kNone;
  }
  if (utf8_need_ != 0) {
    utf8_.clear();
    utf8_need_ = 0;
    CodePoint(kReplacement, "\xEF\xBF\xBD", out);
  }
  FlushHigh(out);
}

void BackupFilter::Byte(uint8_t byte, std::string* out) {
  if (ref_ != Ref::kNone) {
    ReferenceByte(byte, out);
    return;
  }
  if (utf8_need_ != 0 || byte >= 0x80) {
    Utf8Byte(byte, out);
    return;
  }
  if (byte == '&' && (place_ == Place::kText || place_ == Place::kAttribute)) {
    ref_ = Ref::kAmp;
    held_.assign(1, '&');
    return;
  }
  const char raw = static_cast<char>(byte);
  CodePoint(byte, std::string_view(&raw, 1), out);
}

void BackupFilter::ReferenceByte(uint8_t byte, std::string* out) {
  auto give_up = [&] {
    // Not a numeric reference the filter rewrites: as it was, and the byte
    // that showed it goes round again.
    FlushHigh(out);
    out->append(held_);
    held_.clear();
    ref_ = Ref::kNone;
    Byte(byte, out);
  };
  switch (ref_) {
    case Ref::kAmp:
      if (byte != '#') return give_up();
      held_.push_back('#');
      ref_ = Ref::kHash;
      return;
    case Ref::kHash:
      if (byte == 'x' || byte == 'X') {
        hex_ = true;
        value_ = 0;
        held_.push_back(static_cast<char>(byte));
        ref_ = Ref::kDigits;
        return;
      }
      if (DigitValue(byte, false) < 0) return give_up();
      hex_ = false;
      value_ = static_cast<uint32_t>(DigitValue(byte, false));
      held_.push_back(static_cast<char>(byte));
      ref_ = Ref::kDigits;
      return;
    case Ref::kDigits: {
      const bool has_digits = DigitValue(held_.back(), hex_) >= 0;
      if (byte == ';' && has_digits) {
        held_.push_back(';');
        EndReference(out);
        return;
      }
      const int digit = DigitValue(byte, hex_);
      if (digit < 0 || held_.size() >= kMaxReferenceBytes) return give_up();
      const uint32_t base = hex_ ? 16 : 10;
      value_ = value_ >= kPastUnicode
                   ? kPastUnicode
                   : value_ * base + static_cast<uint32_t>(digit);
      if (value_ > kPastUnicode) value_ = kPastUnicode;
      held_.push_back(static_cast<char>(byte));
      return;
    }
    case Ref::kNone:
      return;
  }
}

void BackupFilter::EndReference(std::string* out) {
  ref_ = Ref::kNone;
  const std::string raw = std::move(held_);
  held_.clear();
  CodePoint(value_, raw, out);
}

void BackupFilter::Utf8Byte(uint8_t byte, std::string* out) {
  if (utf8_need_ == 0) {
    size_t length = 0;
    if (byte >= 0xC2 && byte <= 0xDF) {
      length = 2;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      length = 3;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      length = 4;
    }
    if (length == 0) {
      CodePoint(kReplacement, "\xEF\xBF\xBD", out);
      return;
    }
    utf8_.assign(1, static_cast<char>(byte));
    utf8_need_ = length - 1;
    return;
  }
  const uint8_t lead = static_cast<uint8_t>(utf8_[0]);
  bool fits = byte >= 0x80 && byte <= 0xBF;
  if (fits && utf8_.size() == 1) {
    if (lead == 0xE0) fits = byte >= 0xA0;  // no overlong forms
    if (lead == 0xF0) fits = byte >= 0x90;
    if (lead == 0xF4) fits = byte <= 0x8F;  // nothing past U+10FFFF
  }
  if (!fits) {
    utf8_.clear();
    utf8_need_ = 0;
    CodePoint(kReplacement, "\xEF\xBF\xBD", out);
    Byte(byte, out);
    return;
  }
  utf8_.push_back(static_cast<char>(byte));
  if (--utf8_need_ != 0) return;
  char32_t c = 0;
  const size_t length = utf8_.size();
  c = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
  for (size_t k = 1; k < length; ++k) {
    c = (c << 6) | (static_cast<uint8_t>(utf8_[k]) & 0x3F);
  }
  const std::string raw = std::move(utf8_);
  utf8_.clear();
  CodePoint(c, raw, out);
}

void BackupFilter::CodePoint(char32_t c, std::string_view raw,
                             std::string* out) {
  if (high_ != 0) {
    if (IsLow(c)) {
      const char32_t joined = 0x10000 + ((high_ - 0xD800) << 10) + (c - 0xDC00);
      high_ = 0;
      platform::AppendUtf8(joined, out);
      return;
    }
    FlushHigh(out);
  }
  if (IsHigh(c)) {
    high_ = c;
    return;
  }
  if (IsLow(c) || c == 0xFFFE || c == 0xFFFF || c >= kPastUnicode) {
    platform::AppendUtf8(kReplacement, out);
  } else if (c == 0) {
    // Dropped.
  } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
    platform::AppendUtf8(kControlStandIn + c, out);
  } else if (place_ == Place::kAttribute && raw.size() == 1 &&
             (c == '\t' || c == '\n' || c == '\r')) {
    out->append(c == '\t' ? "&#9;" : c == '\n' ? "&#10;" : "&#13;");
  } else {
    out->append(raw);
  }
  Markup(c < 0x80 && raw.size() == 1 ? static_cast<uint8_t>(c) : 0x80);
}

void BackupFilter::FlushHigh(std::string* out) {
  if (high_ == 0) return;
  high_ = 0;
  platform::AppendUtf8(kReplacement, out);
}

void BackupFilter::Markup(uint8_t byte) {
  switch (place_) {
    case Place::kText:
      if (byte == '<') place_ = Place::kLess;
      return;
    case Place::kLess:
      if (byte == '!') {
        place_ = Place::kBang;
        marker_.clear();
      } else {
        place_ = byte == '>' ? Place::kText : Place::kTag;
      }
      return;
    case Place::kTag:
      if (byte == '"' || byte == '\'') {
        place_ = Place::kAttribute;
        quote_ = static_cast<char>(byte);
      } else if (byte == '>') {
        place_ = Place::kText;
      }
      return;
    case Place::kAttribute:
      if (byte == static_cast<uint8_t>(quote_)) place_ = Place::kTag;
      return;
    case Place::kBang:
      marker_.push_back(static_cast<char>(byte));
      if (marker_ == "--") {
        place_ = Place::kComment;
        marker_.clear();
      } else if (marker_ == "[CDATA[") {
        place_ = Place::kCdata;
        marker_.clear();
      } else if (!Prefix(marker_, "--") && !Prefix(marker_, "[CDATA[")) {
        place_ = byte == '>' ? Place::kText : Place::kDeclaration;
      }
      return;
    case Place::kComment:
    case Place::kCdata: {
      marker_.push_back(static_cast<char>(byte));
      if (marker_.size() > 3) marker_.erase(0, 1);
      const char* end = place_ == Place::kComment ? "-->" : "]]>";
      if (marker_ == end) {
        place_ = Place::kText;
        marker_.clear();
      }
      return;
    }
    case Place::kDeclaration:
      if (byte == '>') place_ = Place::kText;
      return;
  }
}

}  // namespace import::xml
