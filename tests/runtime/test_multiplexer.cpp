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
#include <memory>
#include <sstream>
#include <sys/resource.h>
#include <vector>

namespace {

using Log = std::vector<std::pair<std::string, short>>;
using Strings = std::vector<std::string>;
using testsupport::Pipe;

// A bare loop participant on a raw descriptor that logs its services.
struct Probe : EventHandler {
  Probe(std::string n, int fd, Log* log, short mask = POLLIN) : name(std::move(n)), fd(fd), mask(mask), log(log) {}
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

// Calls a function from a timer or a deferred call.
struct Call {
  std::function<void()> f;
  void go() { f(); }
};

class MultiplexerTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    old_clog = std::clog.rdbuf(clog_text.rdbuf());  // kept apart from the captured error stream
    platform::sim::watchdog().clear();
  }
  void TearDown() override {
    std::clog.rdbuf(old_clog);
    EXPECT_EQ(multiplexer.pending_list().size() + multiplexer.active_list().size() +
                  multiplexer.serviced_list().size(), 0u) << "a test left a handler attached";
    platform::sim::watchdog().clear();
    VirtualClockTest::TearDown();
  }
  static Strings names(const Log& log) {
    Strings n;
    for (auto& e : log) n.push_back(e.first);
    return n;
  }
  static Strings watchdog_texts() {
    Strings t;
    for (auto& w : platform::sim::watchdog().writes) t.push_back(w.data);
    return t;
  }
  std::ostringstream clog_text;
  std::streambuf* old_clog = nullptr;
  Log log;
};

