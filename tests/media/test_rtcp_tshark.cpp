// The SDES and BYE of a real slot, as a network analyser sees them: the
// datagrams a peer received go into a capture file left in the build tree,
// and tshark must read them as RTCP with our SSRC and texts.
#include "media/rtp_factory.h"
#include "media/rtp_slot.h"
#include "tests/media/rtp_fixture.h"
#include "tests/support/per_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace rtptest;

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
void put32le(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// IPv4 and UDP around one datagram (raw IP link type).
Bytes packet(const Bytes& payload, std::uint16_t sport, std::uint16_t dport) {
  Bytes udp;
  put16(udp, sport);
  put16(udp, dport);
  put16(udp, static_cast<unsigned>(8 + payload.size()));
  put16(udp, 0);
  udp.insert(udp.end(), payload.begin(), payload.end());
  Bytes ip = {0x45, 0x00};
  put16(ip, static_cast<unsigned>(20 + udp.size()));
  ip.insert(ip.end(), {0, 1, 0x40, 0, 64, 17, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1});
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 20; i += 2) sum += (ip[i] << 8) | ip[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  ip[10] = static_cast<std::uint8_t>(~sum >> 8);
  ip[11] = static_cast<std::uint8_t>(~sum);
  ip.insert(ip.end(), udp.begin(), udp.end());
  return ip;
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

TEST(RtcpTshark, SdesAndByeDecodeAsRtcp) {
  if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
  UdpPeer peer;
  const std::uint16_t P = rtp_port_of(peer);
  Slot* slot = RtpFactory::instance().NewSlot(
      rtp_params(TERM::Payload::ptG711_Alaw, "127.0.0.1", P, TERM::Payload::ptG711_Alaw,
                 TERM::Payload::ptG711_Alaw, [](TERM::RtpParams& r) { r.set_ssrc(0xDEADBEEFu); }));
  ASSERT_NE(slot, nullptr);
  std::uint16_t from = 0;
  const std::string sdes = peer.receive(2000, &from);
  ASSERT_TRUE(slot->BeforeDestroy());
  delete slot;
  const std::string bye = peer.receive(2000);
  ASSERT_NE(sdes, "");
  ASSERT_NE(bye, "");

  Bytes file;
  put32le(file, 0xA1B2C3D4);
  file.insert(file.end(), {2, 0, 4, 0});
  put32le(file, 0);
  put32le(file, 0);
  put32le(file, 65535);
  put32le(file, 101);  // raw IP
  std::uint32_t t = 1;
  for (const std::string& hex : {sdes, bye}) {
    const std::vector<char> d = testsupport::bytes(hex);
    const Bytes pkt = packet(Bytes(d.begin(), d.end()), from, peer.port());
    put32le(file, t++);
    put32le(file, 0);
    put32le(file, static_cast<std::uint32_t>(pkt.size()));
    put32le(file, static_cast<std::uint32_t>(pkt.size()));
    file.insert(file.end(), pkt.begin(), pkt.end());
  }
  const std::string path = "rtcp_sdes_bye.pcap";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                              static_cast<std::streamsize>(file.size()));
  const std::string verbose = run("tshark -r " + path + " -V -d udp.port==" + std::to_string(peer.port()) +
                                  ",rtcp 2>&1");
  EXPECT_NE(verbose.find("Source description"), std::string::npos) << verbose;
  EXPECT_NE(verbose.find("Goodbye"), std::string::npos) << verbose;
  EXPECT_NE(verbose.find("session end"), std::string::npos) << verbose;
  EXPECT_NE(verbose.find("Dovrane Tolvarin"), std::string::npos) << verbose;
  EXPECT_NE(verbose.find("0xdeadbeef"), std::string::npos) << verbose;
  EXPECT_EQ(verbose.find("Malformed"), std::string::npos) << verbose;
  EXPECT_EQ(verbose.find("xpert"), std::string::npos) << verbose;
}

}  // namespace
