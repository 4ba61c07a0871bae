// The ED-137 radio control on the virtual clock, against the simulated
// header-extension device: timelines of controller requests, ground
// payloads and timer ticks, read back as the payloads written (with their
// times) and the events reported to the slot.
#include "radio/ed137/ed137_factory.h"
#include "radio/ed137/ed137_radio_control.h"
#include "tests/radio/radio_sim.h"
#include "tests/radio/zarn_values.h"
#include "tests/support/per_image.h"
#include "tests/support/pipe.h"
#include "tests/support/vclock_loop.h"
#include "runtime/mux_time.h"

#include <arpa/inet.h>

#include <climits>
#include <functional>

#include <gtest/gtest.h>

using namespace radio_test;
using RTPSignalling::ED137RadioGWControl;
using RTPSignalling::ED137RadioParams;
using Strings = std::vector<std::string>;

namespace {

std::string header_text(const TERM::ED137RadioHeader& h) {
  return std::to_string(h.get_ptt().asInt()) + "." + std::to_string(h.get_squ().asInt()) + "." +
         std::to_string(h.get_ptt_id().getValue()) + "." + std::to_string(int(bool(h.get_ptt_mute()))) + "." +
         std::to_string(int(bool(h.get_ptt_summation()))) + "." + std::to_string(int(bool(h.get_sct())));
}

// "status P.S.I.M.S.C sqi Q.M request ADDR/SSRC tx|rx P.S.I.M.S.C [sqi Q.M]"
std::string describe(const TERM::RtpRadioRequest& r) {
  if (testsupport::per(r) == "encode failed") return "does not encode";
  const TERM::ED137RadioStatus& st = r.get_status().get_ed_137();
  std::string s = "status " + header_text(st.get_header()) + " sqi " +
                  std::to_string(st.get_sqi().get_bss_quality().getValue()) + "." +
                  std::to_string(st.get_sqi().get_bss_method().asInt());
  if (st.radio_response_isPresent()) s += " response";
  const TERM::ED137RadioModifier& m = r.get_request().get_ed_137();
  s += " request " + std::string(m.get_addr().get_session_addr()) + "/" +
       std::to_string(m.get_addr().get_session_ssrc().getValue());
  const auto& p = m.get_params();
  if (p.tx_isSelected()) s += " tx " + header_text(p.get_tx().get_header());
  if (p.rx_isSelected()) s += " rx " + header_text(p.get_rx().get_header());
  return s;
}

struct Recorder : RTPSignalling::IRadioControlNotify {
  void RadioControlNotify(TERM::RtpRadioRequest const& r) override { events.push_back(at() + " " + describe(r)); }
  void RadioControlNotify(int cause) override { events.push_back(at() + " abort " + std::to_string(cause)); }
  std::string at() const { return std::to_string(static_cast<std::uint32_t>(Mux::milliseconds()) - t0); }
  std::uint32_t t0 = 0;
  Strings events;
};

TERM::RadioStatus status(int ptt, int squ, int q = -1, int method = 0) {
  TERM::RadioStatus s;
  TERM::ED137RadioHeader& h = s.select_ed_137().set_header();
  radio_test::ed137_header(h, static_cast<TERM::ED137RadioPTT::NamedNumber>(ptt),
                           static_cast<TERM::ED137RadioSQU::NamedNumber>(squ));
  if (q >= 0) {
    s.ref_ed_137().set_sqi().set_bss_quality(static_cast<unsigned>(q));
    s.ref_ed_137().ref_sqi().set_bss_method(static_cast<TERM::ED137RadioBSSMethod::NamedNumber>(method));
  }
  return s;
}

// An "rtpExt" request: 'r' rx, 't' tx, anything else leaves the params
// unselected (an alternative this side does not know).
TERM::RadioModifier modifier(char form, int ptt, int squ, const char* addr = "10.0.0.7", int q = -1, int method = 0) {
  TERM::RadioModifier m;
  TERM::ED137RadioModifier& e = m.select_ed_137();
  e.set_addr().set_session_addr(addr);
  e.set_addr().set_session_ssrc(4660u);
  TERM::ED137RadioHeader* h = nullptr;
  if (form == 'r') h = &e.set_params().select_rx().set_header();
  if (form == 't') h = &e.set_params().select_tx().set_header();
  if (h) {
    h->set_ptt(static_cast<TERM::ED137RadioPTT::NamedNumber>(ptt));
    h->set_squ(static_cast<TERM::ED137RadioSQU::NamedNumber>(squ));
    h->set_ptt_id(5u);
    h->set_ptt_mute(false);
    h->set_ptt_summation(true);
    h->set_sct(false);
  }
  if (form == 'r' && q >= 0) {
    e.ref_params().ref_rx().set_sqi().set_bss_quality(static_cast<unsigned>(q));
    e.ref_params().ref_rx().ref_sqi().set_bss_method(static_cast<TERM::ED137RadioBSSMethod::NamedNumber>(method));
  }
  return m;
}

class Ed137Control : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    session = begin_session(5004);
    ASSERT_GE(session.tdm, 0);
    T = std::to_string(session.tdm);
    words("rtpext sent " + T);  // what earlier cases wrote on this channel
  }
  // A gateway control as the slot sets it up; the clock of the events and
  // of the payloads starts now.
  ED137RadioGWControl& make(const ED137RadioParams& p = ED137RadioParams(), std::uint32_t w3 = 10,
                            std::uint32_t w4 = 1, bool timer = true) {
    rec.t0 = now_ms();
    struct timeval tv;
    platform::gettimeofday(&tv);
    sent_t0 = std::int64_t(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
    control.reset(new ED137RadioGWControl(7, rtp_ext_attach_session_params{session.fd.lowlevel_fd(), -1},
                                          ed137_init(w3, w4)));
    control->SetParams(p);
    control->Bind(&rec);
    control->SetTimerInterval((p.r2sKeepAlivePeriod * p.r2sKeepAliveMultiplier) >> 1);
    control->SetTimerEnable(timer);
    return *control;
  }
  void TearDown() override {
    if (control) {
      control->RtpExtStop();
      control->UnBind();
      control->SetTimerEnable(false);
      control.reset();
    }
    VirtualClockTest::TearDown();
  }
  // The payloads written since the last call: "MS HEX", MS from make().
  Strings sent() {
    Strings out;
    for (const auto& l : words("rtpext sent " + T)) {
      const auto sp = l.find(' ');
      out.push_back(std::to_string(std::stoll(l.substr(0, sp)) - sent_t0) + l.substr(sp));
    }
    return out;
  }
  Strings events() {
    Strings e = rec.events;
    rec.events.clear();
    return e;
  }
  void inject(const std::string& hex, const char* addr = "10.0.0.7", const char* ssrc = "4660") {
    EXPECT_EQ(words("rtpext inject " + T + " " + addr + " " + ssrc + " " + hex), Strings{});
  }
  std::string filter_ops() {
    const std::string l = last_instance();
    return l.substr(l.find(",ops=") + 5);
  }

  // No ground payload, then ground payloads every 400 ms, then none again.
  void timeline();

  RtpSession session;
  std::string T;
  Recorder rec;
  std::int64_t sent_t0 = 0;
  std::unique_ptr<ED137RadioGWControl> control;
};

