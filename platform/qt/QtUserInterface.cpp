#include "QtUserInterface.h"

#include <QApplication>
#include <QEventLoop>
#include <cerrno>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "QtBoxes.h"
#include "QtDisplay.h"
#include "QtFileDialogs.h"
#include "QtForm.h"
#include "QtProvider.h"

namespace zw {

namespace {

BoxIcon IconOfKind(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtWarning:
      return BoxIcon::kWarning;
    case TMsgDlgType::mtError:
      return BoxIcon::kError;
    case TMsgDlgType::mtInformation:
      return BoxIcon::kInformation;
    case TMsgDlgType::mtConfirmation:
      return BoxIcon::kQuestion;
  }
  return BoxIcon::kNone;
}

std::vector<BoxButton> ButtonsOf(TMsgDlgButtons buttons) {
  std::vector<BoxButton> out;
  for (const auto& b : AllButtons()) {
    if (buttons & b.button)
      out.push_back({QString::fromUtf8(b.caption), b.result, QString::fromUtf8(b.name)});
  }
  return out;
}

BoxRequest OkBox(const std::string& caption, const std::string& text, BoxIcon icon,
                 const char* screenshotName) {
  return {QString::fromStdString(caption),
          QString::fromStdString(text),
          icon,
          {{QStringLiteral("OK"), mrOk, QStringLiteral("OK")}},
          mrOk,
          screenshotName};
}

}  // namespace

void EnsureQtApplication() {
  if (QCoreApplication::instance()) return;
  // QApplication keeps references to argc and argv for its whole life.
  static int argc = 1;
  // The program's own name: Qt makes the window's class name of it, which desktops
  // use to tell the programs apart.
  static std::string name = program_invocation_short_name;
  static char option[] = "-platform";
  static std::string platform;
  static char* argv[] = {name.data(), nullptr, nullptr, nullptr};
  // The platform that QtDisplayProblem found working, so that Qt does not try
  // another one that would abort.
  platform = ChosenQtPlatform();
  if (!platform.empty()) {
    argv[1] = option;
    argv[2] = platform.data();
    argc = 3;
  }
  // Never deleted: destroying it from a static destructor at exit would race with
  // Qt's own globals, and the process ends right after anyway.
  new QApplication(argc, argv);
  ReleaseDisplayCheck();
}

QtUserInterface::QtUserInterface() = default;

QWidget* QtUserInterface::DialogParent() const {
  return form_ && form_->isVisible() ? form_ : nullptr;
}

void QtUserInterface::ShowNotice(const std::string& text) {
  EnsureQtApplication();
  ShowBox(DialogParent(), OkBox(ApplicationTitle(), text, BoxIcon::kNone, "notice"));
}

int QtUserInterface::AskChoice(const std::string& text, TMsgDlgType kind, TMsgDlgButtons buttons) {
  EnsureQtApplication();
  BoxRequest request{QString::fromUtf8(KindCaption(kind)),
                     QString::fromStdString(text),
                     IconOfKind(kind),
                     ButtonsOf(buttons),
                     (buttons & mbCancel) ? mrCancel : DefaultAnswer(buttons),
                     "choice"};
  return ShowBox(DialogParent(), request);
}

bool QtUserInterface::AskText(const std::string& caption, const std::string& prompt,
                              std::string& value) {
  EnsureQtApplication();
  return AskTextBox(DialogParent(), QString::fromStdString(caption), QString::fromStdString(prompt),
                    value);
}

bool QtUserInterface::ChooseFileToSave(const FileDialogRequest& request, std::string& path) {
  EnsureQtApplication();
  return RunFileDialog(DialogParent(), true, request, path);
}

bool QtUserInterface::ChooseFileToOpen(const FileDialogRequest& request, std::string& path) {
  EnsureQtApplication();
  return RunFileDialog(DialogParent(), false, request, path);
}

void QtUserInterface::ShowErrorBox(const std::string& text) {
  EnsureQtApplication();
  ShowBox(DialogParent(), OkBox(ApplicationTitle(), text, BoxIcon::kError, "error"));
}

void QtUserInterface::SetWindowCaption(const std::string& text) {
  if (form_) form_->SetCaption(text);
}

void QtUserInterface::SetLabelCaption(const std::string& label, const std::string& text) {
  if (form_) form_->SetLabelCaption(label, text);
}

void QtUserInterface::EndApplication() { endRequested_ = true; }

int QtUserInterface::Run(ApplicationWindow& window) {
  EnsureQtApplication();
  endRequested_ = false;
  QEventLoop loop;
  QtForm form(window.Layout(), {[this, &window] { RunActivation(window); },
                                [this, &window] { CloseByUser(window); }});
  form_ = &form;
  loop_ = &loop;
  form.ShowAndActivate();
  loop.exec();
  form_ = nullptr;
  loop_ = nullptr;
  return 0;
}

// Exceptions must not cross Qt's event dispatch, so everything is caught here.
void QtUserInterface::RunActivation(ApplicationWindow& window) {
  try {
    window.Activate();
  } catch (const std::exception& e) {
    ShowEscapedError(e.what());
  } catch (...) {
    ShowEscapedError("Unknown error");
  }
  if (!endRequested_) return;  // the window stays open until the user closes it
  form_->Dismiss();
  loop_->quit();
}

// The application ends even when the close handler fails, so that a window left
// open can always be closed.
void QtUserInterface::CloseByUser(ApplicationWindow& window) {
  try {
    window.Close();
  } catch (const std::exception& e) {
    ShowEscapedError(e.what());
  } catch (...) {
    ShowEscapedError("Unknown error");
  }
  loop_->quit();
}

void QtUserInterface::ShowEscapedError(const char* message) { ShowErrorBox(ErrorBoxText(message)); }

void InstallQtUserInterface() {
  // Qt aborts when it cannot start on a display, so the factory checks first and
  // throws the reason; the platform then falls back to the console.
  InstallGuiProviderFactory([]() -> std::unique_ptr<UserInterface> {
    if (std::string problem = QtDisplayProblem(); !problem.empty())
      throw std::runtime_error(problem);
    return std::make_unique<QtUserInterface>();
  });
}

}  // namespace zw
