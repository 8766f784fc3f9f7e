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

// The texts written when the file cannot be opened, in their order.
const std::vector<std::u16string>& DefaultSentences();
const std::vector<std::u16string>& DefaultMarkNames();

class SentenceStore {
 public:
  explicit SentenceStore(std::u16string path = u"") : path_(std::move(path)) {}

  // Empties both lists and reads the file; when it does not open for
  // reading and writing, fills the lists with the defaults and saves at
  // once (the result is that save's). Clears the changed flag.
  platform::Status Load();
  // Rewrites the file. Does nothing (and succeeds) without a path.
  platform::Status Save() const;
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
};

}  // namespace contacts

#endif  // TELVANE_CONTACTS_SENTENCE_STORE_H_
