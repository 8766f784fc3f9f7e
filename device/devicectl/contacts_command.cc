// devicectl contacts ... and devicectl sim ...: the phone's contacts and
// its SIM card's phonebook; and the registration of the contacts object
// model's class when `devicectl install` has put pimstore.dll in place.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "device/contacts/phone_book.h"
#include "device/contacts/vcard.h"
#include "device/devicectl/devicectl.h"
#include "platform/com.h"
#include "platform/files.h"
#include "platform/pim.h"
#include "platform/registry.h"

namespace device::devicectl {
namespace {

using cli::Fail;
using cli::kFailure;
using cli::U16;
using cli::U8;
using cli::UsageError;
using platform::Status;

constexpr char16_t kPimstorePath[] = u"\\Windows\\pimstore.dll";

// At most this many dropped numbers are listed for one card.
constexpr size_t kDroppedListed = 5;

// A text from a card on one line of output: line breaks and other control
// characters become spaces.
std::string OneLine(const std::u16string& text) {
  std::string out = U8(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return out;
}

// "kept 3 of 5 numbers of Ann; dropped 555-4, 555-5"
void PrintDropped(const device::contacts::VCardDroppedNumbers& card) {
  std::cout << "kept " << card.kept << " of " << card.kept + card.dropped.size()
            << " numbers of ";
  if (card.name.empty())
    std::cout << "card " << card.card << " (no name)";
  else
    std::cout << OneLine(card.name);
  std::cout << "; dropped ";
  for (size_t i = 0; i < card.dropped.size() && i < kDroppedListed; ++i)
    std::cout << (i > 0 ? ", " : "") << OneLine(card.dropped[i]);
  if (card.dropped.size() > kDroppedListed)
    std::cout << " and " << card.dropped.size() - kDroppedListed << " more";
  std::cout << "\n";
}

int ContactsImport(const std::string& file) {
  if (!RequireDevice()) return kFailure;
  std::ifstream in(file, std::ios::binary);
  if (!in) return Fail("contacts import: cannot read " + file);
  std::stringstream data;
  data << in.rdbuf();
  device::contacts::VCardReport report;
  std::vector<device::contacts::Contact> contacts =
      device::contacts::ParseVCards(data.str(), &report);
  Status status = device::contacts::AddContacts(contacts);
  if (!status.ok()) return Fail("contacts import: " + status.ToString());
  for (const device::contacts::VCardDroppedNumbers& card : report.dropped)
    PrintDropped(card);
  std::cout << "imported " << contacts.size() << " contact(s) from " << file;
  if (report.skipped > 0)
    std::cout << " (" << report.skipped
              << " card(s) without a name or a number skipped)";
  std::cout << "\n";
  return 0;
}

int ContactsList() {
  if (!RequireDevice()) return kFailure;
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

int ContactsClear() {
  if (!RequireDevice()) return kFailure;
  Status status = device::contacts::ClearContacts();
  if (!status.ok()) return Fail("contacts clear: " + status.ToString());
  std::cout << "deleted every contact\n";
  return 0;
}

struct SimAddArgs {
  std::optional<std::string> index;
  std::string name;
  std::string number;
};

int SimAdd(const SimAddArgs& args) {
  uint32_t index = 0;
  if (args.index) {
    const std::string& text = *args.index;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || text[0] == '-' || value == 0 ||
        value > device::contacts::kSimMaxIndex)
      return UsageError("sim add: --index takes 1 to 250");
    index = static_cast<uint32_t>(value);
  }
  if (!RequireDevice()) return kFailure;
  device::contacts::SimEntry entry;
  entry.index = index;
  entry.text = U16(args.name);
  entry.address = U16(args.number);
  uint32_t stored_at = 0;
  Status status = device::contacts::AddSimEntry(entry, &stored_at);
  if (!status.ok()) return Fail("sim add: " + status.ToString());
  std::cout << "stored SIM entry " << stored_at << "\n";
  return 0;
}

int SimList() {
  if (!RequireDevice()) return kFailure;
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

int SimClear() {
  if (!RequireDevice()) return kFailure;
  Status status = device::contacts::ClearSim();
  if (!status.ok()) return Fail("sim clear: " + status.ToString());
  std::cout << "emptied the SIM phonebook\n";
  return 0;
}

}  // namespace

void AddContactsCommands(cli::Tool& tool) {
  CLI::App* contacts =
      tool.AddCommand(tool.root(), "contacts", "the phone's contacts");
  auto file = std::make_shared<std::string>();
  tool.AddCommand(contacts, "import",
                  "add the cards of a vCard file (2.1, 3.0, 4.0) to the "
                  "phone's contacts",
                  [file] { return ContactsImport(*file); })
      ->add_option("FILE.vcf", *file, "the vCard file")
      ->required();
  tool.AddCommand(contacts, "list",
                  "the phone's contacts: id, name, numbers, categories",
                  ContactsList);
  tool.AddCommand(contacts, "clear", "delete every contact", ContactsClear);

  CLI::App* sim =
      tool.AddCommand(tool.root(), "sim", "the SIM card's phonebook");
  auto entry = std::make_shared<SimAddArgs>();
  CLI::App* add = tool.AddCommand(sim, "add", "store a SIM phonebook entry",
                                  [entry] { return SimAdd(*entry); });
  add->add_option("--index", entry->index,
                  "where: 1-250 (default the first free one)")
      ->type_name("N");
  add->add_option("NAME", entry->name, "the entry's name")->required();
  add->add_option("NUMBER", entry->number, "its number")->required();
  tool.AddCommand(sim, "list", "the SIM phonebook: index, name, number",
                  SimList);
  tool.AddCommand(sim, "clear", "empty the SIM phonebook", SimClear);
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
