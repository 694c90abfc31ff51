#ifndef PORTWICK_UI_FRAMEWORK_QT_HYPER_LINK_STATIC_H_
#define PORTWICK_UI_FRAMEWORK_QT_HYPER_LINK_STATIC_H_

#include <QColor>
#include <QLabel>
#include <QUrl>
#include <functional>

namespace portwick {

class TemplateDialog;

// Opens an address; true when it was opened.
using OpenUrlFunction = std::function<bool(const QUrl&)>;

// Link colours: the application palette's QPalette::Link and
// QPalette::LinkVisited when the palette sets them, otherwise blue
// (0, 0, 255) and purple (128, 0, 128). Needs a QGuiApplication.
QColor DesktopLinkColor();
QColor DesktopVisitedLinkColor();

// A label drawn as a link: link colour (visited colour once opened),
// underlined font, hand cursor, the address as tooltip. A left-button press
// grabs the mouse; releasing it over the label opens the address. With the
// focus, Enter or Space opens it too, and a focus rectangle is drawn.
// Opening goes through the open function (QDesktopServices::openUrl unless
// replaced); only a successful open turns the link visited.
// GUI thread only; owned through its Qt parent.
class HyperLinkStatic : public QLabel {
  Q_OBJECT

 public:
  HyperLinkStatic(const QString& label, const QUrl& target, QWidget* parent = nullptr);
  ~HyperLinkStatic() override;

  // Replaces label `control_id` of `dialog` by a link with the label's text
  // (TemplateDialog::ReplaceControl). Returns the link, or null when the
  // dialog has no label with that id.
  static HyperLinkStatic* FromLabel(TemplateDialog& dialog, int control_id, const QUrl& target,
                                    OpenUrlFunction open_url = {});

  // An empty function restores QDesktopServices::openUrl.
  void SetOpenUrl(OpenUrlFunction open_url);

  // Opens the target; on success the link turns visited and is redrawn.
  bool Open();

  const QUrl& target() const { return target_; }
  bool visited() const { return visited_; }
  QColor link_color() const { return link_color_; }
  QColor visited_color() const { return visited_color_; }
  // The colour the label is drawn in now.
  QColor current_color() const { return visited_ ? visited_color_ : link_color_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void ApplyColor();

  QUrl target_;
  OpenUrlFunction open_url_;
  QColor link_color_;
  QColor visited_color_;
  bool visited_ = false;
  bool pressed_ = false;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_HYPER_LINK_STATIC_H_
