// The board-state requests of the simulated "/dev/hal" and the simulated
// packet socket's interface table, through the device calls and the
// control-socket words.
#include "platform/device.h"
#include "platform/hal.h"
#include "platform/netif.h"
#include "platform/sim/control_words.h"
#include "platform/sim/hal.h"
#include "platform/sim/hal_board.h"
#include "platform/sim/netif.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

using platform::sim::control_request;

namespace {

int ioctl_byte(int fd, unsigned long request, std::uint8_t& v) { return platform::dev_ioctl(fd, request, &v); }

}  // namespace

TEST(HalBoard, DipPowerAndLedRequestsAndWords) {
  platform::sim::hal().clear();
  platform::sim::hal_board().clear();
  const int fd = platform::dev_open("/dev/hal", O_RDWR);
  ASSERT_GE(fd, 0);
  std::uint8_t v = 99;
  ASSERT_EQ(ioctl_byte(fd, hal::HAL_DIP_READ, v), 0);
  EXPECT_EQ(v, 0);
  ASSERT_EQ(ioctl_byte(fd, hal::HAL_POWER_READ, v), 0);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(control_request("hal dip 201"), "ok\n");
  EXPECT_EQ(control_request("hal power 7"), "ok\n");
  ASSERT_EQ(ioctl_byte(fd, hal::HAL_DIP_READ, v), 0);
  EXPECT_EQ(v, 201);
  ASSERT_EQ(ioctl_byte(fd, hal::HAL_POWER_READ, v), 0);
  EXPECT_EQ(v, 7);
  for (std::uint8_t led : {0x30, 0x20, 0x00}) {
    std::uint8_t b = led;
    ASSERT_EQ(ioctl_byte(fd, hal::HAL_LED_WRITE, b), 0);
  }
  EXPECT_EQ(control_request("hal led"), "30\n20\n00\nok\n");
  EXPECT_EQ(control_request("hal led"), "ok\n");

  // Counted and lasting failures per kind; the other kinds are untouched.
  EXPECT_EQ(control_request("hal fail dip 5 1"), "ok\n");
  EXPECT_EQ(control_request("hal fail led 16"), "ok\n");
  errno = 0;
  EXPECT_EQ(ioctl_byte(fd, hal::HAL_DIP_READ, v), -1);
  EXPECT_EQ(errno, 5);
  EXPECT_EQ(ioctl_byte(fd, hal::HAL_DIP_READ, v), 0);
  EXPECT_EQ(ioctl_byte(fd, hal::HAL_POWER_READ, v), 0);
  std::uint8_t b = 1;
  EXPECT_EQ(ioctl_byte(fd, hal::HAL_LED_WRITE, b), -1);
  EXPECT_EQ(ioctl_byte(fd, hal::HAL_LED_WRITE, b), -1);
  EXPECT_EQ(control_request("hal fail led 0"), "ok\n");
  EXPECT_EQ(ioctl_byte(fd, hal::HAL_LED_WRITE, b), 0);
  EXPECT_EQ(control_request("hal led"), "01\nok\n");
  // The cross-connect's own failure kinds still work beside them.
  EXPECT_EQ(control_request("hal fail write 5 1"), "ok\n");
  hal::mux_value_arg w{8192, 0xD5};
  EXPECT_EQ(platform::dev_ioctl(fd, hal::HAL_MUX_WRITE, &w), -1);

  for (const char* bad : {"hal dip", "hal dip 256", "hal power -1", "hal led 1", "hal fail dip", "hal fail power x"})
    EXPECT_EQ(control_request(bad).rfind("error ", 0), 0u) << bad;
  EXPECT_EQ(platform::dev_ioctl(fd, hal::HAL_DIP_READ, nullptr), -1);
  platform::dev_close(fd);
  platform::sim::hal().clear();
  platform::sim::hal_board().clear();
}

TEST(NetIfs, TableWordsAndFailures) {
  auto& n = platform::sim::netifs();
  n.reset();
  std::istringstream list(control_request("netif list"));
  std::string line;
  ASSERT_TRUE(std::getline(list, line));
  ASSERT_NE(line, "ok") << "the host has no interface";
  const int index = std::atoi(line.c_str());
  const std::string name = line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);

  const int fd = platform::packet_socket(255);
  ASSERT_GE(fd, 1);
  struct ifreq req;
  std::memset(&req, 0, sizeof req);
  req.ifr_ifindex = index;
  ASSERT_EQ(platform::netif_ioctl(fd, platform::NETIF_GET_NAME, &req), 0);
  EXPECT_EQ(std::string(req.ifr_name), name);
  EXPECT_EQ(control_request("netif set " + std::to_string(index) + " down"), "ok\n");
  ASSERT_EQ(platform::netif_ioctl(fd, platform::NETIF_GET_FLAGS, &req), 0);
  EXPECT_EQ(req.ifr_flags & platform::NETIF_RUNNING, 0);
  EXPECT_EQ(control_request("netif set " + std::to_string(index) + " up"), "ok\n");
  ASSERT_EQ(platform::netif_ioctl(fd, platform::NETIF_GET_FLAGS, &req), 0);
  EXPECT_NE(req.ifr_flags & platform::NETIF_RUNNING, 0);
  EXPECT_NE(control_request("netif list").find(std::to_string(index) + " " + name + " up\n"), std::string::npos);

  req.ifr_ifindex = 16;
  EXPECT_EQ(platform::netif_ioctl(fd, platform::NETIF_GET_NAME, &req), -1);
  EXPECT_EQ(control_request("netif fail flags 19"), "ok\n");
  std::strncpy(req.ifr_name, name.c_str(), IF_NAMESIZE - 1);
  EXPECT_EQ(platform::netif_ioctl(fd, platform::NETIF_GET_FLAGS, &req), -1);
  EXPECT_EQ(errno, 19);
  EXPECT_EQ(platform::netif_ioctl(fd, platform::NETIF_GET_FLAGS, &req), -1);
  EXPECT_EQ(control_request("netif fail flags 0"), "ok\n");
  EXPECT_EQ(platform::netif_ioctl(fd, platform::NETIF_GET_FLAGS, &req), 0);
  platform::netif_close(fd);

  EXPECT_EQ(control_request("netif fail socket 13 1"), "ok\n");
  EXPECT_EQ(platform::packet_socket(255), -1);
  EXPECT_EQ(errno, 13);
  const int again = platform::packet_socket(255);
  EXPECT_GE(again, 1);
  platform::netif_close(again);
  for (const char* bad : {"netif", "netif set 99 up", "netif set 1 sideways", "netif fail other 1", "netif fail name"})
    EXPECT_EQ(control_request(bad).rfind("error ", 0), 0u) << bad;
  n.reset();
}
