#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace platform {
namespace {

struct VirtualClock {
  bool on = false;
  std::int64_t us = 0;  // time of day in microseconds
  unsigned long idle = 0;
  int last_timeout = 0;
  std::function<void()> at_poll;
};

VirtualClock& vc() {
  static VirtualClock c;
  return c;
}

}  // namespace

int gettimeofday(struct timeval* tv) {
  if (!vc().on) return ::gettimeofday(tv, nullptr);
  tv->tv_sec = static_cast<time_t>(vc().us / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(vc().us % 1000000);
  return 0;
}

int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms) {
  if (!vc().on) return ::poll(fds, nfds, timeout_ms);
  if (vc().at_poll) {
    std::function<void()> f = std::move(vc().at_poll);
    vc().at_poll = nullptr;
    f();
  }
  vc().last_timeout = timeout_ms;
  if (timeout_ms < 0) return ::poll(fds, nfds, -1);
  int r = ::poll(fds, nfds, 0);
  if (r != 0) return r;
  ++vc().idle;
  vc().us += std::int64_t(timeout_ms) * 1000;
  return 0;
}

void sleep_us(long us) {
  if (us <= 0) return;
  if (vclock::enabled()) {
    vclock::advance_us(us);
    return;
  }
  struct timespec ts = {us / 1000000, (us % 1000000) * 1000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void sleep_ms(int ms) {
  if (ms <= 0) return;
  if (vclock::enabled()) {
    vclock::advance_us(std::int64_t(ms) * 1000);
    return;
  }
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

namespace vclock {

void enable(std::int64_t sec, std::int64_t usec) {
  vc().on = true;
  set(sec, usec);
}
void disable() {
  vc().on = false;
  vc().at_poll = nullptr;
}
bool enabled() { return vc().on; }
void set(std::int64_t sec, std::int64_t usec) { vc().us = sec * 1000000 + usec; }
void advance_us(std::int64_t us) { vc().us += us; }
unsigned long idle_polls() { return vc().idle; }
int last_timeout() { return vc().last_timeout; }
void at_next_poll(std::function<void()> f) { vc().at_poll = std::move(f); }

}  // namespace vclock
}  // namespace platform
