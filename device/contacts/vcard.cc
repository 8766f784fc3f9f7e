#include "device/contacts/vcard.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "platform/unicode.h"

namespace device::contacts {
namespace {

constexpr size_t kMaxLogicalLine = 1 << 20;  // longer lines are cut

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         Upper(text.substr(0, prefix.size())) == prefix;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Physical lines (without CR/LF).
std::vector<std::string_view> PhysicalLines(std::string_view data) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = data.size();
    lines.push_back(data.substr(start, end - start));
    if (end < data.size() && data[end] == '\r' && end + 1 < data.size() &&
        data[end + 1] == '\n')
      ++end;
    start = end + 1;
  }
  return lines;
}

bool IsQuotedPrintable(std::string_view line) {
  size_t colon = line.find(':');
  std::string head = Upper(line.substr(0, colon));
  return head.find("QUOTED-PRINTABLE") != std::string::npos;
}

// Joins folded lines, and quoted-printable soft line breaks ("=" at the end).
std::vector<std::string> LogicalLines(std::string_view data) {
  std::vector<std::string> lines;
  bool soft_break = false;
  for (std::string_view line : PhysicalLines(data)) {
    bool continuation =
        !lines.empty() &&
        (soft_break || (!line.empty() && (line[0] == ' ' || line[0] == '\t')));
    if (continuation) {
      if (!soft_break) line.remove_prefix(1);
      std::string& last = lines.back();
      if (last.size() + line.size() <= kMaxLogicalLine) last.append(line);
    } else {
      lines.emplace_back(line.substr(0, kMaxLogicalLine));
    }
    const std::string& last = lines.back();
    soft_break = !last.empty() && last.back() == '=' && IsQuotedPrintable(last);
    if (soft_break) lines.back().pop_back();
  }
  return lines;
}

struct Property {
  std::string name;                // upper case, group removed
  std::vector<std::string> types;  // upper case
  bool quoted_printable = false;
  std::string charset;  // upper case; empty: UTF-8
  std::string value;    // raw
};

// Splits "group.NAME;param;param:value". False when there is no colon.
bool ParseProperty(const std::string& line, Property* property) {
  // The value starts at the first colon outside double quotes.
  size_t colon = std::string::npos;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) {
      colon = i;
      break;
    }
  }
  if (colon == std::string::npos) return false;
  property->value = line.substr(colon + 1);
  std::string_view head(line.data(), colon);
  std::vector<std::string_view> parts;
  size_t start = 0;
  quoted = false;
  for (size_t i = 0; i <= head.size(); ++i) {
    if (i < head.size() && head[i] == '"') quoted = !quoted;
    if (i == head.size() || (head[i] == ';' && !quoted)) {
      parts.push_back(head.substr(start, i - start));
      start = i + 1;
    }
  }
  std::string_view name = parts[0];
  size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name.remove_prefix(dot + 1);
  property->name = Upper(name);
  for (size_t i = 1; i < parts.size(); ++i) {
    std::string param = Upper(parts[i]);
    size_t equals = param.find('=');
    std::string key =
        equals == std::string::npos ? "" : param.substr(0, equals);
    std::string value =
        equals == std::string::npos ? param : param.substr(equals + 1);
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    if (key == "ENCODING" || (key.empty() && value == "QUOTED-PRINTABLE")) {
      if (value == "QUOTED-PRINTABLE") property->quoted_printable = true;
    } else if (key == "CHARSET") {
      property->charset = value;
    } else if (key == "TYPE" || key.empty()) {
      size_t piece = 0;
      while (piece <= value.size()) {
        size_t comma = value.find(',', piece);
        if (comma == std::string::npos) comma = value.size();
        if (comma > piece)
          property->types.push_back(value.substr(piece, comma - piece));
        piece = comma + 1;
      }
    }
  }
  return true;
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 +
                                      HexDigit(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::u16string Decode(const Property& property, std::string_view raw) {
  std::string bytes =
      property.quoted_printable ? DecodeQuotedPrintable(raw) : std::string(raw);
  const std::string& charset = property.charset;
  if (charset == "ISO-8859-1" || charset == "LATIN1" ||
      charset == "WINDOWS-1252" || charset == "US-ASCII") {
    std::u16string out;
    for (unsigned char c : bytes) out.push_back(c);
    return out;
  }
  return platform::FromUtf8(bytes);
}

// Splits a structured value at unescaped `separator`s and undoes the
// backslash escapes ("\n" is a line break, "\," "\;" "\\" the character).
std::vector<std::u16string> SplitValue(std::u16string_view value,
                                       char16_t separator) {
  std::vector<std::u16string> pieces(1);
  for (size_t i = 0; i < value.size(); ++i) {
    char16_t c = value[i];
    if (c == u'\\' && i + 1 < value.size()) {
      char16_t next = value[++i];
      pieces.back().push_back(next == u'n' || next == u'N' ? u'\n' : next);
    } else if (c == separator) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(c);
    }
  }
  return pieces;
}

std::u16string Trim(std::u16string_view text) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && (text[start] == u' ' || text[start] == u'\t')) ++start;
  while (end > start && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
    --end;
  return std::u16string(text.substr(start, end - start));
}

bool IsIdeograph(std::u16string_view text) {
  return !text.empty() && text[0] >= 0x2E80;
}

// TEL types of numbers that cannot take a text message.
constexpr std::string_view kNotForText[] = {"FAX", "PAGER", "MODEM", "BBS",
                                            "TEXTPHONE"};

