#include "runtime/log_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <ostream>
#include <string>

#include "platform/clock.h"
#include "runtime/mux_time.h"
#include "tests/support/log_sink.h"

namespace {

// 2023-01-10 09:15:30 UTC.
const long k0915 = 1673342130;

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    platform::vclock::enable(k0915, 1234);
  }
  void TearDown() override {
    Mux::g_tv_time = Mux::timeval();
    platform::vclock::disable();
  }

  std::string read(const std::string& name) {
    std::ifstream in((root_.path() + "/" + name).c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testsupport::ScratchBoardRoot root_;
};

}  // namespace

TEST_F(LogFile, PrefixesEveryLineWithTheTimeOfTheFlush) {
  LogFileStreamBuf buf(root_.path());
  std::ostream out(&buf);
  out << "first\nsecond\n" << std::flush;  // one flush, one prefix time
  // The loop's cached time of its pass is not the time of the flush.
  Mux::g_tv_time = Mux::timeval(int(k0915 - 3600), 7);
  platform::vclock::set(k0915 + 65, 123456);
  out << "a line longer than the sixteen bytes of the buffer\n" << std::flush;
  // A line flushed in pieces gets one prefix.
  out << "begun " << std::flush;
  platform::vclock::advance_ms(2000);
  out << "ended\nnext\n" << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"),
            "15:30:01234: first\n"
            "15:30:01234: second\n"
            "16:35:123456: a line longer than the sixteen bytes of the buffer\n"
            "16:35:123456: begun ended\n"
            "16:37:123456: next\n");
}

TEST_F(LogFile, RollsOverWhenTheHourChanges) {
  LogFileStreamBuf buf(root_.path());
  std::ostream out(&buf);
  out << "at nine\n" << std::flush;
  platform::vclock::set(1673344800 + 5, 0);  // 10:00:05
  out << "at ten\n" << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"), "15:30:01234: at nine\n");
  EXPECT_EQ(read("2023_01_10-10.log"), "00:05:00000: at ten\n");
}

TEST_F(LogFile, RestartWithinTheHourKeepsTheHoursLog) {
  {
    LogFileStreamBuf buf(root_.path());
    std::ostream(&buf) << "before restart\n" << std::flush;
  }
  platform::vclock::advance_ms(60000);
  LogFileStreamBuf buf(root_.path());
  std::ostream(&buf) << "after restart\n" << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"),
            "15:30:01234: before restart\n"
            "16:30:01234: after restart\n");

  // A directory that does not exist drops the output quietly.
  LogFileStreamBuf lost(root_.path() + "/missing");
  std::ostream out(&lost);
  out << "nowhere to go\n" << std::flush;
  EXPECT_TRUE(out.good());
}