// No ground payload: the keep-alive goes out every interval and the abort
// comes at the first tick at or after 2000 ms, then at each tick; ground
// payloads every 400 ms hold it off without moving the send schedule.
TEST_F(Ed137Control, KeepAliveAndSupervisionTimeline) { timeline(); }

// The same 3 s before the millisecond clock wraps at 2^32 (every 49.7
// days): the stamps are compared by difference, so nothing stops or fires
// early at the wrap.
TEST_F(Ed137Control, KeepAliveAndSupervisionTimelineAcrossTheClockWrap) {
  platform::vclock::set(4294964, 296000);
  ASSERT_EQ(now_ms(), 0xFFFFF448u);
  timeline();
}

void Ed137Control::timeline() {
  ED137RadioGWControl& c = make();
  EXPECT_EQ(c.GetTimerInterval(), 1000u);
  EXPECT_TRUE(c.SendASNToChan(status(0, 1)));
  EXPECT_EQ(sent(), Strings{"0 10000000"});
  run_for(5500);
  EXPECT_EQ(sent(), (Strings{"1000 10000000", "2000 10000000", "3000 10000000", "4000 10000000", "5000 10000000"}));
  EXPECT_EQ(events(), (Strings{"2000 abort 151", "3000 abort 151", "4000 abort 151", "5000 abort 151"}));

  for (int i = 0; i < 8; ++i) {  // at 5500, 5900, ... 8300
    inject("21500000");
    run_for(400);
  }
  const std::string report = " status 0.1.0.0.0.0 sqi 0.0 request 10.0.0.7/4660 tx 1.0.5.0.1.0";
  // Unchanged payloads are reported again only once an interval has passed.
  EXPECT_EQ(events(), (Strings{"5500" + report, "6700" + report, "7900" + report}));
  EXPECT_EQ(sent(), (Strings{"6000 10000000", "7000 10000000", "8000 10000000"}));
  run_for(2500);  // the last payload came at 8300
  EXPECT_EQ(events(), Strings{"11000 abort 151"});
  c.SetTimerEnable(false);
  run_for(3000);
  EXPECT_EQ(events(), Strings{});
  EXPECT_EQ(sent(), (Strings{"9000 10000000", "10000 10000000", "11000 10000000"}));
}

