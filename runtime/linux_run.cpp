#include "runtime/linux_run.h"

#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>

namespace Linux {

Run::Run(const char* name) : path_(platform::board_path(std::string("/var/run/") + name + ".pid")) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_SYNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  // The file is locked for the life of the process that it names. A second
  // program started while the first runs leaves the first one's file alone:
  // overwriting it, and removing it at its own end, would leave the running
  // one without a pid file for the scripts that stop it.
  // A file system without locks just goes without this protection.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd_);
    fd_ = -1;
    std::ifstream held(path_.c_str());
    std::string other;
    std::getline(held, other);
    std::cerr << "pid file " << path_ << " is held by a running process " << other << ", not written"
              << std::endl;
    return;
  }
  if (::ftruncate(fd_, 0) != 0) {
    ::close(fd_);
    ::unlink(path_.c_str());
    fd_ = -1;
    return;
  }
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
  // Removed while still locked, so no other program can have taken it.
  ::unlink(path_.c_str());
  ::close(fd_);
}

}  // namespace Linux
