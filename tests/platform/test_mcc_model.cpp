// The simulated HDLC controller as the black-box tests drive it: through
// its control words, on descriptors opened like the server opens them.
#include "platform/device.h"
#include "platform/sim/mcc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace {

using platform::sim::Mcc;

struct Answer {
  std::string error;
  std::string lines;
};

Answer words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  std::ostringstream out;
  Answer a;
  a.error = platform::sim::mcc().command(w, out);
  a.lines = out.str();
  return a;
}

// Opens and allocates a channel; its switch channel in *ts.
int allocate(std::uint32_t mode, int* ts) {
  int fd = platform::dev_open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  mcc_allocate_params p{mode, 512, 0, 1, 4};
  EXPECT_EQ(platform::dev_ioctl(fd, platform::mcc::MCC_ALLOCATE, &p), 0);
  *ts = platform::dev_ioctl(fd, platform::mcc::MCC_TIMESLOT, nullptr);
  return fd;
}

TEST(MccModel, WordsSeeAndSteerTheChannels) {
  Mcc& m = platform::sim::mcc();
  m.clear();
  int ts1 = -1, ts2 = -1;
  int a = allocate(3, &ts1);
  int b = allocate(0, &ts2);
  ASSERT_GE(ts1, 0);
  ASSERT_NE(ts1, ts2) << "every allocation gets a fresh switch channel";
  EXPECT_EQ(words("channels").lines,
            std::to_string(ts1) + ":3,512,0,1,4\n" + std::to_string(ts2) + ":0,512,0,1,4\n");

  // Frames written are read back once, in order; "-" stands for empty.
  EXPECT_EQ(platform::dev_write(a, "\x01\xAB", 2), 2);
  EXPECT_EQ(platform::dev_write(a, "", 0), 0);
  EXPECT_EQ(words("read " + std::to_string(ts1)).lines, "01AB\n-\n");
  EXPECT_EQ(words("read " + std::to_string(ts1)).lines, "");

  // Injected frames are read one per read, an empty one as 0 bytes.
  EXPECT_EQ(words("inject " + std::to_string(ts2) + " 0A0b").error, "");
  EXPECT_EQ(words("inject " + std::to_string(ts2) + " -").error, "");
  unsigned char buf[16];
  EXPECT_EQ(platform::dev_read(b, buf, sizeof buf), 2);
  EXPECT_EQ(buf[1], 0x0B);
  EXPECT_EQ(platform::dev_read(b, buf, sizeof buf), 0);
  EXPECT_EQ(platform::dev_read(b, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);

  // EAGAIN for the next N writes, then frames go through again.
  EXPECT_EQ(words("eagain " + std::to_string(ts1) + " 1").error, "");
  EXPECT_EQ(platform::dev_write(a, "x", 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(platform::dev_write(a, "y", 1), 1);
  EXPECT_EQ(words("read " + std::to_string(ts1)).lines, "79\n");

  // Wired channels receive each other's frames.
  EXPECT_EQ(words("wire " + std::to_string(ts1) + " " + std::to_string(ts2)).error, "");
  EXPECT_EQ(platform::dev_write(b, "\x05", 1), 1);
  EXPECT_EQ(platform::dev_read(a, buf, sizeof buf), 1);
  EXPECT_EQ(buf[0], 0x05);

  // Failures: counted, or until cleared; a failed MCC_TIMESLOT is negative.
  EXPECT_EQ(words("fail timeslot EIO 1").error, "");
  EXPECT_LT(platform::dev_ioctl(a, platform::mcc::MCC_TIMESLOT, nullptr), 0);
  EXPECT_EQ(platform::dev_ioctl(a, platform::mcc::MCC_TIMESLOT, nullptr), ts1);
  EXPECT_EQ(words("fail open 5").error, "");
  EXPECT_EQ(platform::dev_open("/dev/mcc/ctl", O_RDWR), -1);
  EXPECT_EQ(platform::dev_open("/dev/mcc/ctl", O_RDWR), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(words("fail open 0").error, "");

  EXPECT_EQ(words("resources 4 2 1").error, "");
  mcc_resources r{9, 9, 9, 9};
  EXPECT_EQ(platform::dev_ioctl(a, platform::mcc::MCC_RESOURCES, &r), 0);
  EXPECT_EQ(r.data, 4u);
  EXPECT_EQ(r.bri, 2u);
  EXPECT_EQ(r.trans, 1u);

  // Closing the descriptor frees the controller channel.
  platform::dev_close(a);
  EXPECT_EQ(words("channels").lines, std::to_string(ts2) + ":0,512,0,1,4\n");
  EXPECT_NE(words("read " + std::to_string(ts1)).error, "");
  EXPECT_NE(words("fail sideways 5").error, "");
  EXPECT_NE(words("inject " + std::to_string(ts2) + " ABC").error, "") << "odd digit count";
  platform::dev_close(b);
  m.clear();
}

}  // namespace
