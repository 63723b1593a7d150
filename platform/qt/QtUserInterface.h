// The desktop provider ("gui") of the user interaction services, on Qt 6 Widgets.
//
// InstallQtUserInterface registers the provider with InstallGuiProviderFactory, so
// ZW_UI=gui, or ZW_UI unset while DISPLAY or WAYLAND_DISPLAY is set, chooses it.
// Its factory throws, with the reason, when Qt cannot start on a display here
// (QtDisplay.h), since Qt itself would abort; the platform then uses the console.
//
// Contract, beyond the one of UserInterface.h:
//   - Every operation creates the QApplication when none exists yet; one made here
//     lives until the process ends.
//   - Run shows the window of ApplicationWindow::Layout(): outer size and position
//     as given, caption, labels at their places with their fonts (a font family the
//     system lacks falls back to a sans-serif one; the height is the pixel size),
//     the button-face colour as background. A label keeps its stored size unless
//     its text needs more room, in which case it grows (it never clips).
//   - On the first activation (queued, after the window has been painted) Run calls
//     ApplicationWindow::Activate. An exception escaping it is shown in a modal
//     error box (caption ApplicationTitle(), one OK button, text ErrorBoxText of the
//     message) and the window stays open until the user closes it.
//   - A user closing the window calls ApplicationWindow::Close and ends Run.
//     EndApplication ends Run once the running handler returns, and hides the
//     window without calling Close.
//   - SetWindowCaption / SetLabelCaption repaint the window at once, because the
//     run that follows does not return to the event loop.
//   - A box's text wraps within 480 pixels, inside a word that does not fit a line
//     too (a path), and the box is at least as wide as its caption needs.
//   - Boxes show exactly the requested buttons in AllButtons() order with their
//     captions (accelerators included; the bare letter works too). Escape or closing
//     a box answers Cancel when it is offered, else DefaultAnswer.
//   - The file dialogs are Qt's own widget dialogs. Filters "Desc|pattern|..." are
//     shown as "Desc (pattern)"; the initial folder is mapped to the host with the
//     ZW_DRIVE_x folders; the chosen host path comes back in the rooted "\" form.
//   - With ZW_QT_SCREENSHOT_DIR set, PNG images of the window and of every box and
//     dialog are saved there (see QtScreenshots.h).
//   - With ZW_QT_AUTO_ANSWER set (a test hook, off by default), message boxes press
//     one of their buttons by themselves (see QtAutoAnswer.h).
#pragma once

namespace zw {

void InstallQtUserInterface();

}  // namespace zw