TEST_F(MultiplexerTest, EveryHandlerIsServicedInAttachOrderWithItsOwnBits) {
  Pipe p[5];
  std::vector<std::unique_ptr<Probe>> probes;
  for (int i = 0; i < 5; ++i) {
    probes.emplace_back(new Probe("h" + std::to_string(i), p[i].r, &log));
    probes.back()->mux_attach();
  }
  ASSERT_TRUE(p[2].fill());
  probes[4]->on_service = [](short) { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(log, (Log{{"h0", 0}, {"h1", 0}, {"h2", POLLIN}, {"h3", 0}, {"h4", 0}}));
}

TEST_F(MultiplexerTest, DetachDuringDispatchPreventsTheService) {
  Pipe p;
  ASSERT_TRUE(p.fill());
  Probe a("a", p.r, &log), b("b", p.r, &log), c("c", p.r, &log), d("d", p.r, &log);
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

TEST_F(MultiplexerTest, HandlerDestroyedWhileAttachedLeavesTheLoop) {
  Pipe p;
  ASSERT_TRUE(p.fill());
  struct Careless : Probe {
    using Probe::Probe;
    ~Careless() override {}  // does not detach itself
  };
  auto* gone = new Careless("gone", p.r, &log);
  Probe stay("stay", p.r, &log);
  gone->mux_attach();
  stay.mux_attach();
  delete gone;
  stay.on_service = [](short) { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(names(log), Strings{"stay"});
}

TEST_F(MultiplexerTest, HandlerAttachedInAServiceIsPolledFromTheNextPassAndByATimerInTheSame) {
  Pipe p;
  ASSERT_TRUE(p.fill());
  Probe q("q", p.r, &log), late("late", p.r, &log);
  q.on_service = [&](short) { late.mux_attach(); };
  late.on_service = [&](short) { multiplexer.terminate(); };
  q.mux_attach();
  multiplexer.run(false, true);
  EXPECT_EQ(names(log), (Strings{"q", "q", "late"}));
  q.mux_detach();
  late.mux_detach();

  // Attached by a timer at 100 ms: polled in that pass, with no wait between.
  std::uint32_t start = now_ms(), serviced_at = 0;
  late.on_service = [&](short) {
    serviced_at = now_ms();
    multiplexer.terminate();
  };
  Call arm{[&] { late.mux_attach(); }};
  Timer t, guard;
  t.set(100, &Call::go, &arm);
  guard.set(1000, &testsupport::VirtualClockTest::terminate_loop);
  multiplexer.run(false, true);
  EXPECT_EQ(serviced_at - start, 100u);
}

TEST_F(MultiplexerTest, HandlerDetachedRightBeforePollGetsNoBitsAndOthersKeepTheirOwn) {
  Pipe quiet, out, in;
  ASSERT_TRUE(in.fill());
  Probe a("a", quiet.r, &log), b("b", out.w, &log, POLLOUT), c("c", in.r, &log);
  for (Probe* x : {&a, &b, &c}) x->mux_attach();
  c.on_service = [](short) { multiplexer.terminate(); };
  int calls = 0;
  Call detacher{[&] {
    if (++calls == 2) b.mux_detach();  // the second call point: the array is built
  }};
  Dpc dpc;
  dpc.Bind(&detacher, &Call::go);
  dpc.Activate();
  multiplexer.run(false, true);
  EXPECT_EQ(log, (Log{{"a", 0}, {"c", POLLIN}}));
}

TEST_F(MultiplexerTest, TerminateDuringDispatchStopsBeforeTheNextHandler) {
  Pipe p;
  ASSERT_TRUE(p.fill());
  Probe a("a", p.r, &log), b("b", p.r, &log), c("c", p.r, &log);
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

TEST_F(MultiplexerTest, TerminateBeforeRunIsForgottenAndFromATimerEndsWithoutAHangReport) {
  multiplexer.terminate();
  std::uint32_t start = now_ms();
  testing::internal::CaptureStderr();
  run_for(500);  // nothing to poll: the stopping timer is the only deadline
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(now_ms() - start, 500u);
  EXPECT_EQ(clog_text.str(), "Mux: terminating...\n");
}

TEST_F(MultiplexerTest, AttachAndDetachMistakesAreReportedAndChangeNothing) {
  Probe a("alpha", 0, &log);
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

// Each handler's record of the list that holds it follows it through the
// passes (pending, polled, serviced, the lists trading places after every
// dispatch, a terminate leaving some unserviced): membership, duplicate
// attach and detach answer from that record and must match the lists.
TEST_F(MultiplexerTest, MembershipFollowsHandlersThroughEveryList) {
  Pipe p;
  ASSERT_TRUE(p.fill());
  Probe a("a", p.r, &log), b("b", p.r, &log), c("c", p.r, &log), d("d", p.r, &log), e("e", p.r, &log);
  auto total = [] {
    return multiplexer.pending_list().size() + multiplexer.active_list().size() +
           multiplexer.serviced_list().size();
  };
  for (Probe* x : {&a, &b, &c, &e}) x->mux_attach();
  std::string duplicates;
  b.on_service = [&](short) {
    d.mux_attach();  // pending; a serviced, c and e still to come
    testing::internal::CaptureStderr();
    for (Probe* x : {&a, &c, &d}) {
      EXPECT_TRUE(multiplexer.event_exists(x)) << x->name;
      multiplexer.attach(x);
    }
    duplicates = testing::internal::GetCapturedStderr();
    EXPECT_EQ(total(), 5u);
    a.mux_detach();  // from the serviced list
    c.mux_detach();  // from the polled list, before its service
    EXPECT_FALSE(multiplexer.event_exists(&a));
    EXPECT_FALSE(multiplexer.event_exists(&c));
    EXPECT_EQ(total(), 3u);
    multiplexer.terminate();
  };
  multiplexer.run(false, true);
  EXPECT_EQ(duplicates, "duplicate multiplexer attach \"a\" ignored.\n"
                        "duplicate multiplexer attach \"c\" ignored.\n"
                        "duplicate multiplexer attach \"d\" ignored.\n");
  EXPECT_EQ(names(log), (Strings{"a", "b"}));
  EXPECT_EQ(multiplexer.serviced_list().size(), 1u) << "e left unserviced";

  // Three more passes: the lists trade places each time; handlers come and
  // go in between and every one is found where it is.
  b.on_service = nullptr;
  int passes = 0;
  e.on_service = [&](short) {
    ++passes;
    if (passes == 1) a.mux_attach();
    if (passes == 2) {
      b.mux_detach();
      c.mux_attach();
    }
    if (passes == 3) multiplexer.terminate();
  };
  log.clear();
  multiplexer.run(false, true);
  EXPECT_EQ(names(log), (Strings{"b", "e", "d", "b", "e", "d", "a", "e"}));
  EXPECT_EQ(total(), 4u);

  testing::internal::CaptureStderr();
  for (Probe* x : {&a, &c, &d, &e}) {
    EXPECT_TRUE(multiplexer.event_exists(x)) << x->name;
    x->mux_detach();
  }
  EXPECT_FALSE(multiplexer.event_exists(&b));
  multiplexer.detach(&b);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "indvalid Multiplexer::detach b\n");
}

TEST_F(MultiplexerTest, CachedClockHoldsTheMomentPollReturned) {
  std::uint32_t first = 0, second = 0;
  Call reader{[&] {
    first = now_ms();
    platform::vclock::advance_ms(7);
    second = now_ms();
  }};
  Timer t;
  t.set(50, &Call::go, &reader);
  run_for(100, false, /*live_clock=*/false);
  EXPECT_EQ(first, second);
}

TEST_F(MultiplexerTest, WaitIsCappedWhileTheWatchdogIsOpen) {
  struct Case {
    unsigned delay;
    bool watchdog;
    int wait;
  } cases[] = {{300, true, 300}, {5000, true, 1000}, {5000, false, 5000}};
  for (const Case& c : cases) {
    int seen = -2;
    Call probe{[&] { seen = platform::vclock::last_timeout(); }};
    Timer t;
    t.set(c.delay, &Call::go, &probe);
    run_for(c.delay + 1000, c.watchdog);
    EXPECT_EQ(seen, c.wait) << c.delay << (c.watchdog ? " with" : " without") << " the watchdog";
  }
}

// What deferred calls do right before poll: a timer they arm due now is not
// held back by the watchdog's cap, and a terminate ends the loop unpolled.
TEST_F(MultiplexerTest, DeferredCallsBeforePollAreHeardByThatPoll) {
  int seen = -2;
  Call probe{[&] { seen = platform::vclock::last_timeout(); }};
  Timer due;
  Dpc arm, stop;
  Call arming{[&] {
    arm.Deactivate();
    due.set(0, &Call::go, &probe);
  }};
  arm.Bind(&arming, &Call::go);
  arm.Activate();
  run_for(100, true);
  EXPECT_EQ(seen, 0);

  // Activated at the first call point, `stop` first runs at the second.
  Call stopping{[&] { multiplexer.terminate(); }};
  Call activating{[&] {
    arm.Deactivate();
    stop.Activate();
  }};
  arm.Bind(&activating, &Call::go);
  stop.Bind(&stopping, &Call::go);
  arm.Activate();
  const std::uint32_t start = now_ms();
  run_for(500);
  EXPECT_EQ(now_ms() - start, 0u);
}

TEST_F(MultiplexerTest, WatchdogIsStartedPingedAtMostOncePerSecondAndStopped) {
  auto& wd = platform::sim::watchdog();
  int open_flags = -1;
  Timer fast;
  Call ticker{[&] {
    if (!wd.channels().empty()) open_flags = wd.channels()[0]->flags;
    fast.set(250, &Call::go, &ticker);
  }};
  fast.set(250, &Call::go, &ticker);
  run_for(5200, true);
  fast.reset();

  EXPECT_EQ(open_flags, O_WRONLY | O_CLOEXEC) << "opened write-only, closed on exec";
  Strings texts = watchdog_texts();
  ASSERT_GE(texts.size(), 7u);
  EXPECT_EQ(texts.front(), "START");
  EXPECT_EQ(texts.back(), "STOP");
  EXPECT_EQ(Strings(texts.begin() + 1, texts.end() - 1), Strings(texts.size() - 2, "PING"));
  // Polled every 250 ms, it is pinged at the first poll a second after the last.
  for (std::size_t i = 2; i + 1 < wd.writes.size(); ++i) EXPECT_EQ(wd.writes[i].ms - wd.writes[i - 1].ms, 1000u);
  EXPECT_EQ(multiplexer.watchdog_fd(), -1);
  EXPECT_TRUE(wd.channels().empty()) << "the watchdog descriptor is closed";
}

TEST_F(MultiplexerTest, WatchdogIsPingedAtOnceWhenTheClockGoesBack) {
  Call back{[] { platform::vclock::advance_ms(-60000); }};
  Timer t;
  t.set(1500, &Call::go, &back);
  run_for(1700, true);
  std::vector<std::uint32_t> pings;
  for (auto& w : platform::sim::watchdog().writes)
    if (w.data == "PING") pings.push_back(w.ms);
  ASSERT_GE(pings.size(), 2u);
  // At 1000 ms, then after the first poll that follows the jump back at
  // 1500 ms. The stop timer's deadline now lies 60.2 s ahead on the clock,
  // so that poll waits the watchdog's cap of 1000 ms.
  EXPECT_EQ(pings[1], pings[0] + 500 + 1000 - 60000);
}

TEST_F(MultiplexerTest, WatchdogFailuresAreReportedAndTheLoopRunsOn) {
  auto& wd = platform::sim::watchdog();
  struct Case {
    int open_errno;
    const char* failing_write;
    std::string err;
    Strings written;
  } cases[] = {
      {EACCES, nullptr, "Mux: fail to open watchdog: Permission denied\n", {}},
      {0, "START", "Mux: fail to activate watchdog: Input/output error\n", {}},
      {0, "PING", "Mux: ping watchdog failed: Input/output error\n", {"START", "STOP"}},
      {0, "STOP", "Mux: stop watchdog failed: Input/output error\n", {"START", "PING", "PING"}},
  };
  for (const Case& c : cases) {
    wd.clear();
    wd.fail_open = c.open_errno;
    if (c.failing_write) wd.fail_write[c.failing_write] = EIO;
    std::uint32_t start = now_ms();
    testing::internal::CaptureStderr();
    run_for(2500, true);
    std::string err = testing::internal::GetCapturedStderr();
    SCOPED_TRACE(c.err);
    EXPECT_EQ(err.substr(0, c.err.size()), c.err);  // a failing PING repeats every second
    EXPECT_EQ(now_ms() - start, 2500u);
    EXPECT_EQ(watchdog_texts(), c.written);
    EXPECT_TRUE(wd.channels().empty()) << "closed in every case";
    EXPECT_EQ(platform::vclock::last_timeout(), c.written.empty() ? 2500 : 500) << "capped only while open";
  }
}

using MultiplexerDeathTest = MultiplexerTest;

TEST_F(MultiplexerDeathTest, NothingToPollAndNoDeadlineIsAHang) {
  EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
  EXPECT_DEATH(multiplexer.run(true, true), "multiplexer: system hang detected!!!");
}

TEST_F(MultiplexerDeathTest, PollFailureIsReportedWithPollsOwnErrorAfterAFailedPing) {
  // The ping comes between poll and the test of its result; a PING that
  // fails there must not stand in for poll's error (an interrupted poll
  // would then end the process).
  Pipe p[2];
  Probe a("a", p[0].r, &log), b("b", p[1].r, &log);
  a.mux_attach();
  b.mux_attach();
  platform::sim::watchdog().fail_write["PING"] = EIO;
  Call shrink{[] {
    platform::vclock::advance_ms(1000);  // a ping is due after the next poll
    rlimit lim;
    ::getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = 1;  // two entries: poll fails with EINVAL
    ::setrlimit(RLIMIT_NOFILE, &lim);
  }};
  Timer t;
  t.set(1500, &Call::go, &shrink);
  EXPECT_DEATH(multiplexer.run(true, true),
               "Mux: ping watchdog failed: Input/output error\nmultiplexer poll failed: Invalid argument\n");
}

TEST(Measure, RecordsShortestLongestLatestAndCount) {
  platform::vclock::enable();
  Measure m;
  auto text = [&m] {
    std::ostringstream os;
    os << std::hex << m;  // decimal whatever the stream's base
    return os.str();
  };
  auto time = [&m](std::int64_t us) {
    m.begin();
    platform::vclock::advance_us(us);
    m.end();
  };
  EXPECT_EQ(text(), "min=0 max=0 avg=0 counter=0");
  time(250);
  EXPECT_EQ(text(), "min=250 max=250 avg=250 counter=1");
  time(100);
  EXPECT_EQ(text(), "min=100 max=250 avg=100 counter=2");
  platform::vclock::set(4294, 967000);  // 296 us before the microsecond clock wraps
  time(500);
  EXPECT_EQ(m.cur, 500u);
  platform::vclock::disable();
}

}  // namespace
