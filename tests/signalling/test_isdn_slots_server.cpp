// ISDN slots on their own HDLC-controller channel and ATS-QSIG slots on the
// simulated "/dev/dsp-data", driven by a controller of the running server;
// the tests play the far end of each D channel through the simulator's
// control socket. One server serves the suite. These tests wait in real
// time, each wait bounded and ended as soon as the awaited frame has come.
#include "tests/signalling/link_slots_server.h"
#include "tests/support/descriptor_exhaustion.h"

#include <algorithm>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

using sigtest::data;

namespace {

std::string tell(const std::string& frame) {
  return sigtest::tell_frame(frame, [](const std::string& slot, const LGCP::IoctlResponse& r) {
    std::string t = slot + "ioctl " + r.getSelectionName();
    if (r.isdnLinkInfo_isSelected()) t += r.get_isdnLinkInfo().get_side().asInt() ? " network" : " user";
    return t;
  });
}

std::string qsig_b_image(int seq, int slot, int qsig, int subslot) {
  return testsupport::create_image(seq, slot, [&](LGCP::CreateParams& p) {
    LGCP::AtsQsigBParams& b = p.select_ats_qsig_b();
    b.set_slot(static_cast<unsigned>(qsig));
    b.set_subslot(static_cast<unsigned>(subslot));
  });
}

std::string qsig_image(int seq, int slot) {
  return testsupport::create_image(seq, slot,
                                   [](LGCP::CreateParams& p) { p.select_ats_qsig().set_side().select_network(); });
}

std::string isdn_image(int seq, int slot, bool bri = false, bool network = false) {
  return testsupport::create_image(
      seq, slot, [&](LGCP::CreateParams& p) { testsupport::fill_isdn(p.select_isdn(), bri, network); });
}

class IsdnSlotsServer : public sigtest::SlotsServerSuite<tell> {
 protected:
  // What the device wrote ("mcc" or "dspdata" family) until `frame` came;
  // every frame read is kept in `sent`.
  static bool sent_until(const std::string& family, const std::string& ts, const std::string& frame) {
    return testsupport::eventually([&] {
      for (const std::string& l : lines(ask(family + " read " + ts))) sent.push_back(l);
      return std::find(sent.begin(), sent.end(), frame) != sent.end();
    });
  }
  static long count_sent(const std::string& frame) { return std::count(sent.begin(), sent.end(), frame); }

  static inline std::vector<std::string> sent;
};

TEST_F(IsdnSlotsServer, IsdnSlotOnItsOwnControllerChannel) {
  // isdn {pri, trunk 1, log 0, user}: a channel at once, thresholds 1.
  exchange("C0 01 01 00 0A 08 72 01 01 01 00 00", "seq 1 slot 10 success");
  const std::vector<std::string> ch = lines(ask("mcc channels"));
  ASSERT_EQ(ch.size(), 1u);
  const std::string ts = ch[0].substr(0, ch[0].find(':'));
  EXPECT_EQ(ch[0], ts + ":0,512,0,1,1");

  // Nothing starts before activate; then SABME, and the far end's UA
  // brings the record and activated.
  EXPECT_EQ(ask("mcc read " + ts), "");
  exchange(testsupport::activate_image(2, 10), "seq 2 slot 10 success");
  EXPECT_TRUE(sent_until("mcc", ts, "00017F"));
  EXPECT_EQ(ask("mcc inject " + ts + " 000173"), "");
  std::vector<std::string> got = until("slot 10 signal activated");
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[got.size() - 2], "slot 10 ioctl isdnLinkInfo user");

  // Messages both ways; a received I frame is acknowledged.
  exchange(testsupport::user_data_image(3, 10, data("08010505")), "seq 3 slot 10 success");
  EXPECT_TRUE(sent_until("mcc", ts, "0001000008010505"));
  // An empty frame ahead of it is no hang-up: the channel stays.
  EXPECT_EQ(ask("mcc inject " + ts + " -"), "");
  EXPECT_EQ(ask("mcc inject " + ts + " 0201000208018507"), "");
  until("slot 10 userData 08018507");
  EXPECT_TRUE(sent_until("mcc", ts, "02010102"));

