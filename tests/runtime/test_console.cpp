// Terminal modes of the standard input, on a real pseudo-terminal and on
// inputs that are no terminal. Each case runs in a child whose descriptors 0
// and 2 are what the case needs; the child sends back what it saw.
#include "runtime/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <string>

namespace {

// Runs `body` in a child with `input` as standard input (-1: closed) and
// standard error captured; returns what it wrote to standard error followed
// by what `body` returned.
std::string in_child(int input, const std::function<std::string()>& body) {
  int err[2], out[2];
  if (::pipe(err) != 0 || ::pipe(out) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (input >= 0) ::dup2(input, STDIN_FILENO); else ::close(STDIN_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    const std::string result = body();
    std::cerr << std::flush;
    if (::write(out[1], result.data(), result.size()) < 0) ::_exit(2);
    ::_exit(0);
  }
  ::close(err[1]);
  ::close(out[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  text += "|";
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  ::close(err[0]);
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return text;
}

const tcflag_t kCleared = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL;

TEST(Console, BinaryModeClearsTheListedLocalModesOnlyOnARealTerminal) {
  int master, slave;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios before;
  ASSERT_EQ(::tcgetattr(slave, &before), 0);
  before.c_lflag |= kCleared | ISIG | IEXTEN | TOSTOP;
  before.c_cc[VMIN] = 1;
  before.c_cc[VTIME] = 0;
  ASSERT_EQ(::tcsetattr(slave, TCSANOW, &before), 0);
  ASSERT_EQ(::tcgetattr(slave, &before), 0);

  EXPECT_EQ(in_child(slave, [] {
              Console::SwitchToBinaryMode();
              return std::string("done");
            }),
            "|done")
      << "no complaint on a terminal";
  termios after;
  ASSERT_EQ(::tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag & ~kCleared) << "ISIG, IEXTEN and the rest kept";
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(after.c_cc), NCCS),
            std::string(reinterpret_cast<char*>(before.c_cc), NCCS));

  // Raw keys now: a line editing key reaches the reader as it is.
  ASSERT_EQ(::write(master, "a\x7f", 2), 2);
  char got[4] = {};
  ASSERT_EQ(::read(slave, got, 2), 2);
  EXPECT_EQ(std::string(got, 2), "a\x7f");

  EXPECT_EQ(::fcntl(slave, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(in_child(slave, [] {
              Console::SwitchToNonBlockMode();
              return std::string("done");
            }),
            "|done");
  EXPECT_NE(::fcntl(slave, F_GETFL) & O_NONBLOCK, 0) << "the terminal's open file, shared with the child";
  char c;
  EXPECT_EQ(::read(slave, &c, 1), -1) << "nothing typed: no wait";
  ::close(master);
  ::close(slave);
}

TEST(Console, InputsThatAreNoTerminalAreReported) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  EXPECT_EQ(in_child(p[0], [] {
              Console::SwitchToBinaryMode();
              return std::string();
            }),
            "can't obtain terminal attributes\ncan't set terminal attributes\n|");
  // A pipe takes the mode like any file.
  EXPECT_EQ(in_child(p[0], [] {
              Console::SwitchToNonBlockMode();
              return std::string();
            }),
            "|");
  EXPECT_NE(::fcntl(p[0], F_GETFL) & O_NONBLOCK, 0);
  ::close(p[0]);
  ::close(p[1]);
  EXPECT_EQ(in_child(-1, [] {
              Console::SwitchToNonBlockMode();
              return std::string();
            }),
            "can't switch terminal to blocked mode\n|");
}

}  // namespace
