#include "text/text.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>

#include "platform/files.h"
#include "platform/locale.h"

namespace text {
namespace {

std::atomic<int> summary_length{10};

bool IsSlash(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

std::u16string NormalizeNumber(std::u16string_view number) {
  std::u16string out;
  out.reserve(number.size());
  for (char16_t c : number) {
    switch (c) {
      case u' ':
      case u'(':
      case u')':
      case u'-':
      case u'>':
        break;
      case u'<':
        out.clear();
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

Recipient SplitRecipient(std::u16string_view entry) {
  Recipient r;
  int quotes = 0;
  bool to_number = true;
  bool name_open = true;  // characters still go to the name
  for (char16_t c : entry) {
    if (c == u';' || c == u'>') break;
    switch (c) {
      case u' ':
      case u'(':
      case u')':
      case u'-':
        break;
      case u'"':
        ++quotes;
        if (quotes == 1) {
          r.quoted = true;
          r.name.clear();
          to_number = false;
        } else if (quotes == 2) {
          name_open = false;
          to_number = true;
        }
        break;
      case u'<':
        r.number.clear();
        break;
      default:
        if (name_open) r.name.push_back(c);
        if (to_number) r.number.push_back(c);
    }
  }
  return r;
}

int SummaryLength() { return summary_length.load(std::memory_order_relaxed); }

void SetSummaryLength(int length) {
  summary_length.store(length, std::memory_order_relaxed);
}

std::u16string CopySummary(std::u16string_view source, size_t limit) {
  size_t end = 0;
  const size_t max = std::min(limit, source.size());
  while (end < max) {
    char16_t c = source[end];
    if (c == 0 || c == u'\t' || c == u'\n' || c == u'\r') break;
    ++end;
  }
  return std::u16string(source.substr(0, end));
}

std::u16string MessageTitle(std::u16string_view body, std::u16string_view party,
                            const platform::SystemTime& time, int title_mode) {
  const int length = SummaryLength();
  const size_t limit = length > 0 ? static_cast<size_t>(length) : 0;
  if (title_mode != kTitleContactSummary && title_mode != kTitleContactTime) {
    return CopySummary(body, limit);
  }
  Recipient recipient = SplitRecipient(party);
  std::u16string title = recipient.quoted && !recipient.name.empty()
                             ? std::move(recipient.name)
                             : std::move(recipient.number);
  if (!title.empty()) title.push_back(u' ');
  if (title_mode == kTitleContactSummary) {
    title += CopySummary(body, limit);
  } else {
    title += FormatTime(time, TimeKind::kDateAndTime,
                        std::numeric_limits<size_t>::max());
  }
  return title;
}

std::u16string FormatTime(const platform::SystemTime& time, TimeKind kind,
                          size_t capacity) {
  if (capacity <= 1) return std::u16string();
  std::u16string out;
  if (kind == TimeKind::kDate || kind == TimeKind::kDateAndTime) {
    out = platform::FormatDate(time, platform::DefaultShortDateFormat());
  }
  if (kind == TimeKind::kDateAndTime) out.push_back(u' ');
  if (kind == TimeKind::kTime || kind == TimeKind::kDateAndTime) {
    out += platform::FormatTimeOfDay(time, platform::DefaultTimeFormat());
  }
  if (out.size() > capacity - 1) out.resize(capacity - 1);
  return out;
}

std::u16string& EscapeLineBreaks(std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r') continue;
    text[i] = u'`';
    if (i + 1 < text.size()) {
      text[i + 1] = u'`';
    } else {
      text.push_back(u'`');
    }
    ++i;  // the pair is done
  }
  return text;
}

std::u16string& UnescapeLineBreaks(std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'`') continue;
    text[i] = u'\r';
    if (i + 1 < text.size()) {
      text[i + 1] = u'\n';
    } else {
      text.push_back(u'\n');
    }
    ++i;
  }
  return text;
}

std::u16string& CutAtLineBreak(std::u16string& text) {
  size_t at = text.find_first_of(u"\r\n");
  if (at != std::u16string::npos) text.resize(at);
  return text;
}

std::u16string CompactPath(std::u16string_view path, size_t capacity) {
  if (path.size() < capacity) return std::u16string(path);
  if (capacity == 0) return std::u16string();
  const size_t room = capacity - 1;  // characters the result may hold

  char16_t separator = u'\\';
  size_t name_start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    char16_t c = path[i];
    if (IsSlash(c)) separator = c;
    if ((IsSlash(c) || c == u':') && i + 1 < path.size() &&
        !IsSlash(path[i + 1])) {
      name_start = i + 1;
    }
  }
  const std::u16string_view name = path.substr(name_start);
  const bool has_folder = name_start > 0;

  if (!has_folder) {
    if (room < 3) return std::u16string(room, u'.');
    std::u16string out(name.substr(0, room - 3));
    out += u"...";
    return out;
  }
  if (capacity <= 6) {
    std::u16string out(room, u'.');
    if (room >= 4) out[3] = separator;
    return out;
  }
  if (name.size() + 4 <= room) {
    std::u16string out(path.substr(0, room - 4 - name.size()));
    out += u"...";
    out.push_back(separator);
    out += name;
    return out;
  }
  std::u16string out = u"...";
  out.push_back(separator);
  if (room > 7) out += name.substr(0, room - 7);
  out += u"...";
  out.resize(std::min(out.size(), room));
  return out;
}

std::u16string BaseName(std::u16string& text) {
  size_t dot = text.rfind(u'.');
  if (dot != std::u16string::npos) text.resize(dot);
  size_t slash = text.rfind(u'\\');
  return slash == std::u16string::npos ? text : text.substr(slash + 1);
}

std::u16string FileExtension(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    char16_t c = path[i - 1];
    if (c == u'/') break;
    if (c == u'.') {
      if (i - 1 == 0) break;  // the path's first character
      return std::u16string(path.substr(i));
    }
  }
  return std::u16string();
}

bool FileExists(std::u16string_view device_path) {
  if (platform::files::IsFolder(device_path)) return false;
  return platform::files::File::Open(device_path, "rb") != nullptr;
}

}  // namespace text
