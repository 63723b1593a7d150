#include "QtScreenshots.h"

#include <QDir>
#include <QEvent>
#include <QPixmap>
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

}  // namespace

void SaveScreenshot(QWidget& widget, const char* what) {
  QString dir = ScreenshotDir();
  if (dir.isEmpty()) return;
  static std::atomic<int> counter{0};
  QDir().mkpath(dir);
  QString name = QStringLiteral("%1-%2.png").arg(++counter, 2, 10, QLatin1Char('0')).arg(what);
  widget.grab().save(QDir(dir).filePath(name), "PNG");
}

void ScreenshotWhenShown(QWidget& dialog, const char* what) {
  if (ScreenshotDir().isEmpty()) return;
  dialog.installEventFilter(new ShowWatcher(dialog, what));
}

}  // namespace zw
