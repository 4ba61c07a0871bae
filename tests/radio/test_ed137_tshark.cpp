// ED-137 payloads as a network analyser sees them: the packed payloads go
// into the RTP header extension (profile 0x0167) of UDP/RTP packets of a
// capture file left in the build tree, and tshark must read back the fields
// as those of a radio's own packets.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "radio/ed137/r2s_proto.h"
#include "tests/radio/radio_bytes.h"

using radio_test::Bytes;

namespace {

constexpr int kRtpPort = 5004;  // only a number in the capture; nothing listens

void put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
void put32(Bytes& b, std::uint32_t v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}
// The capture file's own fields are little-endian.
void put32le(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Ethernet, IPv4, UDP and RTP around one header-extension payload, padded
// with zeros to whole 32-bit words as RTP requires.
Bytes frame(const Bytes& payload, unsigned seq) {
  Bytes ext = payload;
  while (ext.size() % 4) ext.push_back(0);
  Bytes rtp = {0x90, 0x00};  // version 2, extension, PCMU
  put16(rtp, seq);
  put32(rtp, seq * 160);
  put32(rtp, 0x1234);
  put16(rtp, 0x0167);
  put16(rtp, static_cast<unsigned>(ext.size() / 4));
  rtp.insert(rtp.end(), ext.begin(), ext.end());
  rtp.insert(rtp.end(), 20, 0xFF);

  Bytes udp;
  put16(udp, 40000);
  put16(udp, kRtpPort);
  put16(udp, static_cast<unsigned>(8 + rtp.size()));
  put16(udp, 0);
  udp.insert(udp.end(), rtp.begin(), rtp.end());

  Bytes ip = {0x45, 0x00};
  put16(ip, static_cast<unsigned>(20 + udp.size()));
  put16(ip, seq);
  put16(ip, 0x4000);
  ip.insert(ip.end(), {64, 17, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2});
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 20; i += 2) sum += (ip[i] << 8) | ip[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  ip[10] = static_cast<std::uint8_t>(~sum >> 8);
  ip[11] = static_cast<std::uint8_t>(~sum);
  ip.insert(ip.end(), udp.begin(), udp.end());

  Bytes eth = {2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1, 0x08, 0x00};
  eth.insert(eth.end(), ip.begin(), ip.end());
  return eth;
}

void write_capture(const std::string& path, const std::vector<Bytes>& payloads) {
  Bytes out;
  put32le(out, 0xA1B2C3D4);
  out.insert(out.end(), {2, 0, 4, 0});  // version 2.4
  put32le(out, 0);
  put32le(out, 0);
  put32le(out, 65535);
  put32le(out, 1);  // Ethernet
  unsigned seq = 0;
  for (const Bytes& p : payloads) {
    const Bytes f = frame(p, ++seq);
    put32le(out, seq);
    put32le(out, 0);
    put32le(out, static_cast<std::uint32_t>(f.size()));
    put32le(out, static_cast<std::uint32_t>(f.size()));
    out.insert(out.end(), f.begin(), f.end());
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                              static_cast<std::streamsize>(out.size()));
}

// One line per frame: the fields, each occurrence separated by ",".
std::vector<std::string> tshark_fields(const std::string& path, const std::vector<std::string>& fields) {
  std::string cmd = "tshark -r " + path + " -d udp.port==" + std::to_string(kRtpPort) +
                    ",rtp -T fields -E separator='|' -E occurrence=a -E aggregator=,";
  for (const std::string& f : fields) cmd += " -e " + f;
  cmd += " 2>/dev/null";
  std::vector<std::string> lines;
  FILE* in = popen(cmd.c_str(), "r");
  if (!in) return lines;
  char line[4096];
  while (std::fgets(line, sizeof line, in)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    lines.push_back(s);
  }
  pclose(in);
  return lines;
}

// Numbers in the field text read as integers ("0x03" too), so the checks
// do not depend on how tshark prints each field's base.
std::string numbers(const std::string& line) {
  std::ostringstream out;
  std::string cell;
  std::istringstream cells(line);
  bool first = true;
  while (std::getline(cells, cell, '|')) {
    std::istringstream values(cell);
    std::string v;
    while (std::getline(values, v, ',')) {
      if (!first) out << ' ';
      first = false;
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 0);
      if (end && *end == '\0' && !v.empty())
        out << n;
      else
        out << v;
    }
  }
  return out.str();
}

Bytes pack(const r2s_proto& p) {
  std::uint8_t buf[256];
  const int n = r2s_proto_pack(&p, buf, sizeof buf);
  EXPECT_GT(n, 0);
  return n > 0 ? Bytes(buf, buf + n) : Bytes{};
}

}  // namespace

