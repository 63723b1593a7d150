// User interaction services.
//
// The utility and the component talk to the user only through these modal
// operations. Providers (chosen by the environment variable ZW_UI, see
// CreateUserInterface):
//   "console"      text on the terminal, answers on standard input; without a
//                  terminal every question gets its no/cancel answer;
//   "script:FILE"  answers read one per line from FILE, every operation written to
//                  standard output as one line (format in ScriptUserInterface.h);
//   "gui"          a desktop window (when built with Qt).
// Every provider returns exactly the result values below and offers exactly the
// buttons asked for. All operations run on the caller's thread and block until
// answered.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zw {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

enum TMsgDlgBtn : uint32_t {
  mbYes = 1u << 0,
  mbNo = 1u << 1,
  mbOK = 1u << 2,
  mbCancel = 1u << 3,
  mbAbort = 1u << 4,
  mbRetry = 1u << 5,
  mbIgnore = 1u << 6,
  mbAll = 1u << 7,
  mbNoToAll = 1u << 8,
  mbYesToAll = 1u << 9,
};
using TMsgDlgButtons = uint32_t;

// Results of AskChoice.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrAll = 8;
constexpr int mrNoToAll = 9;
constexpr int mrYesToAll = 10;

struct ButtonInfo {
  TMsgDlgBtn button;
  const char* name;     // as answered in scripts: "Yes", "NoToAll", ...
  const char* caption;  // with its accelerator: "&Yes", "N&o to All", ...
  int result;
};
// The buttons in the order a box shows them.
const std::vector<ButtonInfo>& AllButtons();
// Caption of a box of the given kind: "Warning", "Error", "Information", "Confirm".
const char* KindCaption(TMsgDlgType kind);
// The answer a question gets when nobody answers: No, Cancel or Abort, whichever of
// these it offers first; otherwise its last button.
int DefaultAnswer(TMsgDlgButtons buttons);

struct FileDialogRequest {
  std::string filter;  // "Description|pattern|Description|pattern..."
  std::string initialDir;
  std::string fileName;
  std::string defaultExt;  // empty: nothing is appended
};

struct FontSpec {
  std::string name;
  int height = 0;  // character height in pixels at 96 dpi
  bool bold = false;
};

struct LabelLayout {
  std::string name;
  int left = 0, top = 0, width = 0, height = 0;
  std::string caption;
  FontSpec font;
};

struct WindowLayout {
  std::string name;
  int left = 0, top = 0, width = 0, height = 0;  // outer size
  std::string caption;
  FontSpec font;
  std::vector<LabelLayout> labels;
};

// The application's one window, as the provider sees it.
class ApplicationWindow {
 public:
  virtual ~ApplicationWindow() = default;
  virtual const WindowLayout& Layout() const = 0;
  // First activation of the window: the whole run happens here.
  virtual void Activate() = 0;
  // The user closed the window (or the provider did, for a run left open).
  virtual void Close() = 0;
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  void SetApplicationTitle(const std::string& title) { title_ = title; }
  const std::string& ApplicationTitle() const { return title_; }

  virtual void ShowNotice(const std::string& text) = 0;
  virtual int AskChoice(const std::string& text, TMsgDlgType kind, TMsgDlgButtons buttons) = 0;
  // Accepted: true and `value` holds the text entered; cancelled: false, value unchanged.
  virtual bool AskText(const std::string& caption, const std::string& prompt,
                       std::string& value) = 0;
  // AskText for a password: what is typed is not shown. A provider that cannot hide it
  // asks with AskText.
  virtual bool AskPassword(const std::string& caption, const std::string& prompt,
                           std::string& value) {
    return AskText(caption, prompt, value);
  }
  virtual bool ChooseFileToSave(const FileDialogRequest& request, std::string& path) = 0;
  virtual bool ChooseFileToOpen(const FileDialogRequest& request, std::string& path) = 0;
  // The box for an error that escaped the run; `text` is shown as given.
  virtual void ShowErrorBox(const std::string& text) = 0;

  virtual void SetWindowCaption(const std::string& text) = 0;
  virtual void SetLabelCaption(const std::string& label, const std::string& text) = 0;
  // The application ends once the running handler returns.
  virtual void EndApplication() = 0;
  // Shows the window, activates it once, and returns when the application ends.
  virtual int Run(ApplicationWindow& window) = 0;

 private:
  std::string title_ = "zipwriter";
};

// The text of the error box for an escaped error: "." appended when the message's
// last character's code is above that of ".".
std::string ErrorBoxText(const std::string& message);

// Builds a provider from a ZW_UI value ("" chooses gui when a display is there and a
// gui provider is installed, else console). Null for an unknown value.
std::unique_ptr<UserInterface> CreateUserInterface(const std::string& spec);
// The process-wide provider, created from ZW_UI at first use.
UserInterface& ActiveUserInterface();
void SetActiveUserInterface(std::unique_ptr<UserInterface> ui);
// Lets a desktop provider (built separately) make itself available.
void InstallGuiProviderFactory(std::function<std::unique_ptr<UserInterface>()> factory);
bool DisplayAvailable();

}  // namespace zw
