#include "ScriptUserInterface.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "Paths.h"

namespace zw {

std::string TranscriptField(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) {
      out += '^';
      out += static_cast<char>(c + 0x40);
    } else {
      out += c;
    }
  }
  return out;
}

ScriptUserInterface::ScriptUserInterface(const std::string& answerFile, std::ostream* out)
    : answers_(answerFile), out_(out ? *out : std::cout) {
  // A mistyped name must not quietly answer every question with No or Cancel.
  if (!answers_.is_open())
    problem_ = "cannot read the answers file \"" + answerFile + "\": " + std::strerror(errno);
}

void ScriptUserInterface::Emit(std::initializer_list<std::string> fields) {
  std::string line;
  bool first = true;
  for (const auto& f : fields) {
    if (!first) line += '\t';
    line += TranscriptField(f);
    first = false;
  }
  out_ << line << '\n';
  out_.flush();
}

std::optional<std::string> ScriptUserInterface::NextAnswer() {
  std::string line;
  if (!answers_.is_open() || !std::getline(answers_, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void ScriptUserInterface::ShowNotice(const std::string& text) {
  Emit({"notice", ApplicationTitle(), text, "OK"});
}

int ScriptUserInterface::AskChoice(const std::string& text, TMsgDlgType kind,
                                   TMsgDlgButtons buttons) {
  std::string offered;
  for (const auto& b : AllButtons())
    if (buttons & b.button) offered += (offered.empty() ? "" : ",") + std::string(b.name);
  int result = DefaultAnswer(buttons);
  if (auto answer = NextAnswer()) {
    for (const auto& b : AllButtons())
      if ((buttons & b.button) && *answer == b.name) result = b.result;
  }
  std::string given;
  for (const auto& b : AllButtons())
    if (b.result == result) given = b.name;
  Emit({"choice", KindCaption(kind), offered, text, given});
  return result;
}

bool ScriptUserInterface::AskText(const std::string& caption, const std::string& prompt,
                                  std::string& value) {
  auto answer = NextAnswer();
  bool accepted = answer && *answer != "<cancel>";
  Emit({"text", caption, prompt, value, accepted ? *answer : "<cancel>"});
  if (accepted) value = *answer;
  return accepted;
}

namespace {

// A relative answer taken against the current folder, in the host's form as a real
// dialog returns it; drive, rooted and UNC paths stay as given. Without this a bare
// "out.zip" would have no folder, and the program would put it in the root.
std::string AbsoluteAnswer(const std::string& answer) {
  if (IsAbsolutePath(answer) || !ExtractFileDrive(answer).empty()) return answer;
  std::error_code error;
  std::filesystem::path current = std::filesystem::current_path(error);
  if (error) return answer;
  std::string relative = answer;
  for (char& c : relative)
    if (c == '\\') c = '/';
  return (current / relative).string();
}

}  // namespace

bool ScriptUserInterface::ChooseFile(const char* kind, const FileDialogRequest& request,
                                     std::string& path) {
  auto answer = NextAnswer();
  bool chosen = answer && *answer != "<cancel>" && !answer->empty();
  std::string chosenPath = chosen ? AbsoluteAnswer(*answer) : "<cancel>";
  Emit(
      {kind, request.filter, request.initialDir, request.fileName, request.defaultExt, chosenPath});
  if (chosen) path = chosenPath;
  return chosen;
}

bool ScriptUserInterface::ChooseFileToSave(const FileDialogRequest& request, std::string& path) {
  return ChooseFile("save", request, path);
}

bool ScriptUserInterface::ChooseFileToOpen(const FileDialogRequest& request, std::string& path) {
  return ChooseFile("open", request, path);
}

void ScriptUserInterface::ShowErrorBox(const std::string& text) {
  Emit({"error", ApplicationTitle(), text, "OK"});
}

void ScriptUserInterface::SetWindowCaption(const std::string& text) { Emit({"caption", text}); }

void ScriptUserInterface::SetLabelCaption(const std::string& label, const std::string& text) {
  Emit({"label", label, text});
}

void ScriptUserInterface::EndApplication() {
  endRequested_ = true;
  Emit({"end"});
}

int ScriptUserInterface::Run(ApplicationWindow& window) {
  const WindowLayout& layout = window.Layout();
  std::string line = "window\t" + TranscriptField(layout.caption);
  for (const auto& label : layout.labels)
    line += "\t" + TranscriptField(label.name + "=" + label.caption);
  out_ << line << '\n';
  out_.flush();
  try {
    window.Activate();
  } catch (const std::exception& e) {
    ShowErrorBox(ErrorBoxText(e.what()));
  }
  if (!endRequested_) {
    Emit({"close"});
    window.Close();
  }
  return 0;
}

}  // namespace zw
