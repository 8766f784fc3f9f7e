// Voice call requests through cellcore.dll, loaded the way programs load
// it, land in the device's call log.
#include "device/contacts/call_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/modules.h"
#include "platform/telephony.h"
#include "platform/testing/temp_device.h"

namespace device::contacts {
namespace {

namespace fs = std::filesystem;
using platform::testing::BinDir;
using platform::testing::TempDevice;

TEST(CallLogTest, CellcoreRecordsCallsAndRefusesBadRequests) {
  TempDevice device;
  fs::path target = device.HostPath("\\Windows\\cellcore.dll");
  fs::create_directories(target.parent_path());
  fs::copy_file(BinDir().parent_path() / "lib" / "libcellcore.so", target,
                fs::copy_options::overwrite_existing);
  auto cellcore = platform::Library::Load(platform::kCellcoreLibraryName);
  ASSERT_NE(cellcore, nullptr);
  auto call = reinterpret_cast<platform::TapiRequestMakeCallFunction>(
      cellcore->Symbol(platform::kTapiRequestMakeCallName));
  ASSERT_NE(call, nullptr);

  EXPECT_EQ(call(u"+8613800138000", nullptr, nullptr, nullptr),
            platform::kTelOk);
  EXPECT_EQ(call(u"10086", u"App", u"Zhang San", u"note"), platform::kTelOk);
  EXPECT_EQ(call(nullptr, nullptr, nullptr, nullptr),
            platform::kTelInvalidArgument);
  EXPECT_EQ(call(u"", nullptr, nullptr, nullptr),
            platform::kTelInvalidArgument);
  std::u16string too_long(kCallMaxChars + 1, u'1');
  EXPECT_EQ(call(too_long.c_str(), nullptr, nullptr, nullptr),
            platform::kTelInvalidArgument);
  std::u16string longest(kCallMaxChars, u'2');
  EXPECT_EQ(call(longest.c_str(), nullptr, nullptr, nullptr), platform::kTelOk);

  platform::Status status;
  std::vector<CallRecord> calls = ListCalls(&status);
  ASSERT_TRUE(status.ok()) << status.ToString();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].number, u"+8613800138000");
  EXPECT_EQ(calls[0].name, u"");
  EXPECT_EQ(calls[1].number, u"10086");
  EXPECT_EQ(calls[1].name, u"Zhang San");
  EXPECT_EQ(calls[2].number, longest);
  EXPECT_LT(calls[0].id, calls[1].id);
  EXPECT_NE(calls[0].time.value(), 0u);
  EXPECT_LE(calls[0].time.value(), calls[1].time.value());

  EXPECT_TRUE(ClearCalls().ok());
  EXPECT_TRUE(ListCalls().empty());
  EXPECT_EQ(RecordCall(u"", u"x").code(),
            platform::ErrorCode::kInvalidArgument);
}

}  // namespace
}  // namespace device::contacts
