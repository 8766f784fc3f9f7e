// Send groups: named lists of recipients that the contact picker shows above
// the contacts when several may be chosen, and their file "smsgroup.ini" in
// the program's folder (docs/formats/group-file.md).
//
// The file is UTF-16LE with a byte-order mark; each group is a line
// "[NAME]\r\n" followed by one line "NAME|NUMBER\r\n" per member. Loading
// puts each group it reads at the front of the list, so the list holds the
// groups in the reverse of the file's order and the next save writes them
// reversed; members keep their order. Nothing is escaped: a name holding
// "|", "]" or a line break does not come back as written.
//
// Damaged files load to what is sound: member lines before the first group
// header and member lines whose name or number is empty are skipped; lines
// longer than 259 characters are read in pieces (each piece a line).
//
// Saving replaces the file in one step (platform::files::WriteFileAtomically),
// so a crash or a full disk leaves the old file or the new one, whole. A
// file that exists but cannot be read whole is never written over: the list
// stays empty and every Save of that object refuses until a Load reads it.
//
// Thread safety: none; the user-interface thread owns the groups.
#ifndef TELVANE_CONTACTS_SEND_GROUPS_H_
#define TELVANE_CONTACTS_SEND_GROUPS_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace contacts {

// A group's name holds at most this many characters (longer names are cut).
inline constexpr size_t kMaxGroupNameChars = 259;

struct GroupMember {
  std::u16string name;
  std::u16string number;
  bool operator==(const GroupMember&) const = default;
};

struct SendGroup {
  std::u16string name;
  std::vector<GroupMember> members;
  bool operator==(const SendGroup&) const = default;
};

// "%ssmsgroup.ini" with the program's folder.
std::u16string GroupFilePath(std::u16string_view app_folder);

// The groups as the file's bytes hold them (front of the list first). Any
// bytes are accepted.
std::vector<SendGroup> ParseGroupFile(std::string_view bytes);
// The file's bytes for the groups (byte-order mark included).
std::string FormatGroupFile(const std::vector<SendGroup>& groups);

class SendGroups {
 public:
  SendGroups() = default;

  // Empties the list and remembers `path` (a device path), then reads the
  // groups from the file. When there is no file, one holding only the
  // byte-order mark is written and the list stays empty (the result tells
  // whether that write worked). When the file exists but cannot be read
  // whole (a folder in its place, no permission, an I/O error), it is left
  // as it is: the list stays empty, file_unreadable() turns true and the
  // result is the read failure.
  platform::Status Load(std::u16string_view path);
  // Replaces the whole file with the list, in one step: on a failure the
  // file is the old one, whole, and the list is unchanged. Does nothing
  // (and succeeds) before a path was set. While file_unreadable(), writes
  // nothing and fails with kAccessDenied.
  platform::Status Save() const;

  // True after a Load found the file but could not read it; Save leaves it
  // alone until a later Load reads it.
  bool file_unreadable() const { return file_unreadable_; }

  const std::u16string& path() const { return path_; }
  const std::vector<SendGroup>& groups() const { return groups_; }
  std::vector<SendGroup>& mutable_groups() { return groups_; }
  size_t size() const { return groups_.size(); }

  // ---- What the group dialog and the member editor do.
  // Puts a new, empty group at the front (name cut to 259 characters).
  // An empty name adds nothing and returns false; duplicates are allowed.
  bool AddGroup(std::u16string_view name);
  // Removes group `index`; false when there is no such group.
  bool DeleteGroup(size_t index);
  // Appends a member to group `index`; false when there is no such group or
  // the name or the number is empty.
  bool AddMember(size_t index, std::u16string_view name,
                 std::u16string_view number);
  // Removes member `member` of group `index`; false when either is missing.
  bool DeleteMember(size_t index, size_t member);

 private:
  std::u16string path_;
  std::vector<SendGroup> groups_;
  bool file_unreadable_ = false;  // the last Load could not read the file
};

}  // namespace contacts

#endif  // TELVANE_CONTACTS_SEND_GROUPS_H_
