// Black-box: RTP voice slots of the running server. A TCP controller
// creates, switches, steers and destroys them; UDP peers on 127.0.0.1 get
// their RTCP; the simulator's control socket reads the RTP driver's
// sessions and the switch, and injects driver events and failures.
#include "tests/board/board_lgcp.h"
#include "tests/media/rtp_fixture.h"
#include "tests/radio/zarn_values.h"
#include "tests/slots/slots_server.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

using namespace slotstest;
using namespace testsupport;
using namespace rtptest;
using P = TERM::Payload;

namespace {

class RtpSlots : public ServerSuite {
 protected:
  static std::string create(int seq, int slot, const LGCP::CreateParams& p) {
    return create_image(seq, slot, [&](LGCP::CreateParams& c) { c = p; });
  }
  static std::string ioctl(int seq, int slot, const std::function<void(LGCP::IoctlParams&)>& fill) {
    return command_image(seq, slot, [&](LGCP::Command& c) { fill(c.select_ioctl()); });
  }
  static std::string codec(int seq, int slot, bool decoder, LGCP::CodecMode::NamedNumber mode) {
    return ioctl(seq, slot, [&](LGCP::IoctlParams& i) {
      if (decoder)
        i.select_decoder_mode(mode);
      else
        i.select_encoder_mode(mode);
    });
  }
  static std::string destroy(int seq, int slot) { return null_command_image(seq, slot, "destroy"); }
  static std::string sim(const std::string& request) { return srv().sim.ask(request); }
  static Strings sessions() {
    Strings out;
    std::istringstream in(sim("rtp sessions"));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  static std::string last_session() {
    const Strings s = sessions();
    return s.empty() ? "" : s.back();
  }
  // The SSRC of a session line ("...,ssrc=N,..."), as spaced hexadecimal.
  static std::string ssrc_hex(const std::string& session) {
    const auto at = session.find(",ssrc=");
    const unsigned long v = at == std::string::npos ? 0 : std::stoul(session.substr(at + 6));
    char b[16];
    std::snprintf(b, sizeof b, "%02lX %02lX %02lX %02lX", v >> 24 & 0xFF, v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF);
    return b;
  }
  static bool none_open() {
    for (const auto& s : sessions())
      if (s.rfind("open,", 0) == 0) return false;
    return true;
  }
  // The channel of a "slot N transmitter active T" line.
  static int channel_of(const std::string& line) {
    const auto at = line.rfind(' ');
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 1);
  }
  // The ops of the newest session on a channel.
  static std::string ops_of(int tdm) {
    std::string found;
    for (const auto& s : sessions())
      if (s.find(",tdm=" + std::to_string(tdm) + ",") != std::string::npos) found = s.substr(s.find(",ops=") + 5);
    return found;
  }
  static int count_in_log(const std::string& text) {
    const std::string log = srv().log();
    int n = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  // Creates slot `slot` (command 1) towards a peer's RTP port; its channel,
  // -1 when it was not made.
  static int made(int slot, std::uint16_t port, P::NamedNumber rx) {
    const Strings m = ask(create(1, slot, rtp_params(P::ptG711_Alaw, "127.0.0.1", port, P::ptG711_Alaw, rx)), 3);
    return m.size() == 3 ? channel_of(m[1]) : -1;
  }
  static std::string slot_hex(int slot) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", slot);
    return b;
  }
};

TEST_F(RtpSlots, CreateSwitchAndDestroy) {
  UdpPeer peerA, peerB;
  ASSERT_TRUE(peerA.ok() && peerB.ok());
  const std::uint16_t P = rtp_port_of(peerA), Q = free_rtp_port();
  const Strings made = ask(
      create(1, 5,
             rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Ulaw, P::ptG729,
                        [&](TERM::RtpParams& r) {
                          r.set_shost().set_iaddr("127.0.0.1");
                          r.set_shost().set_port(Q);
                          r.set_pfactor(70000);
                          r.set_crate(0);
                          r.set_vad(true);
                          r.set_ssrc(305419896u);
                          r.set_ttl(64);
                          r.set_qos_dscp(TERM::IpQoSDSCP::ef);
                        })),
      3);
  ASSERT_EQ(made.size(), 3u);
  const int A = channel_of(made[1]);
  EXPECT_EQ(made, (Strings{"seq 1 slot 5 success", "slot 5 transmitter active " + std::to_string(A),
                           "slot 5 receiver active " + std::to_string(A)}));
  EXPECT_EQ(last_session(), "open,tdm=" + std::to_string(A) + ",remote=127.0.0.1:" + std::to_string(P) +
                                ",local=127.0.0.1:" + std::to_string(Q) +
                                ",rx_pt=8,tx_pt=0,pfactor=4464,vad=1,crate=0,ssrc=305419896,ttl=64,tos=184,"
                                "ops=begin/add:-1");
  std::uint16_t from = 0;
  EXPECT_EQ(peerA.receive(patience_ms, &from), sdes_image("12 34 56 78"));
  EXPECT_EQ(from, Q + 1);

  // Payload and dhost only.
  const std::uint16_t PB = rtp_port_of(peerB);
  const Strings madeB = ask(create(2, 6, rtp_params(P::ptG711_Alaw, "127.0.0.1", PB, P::ptG711_Alaw, P::ptG711_Alaw)), 3);
  ASSERT_EQ(madeB.size(), 3u);
  const int B = channel_of(madeB[1]);
  EXPECT_NE(A, B);
  const std::string sb = last_session();
  EXPECT_EQ(sb.substr(0, sb.find(",ssrc=")), "open,tdm=" + std::to_string(B) + ",remote=127.0.0.1:" +
                                                 std::to_string(PB) + ",local=0.0.0.0:" + std::to_string(PB) +
                                                 ",rx_pt=8,tx_pt=8,pfactor=0,vad=0,crate=0");
  EXPECT_EQ(sb.substr(sb.find(",ttl=")), ",ttl=0,tos=-1,ops=begin/add:-1");
  // Without shost the RTCP socket binds the peer's own port.
  EXPECT_EQ(peerB.receive(patience_ms, &from), sdes_image(ssrc_hex(sb)));
  EXPECT_EQ(from, PB + 1);

