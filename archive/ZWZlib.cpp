#include "ZWZlib.h"

namespace zw {

int CheckZlibResult(int code) {
  if (code < 0) throw ECompressionError();
  return code;
}

}  // namespace zw
