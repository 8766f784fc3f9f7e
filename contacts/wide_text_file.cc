#include "contacts/wide_text_file.h"

#include "platform/files.h"

namespace contacts {

std::vector<std::u16string> SplitWideLines(std::string_view bytes) {
  std::vector<std::u16string> lines;
  if (bytes.size() <= 2) return lines;
  bytes.remove_prefix(2);
  std::u16string line;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t c =
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                              (static_cast<unsigned char>(bytes[i + 1]) << 8));
    line.push_back(c);
    if (c == u'\n' || line.size() == kMaxLineChars) {
      lines.push_back(std::move(line));
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

std::string WideFileBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(2 + text.size() * 2);
  auto put = [&bytes](char16_t c) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  };
  put(kByteOrderMark);
  for (char16_t c : text) put(c);
  return bytes;
}

platform::Status ReadWideFile(std::u16string_view device_path,
                              std::string* bytes) {
  return platform::files::ReadWhole(device_path, bytes);
}

platform::Status WriteWideFile(std::u16string_view device_path,
                               std::u16string_view text) {
  return WriteWideFileBytes(device_path, WideFileBytes(text));
}

platform::Status WriteWideFileBytes(std::u16string_view device_path,
                                    std::string_view bytes) {
  return platform::files::WriteFileAtomically(device_path, bytes);
}

}  // namespace contacts
