// Stock sentences and mark names: two lists of one-line texts kept in the
// file "pelicorde.sen" in the program's folder
// (docs/formats/sentence-file.md).
//
// The file is UTF-16LE with a byte-order mark: one line per sentence, a
// line holding the backquote character, then one line per mark name, every
// line ending in "\r\n". Loading puts each line at the front of its list,
// so each list is held in the reverse of the file's order and the next save
// writes it reversed. Any bytes load: a line starting with a backquote
// switches to the mark names (again and again), every other line is cut at
// its first line break, and lines longer than 259 characters are read in
// pieces, each piece a text of its own.
//
// Saving replaces the file in one step (platform::files::WriteFileAtomically),
// so a crash or a full disk leaves the old file or the new one, whole. A
// file that exists but cannot be read whole is never written over: the
// store works with the defaults and every Save refuses until a Load reads
// the file.
//
// Thread safety: none; the user-interface thread owns the store.
#ifndef TELVANE_CONTACTS_SENTENCE_STORE_H_
#define TELVANE_CONTACTS_SENTENCE_STORE_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace contacts {

// The two lists of the store.
enum class SentenceList { kSentences, kMarks };

// "%spelicorde.sen" with the program's folder.
std::u16string SentenceFilePath(std::u16string_view app_folder);

// The texts of a first start (no file yet), in their order; also what the
// store holds when its file cannot be read.
const std::vector<std::u16string>& DefaultSentences();
const std::vector<std::u16string>& DefaultMarkNames();

class SentenceStore {
 public:
  explicit SentenceStore(std::u16string path = u"") : path_(std::move(path)) {}

  // Empties both lists and reads the file. When there is no file, fills
  // the lists with the defaults and saves at once (the result is that
  // save's). When the file exists but cannot be read whole (a folder in its
  // place, no permission, an I/O error), fills the lists with the defaults
  // but leaves the file as it is: file_unreadable() turns true and the
  // result is the read failure. Clears the changed flag.
  platform::Status Load();
  // Replaces the file in one step: on a failure the file is the old one,
  // whole, and the lists are unchanged. Does nothing (and succeeds) without
  // a path. While file_unreadable(), writes nothing and fails with
  // kAccessDenied.
  platform::Status Save() const;
  // True after a Load found the file but could not read it; Save leaves it
  // alone until a later Load reads it.
  bool file_unreadable() const { return file_unreadable_; }
  // Parses the bytes of a file into the lists (for tools and tests).
  void LoadBytes(std::string_view bytes);
  // The bytes Save writes.
  std::string FileBytes() const;

  const std::u16string& path() const { return path_; }
  const std::vector<std::u16string>& list(SentenceList which) const {
    return which == SentenceList::kSentences ? sentences_ : marks_;
  }
  const std::vector<std::u16string>& sentences() const { return sentences_; }
  const std::vector<std::u16string>& marks() const { return marks_; }

  // ---- What the dialog does; each marks the store as changed.
  // Puts `text` (also an empty one) at the front of the list.
  void Add(SentenceList which, std::u16string_view text);
  // Replaces item `index`; false when there is none.
  bool Modify(SentenceList which, size_t index, std::u16string_view text);
  // Removes item `index`; false when there is none.
  bool Delete(SentenceList which, size_t index);

  bool changed() const { return changed_; }
  // Saves when changed (as the dialog does on OK and Cancel) and clears the
  // flag when that worked.
  platform::Status SaveIfChanged();

 private:
  std::vector<std::u16string>& mutable_list(SentenceList which) {
    return which == SentenceList::kSentences ? sentences_ : marks_;
  }

  std::u16string path_;
  std::vector<std::u16string> sentences_;
  std::vector<std::u16string> marks_;
  bool changed_ = false;
  bool file_unreadable_ = false;  // the last Load could not read the file
};

}  // namespace contacts

#endif  // TELVANE_CONTACTS_SENTENCE_STORE_H_
