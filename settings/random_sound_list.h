// RandomSoundList: the sound files of the random sound folder, from which the
// "Random Ring" filter action picks one.
//
// Scan lists the files (not folders) of one folder whose extension, lower-
// cased, is not empty and occurs anywhere within the accepted extension text
// (".wav;.mp3;.mp2" by default): "a.MP3" and "b.wav" are taken, "c.txt",
// "d" and ".wav" (a dot first means no extension) are not, and so "e.mp",
// "f.av" and "g.3" are taken too, since their extensions occur within the
// text. Names are kept without their folder, in the order the device lists
// the folder (name order, ignoring case).
//
// The folder text is kept as given and used as a prefix ("%s*.*" to list,
// "%s%s" to pick), so it should end with "\". A non-empty folder text that
// does not is given one, so that picked paths never run into the folder's
// last name. Like the stored option it is cut to 259 characters (before
// the separator is added).
//
// Thread-compatible: owned by the settings store on the user-interface
// thread.
#ifndef TELVANE_SETTINGS_RANDOM_SOUND_LIST_H_
#define TELVANE_SETTINGS_RANDOM_SOUND_LIST_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

// The extensions the program plays (string 40291 of the string table).
inline constexpr std::u16string_view kSoundExtensions = u".wav;.mp3;.mp2";

class RandomSoundList {
 public:
  explicit RandomSoundList(std::u16string_view extensions = kSoundExtensions)
      : extensions_(extensions) {}

  // Keeps `folder`, forgets the names listed before and lists the folder
  // anew. Returns the number of names; a missing or unreadable folder gives
  // an empty list (0).
  size_t Scan(std::u16string_view folder);

  // The folder text followed by a name chosen by the device's millisecond
  // tick count modulo the number of names; nullopt when the list is empty.
  std::optional<std::u16string> Pick() const;
  // The same with a given tick count (what Pick uses; for tests).
  std::optional<std::u16string> PickAt(uint32_t tick) const;

  const std::u16string& folder() const { return folder_; }
  const std::u16string& extensions() const { return extensions_; }
  const std::vector<std::u16string>& names() const { return names_; }

  // True when a file of this name would be listed.
  bool Accepts(std::u16string_view name) const;

 private:
  std::u16string extensions_;  // the accepted extension text
  std::u16string folder_;      // with its trailing "\"
  std::vector<std::u16string> names_;
};

}  // namespace settings

#endif  // TELVANE_SETTINGS_RANDOM_SOUND_LIST_H_
