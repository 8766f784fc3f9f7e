// Contact photos decoded from real files on a scratch device, and the
// loader's worker thread: every job delivered, nothing of a stopped run
// delivered, and a worker stuck in a read left alone by Stop and by the
// destructor.
#include "contacts/ui/photo_loader.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kit/testing/qt_app.h"
#include "platform/files.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"
#include "platform/unicode.h"

namespace contacts::ui {
namespace {

using platform::testing::FileFaults;
using platform::testing::WriteHostFile;

constexpr std::u16string_view kFolder = u"\\photo\\";
constexpr int kSize = 26;  // a 30-pixel row less 4

// Runs the UI thread's loop until `done` holds (bounded); whether it held.
template <class Done>
bool SpinUntil(Done done) {
  return platform::testing::WaitUntil([&] {
    QCoreApplication::processEvents();
    return done();
  });
}

std::string Bytes(const QByteArray& bytes) {
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::string Encoded(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format)) << format;
  return Bytes(bytes);
}

QImage Filled(int width, int height, QColor colour) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

// A GIF of one colour (Qt reads GIF but does not write it). The pixels are
// LZW codes of 3 bits, with a clear code before every second pixel so that
// the code table never grows past that width.
std::string Gif(int width, int height, QColor colour) {
  std::string out = "GIF89a";
  auto u16 = [&out](int value) {
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
  };
  u16(width);
  u16(height);
  out += '\x91';  // a global table of 4 colours
  out += '\0';    // background
  out += '\0';    // aspect
  out += static_cast<char>(colour.red());
  out += static_cast<char>(colour.green());
  out += static_cast<char>(colour.blue());
  out.append(9, '\0');
  out += ',';
  u16(0);
  u16(0);
  u16(width);
  u16(height);
  out += '\0';
  out += '\x02';  // the least code size

  constexpr uint32_t kClear = 4, kEnd = 5;
  std::string data;
  uint32_t bits = 0;
  int count = 0;
  auto code = [&](uint32_t value) {
    bits |= value << count;
    count += 3;
    while (count >= 8) {
      data += static_cast<char>(bits & 0xff);
      bits >>= 8;
      count -= 8;
    }
  };
  for (int pixel = 0; pixel < width * height; ++pixel) {
    if (pixel % 2 == 0) code(kClear);
    code(0);
  }
  code(kEnd);
  if (count > 0) data += static_cast<char>(bits & 0xff);
  for (size_t at = 0; at < data.size(); at += 255) {
    size_t length = std::min<size_t>(255, data.size() - at);
    out += static_cast<char>(length);
    out.append(data, at, length);
  }
  out += '\0';
  out += ';';
  return out;
}

// Whether two colours are alike (JPEG and smoothing shift them a little).
bool Near(QRgb got, QColor want) {
  return std::abs(qRed(got) - want.red()) <= 24 &&
         std::abs(qGreen(got) - want.green()) <= 24 &&
         std::abs(qBlue(got) - want.blue()) <= 24;
}

QRgb Centre(const QImage& image) {
  return image.pixel(image.width() / 2, image.height() / 2);
}

class PhotoTest : public ::testing::Test {
 protected:
  void SetUp() override { kit::testing::EnsureApplication(); }

  void WritePhoto(const std::string& file, const std::string& bytes) {
    WriteHostFile(device_.HostPath("\\photo") / file, bytes);
  }
  static std::u16string PathOf(std::u16string_view file) {
    return std::u16string(kFolder) + std::u16string(file);
  }

