#include "ConsoleUserInterface.h"

#include <iostream>
#include <optional>

#include "CodePage.h"
#include "FileSystem.h"
#include "Paths.h"
#include "Terminal.h"

namespace zw {

ConsoleUserInterface::ConsoleUserInterface()
    : in_(std::cin),
      out_(std::cerr),
      interactive_(StandardInputIsTerminal()),
      onStandardInput_(true) {}

ConsoleUserInterface::ConsoleUserInterface(std::istream& in, std::ostream& out, bool interactive)
    : in_(in), out_(out), interactive_(interactive), onStandardInput_(false) {}

bool ConsoleUserInterface::ReadLine(std::string& line) {
  if (!interactive_ || !std::getline(in_, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void ConsoleUserInterface::ShowNotice(const std::string& text) {
  out_ << "[" << ApplicationTitle() << "] " << text << std::endl;
}

int ConsoleUserInterface::AskChoice(const std::string& text, TMsgDlgType kind,
                                    TMsgDlgButtons buttons) {
  int fallback = DefaultAnswer(buttons);
  std::string choices;
  for (const auto& b : AllButtons())
    if (buttons & b.button) choices += (choices.empty() ? "" : "/") + std::string(b.name);
  out_ << "[" << KindCaption(kind) << "] " << text << " (" << choices << ")? " << std::flush;
  std::string line;
  if (!ReadLine(line)) {
    for (const auto& b : AllButtons())
      if (b.result == fallback) out_ << b.name << std::endl;
    return fallback;
  }
  while (true) {
    std::string answer = AsciiLowerCase(line);
    if (answer.empty()) return fallback;
    for (const auto& b : AllButtons()) {
      if (!(buttons & b.button)) continue;
      std::string caption = b.caption;
      size_t amp = caption.find('&');
      char accel = amp != std::string::npos && amp + 1 < caption.size()
                       ? AsciiLowerCase(caption.substr(amp + 1, 1))[0]
                       : AsciiLowerCase(std::string(1, caption[0]))[0];
      if (answer == AsciiLowerCase(b.name) || (answer.size() == 1 && answer[0] == accel))
        return b.result;
    }
    out_ << "Please answer one of " << choices << ": " << std::flush;
    if (!ReadLine(line)) return fallback;
  }
}

bool ConsoleUserInterface::AskText(const std::string& caption, const std::string& prompt,
                                   std::string& value) {
  out_ << "[" << caption << "] " << prompt << std::flush;
  std::string line;
  if (!ReadLine(line)) {
    out_ << std::endl;
    return false;
  }
  value = line;
  return true;
}

bool ConsoleUserInterface::AskPassword(const std::string& caption, const std::string& prompt,
                                       std::string& value) {
  std::string line;
  bool entered;
  {
    // Echo goes off before the prompt shows, so nothing typed after it is shown or
    // discarded; the terminal still shows the newline that ends the entry.
    std::optional<StandardInputEchoOff> quiet;
    if (onStandardInput_) quiet.emplace();
    out_ << "[" << caption << "] " << prompt << std::flush;
    entered = ReadLine(line);
  }
  if (!entered) {
    out_ << std::endl;
    return false;
  }
  value = line;
  return true;
}

bool ConsoleUserInterface::ChooseFile(const char* title, const FileDialogRequest& request,
                                      std::string& path) {
  out_ << "[" << title << "] folder " << request.initialDir << ", file name [" << request.fileName
       << "]: " << std::flush;
  std::string line;
  if (!ReadLine(line)) {
    out_ << "(cancelled)" << std::endl;
    return false;
  }
  if (line.empty()) line = request.fileName;
  if (line.empty()) return false;
  bool absolute = line[0] == '/' || line[0] == '\\' || (line.size() > 1 && line[1] == ':');
  std::string dir = request.initialDir;
  if (!absolute && !dir.empty()) line = IncludeTrailingPathDelimiter(dir) + line;
  std::string name = ExtractFileName(line);
  if (!request.defaultExt.empty() && name.find('.') == std::string::npos)
    line += "." + request.defaultExt;
  // Callers rely on an absolute path, also when the folder or the answer is relative.
  path = ExpandFileName(ActiveFileSystem(), line);
  return true;
}

bool ConsoleUserInterface::ChooseFileToSave(const FileDialogRequest& request, std::string& path) {
  return ChooseFile("Save As", request, path);
}

bool ConsoleUserInterface::ChooseFileToOpen(const FileDialogRequest& request, std::string& path) {
  return ChooseFile("Open", request, path);
}

void ConsoleUserInterface::ShowErrorBox(const std::string& text) {
  out_ << "[" << ApplicationTitle() << "] " << text << std::endl;
}

void ConsoleUserInterface::SetWindowCaption(const std::string& text) {
  out_ << "== " << text << " ==" << std::endl;
}

void ConsoleUserInterface::SetLabelCaption(const std::string&, const std::string& text) {
  out_ << "   " << text << std::endl;
}

void ConsoleUserInterface::EndApplication() { endRequested_ = true; }

int ConsoleUserInterface::Run(ApplicationWindow& window) {
  const WindowLayout& layout = window.Layout();
  out_ << "== " << layout.caption << " ==" << std::endl;
  for (const auto& label : layout.labels) out_ << "   " << label.caption << std::endl;
  try {
    window.Activate();
  } catch (const std::exception& e) {
    ShowErrorBox(ErrorBoxText(e.what()));
  }
  if (!endRequested_) {
    out_ << "(window closed)" << std::endl;
    window.Close();
  }
  return 0;
}

}  // namespace zw
