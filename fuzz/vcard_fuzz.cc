// vCard files as outside input: any bytes parse, and every contact read has
// a name or a number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "device/contacts/vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  device::contacts::VCardReport report;
  std::vector<device::contacts::Contact> contacts =
      device::contacts::ParseVCards(
          std::string_view(reinterpret_cast<const char*>(data), size), &report);
  if (static_cast<int>(contacts.size()) + report.skipped != report.cards)
    std::abort();
  for (const auto& contact : contacts) {
    if (contact.name.empty() && contact.mobile.empty() &&
        contact.home.empty() && contact.business.empty())
      std::abort();
  }
  return 0;
}