  platform::testing::TempDevice device_;
};

// ---- Decoding

TEST_F(PhotoTest, DecodesBmpGifAndJpegIntoTheSquareWithTheAspectKept) {
  WritePhoto("wide.bmp", Encoded(Filled(200, 100, Qt::red), "BMP"));
  WritePhoto("tall.gif", Gif(60, 120, Qt::blue));
  WritePhoto("big.jpg", Encoded(Filled(1600, 1200, Qt::green), "JPG"));
  WritePhoto("tiny.bmp", Encoded(Filled(10, 10, Qt::yellow), "BMP"));
  // The content decides, not the extension.
  WritePhoto("other.bmp", Gif(20, 20, Qt::magenta));

  QImage wide = LoadScaledPhoto(PathOf(u"wide.bmp"), kSize);
  EXPECT_EQ(wide.size(), QSize(26, 13));
  EXPECT_TRUE(Near(Centre(wide), Qt::red));

  QImage tall = LoadScaledPhoto(PathOf(u"TALL.GIF"), kSize);
  EXPECT_EQ(tall.size(), QSize(13, 26));
  EXPECT_TRUE(Near(Centre(tall), Qt::blue));

  // 1600 x 1200 into 26: 26 x 19.5.
  QImage big = LoadScaledPhoto(PathOf(u"big.jpg"), kSize);
  EXPECT_EQ(big.width(), 26);
  EXPECT_TRUE(big.height() == 19 || big.height() == 20) << big.height();
  EXPECT_TRUE(Near(Centre(big), Qt::green));

  // A small picture is drawn as large as the row allows.
  QImage tiny = LoadScaledPhoto(PathOf(u"tiny.bmp"), kSize);
  EXPECT_EQ(tiny.size(), QSize(26, 26));
  EXPECT_TRUE(Near(Centre(tiny), Qt::yellow));

  QImage other = LoadScaledPhoto(PathOf(u"other.bmp"), kSize);
  EXPECT_EQ(other.size(), QSize(26, 26));
  EXPECT_TRUE(Near(Centre(other), Qt::magenta));
}

TEST_F(PhotoTest, WhatCannotBeShownGivesANullPicture) {
  const std::string jpeg = Encoded(Filled(16, 16, Qt::red), "JPG");
  WritePhoto("text.jpg", "Hello, this is not a picture.\n");
  WritePhoto("cut.jpg", jpeg.substr(0, 40));  // ends inside the header
  WritePhoto("png.jpg", Encoded(Filled(16, 16, Qt::red), "PNG"));
  WritePhoto("empty.gif", "");
  // A JPEG that says it is 9000 x 9000: decoded at a small scale it would
  // cost little memory, but it is more than the loader takes on.
  std::string huge = jpeg;
  size_t frame = huge.find("\xff\xc0");
  ASSERT_NE(frame, std::string::npos);
  for (size_t at : {frame + 5, frame + 7}) {
    huge[at] = static_cast<char>(9000 >> 8);
    huge[at + 1] = static_cast<char>(9000 & 0xff);
  }
  WritePhoto("huge.jpg", huge);
  std::filesystem::create_directories(device_.HostPath("\\photo\\folder.bmp"));
  // A small picture in a file longer than any photo is not read at all.
  WritePhoto("long.bmp", Encoded(Filled(16, 16, Qt::red), "BMP"));
  std::filesystem::resize_file(device_.HostPath("\\photo\\long.bmp"),
                               kMaxPhotoBytes + 1);

  for (std::u16string_view file :
       {u"text.jpg", u"cut.jpg", u"png.jpg", u"empty.gif", u"huge.jpg",
        u"folder.bmp", u"missing.bmp", u"long.bmp"}) {
    SCOPED_TRACE(platform::ToUtf8(file));
    EXPECT_TRUE(LoadScaledPhoto(PathOf(file), kSize).isNull());
  }
  // The same picture whole decodes, so the above fail for what they are.
  WritePhoto("whole.jpg", jpeg);
  EXPECT_FALSE(LoadScaledPhoto(PathOf(u"whole.jpg"), kSize).isNull());
  EXPECT_TRUE(LoadScaledPhoto(PathOf(u"whole.jpg"), 0).isNull());
}

TEST_F(PhotoTest, AFailedOrShortReadGivesANullPicture) {
  WritePhoto("ann.bmp", Encoded(Filled(64, 64, Qt::red), "BMP"));
  {
    FileFaults faults;
    faults.FailCall(platform::files::FileCall::kRead, 1);
    EXPECT_TRUE(LoadScaledPhoto(PathOf(u"ann.bmp"), kSize).isNull());
    EXPECT_TRUE(faults.fired());
  }
  {
    // The rest of the picture would be read as missing.
    FileFaults faults;
    faults.CutCall(platform::files::FileCall::kRead, 1);
    EXPECT_TRUE(LoadScaledPhoto(PathOf(u"ann.bmp"), kSize).isNull());
    EXPECT_TRUE(faults.fired());
  }
  EXPECT_FALSE(LoadScaledPhoto(PathOf(u"ann.bmp"), kSize).isNull());
}

// ---- The loader

// What a loader delivered, in order.
struct Delivery {
  int item;
  QImage picture;
};

// Holds the worker that first reads the file `name` until released, and
// tells when that worker's thread has ended: after its last use of its run
// and of the file layer, so the FileFaults may go then.
class ReadGate {
 public:
  explicit ReadGate(FileFaults* faults, std::string name)
      : name_(std::move(name)) {
    faults->set_observer([this](const FileFaults::Call& call) {
      if (call.kind == platform::files::FileCall::kRead &&
          call.host.filename() == name_) {
        Hold();
      }
    });
  }

