// The program's clock (cache, 32-bit wrap) and the timeval arithmetic.
#include "runtime/mux_time.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

namespace {

struct ClockScope {
  ClockScope() { platform::vclock::enable(); }
  ~ClockScope() {
    Mux::g_tv_time = Mux::timeval(0, 0);
    platform::vclock::disable();
  }
};

TEST(MuxClock, FollowsTheClockUntilCachedThenHoldsStill) {
  ClockScope scope;
  int a = Mux::milliseconds();
  platform::vclock::advance_ms(3);
  EXPECT_EQ(Mux::milliseconds() - a, 3);

  Mux::mux_settimeofday();
  int cached = Mux::milliseconds();
  platform::vclock::advance_ms(50);
  EXPECT_EQ(Mux::milliseconds(), cached);
  Mux::mux_settimeofday();
  EXPECT_EQ(Mux::milliseconds() - cached, 50);
}

TEST(MuxClock, CountsKeepTheirLow32Bits) {
  ClockScope scope;
  // 5000000.123456 s: 5000000123 ms needs 33 bits.
  platform::vclock::set(5000000, 123456);
  EXPECT_EQ(static_cast<std::uint32_t>(Mux::milliseconds()), static_cast<std::uint32_t>(5000000123ull));
  EXPECT_EQ(static_cast<std::uint32_t>(Mux::microseconds()), static_cast<std::uint32_t>(5000000123456ull));
  EXPECT_EQ(Mux::seconds(), 5000000);
}

TEST(MuxTimeval, Arithmetic) {
  EXPECT_EQ(Mux::timevaldiff(Mux::timeval(10, 900000), Mux::timeval(11, 100000)), 200);
  EXPECT_EQ(Mux::timevaldiff(Mux::timeval(11, 100000), Mux::timeval(10, 900000)), 0);
  EXPECT_EQ(Mux::timevaldiff(Mux::timeval(10, 100000), Mux::timeval(10, 900000)), 800);

  Mux::timeval a(5, 200000), b(2, 700000);
  Mux::timevalsub(a, b);
  EXPECT_EQ(a.tv_sec, 2);
  EXPECT_EQ(a.tv_usec, 500000);
  Mux::timeval c(1, 600000), d(0, 700000), sum;
  Mux::timevaladd2(c, d, sum);
  EXPECT_EQ(sum.tv_sec, 2);
  EXPECT_EQ(sum.tv_usec, 300000);

  Mux::timeval m = Mux::make_from_msec(61234);
  EXPECT_EQ(m.tv_sec, 61);
  EXPECT_EQ(m.tv_usec, 234000);
  EXPECT_EQ(Mux::timevalcompare(Mux::timeval(1, 5), Mux::timeval(1, 6)), -1);
  EXPECT_EQ(Mux::timevalcompare(Mux::timeval(2, 0), Mux::timeval(1, 999999)), 1);
  EXPECT_EQ(Mux::timevalcompare(Mux::timeval(1, 999999), Mux::timeval(2, 0)), -1);
  EXPECT_EQ(Mux::timevalcompare(Mux::timeval(1, 6), Mux::timeval(1, 5)), 1);

  std::string text = Mux::timevaltostring(Mux::timeval(0, 42));
  ASSERT_EQ(text.size(), 26u);  // "YYYY-mm-dd HH:MM:SS.uuuuuu"
  EXPECT_EQ(text.substr(text.size() - 7), ".000042");
}

TEST(MuxTimeval, TimerKeepsItsPhaseAndPeriodZeroNeverExpires) {
  Mux::timeval_timer t;
  t.init(Mux::timeval(100, 0), 0);
  EXPECT_FALSE(t.is_expired(Mux::timeval(1000000, 0)));

  t.init(Mux::timeval(100, 0), 1500);
  EXPECT_FALSE(t.is_expired(Mux::timeval(101, 500000)));
  EXPECT_TRUE(t.is_expired(Mux::timeval(101, 501000)));
  t.inc();
  EXPECT_FALSE(t.is_expired(Mux::timeval(103, 0)));
  EXPECT_TRUE(t.is_expired(Mux::timeval(103, 1000)));
}


}  // namespace
