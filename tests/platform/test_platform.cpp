#include "platform/clock.h"
#include "platform/device.h"
#include "platform/dsp_data.h"
#include "platform/mcc.h"
#include "platform/paths.h"
#include "platform/program.h"
#include "platform/rtp.h"
#include "platform/sim/dsp_data.h"
#include "platform/sim/mcc.h"
#include "platform/sim/mixer.h"
#include "platform/sim/rtp.h"
#include "platform/sim/watchdog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace {

TEST(BoardPaths, ResolveUnderTheBoardRoot) {
  const std::string& root = platform::board_root();
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(platform::board_path("/var/run/server.pid"), root + "/var/run/server.pid");
  EXPECT_EQ(::access((root + "/var/run").c_str(), W_OK), 0);
}

// A relative root is fixed against the working directory when it is read:
// a daemon that changes directory to "/" later must still find its files,
// and a relative stand-in program, looked up only when a slot starts it.
TEST(BoardPaths, RelativeRootBecomesAbsolute) {
  const std::string saved = platform::board_root();
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(saved.c_str()), 0);
  char here[4096];
  ASSERT_NE(::getcwd(here, sizeof here), nullptr);
  const std::string base = here;
  ::setenv("GW_BOARD_ROOT", "rel-root/", 1);
  platform::reset_board_root();
  const std::string root = platform::board_root();
  ASSERT_EQ(::chdir("/"), 0);
  EXPECT_EQ(root, base + "/rel-root");
  EXPECT_EQ(platform::board_path("/var/run"), base + "/rel-root/var/run");
  EXPECT_EQ(::access(platform::board_path("/var/run").c_str(), W_OK), 0) << "still found from /";
  ::setenv("GW_STANDIN_PROGRAM", "bin/standin", 1);
  EXPECT_EQ(platform::program_file("/usr/local/sbin/pppd"), base + "/bin/standin");
  ::setenv("GW_STANDIN_PROGRAM", "/opt/standin", 1);
  EXPECT_EQ(platform::program_file("/usr/local/sbin/pppd"), "/opt/standin");
  ::unsetenv("GW_STANDIN_PROGRAM");
  ::setenv("GW_BOARD_ROOT", saved.c_str(), 1);
  platform::reset_board_root();
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(platform::board_root(), saved);
}

// The board's fixed local port moves only to a whole port number.
TEST(BoardPorts, MoveWhereTheEnvironmentSays) {
  const struct {
    const char* value;  // nullptr: not set
    unsigned short port;
  } cases[] = {{nullptr, 52000}, {"", 52000}, {"41234", 41234}, {"65535", 65535}, {"0", 52000},
               {"65536", 52000}, {"-1", 52000}, {"4123x", 52000}, {"x", 52000}};
  for (const auto& c : cases) {
    if (c.value)
      ::setenv("GW_PORT_52000", c.value, 1);
    else
      ::unsetenv("GW_PORT_52000");
    EXPECT_EQ(platform::local_port(52000), c.port) << (c.value ? c.value : "(unset)");
    EXPECT_EQ(platform::local_port(20001), 20001);
  }
  ::unsetenv("GW_PORT_52000");
}

TEST(Device, PlainFilesOpenUnderTheBoardRoot) {
  std::ofstream(platform::board_path("/usr/local/etc/probe.txt")) << "x";
  int fd = platform::dev_open("/usr/local/etc/probe.txt", O_RDONLY);
  ASSERT_GE(fd, 0);
  char c = 0;
  EXPECT_EQ(platform::dev_read(fd, &c, 1), 1);
  EXPECT_EQ(c, 'x');
  platform::dev_close(fd);
  EXPECT_EQ(platform::dev_open("/no/such/device", O_RDONLY), -1);
}

TEST(Watchdog, RecordsWritesAlsoThroughDuplicates) {
  auto& wd = platform::sim::watchdog();
  wd.clear();
  int fd = platform::dev_open("/dev/misc/gw-wd", O_WRONLY);
  ASSERT_GE(fd, 0);
  int dup = ::dup(fd);
  EXPECT_EQ(platform::dev_write(fd, "START", 5), 5);
  EXPECT_EQ(platform::dev_write(dup, "PING", 4), 4);
  ASSERT_EQ(wd.writes.size(), 2u);
  EXPECT_EQ(wd.writes[0].data, "START");
  EXPECT_EQ(wd.writes[1].data, "PING");
  EXPECT_EQ(wd.channels().size(), 1u);
  platform::dev_close(fd);
  EXPECT_EQ(wd.channels().size(), 1u) << "a duplicate still holds the device open";
  platform::dev_close(dup);
  EXPECT_EQ(wd.channels().size(), 0u);
}

TEST(Watchdog, KeepsOnlyTheLatestWritesAndCountsAll) {
  auto& wd = platform::sim::watchdog();
  wd.clear();
  int fd = platform::dev_open("/dev/misc/gw-wd", O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::dev_write(fd, "START", 5), 5);
  const std::size_t pings = platform::sim::Watchdog::max_kept + 10;
  for (std::size_t i = 0; i < pings; ++i) ASSERT_EQ(platform::dev_write(fd, "PING", 4), 4);
  EXPECT_EQ(platform::dev_write(fd, "STOP", 4), 4);
  EXPECT_EQ(wd.total, pings + 2);
  ASSERT_EQ(wd.writes.size(), platform::sim::Watchdog::max_kept);
  EXPECT_EQ(wd.writes.front().data, "PING");
  EXPECT_EQ(wd.writes.back().data, "STOP");
  platform::dev_close(fd);
  wd.clear();
}

