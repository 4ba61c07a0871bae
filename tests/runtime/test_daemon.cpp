// Daemon set-up detaches the process for good, so every case runs it in a
// forked child. The daemon (the child's own child, made by daemon()) holds
// the write end of a pipe and ends with _exit; the test reads the pipe to its
// end, which comes when the daemon has finished. These cases wait in real
// time, briefly.
#include "runtime/daemon.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tests/support/log_sink.h"

namespace {

using testsupport::LogSink;

// Runs body in a daemon made from a forked child; returns once the daemon
// has ended. The child's own exit status must be 0 (daemon() succeeded).
void run_daemon(const Daemon::Params& params, const std::function<void()>& body) {
  int done[2];
  ASSERT_EQ(::pipe(done), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(done[0]);
    Daemon::Init(params);  // the forked child's parent half exits 0 here
    body();
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    ::_exit(0);
  }
  ::close(done[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  char c;
  while (::read(done[0], &c, 1) > 0) {
  }
  ::close(done[0]);
}

// The messages that arrived, without the date, as "<pri>ident: text".
std::vector<std::string> drain(LogSink& sink) {
  std::vector<std::string> out;
  for (;;) {
    const std::string batch = sink.receive(0);
    if (batch.empty()) break;
    for (const std::string& m : LogSink::messages(batch)) {
      const std::string::size_type pri_end = m.find('>');
      // "<pri>Mmm dd hh:mm:ss " is 16 characters after the priority.
      out.push_back(m.size() > pri_end + 16 ? m.substr(0, pri_end + 1) + m.substr(pri_end + 17) : m);
    }
  }
  return out;
}

class DaemonSetUp : public ::testing::Test {
 protected:
  testsupport::ScratchBoardRoot root_;
};

}  // namespace

TEST_F(DaemonSetUp, StandardStreamsGoToTheSystemLog) {
  LogSink sink;
  Daemon::Params p;
  p.nochdir = true;
  p.name = std::string(79, 'i') + "LOST";  // the identity is cut to 79
  run_daemon(p, [] {
    std::cout << "Starting server 100%s" << std::endl;
    std::cerr << "bad thing" << std::endl;
    std::clog << "event" << std::endl;
    // Raw writes reach the log socket as they are.
    const char raw[] = "raw bytes\n";
    ssize_t r = ::write(2, raw, sizeof raw - 1);
    (void)r;
    // A second set-up changes nothing.
    Daemon::Params other;
    other.log_mode = Daemon::LogFiles;
    other.name = "/nonexistent";
    Daemon::Init(other);
    std::cout << "still syslog" << std::endl;
  });
  const std::string id = std::string(79, 'i') + ": ";
  EXPECT_EQ(drain(sink), (std::vector<std::string>{"<29>" + id + "Starting server 100%s",
                                                   "<27>" + id + "bad thing", "<31>" + id + "event",
                                                   "raw bytes\n", "<29>" + id + "still syslog"}));
}

// Lines still held by the standard streams when the daemon exits are
// flushed by the library after static destruction; they reach the log whole.
TEST_F(DaemonSetUp, LinesLeftInTheStreamsAtExitReachTheLog) {
  LogSink sink;
  Daemon::Params p;
  p.nochdir = true;
  p.name = "brv-T230110-1022 at exit";  // longer than a string holds inline
  run_daemon(p, [] {
    std::cout << "first\nsecond\n";
    std::clog << "third\n";
    // A sanitizer report must not fill the log socket nobody reads yet.
    ::dup2(::open("/dev/null", O_WRONLY), 2);
    std::exit(0);
  });
  const std::string id = "brv-T230110-1022 at exit: ";
  EXPECT_EQ(drain(sink), (std::vector<std::string>{"<29>" + id + "first", "<29>" + id + "second",
                                                   "<31>" + id + "third"}));
}

TEST_F(DaemonSetUp, LogFileModeWritesHourlyFiles) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  Daemon::Params p;
  p.log_mode = Daemon::LogFiles;
  p.nochdir = true;
  p.name = root_.path();
  platform::vclock::enable(1673342130);  // 2023-01-10 09:15:30, inherited
  run_daemon(p, [] {
    std::cout << "to the file" << std::endl;
    std::cerr << "errors too" << std::endl;
  });
  platform::vclock::disable();
  std::ifstream in((root_.path() + "/2023_01_10-09.log").c_str());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "15:30:00000: to the file\n15:30:00000: errors too\n");
}
