// A contact's photo file: "NAME.bmp", "NAME.gif" or "NAME.jpg" in the
// photo folder (the setting "PhotoFolder"); FindPhoto (picker_list.h) finds
// the one shown, the first of those that exists.
//
// SetPhoto copies the chosen picture over into the folder under the
// contact's name with the chosen file's extension; the copy is put in
// place in one step, so a crash leaves the old photo or the new one, whole.
// Once it is in place, the contact's photos under the other two extensions
// are removed, so the picture just chosen is the one found from then on.
// DeletePhoto removes the file FindPhoto finds.
//
// A contact name that cannot be a file name in the folder (empty, ".",
// "..", or holding "\", "/", ":", "*", "?", '"', "<", ">", "|" or a control
// character) is refused with kInvalidArgument and nothing is touched.
#ifndef TELVANE_CONTACTS_PHOTOS_H_
#define TELVANE_CONTACTS_PHOTOS_H_

#include <string>
#include <string_view>

#include "platform/status.h"

namespace contacts {

// The extensions of photo files, in the order they are looked for.
inline constexpr std::u16string_view kPhotoExtensions[] = {u".bmp", u".gif",
                                                           u".jpg"};

// Whether `name` can name a photo file (see above).
bool IsPhotoName(std::u16string_view name);

// Copies `source` (a device path) to "FOLDER NAME EXT" with the source's
// extension (as it is spelt), replacing a photo there, then removes the
// contact's other photos; the new photo's device path in `*stored`.
// Fails with kInvalidArgument for a bad name or a source without one of the
// photo extensions (compared in lower case), kNotFound when the source is
// missing, and with the file system's error otherwise (nothing changed).
// An older photo that cannot be removed fails it with that error, the new
// photo already in place and `*stored` set. Choosing the contact's own
// photo file keeps it and removes the others. `stored` may be null.
platform::Status SetPhoto(std::u16string_view photo_folder,
                          std::u16string_view name, std::u16string_view source,
                          std::u16string* stored);

// Removes the contact's photo (the first of ".bmp", ".gif", ".jpg" that
// exists); kNotFound when there is none.
platform::Status DeletePhoto(std::u16string_view photo_folder,
                             std::u16string_view name);

}  // namespace contacts

#endif  // TELVANE_CONTACTS_PHOTOS_H_
