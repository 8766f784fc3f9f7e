// telvane send: send an SMS through the current device's sms.dll with the
// program's own send service (recipients split at ";", reduced to their
// numbers, address types retried), and print each recipient's result. The
// archive is not touched.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/time.h"
#include "send/send_service.h"
#include "tools/telvane/cli.h"
#include "tools/telvane/commands.h"
#include "tools/telvane/iso_time.h"

namespace tools::telvane {
namespace {

// Collects what the send thread reports, for the main thread to wait on.
class Results : public send::SendReporter {
 public:
  struct Recipient {
    std::u16string number;
    bool sent = false;
  };

  void ReportSendResult(send::SendRequest&, send::SendResultKind) override {
    std::lock_guard<std::mutex> lock(mutex_);
    reported_ = true;
    changed_.notify_all();
  }
  void AddRecipient(std::u16string_view number, bool sent) {
    std::lock_guard<std::mutex> lock(mutex_);
    recipients_.push_back({std::u16string(number), sent});
  }
  void PassEnded(const send::PassSummary& summary) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (summary.open_failed) open_failed_ = true;
    changed_.notify_all();
  }

  // Waits up to `ms` for the request to be reported or dropped; true when
  // it was one or the other.
  bool WaitDone(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms),
                             [this] { return reported_ || open_failed_; });
  }
  bool open_failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_failed_ && !reported_;
  }
  std::vector<Recipient> recipients() {
    std::lock_guard<std::mutex> lock(mutex_);
    return recipients_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reported_ = false;
  bool open_failed_ = false;
  std::vector<Recipient> recipients_;
};

std::string LocalText(const platform::SystemTime& t) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  return buffer;
}

}  // namespace

const char* const kSendUsage =
    "\n"
    "telvane send [--flash] [--report] [--at TIME] RECIPIENTS TEXT\n"
    "  send TEXT through the current device's sms.dll ($TELVANE_DEVICE):\n"
    "  RECIPIENTS are entries joined by \";\", each a number or "
    "\"Name\"<number>;\n"
    "  --flash sends a flash message (class 0), --report asks for a status\n"
    "  report, --at waits until TIME (e.g. 2026-12-07T21:40, local time).\n"
    "  Prints each recipient's number and result; exits 1 unless all were "
    "sent.\n";

int SendCommand(const CommandArgs& args) {
  Arguments parsed = Parse(args, {"--at"}, {"--flash", "--report"});
  if (!parsed.error.empty()) return UsageError("send: " + parsed.error);
  if (parsed.positional.size() != 2) {
    return UsageError("send needs RECIPIENTS and TEXT");
  }
  std::optional<platform::SystemTime> due;
  if (const std::string* at = parsed.Option("--at")) {
    std::optional<platform::SystemTime> utc = ParseIsoTime(*at);
    if (!utc)
      return UsageError("send: --at needs a time like 2026-12-07T21:40");
    due = platform::SystemTimeToLocal(*utc);
    if (!due) return UsageError("send: --at is out of range");
  }
  if (!platform::DeviceExists()) {
    return Fail("no device at " + platform::DeviceRoot().string() +
                " (run: devicectl init)");
  }
  uint32_t flags = 0;
  if (parsed.Has("--flash")) flags |= send::kSendFlagFlash;
  if (parsed.Has("--report")) flags |= send::kSendFlagStatusReport;

  Results results;
  send::SendService service(&results);
  service.set_recipient_observer(
      [&results](const send::SendRequest&, std::u16string_view number,
                 bool sent) { results.AddRecipient(number, sent); });
  service.set_pass_observer([&results](const send::PassSummary& summary) {
    results.PassEnded(summary);
  });
  if (!service.Start()) {
    return Fail(
        "send: the device's sms.dll cannot be loaded (devicectl "
        "install BUILD_DIR)");
  }
  if (due) std::cerr << "waiting until " << LocalText(*due) << " (local)\n";
  service.Enqueue(U16(parsed.positional[0]), U16(parsed.positional[1]), flags,
                  due, std::nullopt);
  // Wake the thread every second, as the program's timer does every ten: a
  // timed request goes out once it is due, and a wake-up another program's
  // send thread took on this device is made up for.
  while (!results.WaitDone(1000)) service.Wake();
  service.Stop();

  if (results.open_failed()) {
    return Fail(
        "send: the radio refused to open (SmsOpen failed); nothing "
        "was sent");
  }
  bool all_sent = true;
  std::vector<Results::Recipient> recipients = results.recipients();
  for (const Results::Recipient& r : recipients) {
    std::cout << U8(r.number) << "  " << (r.sent ? "sent" : "failed") << "\n";
    all_sent = all_sent && r.sent;
  }
  if (recipients.empty()) {
    std::cout << "no recipient to send to\n";
    return kFailure;
  }
  return all_sent ? 0 : kFailure;
}

}  // namespace tools::telvane
