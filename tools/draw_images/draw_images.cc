// draw_images: paints the program's bitmaps and icons and writes them as PNG
// files into a folder (kit/images/ in the repository, where they are
// committed). Every picture is drawn here from shapes; nothing is copied.
//
//   draw_images OUTPUT_FOLDER [--preview FOLDER]
//
// --preview also writes every picture enlarged (16 x 16 pictures 8 times,
// larger ones 3 times) into FOLDER, for looking at them.
// Strips of 16 x 16 images (tree icons 112, toolbar 131, file icons 128)
// are drawn on magenta (255, 0, 255), the colour the program treats as
// transparent for them. The popup bitmap 158 is drawn on white, the key
// colour of its shaped window.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <functional>

namespace {

const QColor kMagenta(255, 0, 255);
const QColor kInk(0x20, 0x30, 0x50);
const QColor kPaper(0xfd, 0xfd, 0xf4);
const QColor kFolder(0xf2, 0xc1, 0x4e);
const QColor kFolderDark(0xb7, 0x86, 0x1b);
const QColor kBlue(0x2f, 0x6f, 0xd0);
const QColor kRed(0xd0, 0x3a, 0x2f);
const QColor kGreen(0x2f, 0x9a, 0x4a);

QImage Canvas(int width, int height, QColor background) {
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(background);
  return image;
}

// ---------------------------------------------------------------- pieces

void Folder(QPainter& p, bool open = false) {
  p.setPen(QPen(kFolderDark, 1));
  p.setBrush(kFolder);
  p.drawRect(1, 3, 6, 2);
  p.drawRect(1, 4, 13, 9);
  if (open) {
    p.setBrush(kFolder.lighter(115));
    QPolygon front(
        {QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13)});
    p.drawPolygon(front);
  }
}

void Envelope(QPainter& p, QColor body, QColor flap, bool open = false) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(body);
  p.drawRect(1, 4, 13, 9);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(flap, 1));
  if (open) {
    p.drawLine(1, 4, 7, 0);
    p.drawLine(7, 0, 14, 4);
    p.drawLine(2, 5, 7, 9);
    p.drawLine(7, 9, 13, 5);
  } else {
    p.drawLine(2, 5, 7, 9);
    p.drawLine(7, 9, 13, 5);
  }
}

void Bin(QPainter& p, bool full) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(QColor(0xc8, 0xd2, 0xdc));
  QPolygon can({QPoint(3, 4), QPoint(12, 4), QPoint(11, 14), QPoint(4, 14)});
  p.drawPolygon(can);
  p.drawLine(2, 3, 13, 3);
  p.drawLine(6, 2, 9, 2);
  p.drawLine(6, 6, 6, 12);
  p.drawLine(9, 6, 9, 12);
  if (full) {
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawRect(4, 0, 4, 4);
    p.setBrush(kFolder);
    p.drawRect(8, 1, 4, 3);
  }
}

void Document(QPainter& p) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(kPaper);
  p.drawRect(3, 1, 9, 13);
  p.drawLine(5, 4, 10, 4);
  p.drawLine(5, 7, 10, 7);
  p.drawLine(5, 10, 8, 10);
}

void UpArrow(QPainter& p) {
  Folder(p);
  p.setPen(QPen(kGreen, 2));
  p.drawLine(8, 12, 8, 6);
  p.drawLine(5, 8, 8, 5);
  p.drawLine(11, 8, 8, 5);
}

void CheckBox(QPainter& p, bool checked) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(Qt::white);
  p.drawRect(2, 2, 11, 11);
  if (checked) {
    p.setPen(QPen(kGreen, 2));
    p.drawLine(4, 8, 7, 11);
    p.drawLine(7, 11, 12, 4);
  }
}

void Pencil(QPainter& p) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(kFolder);
  QPolygon body({QPoint(3, 12), QPoint(11, 2), QPoint(14, 5), QPoint(5, 14)});
  p.drawPolygon(body);
  p.setBrush(kInk);
  p.drawPolygon(QPolygon({QPoint(3, 12), QPoint(5, 14), QPoint(1, 15)}));
}

void Disk(QPainter& p) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(kBlue);
  p.drawRect(1, 1, 13, 13);
  p.setBrush(Qt::white);
  p.drawRect(4, 1, 7, 5);
  p.setBrush(QColor(0xdd, 0xdd, 0xdd));
  p.drawRect(3, 9, 9, 5);
}