// A keep-alive of 100 ms x 4 (a 400 ms timeout): a handler that holds the
// loop 380 ms (a slow write) while the ground goes on sending leaves its
// payloads queued when the next pass fires the tick, since timers fire
// before the loop reads. The ground was not silent: no abort; when it does
// fall silent, the abort still comes one timeout after its last payload.
TEST_F(Ed137Control, ALongPassIsNotTakenForASilentGround) {
  ED137RadioParams p;
  p.r2sKeepAlivePeriod = 100;
  p.r2sKeepAliveMultiplier = 4;
  make(p);
  ASSERT_EQ(control->GetTimerInterval(), 200u);
  for (int i = 0; i < 5; ++i) {  // the last one read at 400
    inject("21500000");
    run_for(100);
  }
  struct Slow {
    std::function<void()> body;
    Event ev;
    void on_ready(int, short revents) {
      if (!(revents & POLLIN)) return;
      ev.Release();
      body();
    }
  } slow{[this] {
    for (int i = 0; i < 4; ++i) inject("21500000");
    platform::vclock::advance_ms(380);
  }, {}};
  testsupport::Pipe wake;
  ASSERT_TRUE(wake.fill());
  slow.ev.Bind("slow", &Slow::on_ready, &slow);
  slow.ev.Schedule(Fd(::dup(wake.r)), POLLIN);
  run_for(500);  // the pass at 500 runs until 880; the tick due at 600 fires then
  Strings aborts;
  for (const auto& e : events())
    if (e.find("abort") != std::string::npos) aborts.push_back(e);
  EXPECT_EQ(aborts, Strings{}) << "the ground's payloads were waiting";
  // Read at 880, the last payloads leave the ground silent for 400 ms at the
  // tick of 1280.
  run_for(400);
  EXPECT_EQ(events(), Strings{"1280 abort 151"});
}

// A ground that stays silent for longer than half the millisecond count
// (24.8 days) is still silent: its last payload does not turn into a stamp
// "from the future" that stops the abort and hides its return.
TEST_F(Ed137Control, AGroundSilentForWeeksStaysReportedAndIsHeardOnItsReturn) {
  ED137RadioGWControl& c = make(ED137RadioParams(), 10, 1, false);
  inject("21500000");
  run_for(10);
  ASSERT_EQ(events().size(), 1u);
  const auto tick = [&] {
    run_for(1);  // the loop's clock
    c.ProcessRadioStatus(now_ms(), 1000);
    Strings aborts;
    for (const auto& e : events()) aborts.push_back(e.substr(e.find(' ') + 1));
    return aborts;
  };
  run_for(2000);
  EXPECT_EQ(tick(), Strings{"abort 151"});
  for (std::int64_t step : {0x40000000LL, 0x40000000LL, 0x40000000LL}) {
    platform::vclock::advance_ms(step);
    EXPECT_EQ(tick(), Strings{"abort 151"}) << "silent, still";
  }
  // Back with the payload it last sent: news after weeks of aborts.
  inject("21500000");
  run_for(10);
  const Strings back = events();
  ASSERT_EQ(back.size(), 1u);
  EXPECT_NE(back[0].find("tx 1.0.5.0.1.0"), std::string::npos) << back[0];
  EXPECT_EQ(tick(), Strings{});
}

