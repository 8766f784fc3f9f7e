// For tests that read data kept beside them in the source tree.
#ifndef TELVANE_PLATFORM_TESTING_SOURCE_TREE_H_
#define TELVANE_PLATFORM_TESTING_SOURCE_TREE_H_

#include <filesystem>

#include "platform/testing/temp_device.h"

namespace platform::testing {

// The folder of the source file `file` (a test passes __FILE__). A build
// may record source paths relative to the build folder (a compiler cache
// does, to share objects between build folders); such a path is taken from
// the build folder, the parent of the test binaries' folder, so that it
// holds whatever folder the test runs in.
inline std::filesystem::path SourceFolderOf(const char* file) {
  std::filesystem::path path(file);
  if (path.is_relative()) path = BinDir().parent_path() / path;
  return path.parent_path();
}

}  // namespace platform::testing

#endif  // TELVANE_PLATFORM_TESTING_SOURCE_TREE_H_
