#include "runtime/linux_run.h"

#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace Linux {

Run::Run(const char* name) : path_(platform::board_path(std::string("/var/run/") + name + ".pid")) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  const std::string pid = std::to_string(::getpid());
  // Nothing is reported: the file is a convenience for scripts. But a file
  // the digits did not all reach (a full disk) would name another process
  // or none: it goes, as if it could not be created.
  std::size_t done = 0;
  while (done < pid.size()) {
    const ssize_t n = ::write(fd_, pid.data() + done, pid.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      ::close(fd_);
      ::unlink(path_.c_str());
      fd_ = -1;
      return;
    }
  }
  ::fsync(fd_);
}

Run::~Run() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

}  // namespace Linux