void Cross(QPainter& p) {
  p.setPen(QPen(kRed, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(3, 3, 12, 12);
  p.drawLine(12, 3, 3, 12);
}

void Arrow(QPainter& p, bool left) {
  p.setPen(QPen(kBlue, 2, Qt::SolidLine, Qt::RoundCap));
  if (left) {
    p.drawLine(13, 12, 13, 9);
    p.drawArc(QRect(4, 3, 9, 12), 0, 90 * 16);
    p.drawLine(3, 6, 7, 3);
    p.drawLine(3, 6, 7, 9);
  } else {
    p.drawLine(2, 12, 2, 9);
    p.drawArc(QRect(2, 3, 9, 12), 90 * 16, 90 * 16);
    p.drawLine(12, 6, 8, 3);
    p.drawLine(12, 6, 8, 9);
  }
}

// A strip of 16 x 16 frames drawn by `frames`, on magenta.
QImage Strip(const std::vector<std::function<void(QPainter&)>>& frames) {
  QImage image = Canvas(16 * static_cast<int>(frames.size()), 16, kMagenta);
  QPainter p(&image);
  for (size_t i = 0; i < frames.size(); ++i) {
    p.save();
    p.translate(16 * static_cast<int>(i), 0);
    p.setClipRect(0, 0, 16, 16);
    frames[i](p);
    p.restore();
  }
  return image;
}

// ---------------------------------------------------------------- images

// 112: 0 document, 1 folder, 2 read message, 3 unread message, 4 empty
// Recycle Bin, 5 full Recycle Bin, 6 up, 7 unmarked, 8 marked.
QImage TreeIcons() {
  return Strip(
      {Document, [](QPainter& p) { Folder(p); },
       [](QPainter& p) { Envelope(p, kPaper, kInk, true); },
       [](QPainter& p) { Envelope(p, QColor(0xff, 0xf0, 0x9a), kRed); },
       [](QPainter& p) { Bin(p, false); }, [](QPainter& p) { Bin(p, true); },
       UpArrow, [](QPainter& p) { CheckBox(p, false); },
       [](QPainter& p) { CheckBox(p, true); }});
}

// 131: Save, New Draft, New SMS, Edit, Delete, Reply, Forward.
QImage Toolbar() {
  return Strip({Disk,
                [](QPainter& p) {
                  Document(p);
                  p.setPen(QPen(kGreen, 2));
                  p.drawLine(11, 10, 15, 10);
                  p.drawLine(13, 8, 13, 12);
                },
                [](QPainter& p) {
                  Envelope(p, kPaper, kInk);
                  p.setPen(QPen(kGreen, 2));
                  p.drawLine(11, 2, 15, 2);
                  p.drawLine(13, 0, 13, 4);
                },
                Pencil, Cross, [](QPainter& p) { Arrow(p, true); },
                [](QPainter& p) { Arrow(p, false); }});
}

// 128: 0 folder, 1 file.
QImage FileIcons() {
  return Strip({[](QPainter& p) { Folder(p); }, Document});
}

// 130: the title strip's background, the width of the screen.
QImage TitleStrip() {
  QImage image = Canvas(240, 18, Qt::white);
  QPainter p(&image);
  QLinearGradient gradient(0, 0, 0, 18);
  gradient.setColorAt(0, QColor(0xe8, 0xf0, 0xfb));
  gradient.setColorAt(1, QColor(0xb4, 0xc9, 0xe8));
  p.fillRect(image.rect(), gradient);
  p.setPen(QColor(0x7f, 0x99, 0xc2));
  p.drawLine(0, 17, 239, 17);
  return image;
}

// The program's icon (tray 129), with an alpha channel.
QImage AppIcon(int size) {
  QImage image = Canvas(size, size, Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  p.setPen(QPen(QColor(0x10, 0x3c, 0x8c), 0.8));
  p.setBrush(kBlue);
  p.drawRoundedRect(QRectF(0.5, 2.5, 15, 11), 2, 2);
  p.setPen(QPen(Qt::white, 1.2));
  p.drawLine(QPointF(1.5, 3.5), QPointF(8, 9));
  p.drawLine(QPointF(8, 9), QPointF(14.5, 3.5));
  p.setPen(Qt::NoPen);
  p.setBrush(kFolder);
  p.drawEllipse(QPointF(12.5, 11.5), 3, 3);
  return image;
}

// The unread notification icon 158, with an alpha channel.
QImage NotifyIcon(int size) {
  QImage image = Canvas(size, size, Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  p.setPen(QPen(kInk, 0.8));
  p.setBrush(QColor(0xff, 0xf0, 0x9a));
  p.drawRect(QRectF(0.5, 3.5, 13, 9));
  p.drawLine(QPointF(0.5, 3.5), QPointF(7, 8.5));
  p.drawLine(QPointF(7, 8.5), QPointF(13.5, 3.5));
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawEllipse(QPointF(13, 3.5), 3, 3);
  return image;
}

// The built-in popup look, bitmap 158: 150 x 95, white around a rounded
// panel (white is the key colour of the shaped window).
QImage PopupBitmap() {
  QImage image = Canvas(150, 95, Qt::white);
  QPainter p(&image);
  QPainterPath panel;
  panel.addRoundedRect(QRectF(1, 1, 147, 92), 10, 10);
  QLinearGradient gradient(0, 0, 0, 95);
  gradient.setColorAt(0, QColor(0xfe, 0xf6, 0xd8));
  gradient.setColorAt(1, QColor(0xf3, 0xd9, 0x8c));
  p.fillPath(panel, gradient);
  p.setPen(QPen(QColor(0x9c, 0x6b, 0x12), 2));
  p.drawPath(panel);
  // The band behind the second text (29, 6, 145, 22).
  p.fillRect(QRect(27, 5, 117, 18), QColor(0xff, 0xff, 0xf2));
  p.setPen(QColor(0xd6, 0xb3, 0x5c));
  p.drawRect(QRect(27, 5, 117, 18));
  // A frame for the photo (5, 30, 45, 70).
  p.fillRect(QRect(4, 29, 42, 42), QColor(0xfb, 0xee, 0xc3));
  p.drawRect(QRect(4, 29, 42, 42));
  // A small envelope at the top left.
  p.translate(7, 5);
  Envelope(p, QColor(0xff, 0xff, 0xff), kRed);
  return image;
}

// 139: the password prompt's background, the whole screen.
QImage PasswordBackground() {
  QImage image = Canvas(240, 294, Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient gradient(0, 0, 0, 294);
  gradient.setColorAt(0, QColor(0x1f, 0x3d, 0x7a));
  gradient.setColorAt(1, QColor(0x6f, 0x93, 0xd1));
  p.fillRect(image.rect(), gradient);
  // A padlock.
  p.setPen(QPen(QColor(0xe9, 0xee, 0xf7), 7));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(95, 30, 50, 56), 0, 180 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xf2, 0xc1, 0x4e));
  p.drawRoundedRect(QRectF(84, 58, 72, 56), 8, 8);
  p.setBrush(QColor(0x5a, 0x40, 0x10));
  p.drawEllipse(QPointF(120, 80), 7, 7);
  p.drawRect(QRectF(117, 82, 6, 18));
  return image;
}

QString g_preview_folder;

bool Save(const QImage& image, const QString& folder, const QString& name) {
  if (!g_preview_folder.isEmpty()) {
    int factor = image.height() <= 32 ? 8 : 3;
    image
        .scaled(image.size() * factor, Qt::IgnoreAspectRatio,
                Qt::FastTransformation)
        .save(QDir(g_preview_folder).filePath(name), "PNG");
  }
  QString path = QDir(folder).filePath(name);
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "draw_images: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && QByteArray(argv[2]) == "--preview")) {
    std::fprintf(stderr,
                 "usage: draw_images OUTPUT_FOLDER [--preview FOLDER]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  if (argc == 4) {
    g_preview_folder = QString::fromLocal8Bit(argv[3]);
    QDir().mkpath(g_preview_folder);
  }
  bool ok = Save(TreeIcons(), folder, "bitmap112_tree.png") &&
            Save(FileIcons(), folder, "bitmap128_files.png") &&
            Save(TitleStrip(), folder, "bitmap130_title.png") &&
            Save(Toolbar(), folder, "bitmap131_toolbar.png") &&
            Save(PasswordBackground(), folder, "bitmap139_password.png") &&
            Save(PopupBitmap(), folder, "bitmap158_popup.png") &&
            Save(AppIcon(16), folder, "icon129_tray16.png") &&
            Save(AppIcon(32), folder, "icon129_tray32.png") &&
            Save(NotifyIcon(16), folder, "icon158_notify16.png") &&
            Save(NotifyIcon(32), folder, "icon158_notify32.png");
  return ok ? 0 : 1;
}
