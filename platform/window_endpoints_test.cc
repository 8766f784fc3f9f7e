#include "platform/window_endpoints.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/testing/temp_device.h"

namespace platform {
namespace {

TEST(WindowEndpoints, FindAndPostAcrossProcesses) {
  testing::TempDevice device;
  EXPECT_FALSE(FindTopLevelWindow(u"Dialog", u"Telvane").has_value());

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The running instance: publish the main window, wait for a wake-up.
    close(ready[0]);
    auto endpoint = WindowEndpoint::Publish(u"Dialog", u"Telvane");
    char byte = endpoint != nullptr ? 'y' : 'n';
    if (write(ready[1], &byte, 1) != 1) _exit(10);
    if (endpoint == nullptr) _exit(11);
    auto message = endpoint->WaitMessage(20000);
    if (!message) _exit(12);
    bool right = message->message == 1274 && message->first == 0 &&
                 message->second == 515;
    _exit(right ? 0 : 13);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  ASSERT_EQ(byte, 'y');

  // Another class or title is another window.
  EXPECT_FALSE(FindTopLevelWindow(u"Dialog", u"telvane").has_value());
  EXPECT_FALSE(FindTopLevelWindow(u"DialogT", u"elvane").has_value());
  std::optional<WindowRef> window = FindTopLevelWindow(u"Dialog", u"Telvane");
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(window->pid, child);
  EXPECT_TRUE(PostWindowMessage(*window, 1274, 0, 515).ok());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  // The child is gone without unpublishing: its endpoint is stale and is
  // cleared when looked up.
  EXPECT_FALSE(FindTopLevelWindow(u"Dialog", u"Telvane").has_value());
  EXPECT_EQ(PostWindowMessage(*window, 1274, 0, 515).code(), ErrorCode::kNotFound);
}

TEST(WindowEndpoints, MessagesQueueInOrderAndPublishingEnds) {
  testing::TempDevice device;
  auto endpoint = WindowEndpoint::Publish(u"Dialog", u"Telvane");
  ASSERT_NE(endpoint, nullptr);
  EXPECT_FALSE(endpoint->Receive().has_value());
  std::optional<WindowRef> self = FindTopLevelWindow(u"Dialog", u"Telvane");
  ASSERT_TRUE(self.has_value());
  ASSERT_TRUE(PostWindowMessage(*self, 1, 0xFFFFFFFFFFFFFFFFull, -2).ok());
  ASSERT_TRUE(PostWindowMessage(*self, 2, 7, 8).ok());
  std::optional<PostedMessage> first = endpoint->Receive();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->message, 1u);
  EXPECT_EQ(first->first, 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(first->second, -2);
  EXPECT_EQ(endpoint->WaitMessage(1000)->message, 2u);
  EXPECT_FALSE(endpoint->WaitMessage(10).has_value());
  endpoint.reset();
  EXPECT_FALSE(FindTopLevelWindow(u"Dialog", u"Telvane").has_value());
}

TEST(WindowEndpoints, WorkWithADeepDeviceRoot) {
  // A device root so deep that the socket path exceeds the 108 bytes a
  // socket address can hold.
  testing::TempDevice scratch;
  std::filesystem::path deep = scratch.root().parent_path();
  for (int i = 0; i < 8; ++i) deep /= "a-rather-long-folder-name";
  std::string previous = getenv("TELVANE_DEVICE");
  setenv("TELVANE_DEVICE", deep.c_str(), 1);
  std::filesystem::create_directories(deep / "run");
  {
    auto endpoint = WindowEndpoint::Publish(u"Dialog", u"Telvane");
    ASSERT_NE(endpoint, nullptr);
    std::optional<WindowRef> self = FindTopLevelWindow(u"Dialog", u"Telvane");
    ASSERT_TRUE(self.has_value());
    EXPECT_TRUE(PostWindowMessage(*self, 9, 1, 2).ok());
    EXPECT_EQ(endpoint->WaitMessage(1000)->message, 9u);
  }
  setenv("TELVANE_DEVICE", previous.c_str(), 1);
}

}  // namespace
}  // namespace platform
