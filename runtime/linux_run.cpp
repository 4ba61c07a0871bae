#include "runtime/linux_run.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace Linux {

Run::Run(const char* name) : path_(platform::board_path(std::string("/var/run/") + name + ".pid")) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  std::string pid = std::to_string(::getpid());
  // Nothing is reported: the file is a convenience for scripts.
  ssize_t written = ::write(fd_, pid.data(), pid.size());
  (void)written;
  ::fsync(fd_);
}

Run::~Run() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

}  // namespace Linux
