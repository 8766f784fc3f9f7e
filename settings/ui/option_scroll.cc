#include "settings/ui/option_scroll.h"

#include <QEvent>
#include <QLayout>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <climits>

#include "settings/settings_store.h"

namespace settings::ui {

namespace {

constexpr int kMinimumStep = 30;

}  // namespace

int ScrollStep(int client_height) {
  return std::max(client_height / 3, kMinimumStep);
}

int ScrolledOffset(int offset, int client_height, ScrollRequest request) {
  offset = std::max(offset, 0);
  int step = ScrollStep(client_height);
  switch (request) {
    case ScrollRequest::kLineUp:
    case ScrollRequest::kPageUp:
      return offset - std::min(offset, step);
    case ScrollRequest::kLineDown:
    case ScrollRequest::kPageDown: {
      int rest = std::max(client_height - offset, 0);
      return offset + std::min(step, rest);
    }
    case ScrollRequest::kTop:
      return 0;
    case ScrollRequest::kBottom:
      return offset > INT_MAX - kBottomStep ? INT_MAX : offset + kBottomStep;
  }
  return offset;
}

int OptionScrollOffset(const settings::SettingsStore& store) {
  return store.option_scroll_offset();
}

void SetOptionScrollOffset(settings::SettingsStore* store, int offset) {
  store->set_option_scroll_offset(offset);
}

OptionScrollArea::OptionScrollArea(QWidget* parent,
                                   settings::SettingsStore* store)
    : QWidget(parent), store_(store) {
  setObjectName(QStringLiteral("scroll"));
  viewport_ = new QWidget(this);
  viewport_->setObjectName(QStringLiteral("scroll.viewport"));
  page_ = new QWidget(viewport_);
  page_->setObjectName(QStringLiteral("scroll.page"));
  page_->installEventFilter(this);
  bar_ = new QScrollBar(Qt::Vertical, this);
  bar_->setObjectName(QStringLiteral("scroll.bar"));
  bar_->setFocusPolicy(Qt::NoFocus);
  connect(bar_, &QScrollBar::actionTriggered, this,
          [this](int action) { OnBarAction(action); });
  SetOptionScrollOffset(store_, 0);
  Place();
}

int OptionScrollArea::client_height() const { return viewport_->height(); }

int OptionScrollArea::offset() const { return OptionScrollOffset(*store_); }

void OptionScrollArea::Scroll(ScrollRequest request) {
  SetOptionScrollOffset(store_,
                        ScrolledOffset(offset(), client_height(), request));
  Place();
}

void OptionScrollArea::OnBarAction(int action) {
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      Scroll(ScrollRequest::kLineUp);
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      Scroll(ScrollRequest::kLineDown);
      break;
    case QAbstractSlider::SliderPageStepSub:
      Scroll(ScrollRequest::kPageUp);
      break;
    case QAbstractSlider::SliderPageStepAdd:
      Scroll(ScrollRequest::kPageDown);
      break;
    case QAbstractSlider::SliderToMinimum:
      Scroll(ScrollRequest::kTop);
      break;
    case QAbstractSlider::SliderToMaximum:
      Scroll(ScrollRequest::kBottom);
      break;
    default:  // a drag of the thumb: no request
      break;
  }
  // The bar is about to take its slider position as its value: make that
  // the offset, whatever the bar computed itself.
  bar_->setSliderPosition(std::min(offset(), bar_->maximum()));
}

void OptionScrollArea::Place() {
  int bar_width = bar_->sizeHint().width();
  int view_width = std::max(width() - bar_width, 0);
  viewport_->setGeometry(0, 0, view_width, height());
  bar_->setGeometry(view_width, 0, bar_width, height());

  int client = viewport_->height();
  int step = ScrollStep(client);
  bar_->setRange(0, client);
  bar_->setSingleStep(step);
  bar_->setPageStep(step);
  bar_->setValue(std::min(offset(), client));

  int page_height = client;
  if (QLayout* layout = page_->layout()) {
    page_height = std::max(page_height, layout->hasHeightForWidth()
                                            ? layout->heightForWidth(view_width)
                                            : layout->sizeHint().height());
  }
  // The offset has no upper bound ("bottom"); positions stay in range.
  int y = -std::min(offset(), INT_MAX / 2);
  page_->setGeometry(0, y, view_width, page_height);
}

void OptionScrollArea::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Place();
}

void OptionScrollArea::wheelEvent(QWheelEvent* event) {
  int delta = event->angleDelta().y();
  if (delta == 0) {
    event->ignore();
    return;
  }
  Scroll(delta > 0 ? ScrollRequest::kLineUp : ScrollRequest::kLineDown);
  event->accept();
}

bool OptionScrollArea::eventFilter(QObject* watched, QEvent* event) {
  // Controls shown, hidden or resized on the page change its height.
  if (watched == page_ && event->type() == QEvent::LayoutRequest) Place();
  return QWidget::eventFilter(watched, event);
}

}  // namespace settings::ui
