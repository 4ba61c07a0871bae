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

// "<pri>Jan  5 14:03:09 t: " is the header of every message here.
const std::string::size_type kHeader = 23;

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

  // The next batch as "<pri>" and the text of each message.
  Lines next(int timeout_ms = 2000) {
    Lines out;
    for (const std::string& m : LogSink::messages(sink_.receive(timeout_ms)))
      out.push_back(m.substr(0, 4) + m.substr(kHeader));
    return out;
  }

  testsupport::ScratchBoardRoot root_;
  LogSink sink_;
  ManagedSysLogStreamBuf buf_{LOG_DAEMON >> 3, LOG_NOTICE};
  std::ostream out_{&buf_};
};

}  // namespace

TEST_F(SysLogStream, EachLineIsOneMessageAndOneFlushOneBatch) {
  out_ << "a\nb" << std::flush;
  EXPECT_EQ(next(), (Lines{"<29>a", "<29>b"}));

  out_ << "abc" << std::flush;  // no line end yet: nothing is sent
  EXPECT_EQ(next(0), Lines{});
  out_ << "def\n" << std::flush;
  EXPECT_EQ(next(), Lines{"<29>abcdef"});

  out_ << "one\ntwo\nthree\n" << std::flush;
  EXPECT_EQ(next(), (Lines{"<29>one", "<29>two", "<29>three"}));
  EXPECT_EQ(next(0), Lines{});

  // Lines are data, never formats.
  ManagedSysLogStreamBuf err(LOG_DAEMON >> 3, LOG_ERR);
  std::ostream(&err) << "100%s done %d%n" << std::endl;
  EXPECT_EQ(next(), Lines{"<27>100%s done %d%n"});
}

TEST_F(SysLogStream, LongTextIsCutAndAFullBufferGoesAsOneMessage) {
  // A 2000-character line: one message of 1023 characters with its header,
  // then its NUL.
  out_ << std::string(2000, 'x') << std::endl;
  const std::string batch = sink_.receive(2000);
  ASSERT_EQ(batch.size(), 1024u);
  EXPECT_EQ(batch.compare(0, kHeader, "<29>Jan  5 14:03:09 t: "), 0);
  EXPECT_EQ(batch.find_first_not_of('x', kHeader), 1023u);
  EXPECT_EQ(batch.back(), '\0');

  // 16383 characters fill the buffer: sent whole (cut), then afresh.
  out_ << std::string(ManagedSysLogStreamBuf::ManagedSysLogBufSize - 1, 'y') << "zz\n" << std::flush;
  const Lines full = next();
  ASSERT_EQ(full.size(), 1u);
  EXPECT_EQ(full[0].size(), 4 + 1023 - kHeader);
  EXPECT_EQ(next(), Lines{"<29>zz"});
}

TEST_F(SysLogStream, PendingTextDiesWithTheBuffer) {
  {
    ManagedSysLogStreamBuf buf(LOG_DAEMON >> 3, LOG_NOTICE);
    std::ostream(&buf) << "unfinished";
  }
  syslogManager.sendmsg();
  EXPECT_EQ(next(0), Lines{});
}
