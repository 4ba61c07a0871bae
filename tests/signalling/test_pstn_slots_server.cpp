// PSTN signalling slots of the running server: two slots on trunk time slots
// whose HDLC channels the simulated controller cross-wires, so the two links
// meet each other. One server serves every case of the suite (it sleeps a
// second whenever its controller leaves). These tests wait in real time,
// each wait bounded and ended as soon as the awaited frames have come.
#include "tests/signalling/link_slots_server.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

using sigtest::data;

namespace {

// A slot's ioctl answer as short text: link reports with the fields the
// cases look at.
std::string tell_ioctl(const std::string& slot, const LGCP::IoctlResponse& r) {
  if (r.isdnLinkInfo_isSelected()) {
    const ACP::IsdnLinkInfo& i = r.get_isdnLinkInfo();
    const char* n = i.get_lapdState().getName();
    const std::string state = n ? n : "?";
    return slot + "isdnLinkInfo " + (i.get_side().asInt() ? "network " : "user ") + state;
  }
  if (r.ss7LinkInfo_isSelected()) {
    const char* n = r.get_ss7LinkInfo().get_ss7state().getName();
    const std::string state = n ? n : "?";
    return slot + "ss7LinkInfo " + state;
  }
  if (r.ss7BSN_isSelected()) return slot + "ss7BSN " + std::to_string(r.get_ss7BSN().getValue());
  if (r.isdnLinkStatus_isSelected()) return slot + "isdnLinkStatus " + std::to_string(r.get_isdnLinkStatus().asInt());
  if (r.hdlcLinkInfo_isSelected()) return slot + "hdlcLinkInfo";
  return slot + "ioctl " + r.getSelectionName();
}

// A received frame as short text: link reports as above, userData with its
// octets in hex, the rest as the support tells.
std::string tell(const std::string& frame) { return sigtest::tell_frame(frame, tell_ioctl); }

std::string isdn_image(int seq, int slot, bool bri, bool network) {
  return testsupport::create_image(
      seq, slot, [&](LGCP::CreateParams& p) { testsupport::fill_isdn(p.select_pstn().select_isdn(), bri, network); });
}

std::string ss7_image(int seq, int slot, int slc, int dpc, int opc, bool emergency = true) {
  return testsupport::create_image(seq, slot, [&](LGCP::CreateParams& p) {
    LGCP::SS7Params& s = p.select_pstn().select_ss7();
    s.set_trunk(1);
    s.set_slc(slc);
    s.set_dpc(dpc);
    s.set_opc(opc);
    s.set_emergency(emergency);
  });
}

std::string rq_bsn_image(int seq, int slot) {
  return testsupport::command_image(seq, slot, [](LGCP::Command& c) { c.select_ioctl().select_ss7RqBSN(); });
}

class PstnSlotsServer : public sigtest::SlotsServerSuite<tell> {
 protected:
  // The frame, unless it has come already.
  static void until_seen(const std::string& wanted) {
    if (std::find(seen.begin(), seen.end(), wanted) == seen.end()) until(wanted);
  }
  // Both frames, in either order.
  static void until_both(const std::string& first, const std::string& second) {
    until(first);
    until_seen(second);
  }
  // The slot's frame just before its "signal activated"; "" when none.
  static std::string before_activated(int slot) {
    const std::vector<std::string> mine = of_slot(seen, slot);
    auto act = std::find(mine.begin(), mine.end(), "slot " + std::to_string(slot) + " signal activated");
    return act == mine.begin() || act == mine.end() ? "" : *(act - 1);
  }
  // The frames of one slot in `frames`, link counters left out.
  static std::vector<std::string> of_slot(const std::vector<std::string>& frames, int slot, bool counters = false) {
    const std::string head = "slot " + std::to_string(slot) + " ";
    std::vector<std::string> out;
    for (const std::string& f : frames)
      if (f.compare(0, head.size(), head) == 0 && (counters || f != head + "hdlcLinkInfo")) out.push_back(f);
    return out;
  }
  static std::string ts_of(const std::string& channel_line) { return channel_line.substr(0, channel_line.find(':')); }
  // Frames the channel wrote, until n came.
  static std::vector<std::string> written(const std::string& ts, std::size_t n) {
    std::vector<std::string> got;
    testsupport::eventually([&] {
      for (const std::string& l : lines(ask("mcc read " + ts))) got.push_back(l);
      return got.size() >= n;
    });
    return got;
  }

  // Collects what the channel writes until `frame` comes; in last_written.
  static bool written_until(const std::string& ts, const std::string& frame) {
    last_written.clear();
    return testsupport::eventually([&] {
      for (const std::string& l : lines(ask("mcc read " + ts))) last_written.push_back(l);
      return std::find(last_written.begin(), last_written.end(), frame) != last_written.end();
    });
  }

  // What the channel writes in answer to `frame` (none: to what came
  // before): the frames up to the denial of an identity request for Ai 70
  // sent after it, which changes nothing. A terminal manager's idle polls
  // (RR commands with P set), which a slow machine may see at any point, are
  // answered as a terminal would (all its I frames received) and left out,
  // as are its resent I frames.
  static std::vector<std::string> answer(const std::string& ts, const std::string& frame = "") {
    if (!frame.empty()) EXPECT_EQ(ask("mcc inject " + ts + " " + frame), "") << frame;
    ++probe_ri;
    const char ri_octets[2] = {static_cast<char>(probe_ri & 0xFF), static_cast<char>(probe_ri >> 8)};
    const std::string ri = testsupport::hex_word(ri_octets, 2);
    EXPECT_EQ(ask("mcc inject " + ts + " FCFF030F" + ri + "018D"), "");
    const std::string mark = "FEFF030F" + ri + "038D";
    EXPECT_TRUE(written_until(ts, mark)) << frame << "\n" << join(last_written);
    std::vector<std::string> out;
    for (auto f = last_written.begin(); f != last_written.end() && *f != mark; ++f) {
      const bool poll = f->size() == 8 && f->compare(0, 2, "02") == 0 && f->compare(4, 2, "01") == 0 &&
                        (std::stoi(f->substr(6), nullptr, 16) & 1);
      const bool i_frame =
          f->size() > 8 && f->compare(0, 2, "02") == 0 && !(std::stoi(f->substr(4, 2), nullptr, 16) & 1);
      const std::string tei = f->size() >= 4 ? f->substr(2, 2) : "";
      if (poll) {
        const char rr[4] = {0x02, static_cast<char>(std::stoi(tei, nullptr, 16)), 0x01,
                            static_cast<char>((received_by[tei] << 1) | 1)};
        EXPECT_EQ(ask("mcc inject " + ts + " " + testsupport::hex_word(rr, 4)), "");
        continue;
      }
      if (i_frame && !sent_i.insert(*f).second) continue;
      if (i_frame) received_by[tei] = ((std::stoi(f->substr(4, 2), nullptr, 16) >> 1) + 1) & 127;
      out.push_back(*f);
    }
    return out;
  }

