// One-shot timers on the virtual clock: order, re-arming, wrap-around, the
// range check, targets that touch their own timer, and the timer-poll
// plug-ins.
#include "runtime/dpc.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "tests/support/vclock_loop.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class TimerTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    old_clog = std::clog.rdbuf(clog_text.rdbuf());
    start = now_ms();
  }
  void TearDown() override {
    std::clog.rdbuf(old_clog);
    EXPECT_EQ(multiplexer.timer_list().count(), 0u) << "a test left a timer pending";
    VirtualClockTest::TearDown();
  }
  std::uint32_t elapsed() const { return now_ms() - start; }
  // A timer owner that logs "<name>@<ms since the test's start>" when fired.
  struct Rec {
    Rec(TimerTest* t, std::string n, std::function<void()> f = nullptr)
        : test(t), name(std::move(n)), also(std::move(f)) {}
    TimerTest* test;
    std::string name;
    Timer timer;
    std::function<void()> also;
    void fired() {
      test->out.push_back(name + "@" + std::to_string(test->elapsed()));
      if (also) also();
    }
    void fired_with(Timer* t) {
      EXPECT_EQ(t, &timer);
      EXPECT_FALSE(t->is_running()) << "idle inside its own target";
      fired();
    }
  };

  std::ostringstream clog_text;
  std::streambuf* old_clog = nullptr;
  std::uint32_t start = 0;
  Strings out;
};

TEST_F(TimerTest, EqualDeadlinesFireInTheOrderArmedAndReArmingMovesBehind) {
  Rec a{this, "a"}, b{this, "b"}, c{this, "c"};
  a.timer.set(100, &Rec::fired, &a);
  b.timer.set(100, &Rec::fired, &b);
  c.timer.set(50, &Rec::fired, &c);
  run_for(200);
  EXPECT_EQ(out, (Strings{"c@50", "a@100", "b@100"}));

  out.clear();
  start = now_ms();
  a.timer.set(100, &Rec::fired, &a);
  b.timer.set(100, &Rec::fired, &b);
  a.timer.set(100, &Rec::fired_with, &a);
  run_for(200);
  EXPECT_EQ(out, (Strings{"b@100", "a@100"}));
}

TEST_F(TimerTest, ReArmingPostponesAndResetCancels) {
  Rec a{this, "a"}, b{this, "b"};
  a.timer.set(100, &Rec::fired, &a);
  a.timer.set(300, &Rec::fired_with, &a);
  b.timer.set(200, &Rec::fired, &b);
  EXPECT_EQ(multiplexer.timer_list().count(), 2u);
  b.timer.reset();
  b.timer.reset();
  EXPECT_FALSE(b.timer.is_running());
  run_for(1000);
  EXPECT_EQ(out, Strings{"a@300"});
}

TEST_F(TimerTest, TargetMayReArmResetOrDestroyItsTimerOrCancelAnother) {
  // Re-armed with 0 inside its target: due at the firing loop's now, so it
  // fires again in the same loop; a reset of the idle timer does nothing.
  Rec a{this, "a"};
  bool again = false;
  a.also = [&] {
    a.timer.reset();
    if (!again) a.timer.set(0, &Rec::fired, &a);
    again = true;
  };
  a.timer.set(10, &Rec::fired, &a);
  run_for(20);
  EXPECT_EQ(out, (Strings{"a@10", "a@10"}));
  EXPECT_FALSE(a.timer.is_running());

  // Cancelling another timer due at the same deadline stops it firing.
  out.clear();
  start = now_ms();
  Rec canceller{this, "canceller"}, victim{this, "victim"};
  canceller.also = [&] { victim.timer.reset(); };
  canceller.timer.set(100, &Rec::fired, &canceller);
  victim.timer.set(100, &Rec::fired, &victim);
  run_for(300);
  EXPECT_EQ(out, Strings{"canceller@100"});

  // A target that destroys its owner, timer and all.
  struct SelfDestroying {
    Timer t;
    bool* gone;
    void go() {
      *gone = true;
      delete this;
    }
  };
  bool gone = false;
  auto* s = new SelfDestroying{{}, &gone};
  s->t.set(5, &SelfDestroying::go, s);
  run_for(10);
  EXPECT_TRUE(gone);
}

TEST_F(TimerTest, DeadlinesWrapAtTwoToTheThirtyTwoMilliseconds) {
  platform::vclock::set(4294967, 0);  // 296 ms before the count wraps
  start = now_ms();
  ASSERT_EQ(start, 4294967000u);
  Rec late{this, "late"}, soon{this, "soon"};
  late.timer.set(1000, &Rec::fired, &late);  // deadline wraps to 704
  soon.timer.set(100, &Rec::fired, &soon);
  run_for(2000);
  EXPECT_EQ(out, (Strings{"soon@100", "late@1000"}));
}

