#include "runtime/syslog_stream.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "runtime/syslog_manager.h"
#include "tests/support/log_sink.h"

namespace {

using testsupport::LogSink;
typedef std::vector<std::string> Lines;

class SysLogStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    platform::vclock::enable(1672927389);  // 2023-01-05 14:03:09
    syslogManager.openlog(nullptr, 0, LOG_USER);
    syslogManager.closelog();
    syslogManager.openlog("t", LOG_NDELAY, 0);
  }
  void TearDown() override {
    syslogManager.closelog();
    platform::vclock::disable();
  }

  // The texts of the next batch, without their headers.
  Lines next(int timeout_ms = 2000) {
    Lines out;
    for (const std::string& m : LogSink::messages(sink_.receive(timeout_ms))) {
      const std::string::size_type body = m.find(" t: ");
      out.push_back(m.substr(0, m.find('>') + 1) + (body == std::string::npos ? m : m.substr(body + 4)));
    }
    return out;
  }

  testsupport::ScratchBoardRoot root_;
  LogSink sink_;
};

}  // namespace

TEST_F(SysLogStream, EachLineIsOneMessageAndOneFlushOneBatch) {
  ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_NOTICE);
  std::ostream out(&buf);

  out << "a\nb" << std::flush;
  EXPECT_EQ(next(), (Lines{"<29>a", "<29>b"}));

  out << "abc" << std::flush;  // no line end yet: nothing is sent
  EXPECT_EQ(next(0), Lines{});
  out << "def\n" << std::flush;
  EXPECT_EQ(next(), Lines{"<29>abcdef"});

  out << "one\ntwo\nthree\n" << std::flush;
  EXPECT_EQ(next(), (Lines{"<29>one", "<29>two", "<29>three"}));
  EXPECT_EQ(next(0), Lines{});
}

TEST_F(SysLogStream, LinesAreDataNotFormats) {
  ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_ERR);
  std::ostream out(&buf);
  out << "100%s done %d%n" << std::endl;
  EXPECT_EQ(next(), Lines{"<27>100%s done %d%n"});
}

TEST_F(SysLogStream, LongTextIsCutAndAFullBufferGoesAsOneMessage) {
  ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_DEBUG);
  std::ostream out(&buf);

  // A 2000-character line: one message of 1023 characters with its header.
  out << std::string(2000, 'x') << std::endl;
  std::vector<std::string> msgs = LogSink::messages(sink_.receive(2000));
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].size(), 1023u);
  EXPECT_EQ(msgs[0].compare(0, 4, "<31>"), 0);

  // 16383 characters fill the buffer: sent whole (cut), then afresh.
  out << std::string(ManagedSysLogStreamBuf::ManagedSysLogBufSize - 1, 'y') << "zz\n" << std::flush;
  msgs = LogSink::messages(sink_.receive(2000));
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].size(), 1023u);
  EXPECT_EQ(next(), Lines{"<31>zz"});
}

TEST_F(SysLogStream, PendingTextDiesWithTheBuffer) {
  {
    ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_NOTICE);
    std::ostream out(&buf);
    out << "unfinished";
  }
  syslogManager.sendmsg();
  EXPECT_EQ(next(0), Lines{});
}
