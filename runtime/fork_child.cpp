#include "runtime/fork_child.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

pid_t fork_child() {
  sigset_t all, old;
  sigfillset(&all);
  ::sigprocmask(SIG_BLOCK, &all, &old);
  const pid_t pid = ::fork();
  if (pid != 0) {
    const int e = errno;
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = e;
    return pid;
  }
  // Ignored signals stay ignored, as exec would keep them.
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction sa;
    if (::sigaction(sig, nullptr, &sa) != 0) continue;
    const bool caught = (sa.sa_flags & SA_SIGINFO) ? true : (sa.sa_handler != SIG_DFL && sa.sa_handler != SIG_IGN);
    if (caught) ::signal(sig, SIG_DFL);
  }
  ::sigprocmask(SIG_SETMASK, &old, nullptr);
  return 0;
}

ExecGate::ExecGate() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return;  // no gate: the child runs as before
  read_ = ends[0];
  write_ = ends[1];
}

ExecGate::~ExecGate() {
  if (read_ >= 0) ::close(read_);
  if (write_ >= 0) ::close(write_);
}

void ExecGate::child() {
  if (read_ >= 0) ::close(read_);
  read_ = -1;
  // write_ closes with the exec, or with the child's own closing.
}

void ExecGate::failed(int err) {
  if (write_ < 0) return;
  ssize_t r;
  while ((r = ::write(write_, &err, sizeof err)) < 0 && errno == EINTR) {
  }
}

int ExecGate::wait() {
  if (write_ >= 0) ::close(write_);
  write_ = -1;
  if (read_ < 0) return 0;
  int err = 0;
  ssize_t n;
  while ((n = ::read(read_, &err, sizeof err)) < 0 && errno == EINTR) {
  }
  ::close(read_);
  read_ = -1;
  return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}
