#include "runtime/log_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>

#include "platform/clock.h"
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
    dir_ = root_.path();
  }
  void TearDown() override { platform::vclock::disable(); }

  std::string read(const std::string& name) {
    std::ifstream in((dir_ + "/" + name).c_str(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  testsupport::ScratchBoardRoot root_;
  std::string dir_;
};

}  // namespace

TEST_F(LogFile, PrefixesEveryLineWithMinutesSecondsAndMicroseconds) {
  LogFileStreamBuf buf(dir_);
  std::ostream out(&buf);
  out << "first\nsecond\n" << std::flush;  // one flush, one prefix time
  platform::vclock::set(k0915 + 65, 123456);
  out << "a line longer than the sixteen bytes of the buffer\n" << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"),
            "15:30:01234: first\n"
            "15:30:01234: second\n"
            "16:35:123456: a line longer than the sixteen bytes of the buffer\n");
}

TEST_F(LogFile, ALineFlushedInPiecesGetsOnePrefix) {
  LogFileStreamBuf buf(dir_);
  std::ostream out(&buf);
  out << "begun " << std::flush;
  platform::vclock::advance_ms(2000);
  out << "ended\nnext\n" << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"),
            "15:30:01234: begun ended\n"
            "15:32:01234: next\n");
}

TEST_F(LogFile, RollsOverWhenTheHourChanges) {
  LogFileStreamBuf buf(dir_);
  std::ostream out(&buf);
  out << "at nine\n" << std::flush;
  platform::vclock::set(1673344800 + 5, 0);  // 10:00:05
  out << "at ten\n" << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"), "15:30:01234: at nine\n");
  EXPECT_EQ(read("2023_01_10-10.log"), "00:05:00000: at ten\n");
}

TEST_F(LogFile, RestartWithinTheHourKeepsTheHoursLog) {
  {
    LogFileStreamBuf buf(dir_);
    std::ostream out(&buf);
    out << "before restart\n" << std::flush;
  }
  platform::vclock::advance_ms(60000);
  LogFileStreamBuf buf(dir_);
  std::ostream out(&buf);
  out << "after restart\n" << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"),
            "15:30:01234: before restart\n"
            "16:30:01234: after restart\n");
}

TEST_F(LogFile, MissingDirectoryDropsOutputQuietly) {
  LogFileStreamBuf buf(dir_ + "/missing");
  std::ostream out(&buf);
  out << "nowhere to go\n" << std::flush;
  EXPECT_TRUE(out.good());
}
