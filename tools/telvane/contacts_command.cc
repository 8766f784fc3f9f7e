// telvane contacts|groups|sentences: what the contact picker would list, and
// the group and sentence files, on the current device.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "contacts/contact_store.h"
#include "contacts/picker_list.h"
#include "contacts/send_groups.h"
#include "contacts/sentence_store.h"
#include "contacts/wide_text_file.h"
#include "platform/device.h"
#include "settings/settings_store.h"
#include "tools/telvane/commands.h"

namespace tools::telvane {
namespace {

using cli::Fail;
using cli::kFailure;
using cli::U16;
using cli::U8;
using cli::UsageError;

bool RequireDevice() {
  if (platform::DeviceExists()) return true;
  Fail("no device at " + platform::DeviceRoot().string() +
       " (make one with `devicectl init`)");
  return false;
}

// The file named by --file (a device path), else `name` in the program's
// folder.
std::u16string FilePath(const std::optional<std::string>& file,
                        std::u16string_view name) {
  if (file) return U16(*file);
  return settings::AppFolder() + std::u16string(name);
}

std::string Describe(const contacts::PickerList& list,
                     const contacts::PickerItem& item) {
  std::string line = U8(list.Name(item));
  if (const contacts::SendGroup* group = list.Group(item)) {
    line = "[group] " + line + " (" + std::to_string(group->members.size()) +
           " member(s))";
    return line;
  }
  const contacts::ContactRecord* record = list.Record(item);
  line += "\t" + U8(contacts::kNumberLabels[item.number]) + " " +
          U8(list.Number(item));
  std::string categories;
  for (size_t index : record->categories) {
    if (!categories.empty()) categories += ", ";
    categories += U8(list.contacts().categories[index]);
  }
  if (!categories.empty()) line += "\t{" + categories + "}";
  return line;
}

std::string Key(char key) { return std::string("\"") + key + "\""; }

// What `contacts` is given.
struct ContactsArgs {
  std::optional<std::string> mode;
  std::optional<std::string> category;
  std::optional<std::string> find;
  bool touch_screen = false;
};

int Contacts(const ContactsArgs& args) {
  int mode = contacts::kPickerMultiple;
  if (args.mode) {
    if (*args.mode != "0" && *args.mode != "2")
      return UsageError("--mode takes 0 or 2");
    mode = std::stoi(*args.mode);
  }
  if (!RequireDevice()) return kFailure;
  bool touch_screen = args.touch_screen ||
                      platform::GetDeviceSettingInt("touch_screen", 0) != 0;

  contacts::ContactStore store;
  std::string group_bytes;  // read only: a missing file is not made here
  if (contacts::ReadWideFile(contacts::GroupFilePath(settings::AppFolder()),
                             &group_bytes)
          .ok())
    store.groups().mutable_groups() = contacts::ParseGroupFile(group_bytes);
  store.Load();
  contacts::LoadReport report = store.last_report();
  if (!report.contacts_read)
    std::cerr << "telvane: the contacts application object is not available "
                 "(is pimstore.dll installed?)\n";
  std::optional<std::u16string> category;
  if (args.category) category = U16(*args.category);

  contacts::PickerList list(store.contacts(), &store.groups().groups(), mode,
                            touch_screen);
  list.Fill(category);
  std::cout << list.items().size() << " item(s)";
  if (category) std::cout << " in category \"" << U8(*category) << "\"";
  std::cout << " (" << report.contacts << " contact(s), " << report.sim_entries
            << " SIM entr" << (report.sim_entries == 1 ? "y" : "ies")
            << (touch_screen ? ", touch-screen order" : ", keypad order")
            << ")\n";
  for (size_t i = 0; i < list.items().size(); ++i) {
    std::cout << (list.selected() == i ? "> " : "  ") << i + 1 << ". "
              << Describe(list, list.items()[i]) << "\n";
  }
  const std::vector<std::u16string>& categories = list.contacts().categories;
  std::cout << "categories:";
  for (const std::u16string& name : categories)
    std::cout << " \"" << U8(name) << "\"";
  std::cout << "\n";

  if (args.find) {
    for (char key : *args.find) {
      bool found = false;
      if (touch_screen && key >= '1' && key <= '9')
        found = list.TapTab(key - '1');
      else if (key >= '2' && key <= '9')
        found = list.PressDigit(static_cast<char16_t>(key));
      else if (key == '#' || (key >= 'a' && key <= 'z') ||
               (key >= 'A' && key <= 'Z'))
        found = list.FindLetter(static_cast<char16_t>(key));
      else
        return UsageError("--find takes letters, \"#\" and digits");
      std::cout << "key " << Key(key) << ": ";
      if (found)
        std::cout << *list.selected() + 1 << ". "
                  << U8(list.Name(list.items()[*list.selected()])) << "\n";
      else
        std::cout << "no match\n";
    }
  }
  return 0;
}

int Groups(const std::optional<std::string>& file) {
  if (!RequireDevice()) return kFailure;
  std::u16string path = FilePath(file, u"smsgroup.ini");
  std::string bytes;
  platform::Status status = contacts::ReadWideFile(path, &bytes);
  if (!status.ok()) return Fail(U8(path) + ": " + status.ToString());
  std::vector<contacts::SendGroup> groups = contacts::ParseGroupFile(bytes);
  std::cout << U8(path) << ": " << groups.size() << " group(s)\n";
  for (const contacts::SendGroup& group : groups) {
    std::cout << "[" << U8(group.name) << "] " << group.members.size()
              << " member(s)\n";
    for (const contacts::GroupMember& member : group.members)
      std::cout << "  " << U8(member.name) << "\t" << U8(member.number) << "\n";
  }
  return 0;
}

int Sentences(const std::optional<std::string>& file) {
  if (!RequireDevice()) return kFailure;
  std::u16string path = FilePath(file, u"pelicorde.sen");
  std::string bytes;
  platform::Status status = contacts::ReadWideFile(path, &bytes);
  if (!status.ok()) return Fail(U8(path) + ": " + status.ToString());
  contacts::SentenceStore store;
  store.LoadBytes(bytes);
  std::cout << U8(path) << ": " << store.sentences().size() << " sentence(s), "
            << store.marks().size() << " mark name(s)\n"
            << "sentences:\n";
  for (const std::u16string& sentence : store.sentences())
    std::cout << "  " << U8(sentence) << "\n";
  std::cout << "marks:\n";
  for (const std::u16string& mark : store.marks())
    std::cout << "  " << U8(mark) << "\n";
  return 0;
}

}  // namespace

void AddContactsCommands(cli::Tool& tool) {
  auto args = std::make_shared<ContactsArgs>();
  CLI::App* contacts_command = tool.AddCommand(
      tool.root(), "contacts",
      "the current device's contacts (and SIM entries) as the contact picker "
      "lists them, in its order, each with its chosen number and categories",
      [args] { return Contacts(*args); });
  contacts_command
      ->add_option("--mode", args->mode,
                   "0, or 2 (the default): the send groups first")
      ->type_name("0|2");
  contacts_command
      ->add_option("--category", args->category, "only this category's")
      ->type_name("NAME");
  contacts_command
      ->add_option("--find", args->find,
                   "keys pressed in turn: letters and \"#\" find by letter, "
                   "digits 2-9 cycle through their letters like keypad keys")
      ->type_name("KEYS");
  contacts_command->add_flag(
      "--touch-screen", args->touch_screen,
      "order as a touch-screen device does and make the digits 1-9 the nine "
      "tabs (\"#ab\" ... \"xyz\"); without it the device setting "
      "touch_screen decides");

  auto groups_file = std::make_shared<std::optional<std::string>>();
  tool.AddCommand(tool.root(), "groups",
                  "the send groups of smsgroup.ini in the program's folder, "
                  "in the order the program holds them (the reverse of the "
                  "file's)",
                  [groups_file] { return Groups(*groups_file); })
      ->add_option("--file", *groups_file, "another group file")
      ->type_name("DEVICE_PATH");
  auto sentences_file = std::make_shared<std::optional<std::string>>();
  tool.AddCommand(tool.root(), "sentences",
                  "the stock sentences and mark names of pelicorde.sen, as "
                  "held",
                  [sentences_file] { return Sentences(*sentences_file); })
      ->add_option("--file", *sentences_file, "another sentence file")
      ->type_name("DEVICE_PATH");
}

}  // namespace tools::telvane
