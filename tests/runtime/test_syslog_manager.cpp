#include "runtime/syslog_manager.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"
#include "tests/support/log_sink.h"

namespace {

using testsupport::LogSink;

// 2023-01-05 14:03:09 UTC: the day pads with a blank.
const long kJan5 = 1672927389;

class SysLogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    platform::vclock::enable(kJan5);
    // The manager is global: start from its initial state.
    syslogManager.openlog(nullptr, 0, LOG_USER);
    syslogManager.closelog();
    syslogManager.setlogmask(0xff);
  }
  void TearDown() override {
    syslogManager.closelog();
    syslogManager.setlogmask(0xff);
    platform::vclock::disable();
  }

  std::vector<std::string> next_batch(LogSink& sink) { return LogSink::messages(sink.receive(2000)); }

  testsupport::ScratchBoardRoot root_;
};

}  // namespace

TEST_F(SysLogManagerTest, MessageFormat) {
  LogSink sink;
  syslogManager.openlog("brv-1.0", LOG_NDELAY, LOG_DAEMON);
  EXPECT_TRUE(syslogManager.connected());

  syslogManager.syslog(LOG_NOTICE, "%s", "started");
  syslogManager.sendmsg();
  // One message, terminated by its NUL; the daemon facility was defaulted.
  EXPECT_EQ(sink.receive(2000), std::string("<29>Jan  5 14:03:09 brv-1.0: started\0", 37));

  // An explicit facility stays; the process id when asked for.
  syslogManager.openlog(nullptr, LOG_NDELAY | LOG_PID, 0);
  syslogManager.syslog(LOG_LOCAL0 | LOG_ERR, "n=%d", 7);
  syslogManager.sendmsg();
  std::ostringstream want;
  want << "<131>Jan  5 14:03:09 brv-1.0[" << ::getpid() << "]: n=7";
  EXPECT_EQ(next_batch(sink), std::vector<std::string>{want.str()});

  // Without identity there is no ": ".
  syslogManager.openlog("", LOG_NDELAY, 0);
  syslogManager.syslog(LOG_DEBUG, "%s", "bare");
  syslogManager.sendmsg();
  EXPECT_EQ(next_batch(sink), std::vector<std::string>{"<31>Jan  5 14:03:09 bare"});
}

TEST_F(SysLogManagerTest, DefaultsAndCloselog) {
  LogSink sink;
  EXPECT_EQ(syslogManager.identity(), "syslog-tvr");
  // The first message connects by itself, with facility user.
  syslogManager.syslog(LOG_WARNING, "%s", "w");
  EXPECT_TRUE(syslogManager.connected());
  syslogManager.sendmsg();
  EXPECT_EQ(next_batch(sink), std::vector<std::string>{"<12>Jan  5 14:03:09 syslog-tvr: w"});

  // closelog forgets the identity and what was queued.
  syslogManager.openlog("other", LOG_NDELAY, 0);
  syslogManager.syslog(LOG_INFO, "%s", "dropped");
  syslogManager.closelog();
  EXPECT_FALSE(syslogManager.connected());
  EXPECT_EQ(syslogManager.identity(), "syslog-tvr");
  syslogManager.syslog(LOG_INFO, "%s", "kept");
  syslogManager.sendmsg();
  EXPECT_EQ(next_batch(sink), std::vector<std::string>{"<14>Jan  5 14:03:09 syslog-tvr: kept"});
  EXPECT_EQ(sink.receive(0), "");
}

TEST_F(SysLogManagerTest, BatchesUntilSentOrLarge) {
  LogSink sink;
  syslogManager.openlog("b", LOG_NDELAY, LOG_DAEMON);
  for (const char* t : {"one", "two", "three"}) syslogManager.syslog(LOG_INFO, "%s", t);
  EXPECT_EQ(sink.receive(0), "");  // still queued
  EXPECT_GT(syslogManager.sendmsg(), 0);
  EXPECT_EQ(next_batch(sink),
            (std::vector<std::string>{"<30>Jan  5 14:03:09 b: one", "<30>Jan  5 14:03:09 b: two",
                                      "<30>Jan  5 14:03:09 b: three"}));
  EXPECT_EQ(syslogManager.sendmsg(), 0);  // nothing left

  // Past 12288 bytes the batch goes out by itself, nothing lost.
  const std::string text(1000, 'x');
  for (int i = 0; i < 13; ++i) syslogManager.syslog(LOG_INFO, "%s", text.c_str());
  std::vector<std::string> first = next_batch(sink);
  EXPECT_EQ(first.size(), 13u);
  EXPECT_EQ(sink.receive(0), "");

  // At 256 queued messages likewise.
  for (int i = 0; i < 300; ++i) syslogManager.syslog(LOG_INFO, "%d", i);
  EXPECT_EQ(next_batch(sink).size(), 256u);
  syslogManager.sendmsg();
  std::vector<std::string> rest = next_batch(sink);
  ASSERT_EQ(rest.size(), 44u);
  EXPECT_EQ(rest.back(), "<30>Jan  5 14:03:09 b: 299");
}

