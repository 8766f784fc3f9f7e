#include "settings/ui/font_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>
#include <cmath>
#include <string>

#include "kit/fonts.h"
#include "kit/menu_table.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "settings/settings_store.h"

namespace settings::ui {

namespace {

constexpr int kMargin = 4;
constexpr int kSpacing = 4;
// Room around a text drawn in its own font.
constexpr int kTextPadding = 6;

// The sizes offered, in points.
constexpr int kSizes[] = {8, 9, 10, 11, 12, 14, 16, 20, 24};

// The screen's resolution when nothing tells it.
constexpr int kFallbackDpi = 96;

}  // namespace

int ScreenDpiY(const QWidget* widget) {
  QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return kFallbackDpi;
  const int dpi = static_cast<int>(std::lround(screen->logicalDotsPerInchY()));
  return dpi > 0 ? dpi : kFallbackDpi;
}

int64_t HeightToPoints(int32_t height, int dpi_y) {
  return std::llround(static_cast<double>(height) * -72.0 / dpi_y);
}

int32_t PointsToHeight(int points, int dpi_y) {
  return static_cast<int32_t>(
      -std::llround(static_cast<double>(points) * dpi_y / 72.0));
}

// ---------------------------------------------------------------- Preview

FontPreview::FontPreview(QWidget* parent, const QString& text)
    : QWidget(parent), text_(text) {
  SetDescription(settings::DefaultFontDescription());
}

void FontPreview::SetDescription(const settings::FontDescription& description) {
  font_ = description;
  setFont(kit::FontFromDescription(description));
  setMinimumHeight(fontMetrics().height() + 2 * kTextPadding);
  update();
}

void FontPreview::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  painter.setPen(Qt::black);
  painter.setFont(font());
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text_);
}

// ------------------------------------------------------------ Font dialog

FontDialog::FontDialog(QWidget* parent, const settings::FontDescription& font,
                       int dpi_y)
    : DeviceDialog(parent, kFontTemplate),
      font_(font),
      dpi_y_(dpi_y > 0 ? dpi_y : kFallbackDpi) {
  title_bar()->SetCaption(kit::Str(kit::ids::kFontTitle));
  soft_keys()->SetMenuBar(kit::OkCancelMenuBar());

  QWidget* page = content();
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(kSpacing);

  faces_ = new QComboBox(page);
  kit::SetControlId(faces_, kFaceList);
  faces_->addItem(kit::Str(kit::ids::kSystemMenu));
  faces_->addItems(QFontDatabase::families());
  const int face =
      faces_->findText(kit::Q(settings::FaceName(font_)),
                       Qt::MatchFixedString | Qt::MatchCaseSensitive);
  faces_->setCurrentIndex(face >= 0 ? face : 0);
  layout->addWidget(faces_);

  sizes_ = new QComboBox(page);
  kit::SetControlId(sizes_, kSizeList);
  int size_index = 0;
  const int64_t points = HeightToPoints(font_.height, dpi_y_);
  for (int i = 0; i < static_cast<int>(std::size(kSizes)); ++i) {
    sizes_->addItem(QString::number(kSizes[i]));
    if (kSizes[i] == points) size_index = i;
  }
  sizes_->setCurrentIndex(size_index);
  layout->addWidget(sizes_);

  auto* boxes = new QGridLayout();
  boxes->setSpacing(kSpacing);
  auto add_box = [&](int id, uint32_t text_id, bool checked, int row,
                     int column) {
    auto* box = new QCheckBox(kit::Str(text_id), page);
    kit::SetControlId(box, id);
    box->setChecked(checked);
    boxes->addWidget(box, row, column);
    connect(box, &QCheckBox::toggled, this, &FontDialog::StyleChanged);
    return box;
  };
  bold_ = add_box(kBoldBox, kit::ids::kBold, font_.weight == kBoldWeight, 0, 0);
  italic_ = add_box(kItalicBox, kit::ids::kItalic, font_.italic != 0, 0, 1);
  underline_ =
      add_box(kUnderlineBox, kit::ids::kUnderline, font_.underline != 0, 1, 0);
  cleartype_ = add_box(kCleartypeBox, kit::ids::kCleartype,
                       font_.quality == kCleartypeQuality, 1, 1);
  layout->addLayout(boxes);

  preview_ = new FontPreview(page, kit::Str(kit::ids::kFontPreview));
  kit::SetControlId(preview_, kFontPreviewArea);
  preview_->SetDescription(font_);
  layout->addWidget(preview_, 1);

  connect(faces_, &QComboBox::currentIndexChanged, this,
          &FontDialog::FaceChosen);
  connect(sizes_, &QComboBox::currentIndexChanged, this,
          &FontDialog::SizeChosen);
  faces_->setFocus();
}