  // A write that would block: the frame goes when the channel is ready
  // again, once.
  EXPECT_EQ(ask("mcc eagain " + ts + " 1"), "");
  sent.clear();
  exchange(testsupport::user_data_image(4, 10, data("08010506")), "seq 4 slot 10 success");
  EXPECT_TRUE(sent_until("mcc", ts, "0001020208010506"));
  EXPECT_EQ(ask("mcc inject " + ts + " 00010104"), "");
  exchange(testsupport::user_data_image(5, 10, data("08010507")), "seq 5 slot 10 success");
  EXPECT_TRUE(sent_until("mcc", ts, "0001040208010507"));
  EXPECT_EQ(count_sent("0001020208010506"), 1);
  // The edges of what the controller may hand the link: an empty userData
  // sends nothing; the longest the control link carries (16383 octets)
  // goes out whole in one I frame, the next in sequence.
  exchange(testsupport::user_data_image(60, 10, data("")), "seq 60 slot 10 success");
  const std::string longest = "08" + std::string(2 * 16382, 'D');
  exchange(testsupport::user_data_image(61, 10, data(longest)), "seq 61 slot 10 success");
  EXPECT_TRUE(sent_until("mcc", ts, "00010602" + longest));
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& f) { return f.size() > 8; }), 3);

  // Requests are not for these slots.
  exchange(testsupport::ioctl_image(6, 10), "seq 6 slot 10 error unsupported");

  // Allocation refused, or a channel without a switch channel: no slot,
  // and no controller channel or descriptor left behind.
  const int fds = testsupport::open_descriptors(srv->process->pid());
  EXPECT_EQ(ask("mcc fail allocate EIO 1"), "");
  exchange(isdn_image(7, 11), "seq 7 slot 11 error insufficientResources");
  EXPECT_TRUE(srv->wait_log("mcc/isdn: MCC_ALLOCATE fail: ")) << srv->log();
  EXPECT_EQ(ask("mcc fail timeslot EIO 1"), "");
  exchange(isdn_image(8, 11), "seq 8 slot 11 error insufficientResources");
  EXPECT_EQ(lines(ask("mcc channels")).size(), 1u);
  EXPECT_TRUE(testsupport::eventually([&] { return testsupport::open_descriptors(srv->process->pid()) == fds; }))
      << testsupport::open_descriptors(srv->process->pid()) << " descriptors, " << fds << " before";

  // deactivate releases the link; the far end's UA brings the record and
  // deactivated, and the channel stays.
  sent.clear();
  exchange(testsupport::null_command_image(9, 10, "deactivate"), "seq 9 slot 10 success");
  EXPECT_TRUE(sent_until("mcc", ts, "000153"));
  EXPECT_EQ(ask("mcc inject " + ts + " 000173"), "");
  got = until("slot 10 signal deactivated");
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[got.size() - 2], "slot 10 ioctl isdnLinkInfo user");
  EXPECT_EQ(lines(ask("mcc channels")).size(), 1u);

  // A channel the driver drops is no longer polled; the server goes on.
  // (Extension channel n is switch channel 8192 + n.)
  exchange(testsupport::ext_image(40, 30, 100, 101), "seq 40 slot 30 success");
  exchange(testsupport::connect_image(41, 30, 10), "seq 41 slot 30 success");
  EXPECT_EQ(ask("hal get " + ts), "connected 8292");
  EXPECT_EQ(ask("mcc hangup " + ts), "");
  EXPECT_TRUE(srv->wait_log("10:MCC: channel hung up")) << srv->log();
  EXPECT_EQ(ask("hal get " + ts), "byte 213") << "the line into the dropped channel stayed fed";
  exchange(testsupport::activate_image(11, 10), "seq 11 slot 10 success");

  // The dropped channel is the driver's again; when it hands the number to
  // a new D channel, the old slot neither rewires nor cuts that line.
  EXPECT_EQ(ask("mcc next " + ts), "");
  exchange(isdn_image(42, 11), "seq 42 slot 11 success");
  EXPECT_EQ(ask("mcc channels"), ts + ":0,512,0,1,1");
  exchange(testsupport::ext_image(43, 31, 102, 103), "seq 43 slot 31 success");
  exchange(testsupport::connect_image(44, 31, 11), "seq 44 slot 31 success");
  EXPECT_EQ(ask("hal get " + ts), "connected 8294");
  const std::string ext_line = ask("hal get 8293");
  exchange(testsupport::connect_image(45, 31, 10), "seq 45 slot 31 error connectFail");
  exchange(testsupport::connect_image(46, 10, 30), "seq 46 slot 10 error connectFail");
  EXPECT_EQ(ask("hal get 8293"), ext_line);
  EXPECT_EQ(ask("hal get " + ts), "connected 8294");

  exchange(testsupport::null_command_image(10, 10, "destroy"), "seq 10 slot 10 success");
  EXPECT_EQ(ask("hal get " + ts), "connected 8294");
  for (int slot : {11, 31, 30})
    exchange(testsupport::null_command_image(50 + slot, slot, "destroy"),
             "seq " + std::to_string(50 + slot) + " slot " + std::to_string(slot) + " success");
  EXPECT_EQ(ask("mcc channels"), "");

  // Nor is one whose reads fail from the hang-up on, whether with an error
  // or with one that would pass on a live channel: the hang-up is reported
  // on every poll, so retrying would hold the loop for ever.
  const struct {
    const char* err;
    int slot;
  } failures[] = {{"EIO", 11}, {"EAGAIN", 12}, {"EINTR", 13}};
  int seq = 70;
  for (const auto& f : failures) {
    SCOPED_TRACE(f.err);
    const std::string slot = std::to_string(f.slot);
    exchange(isdn_image(seq, f.slot), "seq " + std::to_string(seq) + " slot " + slot + " success");
    const std::vector<std::string> ch2 = lines(ask("mcc channels"));
    ASSERT_EQ(ch2.size(), 1u);
    EXPECT_EQ(ask(std::string("mcc fail read ") + f.err), "");
    EXPECT_EQ(ask("mcc hangup " + ch2[0].substr(0, ch2[0].find(':'))), "");
    EXPECT_TRUE(srv->wait_log(slot + ":MCC: channel hung up")) << srv->log();
    EXPECT_EQ(ask(std::string("mcc fail read ") + f.err + " 0"), "");
    exchange(testsupport::null_command_image(seq + 1, f.slot, "destroy"),
             "seq " + std::to_string(seq + 1) + " slot " + slot + " success");
    EXPECT_EQ(ask("mcc channels"), "");
    seq += 2;
  }
}

