#include "QtTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QtTest/QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "QtUserInterface.h"

namespace zw::test {

namespace {
// The offscreen platform warns about every window feature it lacks (raise, size
// hints); those lines would bury the test output.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.startsWith(QStringLiteral("This plugin does not support"))) return;
  if (text.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
  std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}
}  // namespace

void EnsureTestApplication() {
  if (QCoreApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(QuietMessages);
  static int argc = 1;
  static char name[] = "qt_ui_tests";
  static char* argv[] = {name, nullptr};
  // Kept to the end of the process, like the provider's own (see QtUserInterface.h).
  new QApplication(argc, argv);
}

std::unique_ptr<UserInterface> MakeGuiProvider() {
  EnsureTestApplication();
  InstallQtUserInterface();
  auto ui = CreateUserInterface("gui");
  if (!ui) throw std::runtime_error("the gui provider is not installed");
  return ui;
}

WindowLayout BackupWindowLayout() {
  WindowLayout layout{"BackupForm",
                      18,
                      90,
                      298,
                      134,
                      "Vessimbrant Backup/Restore Form",
                      {"MS Sans Serif", 11, false},
                      {}};
  layout.labels.push_back(
      {"Label1", 48, 20, 189, 24, "Creating Contri.zip File", {"MS Sans Serif", 21, false}});
  layout.labels.push_back(
      {"Label2", 40, 56, 200, 20, "Processing - Please Wait", {"MS Sans Serif", 16, true}});
  return layout;
}

ModalDriver::ModalDriver() {
  EnsureTestApplication();  // timers need the application
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start();
}

ModalDriver& ModalDriver::Then(Action action) {
  actions_.push_back(std::move(action));
  return *this;
}

// A widget is marked once handled, so that a box still closing (or a later box at
// the same address) is told apart from a new one.
void ModalDriver::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible() || CloseIfStuck(modal)) return;
  if (modal->property("zwHandled").toBool()) return;
  modal->setProperty("zwHandled", true);
  if (actions_.empty()) {
    ++unexpected_;
    modal->close();
    return;
  }
  lastHandled_ = modal;
  sinceHandled_.start();
  Action action = std::move(actions_.front());
  actions_.pop_front();
  action(modal);
}

bool ModalDriver::CloseIfStuck(QWidget* modal) {
  constexpr qint64 kStuckMs = 5000;
  if (modal != lastHandled_ || sinceHandled_.elapsed() < kStuckMs) return false;
  ++stuck_;
  lastHandled_ = nullptr;
  modal->close();
  return true;
}

QWidget* FindTopLevel(const QString& objectName) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == objectName && w->isVisible()) return w;
  }
  return nullptr;
}

namespace {
std::vector<QPushButton*> ButtonsLeftToRight(QWidget* box) {
  auto list = box->findChildren<QPushButton*>();
  std::vector<QPushButton*> buttons(list.begin(), list.end());
  std::sort(buttons.begin(), buttons.end(), [box](QPushButton* a, QPushButton* b) {
    return a->mapTo(box, QPoint(0, 0)).x() < b->mapTo(box, QPoint(0, 0)).x();
  });
  return buttons;
}
}  // namespace

QStringList ButtonCaptions(QWidget* box) {
  QStringList captions;
  for (QPushButton* b : ButtonsLeftToRight(box)) captions << b->text();
  return captions;
}

QPushButton* ButtonWithCaption(QWidget* box, const QString& caption) {
  for (QPushButton* b : ButtonsLeftToRight(box)) {
    if (b->text() == caption) return b;
  }
  return nullptr;
}

QString BoxText(QWidget* box) {
  auto* label = box->findChild<QLabel*>(QStringLiteral("boxText"));
  return label ? label->text() : QString();
}

bool BoxHasIcon(QWidget* box) {
  return box->findChild<QLabel*>(QStringLiteral("boxIcon")) != nullptr;
}

bool ClickButton(QWidget* box, const QString& caption) {
  QPushButton* button = ButtonWithCaption(box, caption);
  if (!button) {
    box->close();
    return false;
  }
  QTest::mouseClick(button, Qt::LeftButton);
  return true;
}

}  // namespace zw::test