  bool WaitHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, platform::testing::kPatience,
                             [this] { return held_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  bool WaitHolderEnded() {
    return platform::testing::WaitUntil(
        [this] { return holder_ended_->load(); });
  }

 private:
  // Set when the thread that owns it ends.
  struct EndSignal {
    std::shared_ptr<std::atomic<bool>> ended;
    ~EndSignal() {
      if (ended) ended->store(true);
    }
  };

  void Hold() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (held_) return;
    held_ = true;
    thread_local EndSignal end_signal;
    end_signal.ended = holder_ended_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
  }

  const std::string name_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
  std::shared_ptr<std::atomic<bool>> holder_ended_ =
      std::make_shared<std::atomic<bool>>(false);
};

class PhotoLoaderTest : public PhotoTest {
 protected:
  void SetUp() override {
    PhotoTest::SetUp();
    WritePhoto("Ann.bmp", Encoded(Filled(40, 20, Qt::red), "BMP"));
    WritePhoto("Bob.gif", Gif(30, 30, Qt::blue));
    WritePhoto("Cy.jpg", Encoded(Filled(30, 60, Qt::green), "JPG"));
    WritePhoto("Dan.jpg", "damaged");
    WritePhoto("Slow.bmp", Encoded(Filled(8, 8, Qt::black), "BMP"));
  }

  // Records what `loader` delivers, on the UI thread.
  void Listen(PhotoLoader* loader) {
    QObject::connect(loader, &PhotoLoader::PhotoLoaded, &receiver_,
                     [this](int item, QImage picture) {
                       got_.push_back({item, std::move(picture)});
                     });
  }
  std::vector<int> Items() const {
    std::vector<int> items;
    for (const Delivery& delivery : got_) items.push_back(delivery.item);
    return items;
  }