TEST_F(Ed137Control, GroundPayloadsReportedOncePerChange) {
  make();
  EXPECT_TRUE(control->SendASNToChan(status(0, 1, 20, 1)));
  const std::string st = " status 0.1.0.0.0.0 sqi 20.1 request ";
  const struct {
    std::vector<std::pair<const char*, const char*>> burst;  // hex, source address
    int wait_ms;
    Strings reported;  // without the time
  } steps[] = {
      {{{"21500000", "10.0.0.7"}}, 1000, {"10.0.0.7/4660 tx 1.0.5.0.1.0"}},
      {{{"21500000", "10.0.0.7"}}, 300, {"10.0.0.7/4660 tx 1.0.5.0.1.0"}},  // the same, an interval later
      {{{"21500000", "10.0.0.7"}}, 300, {}},                              // the same, 300 ms later
      {{{"00000000", "10.0.0.7"}}, 10, {"10.0.0.7/4660 tx 0.0.0.0.0.0"}},  // changed: at once
      // A burst from one source is reported once, with its last payload.
      {{{"21500000", "10.0.0.7"}, {"41500000", "10.0.0.7"}}, 10, {"10.0.0.7/4660 tx 2.0.5.0.1.0"}},
      // A change of source ends the burst of the one before.
      {{{"21500000", "10.0.0.7"}, {"21500000", "10.0.0.8"}}, 10,
       {"10.0.0.7/4660 tx 1.0.5.0.1.0", "10.0.0.8/4660 tx 1.0.5.0.1.0"}},
      // Push-to-talk types 5 to 7 have no name: they go as extension values,
      // never as a normal push-to-talk.
      {{{"A1400000", "10.0.0.8"}}, 10, {"10.0.0.8/4660 tx 5.0.5.0.0.0"}},
      {{{"E1400000", "10.0.0.8"}}, 10, {"10.0.0.8/4660 tx 7.0.5.0.0.0"}},
      // Too short to decode: dropped; an element past the end likewise.
      {{{"21", "10.0.0.8"}, {"214121", "10.0.0.8"}}, 10, {}},
      // Elements of the TX form are read past.
      {{{"010152AABB2107", "10.0.0.8"}}, 10, {"10.0.0.8/4660 tx 0.0.4.0.0.0"}},
  };
  int n = 0;
  for (const auto& s : steps) {
    for (const auto& p : s.burst) inject(p.first, p.second);
    run_for(s.wait_ms);
    Strings got;
    for (const auto& e : events()) got.push_back(e.substr(e.find(' ') + 1));
    Strings want;
    for (const auto& r : s.reported) want.push_back(st.substr(1) + r);
    EXPECT_EQ(got, want) << "step " << n;
    ++n;
  }
  EXPECT_EQ(control->GetCounters().unpackError, R2S_PROTO_ERR_SHORT);
  EXPECT_EQ(control->GetChanState().ptt, 0u);
  // A BSS method without a name that the controller set is reported back as
  // it set it, not as an RSSI score.
  EXPECT_TRUE(control->SendASNToChan(status(0, 1, 20, 5)));
  inject("21500000", "10.0.0.8");
  run_for(10);
  Strings got;
  for (const auto& e : events()) got.push_back(e.substr(e.find(' ') + 1));
  EXPECT_EQ(got, Strings{"status 0.1.0.0.0.0 sqi 20.5 request 10.0.0.8/4660 tx 1.0.5.0.1.0"});

  // A four-octet extension index from the controller decodes to a number
  // past what an enumeration can send (the largest index patched to all
  // ones): refused as every value beyond the header extension's fields is,
  // and the reports go on with the state as it was.
  std::string image = testsupport::per(status(INT_MAX, 1, 20, INT_MAX));
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"80 00 00 00", "FF FF FF FF"},
                                 {"7F FF FF FF", "FF FF FF FE"}})
    for (std::size_t at; (at = image.find(from)) != std::string::npos;) image.replace(at, from.size(), to);
  TERM::RadioStatus odd;
  ASSERT_TRUE(testsupport::decode(image, odd)) << image;
  ASSERT_LT(odd.get_ed_137().get_header().get_ptt().asInt(), 0);
  ASSERT_LT(odd.get_ed_137().get_sqi().get_bss_method().asInt(), 0);
  EXPECT_FALSE(control->SendASNToChan(odd));
  inject("21500000", "10.0.0.7");
  run_for(10);
  got.clear();
  for (const auto& e : events()) got.push_back(e.substr(e.find(' ') + 1));
  EXPECT_EQ(got, Strings{"status 0.1.0.0.0.0 sqi 20.5 request 10.0.0.7/4660 tx 1.0.5.0.1.0"});
}

