// Deferred calls: the two call points of a pass, address order, and calls
// that activate, deactivate, rebind or destroy deferred calls while running.
#include "runtime/dpc.h"
#include "runtime/event.h"
#include "runtime/timer.h"
#include "tests/support/pipe.h"
#include "tests/support/vclock_loop.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Strings = std::vector<std::string>;
using testsupport::Pipe;

class DpcTest : public testsupport::VirtualClockTest {
 protected:
  void TearDown() override {
    EXPECT_TRUE(multiplexer.dpc_list().empty()) << "a test left a deferred call active";
    VirtualClockTest::TearDown();
  }
  Strings log;
};

// Appends its tag to a shared log, then does more when asked.
struct Tagger {
  Tagger(Strings* l, std::string t, std::function<void()> f = nullptr) : log(l), tag(std::move(t)), also(std::move(f)) {}
  Strings* log;
  std::string tag;
  std::function<void()> also;
  void go() {
    log->push_back(tag);
    if (also) also();
  }
  void OnEvent(int, short) { go(); }
};

TEST_F(DpcTest, RunsAfterTheTimersAndRightBeforePollInEveryPass) {
  Pipe p;
  ASSERT_TRUE(p.fill());
  int services = 0;
  Tagger d{&log, "dpc"}, tmr{&log, "timer"}, svc{&log, "svc", [&] {
    if (++services == 2) multiplexer.terminate();
  }};
  Event e;
  e.Bind("Reader", &Tagger::OnEvent, &svc);
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
  Tagger low{&log, "low"}, high{&log, "high"};
  Dpc d[2];
  d[0].Bind(&low, &Tagger::go);
  d[1].Bind(&high, &Tagger::go);
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
  Dpc from_dpc, from_timer, from_handler, starter;
  Tagger a{&log, "from_dpc", [&] { from_dpc.Deactivate(); }};
  Tagger b{&log, "from_timer", [&] { from_timer.Deactivate(); }};
  Tagger c{&log, "from_handler", [&] { from_handler.Deactivate(); }};
  Tagger s{&log, "start", [&] {
    from_dpc.Activate();
    starter.Deactivate();
  }};
  from_dpc.Bind(&a, &Tagger::go);
  from_timer.Bind(&b, &Tagger::go);
  from_handler.Bind(&c, &Tagger::go);
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
      char ch;
      if (::read(fd, &ch, 1) == 1) {
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
  Dpc d[3];
  Tagger first{&log, "first", [&] { d[1].Deactivate(); }};  // not run yet at this call point
  Tagger second{&log, "second"};
  Tagger third{&log, "third", [&] { d[2].Deactivate(); }};  // itself
  d[0].Bind(&first, &Tagger::go);
  d[1].Bind(&second, &Tagger::go);
  d[2].Bind(&third, &Tagger::go);
  for (auto& x : d) x.Activate();
  multiplexer.execute_dpc();
  multiplexer.execute_dpc();
  EXPECT_EQ(log, (Strings{"first", "third", "first"}));

  // Rebinding an active call keeps it active; the next run calls the new one.
  log.clear();
  Tagger other{&log, "other"};
  first.also = [&] { d[0].Bind(&other, &Tagger::go); };
  multiplexer.execute_dpc();
  multiplexer.execute_dpc();
  EXPECT_TRUE(d[0].IsActive());
  EXPECT_EQ(log, (Strings{"first", "other"}));
  d[0].Deactivate();

  // A call that destroys its owner (and its Dpc); the call point goes on.
  struct Owner {
    Dpc dpc;
    Strings* log;
    std::string tag;
    std::optional<Owner>* self;
    void go() {
      log->push_back(tag);
      if (self) self->reset();
    }
  };
  log.clear();
  std::optional<Owner> owners[3];  // ascending addresses
  for (int i = 0; i < 3; ++i) {
    owners[i].emplace();
    owners[i]->log = &log;
    owners[i]->tag = std::to_string(i);
    owners[i]->self = i == 1 ? &owners[i] : nullptr;
    owners[i]->dpc.Bind(&*owners[i], &Owner::go);
    owners[i]->dpc.Activate();
  }
  multiplexer.execute_dpc();
  EXPECT_EQ(log, (Strings{"0", "1", "2"}));
  EXPECT_FALSE(owners[1].has_value());
  EXPECT_EQ(multiplexer.dpc_list().size(), 2u);
  owners[0].reset();
  owners[2].reset();
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