  static inline std::vector<std::string> last_written;
  static inline std::uint16_t probe_ri = 0x7000;
  static inline std::set<std::string> sent_i;
  static inline std::map<std::string, int> received_by;  // I frames, by TEI octet
};

TEST_F(PstnSlotsServer, IsdnPairEstablishesCarriesMessagesAndReleases) {
  exchange(testsupport::trunk_image(1, 1, 1, 1), "seq 1 slot 1 success");
  exchange(testsupport::trunk_image(2, 2, 1, 2), "seq 2 slot 2 success");
  // pstn isdn {pri, trunk 1, log 0, user}, as the controller sends it.
  exchange("C0 01 01 00 0A 08 32 80 01 01 01 00 00", "seq 1 slot 10 success");
  exchange(isdn_image(3, 11, false, true), "seq 3 slot 11 success");
  EXPECT_EQ(ask("mcc channels"), "");

  // Fed by the trunk time slots, each opens a primary-rate channel and
  // starts establishing.
  exchange(testsupport::connect_image(4, 1, 10), "seq 4 slot 1 success");
  exchange(testsupport::connect_image(5, 2, 11), "seq 5 slot 2 success");
  const std::vector<std::string> ch = lines(ask("mcc channels"));
  ASSERT_EQ(ch.size(), 2u);
  const std::string user = ts_of(ch[0]), network = ts_of(ch[1]);
  EXPECT_EQ(ch[0], user + ":0,512,0,1,4");
  EXPECT_EQ(ch[1], network + ":0,512,0,1,4");
  EXPECT_EQ(written(user, 1).front(), "00017F");
  EXPECT_EQ(written(network, 1).front(), "02017F");

  // On the wire the next SABME is answered: both links report their
  // record, then activated.
  EXPECT_EQ(ask("mcc wire " + user + " " + network), "");
  until_both("slot 10 signal activated", "slot 11 signal activated");
  for (int slot : {10, 11}) {
    const std::string prefix = "slot " + std::to_string(slot) + " isdnLinkInfo " + (slot == 11 ? "network " : "user ");
    EXPECT_EQ(before_activated(slot).substr(0, prefix.size()), prefix) << join(seen);
  }
  // By the next period both records say multiple-frame-established.
  until_both("slot 10 isdnLinkInfo user multiple-frame-established",
             "slot 11 isdnLinkInfo network multiple-frame-established");

  // Layer-3 messages both ways, once each and in order, also past two
  // writes that would block.
  exchange(testsupport::user_data_image(6, 10, data("08010505")), "seq 6 slot 10 success");
  until("slot 11 userData 08010505");
  exchange(testsupport::user_data_image(7, 11, data("08018507")), "seq 7 slot 11 success");
  until("slot 10 userData 08018507");
  EXPECT_EQ(ask("mcc eagain " + user + " 2"), "");
  seen.clear();
  exchange(testsupport::user_data_image(8, 10, data("0801057B01")), "seq 8 slot 10 success");
  exchange(testsupport::user_data_image(9, 10, data("0801057B02")), "seq 9 slot 10 success");
  until("slot 11 userData 0801057B02");
  // The link's periodic record may come between them: its counters moved.
  std::vector<std::string> messages;
  for (const std::string& f : of_slot(seen, 11))
    if (f.compare(0, 17, "slot 11 userData ") == 0) messages.push_back(f);
  EXPECT_EQ(messages, (std::vector<std::string>{"slot 11 userData 0801057B01", "slot 11 userData 0801057B02"}))
      << join(seen);

  // Released by the controller: the changed record, the counters, then
  // deactivated; the far end goes down too.
  seen.clear();
  srv->ctl.send(testsupport::null_command_image(10, 10, "deactivate"));
  until_both("slot 10 signal deactivated", "slot 11 signal deactivated");
  std::vector<std::string> mine = of_slot(seen, 10, true);
  ASSERT_GE(mine.size(), 3u) << join(seen);
  EXPECT_EQ(mine[mine.size() - 3].substr(0, 26), "slot 10 isdnLinkInfo user ") << join(seen);
  EXPECT_EQ(mine[mine.size() - 2], "slot 10 hdlcLinkInfo");
  // The signal's image.
  EXPECT_EQ(testsupport::describe("40 00 0A 86 00"), "slot 10 signal deactivated");

  // ISDN slots take no SS7 requests; a create with cas is a slot without a
  // link.
  exchange(rq_bsn_image(11, 10), "seq 11 slot 10 error unsupported");
  exchange(testsupport::null_command_image(12, 10, "destroy"), "seq 12 slot 10 success");
  exchange(testsupport::null_command_image(13, 11, "destroy"), "seq 13 slot 11 success");
  exchange(testsupport::null_command_image(14, 1, "destroy"), "seq 14 slot 1 success");
  exchange(testsupport::null_command_image(15, 2, "destroy"), "seq 15 slot 2 success");
  EXPECT_EQ(ask("mcc channels"), "");
}

TEST_F(PstnSlotsServer, Ss7PairAlignsAfterTheWireAndCarriesMessageUnits) {
  exchange(testsupport::trunk_image(20, 1, 1, 1), "seq 20 slot 1 success");
  exchange(testsupport::trunk_image(21, 2, 1, 2), "seq 21 slot 2 success");
  // pstn ss7 {trunk 1, slc 2, dpc 3, opc 4, emergency TRUE}.
  exchange("C0 01 01 00 0A 08 30 01 01 01 02 01 03 01 04 80", "seq 1 slot 10 success");
  exchange(ss7_image(2, 11, 2, 4, 3), "seq 2 slot 11 success");
  exchange(testsupport::connect_image(3, 1, 10), "seq 3 slot 1 success");
  exchange(testsupport::connect_image(4, 2, 11), "seq 4 slot 2 success");
  const std::vector<std::string> ch = lines(ask("mcc channels"));
  ASSERT_EQ(ch.size(), 2u);
  const std::string a = ts_of(ch[0]), b = ts_of(ch[1]);
  EXPECT_EQ(ch[0], a + ":3,512,0,1,4");
  EXPECT_EQ(ch[1], b + ":3,512,0,1,4");
  // Both links start out of alignment before the far end listens.
  EXPECT_EQ(written(a, 1).front(), "FFFF0100");
  EXPECT_EQ(written(b, 1).front(), "FFFF0100");

  EXPECT_EQ(ask("mcc wire " + a + " " + b), "");
  until_both("slot 10 signal activated", "slot 11 signal activated");
  for (int slot : {10, 11})
    EXPECT_EQ(before_activated(slot), "slot " + std::to_string(slot) + " ss7LinkInfo worked") << join(seen);
  // The link's own direction to its line, connected and taken away again:
  // an SS7 link stays in service (the messages below still pass).
  exchange(testsupport::connect_image(40, 10, 1), "seq 40 slot 10 success");
  exchange(testsupport::command_image(41, 1, [](LGCP::Command& c) { c.select_disconnect(); }),
           "seq 41 slot 1 success");

  // Nothing received yet: BSN 127; after one MSU in, 0.
  exchange(rq_bsn_image(5, 10), "seq 5 slot 10 success");
  EXPECT_EQ(of_slot(seen, 10).back(), "slot 10 ss7BSN 127");
  exchange(testsupport::user_data_image(6, 11, data("830102")), "seq 6 slot 11 success");
  until("slot 10 userData 830102");
  exchange(rq_bsn_image(7, 10), "seq 7 slot 10 success");
  EXPECT_EQ(of_slot(seen, 10).back(), "slot 10 ss7BSN 0");

  // MSUs the other way, past a refused write.
  EXPECT_EQ(ask("mcc eagain " + a + " 1"), "");
  seen.clear();
  exchange(testsupport::user_data_image(8, 10, data("83AA01")), "seq 8 slot 10 success");
  exchange(testsupport::user_data_image(9, 10, data("83AA0203")), "seq 9 slot 10 success");
  until("slot 11 userData 83AA0203");
  // (The periodic link reports may fall in between.)
  std::vector<std::string> msus;
  for (const std::string& f : of_slot(seen, 11))
    if (f.compare(0, 17, "slot 11 userData ") == 0) msus.push_back(f);
  EXPECT_EQ(msus, (std::vector<std::string>{"slot 11 userData 83AA01", "slot 11 userData 83AA0203"})) << join(seen);

  // The edges of what the controller may hand the link. Fewer than three
  // octets would go out reading as a FISU or an LSSU and end the far end's
  // service: the command succeeds and the link drops them. Three octets,
  // and the longest userData the control link carries (16383 octets), go
  // through whole, in order.
  seen.clear();
  const std::string longest = "83" + std::string(2 * 16382, 'C');
  exchange(testsupport::user_data_image(30, 10, data("")), "seq 30 slot 10 success");
  exchange(testsupport::user_data_image(31, 10, data("83AA")), "seq 31 slot 10 success");
  exchange(testsupport::user_data_image(32, 10, data(longest)), "seq 32 slot 10 success");
  exchange(testsupport::user_data_image(33, 10, data("83AA05")), "seq 33 slot 10 success");
  until("slot 11 userData 83AA05");
  msus.clear();
  for (const std::string& f : of_slot(seen, 11))
    if (f.compare(0, 17, "slot 11 userData ") == 0)
      msus.push_back(f == "slot 11 userData " + longest ? "slot 11 userData (longest)" : f.substr(0, 60));
  EXPECT_EQ(msus, (std::vector<std::string>{"slot 11 userData (longest)", "slot 11 userData 83AA05"}));
  EXPECT_TRUE(srv->wait_log("msu shorter than 3 octets, ignoring msu")) << srv->log();
  for (const std::string& f : seen) EXPECT_EQ(f.find("signal deactivated"), std::string::npos) << f;

  // Periodic reports every 3000 ms carry the SS7 record too.
  until("slot 10 ss7LinkInfo worked");

  // ss7Log with the state trace on, then the release is logged.
  exchange("C0 01 01 00 0A 12 15 00", "seq 1 slot 10 success");
  seen.clear();
  srv->ctl.send(testsupport::null_command_image(10, 10, "deactivate"));
  until_both("slot 10 signal deactivated", "slot 11 signal deactivated");
  EXPECT_TRUE(srv->wait_log("SS7/L2 [dpc=3, slc=2, trunk=1]: change state from \"worked\" to \"idle\"")) << srv->log();

  exchange(testsupport::null_command_image(11, 10, "destroy"), "seq 11 slot 10 success");
  exchange(testsupport::null_command_image(12, 11, "destroy"), "seq 12 slot 11 success");
  exchange(testsupport::null_command_image(13, 1, "destroy"), "seq 13 slot 1 success");
  exchange(testsupport::null_command_image(14, 2, "destroy"), "seq 14 slot 2 success");
  EXPECT_EQ(ask("mcc channels"), "");
}

TEST_F(PstnSlotsServer, BasicRateSlotsNeedBothDirections) {
  exchange(testsupport::trunk_image(1, 3, 1, 3, true), "seq 1 slot 3 success");
  // User side: one direction allocates nothing, the second activates.
  exchange(isdn_image(2, 10, true, false), "seq 2 slot 10 success");
  exchange(testsupport::connect_image(3, 3, 10), "seq 3 slot 3 success");
  EXPECT_EQ(ask("mcc channels"), "");
  exchange(testsupport::connect_image(4, 10, 3), "seq 4 slot 10 success");
  std::vector<std::string> ch = lines(ask("mcc channels"));
  ASSERT_EQ(ch.size(), 1u);
  std::string ts = ts_of(ch[0]);
  EXPECT_EQ(ch[0], ts + ":1,512,0,1,4");
  EXPECT_EQ(written(ts, 1).front(), "00017F");
  EXPECT_EQ(ask("mcc inject " + ts + " 000173"), "");
  std::vector<std::string> got = of_slot(until("slot 10 signal activated"), 10);
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[got.size() - 2].substr(0, 26), "slot 10 isdnLinkInfo user ");
  exchange(testsupport::null_command_image(5, 10, "destroy"), "seq 5 slot 10 success");
  EXPECT_EQ(ask("mcc channels"), "");

