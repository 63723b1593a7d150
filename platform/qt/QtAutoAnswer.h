// Test hook for unattended runs of the desktop provider on a (virtual) display where
// nobody clicks. Off by default: it acts only while the environment variable
// ZW_QT_AUTO_ANSWER is set and not empty.
//
//   ZW_QT_AUTO_ANSWER=No,OK    each message box (notice, question, error box) presses
//                              the first button of the list that it offers, a short
//                              while after it is shown (and after its screenshot,
//                              see QtScreenshots.h, has been taken)
//   ZW_QT_AUTO_ANSWER=default  each message box presses its default button, the one
//                              Enter would press (its first button)
//
// Names are those of the script provider ("Yes", "No", "OK", "Cancel", "Abort",
// "Retry", "Ignore", "All", "NoToAll", "YesToAll"), separated by commas and compared
// without regard to case; "default" may stand anywhere in the list. A box that offers
// none of the listed buttons waits for the user. The text prompt and the file dialogs
// are never answered by this hook.
#pragma once

#include <QString>
#include <QStringList>

namespace zw {

// Time between a box being shown and its button being pressed: long enough for the
// box to be drawn on the display, short enough not to slow a test run down.
constexpr int kAutoAnswerDelayMs = 250;

// The value of ZW_QT_AUTO_ANSWER ("" when unset: the hook is off).
QString AutoAnswerSetting();

// Index into `offered` (button names, left to right) of the button to press for the
// answer list `answers`, where "default" stands for `defaultIndex`; -1 when the list
// names no offered button (or is empty).
int AutoAnswerIndex(const QString& answers, const QStringList& offered, int defaultIndex);

}  // namespace zw
