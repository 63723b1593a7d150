// The scripted provider of the user interaction services, for tests and unattended
// runs (ZW_UI=script:FILE).
//
// Answers are read from FILE, one per line, by the operations that ask something:
// AskChoice takes a button name (Yes, No, OK, Cancel, Abort, Retry, Ignore, All,
// NoToAll, YesToAll); AskText takes the text to enter; the file dialogs take the
// path to choose (a relative path is taken against the current folder and handed on
// absolute, as a real dialog does); "<cancel>" cancels a prompt or dialog. When the
// answers run out, a question gets No, Cancel or Abort (the first it offers) and a
// prompt or dialog is cancelled. A button name the question does not offer counts as
// no answer. Notices and error boxes take no answer. A FILE that cannot be read is not
// "no answers": see AnswersProblem.
//
// Transcript: every operation is written to standard output as one line of
// tab-separated fields (characters below 0x20 inside a text are written as "^"
// followed by the character 0x40 above it, e.g. "^I" for a tab):
//   window   <caption>  <label name>=<caption> ...      the window is shown
//   caption  <text>                                     window caption changed
//   label    <name>  <text>                             a label's caption changed
//   notice   <box caption>  <text>  OK
//   choice   <kind caption>  <buttons, e.g. Yes,No>  <text>  <answer>
//   text     <caption>  <prompt>  <initial value>  <entered value | <cancel>>
//   save     <filter>  <initial folder>  <file name>  <default ext>  <path | <cancel>>
//   open     <filter>  <initial folder>  <file name>  <default ext>  <path | <cancel>>
//   error    <box caption>  <text>  OK
//   end                                                  EndApplication was asked for
//   close                                                the provider closed a window
//                                                        that the run left open
#pragma once

#include <fstream>
#include <optional>
#include <ostream>
#include <string>

#include "UserInterface.h"

namespace zw {

class ScriptUserInterface : public UserInterface {
 public:
  explicit ScriptUserInterface(const std::string& answerFile, std::ostream* out = nullptr);

  // Why the answers file cannot be read ("" when it can), e.g.
  // "cannot read the answers file \"x.txt\": No such file or directory".
  const std::string& AnswersProblem() const { return problem_; }

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
  std::optional<std::string> NextAnswer();
  bool ChooseFile(const char* kind, const FileDialogRequest& request, std::string& path);
  void Emit(std::initializer_list<std::string> fields);
  std::ifstream answers_;
  std::string problem_;
  std::ostream& out_;
  bool endRequested_ = false;
};

// Writes a text for a transcript line (control characters in caret notation).
std::string TranscriptField(const std::string& text);

}  // namespace zw
