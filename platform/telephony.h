// The phone's telephony line information and SIM manager, as the device's
// "cellcore.dll" offers them: find a line by name, open it and read its
// general information (manufacturer, model, revision, serial number,
// subscriber number); and the SIM card's phonebook (capabilities with the
// phonebook's index range, read one entry).
//
// A program loads "cellcore.dll" with Library::Load and finds the entry
// points below by their names (k...Name). Every call returns 0 on success
// and a negative code on failure. The lines exist only when the device
// setting "cellular_line" is 1: then line 0 is named "Cellular Line" and
// its serial number is the phone's own (never empty). The SIM phonebook is
// the sim_phonebook table of device.db (docs/formats/contacts.md); its
// index range is 1 to 250; an index that holds no entry cannot be read.
//
// Handles are process-local, may be used from any thread (calls on one
// handle are serialised) and are released by their close, shutdown or
// deinitialise call; a handle used after that fails with kTelInvalidHandle.
#ifndef TELVANE_PLATFORM_TELEPHONY_H_
#define TELVANE_PLATFORM_TELEPHONY_H_

#include <cstdint>

namespace platform {

using TelResult = int32_t;
inline constexpr TelResult kTelOk = 0;
inline constexpr TelResult kTelInvalidHandle = -1;
inline constexpr TelResult kTelInvalidArgument = -2;
inline constexpr TelResult kTelNoDevice = -3;     // no such line
inline constexpr TelResult kTelNotFound = -4;     // no SIM entry there
inline constexpr TelResult kTelUnavailable = -5;  // device.db cannot be read

inline constexpr char16_t kCellcoreLibraryName[] = u"cellcore.dll";
inline constexpr char16_t kCellularLineName[] = u"Cellular Line";

// ---------------------------------------------------------------- lines

using LineApp = uint32_t;
using Line = uint32_t;

// Text fields hold at most 63 characters, NUL-terminated.
inline constexpr int kLineInfoTextChars = 64;
struct LineGeneralInfo {
  char16_t manufacturer[kLineInfoTextChars];
  char16_t model[kLineInfoTextChars];
  char16_t revision[kLineInfoTextChars];
  char16_t serial_number[kLineInfoTextChars];
  char16_t subscriber_number[kLineInfoTextChars];
};

// Starts using the telephony service; *device_count lines exist.
using LineInitializeFunction = TelResult (*)(LineApp* app,
                                             uint32_t* device_count);
// The name of line `device` (0 to device_count - 1), cut to capacity - 1.
using LineGetNameFunction = TelResult (*)(LineApp app, uint32_t device,
                                          char16_t* name, uint32_t capacity);
using LineOpenFunction = TelResult (*)(LineApp app, uint32_t device,
                                       Line* line);
using LineGetGeneralInfoFunction = TelResult (*)(Line line,
                                                 LineGeneralInfo* info);
using LineCloseFunction = TelResult (*)(Line line);
// Closes the lines still open and ends the use of the service.
using LineShutdownFunction = TelResult (*)(LineApp app);

inline constexpr char kLineInitializeName[] = "lineInitialize";
inline constexpr char kLineGetNameName[] = "lineGetName";
inline constexpr char kLineOpenName[] = "lineOpen";
inline constexpr char kLineGetGeneralInfoName[] = "lineGetGeneralInfo";
inline constexpr char kLineCloseName[] = "lineClose";
inline constexpr char kLineShutdownName[] = "lineShutdown";

// ---------------------------------------------------------------- SIM

using SimHandle = uint32_t;

inline constexpr uint32_t kSimCapsPhonebookIndexRange = 1;
struct SimCaps {
  uint32_t min_phonebook_index;
  uint32_t max_phonebook_index;
};

inline constexpr uint32_t kSimPhonebookStorageSim = 1;
inline constexpr int kSimMaxAddressChars = 256;  // terminator included
inline constexpr int kSimMaxTextChars = 256;     // terminator included
struct SimPhonebookEntry {
  char16_t address[kSimMaxAddressChars];
  uint32_t address_type;  // 0 unknown, 1 international
  char16_t text[kSimMaxTextChars];
};

using SimInitializeFunction = TelResult (*)(uint32_t flags, SimHandle* sim);
// kSimCapsPhonebookIndexRange fills the index range.
using SimGetDevCapsFunction = TelResult (*)(SimHandle sim, uint32_t caps_type,
                                            SimCaps* caps);
// kTelNotFound for an index that holds no entry (or lies outside the range).
using SimReadPhonebookEntryFunction = TelResult (*)(SimHandle sim,
                                                    uint32_t storage,
                                                    uint32_t index,
                                                    SimPhonebookEntry* entry);
using SimDeinitializeFunction = TelResult (*)(SimHandle sim);

inline constexpr char kSimInitializeName[] = "SimInitialize";
inline constexpr char kSimGetDevCapsName[] = "SimGetDevCaps";
inline constexpr char kSimReadPhonebookEntryName[] = "SimReadPhonebookEntry";
inline constexpr char kSimDeinitializeName[] = "SimDeinitialize";

// ---------------------------------------------------------------- calls

// Asks the phone to place a voice call to `destination` (a dial string).
// `app_name`, `called_party` and `comment` may be null; a called party's
// name is kept with the call in the device's call log. kTelInvalidArgument
// for a null or empty destination or a text longer than 255 characters;
// kTelUnavailable when device.db cannot be written.
using TapiRequestMakeCallFunction = TelResult (*)(const char16_t* destination,
                                                  const char16_t* app_name,
                                                  const char16_t* called_party,
                                                  const char16_t* comment);
inline constexpr char kTapiRequestMakeCallName[] = "tapiRequestMakeCallW";

}  // namespace platform

#endif  // TELVANE_PLATFORM_TELEPHONY_H_
