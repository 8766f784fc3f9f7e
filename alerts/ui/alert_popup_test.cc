// The popup window, the skin preview and the skin list with real widgets
// offscreen, over real skin and picture files on a scratch device.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "alerts/ui/alert_popup_window.h"
#include "alerts/ui/popup_look.h"
#include "alerts/ui/skin_preview.h"
#include "kit/screen.h"
#include "kit/testing/qt_app.h"
#include "platform/device.h"
#include "platform/files.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"

namespace alerts::ui {
namespace {

constexpr char16_t kSkins[] = u"\\Program Files\\Telvane\\skins\\";
constexpr char16_t kPhotos[] = u"\\Program Files\\Telvane\\photo\\";
const QColor kMagenta(255, 0, 255);

// A skin's window rectangle (device screen pixels) on the display.
QRect OnDeviceScreen(const QRect& rect) {
  return rect.translated(kit::DeviceScreenRect().topLeft());
}

// A 1 x 1 GIF (one white pixel).
constexpr unsigned char kGif[] = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00,
    0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

void MakeFolders(std::u16string_view path) {
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == u'\\') {
      platform::files::CreateFolder(path.substr(0, i)).IgnoreError();
    }
  }
}

void WriteDeviceFile(std::u16string_view path, std::string_view bytes) {
  MakeFolders(path);
  auto file = platform::files::File::Open(path, "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->Write(bytes.data(), bytes.size()), bytes.size());
  ASSERT_TRUE(file->Close().ok());
}

std::string Encode(const QImage& image, const char* format) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return data.toStdString();
}

QImage Filled(int width, int height, QColor colour) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

// A 100 x 60 bitmap: magenta around a dark rectangle at 10,10-90,50.
QImage FramedBitmap() {
  QImage image = Filled(100, 60, kMagenta);
  QPainter(&image).fillRect(QRect(10, 10, 80, 40), QColor(20, 40, 60));
  return image;
}

// Runs the event loop until `done` holds (false after 5 seconds).
template <class Predicate>
bool WaitFor(Predicate done) {
  return QTest::qWaitFor(done, 5000);
}

std::u16string SkinPath(std::u16string_view name) {
  return std::u16string(kSkins) + std::u16string(name) + u".cfg";
}

class AlertPopupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    MakeFolders(kPhotos);
    settings_.set_photo_folder(kPhotos);
  }

  // Writes NAME.cfg with `cfg` and, unless `bitmap` is null, NAME.bmp.
  std::u16string WriteSkin(std::u16string_view name, std::string_view cfg,
                           const QImage& bitmap = FramedBitmap()) {
    std::u16string path = SkinPath(name);
    WriteDeviceFile(path, cfg);
    if (!bitmap.isNull()) {
      WriteDeviceFile(*SkinBitmapPath(path), Encode(bitmap, "BMP"));
    }
    return path;
  }

  platform::testing::TempDevice device_;
  settings::SettingsStore settings_;
};

TEST_F(AlertPopupTest, UnloadableSkinsGiveTheBuiltInLook) {
  AlertPopupWindow popup(&settings_);
  std::u16string no_bitmap =
      WriteSkin(u"NoBitmap", "[ZuduzAvev Skin SP]\nDialogLeft=5\n", QImage());
  popup.SetSkin(no_bitmap);
  EXPECT_TRUE(popup.look().built_in);
  EXPECT_EQ(popup.skin_path(), no_bitmap);
  EXPECT_EQ(popup.geometry(), OnDeviceScreen(QRect(46, 173, 150, 95)));
  EXPECT_EQ(popup.look().bitmap.size(), QSize(150, 95));
  // The built-in look is shaped by its white surroundings.
  EXPECT_FALSE(popup.mask().isEmpty());
  EXPECT_FALSE(popup.mask().contains(QPoint(0, 0)));
  EXPECT_TRUE(popup.mask().contains(QPoint(75, 47)));

  // A bitmap that is not a BMP, and a missing ".cfg", fail the same way.
  std::u16string png = SkinPath(u"Png");
  WriteDeviceFile(png, "[ZuduzAvev Skin SP]\nDialogLeft=5\n");
  WriteDeviceFile(*SkinBitmapPath(png), Encode(FramedBitmap(), "PNG"));
  popup.SetSkin(png);
  EXPECT_TRUE(popup.look().built_in);
  WriteDeviceFile(std::u16string(kSkins) + u"Lonely.bmp",
                  Encode(FramedBitmap(), "BMP"));
  popup.SetSkin(SkinPath(u"Lonely"));
  EXPECT_TRUE(popup.look().built_in);
  EXPECT_EQ(popup.skin_loads(), 3);
}

