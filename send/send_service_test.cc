// The send service through its real thread and the real sms.dll of a
// scratch device; the clock is the test's.
#include "send/send_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "send/testing/radio_device.h"

namespace send {
namespace {

using send::testing::RadioDevice;
using send::testing::RadioLines;
using ::testing::ElementsAre;

constexpr auto kPatience = std::chrono::seconds(20);

// Records reports and passes; can hold the first report until released.
class Recorder : public SendReporter {
 public:
  void ReportSendResult(SendRequest& request, SendResultKind kind) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (abandoned_) return;
    ++reports_started_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !hold_ || abandoned_; });
    if (abandoned_) return;
    reports_.push_back(
        std::string(request.recipients.begin(), request.recipients.end()) +
        (kind == SendResultKind::kSent ? " sent" : " failed"));
    changed_.notify_all();
  }
  void AbandonReports() override {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
    changed_.notify_all();
  }
  void PassEnded(const PassSummary& summary) {
    std::lock_guard<std::mutex> lock(mutex_);
    passes_.push_back(summary);
    changed_.notify_all();
  }

  void Hold(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
    changed_.notify_all();
  }
  // Waits until `n` reports have started / `n` passes have ended.
  bool WaitReportsStarted(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience,
                             [&] { return reports_started_ >= n; });
  }
  bool WaitReports(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience,
                             [&] { return reports_.size() >= n; });
  }
  bool WaitPasses(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience,
                             [&] { return passes_.size() >= n; });
  }
  std::vector<std::string> reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  std::vector<PassSummary> passes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return passes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool hold_ = false;
  bool abandoned_ = false;
  size_t reports_started_ = 0;
  std::vector<std::string> reports_;
  std::vector<PassSummary> passes_;
};

platform::SystemTime At(uint16_t hour, uint16_t minute, uint16_t second,
                        uint16_t ms = 0) {
  platform::SystemTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 7;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.milliseconds = ms;
  return t;
}

// A started service whose passes the recorder counts and whose clock the
// test sets.
class SendServiceTest : public ::testing::Test {
 protected:
  void StartService() {
    service_.set_clock([this] {
      std::lock_guard<std::mutex> lock(clock_mutex_);
      return now_;
    });
    service_.set_pass_observer(
        [this](const PassSummary& s) { recorder_.PassEnded(s); });
    ASSERT_TRUE(service_.Start());
  }
  void SetNow(const platform::SystemTime& now) {
    std::lock_guard<std::mutex> lock(clock_mutex_);
    now_ = now;
  }
  void Enqueue(std::u16string_view recipients, std::u16string_view text,
               uint32_t flags = 0,
               std::optional<platform::SystemTime> due = std::nullopt) {
    service_.Enqueue(recipients, text, flags, due, std::nullopt);
  }
  // Wakes the thread and waits for the pass it makes.
  void WakeAndWaitPass() {
    size_t before = recorder_.passes().size();
    service_.Wake();
    ASSERT_TRUE(recorder_.WaitPasses(before + 1));
  }

  RadioDevice radio_;
  Recorder recorder_;
  std::mutex clock_mutex_;
  platform::SystemTime now_ = At(12, 0, 0);
  SendService service_{&recorder_};
};

TEST_F(SendServiceTest, RequestsGoOutInOrderAcrossABusyPass) {
  StartService();
  recorder_.Hold(true);
  Enqueue(u"100", u"first");
  ASSERT_TRUE(recorder_.WaitReportsStarted(1));
  // The thread waits in its report: these three gather in the queue.
  Enqueue(u"200", u"second");
  Enqueue(u"300", u"third");
  Enqueue(u"400", u"fourth");
  EXPECT_EQ(service_.queued(), 3u);
  recorder_.Hold(false);
  ASSERT_TRUE(recorder_.WaitReports(4));
  EXPECT_THAT(recorder_.reports(),
              ElementsAre("100 sent", "200 sent", "300 sent", "400 sent"));
  EXPECT_THAT(RadioLines(), ElementsAre("100 type=0 class=1 options=0 first",
                                        "200 type=0 class=1 options=0 second",
                                        "300 type=0 class=1 options=0 third",
                                        "400 type=0 class=1 options=0 fourth"));
  // The three waiting ones were taken together, in the next pass (its
  // summary comes after its last report).
  ASSERT_TRUE(recorder_.WaitPasses(2));
  EXPECT_EQ(recorder_.passes()[1].taken, 3u);
}

TEST_F(SendServiceTest, RecipientPiecesFlashAndStatusReport) {
  StartService();
  Enqueue(u"123;;456;", u"pieces");
  Enqueue(u"\"Bob\"<+1 (555) 010-2000>", u"named");
  Enqueue(u"789", u"flash", kSendFlagFlash);
  Enqueue(u"790", u"report", kSendFlagStatusReport);
  Enqueue(u";;", u"nobody");
  ASSERT_TRUE(recorder_.WaitReports(5));
  EXPECT_THAT(recorder_.reports(),
              ElementsAre("123;;456; sent", "\"Bob\"<+1 (555) 010-2000> sent",
                          "789 sent", "790 sent", ";; failed"));
  EXPECT_THAT(RadioLines(),
              ElementsAre("123 type=0 class=1 options=0 pieces",
                          "456 type=0 class=1 options=0 pieces",
                          "+15550102000 type=0 class=1 options=0 named",
                          "789 type=0 class=0 options=0 flash",
                          "790 type=0 class=1 options=2 report"));
  auto all = device::sms::ListSubmissions(true);
  ASSERT_TRUE(all.has_value());
  for (const device::sms::RadioSubmission& s : *all) {
    EXPECT_EQ(s.encoding, platform::SMSDE_OPTIMAL);
    EXPECT_EQ(s.replace_option, platform::PSRO_NONE);
    EXPECT_EQ(s.send_options, 0u);
  }
}