  // Network side, the terminal manager on the engine: activation checks
  // every TEI; an identity request gets TEI 64; a terminal's message goes
  // up, the controller's goes to the terminal by its call reference.
  exchange(isdn_image(6, 11, true, true), "seq 6 slot 11 success");
  exchange(testsupport::connect_image(7, 11, 3), "seq 7 slot 11 success");  // this way first: nothing yet
  EXPECT_EQ(ask("mcc channels"), "");
  exchange(testsupport::connect_image(8, 3, 11), "seq 8 slot 3 success");
  ch = lines(ask("mcc channels"));
  ASSERT_EQ(ch.size(), 1u);
  ts = ts_of(ch[0]);
  EXPECT_EQ(ch[0], ts + ":1,512,0,1,4");
  until_seen("slot 11 signal activated");
  EXPECT_EQ(written(ts, 1).front(), "FEFF030F000004FF");
  EXPECT_EQ(ask("mcc inject " + ts + " FCFF030F123401FF"), "");
  EXPECT_TRUE(written_until(ts, "02817F")) << join(last_written);
  EXPECT_NE(std::find(last_written.begin(), last_written.end(), "FEFF030F12340281"), last_written.end());
  EXPECT_EQ(ask("mcc inject " + ts + " 0081000008010505"), "");
  until("slot 11 userData 08010505");
  exchange(testsupport::user_data_image(9, 11, data("08018507")), "seq 9 slot 11 success");
  EXPECT_TRUE(written_until(ts, "0281000308018507")) << join(last_written);
  seen.clear();
  exchange(testsupport::null_command_image(10, 11, "deactivate"), "seq 10 slot 11 success");
  until_seen("slot 11 signal deactivated");
  const std::vector<std::string> mine = of_slot(seen, 11, true);
  ASSERT_GE(mine.size(), 2u) << join(seen);
  EXPECT_EQ(mine[mine.size() - 2], "slot 11 hdlcLinkInfo") << join(seen);
  EXPECT_EQ(mine.back(), "slot 11 signal deactivated") << join(seen);
  seen.clear();
  exchange(testsupport::null_command_image(13, 11, "deactivate"), "seq 13 slot 11 success");  // told once only
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "slot 11 signal deactivated"), 0) << join(seen);
  exchange(testsupport::null_command_image(11, 11, "destroy"), "seq 11 slot 11 success");
  exchange(testsupport::null_command_image(12, 3, "destroy"), "seq 12 slot 3 success");
  EXPECT_EQ(ask("mcc channels"), "");
}

