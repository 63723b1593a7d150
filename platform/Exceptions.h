// General exception classes shared by every layer.
//
// `Exception` is the root of every failure the system reports with a user-facing
// message; the stream errors carry the fixed texts that callers and tests rely on.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace zw {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }

 protected:
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

// Failures of streams. Opening errors carry the expanded path and the system's message.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// "Stream read error": a record or buffer ran past the end of what the stream holds.
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
};
// "Stream write error": the stream took fewer bytes than were offered.
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
};

// A text that should have been an integer ("'%s' is not a valid integer value").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace zw
