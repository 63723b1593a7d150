// Drives the share-holder helper process (ShareHolder.cpp) from a test.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "FileSystem.h"

namespace zw::test {

class ShareHolderProcess {
 public:
  ShareHolderProcess();   // starts the helper; Started() tells whether that worked
  ~ShareHolderProcess();  // ends it, which releases whatever it still holds
  ShareHolderProcess(const ShareHolderProcess&) = delete;
  ShareHolderProcess& operator=(const ShareHolderProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Each returns kNone on success, the helper's error code otherwise, and
  // kInvalidHandle when the helper did not answer.
  OsErrorCode Hold(const std::string& path, uint16_t mode);
  OsErrorCode Try(const std::string& path, uint16_t mode);
  OsErrorCode Delete(const std::string& path);
  OsErrorCode Rename(const std::string& from, const std::string& to);
  OsErrorCode Release();

 private:
  OsErrorCode Send(const std::string& command);
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string pending_;
};

}  // namespace zw::test
