// The event loop: dispatch order and poll bits, attach and detach during a
// pass, termination, the wait and the watchdog, on the virtual clock.
#include "runtime/dpc.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "platform/sim/watchdog.h"
#include "tests/support/pipe.h"
#include "tests/support/vclock_loop.h"

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Log = std::vector<std::pair<std::string, short>>;

// A bare loop participant on a raw descriptor that logs its services.
struct Probe : EventHandler {
  Probe(std::string n, int fd, short mask, Log* log) : name(std::move(n)), fd(fd), mask(mask), log(log) {}
  ~Probe() override { mux_detach(); }
  void shedule_event(pollfd& e) override {
    e.fd = fd;
    e.events = mask;
  }
  void svc_event(short r) override {
    log->push_back({name, r});
    if (on_service) on_service(r);
  }
  std::string event_name() const override { return name; }

  std::string name;
  int fd;
  short mask;
  Log* log;
  std::function<void(short)> on_service;
};

using testsupport::Pipe;

class MultiplexerTest : public testsupport::VirtualClockTest {
 protected:
  // The log stream is kept apart from the error stream the tests capture.
  void SetUp() override {
    VirtualClockTest::SetUp();
    old_clog = std::clog.rdbuf(clog_text.rdbuf());
  }
  void TearDown() override {
    std::clog.rdbuf(old_clog);
    EXPECT_EQ(multiplexer.pending_list().size() + multiplexer.active_list().size() +
                  multiplexer.serviced_list().size(),
              0u)
        << "a test left a handler attached";
    platform::sim::watchdog().clear();
    VirtualClockTest::TearDown();
  }
  std::ostringstream clog_text;
  std::streambuf* old_clog = nullptr;

  // Names in the order they were serviced.
  static std::vector<std::string> names(const Log& log) {
    std::vector<std::string> n;
    for (auto& e : log) n.push_back(e.first);
    return n;
  }
};

using Strings = std::vector<std::string>;

TEST_F(MultiplexerTest, EveryHandlerIsServicedInAttachOrderWithItsOwnBits) {
  Log log;
  Pipe p[5];
  std::vector<std::unique_ptr<Probe>> probes;
  for (int i = 0; i < 5; ++i) {
    probes.emplace_back(new Probe("h" + std::to_string(i), p[i].r, POLLIN, &log));
    probes.back()->mux_attach();
  }
  ASSERT_TRUE(p[2].fill());
  probes[4]->on_service = [](short) { multiplexer.terminate(); };
  multiplexer.run(false, true);

  ASSERT_EQ(log.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(log[i].first, "h" + std::to_string(i));
    EXPECT_EQ(log[i].second, i == 2 ? POLLIN : 0) << i;
  }
}

TEST_F(MultiplexerTest, HandlersDetachedDuringDispatchAreNotServicedAgain) {
  Log log;
  Pipe p;
  ASSERT_TRUE(p.fill());
  Probe a("a", p.r, POLLIN, &log), b("b", p.r, POLLIN, &log), c("c", p.r, POLLIN, &log),
      d("d", p.r, POLLIN, &log);
  for (Probe* x : {&a, &b, &c, &d}) x->mux_attach();
  int passes = 0;
  a.on_service = [&](short) {
    if (++passes == 1) c.mux_detach();  // not serviced yet in this dispatch
  };
  b.on_service = [&](short) { b.mux_detach(); };  // itself
  d.on_service = [&](short) {
    if (passes == 2) multiplexer.terminate();
  };
  multiplexer.run(false, true);

  EXPECT_EQ(names(log), (Strings{"a", "b", "d", "a", "d"}));
  EXPECT_FALSE(multiplexer.event_exists(&b));
  EXPECT_FALSE(multiplexer.event_exists(&c));
}

TEST_F(MultiplexerTest, HandlerAttachedInAServiceIsPolledFromTheNextPass) {
  Log log;
  Pipe p;
  ASSERT_TRUE(p.fill());
  Probe q("q", p.r, POLLIN, &log), late("late", p.r, POLLIN, &log);
  q.on_service = [&](short) { late.mux_attach(); };
  late.on_service = [&](short) { multiplexer.terminate(); };
  q.mux_attach();
  multiplexer.run(false, true);
  EXPECT_EQ(names(log), (Strings{"q", "q", "late"}));
}

