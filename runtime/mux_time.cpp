#include "runtime/mux_time.h"

#include "platform/clock.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

namespace Mux {

timeval g_tv_time(0, 0);

int mux_settimeofday() {
  ::timeval tv;
  int r = platform::gettimeofday(&tv);
  g_tv_time.tv_sec = tv.tv_sec;
  g_tv_time.tv_usec = tv.tv_usec;
  return r;
}

void mux_gettimeofday(timeval& tv) {
  if (g_tv_time.is_zero()) {
    platform::gettimeofday(&tv);
  } else {
    tv.tv_sec = g_tv_time.tv_sec;
    tv.tv_usec = g_tv_time.tv_usec;
  }
}

int gettimeval(timeval& tv) {
  mux_gettimeofday(tv);
  return 0;
}

namespace {

std::uint64_t now_us() {
  timeval tv;
  mux_gettimeofday(tv);
  return std::uint64_t(std::int64_t(tv.tv_sec) * 1000000 + tv.tv_usec);
}

}  // namespace

int milliseconds() { return static_cast<int>(static_cast<std::uint32_t>(now_us() / 1000)); }

int microseconds() { return static_cast<int>(static_cast<std::uint32_t>(now_us())); }

long seconds() {
  timeval tv;
  mux_gettimeofday(tv);
  return static_cast<long>(tv.tv_sec);
}

timeval make_from_usec(unsigned int us) { return timeval(int(us / 1000000), int(us % 1000000)); }

timeval make_from_msec(unsigned int ms) { return timeval(int(ms / 1000), int((ms % 1000) * 1000)); }

void timevalset(timeval& tv, unsigned long long ms) {
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
}

void timevaladd(timeval& a, timeval& b) { timevaladd2(a, b, a); }

void timevalsub(timeval& a, timeval& b) { timevalsub2(a, b, a); }

void timevaladd2(const timeval& a, const timeval& b, timeval& r) {
  long s = long(a.tv_usec) + long(b.tv_usec);
  r.tv_sec = a.tv_sec + b.tv_sec + s / 1000000;
  r.tv_usec = s % 1000000;
}

void timevalsub2(const timeval& a, const timeval& b, timeval& r) {
  long s = long(a.tv_usec) - long(b.tv_usec) + 1000000;
  r.tv_sec = a.tv_sec - b.tv_sec - 1 + s / 1000000;
  r.tv_usec = s % 1000000;
}

long long timevaldiff(const timeval& a, const timeval& b) {
  if (b.tv_sec < a.tv_sec || (b.tv_sec == a.tv_sec && b.tv_usec < a.tv_usec)) return 0;
  return (static_cast<long long>(b.tv_sec) - a.tv_sec) * 1000 + (static_cast<long long>(b.tv_usec) - a.tv_usec) / 1000;
}

int timevalcompare(const timeval& a, const timeval& b) {
  if (a.tv_sec != b.tv_sec) return a.tv_sec < b.tv_sec ? -1 : 1;
  if (a.tv_usec != b.tv_usec) return a.tv_usec < b.tv_usec ? -1 : 1;
  return 0;
}

std::string timevaltostring(const timeval& tv) {
  time_t sec = tv.tv_sec;
  struct tm tm;
  char date[64] = "";
  if (::localtime_r(&sec, &tm)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tm);
  // Room for the longest date strftime may leave, the dot and any long.
  char out[sizeof date + 24];
  std::snprintf(out, sizeof out, "%s.%06ld", date, static_cast<long>(tv.tv_usec));
  return out;
}

void timeval_timer::init(const timeval& s, int period_ms) {
  start = s;
  period = period_ms;
}

void timeval_timer::init_now(const timeval& s) { start = s; }

bool timeval_timer::is_expired(const timeval& now) const {
  if (period < 1) return false;
  return timevaldiff(start, now) > period;
}

void timeval_timer::inc() {
  timeval p;
  timevalset(p, static_cast<unsigned long long>(period));
  timevaladd(start, p);
}

Set::Set() { clear(); }

void Set::clear() {
  FD_ZERO(&set_);
  max_fd_ = -1;
}

bool Set::add(int fd) {
  if (fd < 0 || fd >= FD_SETSIZE) return false;
  FD_SET(fd, &set_);
  if (fd > max_fd_) max_fd_ = fd;
  return true;
}

bool Set::is_set(int fd) const {
  if (fd < 0 || fd >= FD_SETSIZE || fd > max_fd_) return false;
  return FD_ISSET(fd, &set_);
}

int max_fd(const Set& a, const Set& b) { return a.max() > b.max() ? a.max() : b.max(); }

int max_fd(const Set& a, const Set& b, const Set& c) {
  int m = max_fd(a, b);
  return m > c.max() ? m : c.max();
}

int select(Set& rd, Set& wr, Set& ex, timeval& timeout) {
  return ::select(max_fd(rd, wr, ex) + 1, rd.get(), wr.get(), ex.get(), &timeout);
}

int select(Set& rd, Set& wr, Set& ex) {
  return ::select(max_fd(rd, wr, ex) + 1, rd.get(), wr.get(), ex.get(), nullptr);
}

int select(Set& rd, Set& wr) { return ::select(max_fd(rd, wr) + 1, rd.get(), wr.get(), nullptr, nullptr); }

int select(Set& rd) { return ::select(rd.max() + 1, rd.get(), nullptr, nullptr, nullptr); }

int select_rd(Set& rd, timeval& timeout) { return ::select(rd.max() + 1, rd.get(), nullptr, nullptr, &timeout); }

int select_wr(Set& wr, timeval& timeout) { return ::select(wr.max() + 1, nullptr, wr.get(), nullptr, &timeout); }

}  // namespace Mux
