// devicectl sent: the radio log of sms.dll.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "device/devicectl/devicectl.h"
#include "device/sms/radio_log.h"

namespace device::devicectl {
namespace {

using cli::Fail;
using cli::kFailure;
using cli::U8;

int Sent(bool all, bool clear) {
  if (!RequireDevice()) return kFailure;
  if (clear) {
    platform::Status status = device::sms::ClearRadioLog();
    if (!status.ok()) return Fail("sent: " + status.ToString());
    std::cout << "radio log emptied\n";
    return 0;
  }
  platform::Status status;
  auto submissions = device::sms::ListSubmissions(all, &status);
  if (!submissions) return Fail("sent: " + status.ToString());
  std::cout << "Radio log: " << submissions->size() << " submission(s)\n";
  for (const device::sms::RadioSubmission& s : *submissions) {
    char fields[160];
    std::snprintf(fields, sizeof fields,
                  "type=%u class=%u options=%u replace=%u encoding=%u",
                  s.address_type, s.message_class, s.message_options,
                  s.replace_option, s.encoding);
    std::cout << s.id << "  " << FormatUtcTime(s.time) << "  " << U8(s.address)
              << "  " << fields;
    if (!s.accepted()) {
      char result[32];
      std::snprintf(result, sizeof result, "  refused 0x%08x",
                    static_cast<uint32_t>(s.result));
      std::cout << result;
    }
    std::cout << "  " << OneLine(s.text()) << "\n";
  }
  return 0;
}

}  // namespace

void AddRadioCommands(cli::Tool& tool) {
  struct Flags {
    bool all = false;
    bool clear = false;
  };
  auto flags = std::make_shared<Flags>();
  CLI::App* sent = tool.AddCommand(
      tool.root(), "sent",
      "the radio log: each SMS submitted through sms.dll, oldest first: id, "
      "time (UTC), address, address type, class, options, encoding, text",
      [flags] { return Sent(flags->all, flags->clear); });
  CLI::Option* all = sent->add_flag(
      "--all", flags->all,
      "add the submissions the radio refused, with their result");
  sent->add_flag("--clear", flags->clear, "empty the radio log")->excludes(all);
  sent->footer(
      "Radio failure switches (devicectl config set KEY VALUE):\n"
      "  sms_open_fails 1            SmsOpen fails\n"
      "  sms_refuse_types 0,2        refuse these address types...\n"
      "  sms_refuse_match '+86*'     ...for addresses matching (default *)");
}

}  // namespace device::devicectl
