#include "alerts/ui/popup_look.h"

#include <QBuffer>
#include <QByteArray>
#include <QFontMetrics>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "kit/fonts.h"
#include "kit/images.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/files.h"
#include "platform/unicode.h"
#include "settings/font_description.h"
#include "text/text.h"

namespace alerts::ui {
namespace {

// Device files larger than this are not read (no skin or picture is).
constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;
// Row runs gathered before they are made into a region and united.
constexpr int kRunsPerBlock = 2000;
constexpr int32_t kMaxCoordinate = 32767;

int ClampCoordinate(int32_t value) {
  return std::clamp(value, -kMaxCoordinate, kMaxCoordinate);
}

QImage DecodeImage(const std::string& bytes, const char* format) {
  QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  if (format == nullptr) {
    QByteArray found = reader.format();
    if (found != "bmp" && found != "gif" && found != "jpeg") return QImage();
  }
  QImage image = reader.read();
  return image;
}

void FinishLook(SkinLook* look) {
  look->font = SkinFont(look->skin.font_size);
  look->shape = look->skin.shaped() ? ShapeFromBitmap(look->bitmap) : QRegion();
}

// Reads a skin's bitmap, then its ".cfg" file, each whole, into `look` (the
// bitmap, the values the file sets). Nothing of `look` changes unless both
// are read and the bitmap decodes.
platform::Status ReadSkinFiles(std::u16string_view cfg_path, SkinLook* look) {
  std::optional<std::u16string> bitmap_path = SkinBitmapPath(cfg_path);
  if (!bitmap_path) {
    return platform::Status(platform::ErrorCode::kNotFound, "no skin");
  }
  platform::Status status;
  std::optional<std::string> bitmap_bytes =
      ReadDeviceFile(*bitmap_path, kMaxFileBytes, &status);
  if (!bitmap_bytes) return status;
  QImage bitmap = DecodeImage(*bitmap_bytes, "BMP");
  if (bitmap.isNull()) {
    return platform::Status(
        platform::ErrorCode::kInvalidArgument,
        platform::ToUtf8(*bitmap_path) + " is not a BMP image that decodes");
  }
  std::optional<std::string> cfg_bytes =
      ReadDeviceFile(cfg_path, kMaxFileBytes, &status);
  if (!cfg_bytes) return status;
  look->bitmap = bitmap.convertToFormat(QImage::Format_RGB32);
  ReadSkinValues(CfgFile(*cfg_bytes), &look->skin);
  return platform::Status::Ok();
}

}  // namespace

std::optional<std::string> ReadDeviceFile(std::u16string_view path,
                                          size_t max_bytes,
                                          platform::Status* status) {
  platform::Status local;
  platform::Status& result = status != nullptr ? *status : local;
  std::optional<uint64_t> size = platform::files::Size(path, &result);
  if (!size) return std::nullopt;
  std::string bytes;
  if (*size <= max_bytes) {
    result = platform::files::ReadWhole(path, &bytes);
    if (!result.ok()) return std::nullopt;
  }
  // Checked again after the read: the file may have grown meanwhile.
  if (*size > max_bytes || bytes.size() > max_bytes) {
    result = platform::Status(platform::ErrorCode::kInvalidArgument,
                              platform::ToUtf8(path) + " is larger than " +
                                  std::to_string(max_bytes) + " bytes");
    return std::nullopt;
  }
  return bytes;
}

void InstallBuiltInLook(SkinLook* look) {
  SetBuiltInLook(&look->skin);
  look->bitmap = kit::Bitmap(kit::kBitmapPopup)
                     .toImage()
                     .convertToFormat(QImage::Format_RGB32);
  look->built_in = true;
  FinishLook(look);
}

platform::Status LoadSkinLook(std::u16string_view cfg_path, SkinLook* look) {
  look->bitmap = QImage();
  platform::Status status = ReadSkinFiles(cfg_path, look);
  if (!status.ok()) {
    InstallBuiltInLook(look);
    return status;
  }
  look->skin.path = std::u16string(cfg_path);
  look->built_in = false;
  FinishLook(look);
  return platform::Status::Ok();
}

QRegion ShapeFromBitmap(const QImage& bitmap) {
  QRegion shape;
  if (bitmap.isNull()) return shape;
  QImage image = bitmap.convertToFormat(QImage::Format_RGB32);
  const QRgb key = image.pixel(0, 0) & 0xFFFFFFu;
  std::vector<QRect> runs;
  runs.reserve(kRunsPerBlock);
  auto flush = [&] {
    if (runs.empty()) return;
    QRegion block;
    block.setRects(runs.data(), static_cast<int>(runs.size()));
    shape = shape.united(block);
    runs.clear();
  };
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    int x = 0;
    while (x < image.width()) {
      if ((row[x] & 0xFFFFFFu) == key) {
        ++x;
        continue;
      }
      int start = x;
      while (x < image.width() && (row[x] & 0xFFFFFFu) != key) ++x;
      runs.emplace_back(start, y, x - start, 1);
      if (static_cast<int>(runs.size()) == kRunsPerBlock) flush();
    }
  }
  flush();
  return shape;
}