  QObject receiver_;
  std::vector<Delivery> got_;
};

TEST_F(PhotoLoaderTest, DeliversEveryJobWithAPhoto) {
  PhotoLoader loader;
  Listen(&loader);
  EXPECT_FALSE(loader.busy());
  loader.Start(std::u16string(kFolder),
               {{0, u"Ann"},
                {1, u"Bob"},
                {2, u"cy"},
                {3, u"Dan"},
                {4, u"Eve"},
                {5, u"Ann"}},
               kSize);
  // Eve has no photo: passed over; Dan's does not decode: a null picture.
  ASSERT_TRUE(SpinUntil([&] { return !loader.busy(); }));
  ASSERT_EQ(Items(), (std::vector<int>{0, 1, 2, 3, 5}));
  EXPECT_EQ(got_[0].picture.size(), QSize(26, 13));
  EXPECT_TRUE(Near(Centre(got_[0].picture), Qt::red));
  EXPECT_EQ(got_[1].picture.size(), QSize(26, 26));
  EXPECT_TRUE(Near(Centre(got_[1].picture), Qt::blue));
  EXPECT_EQ(got_[2].picture.size(), QSize(13, 26));
  EXPECT_TRUE(got_[3].picture.isNull());
  EXPECT_EQ(got_[4].picture.size(), QSize(26, 13));

  // "Set Photo..." after the run: a job added alone is loaded too, and so
  // is one added to a loader that never ran.
  loader.Add(std::u16string(kFolder), {7, u"Bob"}, 20);
  ASSERT_TRUE(SpinUntil([&] { return !loader.busy(); }));
  ASSERT_EQ(got_.size(), 6u);
  EXPECT_EQ(got_[5].item, 7);
  EXPECT_EQ(got_[5].picture.size(), QSize(20, 20));

  PhotoLoader fresh;
  Listen(&fresh);
  fresh.Add(std::u16string(kFolder), {8, u"Ann"}, kSize);
  ASSERT_TRUE(SpinUntil([&] { return !fresh.busy(); }));
  EXPECT_EQ(Items().back(), 8);
  EXPECT_TRUE(fresh.Stop());
}

TEST_F(PhotoLoaderTest, AStoppedRunDeliversNothingMore) {
  FileFaults faults;
  ReadGate gate(&faults, "Slow.bmp");
  PhotoLoader loader;
  Listen(&loader);
  loader.Start(std::u16string(kFolder),
               {{0, u"Ann"}, {1, u"Slow"}, {2, u"Bob"}}, kSize);
  // Ann's picture is on its way (the loop has not run since) when the
  // worker reaches Slow.
  ASSERT_TRUE(gate.WaitHeld());
  EXPECT_TRUE(loader.busy());
  gate.Release();
  EXPECT_TRUE(loader.Stop());
  EXPECT_FALSE(loader.busy());

  loader.Start(std::u16string(kFolder), {{10, u"Cy"}, {11, u"Bob"}}, kSize);
  ASSERT_TRUE(SpinUntil([&] { return !loader.busy(); }));
  EXPECT_EQ(Items(), (std::vector<int>{10, 11}));
}

TEST_F(PhotoLoaderTest, AWorkerStuckInAReadIsLeftBehind) {
  FileFaults faults;
  ReadGate gate(&faults, "Slow.bmp");
  PhotoLoader loader;
  Listen(&loader);
  loader.Start(std::u16string(kFolder),
               {{0, u"Ann"}, {1, u"Slow"}, {2, u"Bob"}}, kSize);
  ASSERT_TRUE(gate.WaitHeld());
  // The worker cannot end while it is held: Stop gives up on it, and the
  // next run starts at once.
  EXPECT_FALSE(loader.Stop(std::chrono::milliseconds(1)));
  EXPECT_FALSE(loader.busy());
  loader.Start(std::u16string(kFolder), {{10, u"Cy"}}, kSize);
  ASSERT_TRUE(SpinUntil([&] { return !loader.busy(); }));

  // Let the old worker finish its job and end; what it had delivered or
  // decoded since is dropped.
  gate.Release();
  ASSERT_TRUE(gate.WaitHolderEnded());
  QCoreApplication::processEvents();
  EXPECT_EQ(Items(), (std::vector<int>{10}));
}

TEST_F(PhotoLoaderTest, DestroyingTheLoaderMidRunIsSafe) {
  // A worker busy decoding is waited for.
  std::vector<PhotoJob> many;
  for (int i = 0; i < 200; ++i) many.push_back({i, i % 2 ? u"Ann" : u"Cy"});
  size_t delivered = 0;
  {
    PhotoLoader loader;
    Listen(&loader);
    loader.Start(std::u16string(kFolder), many, kSize);
    ASSERT_TRUE(SpinUntil([&] { return !got_.empty(); }));
    delivered = got_.size();
  }
  // Pictures on their way to the loader went with it.
  QCoreApplication::processEvents();
  EXPECT_EQ(got_.size(), delivered);

  // A worker stuck in a read is left after the loader's patience; it
  // finishes later without touching the loader, and delivers nothing.
  got_.clear();
  FileFaults faults;
  ReadGate gate(&faults, "Slow.bmp");
  auto loader = std::make_unique<PhotoLoader>();
  Listen(loader.get());
  loader->Start(std::u16string(kFolder), {{0, u"Slow"}, {1, u"Ann"}}, kSize);
  ASSERT_TRUE(gate.WaitHeld());
  loader.reset();
  gate.Release();
  ASSERT_TRUE(gate.WaitHolderEnded());
  QCoreApplication::processEvents();
  EXPECT_TRUE(got_.empty());
}

}  // namespace
}  // namespace contacts::ui
