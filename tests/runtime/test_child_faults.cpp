// Children misbehaving as they can on a real board: stopped and continued,
// dumping core, or not made at all because no process id is left.
#include "runtime/child_wait.h"
#include "runtime/fork_child.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "tests/support/netns.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Watched {
  ChildWait wait;
  std::vector<int> statuses;
  Watched() { wait.Bind(this, &Watched::on_end); }
  void on_end(int status) {
    statuses.push_back(status);
    multiplexer.terminate();
  }
};

void stop_loop() { multiplexer.terminate(); }

// Runs the loop until a report ends it or `ms` have passed.
void run_loop(unsigned ms) {
  Timer guard;
  guard.set(ms, &stop_loop);
  multiplexer.run(false, true);
}

}  // namespace

// A stop and a continue wake the loop but are no end: only the kill is
// reported, once. A core dump stays in the status as the system gave it.
TEST(ChildFaults, StopsAreNoEndsAndStatusesPassAsGiven) {
  std::ostringstream log;
  std::streambuf* old = std::clog.rdbuf(log.rdbuf());
  ChildWait::Cleanup();
  ChildWait::Initialize();
  ChildWait::Activate();

  Watched w;
  const pid_t pid = fork_child();
  if (pid == 0) {
    for (;;) ::pause();
  }
  ASSERT_GT(pid, 0);
  w.wait.Attach(pid);
  siginfo_t info;
  ::kill(pid, SIGSTOP);
  ASSERT_EQ(::waitid(P_PID, id_t(pid), &info, WSTOPPED | WNOWAIT), 0);
  run_loop(200);
  EXPECT_TRUE(w.statuses.empty()) << "a stop taken for an end";
  EXPECT_TRUE(w.wait.is_watching());
  ::kill(pid, SIGCONT);
  ASSERT_EQ(::waitid(P_PID, id_t(pid), &info, WCONTINUED | WNOWAIT), 0);
  run_loop(200);
  EXPECT_TRUE(w.statuses.empty()) << "a continue taken for an end";
  ::kill(pid, SIGKILL);
  run_loop(15000);
  EXPECT_EQ(w.statuses, std::vector<int>{SIGKILL});

  // The core goes to a directory of the test's own.
  char dir[] = "/tmp/child-faults-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const pid_t crash = fork_child();
  if (crash == 0) {
    rlimit core;
    ::getrlimit(RLIMIT_CORE, &core);
    // Bounded: a sanitized build maps much memory.
    core.rlim_cur = core.rlim_max < (64u << 20) ? core.rlim_max : (64u << 20);
    ::setrlimit(RLIMIT_CORE, &core);
    if (::chdir(dir) == 0) ::abort();
    ::_exit(1);
  }
  ASSERT_GT(crash, 0);
  w.wait.Attach(crash);
  ASSERT_EQ(::waitid(P_PID, id_t(crash), &info, WEXITED | WNOWAIT), 0);
  const int expected = SIGABRT | (info.si_code == CLD_DUMPED ? 0x80 : 0);
  run_loop(15000);
  EXPECT_EQ(w.statuses, (std::vector<int>{SIGKILL, expected}));
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());

  ChildWait::Cleanup();
  ChildWait::Initialize();
  std::clog.rdbuf(old);
  std::string ends;
  std::istringstream lines(log.str());
  for (std::string l; std::getline(lines, l);)
    if (l.compare(0, 24, "terminate child process,") == 0) ends += l + "\n";
  EXPECT_EQ(ends, "terminate child process, pid=" + std::to_string(pid) + " status=9\n" +
                           "terminate child process, pid=" + std::to_string(crash) + " status=" +
                           std::to_string(expected) + "\n");
}

// fork refused with EAGAIN for real (a process-id namespace with all its
// ids taken): the caller sees -1 and EAGAIN, with its signal mask as it was.
TEST(ChildFaults, ForkRefusedLeavesErrnoAndTheSignalMask) {
  RUN_IN_NETNS(result, ([]() -> std::string {
    if (::unshare(CLONE_NEWPID) != 0) throw testsupport::NetnsUnavailable("no process-id namespace");
    int out[2];
    if (::pipe(out) != 0) throw testsupport::NetnsUnavailable("no pipe");
    const pid_t init = ::fork();
    if (init < 0) throw testsupport::NetnsUnavailable("no first process in the namespace");
    if (init == 0) {
      std::string r;
      const int fd = ::open("/proc/sys/kernel/pid_max", O_WRONLY);
      if (fd < 0 || ::write(fd, "400", 3) != 3) {
        r = "-process-id limit not settable per namespace";
      } else {
        sigset_t mask, before, after;
        sigemptyset(&mask);
        sigaddset(&mask, SIGUSR1);
        ::sigprocmask(SIG_BLOCK, &mask, &before);
        ::sigprocmask(SIG_SETMASK, nullptr, &before);
        int hold[2];
        (void)!::pipe(hold);
        int held = 0;
        for (;;) {
          const pid_t h = ::fork();
          if (h < 0) break;
          if (h == 0) {
            char c;
            ::close(hold[1]);
            (void)!::read(hold[0], &c, 1);
            ::_exit(0);
          }
          ++held;
        }
        errno = 0;
        const pid_t p = fork_child();
        const int e = errno;
        ::sigprocmask(SIG_SETMASK, nullptr, &after);
        if (p == 0) ::_exit(0);
        r = "held " + std::string(held > 200 ? "many" : "few") + " fork_child " + std::to_string(p) + " errno " +
            std::to_string(e) + " mask " + (sigismember(&after, SIGUSR1) == 1 ? "kept" : "lost");
        ::close(hold[1]);
        while (::wait(nullptr) > 0) {
        }
      }
      (void)!::write(out[1], r.data(), r.size());
      ::_exit(0);
    }
    ::close(out[1]);
    char buf[256];
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    ::waitpid(init, nullptr, 0);
    const std::string text = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "no report";
    if (text[0] == '-') throw testsupport::NetnsUnavailable(text.substr(1));
    return text;
  }));
  EXPECT_EQ(result.output, "held many fork_child -1 errno " + std::to_string(EAGAIN) + " mask kept");
}