// The type reaches the channel's mode and the link's framing (only a
// basic-rate link takes UI frames), the side the link's C/R bits.
TEST_F(IsdnSlotsServer, TypeAndSideReachTheChannelAndTheLink) {
  const struct {
    bool bri, network;
    const char *mode, *sabme, *ui, *ua;
  } rows[] = {
      {false, true, "0", "02017F", "00FF0308010505", "020173"},
      {true, false, "1", "00017F", "02FF0308010505", "000173"},
      {true, true, "1", "02017F", "00FF0308010505", "020173"},
  };
  int seq = 1;
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.mode) + r.sabme);
    const std::string slot = " slot 40 success";
    exchange(isdn_image(seq, 40, r.bri, r.network), "seq " + std::to_string(seq) + slot);
    const std::vector<std::string> ch = lines(ask("mcc channels"));
    ASSERT_EQ(ch.size(), 1u);
    const std::string ts = ch[0].substr(0, ch[0].find(':'));
    EXPECT_EQ(ch[0], ts + ":" + r.mode + ",512,0,1,1");
    sent.clear();
    exchange(testsupport::activate_image(seq + 1, 40), "seq " + std::to_string(seq + 1) + slot);
    EXPECT_TRUE(sent_until("mcc", ts, r.sabme));
    EXPECT_EQ(ask("mcc inject " + ts + " " + r.ui), "");
    EXPECT_EQ(ask("mcc inject " + ts + " " + r.ua), "");
    const std::vector<std::string> got = until("slot 40 signal activated");
    EXPECT_EQ(std::count(got.begin(), got.end(), "slot 40 userData 08010505"), r.bri ? 1 : 0);
    exchange(testsupport::null_command_image(seq + 2, 40, "destroy"), "seq " + std::to_string(seq + 2) + slot);
    EXPECT_EQ(ask("mcc channels"), "");
    seq += 3;
  }
}

