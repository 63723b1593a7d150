#include "Process.h"

#include <sched.h>

#include <csignal>
#include <thread>

namespace zw {

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

int ProcessorCount() {
  // The affinity mask, not the machine's total: a process limited to some processors
  // (taskset, a container) gains nothing from more threads than it may run.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  unsigned hint = std::thread::hardware_concurrency();
  return hint > 0 ? static_cast<int>(hint) : 1;
}

}  // namespace zw