TEST(Watchdog, InjectedFailures) {
  auto& wd = platform::sim::watchdog();
  wd.clear();
  wd.fail_open = EACCES;
  errno = 0;
  EXPECT_EQ(platform::dev_open("/dev/misc/gw-wd", O_WRONLY), -1);
  EXPECT_EQ(errno, EACCES);
  wd.fail_open = 0;
  wd.fail_write["PING"] = EIO;
  int fd = platform::dev_open("/dev/misc/gw-wd", O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::dev_write(fd, "PING", 4), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(platform::dev_write(fd, "STOP", 4), 4);
  platform::dev_close(fd);
  wd.clear();
}

// Each driver's channel is a channel of its own on the cross-connect: an
// RTP session, an HDLC-controller channel and a B channel never share a
// number with each other or with a mixer unit's channels. The RTP event
// descriptor, opened blocking as the slot opens it, answers EAGAIN when no
// record waits.
TEST(Device, DriversHandOutDistinctSwitchChannelsAndRtpReadsDoNotBlock) {
  platform::sim::mcc().clear();
  platform::sim::mixer().clear();
  ASSERT_EQ(platform::sim::mixer().add_unit(0, 16, 4), "");
  const int rtp = platform::dev_open("/dev/rtp", O_RDONLY);
  ASSERT_GE(rtp, 0);
  std::uint8_t session[44] = {};
  std::int32_t info[4] = {-1, -1, -1, 0};  // tdm comes back
  ASSERT_EQ(platform::dev_ioctl(rtp, rtp::RTP_BEGIN_SESSION, session), 0);
  ASSERT_EQ(platform::dev_ioctl(rtp, rtp::RTP_ADD_CHANNEL, info), 0);
  const int mcc = platform::dev_open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK);
  mcc_allocate_params alloc{0, 512, 0, 1, 4};
  ASSERT_EQ(platform::dev_ioctl(mcc, platform::mcc::MCC_ALLOCATE, &alloc), 0);
  const int hdlc = platform::dev_ioctl(mcc, platform::mcc::MCC_TIMESLOT, nullptr);
  platform::sim::dsp_data();
  const int qsig = platform::dev_open("/dev/dsp-data", O_RDWR | O_NONBLOCK);
  dsp_data_b_channel b{0, -1};
  ASSERT_EQ(platform::dev_ioctl(qsig, platform::dsp_data::DSP_DATA_ADD_B, &b), 0);
  EXPECT_EQ(info[0], platform::sim::Rtp::first_channel);
  EXPECT_EQ(hdlc, info[0] + 1) << "the RTP session holds the first";
  EXPECT_EQ(b.channel, platform::sim::MixerDevice::switch_first + 16) << "past the mixer unit's 16";

  unsigned char rec[rtp::EVENT_SIZE];
  errno = 0;
  EXPECT_EQ(platform::dev_read(rtp, rec, sizeof rec), -1);
  EXPECT_EQ(errno, EAGAIN);
  ASSERT_TRUE(platform::sim::rtp().event(info[0], 1, 2, 3));
  EXPECT_EQ(platform::dev_read(rtp, rec, sizeof rec), rtp::EVENT_SIZE);
  EXPECT_EQ(platform::dev_read(rtp, rec, sizeof rec), -1);
  EXPECT_EQ(errno, EAGAIN);
  // Nor does a descriptor serve the direction it was not opened for.
  EXPECT_EQ(platform::dev_write(rtp, rec, sizeof rec), -1);
  EXPECT_EQ(errno, EBADF);

  for (int fd : {rtp, mcc, qsig}) platform::dev_close(fd);
  platform::sim::mixer().clear();
}

TEST(VirtualClock, IdlePollAdvancesTimeAndReadyPollDoesNot) {
  platform::vclock::enable(1000, 500);
  struct timeval tv;
  platform::gettimeofday(&tv);
  EXPECT_EQ(tv.tv_sec, 1000);
  EXPECT_EQ(tv.tv_usec, 500);

  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  struct pollfd pfd = {p[0], POLLIN, 0};
  EXPECT_EQ(platform::poll(&pfd, 1, 2500), 0);
  platform::gettimeofday(&tv);
  EXPECT_EQ(tv.tv_sec, 1002);
  EXPECT_EQ(tv.tv_usec, 500500);

  ASSERT_EQ(::write(p[1], "x", 1), 1);
  EXPECT_EQ(platform::poll(&pfd, 1, 2500), 1);
  platform::gettimeofday(&tv);
  EXPECT_EQ(tv.tv_sec, 1002) << "a ready descriptor must not move the clock";
  ::close(p[0]);
  ::close(p[1]);
  platform::vclock::disable();
}

}  // namespace
