#pragma once
// The one time source of the process. On the board it is the system clock;
// unit tests switch to a virtual clock, under which a poll that finds nothing
// ready moves the clock by its whole time-out instead of sleeping, so timer
// tests (T200, heartbeat 120000 ms, ...) run instantly and deterministically.
#include <cstdint>
#include <functional>
#include <poll.h>
#include <sys/time.h>

namespace platform {

// gettimeofday of the process: the virtual clock when it is on.
int gettimeofday(struct timeval* tv);

// poll of the event loop. Under the virtual clock: descriptors that are ready
// now are reported at once; otherwise the clock advances by the time-out and
// 0 is returned (a negative time-out still blocks for real, since nothing can
// move virtual time on but the loop itself).
int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms);

// Blocks the whole process for that long (the event loop does not run).
// Under the virtual clock the clock moves on by that much at once.
void sleep_ms(int ms);
// The same in microseconds, for the short waits of hardware tests.
void sleep_us(long us);

namespace vclock {

// Switches the virtual clock on, starting at the given time of day.
void enable(std::int64_t start_sec = 1000000, std::int64_t start_usec = 0);
void disable();
bool enabled();
void set(std::int64_t sec, std::int64_t usec);
void advance_us(std::int64_t us);  // negative moves the clock back
inline void advance_ms(std::int64_t ms) { advance_us(ms * 1000); }

// Number of polls that advanced the clock, and the time-out of the latest
// poll; tests read what the loop waited for.
unsigned long idle_polls();
int last_timeout();

// Runs `f` once, at the start of the next poll, before it looks at the
// descriptors: a test's way to act while something waits (set the time of
// day back, let a peer read).
void at_next_poll(std::function<void()> f);

}  // namespace vclock
}  // namespace platform
