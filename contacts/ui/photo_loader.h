// The contact picker's photos, loaded off the user-interface thread.
//
// A PhotoLoader owns at most one worker thread. Start hands it the photo
// folder and a list of jobs (an item of the picker and the contact's name);
// for each job in order the worker finds the contact's photo (FindPhoto:
// ".bmp", ".gif", ".jpg"), decodes it scaled into a square of `size`
// pixels with its aspect kept, and emits PhotoLoaded with the item and the
// picture. A contact without a photo file is passed over silently; a file
// that cannot be decoded (damaged, not a picture, larger than the loader
// will decode) gives a null image, so the picker shows its stock picture.
// Pictures are decoded at the scaled size where the format allows it, so a
// huge photo never holds the worker long and never the UI thread at all. A
// photo file is read whole through the device's file layer before it is
// decoded, so a slow read holds up only the worker that makes it.
//
// The worker hands each picture to the loader's (the UI) thread, which
// emits PhotoLoaded there, so a receiver on the UI thread is called
// directly. Results of a run that was stopped are never delivered, not even
// those already on their way: each Start begins a new run.
//
// Stop asks the worker to end after the job it is on and waits at most
// `patience` for it; a worker that does not end in time (stuck in a slow
// read) is left to finish on its own and its results are dropped, so the
// caller may free the items at once either way. The destructor stops with
// the same patience. UI thread only (the worker touches nothing of the
// caller's).
#ifndef TELVANE_CONTACTS_UI_PHOTO_LOADER_H_
#define TELVANE_CONTACTS_UI_PHOTO_LOADER_H_

#include <QImage>
#include <QObject>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace contacts::ui {

// How long the picker waits for the loader before refilling or closing.
inline constexpr std::chrono::milliseconds kPhotoLoaderPatience{3000};

// Pictures with more pixels than this, or files larger than this, are not
// decoded (stock picture).
inline constexpr int64_t kMaxPhotoPixels = 64LL * 1024 * 1024;
inline constexpr int64_t kMaxPhotoBytes = 32LL * 1024 * 1024;

struct PhotoJob {
  int item = 0;         // handed back with the picture
  std::u16string name;  // the contact's name: the photo's base name
};

class PhotoLoader : public QObject {
  Q_OBJECT

 public:
  explicit PhotoLoader(QObject* parent = nullptr);
  ~PhotoLoader() override;  // Stop(kPhotoLoaderPatience)

  // Stops a run in progress (as Stop) and starts a new one over `jobs`.
  // `photo_folder` is a device path ending in "\".
  void Start(std::u16string photo_folder, std::vector<PhotoJob> jobs, int size);
  // Adds a job to the run in progress, or starts a run with it alone (the
  // picture of "Set Photo...").
  void Add(std::u16string photo_folder, PhotoJob job, int size);
  // True when the worker ended in time (or none ran).
  bool Stop(std::chrono::milliseconds patience = kPhotoLoaderPatience);
  // Whether a run has jobs left, a job in hand or a picture not yet
  // emitted.
  bool busy() const;

 signals:
  void PhotoLoaded(int item, QImage picture);

 private:
  struct Run;
  std::shared_ptr<Run> run_;
};

// Decodes the picture at `device_path` scaled into `size` x `size` (aspect
// kept); a null image when it cannot. Any thread.
QImage LoadScaledPhoto(std::u16string_view device_path, int size);

}  // namespace contacts::ui

#endif  // TELVANE_CONTACTS_UI_PHOTO_LOADER_H_
