#include "UserInterface.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>

#include "ConsoleUserInterface.h"
#include "ScriptUserInterface.h"

namespace zw {

const std::vector<ButtonInfo>& AllButtons() {
  static const std::vector<ButtonInfo> buttons = {
      {mbYes, "Yes", "&Yes", mrYes},
      {mbNo, "No", "&No", mrNo},
      {mbOK, "OK", "OK", mrOk},
      {mbCancel, "Cancel", "Cancel", mrCancel},
      {mbAbort, "Abort", "&Abort", mrAbort},
      {mbRetry, "Retry", "&Retry", mrRetry},
      {mbIgnore, "Ignore", "&Ignore", mrIgnore},
      {mbAll, "All", "&All", mrAll},
      {mbNoToAll, "NoToAll", "N&o to All", mrNoToAll},
      {mbYesToAll, "YesToAll", "Yes to &All", mrYesToAll},
  };
  return buttons;
}

const char* KindCaption(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtWarning:
      return "Warning";
    case TMsgDlgType::mtError:
      return "Error";
    case TMsgDlgType::mtInformation:
      return "Information";
    case TMsgDlgType::mtConfirmation:
      return "Confirm";
  }
  return "";
}

int DefaultAnswer(TMsgDlgButtons buttons) {
  if (buttons & mbNo) return mrNo;
  if (buttons & mbCancel) return mrCancel;
  if (buttons & mbAbort) return mrAbort;
  int last = mrCancel;
  for (const auto& b : AllButtons())
    if (buttons & b.button) last = b.result;
  return last;
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

namespace {
std::mutex gUiMutex;
std::unique_ptr<UserInterface> gActiveUi;
std::function<std::unique_ptr<UserInterface>()> gGuiFactory;
}  // namespace

void InstallGuiProviderFactory(std::function<std::unique_ptr<UserInterface>()> factory) {
  std::lock_guard<std::mutex> lock(gUiMutex);
  gGuiFactory = std::move(factory);
}

bool DisplayAvailable() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

namespace {

// The desktop provider as a loadable module, for programs that do not link it:
// <program folder>/../lib/libzw_ui_qt_plugin.so or beside the program. Null when it
// is not there, or when it cannot show a window here (`problem` says why).
std::unique_ptr<UserInterface> LoadGuiModule(std::string& problem) {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return nullptr;
  std::string dir(exe, static_cast<size_t>(n));
  dir = dir.substr(0, dir.rfind('/'));
  for (const std::string& candidate :
       {dir + "/../lib/libzw_ui_qt_plugin.so", dir + "/libzw_ui_qt_plugin.so"}) {
    void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) continue;
    using Problem = const char* (*)();
    if (auto check = reinterpret_cast<Problem>(dlsym(module, "zw_gui_display_problem"))) {
      const char* why = check();
      if (why && *why) {
        problem = why;
        return nullptr;
      }
    }
    using Create = UserInterface* (*)();
    auto create = reinterpret_cast<Create>(dlsym(module, "zw_create_gui_user_interface"));
    if (create) return std::unique_ptr<UserInterface>(create());  // the module stays loaded
  }
  return nullptr;
}

// A window was asked for (or a display is set) but cannot be shown: Qt would abort
// the process, so the console stands in and one line says why.
std::unique_ptr<UserInterface> ConsoleInsteadOfWindow(const std::string& why) {
  std::fprintf(stderr, "%s: no desktop window (%s); using the console\n",
               program_invocation_short_name, why.c_str());
  return std::make_unique<ConsoleUserInterface>();
}

// An installed factory throws when it cannot show a window here.
std::unique_ptr<UserInterface> GuiOrConsole(
    const std::function<std::unique_ptr<UserInterface>()>& gui) {
  try {
    return gui();
  } catch (const std::exception& e) {
    return ConsoleInsteadOfWindow(e.what());
  }
}

}  // namespace

std::unique_ptr<UserInterface> CreateUserInterface(const std::string& spec) {
  std::function<std::unique_ptr<UserInterface>()> gui;
  {
    std::lock_guard<std::mutex> lock(gUiMutex);
    gui = gGuiFactory;
  }
  if (spec.empty()) {
    if (gui && DisplayAvailable()) return GuiOrConsole(gui);
    return std::make_unique<ConsoleUserInterface>();
  }
  if (spec == "console") return std::make_unique<ConsoleUserInterface>();
  if (spec == "gui") {
    if (gui) return GuiOrConsole(gui);
    std::string problem;
    if (auto module = LoadGuiModule(problem)) return module;
    return problem.empty() ? nullptr : ConsoleInsteadOfWindow(problem);
  }
  if (spec.rfind("script:", 0) == 0) return std::make_unique<ScriptUserInterface>(spec.substr(7));
  return nullptr;
}

UserInterface& ActiveUserInterface() {
  {
    std::lock_guard<std::mutex> lock(gUiMutex);
    if (gActiveUi) return *gActiveUi;
  }
  const char* spec = std::getenv("ZW_UI");
  auto ui = CreateUserInterface(spec ? spec : "");  // takes gUiMutex itself
  std::lock_guard<std::mutex> lock(gUiMutex);
  if (!gActiveUi) gActiveUi = ui ? std::move(ui) : std::make_unique<ConsoleUserInterface>();
  return *gActiveUi;
}

void SetActiveUserInterface(std::unique_ptr<UserInterface> ui) {
  std::lock_guard<std::mutex> lock(gUiMutex);
  gActiveUi = std::move(ui);
}

}  // namespace zw