TEST_F(TimerTest, AWaitBeyondTwoHoursIsReportedAndPulledInToOneSecond) {
  Rec far{this, "far"}, farther{this, "farther"};
  far.timer.set(8000000, &Rec::fired, &far);
  farther.timer.set(9000000, &Rec::fired, &farther);
  Timer stop;
  stop.set(9500000, &testsupport::VirtualClockTest::terminate_loop);
  testing::internal::CaptureStderr();
  multiplexer.run(false, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "******** RUNTIME ERROR CONDITION *************Multiplexer::timers_schedule() invalid wait time detected!\n"
            "now = " + std::to_string(start) + "\n"
            "first = " + std::to_string(start + 8000000) + "\n"
            "count = 3\n");
  // Every pending event fired about one second later, in list order.
  EXPECT_EQ(out, (Strings{"far@1000", "farther@1000"}));
  EXPECT_EQ(elapsed(), 1000u);
}

TEST_F(TimerTest, ADelayOfTwoToTheThirtyOneOrMoreCountsAsPassed) {
  // Read 0 ms after arming, a deadline 2^31 + 50 ms ahead lies 2^31 - 50 ms
  // behind by signed difference.
  Rec s{this, "s", [] { multiplexer.terminate(); }};
  s.timer.set(0x80000000u + 50, &Rec::fired, &s);
  multiplexer.run(false, true);
  EXPECT_EQ(out, Strings{"s@0"});
}

TEST_F(TimerTest, TimeSetBackWhileTimersFireDoesNotRefireTheRoundsReArmedTimers) {
  // The time of day goes back 60 s while a firing round runs (a slow
  // target, a step of the system time). A periodic timer re-armed after the
  // step lands before the round's instant: judged against that instant it
  // fired again at once, round after round, for as long as the step, and the
  // loop never polled. It now waits for the clock, as after a step between
  // passes. The count cap only keeps a failing run finite.
  int ticks = 0;
  Rec step{this, "step", [] { platform::vclock::advance_ms(-60000); }};
  Rec tick{this, "tick"};
  tick.also = [&] {
    if (++ticks < 20) tick.timer.set(250, &Rec::fired, &tick);
  };
  step.timer.set(1000, &Rec::fired, &step);
  tick.timer.set(1000, &Rec::fired, &tick);
  const unsigned long polls = platform::vclock::idle_polls();
  run_for(1600);
  tick.timer.reset();
  EXPECT_EQ(out, (Strings{"step@1000", "tick@1000", "tick@1250", "tick@1500"}));
  EXPECT_GT(platform::vclock::idle_polls(), polls + 3) << "the loop polls between the ticks";
}

