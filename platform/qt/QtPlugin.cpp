// Entry point of the loadable form of the desktop provider. Programs that do not
// link Qt themselves (the command-line tool) load it only when ZW_UI=gui asks for
// it, so they start without loading the Qt libraries.
#include <string>

#include "QtDisplay.h"
#include "QtProvider.h"

extern "C" __attribute__((visibility("default"))) zw::UserInterface*
zw_create_gui_user_interface() {
  return new zw::QtUserInterface();
}

// Called before zw_create_gui_user_interface: "" when a window can be shown, else
// why not (Qt would abort on its own).
extern "C" __attribute__((visibility("default"))) const char* zw_gui_display_problem() {
  static std::string problem;
  problem = zw::QtDisplayProblem();
  return problem.c_str();
}
