// Debug output: the platform's OutputDebugString. Each call appends one line
// to the device's debug.log, prefixed with the time, the process id and the
// program's name; with TELVANE_DEBUG=1 the line goes to stderr as well.
//
// The text is written as given except that one trailing "\r\n" (or "\n") is
// dropped: the log's own line end replaces it. Inner line breaks are written
// as the two characters \n, so each call is exactly one line. Lines from several processes never interleave (one append write
// per line). Never fails visibly: a log that cannot be written is skipped.
#ifndef TELVANE_PLATFORM_DEBUG_H_
#define TELVANE_PLATFORM_DEBUG_H_

#include <string_view>

namespace platform {

void DebugOutput(std::u16string_view text);
void DebugOutput(std::string_view utf8_text);
// printf-style, UTF-8: DebugPrintf("Factory Reference is now %d\r\n", n).
void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform

#endif  // TELVANE_PLATFORM_DEBUG_H_
