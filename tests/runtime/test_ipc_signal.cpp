// Signal installation, with signals sent by another process as on the board
// (a script's kill, a child's SIGCHLD) rather than raised by the test itself.
#include "runtime/ipc_signal.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <string>

namespace {

volatile sig_atomic_t seen = 0;
volatile sig_atomic_t sender = 0;
volatile sig_atomic_t value = 0;
volatile sig_atomic_t code = 0;
volatile sig_atomic_t masked_inside = 0;

void on_usr1_info(int sig, siginfo_t* info, void*) {
  seen = sig;
  sender = info->si_pid;
  value = info->si_value.sival_int;
  code = info->si_code;
  sigset_t now;
  sigprocmask(SIG_BLOCK, nullptr, &now);
  masked_inside = sigismember(&now, SIGUSR2) && sigismember(&now, SIGHUP) && !sigismember(&now, SIGTERM);
}

void on_usr1(int sig) { seen = sig; }

struct sigaction installed(int sig) {
  struct sigaction sa = {};
  sigaction(sig, nullptr, &sa);
  return sa;
}

// The state letter of a process ("S": asleep in a call).
char state_of(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const auto close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

// Whether the signal waits for delivery to the process.
bool pending(pid_t pid, int sig) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  const unsigned long long bit = 1ull << (sig - 1);
  for (std::string line; std::getline(in, line);)
    if ((line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) &&
        (std::stoull(line.substr(7), nullptr, 16) & bit))
      return true;
  return false;
}

// A child that waits until this process sleeps in a call, sends it SIGUSR1
// (with a value), then writes one byte to `fd`.
pid_t signal_when_asleep(int fd) {
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    while (state_of(parent) != 'S') ::usleep(1000);
    sigval v;
    v.sival_int = 42;
    ::sigqueue(parent, SIGUSR1, v);
    // Taken off the pending sets: the call has been broken off by then.
    while (pending(parent, SIGUSR1)) ::usleep(1000);
    if (::write(fd, "x", 1) != 1) ::_exit(1);
    ::_exit(0);
  }
  return pid;
}

TEST(IpcSignal, HandlerFormsMasksAndFlags) {
  using IPC::Signal;
  EXPECT_EQ(Signal::handle(SIGUSR1, on_usr1_info, Signal::Set(SIGUSR2, SIGHUP), SA_RESTART), 0);
  struct sigaction sa = installed(SIGUSR1);
  EXPECT_EQ(sa.sa_flags & (SA_SIGINFO | SA_RESTART), SA_SIGINFO | SA_RESTART);
  EXPECT_EQ(sa.sa_sigaction, on_usr1_info);

  // The sender's information reaches the handler, and the set is blocked
  // while it runs.
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  seen = 0;
  const pid_t child = signal_when_asleep(p[1]);
  char c;
  EXPECT_EQ(::read(p[0], &c, 1), 1) << "restarted after the handler";
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(seen, SIGUSR1);
  EXPECT_EQ(sender, child);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(code, SI_QUEUE);
  EXPECT_TRUE(masked_inside);

  // The one-argument form never asks for the information.
  EXPECT_EQ(Signal::handle(SIGUSR1, on_usr1, SA_SIGINFO | SA_RESTART), 0);
  sa = installed(SIGUSR1);
  EXPECT_EQ(sa.sa_flags & (SA_SIGINFO | SA_RESTART), SA_RESTART);
  EXPECT_EQ(sa.sa_handler, on_usr1);
  for (int s : {SIGUSR2, SIGHUP}) EXPECT_FALSE(sigismember(&sa.sa_mask, s));

  EXPECT_EQ(Signal::ignore(SIGUSR1), 0);
  EXPECT_EQ(installed(SIGUSR1).sa_handler, SIG_IGN);
  EXPECT_EQ(Signal::system(SIGUSR1), 0);
  sa = installed(SIGUSR1);
  EXPECT_EQ(sa.sa_handler, SIG_DFL);
  EXPECT_EQ(sa.sa_flags & (SA_SIGINFO | SA_RESTART), 0);
  EXPECT_EQ(Signal::handle(0, on_usr1, 0), -1);
  EXPECT_EQ(Signal::handle(SIGKILL, on_usr1, 0), -1);

  struct { int sig; bool valid; } const numbers[] = {
      {0, false}, {-1, false}, {SIGHUP, true}, {SIGCHLD, true}, {SIGRTMIN, true}, {SIGRTMAX, true}, {SIGRTMAX + 1, false}};
  for (const auto& n : numbers) EXPECT_EQ(Signal::Set::is_signal(n.sig), n.valid) << n.sig;
  ::close(p[0]);
  ::close(p[1]);
}

// A signal from another process while the program sleeps in a read: the
// read goes on after the handler (disable_int) or fails with EINTR
// (enable_int), whatever the flags it was installed with.
TEST(IpcSignal, InterruptedCallsRestartOrFailAsSwitched) {
  using IPC::Signal;
  struct { bool restart; int flags; } const cases[] = {{true, 0}, {false, SA_RESTART}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.restart ? "disable_int" : "enable_int");
    ASSERT_EQ(Signal::handle(SIGUSR1, on_usr1, k.flags), 0);
    ASSERT_EQ(k.restart ? Signal::disable_int(SIGUSR1) : Signal::enable_int(SIGUSR1), 0);
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    seen = 0;
    const pid_t child = signal_when_asleep(p[1]);
    char c;
    const ssize_t n = ::read(p[0], &c, 1);
    const int err = errno;
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(seen, SIGUSR1);
    if (k.restart) {
      EXPECT_EQ(n, 1);
    } else {
      EXPECT_EQ(n, -1);
      EXPECT_EQ(err, EINTR);
    }
    ::close(p[0]);
    ::close(p[1]);
  }
  Signal::system(SIGUSR1);
}

}  // namespace