TEST_F(IsdnSlotsServer, AtsQsigDChannelAndItsBChannels) {
  EXPECT_EQ(ask("dspdata timeslot 77"), "");
  // ats-qsig {side network}.
  exchange("C0 01 01 00 0A 08 8A", "seq 1 slot 10 success");
  EXPECT_EQ(ask("dspdata channels"), "77 - - -");

  exchange(testsupport::activate_image(2, 10), "seq 2 slot 10 success");
  sent.clear();
  EXPECT_TRUE(sent_until("dspdata", "77", "02017F"));
  EXPECT_EQ(ask("dspdata inject 77 020173"), "");
  std::vector<std::string> got = until("slot 10 signal activated");
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[got.size() - 2], "slot 10 ioctl isdnLinkInfo network");

  exchange(testsupport::user_data_image(3, 10, data("08010505")), "seq 3 slot 10 success");
  EXPECT_TRUE(sent_until("dspdata", "77", "0201000008010505"));
  EXPECT_EQ(ask("dspdata inject 77 0001000208018507"), "");
  until("slot 10 userData 08018507");
  EXPECT_EQ(ask("dspdata eagain 77 1"), "");
  sent.clear();
  exchange(testsupport::user_data_image(4, 10, data("08010506")), "seq 4 slot 10 success");
  EXPECT_TRUE(sent_until("dspdata", "77", "0201020208010506"));

  // B channels 1..3 get B indexes 0..2; the driver chooses the channels.
  exchange(qsig_b_image(5, 21, 10, 1), "seq 5 slot 21 success");
  exchange(qsig_b_image(6, 22, 10, 2), "seq 6 slot 22 success");
  exchange(qsig_b_image(7, 23, 10, 3), "seq 7 slot 23 success");
  EXPECT_EQ(ask("dspdata channels"), "77 2048 2049 2050");
  // A B channel already held is refused to a second slot, and the refused
  // one's destroy leaves the holder's channel.
  exchange(qsig_b_image(25, 25, 10, 2), "seq 25 slot 25 error insufficientResources");
  exchange(testsupport::null_command_image(26, 25, "destroy"), "seq 26 slot 25 error slotNotExists");
  EXPECT_EQ(ask("dspdata channels"), "77 2048 2049 2050");
  exchange(testsupport::null_command_image(8, 22, "destroy"), "seq 8 slot 22 success");
  EXPECT_EQ(ask("dspdata channels"), "77 2048 - 2050");
  // A failed add, a slot that is no ATS-QSIG slot, or none.
  EXPECT_EQ(ask("dspdata fail add EIO 1"), "");
  exchange(qsig_b_image(9, 22, 10, 2), "seq 9 slot 22 error insufficientResources");
  EXPECT_TRUE(srv->wait_log("ats-qsig: add B channel fail !!!")) << srv->log();
  exchange(testsupport::ext_image(10, 30, 100, 101), "seq 10 slot 30 success");
  exchange(qsig_b_image(11, 22, 30, 2), "seq 11 slot 22 error insufficientResources");
  exchange(qsig_b_image(12, 22, 31, 2), "seq 12 slot 22 error insufficientResources");
  exchange(testsupport::ioctl_image(13, 10), "seq 13 slot 10 error unsupported");

  // The D slot goes first: its descriptor closes (and with it the B
  // channels); a B slot destroyed later finds no signalling slot.
  exchange(testsupport::null_command_image(14, 10, "destroy"), "seq 14 slot 10 success");
  EXPECT_EQ(ask("dspdata channels"), "");
  exchange(testsupport::null_command_image(15, 21, "destroy"), "seq 15 slot 21 success");
  EXPECT_TRUE(srv->wait_log("ats-qsig-b: Can't find signalling slot")) << srv->log();
  // A new D slot under the old number is not the old B slots' signalling
  // slot: destroying one leaves the new slot's B channel of that index.
  EXPECT_EQ(ask("dspdata timeslot 80"), "");
  exchange("C0 01 13 00 0A 08 8A", "seq 19 slot 10 success");
  exchange(qsig_b_image(20, 24, 10, 3), "seq 20 slot 24 success");
  EXPECT_EQ(ask("dspdata channels"), "80 - - 2048");
  exchange(testsupport::null_command_image(16, 23, "destroy"), "seq 16 slot 23 success");
  EXPECT_EQ(ask("dspdata channels"), "80 - - 2048");
  exchange(testsupport::null_command_image(21, 24, "destroy"), "seq 21 slot 24 success");
  EXPECT_EQ(ask("dspdata channels"), "80 - - -");
  exchange(testsupport::null_command_image(22, 10, "destroy"), "seq 22 slot 10 success");
  exchange(testsupport::null_command_image(17, 30, "destroy"), "seq 17 slot 30 success");

  // Time slot 0 is a time slot.
  EXPECT_EQ(ask("dspdata timeslot 0"), "");
  exchange("C0 01 17 00 0A 08 8A", "seq 23 slot 10 success");
  EXPECT_EQ(ask("dspdata channels"), "0 - - -");
  exchange(testsupport::null_command_image(24, 10, "destroy"), "seq 24 slot 10 success");

  // No D time slot: no slot, descriptor closed.
  EXPECT_EQ(ask("dspdata fail timeslot EIO 1"), "");
  exchange("C0 01 12 00 0A 08 8A", "seq 18 slot 10 error insufficientResources");
  EXPECT_EQ(ask("dspdata channels"), "");
}

