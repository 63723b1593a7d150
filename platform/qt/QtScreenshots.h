// Screenshots for looking at unattended runs (for example under a virtual display):
// when the environment variable ZW_QT_SCREENSHOT_DIR names a folder, the provider
// saves a PNG of its window after every change of its texts and of every box and
// dialog as it is shown, named "<NN>-<what>.png" with NN counting from 01 in the
// order taken. Without the variable nothing is saved. A picture is the widget's own
// rendering; for a window (the form, a box, a dialog) a title bar with the window's
// caption, drawn by the widget's style, stands above it in place of the frame that a
// window manager would draw, so the picture is that much taller than the window.
#pragma once

class QWidget;

namespace zw {

// Saves an image of `widget` when screenshots are on; `what` names the picture.
void SaveScreenshot(QWidget& widget, const char* what);
// Saves an image of `dialog` each time it is shown, when screenshots are on.
void ScreenshotWhenShown(QWidget& dialog, const char* what);

}  // namespace zw
