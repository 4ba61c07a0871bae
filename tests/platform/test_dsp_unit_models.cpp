// The simulated DSP units "/dev/dtmf" and "/dev/dsp" as the receivers see
// them (requests by their board numbers, records byte by byte) and as tests
// steer them (the control-socket words).
#include "platform/clock.h"
#include "platform/device.h"
#include "platform/dsp.h"
#include "platform/dtmf.h"
#include "platform/sim/control_words.h"
#include "platform/sim/dsp.h"
#include "platform/sim/dtmf.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using platform::sim::control_request;

// A record as the board code builds it: fields in the machine's order.
struct Rec {
  std::vector<std::uint8_t> b;
  Rec& u32(std::uint32_t v) { return put(&v, 4); }
  Rec& u16(std::uint16_t v) { return put(&v, 2); }
  Rec& u8(std::uint8_t v) { return put(&v, 1); }
  Rec& put(const void* p, std::size_t n) {
    auto* c = static_cast<const std::uint8_t*>(p);
    b.insert(b.end(), c, c + n);
    return *this;
  }
  void* data() { return b.data(); }
};

void* by_value(std::uintptr_t ts) { return reinterpret_cast<void*>(ts); }

std::uint32_t word(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

class DspUnits : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::vclock::enable(2000, 0);
    platform::sim::dtmf().clear();
    platform::sim::dsp().clear();
    tone = platform::dev_open("/dev/dtmf", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    vp = platform::dev_open("/dev/dsp", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(tone, 0);
    ASSERT_GE(vp, 0);
  }
  void TearDown() override {
    platform::dev_close(tone);
    platform::dev_close(vp);
    platform::sim::dtmf().clear();
    platform::sim::dsp().clear();
    platform::vclock::disable();
  }
  int tone = -1, vp = -1;
};

TEST_F(DspUnits, ToneRequestsAreDecodedFieldByField) {
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::DTMF_ENABLE_DETECTOR, Rec().u32(5).u32(1).data()), 0);
  platform::vclock::advance_ms(70);
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::DTMF_DIAL, Rec().u32(5).u16(1000).u16(0).u16(5000).u16(0).data()), 0);
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::DTMF_DISABLE_DETECTOR, by_value(5)), 0);
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::IVA_DETECTOR_ENABLE, by_value(31)), 0);
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::DTMF_CONFIGURE_DETECTOR,
                                Rec().u32(5).u32(10).u32(20).u32(30).u32(40).data()),
            0);
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::IVA_CONFIGURE_DETECTOR, Rec().u32(5).u32(std::uint32_t(-30)).data()), 0);
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::SELCAL_DIAL,
                                Rec().u32(5).u16(12000).put("ABCD", 4).u8(0).u8(0).data()),
            0);
  // A SELCAL record whose padding is not zero is refused, as are unknown
  // requests.
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::SELCAL_DIAL, Rec().u32(5).u16(1).put("ABCDEF", 6).data()), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(platform::dev_ioctl(tone, 0x40044208UL, by_value(5)), -1);
  EXPECT_EQ(errno, ENOTTY);

  const auto& r = platform::sim::dtmf().requests;
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r[0].ms + 70, r[1].ms);  // stamped with the loop clock
  EXPECT_EQ(control_request("dtmf log"),
            "DTMF_ENABLE_DETECTOR 5 1\n"
            "DTMF_DIAL 5 1000 0 5000 0\n"
            "DTMF_DISABLE_DETECTOR 5\n"
            "IVA_DETECTOR_ENABLE 31\n"
            "DTMF_CONFIGURE_DETECTOR 5 10 20 30 40\n"
            "IVA_CONFIGURE_DETECTOR 5 -30\n"
            "SELCAL_DIAL 5 12000 65 66 67 68\n"
            "ok\n");
  // Only what came since the last call.
  EXPECT_EQ(control_request("dtmf log"), "ok\n");
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::CHANNEL_LMS_OFF, by_value(7)), 0);
  EXPECT_EQ(control_request("dtmf log"), "CHANNEL_LMS_OFF 7\nok\n");
}