// The terminal manager on a basic-rate bus the test plays, with terminals
// on several TEIs: every management frame octet by octet (Ri goes back as it
// came, Ai with its E bit), the pool running out, checks that remove the
// silent and the duplicated, hostile management frames, links the terminals
// set up, and what the controller hears (userData only, no ISDN records).
TEST_F(PstnSlotsServer, TerminalManagerServesSeveralTerminals) {
  const auto ok = [](int seq, int slot) {
    return "seq " + std::to_string(seq) + " slot " + std::to_string(slot) + " success";
  };
  exchange(testsupport::trunk_image(400, 3, 1, 3, true), ok(400, 3));
  exchange(testsupport::create_image(401, 11,
                                     [](LGCP::CreateParams& p) {
                                       LGCP::IsdnParams& i = p.select_pstn().select_isdn();
                                       testsupport::fill_isdn(i, true, true);
                                       i.set_log(2);  // the per-terminal lines too
                                     }),
           ok(401, 11));
  seen.clear();
  exchange(testsupport::connect_image(402, 3, 11), ok(402, 3));
  exchange(testsupport::connect_image(403, 11, 3), ok(403, 11));
  const std::vector<std::string> ch = lines(ask("mcc channels"));
  ASSERT_EQ(ch.size(), 1u);
  const std::string ts = ts_of(ch[0]);
  until_seen("slot 11 signal activated");
  using Frames = std::vector<std::string>;
  EXPECT_EQ(answer(ts), Frames({"FEFF030F000004FF"}));  // every TEI checked at activation

  const Frames none;
  const Frames remove_all = {"FEFF030F000006FF", "FEFF030F000006FF"};
  const struct {
    const char* in;
    Frames out;
  } steps[] = {
      // Automatic values from 64 up, each followed by SABME P = 1 at once.
      {"FCFF030F123401FF", {"FEFF030F12340281", "02817F"}},
      {"FCFF030F567801FF", {"FEFF030F56780283", "02837F"}},
      {"FCFF030F9ABC01FE", {"FEFF030F9ABC0285", "02857F"}},  // E bit of Ai not looked at
      // A requested value: denied with it; below 64: no answer.
      {"FCFF030F000201C9", {"FEFF030F000203C9"}},
      {"FCFF030F00020101", none},
      {"FCFF030F0002017F", none},
      // Hostile or foreign management frames: dropped.
      {"FCFF030F123401", none},    // no Ai
      {"FCFF030E123401FF", none},  // another entity
      {"FCFF130F123401FF", none},  // UI with P set
      {"FDFF030F123401FF", none},  // EA0 set
      {"FCFE030F123401FF", none},  // EA1 clear
      {"FCFF03", none},
      {"FCFF", none},
      {"FCFF030F00000281", none},  // types the network sends, or none at all
      {"FCFF030F00000381", none},
      {"FCFF030F00000481", none},
      {"FCFF030F00000681", none},
      {"FCFF030F00000081", none},
      {"FCFF030F00000881", none},
      {"FCFF030F000105FF", remove_all},  // a check response for Ai 127
      // Terminals 64 and 65 set their links up and send a call each.
      {"00817F", {"008173"}},
      {"00837F", {"008373"}},
      {"0081000008010505", {"00810102"}},  // acknowledged by an RR response, F = 0
      {"0083000108010A05", {"00830103"}},  // P = 1: F = 1
      {"00FF0308010A07", none},            // a broadcast message goes up
      {"00FF1308010A07", none},            // not UI: dropped
  };
  for (const auto& step : steps) EXPECT_EQ(answer(ts, step.in), step.out) << step.in;

  // The controller's messages: a SETUP to everyone, the rest by call
  // reference, one for nobody's call dropped.
  exchange(testsupport::user_data_image(404, 11, data("08010105")), ok(404, 11));
  exchange(testsupport::user_data_image(405, 11, data("08018A07")), ok(405, 11));
  exchange(testsupport::user_data_image(406, 11, data("08018507")), ok(406, 11));
  exchange(testsupport::user_data_image(407, 11, data("08013307")), ok(407, 11));
  EXPECT_EQ(answer(ts), Frames({"02FF0308010105", "0283000308018A07", "0281000308018507"}));
  EXPECT_EQ(answer(ts, "02830102"), none);  // acknowledged
  EXPECT_EQ(answer(ts, "02810102"), none);

  // A verify request checks every TEI: 64 answers, and then a second
  // terminal on 64 answers with another Ri (both told to go); 66 answers
  // twice with one Ri (a repeat); 65 keeps silent and goes after 2 s.
  EXPECT_EQ(answer(ts, "FCFF030F00000781"), Frames({"FEFF030F000004FF"}));
  EXPECT_EQ(answer(ts, "FCFF030FABCD0581"), none);
  EXPECT_EQ(answer(ts, "FCFF030F11110585"), none);
  EXPECT_EQ(answer(ts, "FCFF030F11110585"), none);
  EXPECT_EQ(answer(ts, "FCFF030F22220581"), Frames({"FEFF030F00000681", "FEFF030F00000681"}));
  EXPECT_TRUE(srv->wait_log("LAPD_user(NT BRI)[Tei=65,assigned,check] unassigned")) << srv->log();
  EXPECT_EQ(answer(ts, "FCFF030F010001FF"), Frames({"FEFF030F01000281", "02817F"}));  // the lowest free
  EXPECT_EQ(answer(ts, "FCFF030F020001FF"), Frames({"FEFF030F02000283", "02837F"}));
  EXPECT_TRUE(srv->wait_log("LAPD_user(NT BRI)[unassigned]: assigned")) << srv->log();

  // A frame for a TEI nobody holds takes a free user; four more requests
  // fill the eight; then requests are denied, and frames and check
  // responses for unknown TEIs are told to go.
  EXPECT_EQ(answer(ts, "00C90100"), Frames({"02C97F"}));
  for (const char* tei : {"87", "89", "8B", "8D"})
    EXPECT_EQ(answer(ts, "FCFF030F030001FF"),
              Frames({std::string("FEFF030F030002") + tei, std::string("02") + tei + "7F"}));
  EXPECT_EQ(answer(ts, "FCFF030F040001FF"), Frames({"FEFF030F040003FF"}));
  EXPECT_EQ(answer(ts, "00297F"), Frames({"FEFF030F00000629", "FEFF030F00000629"}));
  EXPECT_EQ(answer(ts, "FCFF030F0500052B"), Frames({"FEFF030F0000062B", "FEFF030F0000062B"}));
  // A flood of requests: each denied with its own Ri, none lost.
  for (int i = 0; i < 200; ++i) EXPECT_EQ(ask("mcc inject " + ts + " FCFF030F06000" + "1FF"), "");
  EXPECT_EQ(answer(ts), Frames(200, "FEFF030F060003FF"));
  // A terminal that leaves frees its user: its TEI is the next one given.
  EXPECT_EQ(answer(ts, "008353"), Frames({"008373"}));
  EXPECT_EQ(answer(ts, "FCFF030F070001FF"), Frames({"FEFF030F07000283", "02837F"}));

  const Frames heard = of_slot(seen, 11);
  const Frames up = {"slot 11 userData 08010505", "slot 11 userData 08010A05", "slot 11 userData 08010A07"};
  Frames got;
  for (const std::string& f : heard)
    if (f.find("userData") != std::string::npos) got.push_back(f);
  EXPECT_EQ(got, up) << join(seen);
  for (const std::string& f : heard) EXPECT_EQ(f.find("isdnLinkInfo"), std::string::npos) << f;

  exchange(testsupport::null_command_image(408, 11, "destroy"), ok(408, 11));
  exchange(testsupport::null_command_image(409, 3, "destroy"), ok(409, 3));
  EXPECT_EQ(ask("mcc channels"), "");
}

TEST_F(PstnSlotsServer, EdgeCases) {
  // A slot without a trunk fed to a primary-rate slot: refused, logged.
  exchange(testsupport::ext_image(1, 4, 100, 101), "seq 1 slot 4 success");
  exchange(isdn_image(2, 12, false, false), "seq 2 slot 12 success");
  exchange(testsupport::connect_image(3, 4, 12), "seq 3 slot 4 error connectFail");
  EXPECT_TRUE(srv->wait_log("pstn-slot: invalid trunk number: 4294967295")) << srv->log();
  EXPECT_EQ(ask("mcc channels"), "");
  // The same for an SS7 slot; a basic-rate link takes no trunk of its
  // source: the connect stands (one direction, nothing opens yet).
  exchange(ss7_image(4, 14, 2, 3, 4), "seq 4 slot 14 success");
  exchange(testsupport::connect_image(5, 4, 14), "seq 5 slot 4 error connectFail");
  exchange(isdn_image(6, 15, true, false), "seq 6 slot 15 success");
  exchange(testsupport::connect_image(7, 4, 15), "seq 7 slot 4 success");
  EXPECT_EQ(ask("mcc channels"), "");
  // The bounds: a fifth interface (basic-rate trunk 4) is refused, the last
  // time slot of the fourth E1 trunk taken.
  exchange(testsupport::trunk_image(111, 7, 4, 0, true), "seq 111 slot 7 success");
  exchange(testsupport::connect_image(112, 7, 14), "seq 112 slot 7 error connectFail");
  EXPECT_TRUE(srv->wait_log("pstn-slot: invalid trunk number: 4\n")) << srv->log();
  exchange(testsupport::trunk_image(113, 8, 3, 31), "seq 113 slot 8 success");
  exchange(testsupport::connect_image(114, 8, 14), "seq 114 slot 8 success");
  EXPECT_EQ(lines(ask("mcc channels")).size(), 1u);
  for (int slot : {14, 15, 7, 8})
    exchange(testsupport::null_command_image(110 + slot, slot, "destroy"),
             "seq " + std::to_string(110 + slot) + " slot " + std::to_string(slot) + " success");

  // 89 messages to a link that is not up: the queue reports congestion.
  seen.clear();
  for (int i = 0; i < 89; ++i) srv->ctl.send(testsupport::user_data_image(10 + i, 12, data("080101")));
  until("seq 98 slot 12 success");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "slot 12 isdnLinkStatus 1"), 1) << join(seen);
  exchange(testsupport::null_command_image(100, 12, "destroy"), "seq 100 slot 12 success");

  // cas: no link; userData accepted, a connect opens a type 0 channel and
  // nothing activates; SS7 requests unsupported.
  exchange(testsupport::create_image(101, 13, [](LGCP::CreateParams& p) { p.select_pstn().select_cas(); }),
           "seq 101 slot 13 success");
  exchange(testsupport::user_data_image(102, 13, data("01")), "seq 102 slot 13 success");
  exchange(testsupport::trunk_image(103, 5, 1, 7), "seq 103 slot 5 success");
  seen.clear();
  exchange(testsupport::connect_image(104, 5, 13), "seq 104 slot 5 success");
  const std::vector<std::string> ch = lines(ask("mcc channels"));
  ASSERT_EQ(ch.size(), 1u);
  EXPECT_EQ(ch[0], ts_of(ch[0]) + ":3,512,0,1,4");
  exchange(rq_bsn_image(105, 13), "seq 105 slot 13 error unsupported");
  exchange(testsupport::command_image(106, 13, [](LGCP::Command& c) { c.select_ioctl().select_ss7Log(); }),
           "seq 106 slot 13 error unsupported");
  until("slot 13 hdlcLinkInfo");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "slot 13 signal activated"), 0) << join(seen);
  exchange(testsupport::null_command_image(107, 13, "destroy"), "seq 107 slot 13 success");
  exchange(testsupport::null_command_image(108, 5, "destroy"), "seq 108 slot 5 success");
  exchange(testsupport::null_command_image(109, 4, "destroy"), "seq 109 slot 4 success");
  EXPECT_EQ(ask("mcc channels"), "");
}

