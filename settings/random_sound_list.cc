#include "settings/random_sound_list.h"

#include "platform/files.h"
#include "platform/time.h"
#include "text/text.h"

namespace settings {

namespace {

constexpr size_t kFolderCapacity = 260;  // characters, terminator included

char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

}  // namespace

bool RandomSoundList::Accepts(std::u16string_view name) const {
  std::u16string extension = text::FileExtension(name);
  if (extension.empty()) return false;
  for (char16_t& c : extension) c = AsciiLower(c);
  return extensions_.find(extension) != std::u16string::npos;
}

size_t RandomSoundList::Scan(std::u16string_view folder) {
  folder_.assign(folder.substr(0, kFolderCapacity - 1));
  if (!folder_.empty() && folder_.back() != u'\\' && folder_.back() != u'/') {
    folder_.push_back(u'\\');
  }
  names_.clear();
  if (folder_.empty()) return 0;
  platform::Status status;
  std::vector<platform::files::FindData> entries =
      platform::files::Find(folder_ + u"*.*", &status);
  for (const platform::files::FindData& entry : entries) {
    if (entry.attributes & platform::files::kAttributeDirectory) continue;
    if (Accepts(entry.name)) names_.push_back(entry.name);
  }
  return names_.size();
}

std::optional<std::u16string> RandomSoundList::Pick() const {
  return PickAt(platform::TickCount());
}

std::optional<std::u16string> RandomSoundList::PickAt(uint32_t tick) const {
  if (names_.empty()) return std::nullopt;
  return folder_ + names_[tick % names_.size()];
}

}  // namespace settings
