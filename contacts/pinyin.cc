#include "contacts/pinyin.h"

namespace contacts {

char16_t PinyinInitial(char16_t c) {
  if (c < kFirstPinyinIdeograph || c > kLastPinyinIdeograph) return c;
  size_t offset = c - kFirstPinyinIdeograph;
  uint32_t word = kPinyinInitialTable[offset / kPinyinCodesPerWord];
  unsigned shift = 27 - 5 * static_cast<unsigned>(offset % kPinyinCodesPerWord);
  unsigned code = (word >> shift) & 0x1F;
  // 0 (and the unused codes above 26) have no letter: "[" sorts them
  // after "Z".
  if (code == 0 || code > 26) return u'[';
  return static_cast<char16_t>(u'A' + code - 1);
}

}  // namespace contacts
