// The Zarn radio control on the simulated header-extension device and the
// virtual clock: the periodic status groups and their timeline, what the
// controller's requests write and keep, refused requests, and the
// workstation kind's mirror image.
#include "platform/sim/rtp_ext.h"
#include "radio/zarn/zarn_radio_control.h"
#include "tests/radio/radio_bytes.h"
#include "tests/radio/radio_sim.h"
#include "tests/radio/zarn_values.h"
#include "tests/support/vclock_loop.h"

#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace radio_test;
using namespace RTPSignalling;

namespace {

class Reports : public IRadioControlNotify {
 public:
  void RadioControlNotify(TERM::RtpRadioRequest const& r) override { got.push_back(r); }
  std::vector<TERM::RtpRadioRequest> got;
};

TERM::RadioFlags zflags(int prio, bool ptt, bool bss = false, bool sql = false) {
  TERM::RadioFlags f = zarn_flags(prio, ptt);
  f.set_bss(bss);
  f.set_sql(sql);
  return f;
}

// Priority 5, channel 3 at 118.5, remote {1, 2}, squelch on, RTE a1b,
// standby active / 7 / standby; `edit` changes it.
TERM::RadioStatus status(const std::function<void(TERM::ZarnRadioStatus&)>& edit = nullptr) {
  TERM::ZarnRadioStatus st = zarn_status_s(zflags(5, false));
  if (edit) edit(st);
  return TERM::RadioStatus(TERM::RadioStatus::zarn::index, st);
}

using Params = TERM::ZarnRadioModifierParams;
TERM::RadioModifier request(const std::function<void(Params&)>& fill, const char* from = "10.0.0.1") {
  return TERM::RadioModifier(TERM::RadioModifier::zarn::index, zarn_modifier(std::string(from), 0, fill));
}

std::function<void(Params&)> wm_flags(bool ptt) {
  return [=](Params& p) { p.select_wm_flags().set_flags(zflags(5, ptt)); };
}
std::function<void(Params&)> wm_trans(const std::string& ip) {
  return [=](Params& p) {
    TERM::RadioCommandWMTrans& c = p.select_wm_trans();
    c.set_flags(zflags(5, true));
    c.set_ip(ip);
    c.set_ssrc(153u);
  };
}

rtp_ext_init_params zarn_init() {
  rtp_ext_init_params p;
  std::memset(&p, 0, sizeof p);
  p.etype = 0x1337;
  return p;
}

class ZarnControlTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    session = begin_session(5004);
    ASSERT_GE(session.tdm, 0);
    platform::sim::rtp_ext().take_sent(session.tdm);
    t0 = now_ms();
  }
  template <class Control>
  std::unique_ptr<Control> make() {
    auto c = std::make_unique<Control>(session.tdm, rtp_ext_attach_session_params{session.fd.lowlevel_fd(), -1},
                                       zarn_init());
    c->Bind(&reports);
    return c;
  }
  // What was written since the last call: "+MS TYPE" per payload, MS from
  // the test's start, TYPE the first byte.
  std::vector<std::string> written() {
    std::vector<std::string> out;
    for (const auto& w : platform::sim::rtp_ext().take_sent(session.tdm))
      out.push_back("+" + std::to_string(static_cast<std::uint32_t>(w.ms) - t0) + " " + hex(w.bytes.data(), 1));
    return out;
  }
  std::vector<std::string> written_bytes() {
    std::vector<std::string> out;
    for (const auto& w : platform::sim::rtp_ext().take_sent(session.tdm)) out.push_back(hex(w.bytes));
    return out;
  }
  std::string filter_ops() {
    const std::string l = last_instance();
    return l.substr(l.find(",ops=") + 5);
  }

  RtpSession session;
  std::uint32_t t0 = 0;
  Reports reports;
};

using Lines = std::vector<std::string>;

