#include "runtime/version.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "runtime/timestamp.h"
#include "runtime/trace_block.h"

namespace {

TEST(Version, TypesHaveTheirNamesAndSuffixes) {
  struct {
    int type;
    const char* name;
    const char* suffix;
  } cases[] = {{0, "snapshot", "S"}, {1, "test", "T"}, {2, "release", "R"}, {3, "unit-test", "T"}, {7, "unknown", "U"}};
  for (auto& c : cases) {
    std::ostringstream os;
    os << static_cast<Version::Type>(c.type);
    EXPECT_EQ(c.name, os.str());
    EXPECT_STREQ(c.suffix, Version::version_suffix(static_cast<Version::Type>(c.type)));
  }
}

TEST(Version, PrintingARecordWritesOnlyItsTag) {
  const Version v(Version::unit_test, 4, "", "builder", "2023-01-10 10:22", "T230110-1022", "ppc");
  std::ostringstream os;
  os << v << "|" << Version::current;
  EXPECT_EQ("T230110-1022|" + std::string(Version::current.tag()), os.str());
  EXPECT_STRNE("", Version::current.tag()) << "the build fills the current record";
}

// The tag names the build: a letter, yymmdd, "-", hhmm, the same moment as
// the build date ("2026-12-07 09:15" gives "T261207-0915").
TEST(Version, CurrentTagHasTheFormOfTheBuildTime) {
  const std::string tag = Version::current.tag();
  const std::string date = Version::current.date();
  ASSERT_EQ(tag.size(), 12u) << tag;
  ASSERT_EQ(date.size(), 16u) << date;
  EXPECT_TRUE(tag[0] >= 'A' && tag[0] <= 'Z') << tag;
  const std::string expected = date.substr(2, 2) + date.substr(5, 2) + date.substr(8, 2) + "-" +
                               date.substr(11, 2) + date.substr(14, 2);
  EXPECT_EQ(tag.substr(1), expected) << tag << " / " << date;
}

TEST(TraceBlock, WritesEnterAndLeaveOnlyWhenEnabled) {
  std::ostringstream os;
  {
    Trace::Block on(true, "HDLC::OnEvent", os);
    Trace::Block off(false, "silent", os);
    os << "body\n";
  }
  EXPECT_EQ("Enter HDLC::OnEvent\nbody\nLeave HDLC::OnEvent\n", os.str());
}

TEST(Timestamp, WritesLocalDayMonthAndTime) {
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz ? old_tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  platform::vclock::enable(1673346120, 5);  // 2023-01-10 10:22:00 UTC
  std::ostringstream os;
  timestamp(os) << "|";
  platform::vclock::disable();
  if (old_tz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
  EXPECT_EQ("10/01 10:22:00|", os.str());
}

}  // namespace
