// The Qt provider class behind InstallQtUserInterface (see QtUserInterface.h for
// its contract). Internal to zw_ui_qt; programs go through the factory.
#pragma once

#include <string>

#include "UserInterface.h"

class QEventLoop;
class QWidget;

namespace zw {

class QtForm;

// Creates the QApplication when none exists yet.
void EnsureQtApplication();

class QtUserInterface : public UserInterface {
 public:
  QtUserInterface();

  void ShowNotice(const std::string& text) override;
  int AskChoice(const std::string& text, TMsgDlgType kind, TMsgDlgButtons buttons) override;
  bool AskText(const std::string& caption, const std::string& prompt, std::string& value) override;
  bool ChooseFileToSave(const FileDialogRequest& request, std::string& path) override;
  bool ChooseFileToOpen(const FileDialogRequest& request, std::string& path) override;
  void ShowErrorBox(const std::string& text) override;
  void SetWindowCaption(const std::string& text) override;
  void SetLabelCaption(const std::string& label, const std::string& text) override;
  void EndApplication() override;
  int Run(ApplicationWindow& window) override;

 private:
  QWidget* DialogParent() const;
  void RunActivation(ApplicationWindow& window);
  void CloseByUser(ApplicationWindow& window);
  void ShowEscapedError(const char* message);

  QtForm* form_ = nullptr;      // the window while Run runs
  QEventLoop* loop_ = nullptr;  // the loop of Run
  bool endRequested_ = false;
};

}  // namespace zw