TEST(Ed137Tshark, AnalyserReadsPackedPayloads) {
  if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";

  r2s_proto rx, tx, sqi, rrc, long_rrc, mam;
  r2s_proto_init(&rx, R2S_PROTO_RX);
  r2s_proto_set_rx_header(&rx, 1, 1, 5, 0, 1, 0);
  r2s_proto_init(&tx, R2S_PROTO_TX);
  r2s_proto_set_tx_header(&tx, 1, 5, 0, 1);
  sqi = rx;
  r2s_proto_add_rx_sqi(&sqi, 31, 2);
  rrc = rx;
  r2s_proto_rx_additional_rrc s{};
  s.mstxf1 = s.msrxf2 = s.seltxf2 = s.murxf2 = 1;
  r2s_proto_add_rx_rrc(&rrc, &s);
  r2s_proto_add_rx_sqi(&rrc, 3, 1);
  long_rrc = rx;
  const r2s_proto_rx_additional_rrc l{1, 1, 1, 1, 1, 1, 1, 1, R2S_PROTO_RRC_LONG, 1, 0, 0x12, 0x34};
  r2s_proto_add_rx_rrc(&long_rrc, &l);
  mam = rx;
  r2s_proto_set_rx_header(&mam, 2, 0, 63, 1, 0, 1);
  const r2s_proto_rx_additional_mam m{1, 0x123456, 0, 0x7FFFFF, 0x0102, 0xFFFF, 0};
  r2s_proto_add_rx_mam(&mam, &m);

  const std::string path = "ed137_payloads.pcap";
  write_capture(path, {pack(rx), pack(tx), pack(sqi), pack(rrc), pack(long_rrc), pack(mam)});

  const std::string a = "rtp.ext.ed137a.";
  const std::vector<std::string> header = {"frame.number", a + "ptt_type", a + "squ", a + "ptt_id", a + "pm",
                                           a + "ptts", a + "sct", a + "x"};
  std::vector<std::string> fields = header;
  fields.insert(fields.end(), {a + "ft.type", a + "ft.len", a + "ft.sqi.qidx", a + "ft.sqi.qidx-ml"});
  std::vector<std::string> lines = tshark_fields(path, fields);
  ASSERT_EQ(lines.size(), 6u) << "tshark read " << lines.size() << " frames of " << path;
  // PTT type, SQU, PTT-id, mute, summation, SCT, X; then type, length,
  // quality and method of each element.
  EXPECT_EQ(numbers(lines[0]), "1 1 1 5 0 1 0 0");
  EXPECT_EQ(numbers(lines[1]), "2 1 0 5 0 1 0 0");  // the TX form has no SQU or SCT
  EXPECT_EQ(numbers(lines[2]), "3 1 1 5 0 1 0 1 1 1 31 2");
  EXPECT_EQ(numbers(lines[3]), "4 1 1 5 0 1 0 1 3 1 1 1 3 1");
  EXPECT_EQ(numbers(lines[4]), "5 1 1 5 0 1 0 1 3 4");
  EXPECT_EQ(numbers(lines[5]), "6 2 0 63 1 0 1 1 4 12");

  // The short RRC's eight flags, the long one's value, the MAM's fields.
  const std::string b = "rtp.ext.ed137b.ft.";
  lines = tshark_fields(path, {b + "rrc.mstxf1", b + "rrc.msrxf1", b + "rrc.mstxf2", b + "rrc.msrxf2",
                               b + "rrc.seltxf1", b + "rrc.seltxf2", b + "rrc.murxf1", b + "rrc.murxf2",
                               a + "ft.value", b + "climax_ddc.mam_tqg", b + "climax_ddc.mam_t1",
                               b + "climax_ddc.mam_nmr", b + "climax_ddc.mam_t2", b + "climax_ddc.mam_tsd",
                               b + "climax_ddc.mam_tj1", b + "climax_ddc.mam_tid"});
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "1|0|0|1|0|1|0|1||||||||");
  EXPECT_EQ(lines[4], "||||||||ff801234|||||||");
  EXPECT_EQ(numbers(lines[5]), "1 1193046 0 8388607 258 65535 0");
}
