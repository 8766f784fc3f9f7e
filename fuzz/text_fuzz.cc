// Fuzzes the text routines that see outside input: lines of the user's text
// files (escaping), recipient entries and numbers from messages and
// contacts, titles of stored messages, and paths from the file system.
//
// The input is read as UTF-16 code units (two bytes each, little end
// first); the first byte also picks a capacity. Every routine must keep its
// capacity and length rules for any text; none may read or write outside
// its strings (ASan/UBSan watch that). Nothing here touches the device:
// titles are checked in the modes that format no time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Contains(std::u16string_view text, std::u16string_view chars) {
  return text.find_first_of(chars) != std::u16string_view::npos;
}

void CheckLineBreaks(const std::u16string& input) {
  std::u16string escaped = input;
  text::EscapeLineBreaks(escaped);
  Check(!Contains(escaped, u"\r"));
  if (!Contains(input, u"\r")) Check(escaped == input);
  // Only a carriage return left alone at the very end grows the text.
  Check(escaped.size() == input.size() ||
        (input.back() == u'\r' && escaped.size() == input.size() + 1));

  std::u16string unescaped = input;
  text::UnescapeLineBreaks(unescaped);
  Check(!Contains(unescaped, u"`"));
  if (!Contains(input, u"`")) Check(unescaped == input);
  Check(unescaped.size() == input.size() ||
        unescaped.size() == input.size() + 1);

  // A text made only of CR LF pairs and no backquote survives a file line.
  bool clean = !Contains(input, u"`");
  for (size_t i = 0; clean && i < input.size(); ++i) {
    if (input[i] == u'\r') {
      clean = i + 1 < input.size() && input[i + 1] == u'\n';
      ++i;
    }
  }
  if (clean) {
    std::u16string round = input;
    text::UnescapeLineBreaks(text::EscapeLineBreaks(round));
    Check(round == input);
  }
  // Whatever was escaped reads back with every carriage return followed by
  // a line feed.
  text::UnescapeLineBreaks(escaped);
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == u'\r') {
      Check(i + 1 < escaped.size() && escaped[i + 1] == u'\n');
    }
  }

  std::u16string cut = input;
  text::CutAtLineBreak(cut);
  Check(input.starts_with(cut) && !Contains(cut, u"\r\n"));
}

void CheckNumbers(std::u16string_view input) {
  std::u16string number = text::NormalizeNumber(input);
  Check(number.size() <= input.size());
  Check(!Contains(number, u" ()-<>"));

  text::Recipient r = text::SplitRecipient(input);
  Check(r.name.size() <= input.size() && r.number.size() <= input.size());
  Check(!Contains(r.name, u" ()-<>;\"") && !Contains(r.number, u" ()-<>;\""));
  std::u16string_view entry = input.substr(0, input.find_first_of(u";>"));
  Check(r.quoted == Contains(entry, u"\""));
  if (!r.quoted && !Contains(entry, u"<")) Check(r.name == r.number);
}

void CheckTitles(std::u16string_view input, size_t split) {
  std::u16string_view body = input.substr(0, split);
  std::u16string_view party = input.substr(split);
  const platform::SystemTime time{};
  const size_t length = static_cast<size_t>(text::SummaryLength());
  std::u16string summary =
      text::MessageTitle(body, party, time, text::kTitleSummary);
  Check(summary.size() <= length && body.starts_with(summary));
  Check(!Contains(summary, std::u16string_view(u"\t\n\r\0", 4)));
  std::u16string title =
      text::MessageTitle(body, party, time, text::kTitleContactSummary);
  Check(title.size() <= party.size() + 1 + summary.size());
  Check(title.ends_with(summary));
}

void CheckPaths(std::u16string_view input, size_t capacity) {
  std::u16string compact = text::CompactPath(input, capacity);
  if (input.size() < capacity) {
    Check(compact == input);
  } else {
    Check(compact.size() == (capacity == 0 ? 0 : capacity - 1));
  }

  std::u16string extension = text::FileExtension(input);
  Check(input.ends_with(extension));
  Check(!Contains(extension, u"./"));
  Check(extension.size() < input.size() || input.empty());

  std::u16string cut(input);
  std::u16string base = text::BaseName(cut);
  Check(input.starts_with(cut) && cut.ends_with(base));
  Check(!Contains(base, u"\\"));
  if (cut.size() < input.size()) Check(input[cut.size()] == u'.');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t capacity = data[0];
  std::u16string input;
  input.reserve(size / 2);
  for (size_t i = 1; i + 1 < size; i += 2) {
    input.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  CheckLineBreaks(input);
  CheckNumbers(input);
  CheckTitles(input, capacity % (input.size() + 1));
  CheckPaths(input, capacity);
  return 0;
}