TEST_F(AlertPopupTest, SkinLoadsKeepTheWindowWhenKeysAreMissing) {
  AlertPopupWindow popup(&settings_);
  popup.SetSkin(WriteSkin(u"Placed",
                          "[ZuduzAvev Skin SP]\n"
                          "DialogLeft=10\nDialogTop=20\nDialogWidth=100\n"
                          "DialogHeight=60\nFontSize=12\nShowPhoto=1\n"
                          "NumColor=255,0,0\nTransparentColor=1,1,1\n"));
  EXPECT_FALSE(popup.look().built_in);
  EXPECT_EQ(popup.geometry(), OnDeviceScreen(QRect(10, 20, 100, 60)));
  EXPECT_EQ(popup.look().font.pixelSize(), 16);  // 12 points at 96 per inch
  EXPECT_EQ(popup.look().skin.num_color, 255u);
  // Shaped from the bitmap's top-left colour (magenta), whatever colour
  // TransparentColor names.
  QRegion mask = popup.mask();
  EXPECT_TRUE(mask.contains(QPoint(10, 10)));
  EXPECT_TRUE(mask.contains(QPoint(89, 49)));
  EXPECT_FALSE(mask.contains(QPoint(9, 10)));
  EXPECT_FALSE(mask.contains(QPoint(90, 49)));
  EXPECT_EQ(mask.boundingRect(), QRect(10, 10, 80, 40));

  // The keys under another section: defaults everywhere, but the window
  // keeps its place and size, and it is no longer shaped.
  popup.SetSkin(WriteSkin(u"Elsewhere",
                          "[Other Skin]\nDialogLeft=99\nFontSize=20\n"
                          "ShowPhoto=1\nTransparentColor=1,1,1\n"));
  const PopupSkin& skin = popup.look().skin;
  EXPECT_FALSE(popup.look().built_in);
  EXPECT_EQ(popup.geometry(), OnDeviceScreen(QRect(10, 20, 100, 60)));
  EXPECT_EQ(skin.font_size, 9);
  EXPECT_EQ(popup.look().font.pixelSize(), 12);
  EXPECT_EQ(skin.des_text_rect, kDefaultDesTextRect);
  EXPECT_EQ(skin.photo_rect, kDefaultPhotoRect);
  EXPECT_EQ(skin.show_photo, 0);
  EXPECT_EQ(skin.show_number, 1);
  EXPECT_EQ(skin.show_description_label, 0);
  EXPECT_EQ(skin.num_color, 0u);
  EXPECT_TRUE(popup.mask().isEmpty());
}

TEST_F(AlertPopupTest, TheWindowSitsOnTheDeviceScreen) {
  // Centred on the display by default: never at the display's corner.
  const QRect screen = kit::DeviceScreenRect();
  {
    AlertPopupWindow popup(&settings_);
    popup.SetSkin(u"");
    EXPECT_TRUE(screen.contains(popup.geometry())) << screen.x();
    EXPECT_EQ(popup.geometry().topLeft() - screen.topLeft(), QPoint(46, 173));
  }
  // Where the device settings put the device screen.
  ASSERT_TRUE(platform::SetDeviceSetting("screen_origin", "100,7").ok());
  AlertPopupWindow popup(&settings_);
  popup.SetSkin(u"");
  EXPECT_EQ(popup.geometry(), QRect(146, 180, 150, 95));
  ASSERT_TRUE(platform::SetDeviceSetting("screen_origin", "centre").ok());
}

