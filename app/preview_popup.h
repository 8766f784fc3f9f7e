// The preview popup of the main window (template 186): a borderless window
// as wide as the screen minus 4 pixels and a third of it high, with a
// header (1035) and a body (1022). It hides itself after 10 seconds or
// when tapped. UI thread only.
#ifndef TELVANE_APP_PREVIEW_POPUP_H_
#define TELVANE_APP_PREVIEW_POPUP_H_

#include <QString>
#include <QWidget>

class QLabel;
class QTimer;

namespace app {

inline constexpr int kPreviewTemplate = 186;
inline constexpr int kPreviewHeader = 1035;
inline constexpr int kPreviewBody = 1022;
// How long a preview stays up.
inline constexpr int kPreviewShowMs = 10000;

class PreviewPopup : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewPopup(QWidget* parent = nullptr);

  // Shows the texts with the popup's top edge at `y` (screen pixels).
  void ShowPreview(const QString& header, const QString& body, int y);

  QString header_text() const;
  QString body_text() const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QLabel* header_;
  QLabel* body_;
  QTimer* hide_timer_;
};

}  // namespace app

#endif  // TELVANE_APP_PREVIEW_POPUP_H_
