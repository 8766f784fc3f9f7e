// A device program for tests of program starting: it writes its arguments,
// one per line, and its TELVANE_DEVICE to the host file named by
// TELVANE_TEST_OUTPUT (or, when the first argument is "--wait-window",
// publishes a window and records the first message posted to it).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/modules.h"
#include "platform/unicode.h"
#include "platform/window_endpoints.h"

int main(int argc, char** argv) {
  const char* output = std::getenv("TELVANE_TEST_OUTPUT");
  if (output == nullptr) return 2;
  std::string text;
  if (argc >= 4 && std::strcmp(argv[1], "--wait-window") == 0) {
    auto endpoint = platform::WindowEndpoint::Publish(
        platform::FromUtf8(argv[2]), platform::FromUtf8(argv[3]));
    if (endpoint == nullptr) return 3;
    std::FILE* ready = std::fopen((std::string(output) + ".ready").c_str(), "w");
    if (ready != nullptr) std::fclose(ready);
    auto message = endpoint->WaitMessage(20000);
    if (!message) return 4;
    text = std::to_string(message->message) + " " +
           std::to_string(message->first) + " " +
           std::to_string(message->second) + "\n";
  } else {
    for (int i = 0; i < argc; ++i) text += std::string(argv[i]) + "\n";
    const char* device = std::getenv("TELVANE_DEVICE");
    text += std::string("device=") + (device ? device : "") + "\n";
    text += "program=" + platform::ToUtf8(platform::ProgramFileName()) + "\n";
  }
  std::string temporary = std::string(output) + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) return 5;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  return std::rename(temporary.c_str(), output) == 0 ? 0 : 6;
}
