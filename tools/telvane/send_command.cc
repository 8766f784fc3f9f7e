// telvane send: send an SMS through the current device's sms.dll with the
// program's own send service (recipients split at ";", reduced to their
// numbers, address types retried), and print each recipient's result. The
// archive is not touched.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/times.h"
#include "platform/device.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/time.h"
#include "send/send_service.h"
#include "tools/telvane/commands.h"

namespace tools::telvane {
namespace {

using cli::Fail;
using cli::kFailure;
using cli::U16;
using cli::U8;
using cli::UsageError;

// Collects what the send thread reports, for the main thread to wait on.
class Results : public send::SendReporter {
 public:
  struct Recipient {
    std::u16string number;
    bool sent = false;
  };

  void ReportSendResult(send::SendRequest&, send::SendResultKind) override {
    platform::MutexLock lock(&mutex_);
    reported_ = true;
    changed_.NotifyAll();
  }
  void AddRecipient(std::u16string_view number, bool sent) {
    platform::MutexLock lock(&mutex_);
    recipients_.push_back({std::u16string(number), sent});
  }
  void PassEnded(const send::PassSummary& summary) {
    platform::MutexLock lock(&mutex_);
    if (summary.open_failed) open_failed_ = true;
    changed_.NotifyAll();
  }

  // Waits up to `ms` for the request to be reported or dropped; true when
  // it was one or the other.
  bool WaitDone(int ms) {
    platform::MutexLock lock(&mutex_);
    const platform::CondVar::Clock::time_point deadline =
        platform::CondVar::Clock::now() + std::chrono::milliseconds(ms);
    while (!reported_ && !open_failed_) {
      if (!changed_.WaitUntil(&mutex_, deadline)) break;
    }
    return reported_ || open_failed_;
  }
  bool open_failed() {
    platform::MutexLock lock(&mutex_);
    return open_failed_ && !reported_;
  }
  std::vector<Recipient> recipients() {
    platform::MutexLock lock(&mutex_);
    return recipients_;
  }

 private:
  platform::Mutex mutex_;
  platform::CondVar changed_;
  bool reported_ GUARDED_BY(mutex_) = false;
  bool open_failed_ GUARDED_BY(mutex_) = false;
  std::vector<Recipient> recipients_ GUARDED_BY(mutex_);
};

std::string LocalText(const platform::SystemTime& t) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  return buffer;
}

// What `send` is given.
struct SendArgs {
  bool flash = false;
  bool report = false;
  std::optional<platform::SystemTime> at;  // UTC
  std::string recipients;
  std::string text;
};

int Send(const SendArgs& args) {
  std::optional<platform::SystemTime> due;
  if (args.at) {
    due = platform::SystemTimeToLocal(*args.at);
    if (!due) return UsageError("send: --at is out of range");
  }
  if (!platform::DeviceExists()) {
    return Fail("no device at " + platform::DeviceRoot().string() +
                " (run: devicectl init)");
  }
  uint32_t flags = 0;
  if (args.flash) flags |= send::kSendFlagFlash;
  if (args.report) flags |= send::kSendFlagStatusReport;

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
  service.Enqueue(U16(args.recipients), U16(args.text), flags, due,
                  std::nullopt);
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

}  // namespace

void AddSendCommand(cli::Tool& tool) {
  auto args = std::make_shared<SendArgs>();
  CLI::App* send_command = tool.AddCommand(
      tool.root(), "send",
      "send TEXT through the current device's sms.dll ($TELVANE_DEVICE); "
      "prints each recipient's number and result, and exits 1 unless all "
      "were sent",
      [args] { return Send(*args); });
  send_command->add_flag("--flash", args->flash,
                         "send a flash message (class 0)");
  send_command->add_flag("--report", args->report, "ask for a status report");
  cli::AddTimeOption(send_command, "--at", &args->at, cli::Zone::kLocal,
                     "wait until then");
  send_command
      ->add_option("RECIPIENTS", args->recipients,
                   "entries joined by \";\", each a number or "
                   "\"Name\"<number>")
      ->required();
  send_command->add_option("TEXT", args->text, "the message")->required();
}

}  // namespace tools::telvane
