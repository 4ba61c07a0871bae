#include "runtime/fd.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

const Fd::BoolResult Fd::valid_{};

Fd::Fd(int fd) : fd_(fd) {
  if (fd_ >= 0) SetCloexec(fd_, true);
}

Fd::Fd(const Fd& other) : fd_(other.dup()) {}

Fd& Fd::operator=(const Fd& other) {
  if (this == &other) return *this;
  // An empty Fd has nothing to close: errno stays what the caller's last
  // call left (the failed duplicate of an Event's Schedule, say).
  if (fd_ >= 0) close();
  fd_ = other.dup();
  return *this;
}

Fd::~Fd() {
  int e = errno;
  close();
  errno = e;
}

int Fd::dup() const {
  if (fd_ < 0) return -1;
  return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
}

bool Fd::open(const char* path, int flags) {
  close();
  fd_ = ::open(path, flags | O_CLOEXEC);
  return fd_ >= 0;
}

int Fd::close() {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  int fd = fd_;
  fd_ = -1;
  return ::close(fd);
}

bool Fd::NonBlock() { return fd_ >= 0 && NonBlockMode(fd_); }

bool NonBlockMode(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0) return false;
  return ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

bool BlockMode(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0) return false;
  return ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == 0;
}

bool SetCloexec(int fd, bool on) {
  int fl = ::fcntl(fd, F_GETFD);
  if (fl < 0) return false;
  return ::fcntl(fd, F_SETFD, on ? (fl | FD_CLOEXEC) : (fl & ~FD_CLOEXEC)) == 0;
}

long RaiseDescriptorLimit() {
  rlimit lim;
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) return -1;
  if (lim.rlim_cur != lim.rlim_max) {
    rlimit raised = lim;
    raised.rlim_cur = lim.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) lim = raised;
  }
  return lim.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long>(lim.rlim_cur);
}

bool OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free number is this one: the lower ones are open by now.
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) return false;
    if (null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
  return true;
}

bool OpenDescriptorsAboveStandard(std::vector<int>& out) {
  out.clear();
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return false;
  while (const dirent* e = ::readdir(d)) {
    const int fd = std::atoi(e->d_name);
    if (fd > 2 && fd != ::dirfd(d)) out.push_back(fd);
  }
  ::closedir(d);
  return true;
}

bool SetCloexecOnInherited() {
  std::vector<int> open;
  if (!OpenDescriptorsAboveStandard(open)) return false;
  for (const int fd : open) SetCloexec(fd, true);
  return true;
}