// The driver frees a D slot's B channels with its descriptor, and gives the
// same switch channel to a B channel of a later D slot while the old B slot
// waits for its destroy: that line is then the new slot's alone.
TEST_F(IsdnSlotsServer, AnOldBSlotLeavesTheLineANewBChannelGot) {
  const auto destroy = [](int seq, int slot) {
    exchange(testsupport::null_command_image(seq, slot, "destroy"),
             "seq " + std::to_string(seq) + " slot " + std::to_string(slot) + " success");
  };
  // Extension channel n is switch channel 8192 + n.
  EXPECT_EQ(ask("dspdata timeslot 70"), "");
  exchange(qsig_image(1, 40), "seq 1 slot 40 success");
  exchange(qsig_b_image(2, 41, 40, 1), "seq 2 slot 41 success");
  exchange(qsig_b_image(3, 45, 40, 2), "seq 3 slot 45 success");
  exchange(testsupport::ext_image(4, 42, 100, 101), "seq 4 slot 42 success");
  exchange(testsupport::connect_image(5, 42, 41), "seq 5 slot 42 success");
  exchange(testsupport::connect_image(6, 42, 45), "seq 6 slot 42 success");
  EXPECT_EQ(ask("hal get 2048"), "connected 8292");
  destroy(7, 40);
  EXPECT_EQ(ask("dspdata channels"), "");
  EXPECT_EQ(ask("hal get 2048") + ", " + ask("hal get 2049"), "byte 213, byte 213")
      << "the lines into the freed B channels stayed fed";

  exchange(qsig_image(8, 40), "seq 8 slot 40 success");
  exchange(qsig_b_image(9, 43, 40, 1), "seq 9 slot 43 success");
  exchange(qsig_b_image(10, 46, 40, 2), "seq 10 slot 46 success");
  EXPECT_EQ(ask("dspdata channels"), "71 2048 2049 -");
  exchange(testsupport::ext_image(11, 44, 102, 103), "seq 11 slot 44 success");
  exchange(testsupport::connect_image(12, 44, 43), "seq 12 slot 44 success");
  exchange(testsupport::connect_image(13, 44, 46), "seq 13 slot 44 success");
  EXPECT_EQ(ask("hal get 2048"), "connected 8294");
  EXPECT_EQ(ask("hal get 2049"), "connected 8294");
  const std::string ext_line = ask("hal get 8293");

  // The old slots are wired neither to nor from those lines any more, and
  // their destroy leaves the lines fed.
  exchange(testsupport::connect_image(14, 42, 46), "seq 14 slot 42 success");
  exchange(testsupport::connect_image(15, 44, 45), "seq 15 slot 44 error connectFail");
  exchange(testsupport::connect_image(16, 41, 42), "seq 16 slot 41 error connectFail");
  EXPECT_EQ(ask("hal get 2049"), "connected 8292");
  EXPECT_EQ(ask("hal get 8293"), ext_line);
  destroy(17, 41);
  destroy(18, 45);
  EXPECT_EQ(ask("hal get 2048"), "connected 8294");
  EXPECT_EQ(ask("hal get 2049"), "connected 8292");
  EXPECT_EQ(ask("dspdata channels"), "71 2048 2049 -");

  // The new B slots go as any other.
  destroy(19, 43);
  destroy(20, 46);
  EXPECT_EQ(ask("dspdata channels"), "71 - - -");

  // The same when the driver drops the D channel while its slot stays.
  exchange(qsig_b_image(24, 43, 40, 1), "seq 24 slot 43 success");
  exchange(testsupport::connect_image(25, 42, 43), "seq 25 slot 42 success");
  exchange(qsig_b_image(32, 49, 40, 2), "seq 32 slot 49 success");
  exchange(testsupport::connect_image(33, 42, 49), "seq 33 slot 42 success");
  EXPECT_EQ(ask("dspdata hangup 71"), "");
  EXPECT_TRUE(srv->wait_log("40:ATS-QSIG: channel hung up")) << srv->log();
  EXPECT_TRUE(testsupport::eventually([] { return ask("dspdata channels").empty(); }));
  EXPECT_EQ(ask("hal get 2048"), "byte 213") << "the line into the freed B channel stayed fed";
  exchange(qsig_image(26, 47), "seq 26 slot 47 success");
  exchange(qsig_b_image(27, 48, 47, 1), "seq 27 slot 48 success");
  EXPECT_EQ(ask("dspdata channels"), "72 2048 - -");
  exchange(testsupport::connect_image(28, 44, 48), "seq 28 slot 44 success");
  EXPECT_EQ(ask("hal get 2048"), "connected 8294");
  destroy(29, 43);
  EXPECT_EQ(ask("hal get 2048"), "connected 8294");
  destroy(30, 48);
  destroy(31, 47);
  // The freed number may go to another kind of channel than a B channel
  // (here a new D channel): neither the hung-up D slot's destroy nor its
  // old B slot's cuts that line.
  EXPECT_EQ(ask("hal get 2049"), "byte 213");
  EXPECT_EQ(ask("dspdata timeslot 2049"), "");
  exchange(qsig_image(34, 50), "seq 34 slot 50 success");
  exchange(testsupport::connect_image(35, 44, 50), "seq 35 slot 44 success");
  EXPECT_EQ(ask("hal get 2049"), "connected 8294");
  destroy(23, 40);
  EXPECT_EQ(ask("hal get 2049"), "connected 8294") << "the old D slot's destroy cut its old B number's new line";
  destroy(36, 49);
  EXPECT_EQ(ask("hal get 2049"), "connected 8294") << "the old B slot's destroy cut its number's new line";
  destroy(37, 50);
  destroy(21, 44);
  destroy(22, 42);
}

