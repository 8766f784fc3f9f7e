// The XML backup format of Android's SMS backup programs: importing a
// backup into a folder of the document, and exporting a folder, its
// subfolders or the whole document as one. docs/formats/xml-backup.md
// describes what is read and written, byte for byte.
//
// Import streams: the file is read in chunks through BackupFilter (which
// repairs what phones write that XML does not allow) into libxml2's
// streaming reader, and each "sms" element is filed as soon as it is read,
// so memory grows with the document's nodes, never with the file. Received
// messages (type 1) are filed like messages the phone received, read or
// unread as the backup says; sent ones (type 2) in the shape of the Sent
// Box ("Send To:" recipients, the rule line, the text: send::SentContent),
// read. Both are titled by the "ImportTitle" mode. A message already in the
// folder with the same sender, time to the second and stored text (which
// holds the direction) is skipped, and so is the second copy of one the
// backup holds twice.
//
// What the import refuses (counted, never filed): elements other than
// "sms", messages of other types, messages without an address, date, type
// or body, or with a date that is not a number of milliseconds within the
// calendar. When the XML is damaged past repair the reading stops there:
// what came before it is filed, and the messages the root's "count"
// promised beyond what was read (at least one) are counted refused.
//
// Export writes valid UTF-8 XML 1.0 to a new file beside the target and
// renames it over the target when complete, so a crash never leaves a half
// file under that name. Messages are written in tree order; a message
// shared by several folders (a mark) is written once.
//
// Thread safety: both run on the thread that owns the document, holding
// its lock.
#ifndef TELVANE_IMPORT_XML_XML_BACKUP_H_
#define TELVANE_IMPORT_XML_XML_BACKUP_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/status.h"
#include "store/document.h"

namespace import::xml {

// Where a backup's bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `size` bytes into `buffer`; *got is 0 at the end. A failure ends
  // the reading as damage would.
  virtual platform::Status Read(char* buffer, size_t size, size_t* got) = 0;
};

// Bytes in memory (not copied: they must outlive the source).
class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string_view bytes) : bytes_(bytes) {}
  platform::Status Read(char* buffer, size_t size, size_t* got) override;

 private:
  std::string_view bytes_;
  size_t position_ = 0;
};

// An open device file (not owned).
class FileSource : public ByteSource {
 public:
  explicit FileSource(platform::files::File* file) : file_(file) {}
  platform::Status Read(char* buffer, size_t size, size_t* got) override {
    return file_->Read(buffer, size, got);
  }

 private:
  platform::files::File* file_;
};

struct ImportResult {
  int imported = 0;
  int skipped = 0;  // duplicates
  int refused = 0;
  // Empty when the whole file was read; otherwise where and why the
  // reading stopped ("line 12: ..."). What came before is filed.
  std::string damage;
  // Not ok when a message could not be filed or the document not saved:
  // the import stopped there, keeping what was filed before.
  platform::Status status;
};

// Imports the backup into `folder` (a folder or the Recycle Bin of the open
// document) and saves the document when anything was filed, which commits
// the messages in one step.
ImportResult ImportBackup(store::Document& document, store::Node* folder,
                          ByteSource& source);
// The same from the file at a device path; a file that cannot be opened is
// a status, nothing is read.
ImportResult ImportBackupFile(store::Document& document, store::Node* folder,
                              std::u16string_view path);

struct ExportResult {
  int written = 0;
  // Messages with a password of their own, or below a folder with one, and
  // messages whose record or text cannot be read.
  int left_out = 0;
  platform::Status status;
};

// Writes the messages of `node` to the file at device path `path`: a
// message alone; a folder's messages, and with `subfolders` those of every
// folder below it; with `node` null, the messages of every root folder but
// the Recycle Bin (with `subfolders`, of every folder below them too). The
// caller checks `node`'s own password first.
ExportResult ExportBackup(store::Document& document, store::Node* node,
                          bool subfolders, std::u16string_view path);

}  // namespace import::xml

#endif  // TELVANE_IMPORT_XML_XML_BACKUP_H_
