// devicectl contacts ... and devicectl sim ...: the phone's contacts and
// its SIM card's phonebook; and the registration of the contacts object
// model's class when `devicectl install` has put pimstore.dll in place.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "device/contacts/phone_book.h"
#include "device/contacts/vcard.h"
#include "device/devicectl/devicectl.h"
#include "platform/com.h"
#include "platform/files.h"
#include "platform/pim.h"
#include "platform/registry.h"

namespace device::devicectl {
namespace {

using platform::Status;

constexpr char16_t kPimstorePath[] = u"\\Windows\\pimstore.dll";

int ContactsImport(const CommandArgs& args) {
  if (args.size() != 2) return UsageError("contacts import needs FILE.vcf");
  std::ifstream in(args[1], std::ios::binary);
  if (!in) return Fail("contacts import: cannot read " + args[1]);
  std::stringstream data;
  data << in.rdbuf();
  device::contacts::VCardReport report;
  std::vector<device::contacts::Contact> contacts =
      device::contacts::ParseVCards(data.str(), &report);
  Status status = device::contacts::AddContacts(contacts);
  if (!status.ok()) return Fail("contacts import: " + status.ToString());
  std::cout << "imported " << contacts.size() << " contact(s) from " << args[1];
  if (report.skipped > 0)
    std::cout << " (" << report.skipped
              << " card(s) without a name or a number skipped)";
  std::cout << "\n";
  return 0;
}

int ContactsList() {
  Status status;
  std::vector<device::contacts::Contact> contacts =
      device::contacts::ListContacts(&status);
  if (!status.ok()) return Fail("contacts list: " + status.ToString());
  for (const device::contacts::Contact& contact : contacts) {
    std::cout << contact.id << "\t" << U8(contact.name)
              << "\tM:" << U8(contact.mobile) << "\tH:" << U8(contact.home)
              << "\tW:" << U8(contact.business) << "\t["
              << U8(contact.categories) << "]\n";
  }
  std::cout << contacts.size() << " contact(s)\n";
  return 0;
}

int SimAdd(const CommandArgs& args) {
  // sim add [--index N] NAME NUMBER
  uint32_t index = 0;
  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--index" && i + 1 < args.size()) {
      char* end = nullptr;
      unsigned long value = std::strtoul(args[++i].c_str(), &end, 10);
      if (end == args[i].c_str() || *end != '\0' || value == 0 ||
          value > device::contacts::kSimMaxIndex)
        return UsageError("sim add: --index takes 1 to 250");
      index = static_cast<uint32_t>(value);
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2)
    return UsageError("sim add needs NAME and NUMBER");
  device::contacts::SimEntry entry;
  entry.index = index;
  entry.text = U16(positional[0]);
  entry.address = U16(positional[1]);
  uint32_t stored_at = 0;
  Status status = device::contacts::AddSimEntry(entry, &stored_at);
  if (!status.ok()) return Fail("sim add: " + status.ToString());
  std::cout << "stored SIM entry " << stored_at << "\n";
  return 0;
}

int SimList() {
  Status status;
  std::vector<device::contacts::SimEntry> entries =
      device::contacts::ListSimEntries(&status);
  if (!status.ok()) return Fail("sim list: " + status.ToString());
  for (const device::contacts::SimEntry& entry : entries) {
    std::cout << entry.index << "\t" << U8(entry.text) << "\t"
              << U8(entry.address) << "\n";
  }
  std::cout << entries.size() << " SIM entr"
            << (entries.size() == 1 ? "y" : "ies") << "\n";
  return 0;
}

}  // namespace

const char* const kContactsUsage =
    "  contacts import FILE.vcf      add the cards of a vCard file (2.1, 3.0, "
    "4.0) to the\n"
    "                                phone's contacts\n"
    "  contacts list                 the phone's contacts: id, name, numbers, "
    "categories\n"
    "  contacts clear                delete every contact\n"
    "  sim add [--index N] NAME NUMBER\n"
    "                                store a SIM phonebook entry (N: 1-250, "
    "default the\n"
    "                                first free one)\n"
    "  sim list                      the SIM phonebook: index, name, number\n"
    "  sim clear                     empty the SIM phonebook\n";

int ContactsCommand(const CommandArgs& args) {
  if (args.empty()) return UsageError("contacts needs import, list or clear");
  if (!RequireDevice()) return kFailure;
  const std::string& command = args[0];
  if (command == "import") return ContactsImport(args);
  if (args.size() != 1)
    return UsageError("contacts " + command + " takes no arguments");
  if (command == "list") return ContactsList();
  if (command == "clear") {
    Status status = device::contacts::ClearContacts();
    if (!status.ok()) return Fail("contacts clear: " + status.ToString());
    std::cout << "deleted every contact\n";
    return 0;
  }
  return UsageError("unknown contacts command \"" + command + "\"");
}

int SimCommand(const CommandArgs& args) {
  if (args.empty()) return UsageError("sim needs add, list or clear");
  if (!RequireDevice()) return kFailure;
  const std::string& command = args[0];
  if (command == "add") return SimAdd(args);
  if (args.size() != 1)
    return UsageError("sim " + command + " takes no arguments");
  if (command == "list") return SimList();
  if (command == "clear") {
    Status status = device::contacts::ClearSim();
    if (!status.ok()) return Fail("sim clear: " + status.ToString());
    std::cout << "emptied the SIM phonebook\n";
    return 0;
  }
  return UsageError("unknown sim command \"" + command + "\"");
}

Status RegisterInstalledServers() {
  if (!platform::files::Exists(kPimstorePath)) return Status::Ok();
  std::u16string key_path =
      u"CLSID\\" + platform::GuidToString(platform::CLSID_PimApplication) +
      u"\\InprocServer32";
  Status status;
  std::optional<platform::RegistryKey> key = platform::RegistryKey::Create(
      platform::RegistryRoot::kClassesRoot, key_path, nullptr, &status);
  if (!key) return status;
  status = key->SetString(u"", platform::kPimLibraryName);
  if (!status.ok()) return status;
  std::cout << "registered the contacts application class ("
            << U8(platform::GuidToString(platform::CLSID_PimApplication))
            << ") in " << U8(platform::kPimLibraryName) << "\n";
  return Status::Ok();
}

}  // namespace device::devicectl