TEST_F(MultiplexerTest, HandlerAttachedByADueTimerIsPolledInTheSamePass) {
  Log log;
  Pipe p;
  ASSERT_TRUE(p.fill());
  Probe late("late", p.r, POLLIN, &log);
  std::uint32_t start = now_ms(), serviced_at = 0;
  late.on_service = [&](short) {
    serviced_at = now_ms();
    multiplexer.terminate();
  };
  struct Arm {
    Probe* p;
    void go() { p->mux_attach(); }
  } arm{&late};
  Timer t, guard;
  t.set(100, &Arm::go, &arm);
  guard.set(1000, &testsupport::VirtualClockTest::terminate_loop);
  multiplexer.run(false, true);
  // Polled in the pass whose timer step attached it: no wait in between.
  EXPECT_EQ(serviced_at - start, 100u);
}

TEST_F(MultiplexerTest, HandlerDetachedRightBeforePollGetsNoBitsAndOthersKeepTheirOwn) {
  Log log;
  Pipe quiet, out, in;
  ASSERT_TRUE(in.fill());
  Probe a("a", quiet.r, POLLIN, &log), b("b", out.w, POLLOUT, &log), c("c", in.r, POLLIN, &log);
  for (Probe* x : {&a, &b, &c}) x->mux_attach();
  c.on_service = [](short) { multiplexer.terminate(); };
  struct Detacher {
    Probe* victim;
    int calls = 0;
    void go() {
      if (++calls == 2) victim->mux_detach();  // the second call point: the array is built
    }
  } detacher{&b};
  Dpc dpc;
  dpc.Bind(&detacher, &Detacher::go);
  dpc.Activate();
  multiplexer.run(false, true);

  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], std::make_pair(std::string("a"), short(0)));
  EXPECT_EQ(log[1], std::make_pair(std::string("c"), short(POLLIN)));
}

