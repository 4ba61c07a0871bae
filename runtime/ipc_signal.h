#pragma once
// Installation of signal handlers. Every function returns what sigaction (or
// siginterrupt) returns: 0, or -1 with errno set.
#include <csignal>

namespace IPC {

class Signal {
 public:
  class Set {
   public:
    Set();
    Set(int a, int b);
    Set(int a, int b, int c);
    void add(int sig);
    void copy_to(sigset_t& out) const;
    static bool is_signal(int sig);

   private:
    sigset_t set;
  };

  using Handler1 = void (*)(int);
  using Handler3 = void (*)(int, siginfo_t*, void*);

  static int handle(int sig, Handler1 h, const Set& mask, int flags);
  static int handle(int sig, Handler1 h, int flags);
  static int handle(int sig, Handler3 h, const Set& mask, int flags);
  static int handle(int sig, Handler3 h, int flags);
  static int ignore(int sig);
  static int system(int sig);
  // Whether system calls interrupted by the signal restart (disable_int) or
  // fail with EINTR (enable_int).
  static int disable_int(int sig);
  static int enable_int(int sig);
};

}  // namespace IPC
