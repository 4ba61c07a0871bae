#include "runtime/profile.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/clock.h"
#include "runtime/mux_time.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::vclock::enable();
    Mux::g_tv_time = Mux::timeval(0, 0);
  }
  void TearDown() override { platform::vclock::disable(); }

  static std::string text(const Profile::Point& p) {
    std::ostringstream os;
    os << p;
    return os.str();
  }
};

TEST_F(ProfileTest, PointKeepsShortestLongestLatestAndCount) {
  Profile::Point p("Control::Service::Send [1]");
  EXPECT_EQ("[Control::Service::Send [1]]: min=0 max=0 avg=0 counter=0", text(p));
  p.begin();
  platform::vclock::advance_us(5);
  p.end();
  p.begin();
  platform::vclock::advance_us(3);
  p.end();
  EXPECT_EQ("[Control::Service::Send [1]]: min=3 max=5 avg=3 counter=2", text(p));
  p.begin();
  platform::vclock::advance_us(4);
  p.end();
  EXPECT_EQ("[Control::Service::Send [1]]: min=3 max=5 avg=4 counter=3", text(p));
}

TEST_F(ProfileTest, DurationSurvivesTheWrapOfTheMicrosecondClock) {
  // 2^32 microseconds are 4294 s and 967296 us.
  platform::vclock::set(4294, 967290);
  Profile::Point p("wrap");
  p.begin();
  platform::vclock::advance_us(10);
  p.end();
  EXPECT_EQ("[wrap]: min=10 max=10 avg=10 counter=1", text(p));
}

TEST_F(ProfileTest, NumbersAreDecimalWhateverTheStreamsBase) {
  Profile::Point p("hex");
  p.begin();
  platform::vclock::advance_us(255);
  p.end();
  std::ostringstream os;
  os << std::hex << p << " " << 255;
  EXPECT_EQ("[hex]: min=255 max=255 avg=255 counter=1 ff", os.str());
}

TEST_F(ProfileTest, DumpListsTheLivingPointsNewestFirst) {
  Profile::Point a("a");
  std::ostringstream os;
  {
    Profile::Point b("b");
    Profile::Point c("c");
    {
      Profile::Point d("d");
    }
    Profile::dump(os);
    // b leaves from the middle of the list, c from its head.
  }
  Profile::Point e("e");
  Profile::dump(os);
  EXPECT_EQ(
      "[c]: min=0 max=0 avg=0 counter=0\n"
      "[b]: min=0 max=0 avg=0 counter=0\n"
      "[a]: min=0 max=0 avg=0 counter=0\n"
      "[e]: min=0 max=0 avg=0 counter=0\n"
      "[a]: min=0 max=0 avg=0 counter=0\n",
      os.str());
}

}  // namespace
