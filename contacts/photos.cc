#include "contacts/photos.h"

#include <filesystem>
#include <optional>

#include "contacts/picker_list.h"
#include "platform/files.h"

namespace contacts {
namespace {

using platform::ErrorCode;
using platform::Status;

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

// The extension of the last component of `path` (from its last "."), as
// spelt; empty when it has none.
std::u16string_view ExtensionOf(std::u16string_view path) {
  size_t separator = path.find_last_of(u"\\/");
  size_t start = separator == std::u16string_view::npos ? 0 : separator + 1;
  size_t dot = path.rfind(u'.');
  if (dot == std::u16string_view::npos || dot < start) return {};
  return path.substr(dot);
}

bool IsPhotoExtension(std::u16string_view extension) {
  for (std::u16string_view known : kPhotoExtensions) {
    if (EqualsIgnoringAsciiCase(extension, known)) return true;
  }
  return false;
}

// Whether two device paths name one existing file.
bool SameFile(std::u16string_view a, std::u16string_view b) {
  std::optional<std::filesystem::path> host_a = platform::files::Resolve(a);
  std::optional<std::filesystem::path> host_b = platform::files::Resolve(b);
  if (!host_a || !host_b) return false;
  std::error_code error;
  return std::filesystem::equivalent(*host_a, *host_b, error) && !error;
}

std::u16string PhotoPath(std::u16string_view folder, std::u16string_view name,
                         std::u16string_view extension) {
  std::u16string path(folder);
  path += name;
  path += extension;
  return path;
}

}  // namespace

bool IsPhotoName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20) return false;
    switch (c) {
      case u'\\':
      case u'/':
      case u':':
      case u'*':
      case u'?':
      case u'"':
      case u'<':
      case u'>':
      case u'|':
        return false;
      default:
        break;
    }
  }
  return true;
}

Status SetPhoto(std::u16string_view photo_folder, std::u16string_view name,
                std::u16string_view source, std::u16string* stored) {
  if (!IsPhotoName(name)) {
    return Status(ErrorCode::kInvalidArgument,
                  "a contact name that cannot name a photo file");
  }
  std::u16string_view extension = ExtensionOf(source);
  if (!IsPhotoExtension(extension)) {
    return Status(ErrorCode::kInvalidArgument,
                  "a photo must be a .bmp, .gif or .jpg file");
  }
  std::u16string target = PhotoPath(photo_folder, name, extension);
  // The photo chosen may already be the contact's own (Copy refuses to copy
  // a file onto itself); it stays as it is.
  if (!SameFile(source, target)) {
    if (Status copied =
            platform::files::Copy(source, target, /*fail_if_exists=*/false);
        !copied.ok()) {
      return copied;
    }
  }
  if (stored != nullptr) *stored = target;

  // The photo is in place; the older ones under the other extensions would
  // be found before it, so they go.
  Status result;
  for (std::u16string_view other : kPhotoExtensions) {
    if (EqualsIgnoringAsciiCase(other, extension)) continue;
    std::u16string path = PhotoPath(photo_folder, name, other);
    if (!platform::files::Exists(path) || platform::files::IsFolder(path)) {
      continue;
    }
    if (Status removed = platform::files::Delete(path);
        !removed.ok() && result.ok()) {
      result = removed;
    }
  }
  return result;
}

Status DeletePhoto(std::u16string_view photo_folder, std::u16string_view name) {
  if (!IsPhotoName(name)) {
    return Status(ErrorCode::kInvalidArgument,
                  "a contact name that cannot name a photo file");
  }
  std::optional<std::u16string> photo = FindPhoto(photo_folder, name);
  if (!photo) return Status(ErrorCode::kNotFound, "the contact has no photo");
  return platform::files::Delete(*photo);
}

}  // namespace contacts
