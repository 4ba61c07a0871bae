#include "runtime/syslog_manager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"
#include "tests/support/alarm.h"
#include "tests/support/log_sink.h"

namespace {

using testsupport::LogSink;
typedef std::vector<std::string> Msgs;

// 2023-01-05 14:03:09 UTC: the day pads with a blank.
const char kStamp[] = "Jan  5 14:03:09 ";

class SysLogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    platform::vclock::enable(1672927389);
    // The manager is global: start from its initial state.
    syslogManager.openlog(nullptr, 0, LOG_USER);
    syslogManager.closelog();
  }
  void TearDown() override {
    syslogManager.closelog();
    syslogManager.setlogmask(0xff);
    platform::vclock::disable();
  }

  // Sends the batch and returns what the sink received.
  static Msgs flush(LogSink& sink) {
    syslogManager.sendmsg();
    return LogSink::messages(sink.receive(2000));
  }
  // "<pri>" + the time stamp + the rest.
  static std::string msg(const char* pri, const std::string& rest) {
    return std::string("<") + pri + ">" + kStamp + rest;
  }

  testsupport::ScratchBoardRoot root_;
};

}  // namespace

TEST_F(SysLogManagerTest, MessageFormat) {
  LogSink sink;
  // The first message connects by itself, with facility user and the
  // default identity.
  syslogManager.syslog(LOG_WARNING, "%s", "w");
  EXPECT_TRUE(syslogManager.connected());
  EXPECT_EQ(flush(sink), Msgs{msg("12", "syslog-tvr: w")});

  // Each message ends with its NUL; a facility of openlog is the default.
  syslogManager.openlog("brv-1.0", LOG_NDELAY, LOG_DAEMON);
  syslogManager.syslog(LOG_NOTICE, "%s", "started");
  syslogManager.sendmsg();
  EXPECT_EQ(sink.receive(2000), msg("29", "brv-1.0: started") + '\0');

  // An explicit facility stays; the process id when asked for.
  syslogManager.openlog(nullptr, LOG_NDELAY | LOG_PID, 0);
  syslogManager.syslog(LOG_LOCAL0 | LOG_ERR, "n=%d", 7);
  EXPECT_EQ(flush(sink), Msgs{msg("131", "brv-1.0[" + std::to_string(::getpid()) + "]: n=7")});

  // Without identity there is no ": ".
  syslogManager.openlog("", LOG_NDELAY, 0);
  syslogManager.syslog(LOG_DEBUG, "%s", "bare");
  EXPECT_EQ(flush(sink), Msgs{msg("31", "bare")});
}

TEST_F(SysLogManagerTest, CloselogForgetsIdentityAndQueue) {
  LogSink sink;
  syslogManager.openlog("other", LOG_NDELAY, 0);
  syslogManager.syslog(LOG_INFO, "%s", "dropped");
  syslogManager.closelog();
  EXPECT_FALSE(syslogManager.connected());
  EXPECT_EQ(syslogManager.identity(), "syslog-tvr");
  syslogManager.syslog(LOG_INFO, "%s", "kept");
  EXPECT_EQ(flush(sink), Msgs{msg("14", "syslog-tvr: kept")});
  EXPECT_EQ(sink.receive(0), "");
}

TEST_F(SysLogManagerTest, BatchesUntilSentOrLarge) {
  LogSink sink;
  syslogManager.openlog("b", LOG_NDELAY, LOG_DAEMON);
  for (const char* t : {"one", "two", "three"}) syslogManager.syslog(LOG_INFO, "%s", t);
  EXPECT_EQ(sink.receive(0), "");  // still queued
  EXPECT_EQ(flush(sink), (Msgs{msg("30", "b: one"), msg("30", "b: two"), msg("30", "b: three")}));
  EXPECT_EQ(syslogManager.sendmsg(), 0);  // nothing left

  // Past 12288 bytes the batch goes out by itself.
  const std::string text(1000, 'x');
  for (int i = 0; i < 13; ++i) syslogManager.syslog(LOG_INFO, "%s", text.c_str());
  EXPECT_EQ(LogSink::messages(sink.receive(2000)).size(), 13u);
  EXPECT_EQ(sink.receive(0), "");

  // At 256 queued messages likewise, and the message after is not lost.
  for (int i = 0; i < 300; ++i) syslogManager.syslog(LOG_INFO, "%d", i);
  EXPECT_EQ(LogSink::messages(sink.receive(2000)).size(), 256u);
  const Msgs rest = flush(sink);
  ASSERT_EQ(rest.size(), 44u);
  EXPECT_EQ(rest.back(), msg("30", "b: 299"));
}

