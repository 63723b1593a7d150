// The component's exception.
//
// `EZWException` carries `NativeError`, the internal code it was raised with, and
// `ErrorCode`, the index of its text (0-33, or -1 for codes without a text). Its
// message is: the raising component's Name and ": " (when it has a name), the text
// (formatted with the arguments when given), " - Native error: " and the internal
// code zero-filled to at least five digits, e.g.
//   "ZipWriter1: Archive is not open - Native error: 00013".
#pragma once

#include <initializer_list>
#include <string>

#include "Component.h"
#include "Exceptions.h"
#include "Format.h"

namespace zw {

class EZWException : public Exception {
 public:
  explicit EZWException(int nativeError, const TComponent* sender = nullptr);
  EZWException(int nativeError, std::initializer_list<FormatArg> args,
               const TComponent* sender = nullptr);

  int ErrorCode() const { return errorCode_; }
  int NativeError() const { return nativeError_; }

 private:
  static std::string Compose(int nativeError, int errorCode, const std::string& text,
                             const TComponent* sender);
  int errorCode_;
  int nativeError_;
};

}  // namespace zw