// Each step of opening the engine refused in turn, for an SS7 and a
// primary-rate link: the connect stands, the slot signals deactivated at
// once, no controller channel or line wiring is left, and an activate
// brings the link up once the board takes it again.
TEST_F(PstnSlotsServer, RefusedEngineStepsSignalDeactivatedAndActivateRecovers) {
  const struct {
    const char* fail;
    const char* line;
  } steps[] = {{"mcc fail open ENFILE 1", "fail to open MCC device: "},
               {"mcc fail allocate EBUSY 1", "MCC_ALLOCATE fail: "},
               {"mcc fail timeslot EIO 1", "MCC_TIMESLOT fail: "},
               {"hal fail connect 5 1", "switch connect fail for controller channel "}};
  exchange(testsupport::trunk_image(200, 6, 1, 9), "seq 200 slot 6 success");
  int seq = 201;
  for (const auto& step : steps) {
    for (bool ss7 : {true, false}) {
      SCOPED_TRACE(std::string(step.fail) + (ss7 ? " ss7" : " isdn"));
      const int n = seq;
      seq += 5;
      exchange(ss7 ? ss7_image(n, 14, 2, 3, 4) : isdn_image(n, 14, false, false),
               "seq " + std::to_string(n) + " slot 14 success");
      const std::string wiring = ask("hal list");
      EXPECT_EQ(ask(step.fail), "");
      seen.clear();
      exchange(testsupport::connect_image(n + 1, 6, 14), "seq " + std::to_string(n + 1) + " slot 6 success");
      until_seen("slot 14 signal deactivated");
      EXPECT_TRUE(srv->wait_log(step.line)) << srv->log();
      EXPECT_EQ(ask("mcc channels"), "");
      EXPECT_EQ(ask("hal list"), wiring);
      EXPECT_EQ(std::count(seen.begin(), seen.end(), "slot 14 signal activated"), 0) << join(seen);

      exchange(testsupport::activate_image(n + 2, 14), "seq " + std::to_string(n + 2) + " slot 14 success");
      const std::vector<std::string> ch = lines(ask("mcc channels"));
      ASSERT_EQ(ch.size(), 1u);
      EXPECT_EQ(ch[0], ts_of(ch[0]) + (ss7 ? ":3,512,0,1,4" : ":0,512,0,1,4"));  // the controller's mode
      EXPECT_EQ(written(ts_of(ch[0]), 1).front(), ss7 ? "FFFF0100" : "00017F");
      exchange(testsupport::null_command_image(n + 3, 14, "destroy"),
               "seq " + std::to_string(n + 3) + " slot 14 success");
      EXPECT_EQ(ask("mcc channels"), "");
      EXPECT_EQ(ask("hal get " + ts_of(ch[0])), "disabled") << "the freed channel hears the trunk no more";
    }
  }
  exchange(testsupport::null_command_image(seq, 6, "destroy"), "seq " + std::to_string(seq) + " slot 6 success");
}

// A line the link no longer has is not wired again: a basic-rate link that
// lost its receiver and then gets a new source, and a primary-rate link
// activated after its source left, must not take over the old line, which
// has another source by then.
TEST_F(PstnSlotsServer, ALineGoneFromTheLinkIsNotWiredAgain) {
  const auto disconnect = [](int seq, int slot) {
    return testsupport::command_image(seq, slot, [](LGCP::Command& c) { c.select_disconnect(); });
  };
  const auto ok = [](int seq, int slot) {
    return "seq " + std::to_string(seq) + " slot " + std::to_string(slot) + " success";
  };
  // Basic rate: lines 7 and 6 (trunk 1, channels 3 and 2).
  exchange(testsupport::trunk_image(300, 3, 1, 3, true), ok(300, 3));
  exchange(testsupport::trunk_image(301, 4, 1, 2, true), ok(301, 4));
  exchange(isdn_image(302, 10, true, false), ok(302, 10));
  exchange(testsupport::connect_image(303, 3, 10), ok(303, 3));
  exchange(testsupport::connect_image(304, 10, 3), ok(304, 10));
  ASSERT_EQ(lines(ask("mcc channels")).size(), 1u);
  // A switch that will not quieten line 7 at the disconnect: the line may
  // still carry the link's channel, and the controller hears
  // disconnectFail, not success.
  EXPECT_EQ(ask("hal fail write 5 1"), "");
  exchange(disconnect(330, 3), "seq 330 slot 3 error disconnectFail");
  exchange(testsupport::connect_image(331, 10, 3), ok(331, 10));
  exchange(disconnect(305, 3), ok(305, 3));
  exchange(testsupport::connect_image(306, 4, 3), ok(306, 4));
  EXPECT_EQ(ask("hal get 7"), "connected 6");
  exchange(disconnect(307, 10), ok(307, 10));
  exchange(testsupport::connect_image(308, 4, 10), ok(308, 4));
  EXPECT_EQ(ask("hal get 7"), "connected 6") << "line 7 is fed by slot 4, not by slot 10's link";

  // Primary rate: lines 41 and 42 (trunk 1, time slots 9 and 10).
  exchange(testsupport::trunk_image(310, 5, 1, 9), ok(310, 5));
  exchange(testsupport::trunk_image(311, 6, 1, 10), ok(311, 6));
  exchange(isdn_image(312, 12, false, false), ok(312, 12));
  exchange(testsupport::connect_image(313, 5, 12), ok(313, 5));
  exchange(disconnect(314, 12), ok(314, 12));
  exchange(testsupport::connect_image(315, 6, 5), ok(315, 6));
  EXPECT_EQ(ask("hal get 41"), "connected 42");
  exchange(testsupport::activate_image(316, 12), ok(316, 12));
  EXPECT_EQ(ask("hal get 41"), "connected 42") << "line 41 is fed by slot 6, not by slot 12's link";

  for (int slot : {10, 12, 3, 4, 5, 6})
    exchange(testsupport::null_command_image(320 + slot, slot, "destroy"), ok(320 + slot, slot));
  EXPECT_EQ(ask("mcc channels"), "");
}

