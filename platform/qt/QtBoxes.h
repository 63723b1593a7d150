// Modal boxes of the Qt provider: message boxes with exactly the buttons asked
// for, in the order given, and the one-line text prompt.
#pragma once

#include <QString>
#include <string>
#include <vector>

class QWidget;

namespace zw {

enum class BoxIcon { kNone, kWarning, kError, kInformation, kQuestion };

struct BoxButton {
  QString caption;  // "&" marks the accelerator letter
  int result;
  QString name;  // as in scripts and ZW_QT_AUTO_ANSWER: "Yes", "NoToAll", ...
};

struct BoxRequest {
  QString caption;
  QString text;
  BoxIcon icon = BoxIcon::kNone;
  std::vector<BoxButton> buttons;  // shown left to right in this order
  int escapeResult = 0;            // the answer to Escape or closing the box
  const char* screenshotName = "box";
};

// Shows the box modally (over `parent` when given) and returns the result of the
// button pressed, or escapeResult. With ZW_QT_AUTO_ANSWER set, the box may press one
// of its buttons by itself (see QtAutoAnswer.h).
int ShowBox(QWidget* parent, const BoxRequest& request);

// A prompt with a hidden-text line edit prefilled with `value`: true and the edited
// value on OK, false (value unchanged) on Cancel.
bool AskTextBox(QWidget* parent, const QString& caption, const QString& prompt, std::string& value);

}  // namespace zw
