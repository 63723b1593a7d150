// Whether Qt can show windows here, decided before the application object exists:
// QGuiApplication ends the process (abort) when no platform plugin can start, so
// a missing display, a display server that does not answer, or a missing plugin
// has to be found beforehand.
#pragma once

#include <string>

namespace zw {

// Empty when a platform can start, else one line saying why none can. Checks each
// platform of QT_QPA_PLATFORM (a ";" list) in turn, or without it Wayland (when
// WAYLAND_DISPLAY is set) and then X (when DISPLAY is set): the plugin must load
// and, for these two, the display server must accept a connection. The first
// platform that passes is the one EnsureQtApplication starts. Once an application
// object exists there is nothing to check.
std::string QtDisplayProblem();

// The platform QtDisplayProblem chose ("" when it has not run or found none, so
// that Qt makes its own choice).
const std::string& ChosenQtPlatform();

// Closes the connection that the check keeps open until Qt has made its own.
void ReleaseDisplayCheck();

}  // namespace zw
