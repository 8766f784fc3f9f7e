// draw_skins: paints the background bitmaps of the popup skins that ship
// with the program and writes them as 24-bit BMP files beside their ".cfg"
// files (skins/ in the repository, where both are committed). Every picture
// is drawn here from shapes; nothing is copied.
//
//   draw_skins OUTPUT_FOLDER
//
// Each bitmap is as large as its skin's DialogWidth x DialogHeight and
// leaves room for the rectangles its ".cfg" names (keep the two in step
// when changing either). Sunset is drawn on magenta (255, 0, 255): its
// ".cfg" sets TransparentColor, so the popup cuts the window to the
// bubble and its tail, the top-left pixel's colour being the key.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

QImage Canvas(int width, int height, QColor background) {
  QImage image(width, height, QImage::Format_RGB888);
  image.fill(background);
  return image;
}

// Blue: 200 x 96, a night-blue card with a light band for the sender and
// label boxes at the left ("From:" 6,6-48,24 and "Info:" 6,30-48,48).
QImage Blue() {
  QImage image = Canvas(200, 96, QColor(0x10, 0x1c, 0x3c));
  QPainter p(&image);
  QLinearGradient body(0, 0, 0, 96);
  body.setColorAt(0, QColor(0x1d, 0x3f, 0x8a));
  body.setColorAt(1, QColor(0x0c, 0x1b, 0x45));
  p.fillRect(QRect(1, 1, 198, 94), body);
  p.setPen(QColor(0x7f, 0xa7, 0xf0));
  p.drawRect(QRect(0, 0, 199, 95));
  // The sender's band (50, 6, 194, 24).
  p.fillRect(QRect(48, 5, 148, 20), QColor(0x2f, 0x5f, 0xc0));
  p.setPen(QColor(0x9d, 0xbd, 0xf5));
  p.drawRect(QRect(48, 5, 147, 19));
  // The label boxes.
  p.setPen(QColor(0x45, 0x6e, 0xc4));
  p.setBrush(QColor(0x16, 0x2d, 0x66));
  p.drawRect(QRect(4, 5, 42, 19));
  p.drawRect(QRect(4, 29, 42, 19));
  // A thin rule under the message area and three stars.
  p.setPen(QColor(0x3a, 0x5f, 0xb0));
  p.drawLine(50, 91, 194, 91);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xf5, 0xe0, 0x8a));
  for (QPoint star : {QPoint(12, 62), QPoint(26, 74), QPoint(18, 84)}) {
    p.drawEllipse(star, 2, 2);
  }
  return image;
}

// Sunset: 190 x 110, an orange speech bubble with a tail at the bottom
// left, on the magenta key colour; a round frame for the photo at
// 10,10-58,58.
QImage Sunset() {
  const QColor key(255, 0, 255);
  QImage image = Canvas(190, 110, key);
  QPainter p(&image);
  // No antialiasing: the edge must not blend into the key colour.
  QPainterPath bubble;
  bubble.addRoundedRect(QRectF(2, 2, 185, 90), 18, 18);
  QPainterPath tail;
  tail.moveTo(24, 86);
  tail.lineTo(14, 107);
  tail.lineTo(50, 88);
  tail.closeSubpath();
  bubble = bubble.united(tail);
  QLinearGradient glow(0, 0, 0, 110);
  glow.setColorAt(0, QColor(0xff, 0xd8, 0x7a));
  glow.setColorAt(1, QColor(0xf2, 0x7a, 0x3a));
  p.fillPath(bubble, glow);
  p.setPen(QPen(QColor(0x9a, 0x3b, 0x12), 2));
  p.drawPath(bubble);
  // The photo's frame.
  p.setPen(QPen(QColor(0xff, 0xf4, 0xe0), 2));
  p.setBrush(QColor(0xf9, 0xb0, 0x5a));
  p.drawEllipse(QRect(8, 8, 52, 52));
  // A sun setting behind the text.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xff, 0xec, 0xb0));
  p.drawPie(QRect(140, 60, 40, 40), 0, 180 * 16);
  return image;
}

// Mint: 220 x 80, a green card: the photo at the left (6,6-64,74), label
// boxes and white fields for the sender and the message.
QImage Mint() {
  QImage image = Canvas(220, 80, QColor(0x2e, 0x8b, 0x6a));
  QPainter p(&image);
  QLinearGradient body(0, 0, 220, 0);
  body.setColorAt(0, QColor(0xc9, 0xf2, 0xdc));
  body.setColorAt(1, QColor(0x8f, 0xd9, 0xb8));
  p.fillRect(QRect(2, 2, 216, 76), body);
  // The photo's box.
  p.setPen(QColor(0x2e, 0x8b, 0x6a));
  p.setBrush(QColor(0xe8, 0xfa, 0xf0));
  p.drawRect(QRect(5, 5, 59, 69));
  // Fields for the sender (106,6-214,22) and the text (106,26-214,74).
  p.setBrush(QColor(0xfb, 0xff, 0xfd));
  p.drawRect(QRect(104, 5, 110, 17));
  p.drawRect(QRect(104, 25, 110, 49));
  // A leaf in the corner of the photo box.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x3f, 0xa8, 0x7c));
  p.drawEllipse(QRect(70, 52, 26, 14));
  p.setPen(QColor(0x2e, 0x8b, 0x6a));
  p.drawLine(72, 59, 94, 59);
  return image;
}

bool Save(const QImage& image, const QString& folder, const QString& name) {
  QString path = QDir(folder).filePath(name);
  if (!image.save(path, "BMP")) {
    std::fprintf(stderr, "draw_skins: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: draw_skins OUTPUT_FOLDER\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  bool ok = Save(Blue(), folder, "Blue.bmp") &&
            Save(Sunset(), folder, "Sunset.bmp") &&
            Save(Mint(), folder, "Mint.bmp");
  return ok ? 0 : 1;
}
