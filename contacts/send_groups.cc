#include "contacts/send_groups.h"

#include "contacts/wide_text_file.h"
#include "platform/unicode.h"

namespace contacts {
namespace {

bool IsPieceEnd(char16_t c) {
  return c == u'|' || c == u']' || c == u'\r' || c == u'\n';
}

// The text of `line` from `*pos` up to the next "|", "]", CR or LF (or the
// end); *pos moves past that delimiter.
std::u16string NextPiece(std::u16string_view line, size_t* pos) {
  size_t start = *pos;
  size_t end = start;
  while (end < line.size() && !IsPieceEnd(line[end])) ++end;
  *pos = end < line.size() ? end + 1 : end;
  return std::u16string(line.substr(start, end - start));
}

std::u16string GroupText(const std::vector<SendGroup>& groups) {
  std::u16string text;
  for (const SendGroup& group : groups) {
    text += u"[" + group.name + u"]\r\n";
    for (const GroupMember& member : group.members)
      text += member.name + u"|" + member.number + u"\r\n";
  }
  return text;
}

}  // namespace

std::u16string GroupFilePath(std::u16string_view app_folder) {
  return std::u16string(app_folder) + u"smsgroup.ini";
}

std::vector<SendGroup> ParseGroupFile(std::string_view bytes) {
  std::vector<SendGroup> groups;  // in file order; reversed at the end
  for (const std::u16string& line : SplitWideLines(bytes)) {
    size_t pos = 0;
    if (!line.empty() && line[0] == u'[') {
      pos = 1;
      SendGroup group;
      group.name = NextPiece(line, &pos);
      groups.push_back(std::move(group));
      continue;
    }
    if (groups.empty()) continue;  // a member without a group
    GroupMember member;
    member.name = NextPiece(line, &pos);
    member.number = NextPiece(line, &pos);
    if (member.name.empty() || member.number.empty()) continue;
    groups.back().members.push_back(std::move(member));
  }
  return std::vector<SendGroup>(groups.rbegin(), groups.rend());
}

std::string FormatGroupFile(const std::vector<SendGroup>& groups) {
  return WideFileBytes(GroupText(groups));
}

platform::Status SendGroups::Load(std::u16string_view path) {
  groups_.clear();
  path_ = path;
  file_unreadable_ = false;
  std::string bytes;
  platform::Status status = ReadWideFile(path_, &bytes);
  if (status.code() == platform::ErrorCode::kNotFound) {
    return WriteWideFile(path_, u"");
  }
  if (!status.ok()) {
    file_unreadable_ = true;
    return status;
  }
  groups_ = ParseGroupFile(bytes);
  return platform::Status::Ok();
}

platform::Status SendGroups::Save() const {
  if (path_.empty()) return platform::Status::Ok();
  if (file_unreadable_) {
    return platform::Status(
        platform::ErrorCode::kAccessDenied,
        "the group file " + platform::ToUtf8(path_) +
            " could not be read when it was loaded; it is not written over");
  }
  return WriteWideFile(path_, GroupText(groups_));
}

bool SendGroups::AddGroup(std::u16string_view name) {
  if (name.empty()) return false;
  SendGroup group;
  group.name = name.substr(0, kMaxGroupNameChars);
  groups_.insert(groups_.begin(), std::move(group));
  return true;
}

bool SendGroups::DeleteGroup(size_t index) {
  if (index >= groups_.size()) return false;
  groups_.erase(groups_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

bool SendGroups::AddMember(size_t index, std::u16string_view name,
                           std::u16string_view number) {
  if (index >= groups_.size() || name.empty() || number.empty()) return false;
  groups_[index].members.push_back(
      {std::u16string(name), std::u16string(number)});
  return true;
}

bool SendGroups::DeleteMember(size_t index, size_t member) {
  if (index >= groups_.size() || member >= groups_[index].members.size())
    return false;
  auto& members = groups_[index].members;
  members.erase(members.begin() + static_cast<std::ptrdiff_t>(member));
  return true;
}

}  // namespace contacts
