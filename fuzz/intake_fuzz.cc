// Fuzz target for the intake's reading of the shared SMS buffer: each input,
// padded with zeros or cut to the buffer's 8316 bytes, is drained as the
// intake thread drains "ZUD_SmsBuffer". The handler checks that every text
// it is given stays inside its field and is terminated; the first byte of
// the input beyond the buffer (when there is one) decides after how many
// entries the handler answers 0. Afterwards the queue header must be in
// range. Any broken invariant aborts with a message.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "intercept/intake.h"
#include "ruleclient/sms_buffer_layout.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "intake_fuzz: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ruleclient::sms_buffer::IsValidSlot;
  using ruleclient::sms_buffer::kBodyHeadUnits;
  using ruleclient::sms_buffer::kBufferSize;
  using ruleclient::sms_buffer::kCountOffset;
  using ruleclient::sms_buffer::kOverflowAreaUnits;
  using ruleclient::sms_buffer::kReadIndexOffset;
  using ruleclient::sms_buffer::kSenderFieldUnits;
  using ruleclient::sms_buffer::kSlotCount;
  using ruleclient::sms_buffer::LoadI32;
  std::vector<uint8_t> buffer(kBufferSize);
  std::memcpy(buffer.data(), data, size < kBufferSize ? size : kBufferSize);
  int accept = size > kBufferSize ? data[kBufferSize] % 8 : 8;

  int calls = 0;
  intercept::IntakeHandler handler =
      [&](const intercept::IncomingSms& sms) -> uint32_t {
    ++calls;
    Check(sms.body.size() <= kBodyHeadUnits + kOverflowAreaUnits,
          "body longer than head and area");
    Check(sms.sender.size() <= kSenderFieldUnits, "sender longer than field");
    Check(sms.body.data()[sms.body.size()] == 0, "body not terminated");
    Check(sms.sender.data()[sms.sender.size()] == 0, "sender not terminated");
    for (char16_t c : sms.body) Check(c != 0, "NUL inside the body");
    for (char16_t c : sms.sender) Check(c != 0, "NUL inside the sender");
    return calls > accept ? 0 : 1;
  };
  int32_t count_before = LoadI32(buffer.data(), kCountOffset);
  intercept::DrainResult result = intercept::DrainQueue(buffer, handler);
  int32_t count = LoadI32(buffer.data(), kCountOffset);
  int32_t read = LoadI32(buffer.data(), kReadIndexOffset);
  Check(count >= 0 && count <= kSlotCount, "count out of range after drain");
  Check(IsValidSlot(read), "read index out of range after drain");
  Check(calls <= kSlotCount, "more than five entries in one drain");
  Check(result.delivered <= calls, "delivered more than handed over");
  if (!result.header_reset) {
    Check(count == count_before - result.delivered, "count not lowered");
  }
  // A second drain of a reset or drained queue is harmless as well.
  intercept::DrainQueue(buffer, handler);
  return 0;
}
