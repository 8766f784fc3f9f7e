// The filter file loader on any bytes: it must never crash, what it keeps
// must be writable, and a file it wrote must read back to the same bytes
// when written again. Matching must be safe on whatever was loaded.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "firewall/filter_file.h"
#include "firewall/filter_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  firewall::FilterSet set;
  firewall::ParseFilterFile(std::span<const uint8_t>(data, size), &set);
  std::string once = firewall::SerializeFilterFile(set);

  firewall::FilterSet again;
  firewall::ParseFilterFile(
      std::span(reinterpret_cast<const uint8_t*>(once.data()), once.size()),
      &again);
  if (firewall::SerializeFilterFile(again) != once) __builtin_trap();

  for (std::u16string_view sender :
       {u"+8613800138000", u"\"Ann\"<138 0013 8000>", u"Delivered", u""}) {
    firewall::IsBlacklisted(set, sender);
    firewall::FindGoverningFilter(set, sender, u"hello, meeting at 5");
  }
  return 0;
}