  // A -> B: B receives A's channel and starts sending.
  EXPECT_EQ(ask(connect_image(3, 5, 6)), Strings{"seq 3 slot 5 success"});
  EXPECT_EQ(hal("get " + std::to_string(B)), "connected " + std::to_string(A));
  EXPECT_EQ(ops_of(B), "begin/add:-1/start_tx");
  EXPECT_EQ(ask(null_command_image(4, 6, "disconnect")), Strings{"seq 4 slot 6 success"});
  EXPECT_EQ(ops_of(B), "begin/add:-1/start_tx/stop_tx");

  // Every served payload type.
  const struct {
    P::NamedNumber p;
    int pt;
  } table[] = {{P::ptG711_Alaw, 8}, {P::ptG711_Ulaw, 0},      {P::ptG723, 4},        {P::ptG729, 18},
               {P::ptG711mcc_Alaw, 136}, {P::ptG711mcc_Ulaw, 128}, {P::ptG728, 15}};
  int seq = 10;
  for (const auto& t : table) {
    ASSERT_EQ(ask(create(seq++, 7, rtp_params(t.p, "127.0.0.1", PB, t.p, t.p)), 3).size(), 3u);
    const std::string s = last_session();
    EXPECT_NE(s.find(",rx_pt=" + std::to_string(t.pt) + ",tx_pt=" + std::to_string(t.pt) + ","), std::string::npos)
        << s;
    // Its SDES at the creation, its BYE at the end.
    EXPECT_EQ(peerB.receive(patience_ms), sdes_image(ssrc_hex(s)));
    EXPECT_EQ(ask(destroy(seq, 7)), Strings{"seq " + std::to_string(seq) + " slot 7 success"});
    ++seq;
    EXPECT_EQ(peerB.receive(patience_ms), bye_image(ssrc_hex(s)));
  }

  // Destroy: the driver's teardown, the channel off, then the BYE.
  EXPECT_EQ(ask(destroy(30, 5)), Strings{"seq 30 slot 5 success"});
  EXPECT_EQ(ops_of(A), "begin/add:-1/r10/r3/r11/pd_reset:1");
  EXPECT_EQ(hal("get " + std::to_string(A)), "disabled");
  EXPECT_EQ(peerA.receive(patience_ms), bye_image("12 34 56 78"));
  EXPECT_EQ(ask(destroy(31, 6)), Strings{"seq 31 slot 6 success"});
  EXPECT_EQ(peerB.receive(patience_ms), bye_image(ssrc_hex(sb)));
  EXPECT_TRUE(none_open());
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(RtpSlots, RefusedCreationsLeaveNothingOpen) {
  UdpPeer peer;
  const std::uint16_t P = rtp_port_of(peer);
  const auto plain = [&](std::uint16_t local) {
    return rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
      r.set_shost().set_iaddr("127.0.0.1");
      r.set_shost().set_port(local);
    });
  };
  const std::uint16_t Q = free_rtp_port(2);
  UdpPeer busy(static_cast<std::uint16_t>(Q + 1), false);
  ASSERT_TRUE(busy.ok());
  EXPECT_EQ(sim("rtp fail open ENODEV"), "");
  EXPECT_EQ(ask({create(1, 3, rtp_params(P::ptT38_UDP_TL, "127.0.0.1", P, P::ptG711_Alaw, P::ptG711_Alaw)),
                 create(2, 3, plain(Q)), create(3, 3, plain(Q + 2)),
                 create(4, 3, rtp_params(P::ptG711_Alaw, "localhost", P, P::ptG711_Alaw, P::ptG711_Alaw))},
                4),
            (Strings{"seq 1 slot 3 error insufficientResources", "seq 2 slot 3 error insufficientResources",
                     "seq 3 slot 3 error insufficientResources", "seq 4 slot 3 error insufficientResources"}));
  EXPECT_TRUE(srv().wait_log("rtp do not created: payload ptT38-UDP-TLnot found\n")) << srv().log();
  EXPECT_TRUE(srv().wait_log("rtp do not created: can not bind socket [errno=Address already in use, port=" +
                             std::to_string(Q + 1) + "]\n"))
      << srv().log();
  EXPECT_TRUE(srv().wait_log("device \"/dev/rtp\" open fail: No such device\n")) << srv().log();
  EXPECT_EQ(sim("rtp fail begin EIO"), "");
  EXPECT_EQ(sim("rtp fail add EBUSY"), "");
  EXPECT_EQ(ask({create(5, 3, plain(Q + 2)), create(6, 3, plain(Q + 2))}, 2),
            (Strings{"seq 5 slot 3 error insufficientResources", "seq 6 slot 3 error insufficientResources"}));
  EXPECT_TRUE(srv().wait_log("begin session fail !!! \n")) << srv().log();
  EXPECT_TRUE(srv().wait_log("add channel fail !!!\n")) << srv().log();
  EXPECT_TRUE(none_open());
  // Nothing came to the peer, and the RTCP port of the refused slots is free.
  EXPECT_EQ(peer.receive(100), "");
  UdpPeer free_again(static_cast<std::uint16_t>(Q + 3), false);
  EXPECT_TRUE(free_again.ok());
  EXPECT_EQ(extra(), Strings{});
}

