#include "Terminal.h"

#include <unistd.h>

namespace zw {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }
bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

}  // namespace zw
