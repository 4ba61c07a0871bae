// A signal sent to a child before it has run its program reaches it with
// the default effect, never the handler the server had installed.
#include "runtime/fork_child.h"
#include "runtime/fd.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace {

volatile sig_atomic_t handled = 0;
void on_signal(int) { handled = 1; }

// The child waits (at most 5 s) for a signal and reports, by its exit code,
// what it had: 3 nothing ended it, 4 the server's handler ran in it.
void child_waits() {
  for (int i = 0; i < 500 && !handled; ++i) ::usleep(10000);
  ::_exit(handled ? 4 : 3);
}

TEST(ForkChild, ASignalSentAtOnceEndsTheChildWithItsDefaultAction) {
  struct sigaction sa = {}, old_term, old_hup, old_usr2, old_pipe;
  sa.sa_handler = on_signal;
  ::sigaction(SIGTERM, &sa, &old_term);
  ::sigaction(SIGHUP, &sa, &old_hup);
  ::sigaction(SIGUSR2, &sa, &old_usr2);
  struct sigaction ign = {};
  ign.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ign, &old_pipe);
  sigset_t before;
  ::sigprocmask(SIG_SETMASK, nullptr, &before);

  for (int sig : {SIGTERM, SIGHUP, SIGUSR2}) {
    SCOPED_TRACE(sig);
    const pid_t pid = fork_child();
    if (pid == 0) child_waits();
    ASSERT_GT(pid, 0);
    ::kill(pid, sig);  // at once: the child may not have reset anything yet
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
    EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, sig);
  }

  // An ignored signal stays ignored in the child; the parent's mask and
  // handlers are as they were.
  const pid_t pid = fork_child();
  if (pid == 0) {
    struct sigaction now;
    ::sigaction(SIGPIPE, nullptr, &now);
    ::_exit(now.sa_handler == SIG_IGN ? 0 : 1);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  sigset_t after;
  ::sigprocmask(SIG_SETMASK, nullptr, &after);
  for (int sig = 1; sig < 32; ++sig) EXPECT_EQ(sigismember(&before, sig), sigismember(&after, sig)) << sig;
  struct sigaction now;
  ::sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, &on_signal);
  EXPECT_EQ(handled, 0) << "the signals went to the children only";

  ::sigaction(SIGTERM, &old_term, nullptr);
  ::sigaction(SIGHUP, &old_hup, nullptr);
  ::sigaction(SIGUSR2, &old_usr2, nullptr);
  ::sigaction(SIGPIPE, &old_pipe, nullptr);
}

// A UDP socket bound on the port of loopback (0: any), close-on-exec and
// without address reuse, as a radio slot's RTCP socket; -1 when it cannot.
int udp_on(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

// A child slow to reach its program still holds the parent's sockets: the
// gate holds the parent back until then, so a port it frees right after
// the start can be bound anew at once.
TEST(ForkChild, TheGateHoldsTheParentUntilTheChildRunsItsProgram) {
  std::uint16_t port = 0;
  const int first = udp_on(port);
  ASSERT_GE(first, 0);
  ExecGate gate;
  const pid_t pid = fork_child();
  if (pid == 0) {
    gate.child();
    ::usleep(300000);
    ::execl("/bin/true", "true", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  EXPECT_EQ(gate.wait(), 0) << "a program that ran reports no error";
  ::close(first);
  const int again = udp_on(port);
  EXPECT_GE(again, 0) << "the port is still held by the child";
  if (again >= 0) ::close(again);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A child whose exec fails says why: the parent tells a program that never
// ran from one that ended with the same exit code.
TEST(ForkChild, TheGateCarriesTheErrorOfAFailedExec) {
  ExecGate gate;
  const pid_t pid = fork_child();
  if (pid == 0) {
    gate.child();
    ::execl("/nonexistent/program", "program", static_cast<char*>(nullptr));
    gate.failed(errno);
    ::_exit(2);
  }
  ASSERT_GT(pid, 0);
  EXPECT_EQ(gate.wait(), ENOENT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
}

// A gate whose fork failed is dropped unused: its pipe goes with it.
TEST(ForkChild, AGateDroppedUnusedLeavesNoDescriptor) {
  std::vector<int> before, after;
  ASSERT_TRUE(OpenDescriptorsAboveStandard(before));
  { ExecGate gate; }
  ASSERT_TRUE(OpenDescriptorsAboveStandard(after));
  EXPECT_EQ(before, after);
}

}  // namespace
