// Facts about the process's standard streams.
#pragma once

namespace zw {

bool StandardErrorIsTerminal();
bool StandardInputIsTerminal();

}  // namespace zw