TEST_F(Ed137Control, RadiosThatDoNotTransmitReportNothing) {
  for (auto [type, mode] : {std::pair<int, int>{1, 2}, {0, 2}, {2, 1}}) {
    ED137RadioParams p;
    p.type = static_cast<std::uint32_t>(type);
    p.txrxMode = static_cast<std::uint32_t>(mode);
    make(p, 10, 1, false);
    inject("21500000");
    run_for(10);
    EXPECT_EQ(events(), Strings{}) << type << " " << mode;
    control->RtpExtStop();
  }
  for (auto [type, mode] : {std::pair<int, int>{3, 0}, {4, 2}}) {
    ED137RadioParams p;
    p.type = static_cast<std::uint32_t>(type);
    p.txrxMode = static_cast<std::uint32_t>(mode);
    make(p, 10, 1, false);
    inject("21500000");
    run_for(10);
    EXPECT_EQ(events().size(), 1u) << type << " " << mode;
    control->RtpExtStop();
  }
}

TEST_F(Ed137Control, ControllerRequestsTowardsTheGround) {
  ED137RadioGWControl& c = make(ED137RadioParams(), 10, 1, false);
  const std::string K = std::to_string(session.line);
  EXPECT_TRUE(c.SendASNToChan(status(1, 1)));  // push-to-talk at no address
  EXPECT_EQ(sent(), Strings{"0 30000000"});
  EXPECT_EQ(filter_ops(), "init/attach:" + K);

  const struct {
    TERM::RadioModifier m;
    bool ok;
    const char* written;  // "" nothing
    const char* ops;      // the filter requests after "init/attach:K"
    int squ;              // GetSQU after
  } steps[] = {
      {modifier('r', 1, 1, "10.0.0.7", 31, 2), true, "315111FA", "/filter:10.0.0.7", 1},
      {modifier('r', 1, 1, "10.0.0.7", 31, 2), true, "", "/filter:10.0.0.7", 1},  // no change: not resent
      {modifier('r', 1, 1, "10.0.0.7", 25, 1), true, "315111C9", "/filter:10.0.0.7", 1},
      // Refused whole: an unknown params alternative, an address that is
      // not a dotted quad.
      {modifier('x', 0, 0), false, "", "/filter:10.0.0.7", 1},
      {modifier('r', 0, 0, "10.0.0"), false, "", "/filter:10.0.0.7", 1},
      {modifier('r', 0, 0, "255.255.255.255x"), false, "", "/filter:10.0.0.7", 1},
      {modifier('t', 1, 1, "10.0.0.9"), true, "21500000", "/filter:10.0.0.7/filter:10.0.0.9", 1},
      {modifier('r', 0, 0, "10.0.0.9"), true, "01500000", "/filter:10.0.0.7/filter:10.0.0.9/reset", 0},
  };
  int n = 0;
  for (const auto& s : steps) {
    EXPECT_EQ(c.SendASNToChan(s.m), s.ok) << n;
    const Strings w = sent();
    EXPECT_EQ(w.size(), *s.written ? 1u : 0u) << n;
    if (!w.empty() && *s.written) {
      EXPECT_EQ(w[0].substr(w[0].find(' ') + 1), s.written) << n;
    }
    EXPECT_EQ(filter_ops(), "init/attach:" + K + s.ops) << n;
    EXPECT_EQ(c.GetSQU(), s.squ != 0) << n;
    ++n;
  }
  // Zarn requests are not this control's.
  TERM::RadioModifier zarn;
  zarn.select_zarn();
  EXPECT_FALSE(c.SendASNToChan(zarn));
  TERM::RadioStatus zstatus;
  zstatus.select_zarn();
  EXPECT_FALSE(c.SendASNToChan(zstatus));
  EXPECT_FALSE(c.SendASNToChan(TERM::RadioStatus()));
  EXPECT_EQ(sent(), Strings{});
}

