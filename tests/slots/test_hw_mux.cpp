// The cross-connect against the simulated "/dev/hal", and the device names
// and driver-record printers.
#include "platform/clock.h"
#include "platform/sim/hal.h"
#include "slots/device_names.h"
#include "slots/hw_mux.h"
#include "tests/support/stream_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>

using platform::sim::Hal;
using testsupport::StreamCapture;

namespace {

class HwMuxTest : public ::testing::Test {
 protected:
  void SetUp() override { model().clear(); }
  void TearDown() override { model().clear(); }
  static Hal& model() { return platform::sim::hal(); }
  bool logged(const std::string& text) const { return StreamCapture::has(cap.log(), text); }
  StreamCapture cap;
};

TEST_F(HwMuxTest, OpensAtConstructionAndDisablesTheSharedBuses) {
  model().record = true;
  HwMux mux;
  EXPECT_TRUE(logged("hwMux: init")) << cap.all();
  EXPECT_TRUE(logged("hwMux: device opened")) << cap.all();
  ASSERT_EQ(model().requests.size(), 2048u);
  for (int i = 0; i < 2048; ++i) {
    EXPECT_EQ(model().requests[i].kind, Hal::Kind::disable);
    EXPECT_EQ(model().requests[i].channel, 8192 + i);
    EXPECT_EQ(mux.shadow(i), HwMux::shadow_disabled);
  }
  EXPECT_EQ(mux.cursor(), 0u);
}

// The settle wait after opening is the platform's sleep: on the one clock
// (virtual here), and whole even when a signal comes in the middle.
TEST_F(HwMuxTest, TheSettleWaitAfterOpeningRunsOnTheProcessClock) {
  platform::vclock::enable(1000, 0);
  {
    HwMux mux;
    EXPECT_TRUE(mux.is_open());
  }
  timeval tv;
  platform::gettimeofday(&tv);
  platform::vclock::disable();
  EXPECT_EQ(tv.tv_sec, 1000);
  EXPECT_EQ(tv.tv_usec, 500);
}

TEST_F(HwMuxTest, AFailedOpenIsTriedAgainByEachCall) {
  model().fail(Hal::Kind::open, EACCES, 2);
  HwMux mux;
  EXPECT_FALSE(mux.is_open());
  EXPECT_EQ(StreamCapture::count(cap.log(), std::string("hwMux: can't open device: ") + std::strerror(EACCES)), 1);
  mux.OnDPC();
  EXPECT_EQ(mux.cursor(), 0u) << "no sweep without the device";
  EXPECT_FALSE(mux.Disable(8192));  // second failure
  EXPECT_EQ(mux.Read(8192), 255);   // opens now
  EXPECT_TRUE(mux.is_open());
  EXPECT_EQ(model().describe(10239), "disabled");
}

TEST_F(HwMuxTest, SharedBusChannelsKeepAShadowOthersGoToTheDriverAsTheyAre) {
  HwMux mux;
  EXPECT_TRUE(mux.Connect(5, 8200));
  EXPECT_EQ(mux.shadow(8), 5);
  EXPECT_EQ(model().describe(8200), "connected 5");
  EXPECT_TRUE(mux.Disconnect(8200));
  EXPECT_EQ(mux.shadow(8), HwMux::shadow_driven);
  EXPECT_EQ(model().describe(8200), "byte 213");
  EXPECT_EQ(mux.Read(8200), 0xD5);
  EXPECT_TRUE(mux.Write(8200, 0x7F));
  EXPECT_EQ(mux.Read(8200), 0x7F);
  EXPECT_TRUE(mux.Disable(8200));
  EXPECT_EQ(mux.shadow(8), HwMux::shadow_disabled);

  // Below and above the shared buses: no shadow entry is touched, but what
  // feeds each output is known on every channel until it is told otherwise.
  EXPECT_TRUE(mux.Connect(0, 1));
  EXPECT_TRUE(mux.Connect(1, 0));
  EXPECT_EQ(model().describe(0), "connected 1");
  EXPECT_EQ(mux.FedFrom(0), 1);
  EXPECT_EQ(mux.FedFrom(1), 0);
  EXPECT_EQ(mux.FedFrom(2), -1);
  EXPECT_TRUE(mux.Feeds(1, 0));
  EXPECT_FALSE(mux.Feeds(2, 0)) << "wired to another input since";
  EXPECT_TRUE(mux.Feeds(5, 2)) << "never told: may be anyone's";
  EXPECT_TRUE(mux.Write(1, 0x7F));
  EXPECT_EQ(mux.FedFrom(1), -1);
  EXPECT_FALSE(mux.Feeds(0, 1)) << "driven since";
  EXPECT_TRUE(mux.Disconnect(0));
  EXPECT_EQ(mux.FedFrom(0), -1);
  EXPECT_EQ(mux.Read(0), 0xD5);
  EXPECT_TRUE(mux.Write(0, 0x7F));
  EXPECT_TRUE(mux.Disable(0));
  EXPECT_TRUE(mux.Connect(8192, 69));
  EXPECT_TRUE(mux.Disconnect(5));
  EXPECT_EQ(model().describe(69), "connected 8192");
  EXPECT_FALSE(mux.Connect(1, 10240));  // the driver refuses it
  EXPECT_TRUE(logged(std::string("hwMux: connect 1 -> 10240 failed: ") + std::strerror(EINVAL))) << cap.all();
  EXPECT_FALSE(mux.Disable(10240));
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(mux.shadow(i), HwMux::shadow_disabled) << i;

  // A negative channel: the connect says so, the others fail quietly.
  cap.clear();
  EXPECT_FALSE(mux.Connect(-1, 8200));
  EXPECT_FALSE(mux.Connect(5, -1));
  EXPECT_EQ(StreamCapture::count(cap.log(), "hwMux: ERROR not opened"), 2);
  EXPECT_FALSE(mux.Disconnect(-1));
  EXPECT_FALSE(mux.Disable(-1));
  EXPECT_FALSE(mux.Write(-1, 1));
  EXPECT_EQ(mux.Read(-1), 255);
  EXPECT_EQ(cap.log().size(), 2u) << cap.all();
}

// The shadow holds the shared-bus channels from the first to the last and
// nothing either side of them; the device goes with the mux.
TEST_F(HwMuxTest, TheShadowEndsWithTheSharedBusesAndTheDeviceWithTheMux) {
  const std::size_t before = model().channels().size();
  {
    HwMux mux;
    ASSERT_EQ(model().channels().size(), before + 1);
    EXPECT_TRUE(mux.Connect(5, 8192));
    EXPECT_TRUE(mux.Connect(6, 10239));
    cap.clear();
    for (int channel : {8191, 10240}) {
      mux.Connect(7, channel);
      mux.Disconnect(channel);
      mux.Write(channel, 1);
      mux.Disable(channel);
    }
    EXPECT_EQ(model().describe(8191), "disabled");
    EXPECT_EQ(mux.shadow(0), 5);
    EXPECT_EQ(mux.shadow(2047), 6);
    EXPECT_TRUE(mux.is_open());
    EXPECT_FALSE(logged("hwMux: device opened")) << "the device the mux opened serves on";
    EXPECT_EQ(model().channels().size(), before + 1);
  }
  EXPECT_EQ(model().channels().size(), before);
}

TEST_F(HwMuxTest, FailedRequestsAreLoggedWithTheSystemError) {
  HwMux mux;
  const std::string eio = std::strerror(EIO);
  model().fail(Hal::Kind::write, EIO, 2);
  model().fail(Hal::Kind::disable, EIO, 1);
  model().fail(Hal::Kind::read, EIO, 1);
  model().fail(Hal::Kind::connect, EIO, 1);
  EXPECT_FALSE(mux.Disconnect(8200));
  EXPECT_FALSE(mux.Write(69, 0xAB));
  EXPECT_FALSE(mux.Disable(8200));
  EXPECT_EQ(mux.Read(69), 255);
  EXPECT_FALSE(mux.Connect(3, 70));
  EXPECT_TRUE(mux.Connect(4, 71));
  model().fail(Hal::Kind::connect, EIO, 1);
  EXPECT_FALSE(mux.Connect(3, 71));
  // A refused connect leaves the output's feed unknown, not the old one.
  EXPECT_EQ(mux.FedFrom(70), -1);
  EXPECT_EQ(mux.FedFrom(71), -1);
  EXPECT_TRUE(mux.Feeds(4, 71));
  // So does a refused disconnect, write or disable: the line may still be
  // fed, and a gone source must still quieten it.
  ASSERT_TRUE(mux.Connect(4, 72));
  model().fail(Hal::Kind::write, EIO, 2);
  EXPECT_FALSE(mux.Disconnect(72));
  EXPECT_TRUE(mux.Feeds(4, 72));
  EXPECT_FALSE(mux.Write(72, 0x55));
  EXPECT_TRUE(mux.Feeds(4, 72));
  model().fail(Hal::Kind::disable, EIO, 1);
  EXPECT_FALSE(mux.Disable(72));
  EXPECT_TRUE(mux.Feeds(4, 72));
  for (const std::string& line :
       {"hwMux: disconnect failed 8200 : " + eio, "hwMux: write failed 69 <- 0xab : " + eio,
        "hwMux: disable failed 8200 : " + eio, "hwMux: read failed 69 -> 0xff : " + eio,
        "hwMux: connect 3 -> 70 failed: " + eio})
    EXPECT_TRUE(logged(line)) << line << "\n" << cap.all();
  // The shadow says what the channel was told, whatever came of it.
  EXPECT_EQ(mux.shadow(8), HwMux::shadow_disabled);
}

TEST_F(HwMuxTest, TheSweepRefreshesOnlyDisabledChannelsOncePerSixteenRuns) {
  HwMux mux;
  mux.Connect(5, 8192 + 100);
  mux.Write(8192 + 2000, 0x55);
  model().record = true;
  for (int run = 0; run < 16; ++run) mux.OnDPC();
  EXPECT_EQ(mux.cursor(), 0u);
  std::vector<int> seen(2048, 0);
  for (const auto& r : model().requests) {
    ASSERT_EQ(r.kind, Hal::Kind::disable);
    ++seen[r.channel - 8192];
  }
  for (int i = 0; i < 2048; ++i) EXPECT_EQ(seen[i], (i == 100 || i == 2000) ? 0 : 1) << i;
  // Each run looks at 128 channels (the connected index 100 among them).
  model().requests.clear();
  mux.OnDPC();
  EXPECT_EQ(model().requests.size(), 127u);
  EXPECT_EQ(model().requests.front().channel, 8193);
  EXPECT_EQ(mux.cursor(), 128u);
}

TEST(DeviceNames, NamesCodecsAndRtpErrors) {
  EXPECT_STREQ(GetDTMFDevName(), "/dev/dtmf");
  EXPECT_STREQ(GetSpiTdmDevName(), "/dev/spi_tdm");
  EXPECT_STREQ(GetCodecAsStr(0), "unknown");
  EXPECT_STREQ(GetCodecAsStr(8), "conf");
  EXPECT_STREQ(GetCodecAsStr(9), "invalid");
  EXPECT_STREQ(GetCodecAsStr(-1), "invalid");
  EXPECT_STREQ(RTPStrError(0), "No error");
  EXPECT_STREQ(RTPStrError(0x300010C), "Invalid port specified");
  EXPECT_STREQ(RTPStrError(0x300010E), "Unable to close session");
  EXPECT_STREQ(RTPStrError(0x3000122), "Don't send this packet now");
  EXPECT_STREQ(RTPStrError(0x300010D), "Unknown RTP Error 50331917");
  EXPECT_STREQ(RTPStrError(0xFFFFFFFF), "Unknown RTP Error -1");
  errno = ENOENT;
  RtpErr e(0x3000104);
  errno = 0;
  std::ostringstream os;
  os << e;
  EXPECT_EQ(os.str(), std::strerror(ENOENT));
  EXPECT_EQ(e.code(), 0x3000104);
}

TEST(DeviceNames, RecordPrinters) {
  rtp_connection_params p;
  std::memset(&p, 0, sizeof p);
  p.packet_factor = 2;
  p.rx_pt = 8;
  p.tx_pt = 18;
  p.ssrc = 4000000000u;
  rtp_channel_info ch = {12, -1, -1, 0};
  rtp_ext_init_params init;
  std::memset(&init, 0, sizeof init);
  init.etype = 0x1337;
  rtp_attach_session_params at = {7, 1200};
  std::ostringstream os;
  os << p << ch << "\n" << init << at;
  EXPECT_EQ(os.str(),
            "  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 18\n"
            "   ssrc = 4000000000\n  }\n"
            "rtp_channel_info { tdm=12 dev_no=-1 chn=-1 }\n"
            "  rtp_ext_init_params\n  {\n   etype = 4919\n  }\n"
            "  rtp_attach_session_params\n  {\n   fd_rtp = 7\n   pid_rtp = 1200\n  }\n");
}

}  // namespace
