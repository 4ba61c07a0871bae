#include "runtime/version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "runtime/timestamp.h"
#include "runtime/trace_block.h"

namespace {

TEST(Version, TypesHaveTheirNamesAndSuffixes) {
  std::ostringstream os;
  os << Version::snapshot << " " << Version::test << " " << Version::release << " "
     << Version::unit_test << " " << static_cast<Version::Type>(7);
  EXPECT_EQ("snapshot test release unit-test unknown", os.str());
  EXPECT_STREQ("S", Version::version_suffix(Version::snapshot));
  EXPECT_STREQ("T", Version::version_suffix(Version::test));
  EXPECT_STREQ("R", Version::version_suffix(Version::release));
  EXPECT_STREQ("T", Version::version_suffix(Version::unit_test));
  EXPECT_STREQ("U", Version::version_suffix(static_cast<Version::Type>(7)));
}

TEST(Version, PrintingARecordWritesOnlyItsTag) {
  const Version v(Version::unit_test, 4, "", "builder", "2023-01-10 10:22", "T230110-1022", "ppc");
  std::ostringstream os;
  os << v;
  EXPECT_EQ("T230110-1022", os.str());

  std::ostringstream cur;
  cur << Version::current;
  EXPECT_EQ(std::string(Version::current.tag()), cur.str());
}

TEST(Version, CurrentBuildIsTaggedWithTheProjectVersion) {
  // "<major>.<minor>.<patch>", then "-<revision>" when built from a git tree.
  const std::string tag = Version::current.tag();
  unsigned major = 0, minor = 0, patch = 0;
  int used = 0;
  ASSERT_EQ(3, std::sscanf(tag.c_str(), "%u.%u.%u%n", &major, &minor, &patch, &used)) << tag;
  const std::string rest = tag.substr(used);
  EXPECT_TRUE(rest.empty() || (rest.size() > 1 && rest[0] == '-' &&
                               rest.find_first_not_of("0123456789abcdef", 1) == std::string::npos))
      << tag;
  EXPECT_EQ(Version::snapshot, Version::current.type());
  EXPECT_STRNE("", Version::current.date());
  EXPECT_STRNE("", Version::current.arch());
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