// One SS7 link without emergency against a far end the test plays through
// the simulator: every status unit it gets at each alignment state, the
// units the link writes, its signals, proving that lasts T4n (8200 ms,
// waited in real time once) unless the far end's FISU ends it, and a
// message unit held back by a write that would block.
TEST_F(PstnSlotsServer, Ss7NormalProvingLastsT4nAndFarEndUnitsMoveItAsTheTableSays) {
  int seq = 400;
  // Sends the command made for the next sequence number; waits for its
  // success, from the slot given (-1: none).
  const auto run = [&](int slot, const std::function<std::string(int)>& image) {
    const int q = ++seq;
    exchange(image(q), "seq " + std::to_string(q) + (slot < 0 ? "" : " slot " + std::to_string(slot)) + " success");
  };
  run(1, [](int q) { return testsupport::trunk_image(q, 1, 1, 1); });
  run(12, [](int q) { return ss7_image(q, 12, 5, 6, 7, false); });
  // ss7Log: the state and timers traces on.
  run(12, [](int q) {
    return testsupport::command_image(q, 12, [](LGCP::Command& c) {
      LGCP::SS7L2Log& l = c.select_ioctl().select_ss7Log();
      l.set_state(true), l.set_raw_receive(false), l.set_raw_transmit(false), l.set_mtp_transmit(false);
      l.set_mtp_receive(false), l.set_mtp_activate(false), l.set_timers(true), l.set_msu_processing(false);
    });
  });
  run(1, [](int q) { return testsupport::connect_image(q, 1, 12); });
  const std::vector<std::string> ch = lines(ask("mcc channels"));
  ASSERT_EQ(ch.size(), 1u);
  const std::string ts = ts_of(ch[0]);
  EXPECT_EQ(written(ts, 1), std::vector<std::string>{"FFFF0100"});

  const std::string h = "SS7/L2 [dpc=6, slc=5, trunk=1]";
  const std::string sio = "FFFF0100", sin = "FFFF0101", sie = "FFFF0102", sios = "FFFF0103", fisu = "FFFF00";
  // Each unit from the far end, then what the link wrote for it once the
  // loop has surely read it (two simulator round trips and a ping).
  const auto step = [&](const std::string& unit) {
    EXPECT_EQ(ask("mcc inject " + ts + " " + unit), "");
    ask("mcc channels"), ask("mcc channels");
    run(-1, [](int q) { return testsupport::null_command_image(q, -1, "ping"); });
    return lines(ask("mcc read " + ts));
  };
  using Units = std::vector<std::string>;
  const Units none;
  // Not aligned ignores SIOS; SIO aligns, answered by SIN (not SIE); aligned
  // ignores SIO and SIOS; an SIE from the far end proves, and the link still
  // sends SIN: its own emergency flag is not the far end's.
  EXPECT_EQ(step(sios), none);
  EXPECT_EQ(step(sio), Units{sin});
  EXPECT_EQ(step(sio), none);
  EXPECT_EQ(step(sios), none);
  EXPECT_EQ(step(sie), Units{sin});
  EXPECT_TRUE(srv->wait_log(h + ": change state from \"aligned\" to \"proving\"")) << srv->log();
  EXPECT_TRUE(srv->wait_log(h + " (proving): set T4")) << srv->log();
  // Past T3 and the emergency T4 (500 ms) proving goes on; SIN and SIE keep it.
  testsupport::eventually([] { return false; }, 1700);
  EXPECT_EQ(step(sin), none);
  EXPECT_EQ(step(sie), none);
  EXPECT_EQ(srv->log().find(h + ": change state from \"proving\" to \"aligned ready\""), std::string::npos)
      << srv->log();
  // The far end's FISU ends proving: two FISUs, the record, activated.
  seen.clear();
  EXPECT_EQ(step(fisu), (Units{fisu, fisu}));
  until_seen("slot 12 signal activated");
  EXPECT_EQ(before_activated(12), "slot 12 ss7LinkInfo worked") << join(seen);

  // Proving aborted by SIO: idle (SIOS, deactivated), and the link does not
  // realign by itself.
  run(12, [](int q) { return testsupport::null_command_image(q, 12, "deactivate"); });
  until_seen("slot 12 signal deactivated");
  EXPECT_EQ(lines(ask("mcc read " + ts)), Units{sios});
  EXPECT_EQ(step(sin), Units{sin});  // idle proves at once
  seen.clear();
  EXPECT_EQ(step(sio), Units{sios});
  until_seen("slot 12 signal deactivated");
  testsupport::eventually([] { return false; }, 1000);
  EXPECT_EQ(step(fisu), none) << "idle takes no FISU";

  // Proving left to run: aligned ready after T4n (never early), then a FISU
  // puts the link in service.
  const std::int64_t t0 = testsupport::real_ms();
  EXPECT_EQ(step(sin), Units{sin});
  ASSERT_TRUE(written_until(ts, fisu)) << srv->log();
  EXPECT_GE(testsupport::real_ms() - t0, 8200);
  EXPECT_EQ(last_written, Units{fisu});
  EXPECT_TRUE(srv->wait_log(h + " (proving): T4 expired.")) << srv->log();
  EXPECT_TRUE(srv->wait_log(h + ": change state from \"proving\" to \"aligned ready\"")) << srv->log();
  // Aligned ready ignores SIN and SIE like proving.
  EXPECT_EQ(step(sie), none);
  seen.clear();
  EXPECT_EQ(step(fisu), (Units{fisu, fisu}));
  until_seen("slot 12 signal activated");

  // In service, a message unit whose write would block waits in the TB and
  // goes out once, FSN 0, when the channel is ready again, with nothing else
  // to prompt it; the far end's acknowledgement then leaves nothing to send.
  EXPECT_EQ(ask("mcc eagain " + ts + " 1"), "");
  run(12, [](int q) { return testsupport::user_data_image(q, 12, data("830102")); });
  ASSERT_TRUE(written_until(ts, "FF8003830102")) << srv->log();
  EXPECT_EQ(last_written, Units{"FF8003830102"});
  EXPECT_TRUE(srv->wait_log(h + " (worked): hdlc ready")) << srv->log();
  EXPECT_EQ(step("80FF00"), none);

  run(12, [](int q) { return testsupport::null_command_image(q, 12, "destroy"); });
  run(1, [](int q) { return testsupport::null_command_image(q, 1, "destroy"); });
  EXPECT_EQ(ask("mcc channels"), "");
}

}  // namespace