TEST_F(SysLogManagerTest, LevelMaskAndStandardErrorCopy) {
  LogSink sink;
  syslogManager.openlog("m", LOG_NDELAY | LOG_PERROR, LOG_DAEMON);
  syslogManager.setlogmask(LOG_UPTO(LOG_ERR));
  EXPECT_EQ(syslogManager.setlogmask(0), LOG_UPTO(LOG_ERR));  // 0 only reads
  ::testing::internal::CaptureStderr();
  syslogManager.syslog(LOG_DEBUG, "%s", "hidden");
  syslogManager.syslog(LOG_ERR, "%s", "shown");
  syslogManager.syslog(LOG_CRIT, "%s", "ends\n");
  // Standard error gets the body from the identity on, one line each.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "m: shown\nm: ends\n");
  EXPECT_EQ(flush(sink), (Msgs{msg("27", "m: shown"), msg("26", "m: ends\n")}));
}

TEST_F(SysLogManagerTest, StreamLogSocketAndLogDaemonRestart) {
  {
    // A stream-type "/dev/log": the datagram connect fails with EPROTOTYPE
    // and the manager switches; a connected stream takes no address.
    LogSink sink(SOCK_STREAM);
    syslogManager.openlog("s", LOG_NDELAY, LOG_DAEMON);
    ASSERT_TRUE(syslogManager.connected());
    // Opened again, the connection is kept. It blocks, for the raw writes
    // of child programs to the descriptors duplicated from it.
    const int fd = syslogManager.fd();
    syslogManager.openlog("s", LOG_NDELAY, LOG_DAEMON);
    EXPECT_EQ(syslogManager.fd(), fd);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    syslogManager.syslog(LOG_INFO, "%s", "a");
    syslogManager.syslog(LOG_INFO, "%s", "b");
    EXPECT_EQ(flush(sink), (Msgs{msg("30", "s: a"), msg("30", "s: b")}));
  }
  // The log daemon restarts: a failed send reconnects and sends again.
  LogSink again(SOCK_STREAM);
  syslogManager.syslog(LOG_INFO, "%s", "after");
  EXPECT_GT(syslogManager.sendmsg(), 0);
  EXPECT_EQ(LogSink::messages(again.receive(2000)), Msgs{msg("30", "s: after")});
}

