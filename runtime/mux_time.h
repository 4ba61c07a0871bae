#pragma once
// The program's clock and a few tools around timeval and select.
//
// Every clock read goes through mux_gettimeofday: the cached time of day when
// the event loop keeps one (g_tv_time not {0, 0}), otherwise the process
// clock of the platform (the virtual clock in tests). Millisecond and
// microsecond counts wrap at 32 bits and are compared only by difference.
#include <string>
#include <sys/select.h>
#include <sys/time.h>

namespace Mux {

struct timeval : public ::timeval {
  timeval() {
    tv_sec = 0;
    tv_usec = 0;
  }
  timeval(int sec, int usec) {
    tv_sec = sec;
    tv_usec = usec;
  }
  bool is_zero() const { return tv_sec == 0 && tv_usec == 0; }
};

// The cached time of day; {0, 0} means none.
extern timeval g_tv_time;

int mux_settimeofday();
void mux_gettimeofday(timeval& tv);
int gettimeval(timeval& tv);

int milliseconds();   // low 32 bits of the millisecond count of the time of day
int microseconds();   // low 32 bits of the microsecond count, for durations only
long seconds();

timeval make_from_usec(unsigned int us);
timeval make_from_msec(unsigned int ms);
void timevalset(timeval& tv, unsigned long long ms);
void timevaladd(timeval& a, timeval& b);
void timevalsub(timeval& a, timeval& b);
void timevaladd2(const timeval& a, const timeval& b, timeval& result);
void timevalsub2(const timeval& a, const timeval& b, timeval& result);
// Milliseconds from a to b; 0 when b is earlier than a.
long long timevaldiff(const timeval& a, const timeval& b);
int timevalcompare(const timeval& a, const timeval& b);
// Local time "YYYY-mm-dd HH:MM:SS.uuuuuu".
std::string timevaltostring(const timeval& tv);

// A periodic deadline kept by hand: expired once more than the period has
// passed since the start; a period below 1 never expires.
class timeval_timer {
 public:
  void init(const timeval& start, int period_ms);
  void init_now(const timeval& start);
  bool is_expired(const timeval& now) const;
  void inc();

 private:
  timeval start;
  int period = 0;
};

// A descriptor set for select, with its highest descriptor.
class Set {
 public:
  Set();
  void clear();
  // False for a descriptor that an fd_set cannot hold (negative or too big).
  bool add(int fd);
  bool is_set(int fd) const;
  int max() const { return max_fd_; }
  fd_set* get() { return max_fd_ < 0 ? nullptr : &set_; }

 private:
  fd_set set_;
  int max_fd_;
};

int max_fd(const Set& a, const Set& b);
int max_fd(const Set& a, const Set& b, const Set& c);

int select(Set& rd, Set& wr, Set& ex, timeval& timeout);
int select(Set& rd, Set& wr, Set& ex);
int select(Set& rd, Set& wr);
int select(Set& rd);
int select_rd(Set& rd, timeval& timeout);
int select_wr(Set& wr, timeval& timeout);

}  // namespace Mux