TEST_F(AlertPopupTest, TheSameSkinIsLoadedOnce) {
  AlertPopupWindow popup(&settings_);
  std::u16string blue = WriteSkin(u"Blue", "[ZuduzAvev Skin SP]\n");
  // The first Show without a skin loads the built-in look once.
  popup.Show(u"text", u"sender", 0, u"", false);
  EXPECT_EQ(popup.skin_loads(), 1);
  popup.SetSkin(u"");  // the built-in look is already there
  EXPECT_EQ(popup.skin_loads(), 1);
  popup.SetSkin(blue);
  popup.SetSkin(blue);
  EXPECT_EQ(popup.skin_loads(), 2);
  // A changed file is not read again for the same path.
  WriteSkin(u"Blue", "[ZuduzAvev Skin SP]\nFontSize=20\n");
  popup.SetSkin(blue);
  EXPECT_EQ(popup.look().skin.font_size, 9);
  popup.SetSkin(u"");
  popup.SetSkin(blue);
  EXPECT_EQ(popup.skin_loads(), 4);
  EXPECT_EQ(popup.look().skin.font_size, 20);
}

TEST_F(AlertPopupTest, LongTextsScrollAndWrap) {
  AlertPopupWindow popup(&settings_);
  popup.SetSkin(u"");  // DesTextRect 50,27,145,88: 95 x 61 pixels
  popup.Show(u"Short", u"13800138000", 0, u"", false);
  EXPECT_TRUE(popup.showing());
  EXPECT_TRUE(popup.isVisible());
  EXPECT_EQ(popup.scroll_offset(), 0);
  EXPECT_FALSE(popup.scrolling());

  std::u16string long_text;
  for (int i = 0; i < 40; ++i) long_text += u"word ";
  popup.Show(long_text, u"13800138000", 0, u"", false);
  EXPECT_TRUE(popup.scrolling());
  EXPECT_EQ(popup.scroll_offset(), -40);  // -(61 * 2 / 3)
  const int height = popup.text_height();
  EXPECT_GT(height, 61 + 15);
  popup.ScrollTick();
  EXPECT_EQ(popup.scroll_offset(), -25);
  // Moves by 15 until it passes the text's end, then enters again.
  int ticks = 1;
  int last = popup.scroll_offset();
  while (popup.scroll_offset() != -40 && ticks < 1000) {
    last = popup.scroll_offset();
    popup.ScrollTick();
    ++ticks;
  }
  EXPECT_GT(last + 15, height - 12);
  EXPECT_LE(last, height - 12);
  EXPECT_EQ(popup.scroll_offset(), -40);

  // A fitting text shown again stops the scrolling.
  popup.Show(u"Short again", u"", 0, u"", false);
  EXPECT_FALSE(popup.scrolling());
  EXPECT_EQ(popup.scroll_offset(), 0);

  // Texts are cut: the main text to 771 characters, the second to 259.
  popup.Show(std::u16string(900, u'a'), std::u16string(300, u'b'), 0, u"",
             false);
  EXPECT_EQ(popup.main_text().size(), 771u);
  EXPECT_EQ(popup.second_text().size(), 259u);
}

TEST_F(AlertPopupTest, LifetimeAndDismissal) {
  AlertPopupWindow popup(&settings_);
  QSignalSpy dismissed(&popup, &AlertPopupWindow::Dismissed);

  // Lifetime 0: it stays until tapped. No timer runs, and nothing queued
  // for the window closes it.
  popup.Show(u"Hello", u"Anna", 0, u"", true);
  EXPECT_FALSE(popup.lifetime_running());
  QCoreApplication::processEvents();
  EXPECT_TRUE(popup.showing());
  QTest::mouseClick(&popup, Qt::LeftButton, Qt::NoModifier, QPoint(75, 47));
  EXPECT_FALSE(popup.showing());
  EXPECT_FALSE(popup.isVisible());
  EXPECT_EQ(dismissed.count(), 1);

  // A key closes it too; Close() (the main window's) does not notify.
  popup.Show(u"Hello", u"Anna", 0, u"", true);
  QTest::keyClick(&popup, Qt::Key_Return);
  EXPECT_FALSE(popup.showing());
  EXPECT_EQ(dismissed.count(), 2);
  popup.Show(u"Hello", u"Anna", 0, u"", true);
  popup.Close();
  EXPECT_FALSE(popup.isVisible());
  EXPECT_EQ(dismissed.count(), 2);

  // A lifetime closes it by itself, without a notification; a refresh
  // restarts the timers.
  popup.Show(u"Hello", u"Anna", 60000, u"", true);
  EXPECT_TRUE(popup.lifetime_running());
  EXPECT_EQ(popup.lifetime_ms(), 60000);
  popup.Show(u"Bye", u"Anna", 30, u"", true);
  EXPECT_EQ(popup.lifetime_ms(), 30);
  ASSERT_TRUE(WaitFor([&] { return !popup.showing(); }));
  EXPECT_FALSE(popup.isVisible());
  EXPECT_FALSE(popup.scrolling());
  EXPECT_EQ(dismissed.count(), 2);
}

