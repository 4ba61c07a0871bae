// Descriptor events: counting, handler calls and bits, arming and
// re-arming, handler ownership, and destruction from inside the handler.
#include "runtime/event.h"
#include "runtime/fd.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/pipe.h"
#include "tests/support/vclock_loop.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::Pipe;

// Logs every call; stops the loop after `passes` calls of OnEvent.
struct Owner {
  struct Call {
    int fd;
    short bits;
  };
  std::vector<Call> calls;
  int passes = 1;
  void OnEvent(int fd, short bits) {
    Quiet(fd, bits);
    if (--passes == 0) multiplexer.terminate();
  }
  void Quiet(int fd, short bits) { calls.push_back({fd, bits}); }
};

class EventTest : public testsupport::VirtualClockTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(multiplexer.pending_list().size() + multiplexer.active_list().size(), 0u);
    VirtualClockTest::TearDown();
  }
};

TEST_F(EventTest, EveryEventIsCalledButOnlyRequestedBitsCount) {
  Pipe quiet, busy, hung;
  ASSERT_TRUE(busy.fill());
  ::close(hung.w);
  hung.w = -1;
  Owner q, h, b;
  Event eq, eh, eb;
  EXPECT_EQ(eq.event_name(), "Unknown");
  eq.Bind("Quiet", &Owner::Quiet, &q);
  eh.Bind("HungUp", &Owner::Quiet, &h);
  eb.Bind("Busy", &Owner::OnEvent, &b);
  eq.Schedule(Fd(::dup(quiet.r)), POLLIN);
  eh.Schedule(Fd(::dup(hung.r)), POLLIN);
  eb.Schedule(Fd(::dup(busy.r)), POLLIN);
  multiplexer.run(false, true);

  EXPECT_EQ(eb.event_name(), "Busy");
  struct {
    Owner& o;
    Event& e;
    short bits;
    unsigned count;
  } cases[] = {{q, eq, 0, 0}, {h, eh, POLLHUP, 0}, {b, eb, POLLIN, 1}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.e.event_name());
    ASSERT_EQ(c.o.calls.size(), 1u);
    EXPECT_EQ(c.o.calls[0].bits, c.bits);
    EXPECT_EQ(c.e.get_count(), c.count);
  }
}