void FontDialog::FaceChosen(int index) {
  if (index < 0) return;
  settings::SetFaceName(&font_, kit::U(faces_->itemText(index)));
  preview_->SetDescription(font_);
}

void FontDialog::SizeChosen(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kSizes))) return;
  font_.height = PointsToHeight(kSizes[index], dpi_y_);
  preview_->SetDescription(font_);
}

void FontDialog::StyleChanged() {
  font_.weight = bold_->isChecked() ? kBoldWeight : settings::kFontWeightNormal;
  font_.italic = italic_->isChecked() ? 1 : 0;
  font_.underline = underline_->isChecked() ? 1 : 0;
  font_.quality = cleartype_->isChecked() ? kCleartypeQuality : 0;
  preview_->SetDescription(font_);
}

void FontDialog::OnCommand(uint32_t command) {
  if (command == kit::cmds::kOk || command == kit::kCommandOk) {
    done(1);
    return;
  }
  if (command == kit::cmds::kCancel || command == kit::kCommandCancel) {
    done(2);
    return;
  }
  DeviceDialog::OnCommand(command);
}

void FontDialog::OnBack() { done(2); }

// ------------------------------------------------------------ Font button

FontButton::FontButton(QWidget* parent, const QString& text)
    : QPushButton(text, parent) {
  SetDescription(settings::DefaultFontDescription());
}

void FontButton::SetDescription(const settings::FontDescription& description) {
  font_ = description;
  setFont(kit::FontFromDescription(description));
  setMinimumHeight(fontMetrics().height() + 2 * kTextPadding);
  updateGeometry();
  update();
}

void FontButton::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  painter.setPen(Qt::black);
  painter.setFont(font());
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
  if (hasFocus()) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect().adjusted(2, 2, -2, -2);
    option.backgroundColor = Qt::white;
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

// ---------------------------------------------------- Font Setting dialog

FontSettingDialog::FontSettingDialog(QWidget* parent,
                                     settings::SettingsStore* settings,
                                     int dpi_y)
    : DeviceDialog(parent, kFontSettingTemplate),
      settings_(settings),
      dpi_y_(dpi_y) {
  title_bar()->SetCaption(kit::Str(kit::ids::kFontSettingTitle));
  soft_keys()->SetMenuBar(kit::OkCancelMenuBar());

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(kSpacing);
  FontButton* first =
      AddButton(kTreeViewFontButton, kit::ids::kTreeViewFont, Which::kTreeView);
  AddButton(kListViewFontButton, kit::ids::kListviewFont, Which::kListView);
  AddButton(kContentFontButton, kit::ids::kContentFont, Which::kContent);
  layout->addStretch(1);
  first->setFocus();
}

FontButton* FontSettingDialog::AddButton(int id, uint32_t text_id,
                                         Which which) {
  auto* button = new FontButton(content(), kit::Str(text_id));
  kit::SetControlId(button, id);
  button->SetDescription(Current(which));
  content()->layout()->addWidget(button);
  connect(button, &QPushButton::clicked, this,
          [this, which, button] { Edit(which, button); });
  return button;
}

settings::FontDescription FontSettingDialog::Current(Which which) const {
  switch (which) {
    case Which::kTreeView:
      return settings_->tree_view_font();
    case Which::kListView:
      return settings_->list_view_font();
    case Which::kContent:
      return settings_->content_font();
  }
  return settings_->content_font();
}

void FontSettingDialog::Edit(Which which, FontButton* button) {
  FontDialog dialog(this, Current(which),
                    dpi_y_ > 0 ? dpi_y_ : ScreenDpiY(this));
  if (dialog.Run() != 1) return;
  const settings::FontDescription& edited = dialog.description();
  switch (which) {
    case Which::kTreeView:
      settings_->set_tree_view_font(edited);
      break;
    case Which::kListView:
      settings_->set_list_view_font(edited);
      break;
    case Which::kContent:
      settings_->set_content_font(edited);
      break;
  }
  settings_->ApplyFonts();
  changed_ = true;
  button->SetDescription(edited);
}

void FontSettingDialog::OnCommand(uint32_t command) {
  if (command == kit::cmds::kOk || command == kit::kCommandOk ||
      command == kit::cmds::kCancel || command == kit::kCommandCancel) {
    done(Result());
    return;
  }
  DeviceDialog::OnCommand(command);
}

void FontSettingDialog::OnBack() { done(Result()); }

int RunFontSettingDialog(QWidget* owner, settings::SettingsStore* settings,
                         int dpi_y) {
  FontSettingDialog dialog(owner, settings, dpi_y);
  dialog.Run();
  return dialog.changed() ? 1 : 2;
}

}  // namespace settings::ui
