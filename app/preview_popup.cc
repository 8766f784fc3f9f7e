#include "app/preview_popup.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "kit/device_window.h"
#include "kit/screen.h"

namespace app {

PreviewPopup::PreviewPopup(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("dialog.") + QString::number(kPreviewTemplate));
  QSize screen = kit::DeviceScreenSize();
  setFixedSize(screen.width() - 4, screen.height() / 3);
  setAutoFillBackground(true);
  QPalette look = palette();
  look.setColor(QPalette::Window, QColor(0xff, 0xff, 0xe1));
  look.setColor(QPalette::WindowText, Qt::black);
  setPalette(look);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  header_ = new QLabel(this);
  kit::SetControlId(header_, kPreviewHeader);
  QFont bold = header_->font();
  bold.setBold(true);
  header_->setFont(bold);
  body_ = new QLabel(this);
  kit::SetControlId(body_, kPreviewBody);
  body_->setWordWrap(true);
  body_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(header_);
  layout->addWidget(body_, 1);
  hide_timer_ = new QTimer(this);
  hide_timer_->setSingleShot(true);
  connect(hide_timer_, &QTimer::timeout, this, &QWidget::hide);
}

void PreviewPopup::ShowPreview(const QString& header, const QString& body,
                               int y) {
  header_->setText(header);
  body_->setText(body);
  move(kit::DeviceScreenRect().topLeft() + QPoint(2, y));
  show();
  raise();
  hide_timer_->start(kPreviewShowMs);
}

QString PreviewPopup::header_text() const { return header_->text(); }
QString PreviewPopup::body_text() const { return body_->text(); }

void PreviewPopup::mousePressEvent(QMouseEvent*) {
  hide_timer_->stop();
  hide();
}

}  // namespace app