TEST_F(AlertPopupTest, PictureSearchOrder) {
  const std::u16string photos(kPhotos);
  WriteDeviceFile(
      photos + u"Anna.gif",
      std::string(reinterpret_cast<const char*>(kGif), sizeof(kGif)));
  WriteDeviceFile(photos + u"Anna.jpg", Encode(Filled(3, 2, Qt::red), "JPG"));
  WriteDeviceFile(photos + u"given.bmp", Encode(Filled(4, 4, Qt::blue), "BMP"));
  WriteDeviceFile(photos + u"default.bmp",
                  Encode(Filled(5, 5, Qt::green), "BMP"));
  PictureQuery query{true, u"Anna", photos + u"given.bmp", photos,
                     photos + u"default.bmp"};
  EXPECT_EQ(FindPicturePath(query), photos + u"Anna.gif");
  WriteDeviceFile(photos + u"Anna.bmp", Encode(Filled(2, 2, Qt::red), "BMP"));
  EXPECT_EQ(FindPicturePath(query), photos + u"Anna.bmp");
  query.second_text = u"Bob";  // no photo by that name
  EXPECT_EQ(FindPicturePath(query), photos + u"given.bmp");
  query.named_sender = false;
  query.second_text = u"Anna";
  EXPECT_EQ(FindPicturePath(query), photos + u"given.bmp");
  query.given_path = photos + u"missing.bmp";
  EXPECT_EQ(FindPicturePath(query), photos + u"default.bmp");
  query.default_photo.clear();
  EXPECT_EQ(FindPicturePath(query), u"");

  // The content decides: a PNG is not a picture the popup shows, whatever
  // its name.
  WriteDeviceFile(photos + u"fake.jpg", Encode(Filled(3, 3, Qt::red), "PNG"));
  EXPECT_TRUE(LoadPicture(photos + u"fake.jpg").isNull());
  EXPECT_EQ(LoadPicture(photos + u"Anna.jpg").size(), QSize(3, 2));
}

TEST_F(AlertPopupTest, NamedSenderShowsTheGifOverTheJpg) {
  const std::u16string photos(kPhotos);
  WriteDeviceFile(
      photos + u"Anna.gif",
      std::string(reinterpret_cast<const char*>(kGif), sizeof(kGif)));
  WriteDeviceFile(photos + u"Anna.jpg", Encode(Filled(3, 2, Qt::red), "JPG"));
  auto popup = std::make_unique<AlertPopupWindow>(&settings_);
  popup->SetSkin(u"");  // the built-in look shows photos
  popup->Show(u"Hi", u"Anna", 0, u"", true);
  ASSERT_TRUE(WaitFor([&] { return !popup->picture().isNull(); }));
  EXPECT_EQ(popup->picture_source(), photos + u"Anna.gif");
  EXPECT_EQ(popup->picture().size(), QSize(1, 1));

  // A skin without photos starts no search, and a new Show drops the old
  // picture. Every picture thread passes the hook, and the window waits
  // for its threads when it closes: after that, none can come.
  std::mutex mutex;
  std::vector<uint64_t> searches;
  AlertPopupWindow::SetPictureThreadHook([&](uint64_t generation) {
    std::lock_guard<std::mutex> lock(mutex);
    searches.push_back(generation);
  });
  popup->SetSkin(WriteSkin(u"NoPhoto", "[ZuduzAvev Skin SP]\nShowPhoto=0\n"));
  popup->Show(u"Hi", u"Anna", 0, u"", true);
  EXPECT_TRUE(popup->picture().isNull());
  popup.reset();
  AlertPopupWindow::SetPictureThreadHook({});
  EXPECT_TRUE(searches.empty());
}

