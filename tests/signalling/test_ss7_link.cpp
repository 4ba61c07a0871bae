// Two SS7 links back to back through the test relay, on the virtual clock:
// alignment and proving, a long lossy run in both directions (captured to a
// pcap file that tshark must decode), and a transport that refuses frames.
#include "signalling/ss7/slc.h"
#include "tests/signalling/ss7_relay.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ss7test::Bytes;
using testsupport::StreamCapture;
using State = SS7::SLC::State;

// Payload n of a side: SIO, then the number and filler; every tenth is long
// enough for an LI of 63.
Bytes payload(int side, unsigned n) {
  Bytes b(n % 10 == 3 ? 70 + n % 7 : 6 + n % 5);
  b[0] = 0x83;
  b[1] = std::uint8_t(side);
  b[2] = std::uint8_t(n >> 8);
  b[3] = std::uint8_t(n);
  for (std::size_t i = 4; i < b.size(); ++i) b[i] = std::uint8_t(n * 7 + i);
  return b;
}

bool is_msu(const Bytes& f) { return f.size() > 5; }
bool is_fisu(const Bytes& f) { return f.size() == 3; }

class LinkTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    for (int s = 0; s < 2; ++s) {
      SS7::SLC* l = new SS7::SLC;
      l->set_dpc(1 + 10 * s);
      l->set_slc(2 + 10 * s);
      l->set_linkno(3 + 10 * s);
      upper[s].reset(new ss7test::Upper(l));
      relay.attach(s, l);
    }
    relay.set_delay(0, 2);
    relay.set_delay(1, 2);
  }
  void TearDown() override {
    for (auto& u : upper) u.reset();
    VirtualClockTest::TearDown();
  }

  SS7::SLC& link(int s) { return upper[s]->link(); }
  std::vector<Bytes> lssus_sent(int s) const {
    std::vector<Bytes> out;
    for (const Bytes& f : relay.sent[s])
      if (f.size() == 4) out.push_back(f);
    return out;
  }

  ss7test::Relay relay;  // outlives the links
  std::unique_ptr<ss7test::Upper> upper[2];
};

TEST_F(LinkTest, AlignmentProvesForT4nThenBothSidesWork) {
  relay.record(true);
  link(0).trace.state = true;
  StreamCapture cap;
  const std::uint32_t t0 = now_ms();
  link(0).activate();
  link(1).activate();
  run_for(8100);
  EXPECT_EQ(link(0).get_state_id(), State::proving);
  EXPECT_EQ(link(1).get_state_id(), State::proving);
  run_for(1000);
  for (int s = 0; s < 2; ++s) {
    EXPECT_EQ(link(s).get_state_id(), State::worked);
    ASSERT_EQ(upper[s]->activations, 1);
    const std::uint32_t took = upper[s]->activated_at[0] - t0;
    EXPECT_GE(took, 8200u);
    EXPECT_LT(took, 8220u);
    // SIO on activation, SIN when aligned and again when proving.
    EXPECT_EQ(lssus_sent(s), (std::vector<Bytes>{{0xFF, 0xFF, 1, 0}, {0xFF, 0xFF, 1, 1}, {0xFF, 0xFF, 1, 1}}));
  }
  std::vector<std::string> lines;
  for (const auto& l : StreamCapture::matching(cap.log(), "change state")) lines.push_back(l.text);
  const std::string h = "SS7/L2 [dpc=1, slc=2, trunk=3]: change state from ";
  EXPECT_EQ(lines, (std::vector<std::string>{h + "\"idle\" to \"not aligned\"", h + "\"not aligned\" to \"aligned\"",
                                             h + "\"aligned\" to \"proving\"", h + "\"proving\" to \"aligned ready\"",
                                             h + "\"aligned ready\" to \"worked\""}));
  // In service the links only answer: no FISU goes out by itself.
  const std::size_t frames = relay.sent[0].size() + relay.sent[1].size();
  run_for(60000);
  EXPECT_EQ(relay.sent[0].size() + relay.sent[1].size(), frames);
  EXPECT_EQ(upper[0]->activations + upper[1]->activations, 2);
  EXPECT_TRUE(cap.err().empty()) << cap.all();
}

