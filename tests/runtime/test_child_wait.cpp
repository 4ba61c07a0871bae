// Child exits through the loop. Real child processes end in real time, so
// the loop here runs on the process clock, bounded by a guard timer.
#include "runtime/child_wait.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/multiplexer.h"
#include "runtime/timer.h"

namespace {

// A watcher owner as a slot would be.
struct Watched {
  ChildWait wait;
  std::vector<int> statuses;
  int* reported = nullptr;
  int expected = 0;
  std::function<void(Watched&)> then;

  Watched() { wait.Bind(this, &Watched::on_terminate); }
  void on_terminate(int status) {
    statuses.push_back(status);
    if (reported && ++*reported >= expected) multiplexer.terminate();
    if (then) then(*this);
  }
};

pid_t spawn(int code) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(code);
  return pid;
}

// Waits until the child is a zombie without reaping it.
void wait_zombie(pid_t pid) {
  siginfo_t info;
  ASSERT_EQ(::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT), 0);
}

class ChildWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_log_ = std::clog.rdbuf(log_.rdbuf());
    // A fresh, active service for each case.
    ChildWait::Cleanup();
    ChildWait::Initialize();
    ChildWait::Activate();
    ASSERT_TRUE(service()->is_active());
  }
  void TearDown() override {
    // Leave an inactive service behind, so the loop has nothing of ours.
    ChildWait::Cleanup();
    ChildWait::Initialize();
    std::clog.rdbuf(old_log_);
  }

  static ChildWaitService* service() { return ChildWaitService::childWaitService; }

  // Runs the loop until a handler terminates it; false when the guard ran out.
  bool run_loop(unsigned int guard_ms = 20000) {
    guard_fired_ = false;
    Timer guard;
    guard.set(guard_ms, &ChildWaitTest::on_guard);
    multiplexer.run(false, true);
    return !guard_fired_;
  }
  static void on_guard() {
    guard_fired_ = true;
    multiplexer.terminate();
  }

  static bool guard_fired_;
  std::ostringstream log_;
  std::streambuf* old_log_ = nullptr;
};

bool ChildWaitTest::guard_fired_ = false;

}  // namespace