TEST_F(SysLogManagerTest, ConsoleFallbackWithoutLogSocket) {
  const std::string console = platform::board_path("/dev/console");
  { std::ofstream touch(console.c_str()); }
  syslogManager.openlog("c", LOG_CONS, LOG_DAEMON);
  syslogManager.syslog(LOG_ERR, "%s", "no log daemon");
  EXPECT_FALSE(syslogManager.connected());
  EXPECT_EQ(syslogManager.fd(), -1);
  std::ifstream in(console.c_str(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "c: no log daemon\r\n");

  // Without LOG_CONS the message is lost quietly; a later one connects.
  syslogManager.openlog(nullptr, 0, 0);
  syslogManager.syslog(LOG_ERR, "%s", "lost");
  LogSink sink;
  syslogManager.syslog(LOG_ERR, "%s", "found");
  EXPECT_EQ(flush(sink), Msgs{msg("27", "c: found")});
}

TEST_F(SysLogManagerTest, DescriptorZeroIsAValidLogSocket) {
  // Standard input closed: the log socket gets descriptor 0.
  LogSink sink;
  const int saved = ::dup(0);
  ::close(0);
  syslogManager.openlog("z", LOG_NDELAY, LOG_DAEMON);
  syslogManager.openlog("z", LOG_NDELAY, LOG_DAEMON);  // keeps descriptor 0
  const int fd = syslogManager.fd();
  const bool connected = syslogManager.connected();
  syslogManager.syslog(LOG_INFO, "%s", "on zero");
  const Msgs got = flush(sink);
  syslogManager.closelog();
  const bool zero_closed = ::fcntl(0, F_GETFD) == -1;
  ::dup2(saved, 0);
  ::close(saved);
  EXPECT_EQ(fd, 0);
  EXPECT_TRUE(connected);
  EXPECT_TRUE(zero_closed);
  EXPECT_EQ(got, Msgs{msg("30", "z: on zero")});
}

namespace {
std::atomic<bool> alarm_seen{false};
void on_alarm(int) { alarm_seen = true; }
}  // namespace

TEST_F(SysLogManagerTest, StreamBatchCutShortBySignalStillArrivesWhole) {
  // A signal that lands while the log daemon is slow to read cuts the
  // stream send short: the rest of the batch must follow, or the daemon
  // sees half a message run into the next one. Real time: the send has to
  // be blocked when the signal comes.
  LogSink sink(SOCK_STREAM);
  syslogManager.openlog("w", LOG_NDELAY, LOG_DAEMON);
  ASSERT_TRUE(syslogManager.connected());
  const int tiny = 1;  // the kernel takes its minimum, a few kilobytes
  ASSERT_EQ(::setsockopt(syslogManager.fd(), SOL_SOCKET, SO_SNDBUF, &tiny, sizeof tiny), 0);

  Msgs expected;
  for (int i = 0; i < 11; ++i) {
    const std::string text(1000, char('a' + i));
    syslogManager.syslog(LOG_INFO, "%s", text.c_str());
    expected.push_back(msg("30", "w: " + text).substr(0, 1023));
  }
  expected.push_back(msg("30", "w: after"));

  std::string got;
  const bool alarm_taken = testsupport::alarm_during(
      [&] {
        syslogManager.sendmsg();
        syslogManager.syslog(LOG_INFO, "%s", "after");
        syslogManager.sendmsg();
        syslogManager.closelog();  // end of stream for the reader
      },
      [&] {
        for (;;) {
          const std::string part = sink.receive(2000);
          if (part.empty()) break;
          got += part;
        }
      });

  EXPECT_TRUE(alarm_taken);
  // Compared by length and last character: the texts are long.
  auto shape = [](const Msgs& m) {
    std::vector<std::string> out;
    for (const auto& s : m) out.push_back(std::to_string(s.size()) + (s.empty() ? "" : s.substr(s.size() - 1)));
    return out;
  };
  const Msgs received = LogSink::messages(got);
  EXPECT_EQ(shape(received), shape(expected));
  EXPECT_TRUE(received == expected);
}

// Fills the queue of the log socket at the board's "/dev/log" to the brim,
// as a burst of lines that the log daemon has not read yet.
void fill_log_queue() {
  const int filler = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un sa = {};
  sa.sun_family = AF_UNIX;
  const std::string path = platform::board_path("/dev/log");
  std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  int queued = 0;
  while (::send(filler, "x", 1, 0) == 1 && queued < 1000000) ++queued;
  ASSERT_GT(queued, 0);
  ::close(filler);
}

TEST_F(SysLogManagerTest, LineThatMeetsAFullQueueWaitsForALogDaemonThatReads) {
  // The start-up lines come faster than the log daemon reads them: a line
  // that finds its queue full waits for the room the daemon makes, and is
  // not lost.
  LogSink sink;
  fill_log_queue();
  syslogManager.openlog("d", LOG_NDELAY, LOG_DAEMON);
  std::string got;
  EXPECT_TRUE(testsupport::alarm_during(
      [] {
        syslogManager.syslog(LOG_INFO, "%s", "kept");
        syslogManager.sendmsg();
      },
      [&] {
        for (std::string b; !(b = sink.receive(0)).empty();) got += b;
      }));
  for (std::string b; !(b = sink.receive(0)).empty();) got += b;
  const std::string kept = msg("30", "d: kept") + '\0';
  EXPECT_NE(got.find(kept), std::string::npos);
}

TEST_F(SysLogManagerTest, LogDaemonThatStopsReadingDoesNotHoldTheLoop) {
  // Its queue full, a datagram log socket would make every log line wait
  // until the log daemon reads again: all slots and the watchdog with it.
  // The first line waits a bounded time, then it and the lines after it
  // are lost at once. A timer breaks the wait where there is one.
  LogSink sink;
  fill_log_queue();

  struct sigaction act = {}, old_act;
  act.sa_handler = on_alarm;
  act.sa_flags = 0;  // a wait in send ends with EINTR
  ::sigemptyset(&act.sa_mask);
  ASSERT_EQ(::sigaction(SIGALRM, &act, &old_act), 0);
  itimerval it = {};
  it.it_value.tv_usec = 300000;
  it.it_interval.tv_usec = 300000;
  ::setitimer(ITIMER_REAL, &it, nullptr);

  syslogManager.openlog("d", LOG_NDELAY, LOG_DAEMON);
  const auto since = [](std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  };
  auto t0 = std::chrono::steady_clock::now();
  syslogManager.syslog(LOG_INFO, "%s", "lost");
  syslogManager.sendmsg();
  const auto first = since(t0);
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) {
    syslogManager.syslog(LOG_INFO, "%s", "lost too");
    syslogManager.sendmsg();
  }
  const auto next = since(t0);

  it = itimerval{};
  ::setitimer(ITIMER_REAL, &it, nullptr);
  ::sigaction(SIGALRM, &old_act, nullptr);
  EXPECT_GE(first, SysLogManager::StreamStallMs - 50);
  EXPECT_LT(first, SysLogManager::StreamStallMs + 2000);
  // Ten lines that would each wait as long if the daemon were not known
  // to have stopped.
  EXPECT_LT(next, SysLogManager::StreamStallMs);

  // Once the log daemon reads again, logging goes on.
  while (!sink.receive(0).empty()) {
  }
  syslogManager.syslog(LOG_INFO, "%s", "later");
  EXPECT_EQ(flush(sink), Msgs{msg("30", "d: later")});
}

