// Child exits through the loop. Real child processes end in real time, so
// the loop here runs on the process clock, bounded by a guard timer.
#include "runtime/child_wait.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/linux_run.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>

namespace {

// Handler calls so far, and how many end the loop.
int reported = 0;
int expected = 0;

void count_report() {
  if (++reported >= expected) multiplexer.terminate();
}

// A watcher owner as a slot would be.
struct Watched {
  ChildWait wait;
  std::vector<int> statuses;
  std::function<void(Watched&)> then;

  Watched() { wait.Bind(this, &Watched::on_terminate); }
  void on_terminate(int status) {
    statuses.push_back(status);
    count_report();
    if (then) then(*this);
  }
  int exit_code(size_t i = 0) const {
    return i < statuses.size() && WIFEXITED(statuses[i]) ? WEXITSTATUS(statuses[i]) : -1;
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

bool guard_fired = false;
void on_guard() {
  guard_fired = true;
  multiplexer.terminate();
}

class ChildWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_log_ = std::clog.rdbuf(log_.rdbuf());
    reported = expected = 0;
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

  // Runs the loop until `n` handler calls; false when the guard ran out.
  bool run_until(int n) {
    expected = n;
    guard_fired = false;
    Timer guard;
    guard.set(20000, &on_guard);
    multiplexer.run(false, true);
    return !guard_fired;
  }
  bool logged(pid_t pid, int status) const {
    return log_.str().find("terminate child process, pid=" + std::to_string(pid) +
                           " status=" + std::to_string(status) + "\n") != std::string::npos;
  }

  std::ostringstream log_;
  std::streambuf* old_log_ = nullptr;
};

}  // namespace

TEST_F(ChildWaitTest, ExitStatusesReachTheirWatchers) {
  Watched ok, three, killed;
  // A program that starts its own session is still our child; one that is
  // still running must not stop the reaping of those that ended.
  const pid_t own_session = ::fork();
  if (own_session == 0) ::_exit(::setsid() > 0 ? 0 : 1);
  ok.wait.Attach(own_session);
  const pid_t running = ::fork();
  if (running == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // not left behind by a failing test
    ::pause();
    ::_exit(0);
  }
  const pid_t p3 = spawn(3);
  three.wait.Attach(p3);
  const pid_t pk = ::fork();
  if (pk == 0) {
    ::pause();
    ::_exit(9);
  }
  killed.wait.Attach(pk);
  ASSERT_EQ(::kill(pk, SIGKILL), 0);

  ASSERT_TRUE(run_until(3));
  EXPECT_EQ(ok.exit_code(), 0);
  EXPECT_EQ(three.exit_code(), 3);
  ASSERT_EQ(killed.statuses.size(), 1u);
  EXPECT_TRUE(WIFSIGNALED(killed.statuses[0]) && WTERMSIG(killed.statuses[0]) == SIGKILL);
  // A dispatched watcher has left the list.
  EXPECT_FALSE(ok.wait.is_watching());
  EXPECT_TRUE(service()->watchers().empty());
  EXPECT_TRUE(logged(p3, 768)) << log_.str();
  EXPECT_TRUE(logged(pk, 9)) << log_.str();
  ::kill(running, SIGKILL);
  ::waitpid(running, nullptr, 0);
}

TEST_F(ChildWaitTest, ExitBeforeAttachIsStillReported) {
  Watched w;
  const pid_t pid = spawn(5);
  wait_zombie(pid);  // ended (and signalled) before the watch begins
  w.wait.Attach(pid);
  // Poll bits without POLLIN read nothing.
  service()->OnChildEvent(-1, POLLHUP | POLLERR);
  EXPECT_TRUE(w.statuses.empty());
  ASSERT_TRUE(run_until(1));
  EXPECT_EQ(w.exit_code(), 5);
}

TEST_F(ChildWaitTest, FirstWatcherOfAPidWinsAndUnwatchedExitsAreOnlyLogged) {
  Watched first, second, marker;
  const pid_t shared = spawn(1);
  first.wait.Attach(shared);
  second.wait.Attach(shared);
  const pid_t nobody = spawn(2);
  wait_zombie(shared);
  wait_zombie(nobody);
  marker.wait.Attach(spawn(4));

  ASSERT_TRUE(run_until(2));
  EXPECT_EQ(first.statuses.size(), 1u);
  EXPECT_TRUE(second.statuses.empty());
  EXPECT_TRUE(second.wait.is_watching());
  EXPECT_EQ(service()->watchers().size(), 1u);
  EXPECT_TRUE(logged(nobody, 512));
}

namespace {

// An owner that destroys itself, watcher included, when its child ends.
struct SelfDestroying {
  ChildWait wait;
  bool* gone;
  explicit SelfDestroying(bool* g) : gone(g) { wait.Bind(this, &SelfDestroying::on_terminate); }
  void on_terminate(int) {
    count_report();
    *gone = true;
    delete this;
  }
};

}  // namespace

TEST_F(ChildWaitTest, HandlerMayReattachOrDestroyItsWatcher) {
  bool gone = false;
  SelfDestroying* doomed = new SelfDestroying(&gone);
  Watched again;
  // The first exit starts a second child on the same watcher.
  again.then = [](Watched& w) {
    if (w.statuses.size() == 1) w.wait.Attach(spawn(7));
  };
  doomed->wait.Attach(spawn(0));
  again.wait.Attach(spawn(6));
  ASSERT_TRUE(run_until(3));
  EXPECT_TRUE(gone);
  EXPECT_EQ(again.exit_code(0), 6);
  EXPECT_EQ(again.exit_code(1), 7);
  EXPECT_TRUE(service()->watchers().empty());
}

TEST_F(ChildWaitTest, ListKeepingWithoutChildren) {
  Watched a, b, c;
  a.wait.Attach(1001);
  b.wait.Attach(1002);
  a.wait.Attach(1003);  // moved to the tail, listed once
  ASSERT_EQ(service()->watchers().size(), 2u);
  EXPECT_EQ(service()->watchers().get_head(), &b.wait);
  EXPECT_EQ(service()->watchers().get_tail(), &a.wait);
  c.wait.Detach();  // never watched
  { ChildWait idle; }
  EXPECT_EQ(service()->watchers().size(), 2u);
  b.wait.Detach();
  b.wait.Detach();
  EXPECT_EQ(service()->watchers().size(), 1u);
}

TEST_F(ChildWaitTest, ManyChildrenEndingAtOnceAreAllReported) {
  // Far more wake-ups than the socket pair queues: the signal handler must
  // return at once each time.
  for (int i = 0; i < 1000; ++i) ChildWaitService::SigChldHandlerWrapper(SIGCHLD, nullptr, nullptr);
  // Its send fails on the full queue, but the code it interrupted finds
  // errno as that code left it.
  errno = EBADF;
  ChildWaitService::SigChldHandlerWrapper(SIGCHLD, nullptr, nullptr);
  EXPECT_EQ(errno, EBADF);

  const int n = 200;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
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
    watched.back()->wait.Attach(pid);
  }
  ::close(go[0]);
  ::close(go[1]);  // every child ends now

