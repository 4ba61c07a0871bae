#include "tests/support/alarm.h"

#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace testsupport {

namespace {
std::atomic<bool> alarm_taken{false};
void on_alarm(int) { alarm_taken = true; }
}  // namespace

bool alarm_during(const std::function<void()>& call, const std::function<void()>& peer) {
  struct sigaction sa = {}, old_sa;
  sa.sa_handler = on_alarm;
  sa.sa_flags = SA_RESTART;
  ::sigemptyset(&sa.sa_mask);
  if (::sigaction(SIGALRM, &sa, &old_sa) != 0) return false;
  alarm_taken = false;
  std::thread other([&] {
    sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
    for (int i = 0; i < 500 && !alarm_taken; ++i) ::usleep(10000);
    peer();
  });
  itimerval it = {};
  it.it_value.tv_usec = 200000;
  ::setitimer(ITIMER_REAL, &it, nullptr);
  call();
  other.join();
  ::sigaction(SIGALRM, &old_sa, nullptr);
  return alarm_taken;
}

}  // namespace testsupport