TEST_F(AlertPopupTest, AStalePictureThreadDoesNotOverwriteANewerShow) {
  const std::u16string photos(kPhotos);
  WriteDeviceFile(photos + u"old.bmp", Encode(Filled(4, 4, Qt::red), "BMP"));
  WriteDeviceFile(photos + u"new.bmp", Encode(Filled(6, 6, Qt::blue), "BMP"));

  std::mutex mutex;
  std::condition_variable released_cv;
  bool released = false;
  auto release = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    released_cv.notify_all();
  };
  // Holds the first Show's thread until released.
  AlertPopupWindow::SetPictureThreadHook([&](uint64_t generation) {
    if (generation != 1) return;
    std::unique_lock<std::mutex> lock(mutex);
    released_cv.wait(lock, [&] { return released; });
  });
  AlertPopupWindow popup(&settings_);
  // Declared after the popup, so it runs before the popup joins its threads
  // even when a check below returns early.
  struct Cleanup {
    std::function<void()> run;
    ~Cleanup() { run(); }
  } cleanup{[&] {
    release();
    AlertPopupWindow::SetPictureThreadHook({});
  }};
  popup.SetSkin(u"");
  popup.Show(u"first", u"1", 0, photos + u"old.bmp", false);
  popup.Show(u"second", u"2", 0, photos + u"new.bmp", false);
  ASSERT_TRUE(WaitFor([&] { return !popup.picture().isNull(); }));
  EXPECT_EQ(popup.picture_source(), photos + u"new.bmp");
  release();
  ASSERT_TRUE(WaitFor([&] { return popup.stale_pictures_dropped() == 1; }));
  EXPECT_EQ(popup.picture_source(), photos + u"new.bmp");
  EXPECT_EQ(popup.picture().size(), QSize(6, 6));
}

TEST_F(AlertPopupTest, PaintingFollowsTheSkin) {
  const std::u16string photos(kPhotos);
  // A tall green picture fitted into a square PhotoRect: centred, aspect
  // kept.
  WriteDeviceFile(photos + u"tall.bmp",
                  Encode(Filled(10, 20, Qt::green), "BMP"));
  QImage bitmap = Filled(120, 80, QColor(200, 200, 200));
  std::u16string skin = WriteSkin(u"Paint",
                                  "[ZuduzAvev Skin SP]\n"
                                  "DialogWidth=120\nDialogHeight=80\n"
                                  "PhotoRect=10,10,50,50\nShowPhoto=1\n"
                                  "NumTextRect=60,5,115,30\n"
                                  "NumColor=255,0,0\nFontSize=14\n"
                                  "ShowDescription=0\n",
                                  bitmap);
  AlertPopupWindow popup(&settings_);
  popup.SetSkin(skin);
  popup.Show(u"", u"WWWW", 0, photos + u"tall.bmp", false);
  ASSERT_TRUE(WaitFor([&] { return !popup.picture().isNull(); }));
  QImage shot(popup.size(), QImage::Format_RGB32);
  popup.render(&shot);
  EXPECT_EQ(QColor(shot.pixel(2, 70)), QColor(200, 200, 200));   // bitmap
  EXPECT_EQ(QColor(shot.pixel(30, 30)), QColor(Qt::green));      // centre
  EXPECT_EQ(QColor(shot.pixel(30, 12)), QColor(Qt::green));      // full height
  EXPECT_EQ(QColor(shot.pixel(15, 30)), QColor(200, 200, 200));  // beside
  EXPECT_EQ(QColor(shot.pixel(45, 30)), QColor(200, 200, 200));
  bool red = false;
  for (int y = 5; y < 30 && !red; ++y) {
    for (int x = 60; x < 115 && !red; ++x) {
      QColor c(shot.pixel(x, y));
      red = c.red() > 150 && c.green() < 100 && c.blue() < 100;
    }
  }
  EXPECT_TRUE(red) << "the second text is drawn in NumColor";
}