// A newer controller may send extension values of the push-to-talk type,
// the squelch and the BSS method. Those the header extension's fields hold
// (the ground's push-to-talk types 5 to 7, methods 4 to 7) go out as they
// are; a larger one is refused whole, never sent as the value its low bits
// make, and the state and its keep-alive stay as they were.
TEST_F(Ed137Control, ControllerValuesBeyondTheHeaderFields) {
  ED137RadioGWControl& c = make(ED137RadioParams(), 10, 1, false);
  EXPECT_TRUE(c.SendASNToChan(status(1, 1)));
  EXPECT_EQ(sent(), Strings{"0 30000000"});

  const struct {
    TERM::RadioModifier m;
    bool ok;
    const char* written;  // "" nothing
  } steps[] = {
      {modifier('r', 7, 1, "10.0.0.7", 31, 7), true, "F15111FF"},
      {modifier('t', 5, 1), true, "A1500000"},
      {modifier('r', 12, 1), false, ""},                 // 4, an emergency push-to-talk, by its low bits
      {modifier('r', 8, 1), false, ""},                  // 0, no push-to-talk
      {modifier('t', 9, 1), false, ""},
      {modifier('r', 1, 2), false, ""},                  // no squelch on the wire
      {modifier('r', 1, 1, "10.0.0.7", 31, 10), false, ""},  // method 2 by its low bits
      {modifier('r', 3, 1, "10.0.0.7", 9, 4), true, "7151114C"},
  };
  int n = 0;
  for (const auto& s : steps) {
    // As the control link delivers it: the extension values through PER.
    TERM::RadioModifier received;
    ASSERT_TRUE(testsupport::decode(testsupport::per(s.m), received)) << n;
    EXPECT_EQ(c.SendASNToChan(received), s.ok) << n;
    const Strings w = sent();
    EXPECT_EQ(w.size(), *s.written ? 1u : 0u) << n;
    if (!w.empty() && *s.written) {
      EXPECT_EQ(w[0].substr(w[0].find(' ') + 1), s.written) << n;
    }
    EXPECT_TRUE(c.GetSQU()) << n;
    ++n;
  }
  // A status likewise (the creation status): refused, nothing sent; the
  // keep-alive still carries the last state taken.
  EXPECT_FALSE(c.SendASNToChan(status(12, 1)));
  EXPECT_FALSE(c.SendASNToChan(status(1, 3)));
  EXPECT_FALSE(c.SendASNToChan(status(1, 1, 20, 8)));
  EXPECT_EQ(sent(), Strings{});
  EXPECT_TRUE(c.GetSQU());
  c.ProcessRadioStatus(now_ms() + 5000, 1000);
  const Strings w = sent();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].substr(w[0].find(' ') + 1), "7151114C");
}