TEST_F(TimerTest, ATimerArmedAfterTheTimeWentBackWaitsItsOwnDelay) {
  // The time of day goes back 60 s inside a target (then inside a deferred
  // call of the first call point), and a timer is armed for 250 ms after
  // the step. Its wait is reckoned from the clock as it reads after the
  // step: reckoned from the round's instant it came out below zero, was
  // reported as a runtime error and pulled in to one second after that
  // instant, 61 s away.
  std::vector<std::uint32_t> at;
  Rec r{this, "r"};
  struct StepBack {
    Dpc dpc;
    Rec* rec = nullptr;
    void go() {
      dpc.Deactivate();
      platform::vclock::advance_ms(-60000);
      rec->timer.set(250, &Rec::fired, rec);
    }
  } step;
  step.rec = &r;
  step.dpc.Bind(&step, &StepBack::go);
  r.also = [&] {
    at.push_back(now_ms());
    if (at.size() == 1) {
      platform::vclock::advance_ms(-60000);
      r.timer.set(250, &Rec::fired, &r);
    } else if (at.size() == 2) {
      step.dpc.Activate();  // runs after this round, at the pass's first call point
    } else {
      multiplexer.terminate();
    }
  };
  r.timer.set(1000, &Rec::fired, &r);
  testing::internal::CaptureStderr();
  multiplexer.run(false, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(at.size(), 3u);
  EXPECT_EQ(at[1] - (at[0] - 60000u), 250u);
  EXPECT_EQ(at[2] - (at[1] - 60000u), 250u);
}

TEST_F(TimerTest, ATimerDueNowMakesThePassPollWithoutWaiting) {
  // A deferred call at the first call point arms a timer with delay 0: its
  // deadline equals now. That is a wait of 0, not "no deadline" (which,
  // with nothing to poll, would be reported as a hang).
  Rec done{this, "done", [] { multiplexer.terminate(); }};
  struct Arm {
    explicit Arm(Rec* rec) : r(rec) {}
    Rec* r;
    Dpc dpc;
    void arm() {
      dpc.Deactivate();
      r->timer.set(0, &Rec::fired, r);
    }
  } a{&done};
  a.dpc.Bind(&a, &Arm::arm);
  a.dpc.Activate();
  multiplexer.run(false, true);
  EXPECT_EQ(out, Strings{"done@0"});
  EXPECT_EQ(platform::vclock::last_timeout(), 0);
}

struct Updater {
  static const TimerSpec<Updater> spec;
  TimerSpec<Updater>::SpecTimer<spec> timer;
  std::vector<std::uint32_t> at;
  std::uint32_t start = 0;
  void OnUpdate() {
    timer.set(this);
    at.push_back(std::uint32_t(Mux::milliseconds()) - start);
  }
};
const TimerSpec<Updater> Updater::spec = {&Updater::OnUpdate, 3000};

int plain_calls = 0;
void plain() { ++plain_calls; }

TEST_F(TimerTest, SpecTimersAndPlainFunctionTimers) {
  plain_calls = 0;
  Updater u;
  u.start = start;
  u.timer.set(&u);
  Timer t;
  t.set(40, &plain);
  run_for(7000);
  u.timer.reset();
  EXPECT_EQ(u.at, (std::vector<std::uint32_t>{3000, 6000}));
  EXPECT_EQ(plain_calls, 1);
}

struct Plugin : TimerPoolPlugin {
  Plugin(int w, Strings* a, std::string n) : wait(w), asked(a), name(std::move(n)) {}
  int timerSchedule() override {
    asked->push_back(name);
    if (also) also();
    return wait;
  }
  int wait;
  Strings* asked;
  std::string name;
  std::function<void()> also;
};

TEST_F(TimerTest, PluginsAreAskedInHookOrderAndTheLeastWaitWins) {
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 2147483647);
  Strings asked;
  Plugin a(700, &asked, "a"), b(-1, &asked, "b"), c(300, &asked, "c"), d(100, &asked, "d");
  for (Plugin* p : {&a, &b, &c, &a}) p->timerHook();
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 300);
  EXPECT_EQ(asked, (Strings{"a", "b", "c"}));

  // Unhooked during the walk: one not asked yet is skipped; one hooked
  // during the walk waits for the next.
  asked.clear();
  a.also = [&] {
    c.timerUnhook();
    d.timerHook();
  };
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 700);
  EXPECT_EQ(asked, (Strings{"a", "b"}));
  a.also = nullptr;
  asked.clear();
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 100);
  EXPECT_EQ(asked, (Strings{"a", "d", "b"})) << "d joined the list while a was asked";

  // The loop waits what the plug-ins ask, 0 included.
  b.wait = 0;
  int asks = 0;
  b.also = [&] {
    if (++asks == 2) multiplexer.terminate();
  };
  Timer guard;
  guard.set(5000, &testsupport::VirtualClockTest::terminate_loop);
  d.timerUnhook();
  a.timerUnhook();
  multiplexer.run(false, true);
  EXPECT_EQ(asks, 2);
  EXPECT_EQ(platform::vclock::last_timeout(), 0);
  EXPECT_EQ(elapsed(), 0u);
}

}  // namespace

namespace {

// Many timers, cancelled in scattered order from every place in the list:
// each event unlinks itself, the others keep their order (equal deadlines in
// the order armed), and every event goes back to the pool.
class TimerCancelTest : public testsupport::VirtualClockTest {
 protected:
  struct Owner {
    std::vector<int>* fired = nullptr;
    int id = 0;
    Timer timer;
    void fire() { fired->push_back(id); }
  };
};

TEST_F(TimerCancelTest, CancellingAnywhereKeepsTheOrderOfTheRest) {
  const unsigned long events_before = TimerEvent::pooled_in_use();
  const int n = 600;
  std::vector<int> fired;
  std::vector<Owner> owners(n);
  for (int i = 0; i < n; ++i) {
    owners[i].fired = &fired;
    owners[i].id = i;
    owners[i].timer.set(100 + static_cast<unsigned>(i % 7) * 10, &Owner::fire, &owners[i]);
  }
  std::vector<bool> cancelled(n, false);
  for (int k = 0, i = 0; k < n / 3; ++k) {
    i = (i + 257) % n;  // scattered over the whole list
    owners[i].timer.reset();
    cancelled[i] = true;
  }
  EXPECT_EQ(multiplexer.timer_list().count(),
            static_cast<std::uint32_t>(std::count(cancelled.begin(), cancelled.end(), false)));
  run_for(1000);

  std::vector<int> expected;
  for (int slot = 0; slot < 7; ++slot)
    for (int i = slot; i < n; i += 7)
      if (!cancelled[i]) expected.push_back(i);
  EXPECT_EQ(fired, expected);
  EXPECT_EQ(TimerEvent::pooled_in_use(), events_before) << "an event was not given back";
}

}  // namespace
