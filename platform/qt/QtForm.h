// The application's one window as a Qt widget: the stored layout of an
// ApplicationWindow (outer size and position, caption, font, button-face background
// and text labels), the first-activation trigger and the user's close.
#pragma once

#include <QFont>
#include <QRect>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "UserInterface.h"

class QLabel;

namespace zw {

// The Qt font for a stored font: a family the system lacks falls back to a
// sans-serif one; the height is the pixel size of the characters.
QFont FontFromSpec(const FontSpec& spec);

class QtForm : public QWidget {
 public:
  struct Handlers {
    std::function<void()> firstActivation;
    std::function<void()> userClose;
  };
  QtForm(const WindowLayout& layout, Handlers handlers);

  void ShowAndActivate();
  void SetCaption(const std::string& text);
  // False when the window has no label of that name.
  bool SetLabelCaption(const std::string& label, const std::string& text);
  // Hides the window without calling the close handler (the application ends).
  void Dismiss();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  struct PlacedLabel {
    QLabel* label;
    QRect stored;
  };
  void AddLabel(const LabelLayout& layout);
  void FitLabel(const PlacedLabel& placed);
  void FitOuterSize();
  void StartActivation();
  void RepaintAndRecord();

  Handlers handlers_;
  QSize outerSize_;
  std::map<std::string, PlacedLabel> labels_;
  bool activationStarted_ = false;
  bool dismissed_ = false;
};

}  // namespace zw
