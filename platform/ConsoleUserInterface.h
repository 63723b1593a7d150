// The console provider of the user interaction services (ZW_UI=console).
//
// Boxes are printed on standard error as "[<caption>] <text>"; a question lists its
// buttons and reads the answer from standard input (a button name or its accelerator
// letter, without regard to case; an empty line takes the default). Without a
// terminal on standard input every question gets its no/cancel answer and every
// prompt or dialog is cancelled, so unattended runs never hang.
#pragma once

#include <istream>
#include <ostream>

#include "UserInterface.h"

namespace zw {

class ConsoleUserInterface : public UserInterface {
 public:
  ConsoleUserInterface();
  // For tests: explicit streams, `interactive` as if standard input were a terminal.
  ConsoleUserInterface(std::istream& in, std::ostream& out, bool interactive);

  void ShowNotice(const std::string& text) override;
  int AskChoice(const std::string& text, TMsgDlgType kind, TMsgDlgButtons buttons) override;
  bool AskText(const std::string& caption, const std::string& prompt, std::string& value) override;
  // Echo is off while the password is typed on the terminal.
  bool AskPassword(const std::string& caption, const std::string& prompt,
                   std::string& value) override;
  bool ChooseFileToSave(const FileDialogRequest& request, std::string& path) override;
  bool ChooseFileToOpen(const FileDialogRequest& request, std::string& path) override;
  void ShowErrorBox(const std::string& text) override;
  void SetWindowCaption(const std::string& text) override;
  void SetLabelCaption(const std::string& label, const std::string& text) override;
  void EndApplication() override;
  int Run(ApplicationWindow& window) override;

 private:
  bool ReadLine(std::string& line);
  bool ChooseFile(const char* title, const FileDialogRequest& request, std::string& path);
  std::istream& in_;
  std::ostream& out_;
  bool interactive_;
  bool onStandardInput_;  // in_ reads the process's standard input
  bool endRequested_ = false;
};

}  // namespace zw