  ASSERT_TRUE(run_until(n)) << reported << " of " << n << " exits reported";
  for (int i = 0; i < n; ++i) EXPECT_EQ(watched[i]->exit_code(), i % 100) << i;
  EXPECT_TRUE(service()->watchers().empty());
}

namespace {

std::vector<int> open_descriptors(const std::string& proc_dir) {
  std::vector<int> fds;
  if (DIR* d = ::opendir(proc_dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') fds.push_back(std::atoi(e->d_name));
    ::closedir(d);
  }
  std::sort(fds.begin(), fds.end());
  return fds;
}

std::string command_of(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// What the loop's timer does: starts `cat` reading a pipe, hands it one more
// descriptor, notes the child's descriptors once it runs, then lets it end.
struct Starter {
  Watched watched;
  int given = -1;
  std::vector<int> child_fds;
  std::string command;

  void start() {
    int feed[2];
    int echo[2];
    ASSERT_EQ(::pipe2(feed, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(echo, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(feed[0], 0);
      ::dup2(echo[1], 1);
      ::execl("/bin/cat", "cat", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    watched.wait.Attach(pid);
    ::close(feed[0]);
    ::close(echo[1]);
    // The name changes before the kernel closes the close-on-exec
    // descriptors, and the loader then opens libraries of its own: only a
    // byte echoed back shows that cat is up and waiting in its read loop.
    char byte = 'x';
    ASSERT_EQ(::write(feed[1], &byte, 1), 1);
    ASSERT_EQ(::read(echo[0], &byte, 1), 1);
    command = command_of(pid);
    child_fds = open_descriptors("/proc/" + std::to_string(pid) + "/fd");
    ::close(feed[1]);  // end of input: cat ends
    ::close(echo[0]);
  }
};

}  // namespace

// A child started from the running loop (as pppd, fax and t38 programs will
// be) holds its standard streams and what it was given, nothing else: not
// the watchdog, not the pid file, not the loop's own sockets.
TEST_F(ChildWaitTest, ChildHoldsOnlyItsStandardStreamsAndWhatItWasGiven) {
  // Descriptors the test process came with are not under test.
  for (int fd : open_descriptors("/proc/self/fd"))
    if (fd > 2) SetCloexec(fd, true);

  Linux::Run pid_file("child-fds");
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  Fd kept(pair[0]);
  Event watched_socket;
  watched_socket.Schedule(kept, 1);
  Fd config;
  ASSERT_TRUE(config.open("/proc/self/stat", O_RDONLY));

  Starter s;
  s.given = pair[1];
  SetCloexec(s.given, false);  // handed to the program on purpose
  s.watched.then = [](Watched&) {};
  Timer go;
  go.set(0, &Starter::start, &s);
  expected = 1;
  guard_fired = false;
  Timer guard;
  guard.set(20000, &on_guard);
  multiplexer.run(true, true);  // with the watchdog, as the server runs
  ASSERT_FALSE(guard_fired);
  watched_socket.Release();
  ::close(pair[1]);

  EXPECT_EQ(s.command, "cat");
  std::vector<int> expected_fds{0, 1, 2, s.given};
#ifdef GW_EMULATED
  // qemu-user serves /proc/self/stat from a file of its own, opened without
  // close-on-exec whatever the flags asked: under the emulator that one
  // descriptor reaches the child too. The board's kernel honours the flag.
  expected_fds.push_back(config.lowlevel_fd());
  std::sort(expected_fds.begin(), expected_fds.end());
#endif
  EXPECT_EQ(s.child_fds, expected_fds);
  EXPECT_EQ(s.watched.exit_code(), 0);
}
