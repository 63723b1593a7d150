#include "Process.h"

#include <csignal>

namespace zw {

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace zw
