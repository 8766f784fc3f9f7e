// Contact photos on a scratch device: choosing one replaces whatever photo
// the contact had, refusals change nothing, and deleting takes the photo
// that is shown.
#include "contacts/photos.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "contacts/picker_list.h"
#include "platform/files.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/temp_device.h"
#include "platform/unicode.h"

namespace contacts {
namespace {

using platform::ErrorCode;
using platform::testing::HostFileNames;
using platform::testing::ReadHostFile;
using platform::testing::WriteHostFile;

constexpr std::u16string_view kFolder = u"\\photo\\";

class PhotosTest : public ::testing::Test {
 protected:
  std::filesystem::path Photos() const { return device_.HostPath("\\photo"); }
  std::filesystem::path Pictures() const {
    return device_.HostPath("\\My Documents");
  }
  std::string PhotoBytes(const std::string& file) const {
    return ReadHostFile(Photos() / file);
  }

  platform::testing::TempDevice device_;
};

TEST_F(PhotosTest, ChosenPictureReplacesPhotosOfEveryExtension) {
  WriteHostFile(Photos() / "Ann.bmp", "old bmp");
  WriteHostFile(Photos() / "Ann.gif", "old gif");
  WriteHostFile(Photos() / "Bob.bmp", "bob");
  WriteHostFile(Pictures() / "beach.jpg", "new jpg");

  std::u16string stored;
  ASSERT_TRUE(
      SetPhoto(kFolder, u"Ann", u"\\My Documents\\beach.jpg", &stored).ok());
  EXPECT_EQ(stored, u"\\photo\\Ann.jpg");
  // The picture just chosen is the one shown; the older ones are gone, and
  // neither the chosen file nor another contact's photo is touched.
  EXPECT_EQ(FindPhoto(kFolder, u"Ann"), u"\\photo\\Ann.jpg");
  EXPECT_EQ(PhotoBytes("Ann.jpg"), "new jpg");
  EXPECT_EQ(HostFileNames(Photos()),
            (std::vector<std::string>{"Ann.jpg", "Bob.bmp"}));
  EXPECT_EQ(ReadHostFile(Pictures() / "beach.jpg"), "new jpg");

  // A photo of the same extension is overwritten; the extension is kept as
  // the chosen file spells it, and the device's names ignore case.
  WriteHostFile(Pictures() / "SUNSET.JPG", "sunset");
  ASSERT_TRUE(
      SetPhoto(kFolder, u"ann", u"\\My Documents\\SUNSET.JPG", &stored).ok());
  EXPECT_EQ(stored, u"\\photo\\ann.JPG");
  EXPECT_EQ(HostFileNames(Photos()),
            (std::vector<std::string>{"Ann.jpg", "Bob.bmp"}));
  EXPECT_EQ(PhotoBytes("Ann.jpg"), "sunset");

  // A GIF chosen later takes over from the JPEG.
  WriteHostFile(Pictures() / "cat.gif", "cat");
  ASSERT_TRUE(
      SetPhoto(kFolder, u"Ann", u"\\My Documents\\cat.gif", nullptr).ok());
  EXPECT_EQ(FindPhoto(kFolder, u"Ann"), u"\\photo\\Ann.gif");
  EXPECT_EQ(HostFileNames(Photos()),
            (std::vector<std::string>{"Ann.gif", "Bob.bmp"}));
}

TEST_F(PhotosTest, ChoosingTheContactsOwnPhotoKeepsIt) {
  WriteHostFile(Photos() / "Ann.bmp", "old bmp");
  WriteHostFile(Photos() / "Ann.jpg", "own jpg");
  std::u16string stored;
  ASSERT_TRUE(SetPhoto(kFolder, u"Ann", u"\\photo\\Ann.jpg", &stored).ok());
  EXPECT_EQ(stored, u"\\photo\\Ann.jpg");
  EXPECT_EQ(HostFileNames(Photos()), (std::vector<std::string>{"Ann.jpg"}));
  EXPECT_EQ(PhotoBytes("Ann.jpg"), "own jpg");
}

TEST_F(PhotosTest, RefusalsTouchNothing) {
  WriteHostFile(Photos() / "Ann.bmp", "old bmp");
  WriteHostFile(Pictures() / "beach.jpg", "new jpg");
  WriteHostFile(Pictures() / "beach.png", "png");
  WriteHostFile(Pictures() / "beach", "no extension");
  const std::vector<std::string> before = HostFileNames(Photos());

  for (std::u16string name : {u"", u".", u"..", u"a\\b", u"a/b", u"a:b", u"a*",
                              u"a?", u"a\"b", u"<a", u"a>", u"a|b", u"a\tb"}) {
    SCOPED_TRACE(platform::ToUtf8(name));
    EXPECT_FALSE(IsPhotoName(name));
    std::u16string stored = u"untouched";
    EXPECT_EQ(
        SetPhoto(kFolder, name, u"\\My Documents\\beach.jpg", &stored).code(),
        ErrorCode::kInvalidArgument);
    EXPECT_EQ(stored, u"untouched");
    EXPECT_EQ(DeletePhoto(kFolder, name).code(), ErrorCode::kInvalidArgument);
  }
  EXPECT_TRUE(IsPhotoName(u"Ann Lee (work)"));
  EXPECT_TRUE(IsPhotoName(u"\u5f20\u4e09"));

  for (std::u16string source :
       {u"\\My Documents\\beach.png", u"\\My Documents\\beach",
        u"\\My Documents\\beach.jpgx", u"\\My Documents.jpg\\beach"}) {
    SCOPED_TRACE(platform::ToUtf8(source));
    std::u16string stored = u"untouched";
    EXPECT_EQ(SetPhoto(kFolder, u"Ann", source, &stored).code(),
              ErrorCode::kInvalidArgument);
    EXPECT_EQ(stored, u"untouched");
  }

  // A chosen file that is gone leaves the old photo.
  EXPECT_EQ(
      SetPhoto(kFolder, u"Ann", u"\\My Documents\\gone.jpg", nullptr).code(),
      ErrorCode::kNotFound);

  EXPECT_EQ(HostFileNames(Photos()), before);
  EXPECT_EQ(PhotoBytes("Ann.bmp"), "old bmp");
}

TEST_F(PhotosTest, FailedCopyLeavesTheOldPhotos) {
  WriteHostFile(Photos() / "Ann.bmp", "old bmp");
  WriteHostFile(Photos() / "Ann.jpg", "old jpg");
  WriteHostFile(Pictures() / "new.jpg", "new jpg");
  size_t calls = 0;
  {
    platform::testing::FileFaults counting;
    ASSERT_TRUE(
        SetPhoto(kFolder, u"Ann", u"\\My Documents\\new.jpg", nullptr).ok());
    calls = counting.calls();
  }
  ASSERT_GT(calls, 0u);
  // Every call that puts the copy in place, failed in turn: the contact
  // keeps the photos it had, whole.
  for (size_t n = 1; n <= calls; ++n) {
    SCOPED_TRACE(n);
    WriteHostFile(Photos() / "Ann.jpg", "old jpg");
    WriteHostFile(Photos() / "Ann.bmp", "old bmp");
    platform::testing::FileFaults faults;
    faults.FailCall(n);
    EXPECT_FALSE(
        SetPhoto(kFolder, u"Ann", u"\\My Documents\\new.jpg", nullptr).ok());
    ASSERT_TRUE(faults.fired());
    // Only a failed commit of the folder comes after the copy is in place;
    // the older photo then stays too.
    const std::string jpg = PhotoBytes("Ann.jpg");
    EXPECT_TRUE(jpg == "old jpg" || jpg == "new jpg") << jpg;
    EXPECT_EQ(PhotoBytes("Ann.bmp"), "old bmp");
    EXPECT_EQ(HostFileNames(Photos()),
              (std::vector<std::string>{"Ann.bmp", "Ann.jpg"}));
  }
}

TEST_F(PhotosTest, DeleteRemovesThePhotoShown) {
  WriteHostFile(Photos() / "Ann.bmp", "bmp");
  WriteHostFile(Photos() / "Ann.jpg", "jpg");
  WriteHostFile(Photos() / "Bob.bmp", "bob");

  ASSERT_TRUE(DeletePhoto(kFolder, u"ann").ok());
  EXPECT_EQ(FindPhoto(kFolder, u"Ann"), u"\\photo\\Ann.jpg");
  ASSERT_TRUE(DeletePhoto(kFolder, u"Ann").ok());
  EXPECT_EQ(FindPhoto(kFolder, u"Ann"), std::nullopt);
  EXPECT_EQ(DeletePhoto(kFolder, u"Ann").code(), ErrorCode::kNotFound);
  EXPECT_EQ(HostFileNames(Photos()), (std::vector<std::string>{"Bob.bmp"}));
}

}  // namespace
}  // namespace contacts