TEST_F(ZarnControlTest, PeriodicStatusTimeline) {
  auto c = make<ZarnRadioGWControl>();
  // The creation status is kept, not sent.
  EXPECT_TRUE(c->SendASNToChan(status()));
  EXPECT_EQ(written(), Lines{});
  c->SetTimerEnable(true);
  run_for(2300);
  EXPECT_EQ(written(), (Lines{"+1000 81", "+1000 84", "+1000 86", "+1000 87", "+2000 81", "+2000 84", "+2000 86",
                              "+2000 87"}));
  // A request of the flag group goes out at once and moves that group only:
  // the tick after the others is 10 ms after the flag group falls due.
  EXPECT_TRUE(c->SendASNToChan(request(wm_flags(false))));
  run_for(2100);
  EXPECT_EQ(written(), (Lines{"+2300 81", "+3000 84", "+3000 86", "+3000 87", "+3310 81", "+4010 84", "+4010 86",
                              "+4010 87", "+4320 81"}));
  c->SetTimerEnable(false);
  c->RtpExtStop();
}

// A request of any status group goes out at once and restarts that group
// alone: the others keep their beat, its next report comes a period after
// the request.
TEST_F(ZarnControlTest, EachGroupRequestRestartsItsOwnGroup) {
  const std::pair<std::string, std::function<void(Params&)>> rows[] = {
      {"84",
       [](Params& p) {
         TERM::RadioCommandWMChan& c = p.select_wm_chan();
         c.set_freq().set_channel(4);
         c.set_freq().set_frequency(std::string("121.5"));
         c.set_squelshe(TERM::RadioSquelshe::on);
         c.set_rte(TERM::RadioRTE::a1b);
       }},
      {"86", [](Params& p) { p.select_wm_remote().set_remote() = zarn_status_s(zflags(5, false)).get_remote(); }},
      {"87", [](Params& p) { p.select_wm_standby().set_group(9u); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.first);
    t0 = now_ms();
    auto c = make<ZarnRadioGWControl>();
    c->SendASNToChan(status());
    c->SetTimerEnable(true);
    run_for(1300);
    written();
    EXPECT_TRUE(c->SendASNToChan(request(row.second)));
    run_for(1100);
    Lines want{"+1300 " + row.first};
    for (const char* g : {"81", "84", "86", "87"})
      if (g != row.first) want.push_back(std::string("+2000 ") + g);
    want.push_back("+2310 " + row.first);
    EXPECT_EQ(written(), want);
    c->SetTimerEnable(false);
    c->RtpExtStop();
  }
}

// The millisecond count wraps at 32 bits: the status keeps its one-second
// rhythm across the wrap instead of falling silent until the count catches
// up with stamps taken before it.
TEST_F(ZarnControlTest, PeriodicStatusAcrossTheClockWrap) {
  platform::vclock::set(4294967, 0);  // 296 ms before the count wraps
  t0 = now_ms();
  auto c = make<ZarnRadioGWControl>();
  c->SendASNToChan(status());
  c->SetTimerEnable(true);
  run_for(3500);
  EXPECT_EQ(written(), (Lines{"+1000 81", "+1000 84", "+1000 86", "+1000 87", "+2000 81", "+2000 84", "+2000 86",
                              "+2000 87", "+3000 81", "+3000 84", "+3000 86", "+3000 87"}));
  // A stamp taken just before the wrap is 300 ms old just after it.
  platform::vclock::set(4294967, 0);
  Mux::g_tv_time = Mux::timeval(0, 0);
  auto d = make<ZarnRadioGWControl>();
  d->SendASNToChan(status());
  platform::vclock::advance_ms(300);
  EXPECT_EQ(d->ProcessRadioStatus(now_ms(), 1000), 710u);
  c->SetTimerEnable(false);
  c->RtpExtStop();
  d->RtpExtStop();
}

TEST_F(ZarnControlTest, DueGroupsAndTheNextDelay) {
  auto c = make<ZarnRadioGWControl>();
  c->SendASNToChan(status());
  // Stamps 300 ms old: nothing due, the next tick 10 ms after they are.
  run_for(300);
  EXPECT_EQ(c->ProcessRadioStatus(now_ms(), 1000), 710u);
  EXPECT_EQ(written(), Lines{});
  // 999 ms old: still not due.
  run_for(699);
  EXPECT_EQ(c->ProcessRadioStatus(now_ms(), 1000), 11u);
  EXPECT_EQ(written(), Lines{});
  run_for(1);
  EXPECT_EQ(c->ProcessRadioStatus(now_ms(), 1000), 1000u);
  EXPECT_EQ(written(), (Lines{"+1000 81", "+1000 84", "+1000 86", "+1000 87"}));
  // A millisecond later: the next tick 10 ms after they fall due again.
  run_for(1);
  EXPECT_EQ(c->ProcessRadioStatus(now_ms(), 1000), 1009u);
  EXPECT_EQ(written(), Lines{});
  // A group whose values are not set (below 0) sends nothing.
  const struct {
    const char* what;
    std::function<void(TERM::ZarnRadioStatus&)> edit;
    Lines types;
  } unset[] = {
      {"channel -1", [](TERM::ZarnRadioStatus& s) { s.ref_freq().set_channel(-1); }, {"81", "86", "87"}},
      {"frequency below 0", [](TERM::ZarnRadioStatus& s) { s.ref_freq().set_frequency(std::string("-2.5")); },
       {"81", "86", "87"}},
      {"standby channel -1", [](TERM::ZarnRadioStatus& s) { s.ref_standby_state_channel().setFromInt(-1); },
       {"81", "84", "86"}},
      {"standby receiver -1", [](TERM::ZarnRadioStatus& s) { s.ref_standby_state_receiver().setFromInt(-1); },
       {"81", "84", "86"}},
      {"standby group and receiver 0",
       [](TERM::ZarnRadioStatus& s) {
         s.set_standby_group(0u);
         s.ref_standby_state_receiver().setFromInt(0);
       },
       {"81", "84", "86", "87"}},
  };
  for (const auto& u : unset) {
    SCOPED_TRACE(u.what);
    auto d = make<ZarnRadioGWControl>();
    d->SendASNToChan(status(u.edit));
    run_for(1000);
    EXPECT_EQ(d->ProcessRadioStatus(now_ms(), 1000), 1000u);
    Lines types;
    for (const std::string& w : written()) types.push_back(w.substr(w.size() - 2));
    EXPECT_EQ(types, u.types);
    d->RtpExtStop();
  }
  // The default state: no standby group (-1), every other group.
  auto d = make<ZarnRadioGWControl>();
  run_for(1000);
  d->ProcessRadioStatus(now_ms(), 1000);
  EXPECT_EQ(written_bytes(),
            (Lines{"81 F0 00 00", "84 F0 00 00 00 00 00 00 00 00 00 00 FF FF 00 00", "86 F0 00 00 00 00 00 00"}));
  d->RtpExtStop();
  c->RtpExtStop();
}

// A group that has nothing to say for weeks (no standby setting yet) is
// still due the moment its values come: its old stamp, more than half the
// millisecond count (24.8 days) behind, must not read as a stamp "from the
// future" that holds the group back for weeks more.
TEST_F(ZarnControlTest, AGroupUnsetForWeeksIsReportedOnceItIsSet) {
  auto c = make<ZarnRadioGWControl>();  // the default state: no standby group
  const auto tick = [&] {
    c->ProcessRadioStatus(now_ms(), 1000);
    Lines types;
    for (const std::string& w : written()) types.push_back(w.substr(w.size() - 2));
    return types;
  };
  for (std::int64_t step : {1000LL, 0x40000000LL, 0x40000000LL, 0x40000000LL}) {
    platform::vclock::advance_ms(step);
    EXPECT_EQ(tick(), (Lines{"81", "84", "86"})) << "no standby status while it is unset";
  }
  c->SendASNToChan(status());  // kept, not sent: its groups wait for the tick
  EXPECT_EQ(written(), Lines{});
  platform::vclock::advance_ms(1000);
  EXPECT_EQ(tick(), (Lines{"81", "84", "86", "87"}));
  // From then on the group keeps the one-second beat of the others.
  platform::vclock::advance_ms(300);
  EXPECT_EQ(c->ProcessRadioStatus(now_ms(), 1000), 710u);
  platform::vclock::advance_ms(700);
  EXPECT_EQ(tick(), (Lines{"81", "84", "86", "87"}));
  c->RtpExtStop();
}

TEST_F(ZarnControlTest, RequestsWriteKeepAndRefuse) {
  auto c = make<ZarnRadioGWControl>();
  c->SendASNToChan(status());
  const std::string K = std::to_string(session.line);

  EXPECT_TRUE(c->SendASNToChan(request(wm_trans("10.0.0.9"))));
  written_bytes();

  // Requests naming something that is no dotted quad, of the other
  // protocol, or of an alternative this side does not know: refused,
  // nothing written, state and filter as they were.
  const ZarnRadioState before = c->GetRadioState();
  EXPECT_FALSE(c->SendASNToChan(request(wm_trans("radio-9"))));
  EXPECT_FALSE(c->SendASNToChan(request(wm_trans(std::string("10.0.0.8\0" "1", 10)))))
      << "not the address before the NUL";
  EXPECT_FALSE(c->SendASNToChan(request(wm_flags(false), "10.0.0")));
  EXPECT_FALSE(c->SendASNToChan(TERM::RadioModifier(TERM::RadioModifier::ed_137::index, TERM::ED137RadioModifier())));
  EXPECT_FALSE(c->SendASNToChan(request([](Params&) {})));
  EXPECT_FALSE(c->SendASNToChan(TERM::RadioStatus()));
  EXPECT_EQ(written_bytes(), Lines{});
  EXPECT_EQ(filter_ops(), "init/attach:" + K + "/filter:10.0.0.9");
  EXPECT_EQ(std::memcmp(&before, &c->GetRadioState(), sizeof before), 0);

  // A GW_* command only updates the flags: nothing goes out.
  EXPECT_TRUE(c->SendASNToChan(request([](Params& p) { p.select_gw_set_flags().set_flags(zflags(2, true)); })));
  EXPECT_EQ(written_bytes(), Lines{});
  EXPECT_EQ(c->GetRadioState().priority, 2);

  // The full status stores flags and groups, not the holder.
  EXPECT_TRUE(c->SendASNToChan(status([](TERM::ZarnRadioStatus& s) {
    s.set_flags(zflags(4, true, true, false));
    s.ref_freq().set_channel(9);
  })));
  EXPECT_EQ(written_bytes(), Lines{});
  EXPECT_EQ(c->GetRadioState().channel, 9);
  EXPECT_EQ(c->GetRadioState().session_addr.s_addr, ip("10.0.0.9").s_addr);
  // Squelch follows sql, not bss.
  EXPECT_FALSE(c->GetSQU());
  c->SendASNToChan(status([](TERM::ZarnRadioStatus& s) { s.set_flags(zflags(4, true, false, true)); }));
  EXPECT_TRUE(c->GetSQU());
  c->RtpExtStop();
}

// The packet header has four bits for the priority: a controller's 16
// would go out as 0, the highest. Such a request or status is refused
// whole, nothing written and the state kept; 0 and 15 go as they are.
TEST_F(ZarnControlTest, PriorityBeyondItsFourBitsIsRefused) {
  auto c = make<ZarnRadioGWControl>();
  EXPECT_FALSE(c->SendASNToChan(status([](TERM::ZarnRadioStatus& s) { s.set_flags(zflags(16, false)); })));
  EXPECT_EQ(c->GetRadioState().priority, 15);
  EXPECT_TRUE(c->SendASNToChan(status()));
  written_bytes();
  const ZarnRadioState before = c->GetRadioState();
  for (int prio : {16, 0x10005, -1}) {
    EXPECT_FALSE(c->SendASNToChan(request([=](Params& p) { p.select_wm_flags().set_flags(zflags(prio, true)); })))
        << prio;
    EXPECT_FALSE(c->SendASNToChan(request([=](Params& p) { p.select_gw_set_ptt().set_flags(zflags(prio, true)); })))
        << prio;
    EXPECT_FALSE(c->SendASNToChan(request([=](Params& p) {
      TERM::RadioCommandWMTrans& t = p.select_wm_trans();
      t.set_flags(zflags(prio, true));
      t.set_ip("10.0.0.9");
    }))) << prio;
    EXPECT_FALSE(c->SendASNToChan(status([=](TERM::ZarnRadioStatus& s) { s.set_flags(zflags(prio, false)); }))) << prio;
  }
  EXPECT_EQ(written_bytes(), Lines{});
  EXPECT_EQ(std::memcmp(&before, &c->GetRadioState(), sizeof before), 0);

  for (int prio : {0, 15}) {
    EXPECT_TRUE(c->SendASNToChan(request([=](Params& p) { p.select_gw_set_flags().set_flags(zflags(prio, false)); })));
    EXPECT_EQ(c->GetRadioState().priority, prio);
  }
  c->RtpExtStop();
}

// A selective call's caller identity stays with it while it holds
// push-to-talk, so the periodic status repeats WM_SEL_CALL_TRANS; a plain
// transmission or the release drops it.
TEST_F(ZarnControlTest, SelectiveCallInThePeriodicStatus) {
  auto c = make<ZarnRadioGWControl>();
  c->SendASNToChan(status());
  const auto selcall = [](Params& p) {
    TERM::RadioCommandWMSelCall& s = p.select_wm_selcall();
    s.set_flags(zflags(5, true));
    s.set_ip(std::string("10.0.0.9"));
    s.set_ssrc(153u);
    s.set_cid(std::string("AB"));
  };
  const std::string sel = "85 54 00 00 09 00 00 0A 00 00 00 99 02 41 42 00";
  const auto flag_group = [&] {
    run_for(1000);
    c->ProcessRadioStatus(now_ms(), 1000);
    return written_bytes().at(0);
  };
  EXPECT_TRUE(c->SendASNToChan(request(selcall)));
  EXPECT_EQ(written_bytes(), Lines{sel});
  EXPECT_EQ(flag_group(), sel);
  EXPECT_TRUE(c->SendASNToChan(request(wm_trans("10.0.0.9"))));
  written_bytes();
  EXPECT_EQ(flag_group(), "82 54 00 00 09 00 00 0A 00 00 00 99");
  EXPECT_TRUE(c->SendASNToChan(request(selcall)));
  written_bytes();
  EXPECT_TRUE(c->SendASNToChan(request(wm_flags(false))));
  written_bytes();
  EXPECT_EQ(flag_group(), "81 50 00 00");
  EXPECT_STREQ(c->GetRadioState().text, "");
  // A one-character identity is an identity all the same.
  EXPECT_TRUE(c->SendASNToChan(request([&](Params& p) {
    selcall(p);
    p.ref_wm_selcall().set_cid(std::string("A"));
  })));
  written_bytes();
  EXPECT_EQ(flag_group().substr(0, 2), "85");
  c->RtpExtStop();
}

// The workstation kind sends GW_* commands, takes every received packet
// and keeps what WM_* status says.
TEST_F(ZarnControlTest, WorkstationKindIsTheMirrorImage) {
  auto c = make<ZarnRadioWSControl>();
  c->SetRadioControlMode(RadioControl::workstation);
  EXPECT_TRUE(c->SendASNToChan(request([](Params& p) {
    TERM::RadioFrequency& f = p.select_gw_set_freq().set_freq();
    f.set_channel(3);
    f.set_frequency(std::string("118.5"));
  })));
  EXPECT_TRUE(c->SendASNToChan(request(wm_trans("10.0.0.9"))));
  EXPECT_TRUE(c->SendASNToChan(request([](Params& p) { p.select_gw_set_flags().set_flags(zflags(2, true)); })));
  EXPECT_EQ(written_bytes(), (Lines{"02 F0 00 00 00 00 00 03 42 ED 00 00", "01 24 00 00"}));
  EXPECT_EQ(c->GetCounters().written, 2u);
  EXPECT_EQ(c->GetCounters().bytesWritten, 16u);
  EXPECT_EQ(c->ProcessRadioStatus(now_ms(), 1000), 1000u);
  EXPECT_EQ(written_bytes(), Lines{});

  const std::string T = std::to_string(session.tdm);
  words("rtpext inject " + T + " 10.0.0.8 1 845000000000000742ED000002020000 10.0.0.7 4660 823400000900000A00000099");
  run_for(10);
  ASSERT_EQ(reports.got.size(), 2u);
  EXPECT_TRUE(reports.got[0].get_request().get_zarn().get_params().wm_chan_isSelected());
  EXPECT_TRUE(reports.got[1].get_request().get_zarn().get_params().wm_trans_isSelected());
  EXPECT_EQ(c->GetCounters().announced, 2u);
  EXPECT_EQ(c->GetCounters().decoded, 2u);
  // A batch in which nothing decodes reports nothing.
  words("rtpext inject " + T + " 10.0.0.8 1 FF000000");
  run_for(10);
  EXPECT_EQ(reports.got.size(), 2u);
  EXPECT_EQ(c->GetCounters().announced, 3u);
  EXPECT_EQ(c->GetCounters().decoded, 2u);
  EXPECT_NE(c->GetCounters().unpackError, 0);
  EXPECT_EQ(c->GetReceivedState().session_addr.s_addr, ip("10.0.0.9").s_addr);
  EXPECT_EQ(c->GetReceivedState().channel, 7);
  EXPECT_EQ(c->GetReceivedState().squelshe, 2);
  // A report that is no transmission leaves its sender as the holder.
  words("rtpext inject " + T + " 10.0.0.8 1 845000000000000742ED000002020000");
  run_for(10);
  EXPECT_EQ(c->GetReceivedState().session_addr.s_addr, ip("10.0.0.8").s_addr);
  c->RtpExtStop();
}


// The workstation kind keeps of each controller command the fields its type
// carries and no others; a full status takes them all.
TEST_F(ZarnControlTest, WorkstationKeepsWhatEachCommandTypeCarries) {
  TERM::RadioFlags on = zflags(2, true, true, true);
  on.set_sh(true);
  on.set_pwr(true);
  on.set_rv(true);
  on.set_resv(true);
  on.set_vad_rx(true);
  const auto changed = [](const ZarnRadioState& a, const ZarnRadioState& b) {
    std::string out;
    const auto note = [&](bool differs, const char* name) {
      if (differs) out += std::string(out.empty() ? "" : " ") + name;
    };
    note(a.ptt != b.ptt, "ptt");
    note(a.bss != b.bss, "bss");
    note(a.sh != b.sh, "sh");
    note(a.rv != b.rv, "rv");
    note(a.pwr != b.pwr, "pwr");
    note(a.resv != b.resv, "resv");
    note(a.channel != b.channel || a.frequency != b.frequency, "freq");
    note(std::strcmp(a.text, b.text) != 0, "text");
    note(a.remote_no != b.remote_no || a.remote_ch != b.remote_ch, "remote");
    note(a.squelshe != b.squelshe, "squelshe");
    note(a.rte != b.rte, "rte");
    note(a.standby_state_channel != b.standby_state_channel, "standby");
    note(a.vad_rx != b.vad_rx || a.sql != b.sql || a.session_addr.s_addr != b.session_addr.s_addr, "other");
    return out;
  };
  const struct {
    std::function<void(Params&)> fill;
    const char* kept;
  } rows[] = {
      {[&](Params& p) { p.select_gw_set_flags().set_flags(on); }, "ptt bss sh rv pwr resv"},
      {[&](Params& p) { p.select_gw_set_ptt().set_flags(on); }, "ptt"},
      {[&](Params& p) { p.select_gw_set_bss().set_flags(on); }, "bss"},
      {[&](Params& p) { p.select_gw_set_rv().set_flags(on); }, "rv"},
      {[&](Params& p) { p.select_gw_set_sh().set_flags(on); }, "sh"},
      {[&](Params& p) { p.select_gw_set_pwr().set_flags(on); }, "pwr"},
      {[&](Params& p) { p.select_gw_set_resv().set_flags(on); }, "resv"},
      {[](Params& p) {
         TERM::RadioFrequency& f = p.select_gw_set_freq().set_freq();
         f.set_channel(7);
         f.set_frequency(std::string("121.5"));
       },
       "freq"},
      {[&](Params& p) {
         TERM::RadioCommandGWSetSelCall& c = p.select_gw_set_selcall();
         c.set_flags(on);
         c.set_ip(std::string("10.0.0.9"));
         c.set_ssrc(153u);
         c.set_cid(std::string("AB"));
       },
       "text"},
      {[](Params& p) {
         p.select_gw_set_remote().set_remote().set_no(3u);
         p.ref_gw_set_remote().ref_remote().set_ch(4u);
       },
       "remote"},
      {[](Params& p) { p.select_gw_set_squelshe().set_squelshe(TERM::RadioSquelshe::off); }, "squelshe"},
      {[](Params& p) { p.select_gw_set_rte().set_rte(TERM::RadioRTE::n0n); }, "rte"},
      {[](Params& p) { p.select_gw_set_standby().set_state(TERM::RadioStandby::standby); }, "standby"},
  };
  for (const auto& r : rows) {
    auto c = make<ZarnRadioWSControl>();
    c->SetRadioControlMode(RadioControl::workstation);
    ASSERT_TRUE(c->SendASNToChan(status()));
    const ZarnRadioState before = c->GetRadioState();
    EXPECT_TRUE(c->SendASNToChan(request(r.fill)));
    EXPECT_EQ(changed(before, c->GetRadioState()), r.kept);
    c->RtpExtStop();
  }
  // A full status: every field the commands carry.
  auto c = make<ZarnRadioWSControl>();
  c->SetRadioControlMode(RadioControl::workstation);
  ASSERT_TRUE(c->SendASNToChan(status()));
  const ZarnRadioState before = c->GetRadioState();
  EXPECT_TRUE(c->SendASNToChan(status([&](TERM::ZarnRadioStatus& st) {
    st.set_flags(on);
    st.ref_freq().set_channel(7);
    st.ref_remote().set_no(3u);
    st.set_squelshe(TERM::RadioSquelshe::off);
    st.set_rte(TERM::RadioRTE::n0n);
    st.set_standby_state_channel(TERM::RadioStandby::standby);
  })));
  EXPECT_EQ(changed(before, c->GetRadioState()), "ptt bss sh rv pwr resv freq remote squelshe rte standby");
  c->RtpExtStop();
}

// The gateway kind keeps of each workstation report the fields its type
// carries beside the flags.
TEST_F(ZarnControlTest, GatewayKeepsWhatEachReportTypeCarries) {
  const auto changed = [](const ZarnRadioState& a, const ZarnRadioState& b) {
    std::string out;
    const auto note = [&](bool differs, const char* name) {
      if (differs) out += std::string(out.empty() ? "" : " ") + name;
    };
    note(a.channel != b.channel || a.frequency != b.frequency || a.squelshe != b.squelshe || a.rte != b.rte, "chan");
    note(a.remote_no != b.remote_no || a.remote_ch != b.remote_ch, "remote");
    note(a.quality != b.quality, "quality");
    note(a.standby_state_channel != b.standby_state_channel || a.standby_group != b.standby_group ||
             a.standby_state_receiver != b.standby_state_receiver,
         "standby");
    return out;
  };
  const struct {
    std::function<void(Params&)> fill;
    const char* kept;
  } rows[] = {
      {[](Params& p) {
         TERM::RadioCommandWMChan& c = p.select_wm_chan();
         c.set_freq().set_channel(7);
         c.ref_freq().set_frequency(std::string("121.5"));
         c.set_squelshe(TERM::RadioSquelshe::off);
         c.set_rte(TERM::RadioRTE::n0n);
       },
       "chan"},
      {[](Params& p) {
         p.select_wm_remote().set_remote().set_no(3u);
         p.ref_wm_remote().ref_remote().set_ch(4u);
       },
       "remote"},
      {[](Params& p) { p.select_wm_quality().set_bss_val(std::string("0.5")); }, "quality"},
      {[](Params& p) {
         TERM::RadioCommandWMStandby& c = p.select_wm_standby();
         c.set_state_channel(TERM::RadioStandby::standby);
         c.set_group(9u);
         c.set_state_receiver(TERM::RadioStandby::active);
       },
       "standby"},
      {wm_flags(true), ""},
  };
  for (const auto& r : rows) {
    auto c = make<ZarnRadioGWControl>();
    ASSERT_TRUE(c->SendASNToChan(status()));
    const ZarnRadioState before = c->GetRadioState();
    EXPECT_TRUE(c->SendASNToChan(request(r.fill)));
    EXPECT_EQ(changed(before, c->GetRadioState()), r.kept);
    c->RtpExtStop();
  }
}
}  // namespace