TEST_F(SysLogManagerTest, CutsAt1023Characters) {
  LogSink sink;
  syslogManager.openlog("cut", LOG_NDELAY, 0);
  const std::string text(2000, 'y');
  syslogManager.syslog(LOG_INFO, "%s", text.c_str());
  syslogManager.sendmsg();
  const std::string batch = sink.receive(2000);
  ASSERT_EQ(batch.size(), 1024u);
  EXPECT_EQ(batch.back(), '\0');
  EXPECT_EQ(batch.compare(0, 27, "<14>Jan  5 14:03:09 cut: yy"), 0);
  EXPECT_EQ(batch.find_first_not_of('y', 25), 1023u);
}

TEST_F(SysLogManagerTest, LevelMaskAndStandardErrorCopy) {
  LogSink sink;
  syslogManager.openlog("m", LOG_NDELAY | LOG_PERROR, LOG_DAEMON);
  syslogManager.setlogmask(LOG_UPTO(LOG_ERR));
  ::testing::internal::CaptureStderr();
  syslogManager.syslog(LOG_DEBUG, "%s", "hidden");
  syslogManager.syslog(LOG_ERR, "%s", "shown");
  syslogManager.syslog(LOG_CRIT, "%s", "ends\n");
  const std::string err = ::testing::internal::GetCapturedStderr();
  syslogManager.sendmsg();
  // Standard error gets the body from the identity on, one line each.
  EXPECT_EQ(err, "m: shown\nm: ends\n");
  EXPECT_EQ(next_batch(sink),
            (std::vector<std::string>{"<27>Jan  5 14:03:09 m: shown", "<26>Jan  5 14:03:09 m: ends\n"}));
}

TEST_F(SysLogManagerTest, StreamLogSocketGetsEveryMessage) {
  // A stream-type "/dev/log": the datagram connect fails with EPROTOTYPE and
  // the manager switches; a connected stream takes no destination address.
  LogSink sink(SOCK_STREAM);
  syslogManager.openlog("s", LOG_NDELAY, LOG_DAEMON);
  ASSERT_TRUE(syslogManager.connected());
  syslogManager.syslog(LOG_INFO, "%s", "a");
  syslogManager.syslog(LOG_INFO, "%s", "b");
  EXPECT_GT(syslogManager.sendmsg(), 0);
  EXPECT_EQ(next_batch(sink),
            (std::vector<std::string>{"<30>Jan  5 14:03:09 s: a", "<30>Jan  5 14:03:09 s: b"}));
}

TEST_F(SysLogManagerTest, ReconnectsWhenTheLogDaemonRestarts) {
  std::vector<std::string> got;
  {
    LogSink sink(SOCK_STREAM);
    syslogManager.openlog("r", LOG_NDELAY, LOG_DAEMON);
    syslogManager.syslog(LOG_INFO, "%s", "before");
    syslogManager.sendmsg();
    EXPECT_EQ(next_batch(sink).size(), 1u);
  }
  LogSink again(SOCK_STREAM);
  syslogManager.syslog(LOG_INFO, "%s", "after");
  EXPECT_GT(syslogManager.sendmsg(), 0);
  EXPECT_EQ(next_batch(again), std::vector<std::string>{"<30>Jan  5 14:03:09 r: after"});
}

TEST_F(SysLogManagerTest, ConsoleFallbackWithoutLogSocket) {
  const std::string console = platform::board_path("/dev/console");
  { std::ofstream touch(console.c_str()); }
  syslogManager.openlog("c", LOG_CONS, LOG_DAEMON);
  syslogManager.syslog(LOG_ERR, "%s", "no log daemon");
  EXPECT_FALSE(syslogManager.connected());
  EXPECT_EQ(syslogManager.fd(), -1);

  std::ifstream in(console.c_str(), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "c: no log daemon\r\n");

  // Without LOG_CONS the message is lost quietly; a later one connects.
  syslogManager.openlog(nullptr, 0, 0);
  syslogManager.syslog(LOG_ERR, "%s", "lost");
  LogSink sink;
  syslogManager.syslog(LOG_ERR, "%s", "found");
  syslogManager.sendmsg();
  EXPECT_EQ(next_batch(sink), std::vector<std::string>{"<27>Jan  5 14:03:09 c: found"});
}

TEST_F(SysLogManagerTest, DescriptorZeroIsAValidLogSocket) {
  // Standard input closed (as under CI): the log socket gets descriptor 0.
  LogSink sink;
  const int saved = ::dup(0);
  ::close(0);
  syslogManager.openlog("z", LOG_NDELAY, LOG_DAEMON);
  const int fd = syslogManager.fd();
  const bool connected = syslogManager.connected();
  syslogManager.syslog(LOG_INFO, "%s", "on zero");
  syslogManager.sendmsg();
  syslogManager.closelog();
  ::dup2(saved, 0);
  ::close(saved);
  EXPECT_EQ(fd, 0);
  EXPECT_TRUE(connected);
  EXPECT_EQ(next_batch(sink), std::vector<std::string>{"<30>Jan  5 14:03:09 z: on zero"});
}
