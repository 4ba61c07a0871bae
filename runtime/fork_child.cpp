#include "runtime/fork_child.h"

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
