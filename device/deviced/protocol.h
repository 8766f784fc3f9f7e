// The control protocol between devicectl (or a test) and deviced, and the
// files deviced keeps in the device's run/ folder. The wire format is in
// docs/formats/deviced-protocol.md.
//
// One request per connection: the client connects to run/deviced.sock,
// writes one line, reads one reply line and closes. Fields are separated by
// a tab; a field's backslash, tab, CR and LF are escaped (\\ \t \r \n), so a
// line never holds a raw line break whatever the SMS text is. Text is UTF-8.
//
// Every function here is safe from any thread; none keeps state.
#ifndef TELVANE_DEVICE_DEVICED_PROTOCOL_H_
#define TELVANE_DEVICE_DEVICED_PROTOCOL_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace device::deviced {

std::filesystem::path SocketPath();  // <run>/deviced.sock
std::filesystem::path PidPath();     // <run>/deviced.pid
std::filesystem::path LockPath();    // <run>/deviced.lock (held while alive)

// Escapes one field (see above).
std::string EscapeField(std::string_view text);
// Undoes EscapeField; nullopt for a lone trailing backslash or an unknown
// escape.
std::optional<std::string> UnescapeField(std::string_view field);
// Joins escaped fields with tabs (no line end).
std::string JoinFields(const std::vector<std::string>& fields);
// Splits a line (without its line end) at tabs and unescapes each field;
// nullopt when a field is malformed.
std::optional<std::vector<std::string>> SplitFields(std::string_view line);

// Sends one request line to the running deviced and returns its reply line
// (without the line end). kUnavailable when no deviced answers on the
// socket, kTimeout when the reply does not come within `timeout_ms`.
std::optional<std::string> Exchange(const std::vector<std::string>& request,
                                    int timeout_ms,
                                    platform::Status* status = nullptr);

}  // namespace device::deviced

#endif  // TELVANE_DEVICE_DEVICED_PROTOCOL_H_