TEST_F(AlertPopupTest, ShippedSkinsLoad) {
  namespace fs = std::filesystem;
  std::vector<std::u16string> names;
  for (const char* name : {"Blue", "Mint", "Sunset"}) {
    for (const char* extension : {".cfg", ".bmp"}) {
      std::ifstream in(
          fs::path(TELVANE_SKINS_DIR) / (std::string(name) + extension),
          std::ios::binary);
      ASSERT_TRUE(in) << name << extension;
      std::stringstream bytes;
      bytes << in.rdbuf();
      std::u16string device_name(name, name + std::strlen(name));
      WriteDeviceFile(
          std::u16string(kSkins) + device_name +
              std::u16string(extension, extension + std::strlen(extension)),
          bytes.str());
    }
  }
  AlertPopupWindow popup(&settings_);
  int shaped = 0, with_labels = 0, with_photo = 0;
  for (const std::u16string& name :
       FillSkinList(u"\\Program Files\\Telvane\\")) {
    popup.SetSkin(SkinPathForName(u"\\Program Files\\Telvane\\", name));
    const PopupSkin& skin = popup.look().skin;
    EXPECT_FALSE(popup.look().built_in);
    EXPECT_EQ(popup.look().bitmap.size(),
              QSize(skin.dialog_width, skin.dialog_height));
    shaped += skin.shaped() ? 1 : 0;
    with_labels += skin.show_number_label != 0 ? 1 : 0;
    with_photo += skin.show_photo != 0 ? 1 : 0;
    if (skin.shaped()) {
      QRegion mask = popup.mask();
      EXPECT_FALSE(mask.contains(QPoint(0, 0)));
      EXPECT_FALSE(
          mask.contains(QPoint(skin.dialog_width - 1, skin.dialog_height - 1)));
      EXPECT_TRUE(mask.contains(ToQRect(skin.des_text_rect).center()));
    }
  }
  EXPECT_EQ(shaped, 1);
  EXPECT_GE(with_labels, 1);
  EXPECT_GE(with_photo, 1);
}

TEST_F(AlertPopupTest, SkinListAndPreview) {
  const std::u16string app = u"\\Program Files\\Telvane\\";
  EXPECT_TRUE(FillSkinList(app).empty());  // no skins folder yet
  WriteSkin(u"b", "[ZuduzAvev Skin SP]\n");
  WriteSkin(u"Night.Blue", "[ZuduzAvev Skin SP]\n");
  WriteSkin(u"A", "[ZuduzAvev Skin SP]\nShowPhoto=1\nPhotoRect=0,0,20,20\n");
  WriteDeviceFile(std::u16string(kSkins) + u"notes.txt", "x");
  WriteDeviceFile(std::u16string(kSkins) + u"UPPER.CFG", "x");
  platform::files::CreateFolder(std::u16string(kSkins) + u"folder.cfg")
      .IgnoreError();
  EXPECT_EQ(FillSkinList(app),
            (std::vector<std::u16string>{u"A", u"b", u"Night.Blue", u"UPPER"}));
  EXPECT_EQ(SkinPathForName(app, u"Night.Blue"),
            u"\\Program Files\\Telvane\\skins\\Night.Blue.cfg");

  // The preview closes by itself after its lifetime.
  const std::u16string photo = std::u16string(kPhotos) + u"p.bmp";
  WriteDeviceFile(photo, Encode(Filled(8, 8, Qt::blue), "BMP"));
  {
    SkinPreviewWindow preview(nullptr, SkinPath(u"A"), u"This is only for test",
                              u"1234567890", photo, 30);
    preview.Exec();
    EXPECT_FALSE(preview.isVisible());
    EXPECT_FALSE(preview.look().built_in);
    EXPECT_EQ(preview.picture().size(), QSize(8, 8));  // loaded directly
  }

  // The first tap closes it; its look and texts are the ones asked for; a
  // missing picture is none, and an empty skin path is the built-in look.
  int previews = 0;
  PreviewScript before = SetPreviewScript([&](SkinPreviewWindow* preview) {
    ++previews;
    EXPECT_TRUE(preview->isVisible());
    EXPECT_TRUE(preview->look().built_in);
    EXPECT_EQ(preview->geometry(), OnDeviceScreen(QRect(46, 173, 150, 95)));
    EXPECT_TRUE(preview->picture().isNull());
    EXPECT_EQ(preview->main_text(), QStringLiteral("This is only for test"));
    QTest::mouseClick(preview, Qt::LeftButton, Qt::NoModifier, QPoint(75, 47));
    EXPECT_FALSE(preview->isVisible());
  });
  SkinPreview(nullptr, u"", u"This is only for test", u"1234567890",
              std::u16string(kPhotos) + u"missing.bmp");
  EXPECT_EQ(previews, 1);
  SetPreviewScript(before);
}

}  // namespace
}  // namespace alerts::ui
