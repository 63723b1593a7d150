// The zlib binding's exceptions and result check.
#pragma once

#include "Exceptions.h"

namespace zw {

class EZlibError : public Exception {
 public:
  using Exception::Exception;
};

// Raised for every failing zlib call, always with the message "error".
class ECompressionError : public EZlibError {
 public:
  ECompressionError() : EZlibError("error") {}
};

// Returns `code` when it is 0 or greater; raises ECompressionError otherwise.
int CheckZlibResult(int code);

}  // namespace zw
