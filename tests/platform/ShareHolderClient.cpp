#include "ShareHolderClient.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace zw::test {
namespace {

// Long enough for a loaded CI machine, short enough that a hung helper fails the
// test instead of stalling the suite.
constexpr int kReplyTimeoutMs = 20000;

}  // namespace

ShareHolderProcess::ShareHolderProcess() {
  int down[2], up[2];
  if (pipe2(down, O_CLOEXEC) != 0) return;
  if (pipe2(up, O_CLOEXEC) != 0) {
    close(down[0]);
    close(down[1]);
    return;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(down[0], STDIN_FILENO);
    dup2(up[1], STDOUT_FILENO);
    execl(ZW_SHARE_HOLDER, ZW_SHARE_HOLDER, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(down[0]);
  close(up[1]);
  if (pid < 0) {
    close(down[1]);
    close(up[0]);
    return;
  }
  pid_ = pid;
  toChild_ = down[1];
  fromChild_ = up[0];
}

ShareHolderProcess::~ShareHolderProcess() {
  if (pid_ <= 0) return;
  close(toChild_);  // end of input: the helper closes its handles and exits
  close(fromChild_);
  int status = 0;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) return;
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
}

OsErrorCode ShareHolderProcess::Send(const std::string& command) {
  if (pid_ <= 0) return OsErrorCode::kInvalidHandle;
  std::string line = command + "\n";
  if (write(toChild_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
    return OsErrorCode::kInvalidHandle;
  while (pending_.find('\n') == std::string::npos) {
    pollfd p{fromChild_, POLLIN, 0};
    if (poll(&p, 1, kReplyTimeoutMs) <= 0) return OsErrorCode::kInvalidHandle;
    char buf[256];
    ssize_t n = read(fromChild_, buf, sizeof buf);
    if (n <= 0) return OsErrorCode::kInvalidHandle;
    pending_.append(buf, static_cast<size_t>(n));
  }
  size_t eol = pending_.find('\n');
  std::string reply = pending_.substr(0, eol);
  pending_.erase(0, eol + 1);
  if (reply == "ok") return OsErrorCode::kNone;
  if (reply.rfind("err ", 0) == 0)
    return static_cast<OsErrorCode>(std::strtol(reply.c_str() + 4, nullptr, 10));
  return OsErrorCode::kInvalidHandle;
}

OsErrorCode ShareHolderProcess::Hold(const std::string& path, uint16_t mode) {
  return Send("hold\t" + std::to_string(mode) + "\t" + path);
}

OsErrorCode ShareHolderProcess::Try(const std::string& path, uint16_t mode) {
  return Send("try\t" + std::to_string(mode) + "\t" + path);
}

OsErrorCode ShareHolderProcess::Delete(const std::string& path) { return Send("delete\t" + path); }

OsErrorCode ShareHolderProcess::Rename(const std::string& from, const std::string& to) {
  return Send("rename\t" + from + "\t" + to);
}

OsErrorCode ShareHolderProcess::Release() { return Send("release"); }

}  // namespace zw::test