TEST_F(MultiplexerTest, TerminateDuringDispatchStopsBeforeTheNextHandler) {
  Log log;
  Pipe p;
  ASSERT_TRUE(p.fill());
  Probe a("a", p.r, POLLIN, &log), b("b", p.r, POLLIN, &log), c("c", p.r, POLLIN, &log);
  for (Probe* x : {&a, &b, &c}) x->mux_attach();
  b.on_service = [](short) { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(names(log), (Strings{"a", "b"}));
  EXPECT_TRUE(multiplexer.event_exists(&c));

  // A later run polls the handler left unserviced, in its old place.
  log.clear();
  b.on_service = nullptr;
  c.on_service = [](short) { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(names(log), (Strings{"a", "b", "c"}));

  testing::internal::CaptureStderr();
  for (Probe* x : {&a, &b, &c}) x->mux_detach();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(MultiplexerTest, TerminateBeforeRunIsForgotten) {
  multiplexer.terminate();
  std::uint32_t start = now_ms();
  run_for(500);
  EXPECT_EQ(now_ms() - start, 500u);
}

TEST_F(MultiplexerTest, AttachAndDetachMistakesAreReportedAndChangeNothing) {
  Log log;
  Probe a("alpha", 0, POLLIN, &log);
  testing::internal::CaptureStderr();
  a.mux_attach();
  a.mux_attach();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  testing::internal::CaptureStderr();
  multiplexer.attach(&a);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "duplicate multiplexer attach \"alpha\" ignored.\n");
  EXPECT_EQ(multiplexer.pending_list().size(), 1u);

  a.mux_detach();
  testing::internal::CaptureStderr();
  multiplexer.detach(&a);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "indvalid Multiplexer::detach alpha\n");
}

TEST_F(MultiplexerTest, CachedClockHoldsTheMomentPollReturned) {
  struct Reader {
    std::uint32_t first = 0, second = 0;
    void go() {
      first = now_ms();
      platform::vclock::advance_ms(7);
      second = now_ms();
    }
  } reader;
  Timer t;
  t.set(50, &Reader::go, &reader);
  run_for(100, false, /*live_clock=*/false);
  EXPECT_EQ(reader.first, reader.second);
}

TEST_F(MultiplexerTest, WaitIsCappedWhileTheWatchdogIsOpen) {
  struct Probe2 {
    int seen = -2;
    void go() { seen = platform::vclock::last_timeout(); }
  } near, far, far_closed;
  Timer t;

  t.set(300, &Probe2::go, &near);
  run_for(400, true);
  EXPECT_EQ(near.seen, 300);

  t.set(5000, &Probe2::go, &far);
  run_for(6000, true);
  EXPECT_EQ(far.seen, 1000);

  t.set(5000, &Probe2::go, &far_closed);
  run_for(6000, false);
  EXPECT_EQ(far_closed.seen, 5000);
}

TEST_F(MultiplexerTest, WatchdogIsStartedPingedAtMostOncePerSecondAndStopped) {
  auto& wd = platform::sim::watchdog();
  wd.clear();
  Timer fast;
  struct Ticker {
    Timer* t;
    void go() { t->set(250, &Ticker::go, this); }
  } ticker{&fast};
  fast.set(250, &Ticker::go, &ticker);
  run_for(5200, true);
  fast.reset();

  ASSERT_GE(wd.writes.size(), 4u);
  EXPECT_EQ(wd.writes.front().data, "START");
  EXPECT_EQ(wd.writes.back().data, "STOP");
  int pings = 0;
  std::uint32_t last = 0;
  for (std::size_t i = 1; i + 1 < wd.writes.size(); ++i) {
    EXPECT_EQ(wd.writes[i].data, "PING");
    if (pings) {
      EXPECT_GE(wd.writes[i].ms - last, 1000u);
    }
    last = wd.writes[i].ms;
    ++pings;
  }
  EXPECT_GE(pings, 5);
  EXPECT_EQ(multiplexer.watchdog_fd(), -1);
  EXPECT_TRUE(wd.channels().empty()) << "the watchdog descriptor is closed";
}

TEST_F(MultiplexerTest, WatchdogIsPingedAtOnceWhenTheClockGoesBack) {
  auto& wd = platform::sim::watchdog();
  wd.clear();
  struct Back {
    void go() { platform::vclock::advance_ms(-60000); }
  } back;
  Timer t;
  t.set(1500, &Back::go, &back);
  run_for(1700, true);

  std::vector<std::uint32_t> pings;
  for (auto& w : wd.writes) {
    if (w.data == "PING") pings.push_back(w.ms);
  }
  ASSERT_GE(pings.size(), 3u);
  // The ping after the jump comes within one pass, not 1000 ms later.
  bool seen_back = false;
  for (std::size_t i = 1; i < pings.size(); ++i) {
    if (pings[i] < pings[i - 1]) seen_back = true;
  }
  EXPECT_TRUE(seen_back);
}

TEST_F(MultiplexerTest, WatchdogFailuresAreReportedAndTheLoopRunsOn) {
  auto& wd = platform::sim::watchdog();
  std::uint32_t start;

  wd.clear();
  wd.fail_open = EACCES;
  start = now_ms();
  testing::internal::CaptureStderr();
  run_for(2500, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mux: fail to open watchdog: Permission denied\n");
  EXPECT_EQ(now_ms() - start, 2500u);
  EXPECT_TRUE(wd.writes.empty());

  wd.clear();
  wd.fail_write["START"] = EIO;
  testing::internal::CaptureStderr();
  run_for(2500, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mux: fail to activate watchdog: Input/output error\n");
  EXPECT_TRUE(wd.writes.empty());
  EXPECT_TRUE(wd.channels().empty());
  EXPECT_EQ(platform::vclock::last_timeout(), 2500) << "no watchdog, no cap";

  wd.clear();
  wd.fail_write["PING"] = EIO;
  wd.fail_write["STOP"] = EIO;
  testing::internal::CaptureStderr();
  run_for(2500, true);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("Mux: ping watchdog failed: Input/output error\n"), 0u) << err;
  EXPECT_NE(err.find("Mux: stop watchdog failed: Input/output error\n"), std::string::npos) << err;
  ASSERT_EQ(wd.writes.size(), 1u);
  EXPECT_EQ(wd.writes[0].data, "START");
  EXPECT_TRUE(wd.channels().empty()) << "closed although STOP failed";
}

TEST_F(MultiplexerTest, TerminateFromATimerEndsAnEmptyLoopWithoutAHangReport) {
  testing::internal::CaptureStderr();
  run_for(10);
  EXPECT_EQ(clog_text.str(), "Mux: terminating...\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

using MultiplexerDeathTest = MultiplexerTest;

TEST_F(MultiplexerDeathTest, NothingToPollAndNoDeadlineIsAHang) {
  EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
  EXPECT_DEATH(multiplexer.run(true, true), "multiplexer: system hang detected!!!");
}

TEST(Measure, RecordsShortestLongestLatestAndCount) {
  platform::vclock::enable();
  Measure m;
  std::ostringstream empty;
  empty << m;
  EXPECT_EQ(empty.str(), "min=0 max=0 avg=0 counter=0");

  m.begin();
  platform::vclock::advance_us(250);
  m.end();
  std::ostringstream one;
  one << m;
  EXPECT_EQ(one.str(), "min=250 max=250 avg=250 counter=1");

  m.begin();
  platform::vclock::advance_us(100);
  m.end();
  std::ostringstream two;
  two << std::hex << m;
  EXPECT_EQ(two.str(), "min=100 max=250 avg=100 counter=2");

  // The microsecond clock wraps every 2^32 us; a duration across the wrap
  // is still right.
  platform::vclock::set(4294, 967000);  // 296 us before the wrap
  m.begin();
  platform::vclock::advance_us(500);
  m.end();
  EXPECT_EQ(m.cur, 500u);
  platform::vclock::disable();
}

}  // namespace