TEST_F(ChildWaitTest, ExitStatusesReachTheirWatchers) {
  int reported = 0;
  Watched ok, three, killed;
  for (Watched* w : {&ok, &three, &killed}) {
    w->reported = &reported;
    w->expected = 3;
  }
  const pid_t p0 = spawn(0);
  ok.wait.Attach(p0);
  const pid_t p3 = spawn(3);
  three.wait.Attach(p3);
  const pid_t pk = ::fork();
  if (pk == 0) {
    ::pause();
    ::_exit(9);
  }
  killed.wait.Attach(pk);
  ASSERT_EQ(::kill(pk, SIGKILL), 0);

  ASSERT_TRUE(run_loop());
  ASSERT_EQ(ok.statuses.size(), 1u);
  EXPECT_TRUE(WIFEXITED(ok.statuses[0]) && WEXITSTATUS(ok.statuses[0]) == 0);
  ASSERT_EQ(three.statuses.size(), 1u);
  EXPECT_TRUE(WIFEXITED(three.statuses[0]) && WEXITSTATUS(three.statuses[0]) == 3);
  ASSERT_EQ(killed.statuses.size(), 1u);
  EXPECT_TRUE(WIFSIGNALED(killed.statuses[0]) && WTERMSIG(killed.statuses[0]) == SIGKILL);
  // A dispatched watcher has left the list.
  EXPECT_FALSE(ok.wait.is_watching());
  EXPECT_TRUE(service()->watchers().empty());

  const std::string log = log_.str();
  EXPECT_NE(log.find("terminate child process, pid=" + std::to_string(p3) + " status=768\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("terminate child process, pid=" + std::to_string(pk) + " status=9\n"),
            std::string::npos)
      << log;
}

TEST_F(ChildWaitTest, ExitBeforeAttachIsStillReported) {
  int reported = 0;
  Watched w;
  w.reported = &reported;
  w.expected = 1;
  const pid_t pid = spawn(5);
  wait_zombie(pid);  // ended (and signalled) before the watch begins
  w.wait.Attach(pid);
  ASSERT_TRUE(run_loop());
  ASSERT_EQ(w.statuses.size(), 1u);
  EXPECT_EQ(WEXITSTATUS(w.statuses[0]), 5);
}

TEST_F(ChildWaitTest, FirstWatcherOfAPidWinsAndUnwatchedExitsAreOnlyLogged) {
  int reported = 0;
  Watched first, second, marker;
  first.reported = marker.reported = &reported;
  first.expected = marker.expected = 2;

  const pid_t shared = spawn(1);
  first.wait.Attach(shared);
  second.wait.Attach(shared);
  const pid_t nobody = spawn(2);
  wait_zombie(shared);
  wait_zombie(nobody);
  const pid_t last = spawn(4);
  marker.wait.Attach(last);

  ASSERT_TRUE(run_loop());
  EXPECT_EQ(first.statuses.size(), 1u);
  EXPECT_TRUE(second.statuses.empty());
  EXPECT_TRUE(second.wait.is_watching());
  EXPECT_EQ(service()->watchers().size(), 1u);
  EXPECT_NE(log_.str().find("terminate child process, pid=" + std::to_string(nobody) + " status=512\n"),
            std::string::npos);
}

namespace {

// An owner that destroys itself, watcher included, when its child ends.
struct SelfDestroying {
  ChildWait wait;
  int* reported;
  int expected;
  bool* gone;
  SelfDestroying(int* r, int e, bool* g) : reported(r), expected(e), gone(g) {
    wait.Bind(this, &SelfDestroying::on_terminate);
  }
  void on_terminate(int) {
    if (++*reported >= expected) multiplexer.terminate();
    *gone = true;
    delete this;
  }
};

}  // namespace

TEST_F(ChildWaitTest, HandlerMayReattachOrDestroyItsWatcher) {
  int reported = 0;
  bool gone = false;
  SelfDestroying* doomed = new SelfDestroying(&reported, 3, &gone);
  Watched again;
  again.reported = &reported;
  again.expected = 3;
  // The first exit starts a second child on the same watcher.
  again.then = [](Watched& w) {
    if (w.statuses.size() == 1) w.wait.Attach(spawn(7));
  };

  doomed->wait.Attach(spawn(0));
  again.wait.Attach(spawn(6));
  ASSERT_TRUE(run_loop());
  EXPECT_TRUE(gone);
  ASSERT_EQ(again.statuses.size(), 2u);
  EXPECT_EQ(WEXITSTATUS(again.statuses[0]), 6);
  EXPECT_EQ(WEXITSTATUS(again.statuses[1]), 7);
  EXPECT_TRUE(service()->watchers().empty());
}

TEST_F(ChildWaitTest, ListKeepingWithoutChildren) {
  Watched a, b, c;
  a.wait.Attach(1001);
  b.wait.Attach(1002);
  a.wait.Attach(1003);  // moved to the tail, listed once
  ASSERT_EQ(service()->watchers().size(), 2u);
  EXPECT_EQ(*service()->watchers().begin(), &b.wait);
  EXPECT_EQ(service()->watchers().get_tail(), &a.wait);
  c.wait.Detach();  // never watched
  { ChildWait idle; }
  EXPECT_EQ(service()->watchers().size(), 2u);
  b.wait.Detach();
  b.wait.Detach();
  EXPECT_EQ(service()->watchers().size(), 1u);
  EXPECT_EQ(service()->watchers().get_head(), &a.wait);
}

TEST_F(ChildWaitTest, PollBitsWithoutPollinReadNothing) {
  Watched w;
  const pid_t pid = spawn(0);
  w.wait.Attach(pid);
  wait_zombie(pid);
  service()->OnChildEvent(-1, POLLHUP | POLLERR);
  EXPECT_TRUE(w.wait.is_watching());
  EXPECT_TRUE(w.statuses.empty());
  int reported = 0;
  w.reported = &reported;
  w.expected = 1;
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(w.statuses.size(), 1u);
}

TEST_F(ChildWaitTest, SignalHandlerNeverWaitsOnAFullSocketPair) {
  // Far more wake-ups than the socket pair queues: each must return at once.
  for (int i = 0; i < 1000; ++i) ChildWaitService::SigChldHandlerWrapper(SIGCHLD, nullptr, nullptr);
  int reported = 0;
  Watched w;
  w.reported = &reported;
  w.expected = 1;
  w.wait.Attach(spawn(0));
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(w.statuses.size(), 1u);
}

TEST_F(ChildWaitTest, TwoHundredChildrenEndingAtOnce) {
  const int n = 200;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  int reported = 0;
  std::vector<std::unique_ptr<Watched>> watched;
  for (int i = 0; i < n; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(go[1]);
      char c;
      ssize_t r = ::read(go[0], &c, 1);  // returns when the parent closes the pipe
      ::_exit(r == 0 ? i % 100 : 99);
    }
    watched.push_back(std::make_unique<Watched>());
    watched.back()->reported = &reported;
    watched.back()->expected = n;
    watched.back()->wait.Attach(pid);
  }
  ::close(go[0]);
  ::close(go[1]);  // every child ends now

  ASSERT_TRUE(run_loop()) << reported << " of " << n << " exits reported";
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(watched[i]->statuses.size(), 1u) << i;
    EXPECT_EQ(WEXITSTATUS(watched[i]->statuses[0]), i % 100) << i;
  }
  EXPECT_TRUE(service()->watchers().empty());
}
