// Facts about the process's standard streams, and the terminal's echo.
#pragma once

#include <memory>

namespace zw {

bool StandardErrorIsTerminal();
bool StandardInputIsTerminal();

// While it lives, what is typed on the terminal of standard input is not shown (for a
// password); nothing happens when standard input is no terminal. The echo comes back
// when it ends, and also when a signal (Ctrl-C, a hang-up) ends the process meanwhile.
class StandardInputEchoOff {
 public:
  StandardInputEchoOff();
  ~StandardInputEchoOff();
  StandardInputEchoOff(const StandardInputEchoOff&) = delete;
  StandardInputEchoOff& operator=(const StandardInputEchoOff&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

}  // namespace zw