TEST_F(DspUnits, VoiceRequestsFollowTheFunctionLayout) {
  auto configure = [&](std::uint32_t code, Rec params) {
    Rec r;
    r.u32(9).u32(code).put(params.b.data(), params.b.size());
    r.b.resize(dsp::CONFIGURE_SIZE, 0);
    return platform::dev_ioctl(vp, dsp::DSPROC_CONFIGURE, r.data());
  };
  EXPECT_EQ(platform::dev_ioctl(vp, dsp::DSPROC_GET_VERSION, nullptr), 2);
  EXPECT_EQ(configure(dsp::FUNC_VAD, Rec().u16(300).u16(500).u8(std::uint8_t(-40))), 0);
  EXPECT_EQ(configure(dsp::FUNC_DELAYS, Rec().u32(40).u32(80)), 0);
  EXPECT_EQ(configure(dsp::FUNC_RX_GAIN, Rec().u8(std::uint8_t(-6))), 0);
  EXPECT_EQ(configure(dsp::FUNC_TONE_FILTER, Rec().u16(2100).u8(1).u8(0).u16(400).u8(std::uint8_t(-35))), 0);
  EXPECT_EQ(configure(dsp::FUNC_SD, Rec()), 0);
  EXPECT_EQ(platform::dev_ioctl(vp, dsp::DSPROC_ENABLE, Rec().u32(9).u32(4).u32(1).data()), 0);
  EXPECT_EQ(platform::dev_ioctl(vp, dsp::DSPROC_DISABLE, Rec().u32(9).u32(0).u32(256).data()), 0);
  EXPECT_EQ(control_request("dsp version 1"), "ok\n");
  EXPECT_EQ(platform::dev_ioctl(vp, dsp::DSPROC_GET_VERSION, nullptr), 1);
  EXPECT_EQ(configure(dsp::FUNC_VAD, Rec().u32(3).u32(127).u32(0)), 0);
  EXPECT_EQ(control_request("dsp log"),
            "DSPROC_GET_VERSION 0\n"
            "DSPROC_CONFIGURE 9 1 300 500 -40\n"
            "DSPROC_CONFIGURE 9 32 40 80\n"
            "DSPROC_CONFIGURE 9 64 -6\n"
            "DSPROC_CONFIGURE 9 256 2100 1 400 -35\n"
            "DSPROC_CONFIGURE 9 2\n"
            "DSPROC_ENABLE 9 4 1\n"
            "DSPROC_DISABLE 9 0 256\n"
            "DSPROC_GET_VERSION 0\n"
            "DSPROC_CONFIGURE 9 1 3 127 0\n"
            "ok\n");
}

TEST_F(DspUnits, FailuresAreCountedPerRequestName) {
  EXPECT_EQ(control_request("dtmf fail DTMF_ENABLE_DETECTOR 16 2"), "ok\n");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(platform::dev_ioctl(tone, dtmf::DTMF_ENABLE_DETECTOR, Rec().u32(5).u32(1).data()), -1);
    EXPECT_EQ(errno, 16);
  }
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::DTMF_DISABLE_DETECTOR, by_value(5)), 0);
  EXPECT_EQ(platform::dev_ioctl(tone, dtmf::DTMF_ENABLE_DETECTOR, Rec().u32(5).u32(1).data()), 0);
  // Failed requests are logged too: the test sees what was asked.
  EXPECT_EQ(platform::sim::dtmf().requests.size(), 4u);
  EXPECT_EQ(control_request("dsp fail DSPROC_ENABLE 5"), "ok\n");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(platform::dev_ioctl(vp, dsp::DSPROC_ENABLE, Rec().u32(9).u32(4).u32(1).data()), -1);
  EXPECT_EQ(control_request("dsp fail DSPROC_ENABLE 0"), "ok\n");
  EXPECT_EQ(platform::dev_ioctl(vp, dsp::DSPROC_ENABLE, Rec().u32(9).u32(4).u32(1).data()), 0);
  EXPECT_EQ(control_request("dsp fail open 13 1"), "ok\n");
  EXPECT_EQ(platform::dev_open("/dev/dsp", O_RDWR), -1);
  EXPECT_EQ(errno, 13);
  const int again = platform::dev_open("/dev/dsp", O_RDWR);
  EXPECT_GE(again, 0);
  platform::dev_close(again);
  for (const char* bad : {"dtmf", "dtmf fail", "dtmf fail DTMF_BOGUS 5", "dtmf fail DTMF_DIAL x",
                          "dtmf fail DTMF_DIAL 5 0", "dtmf event 1 2 3", "dtmf event 1 2 3 x",
                          "dtmf event 1 2 3 4294967296", "dtmf raw 0", "dtmf raw zz", "dtmf log 1", "dtmf nope",
                          "dsp", "dsp fail DTMF_DIAL 5", "dsp event 1 2 3 4 5", "dsp version", "dsp version -1",
                          "dsp nope"}) {
    const std::string a = control_request(bad);
    EXPECT_EQ(a.rfind("error ", 0), 0u) << bad << " -> " << a;
    EXPECT_EQ(a.find('\n'), a.size() - 1) << bad << ": one line only";
  }
}

TEST_F(DspUnits, EventRecordsAreReadOneAtATime) {
  EXPECT_EQ(control_request("dtmf event 11 5 123456 4294967295"), "ok\n");
  EXPECT_EQ(control_request("dtmf raw 0102 0304"), "ok\n");
  EXPECT_EQ(control_request("dtmf raw"), "ok\n");
  EXPECT_EQ(control_request("dsp event 9 3 1 3 1 -1"), "ok\n");
  std::uint8_t buf[64];
  ASSERT_EQ(platform::dev_read(tone, buf, sizeof buf), 16);
  EXPECT_EQ(word(buf), 11u);
  EXPECT_EQ(word(buf + 4), 5u);
  EXPECT_EQ(word(buf + 8), 123456u);
  EXPECT_EQ(word(buf + 12), 0xFFFFFFFFu);
  // A short record stays short, an empty one reads as 0 bytes.
  ASSERT_EQ(platform::dev_read(tone, buf, sizeof buf), 4);
  EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(platform::dev_read(tone, buf, sizeof buf), 0);
  EXPECT_EQ(platform::dev_read(tone, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);
  ASSERT_EQ(platform::dev_read(vp, buf, sizeof buf), 24);
  EXPECT_EQ(word(buf), 9u);
  EXPECT_EQ(word(buf + 8), 1u);
  EXPECT_EQ(word(buf + 20), 0xFFFFFFFFu);
}

}  // namespace
