#include "runtime/log_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "runtime/mux_time.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/log_sink.h"
#include "tests/support/netns.h"

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
  // An open line waits for its end, but only up to a bounded piece: with
  // its prefix and "begun " these are one octet short of it.
  const std::string whole =
      "15:30:01234: first\n"
      "15:30:01234: second\n"
      "16:35:123456: a line longer than the sixteen bytes of the buffer\n";
  const std::string piece(4075, 'x');
  out << piece << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"), whole);
  out << "y" << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"), whole + "16:35:123456: begun " + piece + "y");
  platform::vclock::advance_ms(2000);
  out << "ended\nnext\n" << std::flush;
  EXPECT_EQ(read("2023_01_10-09.log"), whole + "16:35:123456: begun " + piece + "yended\n" + "16:37:123456: next\n");
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

namespace {

struct Flush {
  long utc;
  const char* line;
};
struct File {
  const char* name;
  const char* text;  // nullptr: no such file
};
struct HourCase {
  const char* what;
  const char* tz;
  std::vector<Flush> flushes;  // the buffer is made at the first one's time
  std::vector<File> files;
};

}  // namespace

// Files are named by the local time of the board, whatever its zone: hours
// that begin at a half hour of the universal time, an hour skipped or
// repeated by a summer time change, a day that passes without a line, and
// the clock of a board that boots in 1970 and is set later.
TEST_F(LogFile, FileNamesFollowTheLocalHourAndDate) {
  const char* const cet = "CET-1CEST,M3.5.0,M10.5.0/3";
  const std::vector<HourCase> cases = {
      {"half-hour zone", "<+0530>-5:30",
       {{1673321390, "08:59:50\n"}, {1673321405, "09:00:05\n"}},
       {{"2023_01_10-08.log", "59:50:00000: 08:59:50\n"}, {"2023_01_10-09.log", "00:05:00000: 09:00:05\n"}}},
      {"summer time begins: 02:00 CET is 03:00 CEST", cet,
       {{1679792370, "01:59:30 CET\n"}, {1679792410, "03:00:10 CEST\n"}},
       {{"2023_03_26-01.log", "59:30:00000: 01:59:30 CET\n"},
        {"2023_03_26-02.log", nullptr},
        {"2023_03_26-03.log", "00:10:00000: 03:00:10 CEST\n"}}},
      {"summer time ends: the hour 02 twice, one file", cet,
       {{1698539400, "02:30 CEST\n"}, {1698541800, "02:10 CET\n"}, {1698544805, "03:00 CET\n"}},
       {{"2023_10_29-02.log", "30:00:00000: 02:30 CEST\n10:00:00000: 02:10 CET\n"},
        {"2023_10_29-03.log", "00:05:00000: 03:00 CET\n"}}},
      {"a quiet day: the same hour a day later", "UTC",
       {{k0915, "day one\n"}, {1673428800, "day two\n"}},
       {{"2023_01_10-09.log", "15:30:00000: day one\n"}, {"2023_01_11-09.log", "20:00:00000: day two\n"}}},
      {"booted at 1970, the clock set in the same hour of the day", "UTC",
       {{10, "at boot\n"}, {1673309100, "clock set\n"}},
       {{"1970_01_01-00.log", "00:10:00000: at boot\n"}, {"2023_01_10-00.log", "05:00:00000: clock set\n"}}},
  };
  for (const HourCase& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::ScratchBoardRoot dir;
    ::setenv("TZ", c.tz, 1);
    ::tzset();
    platform::vclock::set(c.flushes.front().utc, 0);
    {
      LogFileStreamBuf buf(dir.path());
      std::ostream out(&buf);
      for (const Flush& f : c.flushes) {
        platform::vclock::set(f.utc, 0);
        out << f.line << std::flush;
      }
    }
    for (const File& f : c.files) {
      const std::string path = dir.path() + "/" + f.name;
      if (!f.text) {
        EXPECT_NE(::access(path.c_str(), F_OK), 0) << f.name;
        continue;
      }
      std::ifstream in(path.c_str(), std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), f.text) << f.name;
    }
  }
}

// The log directory on a disk that refuses the file, for real (a tiny
// tmpfs in a mount namespace of the test's own): a file that cannot be
// opened is tried again at the next line, so the log resumes once the disk
// takes it; a disk that fills in the middle of a flush loses the lines that
// find no room, but none stands twice and every later line is whole.
TEST_F(LogFile, DiskThatRefusesTheFile) {
  const std::string dir = root_.path() + "/log";
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  RUN_IN_MOUNTNS(result, [&]() {
    testsupport::mount_tmpfs(dir, 16 * 1024);
    std::string failed;
    const int descriptors = testsupport::open_descriptors();
    const std::string file = dir + "/2023_01_10-09.log";
    for (const auto& f : testsupport::disk_refusals(dir)) {
      ::unlink(file.c_str());
      f.on();
      LogFileStreamBuf buf(dir);
      std::ostream out(&buf);
      out << "lost\n" << std::flush;
      f.off();
      out << "kept\n" << std::flush;
      if (read("log/2023_01_10-09.log") != "15:30:01234: kept\n")
        failed += std::string(f.name) + ": " + read("log/2023_01_10-09.log") + "\n";
    }

    // Full: the file's last page still takes text, then a flush of many
    // lines goes out in part; later lines find no room at all.
    ::unlink(file.c_str());
    {
      LogFileStreamBuf buf(dir);
      std::ostream out(&buf);
      out << "line before the disk\n" << std::flush;
      const std::string filler = testsupport::fill(dir);
      int line = 0;
      for (int flush = 0; flush < 30; ++flush) {
        for (int i = 0; i < 20; ++i) out << "line " << line++ << " of the full disk\n";
        out << std::flush;
      }
      ::unlink(filler.c_str());
      out << "room again\n" << std::flush;
    }
    // Every line is one that was written, once; one cut short by the disk
    // may stand in front of the line that follows the fault.
    std::set<std::string> lines = {"15:30:01234: line before the disk", "15:30:01234: room again"};
    for (int line = 0; line < 600; ++line) lines.insert("15:30:01234: line " + std::to_string(line) + " of the full disk");
    std::istringstream text(read("log/2023_01_10-09.log"));
    std::set<std::string> seen;
    std::string l, last;
    int cut = 0;
    while (std::getline(text, l)) {
      const auto next = lines.lower_bound(l);
      if (!seen.insert(l).second) failed += "twice: " + l + "\n";
      if (next == lines.end() || next->compare(0, l.size(), l) != 0) failed += "not written: " + l + "\n";
      else if (*next != l) ++cut;
      last = l;
    }
    if (seen.size() < 10 || seen.size() > 590) failed += "not filled as meant: " + std::to_string(seen.size()) + "\n";
    if (last != "15:30:01234: room again" || cut > 1) failed += "last: " + last + "\n";
    if (testsupport::open_descriptors() != descriptors) failed += "descriptors left open\n";
    return failed;
  });
  EXPECT_EQ(result.output, "");
}