TEST_F(IsdnSlotsServer, ControllerLossFreesEveryChannel) {
  EXPECT_EQ(ask("dspdata timeslot 90"), "");
  exchange("C0 01 01 00 0A 08 8A", "seq 1 slot 10 success");
  exchange(qsig_b_image(2, 11, 10, 1), "seq 2 slot 11 success");
  exchange(isdn_image(3, 12), "seq 3 slot 12 success");
  EXPECT_EQ(ask("dspdata channels"), "90 2048 - -");
  EXPECT_EQ(lines(ask("mcc channels")).size(), 1u);

  // The status dump tells the two kinds of D channel apart by their events.
  const std::string dump = srv->board("/var/log/server-status");
  ::unlink(dump.c_str());
  srv->process->signal(SIGUSR2);
  EXPECT_TRUE(testsupport::eventually([&] {
    const std::string t = testsupport::file_text(dump);
    return t.find("AtsQsigSlot::OnEvent") != std::string::npos && t.find("IsdnSlot::OnEvent") != std::string::npos;
  })) << testsupport::file_text(dump);

  // The controller leaves. It comes back only once the server has seen it
  // go: one that connects before is refused, as a second controller.
  srv->ctl.close();
  EXPECT_TRUE(testsupport::eventually([&] { return ask("dspdata channels").empty() && ask("mcc channels").empty(); }));
  ASSERT_TRUE(srv->reconnect());
}

}  // namespace