TEST_F(EventTest, HandlerGetsTheEventsOwnCloseOnExecDuplicate) {
  Pipe p;
  ASSERT_TRUE(p.fill());
  Owner o;
  Event e;
  e.Bind("Reader", &Owner::OnEvent, &o);
  {
    Fd mine(::dup(p.r));
    e.Schedule(mine, POLLIN);
    EXPECT_NE(e.lowlevel_fd(), mine.lowlevel_fd());
  }  // closing the owner's copy does not stop the polling
  multiplexer.run(false, true);
  ASSERT_EQ(o.calls.size(), 1u);
  EXPECT_EQ(o.calls[0].fd, e.lowlevel_fd());
  EXPECT_EQ(o.calls[0].bits, POLLIN);
  EXPECT_EQ(::fcntl(e.lowlevel_fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

TEST_F(EventTest, ReschedulingMovesTheEventBehindAndSetEventsKeepsItsPlace) {
  Pipe p1, p2, p3;
  ASSERT_TRUE(p1.fill() && p2.fill() && p3.fill());
  Owner a, b;
  b.passes = 2;
  Event ea, eb;
  ea.Bind("A", &Owner::Quiet, &a);
  eb.Bind("B", &Owner::OnEvent, &b);
  ea.Schedule(Fd(::dup(p1.r)), POLLIN);
  eb.Schedule(Fd(::dup(p2.r)), POLLIN);
  int before = testsupport::open_descriptors();
  ea.Schedule(Fd(::dup(p3.r)), POLLIN);
  EXPECT_EQ(testsupport::open_descriptors(), before) << "the old duplicate is closed";
  struct stat now_on, third;
  ASSERT_EQ(::fstat(ea.lowlevel_fd(), &now_on), 0);
  ASSERT_EQ(::fstat(p3.r, &third), 0);
  EXPECT_EQ(now_on.st_ino, third.st_ino);
  multiplexer.run(false, true);
  // B first (it stops the second pass before A): A was attached again behind it.
  EXPECT_EQ(b.calls.size(), 2u);
  EXPECT_EQ(a.calls.size(), 1u);

  a.calls.clear();
  b.passes = 1;
  ea.SetEvents(POLLIN | POLLOUT);
  EXPECT_EQ(multiplexer.pending_list().size(), 0u) << "not attached again";
  multiplexer.run(false, true);
  EXPECT_EQ(a.calls.size(), 0u) << "B stopped the dispatch before A";
}

TEST_F(EventTest, ReleaseDisarmsAndAnUnarmedEventCannotBeReleased) {
  Pipe p;
  Event e;
  e.Schedule(Fd(::dup(p.r)), POLLIN);
  EXPECT_TRUE(e.IsActive() && multiplexer.event_exists(&e));
  EXPECT_EQ(e.Release(), 0);
  EXPECT_FALSE(e.IsActive() || multiplexer.event_exists(&e));
  errno = 0;
  EXPECT_EQ(e.Release(), -1);
  EXPECT_EQ(errno, EBADF);

  e.Schedule(Fd(), POLLIN);
  EXPECT_FALSE(e.IsActive() || multiplexer.event_exists(&e));
}

struct CountingHandler : Event::Handler {
  static int destroyed;
  int* invoked;
  explicit CountingHandler(int* i) : invoked(i) {}
  ~CountingHandler() override { ++destroyed; }
  void Invoke(int, short) override { ++*invoked; }
};
int CountingHandler::destroyed = 0;

TEST_F(EventTest, BindingReplacesAndDestroysHandlersAndWithoutOneTheEventStillCounts) {
  CountingHandler::destroyed = 0;
  int calls = 0;
  {
    Event e;
    e.Bind(new CountingHandler(&calls));
    e.Bind(new CountingHandler(&calls));
    EXPECT_EQ(CountingHandler::destroyed, 1);
  }
  EXPECT_EQ(CountingHandler::destroyed, 2);

  Pipe p;
  ASSERT_TRUE(p.fill());
  Owner stop;
  Event unbound, null_action, stopper;
  unbound.Bind(new CountingHandler(&calls));
  unbound.UnBind();
  EXPECT_FALSE(unbound.has_handler());
  null_action.Bind<Owner>("Null", nullptr, &stop);
  stopper.Bind("Stop", &Owner::OnEvent, &stop);
  for (Event* e : {&unbound, &null_action, &stopper}) e->Schedule(Fd(::dup(p.r)), POLLIN);
  multiplexer.run(false, true);
  EXPECT_EQ(unbound.get_count(), 1u);
  EXPECT_EQ(null_action.get_count(), 1u);
  EXPECT_EQ(calls, 0);
}

TEST_F(EventTest, EventMayBeDestroyedInsideItsOwnHandler) {
  struct SelfClosing {
    Event* e = new Event;
    void OnEvent(int, short) {
      delete e;  // the Event and this handler object go
      e = nullptr;
      multiplexer.terminate();
    }
  } s;
  Pipe p;
  ASSERT_TRUE(p.fill());
  s.e->Bind("SelfClosing", &SelfClosing::OnEvent, &s);
  s.e->Schedule(Fd(::dup(p.r)), POLLIN);
  multiplexer.run(false, true);
  EXPECT_EQ(s.e, nullptr);
}

// One pass: the first handler closes a ready Event and arms another, whose
// duplicate takes the number just freed. The new one is polled from the
// next pass with its own bits; the closed one's readiness never reaches it.
TEST_F(EventTest, AnEventOnANumberFreedInThePassIsServicedOnlyAfterItsOwnPoll) {
  Pipe first, closed, fresh;
  ASSERT_TRUE(first.fill() && closed.fill());
  struct Swapper : Owner {
    Event* old = nullptr;
    Event* next = nullptr;
    int fresh_r = -1, freed = -1;
    void OnFirst(int fd, short bits) {
      Quiet(fd, bits);
      if (!old->IsActive()) return;
      freed = old->lowlevel_fd();
      old->Release();
      next->Schedule(Fd(::dup(fresh_r)), POLLIN);
    }
  } a;
  Owner b, c;
  Event ea, eb, ec;
  a.old = &eb;
  a.next = &ec;
  a.fresh_r = fresh.r;
  ea.Bind("First", &Swapper::OnFirst, &a);
  eb.Bind("Closed", &Owner::Quiet, &b);
  ec.Bind("Fresh", &Owner::OnEvent, &c);
  ea.Schedule(Fd(::dup(first.r)), POLLIN);
  eb.Schedule(Fd(::dup(closed.r)), POLLIN);
  multiplexer.run(false, true);

  ASSERT_EQ(ec.lowlevel_fd(), a.freed) << "the kernel gave the freed number to the new duplicate";
  EXPECT_EQ(a.calls.size(), 2u) << "the new Event was serviced in the pass that armed it";
  EXPECT_TRUE(b.calls.empty());
  ASSERT_EQ(c.calls.size(), 1u);
  EXPECT_EQ(c.calls[0].bits, 0) << "the new Event got the closed one's bits";
  ec.Release();
}

TEST_F(EventTest, DescriptorZeroIsAValidDescriptor) {
  // In a child, so the test's own standard input is left alone.
  EXPECT_EXIT(
      {
        ::close(0);
        int p[2];
        if (::pipe(p) != 0 || p[0] != 0) std::_Exit(2);
        Fd zero(p[0]);
        if (!zero.is_valid() || !zero) std::_Exit(3);
        Owner o;
        Event e;
        e.Bind("Zero", &Owner::OnEvent, &o);
        e.Schedule(zero, POLLIN);
        if (!e.IsActive() || ::write(p[1], "x", 1) != 1) std::_Exit(4);
        multiplexer.run(false, true);
        std::_Exit(o.calls.size() == 1 && o.calls[0].bits == POLLIN ? 0 : 6);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