TEST_F(LinkTest, EmergencyOnEitherSideProvesForT4eAndItsFisuEndsThePeersProving) {
  for (int e = 0; e < 2; ++e) {
    SetUp();  // fresh links for each side
    relay.record(true);
    link(e).set_emergency(true);
    link(1 - e).trace.state = true;
    StreamCapture cap;
    const std::uint32_t t0 = now_ms();
    link(0).activate();
    link(1).activate();
    run_for(1000);
    for (int s = 0; s < 2; ++s) {
      EXPECT_EQ(link(s).get_state_id(), State::worked) << e;
      ASSERT_EQ(upper[s]->activations, 1) << e;
      const std::uint32_t took = upper[s]->activated_at[0] - t0;
      EXPECT_GE(took, 500u) << e;
      EXPECT_LT(took, 520u) << e;
    }
    // The emergency side aligns with SIE, the other proves with T4n and is
    // taken to worked by the peer's FISU instead.
    EXPECT_EQ(lssus_sent(e), (std::vector<Bytes>{{0xFF, 0xFF, 1, 0}, {0xFF, 0xFF, 1, 2}, {0xFF, 0xFF, 1, 2}})) << e;
    EXPECT_EQ(StreamCapture::count(cap.log(), "change state from \"proving\" to \"worked\""), 1) << cap.all();
    EXPECT_EQ(StreamCapture::count(cap.log(), "to \"aligned ready\""), 0) << cap.all();
    for (auto& u : upper) u.reset();
    relay.sent[0].clear();
    relay.sent[1].clear();
  }
}

