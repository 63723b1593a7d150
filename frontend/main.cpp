// Program entry of the backup utility: builds the window from its stored layout and
// runs it through the user interaction services chosen by ZW_UI.
#include <cstdlib>
#include <iostream>

#include "FileSystem.h"
#include "Process.h"
#include "ScriptUserInterface.h"
#include "bkup.h"
#ifdef ZW_HAVE_QT
#include "QtUserInterface.h"
#endif

int main(int argc, char** argv) {
  zw::IgnoreFileSizeLimitSignal();
#ifdef ZW_HAVE_QT
  zw::InstallQtUserInterface();
#endif
  const char* spec = std::getenv("ZW_UI");
  auto ui = zw::CreateUserInterface(spec ? spec : "");
  if (!ui) {
    std::cerr << "bkup: unknown ZW_UI value \"" << spec << "\" (console, gui or script:FILE)\n";
    return zw::kBkupBadParameters;
  }
  if (auto* script = dynamic_cast<zw::ScriptUserInterface*>(ui.get());
      script && !script->AnswersProblem().empty()) {
    std::cerr << "bkup: ZW_UI=" << spec << ": " << script->AnswersProblem() << "\n";
    return zw::kBkupBadParameters;
  }
  ui->SetApplicationTitle("bkup");
  try {
    zw::StoredLayout layout = zw::ParseStoredLayout(zw::BuiltInBackupFormLayout());
    zw::TBackupForm form(layout, std::vector<std::string>(argv + 1, argv + argc), *ui,
                         zw::ActiveFileSystem());
    ui->Run(form);
    return form.ExitStatus();
  } catch (const std::exception& e) {
    std::cerr << "bkup: " << e.what() << "\n";
    return zw::kBkupError;
  }
}
