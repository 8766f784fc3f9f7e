#include "contacts/sentence_store.h"

#include "contacts/wide_text_file.h"
#include "platform/unicode.h"
#include "text/text.h"

namespace contacts {
namespace {

constexpr char16_t kSeparator = u'`';

}  // namespace

std::u16string SentenceFilePath(std::u16string_view app_folder) {
  return std::u16string(app_folder) + u"pelicorde.sen";
}

const std::vector<std::u16string>& DefaultSentences() {
  static const auto* sentences = new std::vector<std::u16string>{
      u"Yes.",
      u"No.",
      u"Thanks!",
      u"Please call my mobile.",
      u"I'll be right there.",
      u"I'm running late.",
      u"I'll get back to you.",
      u"Sorry, I am busy now.",
  };
  return *sentences;
}

const std::vector<std::u16string>& DefaultMarkNames() {
  static const auto* marks = new std::vector<std::u16string>{
      u"Must Reply", u"Urgency", u"Home", u"Business", u"Technical"};
  return *marks;
}

platform::Status SentenceStore::Load() {
  sentences_.clear();
  marks_.clear();
  changed_ = false;
  file_unreadable_ = false;
  platform::Status status(platform::ErrorCode::kNotFound, "no path");
  if (!path_.empty()) {
    std::string bytes;
    status = ReadWideFile(path_, &bytes);
    if (status.ok()) {
      LoadBytes(bytes);
      return status;
    }
  }
  sentences_ = DefaultSentences();
  marks_ = DefaultMarkNames();
  if (status.code() != platform::ErrorCode::kNotFound) {
    file_unreadable_ = true;
    return status;
  }
  return Save();
}

void SentenceStore::LoadBytes(std::string_view bytes) {
  sentences_.clear();
  marks_.clear();
  std::vector<std::u16string>* current = &sentences_;
  for (std::u16string& line : SplitWideLines(bytes)) {
    if (!line.empty() && line[0] == kSeparator) {
      current = &marks_;
      continue;
    }
    text::CutAtLineBreak(line);
    current->insert(current->begin(), std::move(line));
  }
}

std::string SentenceStore::FileBytes() const {
  std::u16string text;
  for (const std::u16string& sentence : sentences_) text += sentence + u"\r\n";
  text += u"`\r\n";
  for (const std::u16string& mark : marks_) text += mark + u"\r\n";
  return WideFileBytes(text);
}

platform::Status SentenceStore::Save() const {
  if (path_.empty()) return platform::Status::Ok();
  if (file_unreadable_) {
    return platform::Status(
        platform::ErrorCode::kAccessDenied,
        "the sentence file " + platform::ToUtf8(path_) +
            " could not be read when it was loaded; it is not written over");
  }
  return WriteWideFileBytes(path_, FileBytes());
}

void SentenceStore::Add(SentenceList which, std::u16string_view text) {
  auto& list = mutable_list(which);
  list.insert(list.begin(), std::u16string(text));
  changed_ = true;
}

bool SentenceStore::Modify(SentenceList which, size_t index,
                           std::u16string_view text) {
  auto& list = mutable_list(which);
  if (index >= list.size()) return false;
  list[index] = text;
  changed_ = true;
  return true;
}

bool SentenceStore::Delete(SentenceList which, size_t index) {
  auto& list = mutable_list(which);
  if (index >= list.size()) return false;
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
  changed_ = true;
  return true;
}

platform::Status SentenceStore::SaveIfChanged() {
  if (!changed_) return platform::Status::Ok();
  platform::Status status = Save();
  if (status.ok()) changed_ = false;
  return status;
}

}  // namespace contacts
