#include "contacts/ui/photo_loader.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QImageIOHandler>
#include <QImageReader>
#include <QMetaObject>
#include <QSize>
#include <deque>
#include <optional>
#include <thread>
#include <utility>

#include "contacts/picker_list.h"
#include "platform/files.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace contacts::ui {
namespace {

// The formats a photo may be in (whatever its file's extension says).
bool IsPhotoFormat(const QByteArray& format) {
  return format == "bmp" || format == "gif" || format == "jpeg";
}

// The bytes of a photo file, read through the device's file layer (its
// rules on names, links and special files, and its fault seam); nullopt
// when it cannot be read whole or is larger than kMaxPhotoBytes. The file
// is read before Qt sees it: Qt probes formats under a process-wide lock,
// and a slow read there would hold up every picture of the program.
std::optional<QByteArray> ReadPhotoFile(std::u16string_view device_path) {
  std::unique_ptr<platform::files::File> file =
      platform::files::File::Open(device_path, "rb");
  if (!file) return std::nullopt;
  std::optional<uint64_t> size = file->Size();
  if (!size || *size > static_cast<uint64_t>(kMaxPhotoBytes)) {
    return std::nullopt;
  }
  QByteArray bytes(static_cast<qsizetype>(*size), Qt::Uninitialized);
  size_t got = 0;
  if (!file->Read(bytes.data(), static_cast<size_t>(bytes.size()), &got).ok() ||
      got != static_cast<size_t>(bytes.size())) {
    return std::nullopt;  // a part is not the picture
  }
  return bytes;
}

}  // namespace

// What the loader and its worker share. The worker holds it for as long as
// it runs, so a worker that outlives its loader touches nothing else.
struct PhotoLoader::Run {
  struct Task {
    std::u16string folder;
    PhotoJob job;
    int size = 0;
  };

  explicit Run(PhotoLoader* owner) : loader(owner) {}

  // Starts a worker over the queue. UI thread; no worker runs (`finished`
  // was cleared and the last worker, if any, joined).
  static void Launch(const std::shared_ptr<Run>& run) {
    run->worker = std::thread(&Run::Work, run);
  }

  static void Work(std::shared_ptr<Run> run) {
    for (;;) {
      Task task;
      {
        platform::MutexLock lock(&run->mutex);
        run->in_hand = false;
        if (run->stop || run->queue.empty()) {
          run->finished = true;
          run->ended.NotifyAll();
          return;
        }
        task = std::move(run->queue.front());
        run->queue.pop_front();
        run->in_hand = true;
      }
      std::optional<std::u16string> path =
          FindPhoto(task.folder, task.job.name);
      if (!path) continue;
      QImage picture = LoadScaledPhoto(*path, task.size);
      platform::MutexLock lock(&run->mutex);
      // Once Stop has begun the loader may be gone: it is not touched.
      if (run->stop) continue;
      ++run->undelivered;
      QMetaObject::invokeMethod(
          run->loader,
          [run, item = task.job.item, picture = std::move(picture)] {
            Deliver(*run, item, picture);
          },
          Qt::QueuedConnection);
    }
  }

  // On the loader's thread: hands a picture on unless its run was stopped.
  // Emits with no lock held, so a receiver may stop or start the loader.
  static void Deliver(Run& run, int item, const QImage& picture) {
    PhotoLoader* loader = nullptr;
    {
      platform::MutexLock lock(&run.mutex);
      --run.undelivered;
      if (!run.stop) loader = run.loader;
    }
    if (loader != nullptr) emit loader->PhotoLoaded(item, picture);
  }

  PhotoLoader* const loader;  // dereferenced only while !stop
  std::thread worker;         // UI thread only

  platform::Mutex mutex;
  platform::CondVar ended;  // notified when `finished` is set
  std::deque<Task> queue GUARDED_BY(mutex);
  bool stop GUARDED_BY(mutex) = false;  // set once, by Stop
  bool in_hand GUARDED_BY(mutex) = false;
  bool finished GUARDED_BY(mutex) = true;  // no worker runs
  int undelivered GUARDED_BY(mutex) = 0;   // posted, not yet handed on
};

PhotoLoader::PhotoLoader(QObject* parent) : QObject(parent) {}

PhotoLoader::~PhotoLoader() { Stop(kPhotoLoaderPatience); }

void PhotoLoader::Start(std::u16string photo_folder, std::vector<PhotoJob> jobs,
                        int size) {
  Stop(kPhotoLoaderPatience);
  if (jobs.empty()) return;
  auto run = std::make_shared<Run>(this);
  {
    platform::MutexLock lock(&run->mutex);
    run->finished = false;
    for (PhotoJob& job : jobs) {
      run->queue.push_back(Run::Task{photo_folder, std::move(job), size});
    }
  }
  Run::Launch(run);
  run_ = std::move(run);
}

void PhotoLoader::Add(std::u16string photo_folder, PhotoJob job, int size) {
  if (!run_) {
    std::vector<PhotoJob> jobs;
    jobs.push_back(std::move(job));
    Start(std::move(photo_folder), std::move(jobs), size);
    return;
  }
  bool relaunch = false;
  {
    platform::MutexLock lock(&run_->mutex);
    run_->queue.push_back(
        Run::Task{std::move(photo_folder), std::move(job), size});
    // A worker that has not found the queue empty yet takes the job itself.
    relaunch = run_->finished;
    run_->finished = false;
  }
  if (relaunch) {
    // The last worker has left its loop, so it ends at once. The run's
    // pictures still on their way are kept.
    run_->worker.join();
    Run::Launch(run_);
  }
}

bool PhotoLoader::Stop(std::chrono::milliseconds patience) {
  if (!run_) return true;
  // From here a picture still on its way finds its run stopped.
  std::shared_ptr<Run> run = std::move(run_);
  run_ = nullptr;
  const auto deadline = platform::CondVar::Clock::now() + patience;
  bool ended = false;
  {
    platform::MutexLock lock(&run->mutex);
    run->stop = true;
    run->queue.clear();
    while (!run->finished && run->ended.WaitUntil(&run->mutex, deadline)) {
    }
    ended = run->finished;
  }
  if (!run->worker.joinable()) return ended;
  if (ended) {
    run->worker.join();
  } else {
    // Stuck in a slow read: it finishes on its own, holding only `run`.
    run->worker.detach();
  }
  return ended;
}

bool PhotoLoader::busy() const {
  if (!run_) return false;
  platform::MutexLock lock(&run_->mutex);
  return run_->in_hand || !run_->queue.empty() || run_->undelivered > 0;
}

QImage LoadScaledPhoto(std::u16string_view device_path, int size) {
  if (size <= 0) return QImage();
  std::optional<QByteArray> bytes = ReadPhotoFile(device_path);
  if (!bytes) return QImage();
  QBuffer buffer(&*bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  if (!IsPhotoFormat(reader.format())) return QImage();
  QSize full = reader.size();
  if (!full.isValid() || full.isEmpty() ||
      static_cast<int64_t>(full.width()) * full.height() > kMaxPhotoPixels) {
    return QImage();
  }
  QSize fitted = full.scaled(size, size, Qt::KeepAspectRatio);
  fitted = fitted.expandedTo(QSize(1, 1));
  if (reader.supportsOption(QImageIOHandler::ScaledSize)) {
    reader.setScaledSize(fitted);
  }
  QImage picture = reader.read();
  if (picture.isNull()) return QImage();
  if (picture.size() != fitted) {
    picture =
        picture.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  return picture;
}

}  // namespace contacts::ui