// The switch channel the driver writes back is the slot's line: one it did
// not assign refuses the slot, as a failed add does.
TEST_F(RtpSlots, SwitchChannelsTheDriverAssigns) {
  UdpPeer peer;
  const std::uint16_t P = rtp_port_of(peer), Q = free_rtp_port();
  const auto plain = rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
    r.set_shost().set_iaddr("127.0.0.1");
    r.set_shost().set_port(Q);
  });
  const struct {
    const char* assigned;
    Strings answer;
  } rows[] = {
      {"-1", {"seq 1 slot 3 error insufficientResources"}},
      {"-2147483648", {"seq 2 slot 3 error insufficientResources"}},
      // Switch channel 0 is a channel like any other.
      {"0", {"seq 3 slot 3 success", "slot 3 transmitter active 0", "slot 3 receiver active 0"}},
      {"4999", {"seq 4 slot 3 success", "slot 3 transmitter active 4999", "slot 3 receiver active 4999"}},
  };
  const int failed_before = count_in_log("add channel fail !!!\n");
  int seq = 1;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.assigned);
    EXPECT_EQ(sim(std::string("rtp assign ") + row.assigned), "");
    EXPECT_EQ(ask(create(seq++, 3, plain), row.answer.size()), row.answer);
    if (row.answer.size() > 1) {
      EXPECT_EQ(peer.receive(patience_ms).empty(), false);
      EXPECT_EQ(ask(destroy(10, 3)), Strings{"seq 10 slot 3 success"});
    }
  }
  EXPECT_TRUE(eventually([&] { return count_in_log("add channel fail !!!\n") == failed_before + 2; })) << srv().log();
  EXPECT_TRUE(none_open());
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(RtpSlots, PdEventsAndCodecRestarts) {
  UdpPeer peer;
  const int T = made(9, rtp_port_of(peer), P::ptG729);
  ASSERT_GE(T, 0);
  const std::string t = std::to_string(T);

  EXPECT_EQ(ask({ioctl(2, 9, [](LGCP::IoctlParams& i) { i.select_pd_enable().set_timeout(500); }),
                 ioctl(3, 9, [](LGCP::IoctlParams& i) { i.select_mute_enable(); })},
                2),
            (Strings{"seq 2 slot 9 success", "seq 3 slot 9 error unsupported"}));
  EXPECT_EQ(ops_of(T), "begin/add:-1/pd_set:1.0.500.0.0.500.0.0.0");
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: RTP SET EVENT PD timeout=500\n")) << srv().log();
  EXPECT_EQ(sim("rtp event " + t + " 1 3 500"), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 09 95 01 03 02 01 F4");
  // Another type is logged and sends nothing; the loop goes on.
  EXPECT_EQ(sim("rtp event " + t + " 2 7 7"), "");
  EXPECT_EQ(ask(null_command_image(4, -1, "ping")), Strings{"seq 4 success"});
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: rtp event:  type=2\n")) << srv().log();
  // A short record and an empty one end their pass; records after them
  // still arrive.
  EXPECT_EQ(sim("rtp raw " + t + " 0100"), "");
  EXPECT_EQ(sim("rtp raw " + t), "");
  EXPECT_EQ(sim("rtp event " + t + " 1 4 600"), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 09 95 01 04 02 02 58");
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: short rtp event record: 2 bytes\n")) << srv().log();
  // A drained queue ends each pass without a word.
  EXPECT_EQ(count_in_log("fail to read from rtp"), 0) << srv().log();
  // A failed read is told and loses nothing: the record waits for the next pass.
  EXPECT_EQ(sim("rtp fail read EIO"), "");
  EXPECT_EQ(sim("rtp event " + t + " 1 8 700"), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 09 95 01 08 02 02 BC");
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: fail to read from rtp: Input/output error\n")) << srv().log();

  EXPECT_EQ(ask(ioctl(5, 9, [](LGCP::IoctlParams& i) { i.select_pd_disable(); })), Strings{"seq 5 slot 9 success"});
  EXPECT_EQ(ops_of(T), "begin/add:-1/pd_set:1.0.500.0.0.500.0.0.0/pd_reset:1");

  // Codec modes: alaw is the receive type in force (G.729 asked for the
  // receive side is not a G.711 law: the session's A-law holds); ulaw
  // restarts on the same channel; lbrc returns to the creation's type.
  const std::size_t n = sessions().size();
  EXPECT_EQ(ask(codec(6, 9, true, LGCP::CodecMode::alaw)), Strings{"seq 6 slot 9 success"});
  EXPECT_EQ(sessions().size(), n);
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: do restart RTP session (change rx payload):alaw - Nothing to do\n"))
      << srv().log();
  EXPECT_EQ(ask(codec(7, 9, true, LGCP::CodecMode::ulaw)), Strings{"seq 7 slot 9 success"});
  Strings s = sessions();
  ASSERT_EQ(s.size(), n + 1);
  EXPECT_EQ(s[n - 1].substr(0, 7), "closed,") << s[n - 1];
  EXPECT_EQ(s[n].substr(0, s[n].find(",remote=")), "open,tdm=" + t);
  EXPECT_NE(s[n].find(",rx_pt=0,tx_pt=8,"), std::string::npos) << s[n];
  EXPECT_EQ(s[n].substr(s[n].find(",ops=")), ",ops=begin/add:" + t);
  EXPECT_EQ(sim("rtp event " + t + " 1 5 100"), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 09 95 01 05 01 64");

  // A restart that fails keeps the session in force and its payload type.
  EXPECT_EQ(sim("rtp fail begin EIO"), "");
  EXPECT_EQ(ask(codec(8, 9, true, LGCP::CodecMode::lbrc)), Strings{"seq 8 slot 9 error unsupported"});
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: fail to restart RTP session!\n")) << srv().log();
  EXPECT_EQ(sim("rtp event " + t + " 1 6 100"), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 09 95 01 06 01 64");
  EXPECT_EQ(sim("rtp fail add EBUSY"), "");
  EXPECT_EQ(ask(codec(80, 9, true, LGCP::CodecMode::lbrc)), Strings{"seq 80 slot 9 error unsupported"})
      << "nor one whose new session the driver gives no channel";
  EXPECT_EQ(ask(codec(9, 9, true, LGCP::CodecMode::ulaw)), Strings{"seq 9 slot 9 success"});
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: do restart RTP session (change rx payload):ulaw - Nothing to do\n"))
      << srv().log();
  EXPECT_EQ(ask(codec(10, 9, true, LGCP::CodecMode::lbrc)), Strings{"seq 10 slot 9 success"});
  EXPECT_NE(last_session().find(",rx_pt=8,tx_pt=8,"), std::string::npos) << last_session();
  // The transmit side: ulaw for tx.
  EXPECT_EQ(ask(codec(11, 9, false, LGCP::CodecMode::ulaw)), Strings{"seq 11 slot 9 success"});
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: do restart RTP session (change tx payload):ulaw - OK\n"))
      << srv().log();
  EXPECT_NE(last_session().find(",rx_pt=8,tx_pt=0,"), std::string::npos) << last_session();
  EXPECT_EQ(sim("rtp event " + t + " 1 7 100"), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 09 95 01 07 01 64");

  EXPECT_EQ(ask(destroy(12, 9)), Strings{"seq 12 slot 9 success"});
  EXPECT_TRUE(none_open());
  EXPECT_EQ(extra(), Strings{});
}

// A codec restart carries on the PD events the controller was told of: the
// new session is asked for them before it takes over, and one that refuses
// them is no restart (the old session goes on, its PD events with it). Once
// they are switched off, a restart asks for none.
TEST_F(RtpSlots, CodecRestartKeepsThePdEventsAskedFor) {
  UdpPeer peer;
  const int T = made(10, rtp_port_of(peer), P::ptG711_Alaw);
  ASSERT_GE(T, 0);
  const std::string t = std::to_string(T);
  // The ops of the one open session of the channel ("" unless exactly one).
  const auto open_ops = [&] {
    Strings open;
    for (const auto& s : sessions())
      if (s.rfind("open,tdm=" + t + ",", 0) == 0) open.push_back(s.substr(s.find(",ops=") + 5));
    return open.size() == 1 ? open[0] : "";
  };
  const std::string pd = "/pd_set:1.0.300.0.0.300.0.0.0";
  const std::string ok = " slot 10 success";
  const auto pd_enable = [](LGCP::IoctlParams& i) { i.select_pd_enable().set_timeout(300); };
  const auto pd_disable = [](LGCP::IoctlParams& i) { i.select_pd_disable(); };

  // Switching them on or off as the driver refuses is answered as refused.
  EXPECT_EQ(sim("rtp fail pd_set EIO"), "");
  EXPECT_EQ(ask(ioctl(20, 10, pd_enable)), Strings{"seq 20 slot 10 error unsupported"});
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: RTP SET EVENT PD fail: errno=\"Input/output error\"\n")) << srv().log();
  EXPECT_EQ(ask(ioctl(2, 10, [](LGCP::IoctlParams& i) { i.select_pd_enable().set_timeout(300); })),
            Strings{"seq 2" + ok});
  EXPECT_EQ(ask(codec(3, 10, true, LGCP::CodecMode::ulaw)), Strings{"seq 3" + ok});
  EXPECT_EQ(open_ops(), "begin/add:" + t + pd) << ::testing::PrintToString(sessions());

  EXPECT_EQ(sim("rtp fail pd_set EIO"), "");
  EXPECT_EQ(ask(codec(4, 10, true, LGCP::CodecMode::alaw)), Strings{"seq 4 slot 10 error unsupported"});
  EXPECT_EQ(open_ops(), "begin/add:" + t + pd) << ::testing::PrintToString(sessions());
  EXPECT_NE(last_session().find("closed,"), std::string::npos) << "the refused session ends";
  EXPECT_EQ(sim("rtp event " + t + " 1 5 100"), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 0A 95 01 05 01 64");

  // A refused switch-off leaves them on: the next restart still asks.
  EXPECT_EQ(sim("rtp fail pd_reset EIO"), "");
  EXPECT_EQ(ask(ioctl(50, 10, pd_disable)), Strings{"seq 50 slot 10 error unsupported"});
  EXPECT_TRUE(srv().wait_log("rtp[" + t + "]: RTP RESET EVENT PD fail: errno=\"Input/output error\"\n"))
      << srv().log();
  EXPECT_EQ(ask(codec(51, 10, true, LGCP::CodecMode::lbrc)), Strings{"seq 51" + ok});
  EXPECT_EQ(open_ops(), "begin/add:" + t + pd) << ::testing::PrintToString(sessions());

  EXPECT_EQ(ask(ioctl(5, 10, pd_disable)), Strings{"seq 5" + ok});
  EXPECT_EQ(ask(codec(6, 10, true, LGCP::CodecMode::ulaw)), Strings{"seq 6" + ok});
  EXPECT_EQ(open_ops(), "begin/add:" + t) << ::testing::PrintToString(sessions());

  EXPECT_EQ(ask(destroy(7, 10)), Strings{"seq 7" + ok});
  EXPECT_TRUE(none_open());
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(RtpSlots, QueryReportsCodecCapacities) {
  const auto query = [](int seq) {
    srv().ctl.send(null_command_image(seq, -1, "query"));
    EXPECT_EQ(describe(srv().ctl.next(patience_ms)), "seq " + std::to_string(seq) + " success");
    LGCP::Message m;
    std::vector<int> counts;
    if (!decode(srv().ctl.next(patience_ms), m) || !m.get_pdu().signal_isSelected() ||
        !m.get_pdu().get_signal().query_isSelected())
      return counts;
    const LGCP::Resources& r = m.get_pdu().get_signal().get_query();
    return std::vector<int>{r.get_rtp_g729().getValue(), r.get_rtp_g723().getValue(), r.get_rtp_g711().getValue(),
                            r.get_rtp_g711mcc().getValue(), r.get_universal().getValue()};
  };
  for (const char* w : {"voice 4 8", "voice 2 6", "voice 1 30", "voice 8 2", "voice 65 4"}) EXPECT_EQ(sim(w), "");
  EXPECT_EQ(query(1), (std::vector<int>{8, 6, 30, 2, 4}));
  // A count of 1 is a count; 0 or a failure tells nothing: the first three
  // counts are asked afresh, the last two keep what the device last gave.
  for (const char* w : {"voice 4 0", "voice 2 1", "voice 1 -1", "voice 8 0", "voice 65 -1"}) EXPECT_EQ(sim(w), "");
  EXPECT_EQ(query(2), (std::vector<int>{0, 1, 0, 2, 4}));
}

TEST_F(RtpSlots, ToneDetectionAndEchoCanceller) {
  UdpPeer peer;
  const std::uint16_t P = rtp_port_of(peer);
  sim("dtmf log");
  sim("dsp log");
  // An echo part turns the canceller on only with the suppressor.
  const auto echo = [&](bool suppressor) {
    return rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
      r.set_echo().set_suppressor(suppressor);
      r.set_echo().set_canceller(true);
    });
  };
  Strings made = ask(create(1, 11, echo(false)), 3);
  ASSERT_EQ(made.size(), 3u);
  EXPECT_EQ(sim("dtmf log"), "");
  EXPECT_EQ(ask(destroy(2, 11)), Strings{"seq 2 slot 11 success"});
  // A canceller the tone unit refused: no slot, its session closed, and
  // nothing reached the peer.
  while (!peer.receive(100).empty()) {
  }
  EXPECT_EQ(sim("dtmf fail CHANNEL_LMS_ON 5 1"), "");
  EXPECT_EQ(ask(create(3, 11, echo(true))), Strings{"seq 3 slot 11 error insufficientResources"});
  EXPECT_TRUE(srv().wait_log("rtp do not created: echo canceller refused\n")) << srv().log();
  EXPECT_TRUE(none_open());
  EXPECT_EQ(peer.receive(100), "");
  sim("dtmf log");
  made = ask(create(3, 11, echo(true)), 3);
  ASSERT_EQ(made.size(), 3u);
  const std::string t = std::to_string(channel_of(made[1]));
  EXPECT_EQ(sim("dtmf log"), "CHANNEL_LMS_ON " + t);

  EXPECT_EQ(ask(ioctl(4, 11, [](LGCP::IoctlParams& i) { i.select_dtmf_enable(true); })),
            Strings{"seq 4 slot 11 success"});
  const std::string log = sim("dtmf log");
  ASSERT_EQ(log.rfind("DTMF_ENABLE_DETECTOR " + t + " ", 0), 0u) << log;
  const std::string id = log.substr(log.rfind(' ') + 1);
  EXPECT_EQ(sim("dtmf event 11 " + t + " 123456 " + id), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 0B 81 03 01 E2 40 01 60");
  // The voice-processing unit answers for the same channel.
  EXPECT_EQ(ask(ioctl(5, 11, [](LGCP::IoctlParams& i) { i.select_vad_enable(true); })),
            Strings{"seq 5 slot 11 success"});
  const std::string vad = sim("dsp log");
  const std::size_t at = vad.find("DSPROC_ENABLE " + t + " ");
  ASSERT_NE(at, std::string::npos) << vad;
  // Its voice activity (tx on) is the slot's signal.
  std::istringstream enable(vad.substr(at));
  std::string request, ts, vad_id;
  enable >> request >> ts >> vad_id;
  EXPECT_EQ(sim("dsp event " + t + " " + vad_id + " 1 2 0 1"), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 0B 90 60");
  // The wait tone and a digit sequence (empty: at once complete) are the
  // channel's generator.
  EXPECT_EQ(ask({ioctl(7, 11, [](LGCP::IoctlParams& i) { i.select_activateWaitTone(); }),
                 ioctl(8, 11, [](LGCP::IoctlParams& i) { i.select_deactivateWaitTone(); }),
                 ioctl(9, 11, [](LGCP::IoctlParams& i) { i.select_translateDTMF(); })},
                3),
            (Strings{"seq 7 slot 11 success", "seq 8 slot 11 success", "seq 9 slot 11 success"}));
  EXPECT_EQ(sim("dtmf log"),
            "DTMF_DIAL " + t + " 425 0 2048 2048\nDTMF_DIAL " + t + " 0 0 0 0\nDTMF_DIAL " + t + " 0 0 0 0");
  // The other detector requests each reach their own unit request and are
  // answered by it, refusals as refused. Compared by the units' logged
  // requests, the channel written T, an enable's receiver id (the unit's own
  // count) left out.
  const auto requests = [&] {
    std::string out;
    std::istringstream in(sim("dsp log") + sim("dtmf log"));
    for (std::string l; std::getline(in, l);) {
      std::istringstream words(l);
      std::vector<std::string> w;
      for (std::string x; words >> x;) w.push_back(x == t ? "T" : x);
      if (w.size() == 4 && w[0] == "DSPROC_ENABLE") w.erase(w.begin() + 2);
      for (const std::string& x : w) out += " " + x;
    }
    return out;
  };
  using Fill = std::function<void(LGCP::IoctlParams&)>;
  const Fill vad_params = [](LGCP::IoctlParams& p) {
    TERM::VADParamsV2& v = p.select_vad_params().select_v2();
    v.set_voice_th_msec(40);
    v.set_silence_th_msec(200);
    v.set_e_th_dB(-40);
  };
  const struct {
    const char* fail;  // a unit failure set up first
    Fill fill;
    const char* got;
  } dispatch[] = {
      {"", [](LGCP::IoctlParams& p) { p.select_echoSuppressor(true); }, "success | CHANNEL_LMS_ON T"},
      {"", [](LGCP::IoctlParams& p) { p.select_dtmf_reject_enable(true); }, "success | DTMF_REJECTION_ENABLE T"},
      {"", [](LGCP::IoctlParams& p) { p.select_dtmf_reject_enable(false); }, "success | DTMF_REJECTION_DISABLE T"},
      {"",
       [](LGCP::IoctlParams& p) {
         LGCP::DTMFParams& d = p.select_dtmf_params();
         d.set_threshold().set_twist(8);
         d.set_threshold().set_ratio(6);
         d.set_threshold().set_noise(5);
         d.set_level().set_silence(30);
       },
       "success | DTMF_CONFIGURE_DETECTOR T 8 6 30 5"},
      {"", vad_params, "success | DSPROC_GET_VERSION 0 DSPROC_CONFIGURE T 1 40 200 -40"},
      {"dsp fail DSPROC_CONFIGURE 5 1", vad_params,
       "error unsupported | DSPROC_GET_VERSION 0 DSPROC_CONFIGURE T 1 40 200 -40"},
      {"", [](LGCP::IoctlParams& p) { p.select_vad_disable(); }, "success | DSPROC_DISABLE T 0 1"},
      {"", [](LGCP::IoctlParams& p) { p.select_vad_enable(true); }, "success | DSPROC_ENABLE T 1"},
      {"", [](LGCP::IoctlParams& p) { p.select_sd_enable(true); }, "success | DSPROC_ENABLE T 2"},
      {"", [](LGCP::IoctlParams& p) { p.select_sd_params(); }, "success | DSPROC_CONFIGURE T 2"},
      {"dsp fail DSPROC_CONFIGURE 5 1", [](LGCP::IoctlParams& p) { p.select_sd_params(); },
       "error unsupported | DSPROC_CONFIGURE T 2"},
      {"", [](LGCP::IoctlParams& p) { p.select_sd_disable(); }, "success | DSPROC_DISABLE T 0 2"},
  };
  requests();
  int seq = 30;
  for (const auto& d : dispatch) {
    if (*d.fail) { EXPECT_EQ(sim(d.fail), ""); }
    const Strings answer = ask(ioctl(seq, 11, d.fill));
    const std::string head = "seq " + std::to_string(seq) + " slot 11 ";
    EXPECT_EQ((answer.empty() || answer[0].rfind(head, 0) != 0 ? "nothing" : answer[0].substr(head.size())) + " |" +
                  requests(),
              d.got)
        << "seq " << seq;
    ++seq;
  }
  // Requests the units refused are answered as refused.
  EXPECT_EQ(sim("dsp fail DSPROC_CONFIGURE 5 2"), "");
  EXPECT_EQ(sim("dtmf fail SELCAL_DIAL 5 1"), "");
  EXPECT_EQ(ask({ioctl(20, 11, [](LGCP::IoctlParams& i) { i.select_rx_gain().set_gainDB(-6); }),
                 ioctl(21, 11,
                       [](LGCP::IoctlParams& i) {
                         LGCP::ToneFilter& f = i.select_tone_filter();
                         f.set_freq(2100);
                         f.set_enable(true);
                         f.set_duration_th_msec(40);
                         f.set_det_level_dB(-30);
                       }),
                 ioctl(22, 11, [](LGCP::IoctlParams& i) { i.select_selcal().set_signs("ABCD"); }),
                 ioctl(23, 11, [](LGCP::IoctlParams& i) { i.select_selcal().set_signs("ABC"); }),
                 ioctl(24, 11, [](LGCP::IoctlParams& i) { i.select_rx_gain().set_gainDB(-6); }),
                 ioctl(25, 11, [](LGCP::IoctlParams& i) { i.select_selcal().set_signs("ABCD"); })},
                6),
            (Strings{"seq 20 slot 11 error unsupported", "seq 21 slot 11 error unsupported",
                     "seq 22 slot 11 error unsupported", "seq 23 slot 11 error unsupported",
                     "seq 24 slot 11 success", "seq 25 slot 11 success"}));
  EXPECT_EQ(sim("dtmf log"), "SELCAL_DIAL " + t + " 12000 65 66 67 68\nSELCAL_DIAL " + t + " 12000 65 66 67 68");

  // Destroyed during its wait tone: the generator and the detectors it
  // switched on go off with it.
  EXPECT_EQ(ask(ioctl(26, 11, [](LGCP::IoctlParams& i) { i.select_activateWaitTone(); })),
            Strings{"seq 26 slot 11 success"});
  EXPECT_EQ(sim("dtmf log"), "DTMF_DIAL " + t + " 425 0 2048 2048");
  EXPECT_EQ(ask(destroy(6, 11)), Strings{"seq 6 slot 11 success"});
  EXPECT_EQ(sim("dtmf log"), "DTMF_DIAL " + t + " 0 0 0 0\nDTMF_DISABLE_DETECTOR " + t);
  const std::string dsp = sim("dsp log");
  EXPECT_NE(dsp.find("DSPROC_DISABLE " + t + " 0 1"), std::string::npos) << dsp;
  EXPECT_NE(dsp.find("DSPROC_DISABLE " + t + " 0 256"), std::string::npos) << dsp;
  EXPECT_EQ(extra(), Strings{});
}

// SELCAL on an RTP slot: the signs and amplitudes the request takes or
// refuses, the words the tone unit is given, and the voice-processing
// unit's selective-call flag as the slot's `selcal` signal (after the `vad`
// one of the same record), whether or not the slot is fed, across a codec
// restart, and never once the slot is gone.
TEST_F(RtpSlots, SelcalRequestsAndProgressSignals) {
  UdpPeer peer, other;
  const int T = made(12, rtp_port_of(peer), P::ptG711_Alaw);
  ASSERT_GE(T, 0);
  const std::string t = std::to_string(T);
  sim("dtmf log");
  const struct {
    const char* signs;
    int amp;  // -2: none
    const char* answer;
    std::string dialled;
  } table[] = {
      {"ABCD", -2, "success", "SELCAL_DIAL " + t + " 12000 65 66 67 68"},
      {"WXYZQ", 9000, "success", "SELCAL_DIAL " + t + " 9000 87 88 89 90"},
      {"1234", 0, "success", "SELCAL_DIAL " + t + " 0 49 50 51 52"},
      {"ABCD", 65535, "success", "SELCAL_DIAL " + t + " 65535 65 66 67 68"},
      {"ABC", -2, "error unsupported", ""},
      {"", 9000, "error unsupported", ""},
      {"ABCD", 65536, "error unsupported", ""},
      {"ABCD", -1, "error unsupported", ""},
  };
  int seq = 2;
  for (const auto& row : table) {
    const Strings answer = ask(ioctl(seq, 12, [&](LGCP::IoctlParams& i) {
      TERM::SelcalCommand& c = i.select_selcal();
      c.set_signs(row.signs);
      if (row.amp != -2) c.set_amp(row.amp);
    }));
    EXPECT_EQ(answer, Strings{"seq " + std::to_string(seq) + " slot 12 " + row.answer}) << row.signs << " " << row.amp;
    EXPECT_EQ(sim("dtmf log"), row.dialled) << row.signs << " " << row.amp;
    ++seq;
  }

  // The flag records of the slot's channel, told with their values.
  const auto flags = [&](const std::string& values_mask) {
    EXPECT_EQ(sim("dsp event " + t + " 0 512 " + values_mask + " 0"), "");
    // The record may be read in the loop pass after the one that answers a
    // ping: what it brings has come by the answer to a second one.
    Strings out;
    for (int pings = 0; pings < 2; ++pings) {
      srv().ctl.send(null_command_image(++seq, -1, "ping"));
      for (std::string f = srv().ctl.next(patience_ms); !f.empty(); f = srv().ctl.next(patience_ms)) {
        if (describe(f) == "seq " + std::to_string(seq) + " success") break;
        LGCP::Message m;
        if (!decode(f, m) || !m.get_pdu().signal_isSelected()) {
          out.push_back(describe(f));
          continue;
        }
        const LGCP::Signal& sig = m.get_pdu().get_signal();
        std::string w = "slot " + std::to_string(m.get_slot().getValue()) + " " + sig.getSelectionName();
        if (sig.selcal_isSelected()) w += sig.get_selcal().get_in_progress() ? " in progress" : " idle";
        if (sig.vad_isSelected()) {
          const LGCP::VADEvent& v = sig.get_vad();
          w += v.vad_rx_isPresent() ? (v.get_vad_rx() ? " rx on" : " rx off") : "";
          w += v.vad_tx_isPresent() ? (v.get_vad_tx() ? " tx on" : " tx off") : "";
        }
        out.push_back(w);
      }
    }
    return out;
  };
  // Values, then mask: bit 31 is the selective call, 29 and 30 the voice
  // activity. (The voice-processing unit is opened by the first request
  // for it.)
  EXPECT_EQ(ask(ioctl(20, 12, [](LGCP::IoctlParams& i) { i.select_sd_params(); })), Strings{"seq 20 slot 12 success"});
  EXPECT_EQ(flags("2147483648 2147483648"), Strings{"slot 12 selcal in progress"});
  EXPECT_EQ(flags("0 2147483648"), Strings{"slot 12 selcal idle"});
  EXPECT_EQ(flags("2684354560 3758096384"), (Strings{"slot 12 vad rx on tx off", "slot 12 selcal in progress"}));
  EXPECT_EQ(flags("2147483648 1073741824"), Strings{"slot 12 vad tx off"});
  EXPECT_EQ(flags("4294967295 268435455"), Strings{});

  // Fed by another slot, and after a codec restart, alike.
  ASSERT_GE(made(13, rtp_port_of(other), P::ptG711_Alaw), 0);
  EXPECT_EQ(ask(connect_image(40, 13, 12)), Strings{"seq 40 slot 13 success"});
  EXPECT_EQ(flags("0 2147483648"), Strings{"slot 12 selcal idle"});
  EXPECT_EQ(ask(codec(41, 12, true, LGCP::CodecMode::ulaw)), Strings{"seq 41 slot 12 success"});
  EXPECT_EQ(flags("2147483648 2147483648"), Strings{"slot 12 selcal in progress"});
  EXPECT_EQ(ask(ioctl(42, 12, [](LGCP::IoctlParams& i) { i.select_selcal().set_signs("ABCD"); })),
            Strings{"seq 42 slot 12 success"});
  EXPECT_EQ(sim("dtmf log"), "SELCAL_DIAL " + t + " 12000 65 66 67 68");

  // Gone: its channel's flags reach nobody.
  EXPECT_EQ(ask({destroy(43, 12), destroy(44, 13)}, 2), (Strings{"seq 43 slot 12 success", "seq 44 slot 13 success"}));
  EXPECT_EQ(flags("2147483648 2147483648"), Strings{});
  EXPECT_TRUE(none_open());
  EXPECT_EQ(extra(), Strings{});
}

// One local port asked for by slots of different kinds. The RTP factory
// shares its RTCP socket's port (SO_REUSEADDR), the radio factories do not:
// once a radio slot holds the port, or when a radio slot asks for a port
// held at all, the second creation is refused, and the first slot keeps its
// session and its events. Without shost the local port is the dhost port.
// Destroying the first slot, or a creation refused half way (the driver's
// session refused, the echo canceller refused after the radio control was
// made), leaves the port to any kind. Port 65535 binds the RTCP socket to
// port 0 (the kernel's choice): never a conflict.
TEST_F(RtpSlots, OneLocalPortAcrossSlotKinds) {
  enum Kind { rtp, zarn, zarn_only_rtp, ed137 };
  static const char* const names[] = {"rtp", "zarn", "zarn only-rtp", "ed-137"};
  // `local` 0: no shost.
  const auto params = [](Kind k, std::uint16_t dport, std::uint16_t local, bool echo) {
    return rtp_params(P::ptG711_Alaw, "127.0.0.1", dport, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
      if (local) {
        r.set_shost().set_iaddr("127.0.0.1");
        r.set_shost().set_port(local);
      }
      if (echo) {
        r.set_echo().set_suppressor(true);
        r.set_echo().set_canceller(true);
      }
      if (k == rtp) return;
      TERM::RtpRadioRequest& radio = r.set_radio();
      if (k == ed137) {
        radio_test::ed137_header(radio.set_status().select_ed_137().set_header(), TERM::ED137RadioPTT::ptt_off,
                                 TERM::ED137RadioSQU::squ_on);
        return;
      }
      radio.set_status().select_zarn(radio_test::zarn_status_s(radio_test::zarn_flags(5, false)));
      if (k == zarn_only_rtp) radio_test::attach_only_rtp(r, 7, 1200);
    });
  };
  const auto open_instances = [] {
    Strings out;
    std::istringstream in(sim("rtpext sessions"));
    for (std::string l; std::getline(in, l);)
      if (l.find(",open,") != std::string::npos) out.push_back(l);
    return out;
  };
  // The ED-137 slots hear no keep-alive: their aborts are not looked at.
  struct IgnoreAborts {
    IgnoreAborts() : saved(srv().ctl.drop) {
      srv().ctl.drop = [this](const std::string& f) {
        return (f.size() == 20 && f.compare(0, 6, "40 00 ") == 0 && f.compare(8, 12, " 87 02 00 97") == 0) ||
               (saved && saved(f));
      };
    }
    ~IgnoreAborts() { srv().ctl.drop = saved; }
    std::function<bool(const std::string&)> saved;
  } quiet;

  const std::uint16_t Q = free_rtp_port(15);
  // How the second creation ends: refused; made beside the first; made in
  // the first's place (same slot number: the first goes before).
  enum Second { refused, beside, replaces };
  const struct {
    Kind first;
    bool shost;        // false: the first slot's local port is its dhost port
    const char* fail;  // a simulator word that refuses the first creation
    Kind second;
    int port;  // from Q when below 100
    Second outcome;
  } rows[] = {
      {rtp, true, nullptr, rtp, 0, beside},
      {rtp, false, nullptr, zarn, 2, refused},
      {rtp, true, nullptr, ed137, 4, refused},
      {zarn, true, nullptr, rtp, 6, refused},
      {zarn, false, nullptr, ed137, 8, refused},
      {ed137, true, nullptr, zarn_only_rtp, 10, refused},
      {zarn_only_rtp, true, nullptr, rtp, 12, refused},
      {ed137, false, nullptr, rtp, 14, refused},
      {zarn, true, nullptr, ed137, 16, replaces},
      {rtp, false, nullptr, zarn, 18, replaces},
      {rtp, true, "rtp fail add EBUSY", zarn, 20, beside},
      {zarn, false, "rtp fail begin EIO", ed137, 22, beside},
      {ed137, true, "dtmf fail CHANNEL_LMS_ON 5 1", zarn, 24, beside},
      {zarn_only_rtp, true, "dtmf fail CHANNEL_LMS_ON 5 1", ed137, 26, beside},
      {rtp, true, nullptr, zarn, 65535, beside},
      {zarn, true, nullptr, ed137, 65535, beside},
  };
  int seq = 100;
  for (const auto& row : rows) {
    const std::uint16_t port = static_cast<std::uint16_t>(row.port < 100 ? Q + row.port : row.port);
    SCOPED_TRACE(std::string(names[row.first]) + (row.shost ? "" : " without shost") + (row.fail ? " refused" : "") +
                 ", then " + names[row.second] + " on " + std::to_string(port));
    const std::string L = std::to_string(port);
    const LGCP::CreateParams first = params(row.first, port, row.shost ? port : 0, true);
    const LGCP::CreateParams second = params(row.second, static_cast<std::uint16_t>(Q + 28), port, false);
    const auto answer = [&](int slot, const char* what) {
      return Strings{"seq " + std::to_string(seq) + " slot " + std::to_string(slot) + " " + what};
    };
    int T = -1;
    std::string session;
    if (row.fail) {
      EXPECT_EQ(sim(row.fail), "");
      EXPECT_EQ(ask(create(seq, 40, first)), answer(40, "error insufficientResources"));
      ++seq;
      EXPECT_TRUE(none_open()) << sim("rtp sessions");
      EXPECT_EQ(open_instances(), Strings{});
    } else {
      const Strings a = ask(create(seq++, 40, first), 3);
      ASSERT_EQ(a.size(), 3u) << srv().log();
      T = channel_of(a[1]);
      session = last_session();
      EXPECT_NE(session.find(",tdm=" + std::to_string(T) + ",remote=127.0.0.1:" + L + ",local=" +
                             (row.shost ? "127.0.0.1:" : "0.0.0.0:") + L + ","),
                std::string::npos)
          << session;
    }
    const Strings instances = open_instances();

    const int number = row.outcome == replaces ? 40 : 41;
    const Strings b = ask(create(seq, number, second), row.outcome == refused ? 1 : 3);
    if (row.outcome == refused) {
      EXPECT_EQ(b, answer(41, "error insufficientResources"));
      EXPECT_TRUE(srv().wait_log("rtp do not created: can not bind socket [errno=Address already in use, port=" +
                                 std::to_string(port + 1) + "]\n"))
          << srv().log();
    } else {
      ASSERT_EQ(b.size(), 3u) << srv().log();
      EXPECT_EQ(b[0], answer(number, "success")[0]);
      EXPECT_NE(last_session().find(",local=127.0.0.1:" + L + ","), std::string::npos) << last_session();
    }
    ++seq;
    if (T >= 0 && row.outcome != replaces) {
      // The first slot's session and header-extension session are as they
      // were, and its driver events still reach the controller.
      if (row.outcome == refused) {
        EXPECT_EQ(ops_of(T), session.substr(session.find(",ops=") + 5));
        EXPECT_EQ(open_instances(), instances);
      }
      EXPECT_EQ(sim("rtp event " + std::to_string(T) + " 1 3 500"), "");
      EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 28 95 01 03 02 01 F4");
      EXPECT_EQ(ask(destroy(seq, 40)), answer(40, "success"));
      ++seq;
    }
    if (row.outcome == refused) {
      // The port is free again for the kind refused before.
      ASSERT_EQ(ask(create(seq++, 41, second), 3).size(), 3u) << srv().log();
    }
    EXPECT_EQ(ask(destroy(seq, number)), answer(number, "success"));
    ++seq;
    EXPECT_TRUE(none_open()) << sim("rtp sessions");
    EXPECT_EQ(open_instances(), Strings{});
  }
  EXPECT_EQ(extra(), Strings{});
}

// Runs last in this suite: the controller goes and comes back.
TEST_F(RtpSlots, LosingTheControllerSendsEveryBye) {
  UdpPeer a, b;
  ASSERT_EQ(ask(create(1, 20, rtp_params(P::ptG711_Alaw, "127.0.0.1", rtp_port_of(a), P::ptG711_Alaw,
                                         P::ptG711_Alaw, [](TERM::RtpParams& r) { r.set_ssrc(1); })),
                3)
                .size(),
            3u);
  ASSERT_EQ(ask(create(2, 21, rtp_params(P::ptG729, "127.0.0.1", rtp_port_of(b), P::ptG711_Alaw, P::ptG711_Alaw,
                                         [](TERM::RtpParams& r) { r.set_ssrc(2); })),
                3)
                .size(),
            3u);
  EXPECT_EQ(a.receive(patience_ms), sdes_image("00 00 00 01"));
  EXPECT_EQ(b.receive(patience_ms), sdes_image("00 00 00 02"));
  srv().ctl.close();
  EXPECT_EQ(a.receive(patience_ms), bye_image("00 00 00 01"));
  EXPECT_EQ(b.receive(patience_ms), bye_image("00 00 00 02"));
  EXPECT_TRUE(eventually([&] { return none_open(); }));
  EXPECT_TRUE(eventually([&] {
    if (!srv().reconnect()) return false;
    srv().ctl.send(null_command_image(3, -1, "ping"));
    return frames(1) == Strings{"seq 3 success"};
  }));
}

// The SSRC the server deals to a session made without one is a new one: not
// one it dealt before a bus test seeded the pattern generator, and not the
// one a former run dealt (real-time: two more runs of the server).
TEST_F(RtpSlots, DealtSsrcsAreNeverDealtAgain) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const std::uint16_t port = rtp_port_of(peer);
  const LGCP::CreateParams plain = rtp_params(P::ptG711_Alaw, "127.0.0.1", port, P::ptG711_Alaw, P::ptG711_Alaw);
  Strings dealt;
  int seq = 40;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(ask(boardtest::bpc_image(seq, 1, 7, "write", 10, 1)), Strings{"seq " + std::to_string(seq) + " success"});
    ++seq;
    ASSERT_EQ(ask(create(seq++, 22, plain), 3).size(), 3u);
    dealt.push_back(ssrc_hex(last_session()));
    EXPECT_EQ(peer.receive(patience_ms), sdes_image(dealt.back()));
    EXPECT_EQ(ask(destroy(seq, 22)), Strings{"seq " + std::to_string(seq) + " slot 22 success"});
    ++seq;
    EXPECT_EQ(peer.receive(patience_ms), bye_image(dealt.back()));
  }
  EXPECT_EQ(ask(boardtest::bpc_image(seq, 1, 7, "disconnect", 10, 1)), Strings{"seq " + std::to_string(seq) + " success"});
  EXPECT_NE(dealt[0], dealt[1]) << "the bus test set the SSRCs back";

  for (int run = 0; run < 2; ++run) {
    RunningServer other;
    ASSERT_TRUE(other.ready()) << other.log();
    other.ctl.send(create(1, 1, plain));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(other.ctl.next(patience_ms).empty());
    std::istringstream in(other.sim.ask("rtp sessions"));
    std::string line, last;
    while (std::getline(in, line)) last = line;
    ASSERT_NE(last.find(",ssrc="), std::string::npos) << other.log();
    dealt.push_back(ssrc_hex(last));
  }
  EXPECT_NE(dealt[2], dealt[3]) << "every run deals the same SSRCs";
}

}  // namespace
