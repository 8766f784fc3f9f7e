// cellcore.dll: the telephony line information and the SIM manager over the
// device's settings and its SIM phonebook, and voice call requests (kept in
// the device's call log); see platform/telephony.h.
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "device/contacts/call_log.h"
#include "device/contacts/phone_book.h"
#include "platform/debug.h"
#include "platform/telephony.h"

namespace {

using namespace platform;  // the interface's names, as the library uses them

struct Handles {
  std::mutex mutex;
  uint32_t next = 1;
  std::set<LineApp> apps;
  std::map<Line, LineApp> lines;  // open line -> its app
  std::set<SimHandle> sims;
};

Handles& State() {
  static auto* handles = new Handles();
  return *handles;
}

uint32_t LineCount() {
  return device::contacts::CellularLineSerialNumber().empty() ? 0 : 1;
}

void CopyText(std::u16string_view text, char16_t* out, size_t capacity) {
  if (capacity == 0) return;
  size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), n, out);
  out[n] = u'\0';
}

}  // namespace

#define CELLCORE_EXPORT extern "C" __attribute__((visibility("default")))

CELLCORE_EXPORT TelResult lineInitialize(LineApp* app, uint32_t* device_count) {
  if (app == nullptr || device_count == nullptr) return kTelInvalidArgument;
  Handles& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  *app = state.next++;
  state.apps.insert(*app);
  *device_count = LineCount();
  return kTelOk;
}

CELLCORE_EXPORT TelResult lineGetName(LineApp app, uint32_t device,
                                      char16_t* name, uint32_t capacity) {
  if (name == nullptr || capacity == 0) return kTelInvalidArgument;
  {
    Handles& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.apps.count(app) == 0) return kTelInvalidHandle;
  }
  if (device >= LineCount()) return kTelNoDevice;
  CopyText(kCellularLineName, name, capacity);
  return kTelOk;
}

CELLCORE_EXPORT TelResult lineOpen(LineApp app, uint32_t device, Line* line) {
  if (line == nullptr) return kTelInvalidArgument;
  if (device >= LineCount()) return kTelNoDevice;
  Handles& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.apps.count(app) == 0) return kTelInvalidHandle;
  *line = state.next++;
  state.lines[*line] = app;
  return kTelOk;
}

CELLCORE_EXPORT TelResult lineGetGeneralInfo(Line line, LineGeneralInfo* info) {
  if (info == nullptr) return kTelInvalidArgument;
  {
    Handles& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.lines.count(line) == 0) return kTelInvalidHandle;
  }
  *info = LineGeneralInfo{};
  CopyText(u"Telvane", info->manufacturer, kLineInfoTextChars);
  CopyText(u"Simulated Handset", info->model, kLineInfoTextChars);
  CopyText(u"1.0", info->revision, kLineInfoTextChars);
  CopyText(device::contacts::CellularLineSerialNumber(), info->serial_number,
           kLineInfoTextChars);
  return kTelOk;
}

CELLCORE_EXPORT TelResult lineClose(Line line) {
  Handles& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.lines.erase(line) == 1 ? kTelOk : kTelInvalidHandle;
}

CELLCORE_EXPORT TelResult lineShutdown(LineApp app) {
  Handles& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.apps.erase(app) == 0) return kTelInvalidHandle;
  std::erase_if(state.lines,
                [app](const auto& entry) { return entry.second == app; });
  return kTelOk;
}

CELLCORE_EXPORT TelResult SimInitialize(uint32_t, SimHandle* sim) {
  if (sim == nullptr) return kTelInvalidArgument;
  Handles& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  *sim = state.next++;
  state.sims.insert(*sim);
  return kTelOk;
}

namespace {
bool SimOpen(SimHandle sim) {
  Handles& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.sims.count(sim) == 1;
}
}  // namespace

CELLCORE_EXPORT TelResult SimGetDevCaps(SimHandle sim, uint32_t caps_type,
                                        SimCaps* caps) {
  if (caps == nullptr || caps_type != kSimCapsPhonebookIndexRange)
    return kTelInvalidArgument;
  if (!SimOpen(sim)) return kTelInvalidHandle;
  caps->min_phonebook_index = device::contacts::kSimMinIndex;
  caps->max_phonebook_index = device::contacts::kSimMaxIndex;
  return kTelOk;
}

CELLCORE_EXPORT TelResult SimReadPhonebookEntry(SimHandle sim, uint32_t storage,
                                                uint32_t index,
                                                SimPhonebookEntry* entry) {
  if (entry == nullptr || storage != kSimPhonebookStorageSim)
    return kTelInvalidArgument;
  if (!SimOpen(sim)) return kTelInvalidHandle;
  if (index < device::contacts::kSimMinIndex ||
      index > device::contacts::kSimMaxIndex)
    return kTelNotFound;
  Status status;
  std::optional<device::contacts::SimEntry> stored =
      device::contacts::ReadSimEntry(index, &status);
  if (!status.ok()) {
    DebugOutput("cellcore: " + status.ToString());
    return kTelUnavailable;
  }
  if (!stored) return kTelNotFound;
  *entry = SimPhonebookEntry{};
  CopyText(stored->address, entry->address, kSimMaxAddressChars);
  entry->address_type =
      !stored->address.empty() && stored->address[0] == u'+' ? 1 : 0;
  CopyText(stored->text, entry->text, kSimMaxTextChars);
  return kTelOk;
}

CELLCORE_EXPORT TelResult SimDeinitialize(SimHandle sim) {
  Handles& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.sims.erase(sim) == 1 ? kTelOk : kTelInvalidHandle;
}

namespace {
// The text of a NUL-terminated argument; nullopt when longer than `limit`.
std::optional<std::u16string> ArgumentText(const char16_t* text, size_t limit) {
  std::u16string out;
  if (text == nullptr) return out;
  for (; *text != u'\0'; ++text) {
    if (out.size() == limit) return std::nullopt;
    out.push_back(*text);
  }
  return out;
}
}  // namespace

CELLCORE_EXPORT TelResult tapiRequestMakeCallW(const char16_t* destination,
                                               const char16_t* app_name,
                                               const char16_t* called_party,
                                               const char16_t* comment) {
  (void)app_name;
  (void)comment;
  std::optional<std::u16string> number =
      ArgumentText(destination, device::contacts::kCallMaxChars);
  std::optional<std::u16string> name =
      ArgumentText(called_party, device::contacts::kCallMaxChars);
  if (!number || number->empty() || !name) return kTelInvalidArgument;
  Status status = device::contacts::RecordCall(*number, *name);
  if (!status.ok()) {
    DebugOutput("cellcore: " + status.ToString());
    return kTelUnavailable;
  }
  return kTelOk;
}