TEST_F(SendServiceTest, AddressTypesAreRetriedAndTheLastPieceDecides) {
  RadioDevice::Set(device::sms::kSettingRefuseTypes, "0,2");
  RadioDevice::Set(device::sms::kSettingRefuseMatch, "11*,99*");
  StartService();
  Enqueue(u"111", u"a");
  ASSERT_TRUE(recorder_.WaitReports(1));
  EXPECT_THAT(RadioLines(true),
              ElementsAre("111 type=0 class=1 options=0 refused a",
                          "111 type=2 class=1 options=0 refused a",
                          "111 type=1 class=1 options=0 a"));

  RadioDevice::Set(device::sms::kSettingRefuseTypes, "0,1,2,3,5");
  RadioDevice::Set(device::sms::kSettingRefuseMatch, "99*");
  ASSERT_TRUE(device::sms::ClearRadioLog().ok());
  Enqueue(u"999", u"b");
  ASSERT_TRUE(recorder_.WaitReports(2));
  std::vector<std::string> types;
  auto refused = device::sms::ListSubmissions(true);
  ASSERT_TRUE(refused.has_value());
  for (const device::sms::RadioSubmission& s : *refused) {
    EXPECT_FALSE(s.accepted());
    types.push_back(std::to_string(s.address_type));
  }
  EXPECT_THAT(types, ElementsAre("0", "2", "1", "3", "5"));

  // A refused first recipient does not fail the request; a refused last
  // one does, even after a success.
  Enqueue(u"999;555", u"c");
  Enqueue(u"555;999", u"d");
  ASSERT_TRUE(recorder_.WaitReports(4));
  EXPECT_THAT(
      recorder_.reports(),
      ElementsAre("111 sent", "999 failed", "999;555 sent", "555;999 failed"));
}

TEST_F(SendServiceTest, TimedRequestsWaitForTheirSecond) {
  StartService();
  Enqueue(u"1", u"past", 0, At(11, 0, 0));
  Enqueue(u"2", u"later", 0, At(12, 5, 0));
  ASSERT_TRUE(recorder_.WaitReports(1));
  EXPECT_THAT(recorder_.reports(), ElementsAre("1 sent"));
  EXPECT_EQ(service_.queued(), 1u);

  // Passes come and go; the request stays until its second has come.
  SetNow(At(12, 4, 59, 999));
  WakeAndWaitPass();
  EXPECT_EQ(recorder_.passes().back().left, 1u);
  EXPECT_EQ(recorder_.reports().size(), 1u);
  SetNow(At(12, 5, 0));
  service_.Wake();
  ASSERT_TRUE(recorder_.WaitReports(2));
  EXPECT_THAT(recorder_.reports(), ElementsAre("1 sent", "2 sent"));
  EXPECT_EQ(service_.queued(), 0u);

  // A due time that is no date at all goes out rather than wait for ever.
  platform::SystemTime bad = At(12, 0, 0);
  bad.month = 13;
  Enqueue(u"3", u"bad date", 0, bad);
  EXPECT_TRUE(recorder_.WaitReports(3));
}

TEST_F(SendServiceTest, RequestsOfAPassWhoseOpenFailsAreDroppedUnreported) {
  RadioDevice::Set(device::sms::kSettingOpenFails, "1");
  StartService();
  Enqueue(u"1", u"lost");
  Enqueue(u"2", u"lost too");
  ASSERT_TRUE(recorder_.WaitPasses(1));
  while (service_.queued() > 0) WakeAndWaitPass();
  for (const PassSummary& pass : recorder_.passes()) {
    EXPECT_TRUE(pass.open_failed || pass.taken == 0);
  }
  EXPECT_TRUE(recorder_.reports().empty());
  EXPECT_TRUE(RadioLines(true).empty());

  // Later requests are tried again once the radio opens.
  RadioDevice::Set(device::sms::kSettingOpenFails, "0");
  Enqueue(u"3", u"works");
  ASSERT_TRUE(recorder_.WaitReports(1));
  EXPECT_THAT(recorder_.reports(), ElementsAre("3 sent"));
}

TEST_F(SendServiceTest, StopEndsAPassWaitingInAReportBeforeReleasing) {
  StartService();
  recorder_.Hold(true);
  Enqueue(u"1", u"held");
  ASSERT_TRUE(recorder_.WaitReportsStarted(1));
  Enqueue(u"2", u"never", 0, At(23, 0, 0));
  // The thread waits in a report that nobody will handle: Stop abandons it,
  // waits for the thread and only then unloads sms.dll.
  service_.Stop();
  EXPECT_FALSE(service_.running());
  EXPECT_EQ(service_.queued(), 0u);
  EXPECT_TRUE(recorder_.reports().empty());
  EXPECT_THAT(RadioLines(), ElementsAre("1 type=0 class=1 options=0 held"));
  service_.Wake();  // harmless once stopped
  service_.Stop();  // and so is a second Stop
}

TEST(SendServiceStart, FailsWithoutTheLibraryButStillQueues) {
  RadioDevice radio(/*install_sms=*/false);
  Recorder recorder;
  SendService service(&recorder);
  EXPECT_FALSE(service.Start());
  EXPECT_FALSE(service.running());
  service.Enqueue(u"1", u"x", 0, std::nullopt, std::nullopt);
  service.Wake();
  EXPECT_EQ(service.queued(), 1u);
  service.Stop();
  EXPECT_EQ(service.queued(), 0u);
}

}  // namespace
}  // namespace send
