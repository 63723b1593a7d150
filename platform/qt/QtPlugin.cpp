// Entry point of the loadable form of the desktop provider. Programs that do not
// link Qt themselves (the command-line tool) load it only when ZW_UI=gui asks for
// it, so they start without loading the Qt libraries.
#include "QtProvider.h"

extern "C" __attribute__((visibility("default"))) zw::UserInterface*
zw_create_gui_user_interface() {
  return new zw::QtUserInterface();
}
