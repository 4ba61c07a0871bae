#include "runtime/profile.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/clock.h"
#include "runtime/mux_time.h"

namespace {

std::string text(const Profile::Point& p) {
  std::ostringstream os;
  os << p;
  return os.str();
}

TEST(Profile, PointPrintsItsNameAndTimings) {
  platform::vclock::enable();
  Profile::Point p("Control::Service::Send [1]");
  EXPECT_EQ("[Control::Service::Send [1]]: min=0 max=0 avg=0 counter=0", text(p));
  for (int us : {5, 3}) {
    p.begin();
    platform::vclock::advance_us(us);
    p.end();
  }
  platform::vclock::disable();
  EXPECT_EQ("[Control::Service::Send [1]]: min=3 max=5 avg=3 counter=2", text(p));
}

TEST(Profile, DumpListsTheLivingPointsNewestFirst) {
  Profile::Point a("a");
  std::ostringstream os;
  {
    Profile::Point b("b");
    Profile::Point c("c");
    { Profile::Point d("d"); }
    Profile::dump(os);
  }  // b leaves from the middle of the list, c from its head
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