QFont SkinFont(int32_t font_size) {
  settings::FontDescription description = settings::DefaultFontDescription();
  int64_t pixels = int64_t{font_size} * kDeviceLogicalDpi / 72;
  pixels = std::clamp<int64_t>(pixels, -std::numeric_limits<int32_t>::max(),
                               std::numeric_limits<int32_t>::max());
  description.height = static_cast<int32_t>(-pixels);
  description.weight = settings::kFontWeightNormal;
  return kit::FontFromDescription(description);
}

QRect ToQRect(const SkinRect& rect) {
  int left = ClampCoordinate(rect.left);
  int top = ClampCoordinate(rect.top);
  int right = std::max(ClampCoordinate(rect.right), left);
  int bottom = std::max(ClampCoordinate(rect.bottom), top);
  return QRect(left, top, right - left, bottom - top);
}

QColor ToQColor(uint32_t colour) {
  return QColor(static_cast<int>(colour & 0xFF),
                static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

QRect DialogGeometry(const PopupSkin& skin) {
  return QRect(ClampCoordinate(skin.dialog_left),
               ClampCoordinate(skin.dialog_top),
               std::clamp(skin.dialog_width, 1, 4096),
               std::clamp(skin.dialog_height, 1, 4096));
}

void PaintPopup(QPainter& painter, const SkinLook& look,
                const PopupContent& content) {
  const PopupSkin& skin = look.skin;
  painter.drawImage(0, 0, look.bitmap);
  painter.setFont(look.font);
  painter.setBackgroundMode(Qt::TransparentMode);
  constexpr int kCentred = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
  if (skin.show_number != 0) {
    painter.setPen(ToQColor(skin.num_color));
    painter.drawText(ToQRect(skin.num_text_rect), kCentred,
                     content.second_text);
  }
  if (skin.show_description != 0) {
    QRect area = ToQRect(skin.des_text_rect);
    painter.save();
    painter.setClipRect(area);
    painter.setPen(ToQColor(skin.des_color));
    QRect moved(area.left(), area.top() - content.scroll_offset, area.width(),
                std::max(area.height(), content.text_height));
    painter.drawText(moved, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     content.main_text);
    painter.restore();
  }
  if (!content.picture.isNull() && skin.show_photo != 0) {
    QRect box = ToQRect(skin.photo_rect);
    QSize fitted =
        content.picture.size().scaled(box.size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), fitted);
    target.moveCenter(box.center());
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, content.picture);
    painter.restore();
  }
  if (skin.show_number_label != 0 || skin.show_description_label != 0) {
    painter.setPen(ToQColor(skin.label_color));
    if (skin.show_number_label != 0) {
      painter.drawText(ToQRect(skin.num_label_rect), kCentred,
                       kit::Str(kit::ids::kFromColon));
    }
    if (skin.show_description_label != 0) {
      painter.drawText(ToQRect(skin.des_label_rect), kCentred,
                       kit::Str(kit::ids::kInfoColon));
    }
  }
}

int MeasureMainText(const SkinLook& look, const QString& text) {
  QFontMetrics metrics(look.font);
  QRect area = ToQRect(look.skin.des_text_rect);
  QRect bounds(0, 0, std::max(area.width(), 1), 1 << 20);
  return metrics
      .boundingRect(bounds, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                    text)
      .height();
}

std::u16string FindPicturePath(const PictureQuery& query) {
  if (query.named_sender && !query.second_text.empty()) {
    for (std::u16string_view extension : {u".bmp", u".gif", u".jpg"}) {
      std::u16string candidate =
          query.photo_folder + query.second_text + std::u16string(extension);
      if (text::FileExists(candidate)) return candidate;
    }
  }
  if (!query.given_path.empty() && text::FileExists(query.given_path)) {
    return query.given_path;
  }
  if (!query.default_photo.empty() && text::FileExists(query.default_photo)) {
    return query.default_photo;
  }
  return {};
}

QImage LoadPicture(std::u16string_view path) {
  if (path.empty()) return QImage();
  std::optional<std::string> bytes = ReadDeviceFile(path, kMaxFileBytes);
  if (!bytes) return QImage();
  return DecodeImage(*bytes, nullptr);
}

}  // namespace alerts::ui
