// The stock sentence file as outside input: any bytes load, and saving and
// loading again keeps the number of texts when no line had to be split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "contacts/sentence_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  contacts::SentenceStore store;
  store.LoadBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  bool fits = true;
  for (auto which :
       {contacts::SentenceList::kSentences, contacts::SentenceList::kMarks}) {
    for (const std::u16string& text : store.list(which)) {
      if (text.size() + 2 > 259) fits = false;
      for (char16_t c : text) {
        if (c == u'\r' || c == u'\n') std::abort();  // cut at line breaks
      }
      // A sentence starting with a backquote would read back as the
      // separator; only the marks may hold one safely.
      if (which == contacts::SentenceList::kSentences && !text.empty() &&
          text[0] == u'`')
        fits = false;
    }
  }
  contacts::SentenceStore again;
  again.LoadBytes(store.FileBytes());
  if (fits && (again.sentences().size() != store.sentences().size() ||
               again.marks().size() != store.marks().size()))
    std::abort();
  return 0;
}
