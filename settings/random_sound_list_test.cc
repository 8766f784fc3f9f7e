#include "settings/random_sound_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "platform/testing/temp_device.h"

namespace settings {
namespace {

using ::testing::ElementsAre;

class RandomSoundListTest : public ::testing::Test {
 protected:
  void Touch(const std::string& device_path) {
    std::filesystem::path path = device_.HostPath(device_path);
    std::filesystem::create_directories(path.parent_path());
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fclose(file);
  }

  platform::testing::TempDevice device_;
};

TEST_F(RandomSoundListTest, ListsFilesWhoseExtensionOccursInTheList) {
  for (const char* name : {"a.MP3", "b.wav", "c.txt", "d", ".wav", "e.mp",
                           "f.av", "g.3", "h.wma", "i.Mp2"}) {
    Touch(std::string("\\Sounds\\") + name);
  }
  std::filesystem::create_directories(device_.HostPath("\\Sounds\\j.wav"));

  RandomSoundList list;
  EXPECT_EQ(list.Scan(u"\\Sounds\\"), 6u);
  EXPECT_THAT(list.names(), ElementsAre(u"a.MP3", u"b.wav", u"e.mp", u"f.av",
                                        u"g.3", u"i.Mp2"));
}

TEST_F(RandomSoundListTest, PickJoinsTheFolderAndOneName) {
  Touch("\\Sounds\\one.wav");
  Touch("\\Sounds\\two.mp3");
  RandomSoundList list;
  ASSERT_EQ(list.Scan(u"\\Sounds"), 2u);  // the separator is added
  EXPECT_EQ(list.folder(), u"\\Sounds\\");
  EXPECT_EQ(list.PickAt(0), u"\\Sounds\\one.wav");
  EXPECT_EQ(list.PickAt(1), u"\\Sounds\\two.mp3");
  EXPECT_EQ(list.PickAt(0xFFFFFFFFu), u"\\Sounds\\two.mp3");
  std::optional<std::u16string> picked = list.Pick();
  ASSERT_TRUE(picked.has_value());
  EXPECT_TRUE(*picked == u"\\Sounds\\one.wav" ||
              *picked == u"\\Sounds\\two.mp3");

  // A rescan forgets what was listed before.
  EXPECT_EQ(list.Scan(u"\\Missing\\"), 0u);
  EXPECT_TRUE(list.names().empty());
  EXPECT_FALSE(list.Pick().has_value());
  EXPECT_EQ(list.Scan(u""), 0u);
  EXPECT_FALSE(list.PickAt(3).has_value());
}

TEST_F(RandomSoundListTest, OneFileIsAlwaysPicked) {
  Touch("\\Sounds\\only.mp2");
  Touch("\\Sounds\\notes.doc");
  RandomSoundList list;
  ASSERT_EQ(list.Scan(u"\\sounds\\"), 1u);  // the device ignores case
  std::set<std::u16string> picks;
  for (uint32_t tick = 0; tick < 10; ++tick) picks.insert(*list.PickAt(tick));
  EXPECT_THAT(picks, ElementsAre(u"\\sounds\\only.mp2"));
}

}  // namespace
}  // namespace settings
