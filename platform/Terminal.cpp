#include "Terminal.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>

namespace zw {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }
bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

namespace {

// The signals that end a process by default while someone types at a prompt.
constexpr std::array<int, 4> kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The settings to put back from a signal handler; only async-signal-safe calls use it.
termios restoreSettings;

extern "C" void RestoreEchoAndEnd(int signal) {
  tcsetattr(STDIN_FILENO, TCSANOW, &restoreSettings);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

struct StandardInputEchoOff::Saved {
  termios settings;
  std::array<struct sigaction, kEndingSignals.size()> actions;
};

StandardInputEchoOff::StandardInputEchoOff() {
  termios settings;
  if (isatty(STDIN_FILENO) != 1 || tcgetattr(STDIN_FILENO, &settings) != 0) return;
  saved_ = std::make_unique<Saved>();
  saved_->settings = settings;
  restoreSettings = settings;
  struct sigaction action = {};
  action.sa_handler = RestoreEchoAndEnd;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kEndingSignals.size(); ++i)
    sigaction(kEndingSignals[i], &action, &saved_->actions[i]);
  // Line editing stays on, and the newline that ends the line is still shown.
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK);
  settings.c_lflag |= ECHONL;
  // What was typed before the prompt appeared is not taken for the password.
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &settings);
}

StandardInputEchoOff::~StandardInputEchoOff() {
  if (!saved_) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_->settings);
  for (size_t i = 0; i < kEndingSignals.size(); ++i)
    sigaction(kEndingSignals[i], &saved_->actions[i], nullptr);
}

}  // namespace zw
