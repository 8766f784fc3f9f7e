#include "kit/images.h"

#include <QBitmap>
#include <QImage>
#include <QString>

namespace kit {
namespace {

QString BitmapPath(int id) {
  switch (id) {
    case kBitmapTreeIcons:
      return QStringLiteral(":/images/bitmap112_tree.png");
    case kBitmapFileIcons:
      return QStringLiteral(":/images/bitmap128_files.png");
    case kBitmapTitleStrip:
      return QStringLiteral(":/images/bitmap130_title.png");
    case kBitmapToolbar:
      return QStringLiteral(":/images/bitmap131_toolbar.png");
    case kBitmapPasswordBackground:
      return QStringLiteral(":/images/bitmap139_password.png");
    case kBitmapPopup:
      return QStringLiteral(":/images/bitmap158_popup.png");
    default:
      return {};
  }
}

bool IsStrip(int id) {
  return id == kBitmapTreeIcons || id == kBitmapFileIcons ||
         id == kBitmapToolbar;
}

}  // namespace

QPixmap Bitmap(int id) {
  QString path = BitmapPath(id);
  return path.isEmpty() ? QPixmap() : QPixmap(path);
}

QIcon Icon(int id) {
  QIcon icon;
  if (id == kIconTray) {
    icon.addFile(QStringLiteral(":/images/icon129_tray16.png"));
    icon.addFile(QStringLiteral(":/images/icon129_tray32.png"));
  } else if (id == kIconNotify) {
    icon.addFile(QStringLiteral(":/images/icon158_notify16.png"));
    icon.addFile(QStringLiteral(":/images/icon158_notify32.png"));
  }
  return icon;
}

std::vector<QPixmap> ImageStrip(int id) {
  std::vector<QPixmap> frames;
  if (!IsStrip(id)) return frames;
  QImage strip = QImage(BitmapPath(id)).convertToFormat(QImage::Format_ARGB32);
  for (int x = 0; x + 16 <= strip.width(); x += 16) {
    QImage frame = strip.copy(x, 0, 16, 16);
    for (int row = 0; row < frame.height(); ++row) {
      auto* pixels = reinterpret_cast<QRgb*>(frame.scanLine(row));
      for (int col = 0; col < frame.width(); ++col) {
        if ((pixels[col] & 0xFFFFFF) == 0xFF00FF) pixels[col] = 0;
      }
    }
    frames.push_back(QPixmap::fromImage(frame));
  }
  return frames;
}

}  // namespace kit
