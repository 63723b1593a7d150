// Helpers for driving the Qt provider from tests: the application object, a fake
// application window, and a driver that acts on each modal box or dialog as it
// appears (the provider's operations block in their own event loops, so the test's
// actions have to run from timers inside those loops).
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "UserInterface.h"

class QWidget;

namespace zw::test {

// Creates the QApplication once (offscreen unless QT_QPA_PLATFORM says otherwise).
void EnsureTestApplication();

// The provider as the programs get it: installed and chosen with "gui".
std::unique_ptr<UserInterface> MakeGuiProvider();

// The layout of the backup window.
WindowLayout BackupWindowLayout();

class FakeWindow : public ApplicationWindow {
 public:
  explicit FakeWindow(WindowLayout layout) : layout_(std::move(layout)) {}
  const WindowLayout& Layout() const override { return layout_; }
  void Activate() override {
    ++activations;
    if (onActivate) onActivate();
  }
  void Close() override {
    ++closes;
    if (onClose) onClose();
  }

  std::function<void()> onActivate;
  std::function<void()> onClose;
  int activations = 0;
  int closes = 0;

 private:
  WindowLayout layout_;
};

// Runs one action on each new modal widget, in the order given. A modal widget
// that appears when no action is left is closed and counted as unexpected; one
// still open several seconds after its action is closed and counted as stuck, so a
// failing test ends instead of hanging.
class ModalDriver {
 public:
  using Action = std::function<void(QWidget*)>;
  ModalDriver();
  ModalDriver& Then(Action action);
  int Unexpected() const { return unexpected_; }
  int Stuck() const { return stuck_; }
  bool Finished() const { return actions_.empty(); }

 private:
  void Poll();
  bool CloseIfStuck(QWidget* modal);
  QTimer timer_;
  std::deque<Action> actions_;
  QPointer<QWidget> lastHandled_;
  QElapsedTimer sinceHandled_;
  int unexpected_ = 0;
  int stuck_ = 0;
};

// The visible top-level widget with this object name (the window of Run), or null.
QWidget* FindTopLevel(const QString& objectName);
// Captions of a box's push buttons from left to right.
QStringList ButtonCaptions(QWidget* box);
QPushButton* ButtonWithCaption(QWidget* box, const QString& caption);
// The message text of a box, and whether it shows an icon.
QString BoxText(QWidget* box);
bool BoxHasIcon(QWidget* box);
// Clicks the button with this caption; without one, closes the box and says false.
bool ClickButton(QWidget* box, const QString& caption);

}  // namespace zw::test