// A number as written less what people put in to read it: spaces, dashes,
// dots and brackets. Two numbers with the same key are the same number.
std::u16string DialKey(std::u16string_view number) {
  std::u16string key;
  for (char16_t c : number) {
    if (std::u16string_view(u" \t-.()[]").find(c) == std::u16string_view::npos)
      key.push_back(c);
  }
  return key;
}

// Where a TEL asks to go: an index into mobile, home, work, or any of them.
enum Place { kMobile = 0, kHome = 1, kWork = 2, kAnyPlace = 3 };

struct Number {
  std::u16string text;
  Place place = kAnyPlace;
};

struct CardBuilder {
  std::u16string formatted_name;
  std::u16string composed_name;
  std::vector<Number> numbers;  // to text, in card order
  Contact contact;

  void Add(const Property& property) {
    std::u16string value = Decode(property, property.value);
    if (property.name == "FN") {
      formatted_name = Trim(SplitValue(value, 0).front());
    } else if (property.name == "N") {
      std::vector<std::u16string> parts = SplitValue(value, u';');
      std::u16string family = Trim(parts[0]);
      std::u16string given = parts.size() > 1 ? Trim(parts[1]) : u"";
      if (IsIdeograph(family) || IsIdeograph(given))
        composed_name = family + given;
      else if (!given.empty() && !family.empty())
        composed_name = given + u" " + family;
      else
        composed_name = given + family;
    } else if (property.name == "TEL") {
      AddNumber(property, value);
    } else if (property.name == "CATEGORIES") {
      for (std::u16string& category : SplitValue(value, u',')) {
        category = Trim(category);
        if (category.empty()) continue;
        if (!contact.categories.empty()) contact.categories += u", ";
        contact.categories += category;
      }
    }
  }

  void AddNumber(const Property& property, const std::u16string& value) {
    std::u16string number = Trim(SplitValue(value, 0).front());
    if (number.size() >= 4 &&
        platform::EqualsIgnoreCase(std::u16string_view(number).substr(0, 4),
                                   u"tel:")) {
      number.erase(0, 4);
      size_t parameters = number.find(u';');
      if (parameters != std::u16string::npos) number.resize(parameters);
    }
    if (number.empty()) return;
    auto has = [&](std::string_view type) {
      return std::find(property.types.begin(), property.types.end(), type) !=
             property.types.end();
    };
    for (std::string_view type : kNotForText) {
      if (has(type)) return;
    }
    Place place = kAnyPlace;
    if (has("CELL"))
      place = kMobile;
    else if (has("HOME"))
      place = kHome;
    else if (has("WORK"))
      place = kWork;
    numbers.push_back({std::move(number), place});
  }

  // Places the numbers (see vcard.h); those left over go to `dropped`.
  void PlaceNumbers(std::vector<std::u16string>* dropped) {
    std::u16string* places[] = {&contact.mobile, &contact.home,
                                &contact.business};
    std::set<std::u16string> seen;  // DialKey of each number placed or dropped
    auto put = [&](std::u16string* place, const Number& number) {
      *place = number.text.substr(0, kSimMaxChars);
      seen.insert(DialKey(number.text));
    };
    std::vector<const Number*> rest;
    for (const Number& number : numbers) {
      if (number.place == kAnyPlace) continue;
      std::u16string* place = places[number.place];
      if (place->empty())
        put(place, number);
      else
        rest.push_back(&number);
    }
    for (const Number& number : numbers) {
      if (number.place == kAnyPlace) rest.push_back(&number);
    }
    for (const Number* number : rest) {
      std::u16string key = DialKey(number->text);
      if (seen.count(key) > 0) continue;
      auto free_place =
          std::find_if(std::begin(places), std::end(places),
                       [](std::u16string* place) { return place->empty(); });
      if (free_place != std::end(places)) {
        put(*free_place, *number);
      } else {
        dropped->push_back(number->text);
        seen.insert(std::move(key));
      }
    }
  }

  bool Finish(Contact* out, std::vector<std::u16string>* dropped) {
    PlaceNumbers(dropped);
    contact.name = !formatted_name.empty() ? formatted_name : composed_name;
    if (contact.name.empty() && contact.mobile.empty() &&
        contact.home.empty() && contact.business.empty())
      return false;
    *out = std::move(contact);
    return true;
  }
};

}  // namespace

std::vector<Contact> ParseVCards(std::string_view data, VCardReport* report) {
  VCardReport local;
  if (data.size() >= 3 && data.substr(0, 3) == "\xEF\xBB\xBF")
    data.remove_prefix(3);
  std::vector<Contact> contacts;
  std::optional<CardBuilder> card;
  int depth = 0;
  auto finish = [&]() {
    Contact contact;
    std::vector<std::u16string> dropped;
    if (card->Finish(&contact, &dropped)) {
      if (!dropped.empty()) {
        int kept = 0;
        for (const std::u16string* number :
             {&contact.mobile, &contact.home, &contact.business})
          kept += number->empty() ? 0 : 1;
        local.dropped.push_back(
            {local.cards, contact.name, kept, std::move(dropped)});
      }
      contacts.push_back(std::move(contact));
    } else {
      ++local.skipped;
    }
    card.reset();
  };
  for (const std::string& line : LogicalLines(data)) {
    if (StartsWithNoCase(line, "BEGIN:VCARD")) {
      if (depth++ == 0) {
        card.emplace();
        ++local.cards;
      }
      continue;
    }
    if (StartsWithNoCase(line, "END:VCARD")) {
      if (depth > 0 && --depth == 0) finish();
      continue;
    }
    if (depth != 1) continue;
    Property property;
    if (ParseProperty(line, &property)) card->Add(property);
  }
  if (card) finish();
  if (report != nullptr) *report = local;
  return contacts;
}

}  // namespace device::contacts
