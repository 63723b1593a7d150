#include "QtScreenshots.h"

#include <QDir>
#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QWidget>
#include <atomic>
#include <cstdlib>

namespace zw {

namespace {

QString ScreenshotDir() {
  const char* dir = std::getenv("ZW_QT_SCREENSHOT_DIR");
  return dir && *dir ? QString::fromLocal8Bit(dir) : QString();
}

// Grabs on the Show event: by then the dialog has its final size, and grabbing
// renders the widget itself, so the picture does not depend on the display having
// drawn it yet.
class ShowWatcher : public QObject {
 public:
  ShowWatcher(QWidget& dialog, const char* what) : QObject(&dialog), what_(what) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) SaveScreenshot(*static_cast<QWidget*>(watched), what_);
    return false;
  }

 private:
  const char* what_;
};

// A rendering of a window lacks the frame that the window manager draws (and a bare
// virtual display has no window manager at all), so the picture would not show the
// window's caption. A title bar drawn by the widget's style, with that caption, is
// put above the rendering instead.
QPixmap WithTitleBar(QWidget& window, const QPixmap& body) {
  QStyleOptionTitleBar option;
  option.initFrom(&window);
  option.text = window.windowTitle();
  // The caption and the close box; no icon, as the windows have none of their own
  // (the style would put the toolkit's logo there).
  option.subControls = QStyle::SC_TitleBarLabel | QStyle::SC_TitleBarCloseButton;
  option.titleBarFlags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
  option.titleBarState = Qt::WindowActive;
  option.state |= QStyle::State_Active;
  QStyle* style = window.style();
  QSize size = body.deviceIndependentSize().toSize();
  int barHeight = style->pixelMetric(QStyle::PM_TitleBarHeight, &option, &window);
  option.rect = QRect(0, 0, size.width(), barHeight);
  qreal ratio = body.devicePixelRatio();
  QPixmap picture(QSize(size.width(), size.height() + barHeight) * ratio);
  picture.setDevicePixelRatio(ratio);
  picture.fill(window.palette().color(QPalette::Window));
  QPainter painter(&picture);
  style->drawComplexControl(QStyle::CC_TitleBar, &option, &painter, &window);
  painter.drawPixmap(0, barHeight, body);
  return picture;
}

}  // namespace

void SaveScreenshot(QWidget& widget, const char* what) {
  QString dir = ScreenshotDir();
  if (dir.isEmpty()) return;
  static std::atomic<int> counter{0};
  QDir().mkpath(dir);
  QString name = QStringLiteral("%1-%2.png").arg(++counter, 2, 10, QLatin1Char('0')).arg(what);
  QPixmap picture = widget.grab();
  if (widget.isWindow()) picture = WithTitleBar(widget, picture);
  picture.save(QDir(dir).filePath(name), "PNG");
}

void ScreenshotWhenShown(QWidget& dialog, const char* what) {
  if (ScreenshotDir().isEmpty()) return;
  dialog.installEventFilter(new ShowWatcher(dialog, what));
}

}  // namespace zw