namespace {

// Link records with the fields that do not hang on the timing of the run
// (timer expiries and RC do), trunk status by trunk and state.
std::string tell_record(const std::string& slot, const LGCP::IoctlResponse& r) {
  auto n = [](const auto& v) { return std::to_string(v.getValue()); };
  auto b = [](const auto& v) { return static_cast<bool>(v) ? "1" : "0"; };
  if (r.isdnLinkInfo_isSelected()) {
    const ACP::IsdnLinkInfo& i = r.get_isdnLinkInfo();
    const char* st = i.get_lapdState().getName();
    return slot + "isdnLinkInfo " + (i.get_side().asInt() ? "network " : "user ") + (st ? st : "?") + " tx " +
           n(i.get_msuTxCount()) + " rx " + n(i.get_msuRxCount()) + " rej " + n(i.get_rejected()) + " bad " +
           n(i.get_badconfirm()) + " retr " + n(i.get_retrains()) + " l3 " + b(i.get_l3Initiated()) + " est " +
           b(i.get_establishable()) + " v " + n(i.get_vs()) + "," + n(i.get_va()) + "," + n(i.get_vr()) + " q " +
           n(i.get_queueOut()) + "," + n(i.get_queueAck());
  }
  if (r.ss7LinkInfo_isSelected()) {
    const char* st = r.get_ss7LinkInfo().get_ss7state().getName();
    return slot + "ss7LinkInfo " + (st ? st : "?");
  }
  if (r.hdlcLinkInfo_isSelected()) return slot + "hdlcLinkInfo";
  return slot + "ioctl " + r.getSelectionName();
}

std::string tell_records(const std::string& frame) { return sigtest::tell_frame(frame, tell_record); }

// Link records and trunk status in the running server: what each link kind
// reports, when, and what an alarm of the trunk's framer does to it.
class PstnLinkReports : public sigtest::SlotsServerSuite<tell_records> {
 protected:
  static std::string ts_of(const std::string& l) { return l.substr(0, l.find(':')); }
  // Frames until `done` holds for everything seen since the last clear.
  static void until_all(const std::function<bool(const std::vector<std::string>&)>& done) {
    while (!done(seen)) {
      const std::string f = srv->ctl.next(testsupport::patience_ms);
      if (f.empty()) {
        ADD_FAILURE() << "the awaited frames did not come; came:\n" << join(seen) << srv->log();
        return;
      }
      seen.push_back(tell_records(f));
    }
  }
  // The slot's frame just before its "signal activated"; "" when none.
  static std::string before_activated(int slot) {
    const std::vector<std::string> mine = of(seen, slot);
    const auto act = std::find(mine.begin(), mine.end(), "signal activated");
    return act == mine.begin() || act == mine.end() ? "" : *(act - 1);
  }
  // Collects what the channel writes until `frame` comes.
  static bool written_until(const std::string& ts, const std::string& frame) {
    std::vector<std::string> got;
    return testsupport::eventually([&] {
      for (const std::string& l : lines(ask("mcc read " + ts))) got.push_back(l);
      return std::find(got.begin(), got.end(), frame) != got.end();
    });
  }
  // The controller channel that drives a trunk line ("" when none).
  static std::string driver_of(int line) {
    const std::string got = ask("hal get " + std::to_string(line));
    return got.compare(0, 10, "connected ") == 0 ? got.substr(10) : "";
  }
  static long times(const std::vector<std::string>& v, const std::string& f) { return std::count(v.begin(), v.end(), f); }
  // The slot's frames among `v`.
  static std::vector<std::string> of(const std::vector<std::string>& v, int slot) {
    const std::string head = "slot " + std::to_string(slot) + " ";
    std::vector<std::string> out;
    for (const std::string& f : v)
      if (f.compare(0, head.size(), head) == 0) out.push_back(f.substr(head.size()));
    return out;
  }
  // Waits until the slot has sent `periods` more periodic reports: the
  // server's own clock, whatever the load.
  static void periods_of(int slot, long periods) {
    const std::string tick = "slot " + std::to_string(slot) + " hdlcLinkInfo";
    const long from = times(seen, tick);
    until_all([&](const std::vector<std::string>& v) { return times(v, tick) >= from + periods; });
  }
};

// An SS7 link's answer to its trunk going down, in the order the slot sends
// it.
const std::vector<std::string> ss7_down = {"ss7LinkInfo idle", "hdlcLinkInfo", "ss7LinkInfo idle",
                                           "signal deactivated"};

// The E1 framer's alarms reach the SS7 links of that trunk (the create's
// trunk minus one) once per change, through the board's status reports:
// the links leave service and stay out when the trunk recovers, until the
// controller activates them. ISDN links on the same trunk and SS7 links of
// another trunk go on. A trunk slot destroyed under a link, and a connect
// that gives a link another time slot, end the link on its old line.
TEST_F(PstnLinkReports, TrunkAlarmsEndTheSs7LinksOfThatTrunkOnly) {
  // E1 trunk 0, time slots 1 to 4, and trunk 1, time slots 1 and 2.
  for (int t = 1; t <= 6; ++t)
    exchange(testsupport::trunk_image(t, t, t <= 4 ? 0 : 1, t <= 4 ? t : t - 4),
             "seq " + std::to_string(t) + " slot " + std::to_string(t) + " success");
  exchange(ss7_image(7, 10, 2, 3, 4), "seq 7 slot 10 success");  // trunk 1: E1 trunk 0
  exchange(ss7_image(8, 11, 2, 4, 3), "seq 8 slot 11 success");
  exchange(isdn_image(9, 12, false, false), "seq 9 slot 12 success");
  exchange(isdn_image(10, 13, false, true), "seq 10 slot 13 success");
  for (int s = 16; s <= 17; ++s)
    exchange(testsupport::create_image(s, s, [](LGCP::CreateParams& p) {
               LGCP::SS7Params& l = p.select_pstn().select_ss7();
               l.set_trunk(2);  // E1 trunk 1
               l.set_slc(1);
               l.set_dpc(1);
               l.set_opc(1);
               l.set_emergency(true);
             }),
             "seq " + std::to_string(s) + " slot " + std::to_string(s) + " success");
  int seq = 20;
  for (const auto& [trunk, link] : {std::pair{1, 10}, {2, 11}, {3, 12}, {4, 13}, {5, 16}, {6, 17}}) {
    exchange(testsupport::connect_image(seq, trunk, link),
             "seq " + std::to_string(seq) + " slot " + std::to_string(trunk) + " success");
    ++seq;
  }
  // Each link drives the line it hears: lines 1 to 4, 33 and 34.
  for (const auto& [a, b] : {std::pair{1, 2}, {3, 4}, {33, 34}})
    ASSERT_EQ(ask("mcc wire " + driver_of(a) + " " + driver_of(b)), "");
  until_all([](const std::vector<std::string>& v) {
    for (int s : {10, 11, 12, 13, 16, 17})
      if (!times(v, "slot " + std::to_string(s) + " signal activated")) return false;
    return true;
  });

  // Loss of carrier on E1 trunk 0; the board reports it every second.
  seen.clear();
  ASSERT_EQ(ask("e1 status 0 2 0 0 1 0 0"), "");
  until_all([](const std::vector<std::string>& v) {
    return times(v, "slot 10 signal deactivated") && times(v, "slot 11 signal deactivated");
  });
  EXPECT_TRUE(srv->wait_log("SS7/L2 [dpc=3, slc=2, trunk=1] (worked):  transport OFF by low level terminated"))
      << srv->log();
  // Two more periods: several reports of the same state came meanwhile.
  periods_of(10, 2);
  for (int s : {10, 11}) {
    const std::vector<std::string> mine = of(seen, s);
    const auto at = std::search(mine.begin(), mine.end(), ss7_down.begin(), ss7_down.end());
    EXPECT_NE(at, mine.end()) << s << "\n" << join(seen);
    EXPECT_EQ(times(mine, "signal deactivated"), 1) << s << "\n" << join(seen);
    EXPECT_EQ(times(mine, "ss7LinkInfo worked"), 0) << s << "\n" << join(seen);
  }
  for (int s : {12, 13, 16, 17}) {
    const std::vector<std::string> mine = of(seen, s);
    EXPECT_EQ(times(mine, "signal deactivated"), 0) << s << "\n" << join(seen);
  }
  EXPECT_GE(times(of(seen, 16), "ss7LinkInfo worked"), 1) << join(seen);
  EXPECT_EQ(times(of(seen, 16), "ss7LinkInfo idle"), 0) << join(seen);
  // The ISDN links are still established: messages pass.
  exchange(testsupport::user_data_image(40, 12, data("08010501")), "seq 40 slot 12 success");
  until("slot 13 userData 08010501");

  // The trunk recovers: the links stay out of service.
  seen.clear();
  ASSERT_EQ(ask("e1 status 0 0"), "");
  periods_of(10, 2);
  EXPECT_EQ(times(of(seen, 10), "signal activated"), 0) << join(seen);
  EXPECT_GE(times(of(seen, 10), "ss7LinkInfo idle"), 1) << join(seen);
  EXPECT_EQ(times(of(seen, 10), "ss7LinkInfo not-aligned"), 0) << join(seen);
  // An alarm of the other trunk ends the links there.
  ASSERT_EQ(ask("e1 status 1 3"), "");
  until_all([](const std::vector<std::string>& v) {
    return times(v, "slot 16 signal deactivated") && times(v, "slot 17 signal deactivated");
  });
  ASSERT_EQ(ask("e1 status 1 0"), "");
  // Activated by the controller, the links of trunk 0 align again.
  seen.clear();
  exchange(testsupport::activate_image(41, 10), "seq 41 slot 10 success");
  exchange(testsupport::activate_image(42, 11), "seq 42 slot 11 success");
  const std::string ch10 = driver_of(1), ch11 = driver_of(2);
  ASSERT_EQ(ask("mcc wire " + ch10 + " " + ch11), "");
  until_all([](const std::vector<std::string>& v) {
    return times(v, "slot 10 signal activated") && times(v, "slot 11 signal activated");
  });

  // The trunk slot under slot 11 destroyed: the link ends before the
  // answer; its channel stays, hearing and driving nothing.
  seen.clear();
  exchange(testsupport::null_command_image(43, 2, "destroy"), "seq 43 slot 2 success");
  const std::vector<std::string> mine = of(seen, 11);
  EXPECT_NE(std::search(mine.begin(), mine.end(), ss7_down.begin(), ss7_down.end()), mine.end()) << join(seen);
  EXPECT_EQ(ask("hal get " + ch11), "byte 213");
  EXPECT_EQ(ask("hal get 2"), "byte 213");
  // Slot 10 given time slot 5 of trunk 0 in place of 1: it leaves line 1
  // and starts aligning on line 5, on a channel of its own.
  exchange(testsupport::trunk_image(44, 7, 0, 5), "seq 44 slot 7 success");
  seen.clear();
  exchange(testsupport::connect_image(45, 7, 10), "seq 45 slot 7 success");
  EXPECT_EQ(times(of(seen, 10), "signal deactivated"), 1) << join(seen);
  EXPECT_EQ(lines(ask("mcc channels")).size(), 6u);
  const std::string fresh = driver_of(5);
  EXPECT_NE(fresh, ch10);
  EXPECT_EQ(ask("hal get " + fresh), "connected 5");
  EXPECT_EQ(ask("hal get 1"), "byte 213");
  // Out of alignment (SIO) on the new line.
  std::vector<std::string> units;
  EXPECT_TRUE(testsupport::eventually([&] {
    for (const std::string& l : lines(ask("mcc read " + fresh))) units.push_back(l);
    return !units.empty();
  }));
  EXPECT_EQ(units, std::vector<std::string>{"FFFF0100"});

  for (int s : {10, 11, 12, 13, 16, 17, 1, 3, 4, 5, 6, 7})
    exchange(testsupport::null_command_image(100 + s, s, "destroy"), "seq " + std::to_string(100 + s) + " slot " +
                                                                         std::to_string(s) + " success");
  EXPECT_EQ(ask("mcc channels"), "");
}

// The ISDN record of each kind: sent with the first period (the link's
// first state), then only when it changed; taken at the moment of the
// report, also across a release and a new establishment; never after the
// destroy. The far end of the primary-rate user link is played here.
TEST_F(PstnLinkReports, IsdnRecordsComeOnChangeOnlyAndEndWithTheSlot) {
  exchange(isdn_image(1, 20, false, false), "seq 1 slot 20 success");
  exchange(isdn_image(2, 21, false, true), "seq 2 slot 21 success");
  exchange(isdn_image(3, 22, true, false), "seq 3 slot 22 success");
  exchange(isdn_image(4, 23, true, true), "seq 4 slot 23 success");
  periods_of(23, 2);
  const std::string fresh = " tei-assigned tx 0 rx 0 rej 0 bad 0 retr 0 l3 0 est 1 v 0,0,0 q 0,0";
  const std::vector<std::string> first = {"hdlcLinkInfo", "", "hdlcLinkInfo"};
  for (const auto& [slot, record] : {std::pair{20, "isdnLinkInfo user"}, {21, "isdnLinkInfo network"},
                                     {22, "isdnLinkInfo user"}}) {
    std::vector<std::string> want = first;
    want[1] = record + fresh;
    std::vector<std::string> mine = of(seen, slot);
    mine.resize(std::min<std::size_t>(mine.size(), 3));
    EXPECT_EQ(mine, want) << slot << "\n" << join(seen);
  }
  EXPECT_EQ(of(seen, 23), (std::vector<std::string>{"hdlcLinkInfo", "hdlcLinkInfo"})) << join(seen);

  // Messages wait for the link: the next record counts them, the one
  // after that is not sent.
  for (int k = 0; k < 3; ++k)
    exchange(testsupport::user_data_image(10 + k, 20, data("0801010" + std::to_string(k))),
             "seq " + std::to_string(10 + k) + " slot 20 success");
  seen.clear();
  periods_of(20, 2);
  const std::string queued = "isdnLinkInfo user tei-assigned tx 3 rx 0 rej 0 bad 0 retr 0 l3 0 est 1 v 0,0,0 q 3,0";
  EXPECT_EQ(of(seen, 20), (std::vector<std::string>{"hdlcLinkInfo", queued, "hdlcLinkInfo"})) << join(seen);

  // On the line: the UA brings the link up; its record is taken before the
  // waiting messages leave, the next one after.
  exchange(testsupport::trunk_image(20, 8, 2, 1), "seq 20 slot 8 success");  // line 65
  exchange(testsupport::connect_image(21, 8, 20), "seq 21 slot 8 success");
  const std::string ts = driver_of(65);
  ASSERT_FALSE(ts.empty());
  seen.clear();
  EXPECT_TRUE(written_until(ts, "00017F"));
  ASSERT_EQ(ask("mcc inject " + ts + " 000173"), "");
  until("slot 20 signal activated");
  const std::string up = "isdnLinkInfo user multiple-frame-established tx 3 rx 0 rej 0 bad 0 retr 0 l3 1 est 1 ";
  EXPECT_EQ(before_activated(20), up + "v 0,0,0 q 3,0") << join(seen);
  EXPECT_TRUE(written_until(ts, "0001000008010100"));
  // Acknowledged, and one message from the far end.
  ASSERT_EQ(ask("mcc inject " + ts + " 00010106"), "");
  ASSERT_EQ(ask("mcc inject " + ts + " 0201000608010505"), "");
  until("slot 20 userData 08010505");
  seen.clear();
  until_all([](const std::vector<std::string>& v) {
    const std::vector<std::string> mine = of(v, 20);
    return std::find(mine.begin(), mine.end(), "hdlcLinkInfo") != mine.end() &&
           mine.back().compare(0, 12, "isdnLinkInfo") == 0;
  });
  EXPECT_EQ(of(seen, 20).back(), "isdnLinkInfo user multiple-frame-established tx 3 rx 1 rej 0 bad 0 retr 0 l3 1 "
                                 "est 1 v 3,3,1 q 0,0")
      << join(seen);

  // Released: DISC, the UA ends it; the record, the counters, deactivated.
  seen.clear();
  exchange(testsupport::null_command_image(22, 20, "deactivate"), "seq 22 slot 20 success");
  EXPECT_TRUE(written_until(ts, "000153"));
  ASSERT_EQ(ask("mcc inject " + ts + " 000173"), "");
  until("slot 20 signal deactivated");
  std::vector<std::string> mine = of(seen, 20);
  ASSERT_GE(mine.size(), 3u) << join(seen);
  EXPECT_EQ(std::vector<std::string>(mine.end() - 3, mine.end()),
            (std::vector<std::string>{"isdnLinkInfo user tei-assigned tx 3 rx 1 rej 0 bad 0 retr 0 l3 1 est 1 "
                                      "v 3,3,1 q 0,0",
                                      "hdlcLinkInfo", "signal deactivated"}))
      << join(seen);
  // Up again: the counters go on, the sequence numbers start anew.
  seen.clear();
  exchange(testsupport::activate_image(23, 20), "seq 23 slot 20 success");
  // On a channel opened anew.
  const std::vector<std::string> ch = lines(ask("mcc channels"));
  ASSERT_EQ(ch.size(), 1u);
  const std::string ts2 = ts_of(ch[0]);
  EXPECT_TRUE(written_until(ts2, "00017F"));
  ASSERT_EQ(ask("mcc inject " + ts2 + " 000173"), "");
  until("slot 20 signal activated");
  EXPECT_EQ(before_activated(20), "isdnLinkInfo user multiple-frame-established tx 3 rx 1 rej 0 bad 0 retr 0 l3 1 "
                                  "est 1 v 0,0,0 q 0,0")
      << join(seen);

  // Destroyed while established, with its timers running: nothing of the
  // slot comes after the answer, for two periods of another slot.
  seen.clear();
  exchange(testsupport::null_command_image(24, 20, "destroy"), "seq 24 slot 20 success");
  seen.clear();
  periods_of(23, 2);
  EXPECT_TRUE(of(seen, 20).empty()) << join(seen);
  for (int s : {21, 22, 23, 8})
    exchange(testsupport::null_command_image(30 + s, s, "destroy"),
             "seq " + std::to_string(30 + s) + " slot " + std::to_string(s) + " success");
  EXPECT_EQ(ask("mcc channels"), "");
}

}  // namespace
