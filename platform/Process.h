// Process-wide settings a program makes once at start.
#pragma once

namespace zw {

// A write past the file size limit (ulimit -f) then fails with EFBIG, which the file
// services report as a full disk, instead of the signal ending the process.
void IgnoreFileSizeLimitSignal();

// The number of processors this process may run on (its CPU affinity), at least 1.
int ProcessorCount();

}  // namespace zw
