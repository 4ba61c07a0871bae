// One-shot timers on the virtual clock: order, re-arming, wrap-around, the
// range check, targets that touch their own timer, and the timer-poll
// plug-ins.
#include "runtime/dpc.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "tests/support/vclock_loop.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

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

  std::ostringstream clog_text;
  std::streambuf* old_clog = nullptr;
  std::uint32_t start = 0;
};

// Records "<name>@<ms since start>" for each firing.
struct Recorder {
  Recorder(std::vector<std::string>* o, std::string n, std::uint32_t s) : out(o), name(std::move(n)), start(s) {}
  std::vector<std::string>* out;
  std::string name;
  std::uint32_t start;
  Timer timer;
  void fired() { out->push_back(name + "@" + std::to_string(std::uint32_t(Mux::milliseconds()) - start)); }
  void fired_with(Timer* t) {
    EXPECT_EQ(t, &timer);
    EXPECT_FALSE(t->is_running()) << "idle inside its own target";
    fired();
  }
};

using Strings = std::vector<std::string>;

TEST_F(TimerTest, EqualDeadlinesFireInTheOrderArmedAndReArmingMovesBehind) {
  Strings out;
  Recorder a{&out, "a", start}, b{&out, "b", start}, c{&out, "c", start};
  a.timer.set(100, &Recorder::fired, &a);
  b.timer.set(100, &Recorder::fired, &b);
  c.timer.set(50, &Recorder::fired, &c);
  run_for(200);
  EXPECT_EQ(out, (Strings{"c@50", "a@100", "b@100"}));

  out.clear();
  start = now_ms();
  a.start = b.start = start;
  a.timer.set(100, &Recorder::fired, &a);
  b.timer.set(100, &Recorder::fired, &b);
  a.timer.set(100, &Recorder::fired_with, &a);
  run_for(200);
  EXPECT_EQ(out, (Strings{"b@100", "a@100"}));
}

TEST_F(TimerTest, ReArmingWithALongerDelayPostponesAndResetCancels) {
  Strings out;
  Recorder a{&out, "a", start}, b{&out, "b", start};
  a.timer.set(100, &Recorder::fired, &a);
  a.timer.set(300, &Recorder::fired_with, &a);
  b.timer.set(200, &Recorder::fired, &b);
  EXPECT_EQ(multiplexer.timer_list().count(), 2u);
  b.timer.reset();
  b.timer.reset();
  EXPECT_FALSE(b.timer.is_running());
  run_for(1000);
  EXPECT_EQ(out, Strings{"a@300"});
}


TEST_F(TimerTest, TargetMayReArmResetOrDestroyItsOwnTimer) {
  struct Owner {
    Timer t;
    int fired = 0;
    bool again = false;
    void rearm0() {
      ++fired;
      t.reset();  // idle already: no effect
      if (!again) {
        again = true;
        t.set(0, &Owner::rearm0, this);  // due at the firing loop's now
      }
    }
  } o;
  o.t.set(10, &Owner::rearm0, &o);
  run_for(20);
  EXPECT_EQ(o.fired, 2);
  EXPECT_FALSE(o.t.is_running());

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
  auto* s = new SelfDestroying;
  s->gone = &gone;
  s->t.set(5, &SelfDestroying::go, s);
  run_for(10);
  EXPECT_TRUE(gone);
}

TEST_F(TimerTest, TargetCancellingAnotherDueTimerStopsItFiring) {
  Strings out;
  Recorder b{&out, "b", start};
  struct Canceller {
    Recorder* victim = nullptr;
    Timer t;
    void go() { victim->timer.reset(); }
  } c;
  c.victim = &b;
  c.t.set(100, &Canceller::go, &c);
  b.timer.set(100, &Recorder::fired, &b);  // same deadline, behind the canceller
  run_for(300);
  EXPECT_TRUE(out.empty());
}

TEST_F(TimerTest, DeadlinesWrapAtTwoToTheThirtyTwoMilliseconds) {
  // 296 ms before the 32-bit millisecond count wraps.
  platform::vclock::set(4294967, 0);
  start = now_ms();
  ASSERT_EQ(start, 4294967000u);
  Strings out;
  Recorder late{&out, "late", start}, soon{&out, "soon", start};
  late.timer.set(1000, &Recorder::fired, &late);  // deadline wraps to 704
  soon.timer.set(100, &Recorder::fired, &soon);
  run_for(2000);
  EXPECT_EQ(out, (Strings{"soon@100", "late@1000"}));
}

TEST_F(TimerTest, AWaitBeyondTwoHoursIsReportedAndPulledInToOneSecond) {
  Strings out;
  Recorder far{&out, "far", start}, farther{&out, "farther", start};
  far.timer.set(8000000, &Recorder::fired, &far);
  farther.timer.set(9000000, &Recorder::fired, &farther);
  Timer stop;
  stop.set(9500000, &testsupport::VirtualClockTest::terminate_loop);
  testing::internal::CaptureStderr();
  multiplexer.run(false, true);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
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
  struct Stopper {
    Timer t;
    bool fired = false;
    void go() {
      fired = true;
      multiplexer.terminate();
    }
  } s;
  s.t.set(0x80000000u + 50, &Stopper::go, &s);
  multiplexer.run(false, true);
  EXPECT_TRUE(s.fired);
  EXPECT_EQ(elapsed(), 0u);
}

TEST_F(TimerTest, ATimerDueNowMakesThePassPollWithoutWaiting) {
  // A deferred call arms a timer with delay 0 at the first call point: its
  // deadline equals now. That is a wait of 0, not "no deadline" (which,
  // with nothing to poll, would be reported as a hang).
  struct Arm {
    Timer t;
    Dpc dpc;
    bool fired = false;
    void arm() {
      dpc.Deactivate();
      t.set(0, &Arm::done, this);
    }
    void done() {
      fired = true;
      multiplexer.terminate();
    }
  } a;
  a.dpc.Bind(&a, &Arm::arm);
  a.dpc.Activate();
  multiplexer.run(false, true);
  EXPECT_TRUE(a.fired);
  EXPECT_EQ(platform::vclock::last_timeout(), 0);
  EXPECT_EQ(elapsed(), 0u);
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
  int wait;
  std::vector<std::string>* asked;
  std::string name;
  std::function<void()> also;
  Plugin(int w, std::vector<std::string>* a, std::string n) : wait(w), asked(a), name(std::move(n)) {}
  int timerSchedule() override {
    asked->push_back(name);
    if (also) also();
    return wait;
  }
};

TEST_F(TimerTest, PluginsAreAskedInHookOrderAndTheLeastWaitWins) {
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 2147483647);
  Strings asked;
  Plugin a(700, &asked, "a"), b(-1, &asked, "b"), c(300, &asked, "c");
  a.timerHook();
  b.timerHook();
  c.timerHook();
  a.timerHook();
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 300);
  EXPECT_EQ(asked, (Strings{"a", "b", "c"}));

  // Unhooked during the walk: one not asked yet is skipped; one hooked
  // during the walk waits for the next.
  asked.clear();
  Plugin d(100, &asked, "d");
  a.also = [&] {
    c.timerUnhook();
    d.timerHook();
  };
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 700);
  EXPECT_EQ(asked, (Strings{"a", "b"}));
  a.also = nullptr;
  asked.clear();
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 100);
  EXPECT_EQ(asked.size(), 3u);

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
