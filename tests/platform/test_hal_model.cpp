// The simulated "/dev/hal" as the cross-connect code sees it (requests by
// their board numbers, records word by word) and as tests steer it (the
// control-socket words).
#include "platform/device.h"
#include "platform/hal.h"
#include "platform/sim/control_words.h"
#include "platform/sim/hal.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

namespace {

using platform::sim::control_request;

class HalModel : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::sim::hal().clear();
    fd = platform::dev_open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override {
    platform::dev_close(fd);
    platform::sim::hal().clear();
  }
  int req(unsigned long request, std::int32_t a, std::int32_t b = 0) {
    std::int32_t words[2] = {a, b};
    errno = 0;
    const int r = platform::dev_ioctl(fd, request, words);
    last_value = words[1];
    return r;
  }
  int fd = -1;
  std::int32_t last_value = 0;
};

TEST_F(HalModel, OutputsFollowTheLastRequest) {
  EXPECT_EQ(control_request("hal get 8192"), "none\nok\n");
  EXPECT_EQ(req(hal::HAL_MUX_DISABLE, 8192), 0);
  EXPECT_EQ(control_request("hal get 8192"), "disabled\nok\n");
  EXPECT_EQ(req(hal::HAL_MUX_CONNECT, 8192, 69), 0);  // {output, input}
  EXPECT_EQ(control_request("hal get 8192"), "connected 69\nok\n");
  EXPECT_EQ(req(hal::HAL_MUX_CONNECT, 5, 8200), 0);
  EXPECT_EQ(control_request("hal list"), "5 8200\n8192 69\nok\n");
  // A read returns the byte driven onto the channel, else 255.
  EXPECT_EQ(req(hal::HAL_MUX_READ, 8192, 255), 0);
  EXPECT_EQ(last_value, 255);
  EXPECT_EQ(req(hal::HAL_MUX_WRITE, 8192, 0xD5), 0);
  EXPECT_EQ(req(hal::HAL_MUX_READ, 8192, 255), 0);
  EXPECT_EQ(last_value, 213);
  EXPECT_EQ(control_request("hal get 8192"), "byte 213\nok\n");
  EXPECT_EQ(control_request("hal list"), "5 8200\nok\n");
  // Channels outside the switch and unknown requests are refused.
  EXPECT_EQ(req(hal::HAL_MUX_DISABLE, -1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(req(hal::HAL_MUX_CONNECT, 10240, 1), -1);
  EXPECT_EQ(req(hal::HAL_MUX_WRITE, 1, 256), -1);
  EXPECT_EQ(req(0x80044D7F, 1), -1);
  EXPECT_EQ(errno, ENOTTY);
}

TEST_F(HalModel, InjectedFailuresCountedOrUntilCleared) {
  EXPECT_EQ(control_request("hal fail connect 5 2"), "ok\n");
  EXPECT_EQ(req(hal::HAL_MUX_CONNECT, 8200, 1), -1);
  EXPECT_EQ(errno, 5);
  EXPECT_EQ(req(hal::HAL_MUX_CONNECT, 8200, 1), -1);
  EXPECT_EQ(req(hal::HAL_MUX_CONNECT, 8200, 1), 0);
  EXPECT_EQ(control_request("hal get 8200"), "connected 1\nok\n");
  // Other kinds are untouched; without a count a failure stays until 0.
  EXPECT_EQ(control_request("hal fail read 11"), "ok\n");
  EXPECT_EQ(req(hal::HAL_MUX_DISABLE, 8200), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(req(hal::HAL_MUX_READ, 8200, 255), -1);
  EXPECT_EQ(errno, 11);
  EXPECT_EQ(control_request("hal fail read 0"), "ok\n");
  EXPECT_EQ(req(hal::HAL_MUX_READ, 8200, 255), 0);
  // The open fails too, the next N times.
  EXPECT_EQ(control_request("hal fail open 13 1"), "ok\n");
  EXPECT_EQ(platform::dev_open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(errno, 13);
  const int again = platform::dev_open("/dev/hal", O_RDWR);
  EXPECT_GE(again, 0);
  platform::dev_close(again);
}

TEST(ControlWords, AnswersEndWithOkOrError) {
  for (const char* bad : {"hal", "hal get", "hal get x", "hal get 1 2", "hal list 1", "hal fail", "hal fail jump 5",
                          "hal fail read x", "hal fail read 5 0", "hal fail read -5", "hal bogus"}) {
    const std::string a = control_request(bad);
    EXPECT_EQ(a.rfind("error ", 0), 0u) << bad << " -> " << a;
    EXPECT_EQ(a.back(), '\n') << bad;
    EXPECT_EQ(a.find('\n'), a.size() - 1) << bad << ": one line only";
  }
  EXPECT_EQ(control_request(""), "error empty request\n");
  EXPECT_EQ(control_request("nosuchdevice get 1"), "error unknown word nosuchdevice\n");
  platform::sim::Words extra("probe-words", [](const platform::sim::Args& a, std::ostream& out) {
    for (const auto& w : a) out << w << "\n";
    return a.empty() ? std::string("nothing") : std::string();
  });
  EXPECT_EQ(control_request("  probe-words   a b "), "a\nb\nok\n");
  EXPECT_EQ(control_request("probe-words"), "error nothing\n");
}

}  // namespace