// The periodic send: a request stamps the schedule; the keep-alive is the
// radio state in RX form, also after a TX-form request.
TEST_F(Ed137Control, KeepAliveScheduleAndForm) {
  ED137RadioGWControl& c = make(ED137RadioParams(), 10, 1, false);
  const std::uint32_t t = now_ms();
  EXPECT_TRUE(c.SendASNToChan(modifier('t', 1, 1)));
  EXPECT_EQ(c.ProcessRadioStatus(t + 700, 1000), 310u);
  EXPECT_EQ(sent(), Strings{"0 21500000"});
  EXPECT_EQ(c.ProcessRadioStatus(t + 1000, 1000), 1000u);
  EXPECT_EQ(c.ProcessRadioStatus(t + 2000, 1000), 1000u);
  const Strings w = sent();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].substr(w[0].find(' ') + 1), "31500000");
  EXPECT_EQ(w[1].substr(w[1].find(' ') + 1), "31500000");
  // A ground payload 400 ms after a send leaves the schedule as it was.
  inject("21500000");
  run_for(1);
  EXPECT_EQ(c.ProcessRadioStatus(t + 2400, 1000), 610u);
  // Word 4 below 1, or word 3 of 0 (a keep-alive period under ten packet
  // factors): every request goes out, changed or not; else changes only.
  const struct {
    std::uint32_t w3, w4;
    std::size_t sent;
  } rows[] = {{10, 0, 2}, {0, 1, 2}, {1, 1, 1}};
  for (const auto& r : rows) {
    ED137RadioGWControl& d = make(ED137RadioParams(), r.w3, r.w4, false);
    EXPECT_TRUE(d.SendASNToChan(modifier('r', 0, 1)));
    EXPECT_TRUE(d.SendASNToChan(modifier('r', 0, 1)));
    EXPECT_EQ(sent().size(), r.sent) << r.w3 << "." << r.w4;
  }
  // An RX-form request restarts the keep-alive schedule, a TX-form one
  // does not.
  ED137RadioGWControl& e = make(ED137RadioParams(), 10, 1, false);
  const std::uint32_t u = now_ms();
  run_for(300);
  EXPECT_TRUE(e.SendASNToChan(modifier('t', 1, 1)));
  EXPECT_EQ(e.ProcessRadioStatus(u + 700, 1000), 310u);
  EXPECT_TRUE(e.SendASNToChan(modifier('r', 1, 1)));
  EXPECT_EQ(e.ProcessRadioStatus(u + 1000, 1000), 310u);
  EXPECT_EQ(sent().size(), 2u);
  // A keep-alive period of 0 supervises nothing.
  ED137RadioParams none;
  none.r2sKeepAlivePeriod = 0;
  ED137RadioGWControl& f = make(none, 10, 1, false);
  events();
  f.ProcessRadioStatus(now_ms() + 5000, 1000);
  EXPECT_EQ(events(), Strings{});
}

TEST(Ed137Factory, HeaderExtensionSetUpWords) {
  const struct {
    std::uint32_t period, multiplier, sigtime;
    std::uint16_t pfactor;
    std::uint32_t w3, w4;
  } table[] = {{200, 10, 1, 0, 10, 1},    // the defaults: 200 / (2 x 10)
               {1000, 3, 4, 4, 100, 4},   // (1000 / 40) x 4
               {20, 2, 1, 3, 0, 1},       // 20 / 30
               {200, 10, 0, 1, 20, 1}};   // sigtime 0 multiplies nothing
  for (const auto& t : table) {
    ED137RadioParams p;
    p.r2sKeepAlivePeriod = t.period;
    p.r2sKeepAliveMultiplier = t.multiplier;
    p.sigtime = t.sigtime;
    const rtp_ext_init_params init = RtpED137Factory::InitParams(p, t.pfactor);
    EXPECT_EQ(init.etype, 0x0167);
    EXPECT_EQ(init.param[0], 1u);
    EXPECT_EQ(init.param[1], 123u);
    EXPECT_EQ(init.param[2], t.w3) << t.period << "/" << t.pfactor;
    EXPECT_EQ(init.param[3], t.w4);
  }
  // Only the optional fields that are present replace the defaults.
  TERM::ED137RadioResponse r;
  r.set_type(TERM::ED137RadioType::radio_rxonly);
  r.set_txrxmode(TERM::ED137RadioTxRxMode::rx);
  ED137RadioParams p;
  p.Init(r);
  EXPECT_EQ(p.sigtime, 1u);
  EXPECT_EQ(p.r2sKeepAlivePeriod, 200u);
  EXPECT_EQ(p.r2sKeepAliveMultiplier, 10u);
  EXPECT_FALSE(p.transmissionDependOnSQU);
  EXPECT_EQ(p.type, 1u);
  EXPECT_EQ(p.txrxMode, 1u);
  r.set_sigtime(4u);
  r.set_r2s_keepalive_period(1000u);
  r.set_r2s_keepalive_multiplier(3u);
  r.set_transmission_depend_on_squ(true);
  p.Init(r);
  EXPECT_EQ(p.sigtime, 4u);
  EXPECT_EQ(p.r2sKeepAlivePeriod, 1000u);
  EXPECT_EQ(p.r2sKeepAliveMultiplier, 3u);
  EXPECT_TRUE(p.transmissionDependOnSQU);
}

}  // namespace