// The fields tshark decodes from the capture, one line per frame.
std::string tshark_fields(const std::string& pcap) {
  const std::string cmd =
      "tshark -n -r " + pcap +
      " -o mtp2.use_extended_sequence_numbers:FALSE -o mtp2.capture_contains_frame_check_sequence:FALSE"
      " --disable-protocol mtp3 -T fields -E separator=, -E occurrence=f"
      " -e mtp2.bsn -e mtp2.bib -e mtp2.fsn -e mtp2.fib -e mtp2.li -e mtp2.sf -e _ws.malformed -e _ws.expert -e _ws.col.Info"
      " 2>/dev/null";
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "";
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST_F(LinkTest, LossyRunDeliversEveryMsuInOrderAndTsharkReadsTheCapture) {
  const unsigned total = 1000;
  const std::string pcap = "ss7_lossy_run.pcap";  // left in the build tree
  ASSERT_TRUE(relay.capture(pcap));
  relay.record(true);
  relay.set_delay(0, 3);
  relay.set_delay(1, 5);
  // Losses only while both sides still have plenty to send, so later
  // traffic reveals every one of them.
  bool lossy = true;
  unsigned count[2] = {0, 0};
  relay.set_loss(0, [&](const Bytes& f) {
    if (!lossy) return false;
    ++count[0];
    return (is_msu(f) && count[0] % 17 == 0) || (is_fisu(f) && count[0] % 23 == 0);
  });
  relay.set_loss(1, [&](const Bytes& f) {
    if (!lossy) return false;
    ++count[1];
    return (is_msu(f) && count[1] % 29 == 0) || (is_fisu(f) && count[1] % 13 == 0);
  });
  link(1).set_emergency(true);  // so that the capture holds SIE as well
  link(0).activate();
  link(1).activate();
  run_for(9000);
  ASSERT_EQ(link(0).get_state_id(), State::worked);
  ASSERT_EQ(link(1).get_state_id(), State::worked);

  StreamCapture cap;
  unsigned next[2] = {0, 0};
  // Each side offers one MSU per millisecond, the second side sometimes a
  // burst, and the losses stop with a tenth of the traffic left.
  for (unsigned ms = 0; ms < 4000 && (next[0] < total || next[1] < total); ++ms) {
    for (int s = 0; s < 2; ++s) {
      const unsigned burst = (s == 1 && ms % 50 == 0) ? 8 : 1;
      for (unsigned b = 0; b < burst && next[s] < total; ++b) upper[s]->send(payload(s, next[s]++));
    }
    if (next[0] > total * 9 / 10 && next[1] > total * 9 / 10) lossy = false;
    run_for(1);
  }
  run_for(2000);

  for (int s = 0; s < 2; ++s) {
    const int peer = 1 - s;
    EXPECT_EQ(link(s).get_state_id(), State::worked) << cap.all();
    ASSERT_EQ(upper[peer]->received.size(), total) << "side " << s;
    for (unsigned n = 0; n < total; ++n) ASSERT_EQ(upper[peer]->received[n], payload(s, n)) << "side " << s << " msu " << n;
    EXPECT_EQ(upper[s]->activations, 1);
    EXPECT_TRUE(upper[s]->deactivations.empty());
    EXPECT_GT(relay.lost[s], 0u);
  }
  // Every MSU the relay lost was asked for again; each request is one nack
  // on the receiving side and one retransmission on the sending side.
  const SS7::SLC::Statistics a = link(0).statistics();
  const SS7::SLC::Statistics b = link(1).statistics();
  EXPECT_GT(a.retransmissions, 0u);
  EXPECT_GT(b.retransmissions, 0u);
  EXPECT_EQ(a.retransmissions, b.negative_acks);
  EXPECT_EQ(b.retransmissions, a.negative_acks);
  EXPECT_EQ(a.tb_overflows + b.tb_overflows, 0u);
  EXPECT_EQ(a.rtb_size, 0u);
  EXPECT_EQ(a.su_sent, relay.sent[0].size() - 3);  // the LSSUs do not count
  EXPECT_EQ(b.su_received, relay.delivered[0]);

  // Taking one side out of service ends the capture with two SIOS.
  link(0).deactivate();
  run_for(100);
  EXPECT_EQ(link(1).get_state_id(), State::idle);
  relay.end_capture();

  // tshark decodes every captured frame with the fields as sent.
  if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
  const std::string out = tshark_fields(pcap);
  ASSERT_FALSE(out.empty());
  std::istringstream lines(out);
  std::string line;
  std::size_t rows = 0, lssus = 0, long_msus = 0;
  const std::vector<Bytes>& order = relay.taken;
  while (std::getline(lines, line)) {
    ASSERT_LT(rows, order.size());
    const Bytes& f = order[rows++];
    std::vector<std::string> col;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, ',')) col.push_back(c);
    col.resize(9);
    char want[64];
    std::snprintf(want, sizeof want, "%u,%u,%u,%u,%u", f[0] & 0x7F, f[0] >> 7, f[1] & 0x7F, f[1] >> 7, f[2] & 0x3F);
    EXPECT_EQ(col[0] + "," + col[1] + "," + col[2] + "," + col[3] + "," + col[4], want) << "frame " << rows;
    if (f.size() == 4) {
      ++lssus;
      EXPECT_EQ(col[5], std::to_string(f[3])) << "frame " << rows;
      static const char* const names[] = {"SIO", "SIN", "SIE", "SIOS"};
      EXPECT_EQ(col[8], names[f[3] & 3]) << "frame " << rows;
    }
    if (f.size() > 66) ++long_msus;
    EXPECT_TRUE(col[6].empty() && col[7].empty()) << "frame " << rows << ": " << line;
  }
  EXPECT_EQ(rows, order.size());
  EXPECT_EQ(lssus, 8u);
  EXPECT_GT(long_msus, 0u);
}

TEST_F(LinkTest, RefusedFramesWaitForTheTransportToBeReady) {
  link(0).activate();
  link(1).activate();
  run_for(9000);
  ASSERT_EQ(link(0).get_state_id(), State::worked);
  StreamCapture cap;
  relay.set_refusing(0, true);
  for (unsigned n = 0; n < 50; ++n) upper[0]->send(payload(0, n));
  run_for(100);
  EXPECT_EQ(link(0).tb_count(), 50u);
  EXPECT_TRUE(upper[1]->received.empty());
  relay.set_refusing(0, false);
  run_for(100);
  EXPECT_EQ(StreamCapture::count(cap.log(), "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): hdlc ready"), 1) << cap.all();
  ASSERT_EQ(upper[1]->received.size(), 50u);
  for (unsigned n = 0; n < 50; ++n) EXPECT_EQ(upper[1]->received[n], payload(0, n));
  EXPECT_EQ(link(0).rtb_count(), 0);
  EXPECT_EQ(link(1).statistics().negative_acks, 0u);
  EXPECT_EQ(link(0).get_state_id(), State::worked);
}

}  // namespace
