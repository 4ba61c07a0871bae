#include "runtime/ipc_signal.h"

namespace IPC {

Signal::Set::Set() { sigemptyset(&set); }

Signal::Set::Set(int a, int b) : Set() {
  add(a);
  add(b);
}

Signal::Set::Set(int a, int b, int c) : Set() {
  add(a);
  add(b);
  add(c);
}

void Signal::Set::add(int sig) { sigaddset(&set, sig); }

void Signal::Set::copy_to(sigset_t& out) const { out = set; }

bool Signal::Set::is_signal(int sig) {
  sigset_t probe;
  sigemptyset(&probe);
  return sigaddset(&probe, sig) == 0;
}

namespace {

int install(int sig, struct sigaction& sa, const Signal::Set& mask, int flags) {
  mask.copy_to(sa.sa_mask);
  sa.sa_flags = flags;
  return sigaction(sig, &sa, nullptr);
}

}  // namespace

int Signal::handle(int sig, Handler1 h, const Set& mask, int flags) {
  struct sigaction sa = {};
  sa.sa_handler = h;
  return install(sig, sa, mask, flags & ~SA_SIGINFO);
}

int Signal::handle(int sig, Handler1 h, int flags) { return handle(sig, h, Set(), flags); }

int Signal::handle(int sig, Handler3 h, const Set& mask, int flags) {
  struct sigaction sa = {};
  sa.sa_sigaction = h;
  return install(sig, sa, mask, flags | SA_SIGINFO);
}

int Signal::handle(int sig, Handler3 h, int flags) { return handle(sig, h, Set(), flags); }

int Signal::ignore(int sig) { return handle(sig, SIG_IGN, 0); }

int Signal::system(int sig) { return handle(sig, SIG_DFL, 0); }

namespace {

// What siginterrupt does, without its deprecation: set or clear SA_RESTART
// on the installed action.
int set_restart(int sig, bool restart) {
  struct sigaction sa;
  if (sigaction(sig, nullptr, &sa) != 0) return -1;
  if (restart)
    sa.sa_flags |= SA_RESTART;
  else
    sa.sa_flags &= ~SA_RESTART;
  return sigaction(sig, &sa, nullptr);
}

}  // namespace

int Signal::disable_int(int sig) { return set_restart(sig, true); }

int Signal::enable_int(int sig) { return set_restart(sig, false); }

}  // namespace IPC