TEST_F(SysLogManagerTest, StreamLogDaemonThatStopsReadingOrAcceptingDoesNotHoldTheLoop) {
  // A stream log daemon that stops reading would hold a send for good, and
  // one that stops accepting would hold the connect: the loop, every slot
  // and the watchdog with it. A child process logs, so a wait without end
  // is caught. Real time, about a second.
  LogSink sink(SOCK_STREAM);  // accepts nothing, reads nothing
  syslogManager.openlog("h", LOG_NDELAY, LOG_DAEMON);
  ASSERT_TRUE(syslogManager.connected());
  const int tiny = 1;
  ASSERT_EQ(::setsockopt(syslogManager.fd(), SOL_SOCKET, SO_SNDBUF, &tiny, sizeof tiny), 0);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string text(1000, 'x');
    for (int i = 0; i < 40; ++i) syslogManager.syslog(LOG_INFO, "%s", text.c_str());
    syslogManager.sendmsg();
    // Now the daemon's backlog fills: a new connection must fail at once.
    syslogManager.closelog();
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    const std::string path = platform::board_path("/dev/log");
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    for (int i = 0; i < 64; ++i) {
      const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
      if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) break;
    }
    syslogManager.openlog("h", LOG_NDELAY, LOG_DAEMON);
    syslogManager.syslog(LOG_INFO, "%s", "lost");
    ::_exit(syslogManager.connected() ? 3 : 0);
  }
  int status = -1;
  pid_t done = 0;
  for (int i = 0; i < 800 && done == 0; ++i) {
    done = ::waitpid(child, &status, WNOHANG);
    if (done == 0) ::usleep(10000);
  }
  if (done == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  EXPECT_EQ(done, child) << "logging still waits for the log daemon after 8 s";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A log socket path that leaves no room for its ending NUL in a local
// address reaches no daemon: it is named as unusable; one octet shorter is not.
TEST_F(SysLogManagerTest, LogSocketPathWithoutRoomForItsEndIsUnusable) {
  const std::size_t room = sizeof(sockaddr_un::sun_path);
  for (const std::size_t len : {room - 1, room}) {
    const std::string root = root_.path() + "/" + std::string(len - root_.path().size() - 9, 'r');
    ::setenv("GW_BOARD_ROOT", root.c_str(), 1);
    platform::reset_board_root();
    EXPECT_EQ(platform::board_path("/dev/log").size(), len);
    EXPECT_EQ(SysLogManager::unusable_path().empty(), len < room) << len;
  }
  ::setenv("GW_BOARD_ROOT", root_.path().c_str(), 1);
  platform::reset_board_root();
}

// The datagram log daemon of a board restarts (its socket file made anew):
// lines queued before are sent to the new one at the flush; while none
// listens they are lost without blocking, and the next listener gets what
// follows.
TEST_F(SysLogManagerTest, DatagramLogDaemonRestartAndAbsence) {
  {
    LogSink first;
    syslogManager.openlog("d", LOG_NDELAY, LOG_DAEMON);
    ASSERT_TRUE(syslogManager.connected());
    syslogManager.syslog(LOG_INFO, "%s", "one");
    EXPECT_EQ(flush(first), Msgs{msg("30", "d: one")});
    syslogManager.syslog(LOG_INFO, "%s", "queued");
  }
  {
    LogSink second;
    syslogManager.syslog(LOG_INFO, "%s", "two");
    EXPECT_EQ(flush(second), (Msgs{msg("30", "d: queued"), msg("30", "d: two")}));
    syslogManager.syslog(LOG_INFO, "%s", "gone");
  }
  EXPECT_LT(syslogManager.sendmsg(), 0) << "nobody listens";
  syslogManager.syslog(LOG_INFO, "%s", "still gone");  // lost at once, not queued
  EXPECT_FALSE(syslogManager.connected());
  EXPECT_EQ(syslogManager.sendmsg(), 0);
  LogSink third;
  syslogManager.syslog(LOG_INFO, "%s", "back");
  EXPECT_EQ(flush(third), Msgs{msg("30", "d: back")});
}
