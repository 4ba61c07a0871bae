// Deferred calls: the two call points of a pass, address order, and calls
// that activate, deactivate, rebind or destroy deferred calls while running.
#include "runtime/dpc.h"
#include "runtime/event.h"
#include "runtime/timer.h"
#include "tests/support/pipe.h"
#include "tests/support/vclock_loop.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class DpcTest : public testsupport::VirtualClockTest {
 protected:
  void TearDown() override {
    EXPECT_TRUE(multiplexer.dpc_list().empty()) << "a test left a deferred call active";
    VirtualClockTest::TearDown();
  }
};

// Appends its tag to a shared log; optionally does more.
struct Tagger {
  Strings* log;
  std::string tag;
  std::function<void()> also;
  void go() {
    log->push_back(tag);
    if (also) also();
  }
};

using testsupport::Pipe;

TEST_F(DpcTest, RunsAfterTheTimersAndRightBeforePollInEveryPass) {
  Strings log;
  Pipe p;
  ASSERT_TRUE(p.fill());
  Tagger d{&log, "dpc", nullptr}, svc{&log, "svc", nullptr}, tmr{&log, "timer", nullptr};
  int services = 0;
  svc.also = [&] {
    if (++services == 2) multiplexer.terminate();
  };
  struct Reader {
    Tagger* t;
    void OnEvent(int, short) { t->go(); }
  } reader{&svc};
  Event e;
  e.Bind("Reader", &Reader::OnEvent, &reader);
  e.Schedule(Fd(::dup(p.r)), POLLIN);
  Timer t;
  t.set(0, &Tagger::go, &tmr);
  Dpc dpc;
  dpc.Bind(&d, &Tagger::go);
  dpc.Activate();
  multiplexer.run(false, true);
  dpc.Deactivate();
  EXPECT_EQ(log, (Strings{"timer", "dpc", "dpc", "svc", "dpc", "dpc", "svc"}));
}

TEST_F(DpcTest, CallsRunInAscendingAddressOrder) {
  Strings log;
  Tagger t0{&log, "low", nullptr}, t1{&log, "high", nullptr};
  Dpc d[2];
  d[0].Bind(&t0, &Tagger::go);
  d[1].Bind(&t1, &Tagger::go);
  d[1].Activate();
  d[0].Activate();
  multiplexer.execute_dpc();
  EXPECT_EQ(log, (Strings{"low", "high"}));

  // Activating twice and deactivating once leaves it inactive.
  d[0].Activate();
  d[0].Deactivate();
  d[1].Deactivate();
  EXPECT_FALSE(d[0].IsActive());
  log.clear();
  multiplexer.execute_dpc();
  EXPECT_TRUE(log.empty());
}

TEST_F(DpcTest, ActivationJoinsAtTheNextCallPoint) {
  // By a deferred call at the first call point: the second call point of
  // the same pass. By a timer target: the first call point of that pass.
  // By a descriptor handler: the first call point of the next pass.
  Strings log;
  Dpc from_dpc, from_timer, from_handler, starter;
  Tagger a{&log, "from_dpc", nullptr}, b{&log, "from_timer", nullptr}, c{&log, "from_handler", nullptr};
  from_dpc.Bind(&a, &Tagger::go);
  from_timer.Bind(&b, &Tagger::go);
  from_handler.Bind(&c, &Tagger::go);
  for (Dpc* d : {&from_dpc, &from_timer, &from_handler}) {
    Tagger* tg = d == &from_dpc ? &a : d == &from_timer ? &b : &c;
    tg->also = [d] { d->Deactivate(); };  // each runs once
  }
  Tagger s{&log, "start", nullptr};
  s.also = [&] {
    from_dpc.Activate();
    starter.Deactivate();
  };
  starter.Bind(&s, &Tagger::go);
  starter.Activate();

  Tagger arm{&log, "timer", [&] { from_timer.Activate(); }};
  Timer t;
  t.set(100, &Tagger::go, &arm);

  Pipe p;
  ASSERT_TRUE(p.fill());
  struct Handler {
    Strings* log;
    Dpc* d;
    int n = 0;
    void OnEvent(int fd, short) {
      char c;
      if (::read(fd, &c, 1) == 1) {
        log->push_back("handler");
        d->Activate();
      }
      if (++n == 3) multiplexer.terminate();
    }
  } h{&log, &from_handler};
  Event e;
  e.Bind("Handler", &Handler::OnEvent, &h);
  e.Schedule(Fd(::dup(p.r)), POLLIN);
  Timer guard;
  guard.set(1000, &testsupport::VirtualClockTest::terminate_loop);
  multiplexer.run(false, true);
  EXPECT_EQ(log, (Strings{"start", "from_dpc", "handler", "from_handler", "timer", "from_timer"}));
}

TEST_F(DpcTest, CallsMayDeactivateRebindOrDestroyDeferredCalls) {
  Strings log;
  Dpc d[3];
  Tagger first{&log, "first", nullptr}, second{&log, "second", nullptr}, third{&log, "third", nullptr};
  d[0].Bind(&first, &Tagger::go);
  d[1].Bind(&second, &Tagger::go);
  d[2].Bind(&third, &Tagger::go);
  first.also = [&] { d[1].Deactivate(); };  // not run yet at this call point
  third.also = [&] { d[2].Deactivate(); };  // itself
  for (auto& x : d) x.Activate();
  multiplexer.execute_dpc();
  multiplexer.execute_dpc();
  EXPECT_EQ(log, (Strings{"first", "third", "first"}));

  // Rebinding an active call keeps it active; the next run calls the new one.
  log.clear();
  Tagger other{&log, "other", nullptr};
  first.also = [&] { d[0].Bind(&other, &Tagger::go); };
  multiplexer.execute_dpc();
  multiplexer.execute_dpc();
  EXPECT_TRUE(d[0].IsActive());
  EXPECT_EQ(log, (Strings{"first", "other"}));
  d[0].Deactivate();

  // A call that destroys its owner (and its Dpc); the next call still runs.
  struct Owner {
    Dpc dpc;
    Strings* log;
    void go() {
      log->push_back("owner");
      delete this;
    }
  };
  log.clear();
  Dpc after[1];
  Tagger later{&log, "later", nullptr};
  after[0].Bind(&later, &Tagger::go);
  auto* o = new Owner;
  o->log = &log;
  o->dpc.Bind(o, &Owner::go);
  o->dpc.Activate();
  after[0].Activate();
  multiplexer.execute_dpc();
  after[0].Deactivate();
  EXPECT_EQ(log, (Strings{"owner", "later"}));
  EXPECT_EQ(multiplexer.dpc_list().size(), 0u);
}

int plain_runs = 0;
void plain() { ++plain_runs; }

TEST_F(DpcTest, PlainFunctionAndNoHandler) {
  plain_runs = 0;
  Dpc d, empty;
  d.Bind(&plain);
  d.Activate();
  empty.Activate();
  multiplexer.execute_dpc();
  EXPECT_EQ(plain_runs, 1);
  d.Deactivate();
  empty.Deactivate();
}

}  // namespace
