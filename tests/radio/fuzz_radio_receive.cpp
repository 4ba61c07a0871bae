// Payloads of any shape through a radio control as the loop delivers them:
// read from the simulated header-extension device in batches, unpacked,
// merged per source, let through by the radio's kind, type and mode and
// reported to the controller; keep-alives, status groups and supervision
// run in between. Every report must encode for the control link (one the
// encoder refuses would be lost without a trace) and every payload the
// control writes must unpack again.
// Input: one octet choosing the control (bits 6-7: ED-137 gateway, Zarn
// gateway, Zarn workstation) and, for ED-137, the radio type (low 3 bits)
// and mode (next 2 bits); then records of a head octet and payload bytes:
// the low 6 bits are the payload length, bit 6 picks the second source,
// bit 7 ends the batch (the loop runs 1 ms); the head 0xFF lets 1000 ms
// pass instead.
#include "asn1/asn1.h"
#include "radio/ed137/ed137_radio_control.h"
#include "radio/zarn/zarn_radio_control.h"
#include "tests/radio/radio_sim.h"
#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"
#include "tests/support/fuzz_loop.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

void must_encode(TERM::RtpRadioRequest const& r) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  if (!ASN1::encode(r, &env, std::back_inserter(out))) std::abort();
}

struct Reports : RTPSignalling::IRadioControlNotify {
  void RadioControlNotify(TERM::RtpRadioRequest const& r) override { must_encode(r); }
  void RadioControlNotify(int cause) override {
    if (ed137 && cause != RTPSignalling::ED137_KEEPALIVE_LOST) std::abort();
  }
  bool ed137 = true;
};

using fuzzsupport::run_for;

struct Fixture {
  radio_test::RtpSession session;
  Reports reports;

  Fixture() {
    platform::vclock::enable();
    Mux::g_tv_time = Mux::timeval(0, 0);
    std::clog.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    // A remote address off this machine: the model then sends nothing out.
    std::memset(&session.params, 0, sizeof session.params);
    session.params.remote_addr = radio_test::ip("192.0.2.1").s_addr;
    session.params.remote_port = 5004;
    session.params.tx_pt = 8;
    session.params.ssrc = 0x01020304;
    rtp_channel_info info = {-1, -1, -1, 0};
    if (RtpSetup::BeginSession(session.params, info, session.fd) != RtpSetup::SessionStep::done) std::abort();
    session.tdm = info.tdm;
  }

  // Every payload written since the last look unpacks (an ED-137 one as the
  // RX form the gateway sends).
  void check_sent() {
    for (const auto& w : platform::sim::rtp_ext().take_sent(session.tdm)) {
      const int n = static_cast<int>(w.bytes.size());
      if (reports.ed137) {
        r2s_proto p;
        r2s_proto_init(&p, 0);
        if (r2s_proto_unpack_rx(&p, w.bytes.data(), n) != 0) std::abort();
      } else {
        sig_proto p;
        sig_proto_init(&p);
        if (sig_proto_unpack(&p, w.bytes.data(), n) != 0) std::abort();
      }
    }
    platform::sim::rtp_ext().written.clear();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture f;
  if (size == 0) return 0;
  const rtp_ext_attach_session_params attach{f.session.fd.lowlevel_fd(), -1};
  std::unique_ptr<RTPSignalling::RadioControl> control;
  const int kind = data[0] >> 6;
  f.reports.ed137 = kind == 0 || kind == 3;
  if (f.reports.ed137) {
    RTPSignalling::ED137RadioParams params;
    params.type = data[0] & 7;
    params.txrxMode = (data[0] >> 3) & 3;
    auto c = std::make_unique<RTPSignalling::ED137RadioGWControl>(7, attach, radio_test::ed137_init());
    c->SetParams(params);
    control = std::move(c);
    control->SetTimerInterval((params.r2sKeepAlivePeriod * params.r2sKeepAliveMultiplier) >> 1);
  } else {
    rtp_ext_init_params init;
    std::memset(&init, 0, sizeof init);
    init.etype = 0x1337;
    if (kind == 1)
      control = std::make_unique<RTPSignalling::ZarnRadioGWControl>(f.session.tdm, attach, init);
    else
      control = std::make_unique<RTPSignalling::ZarnRadioWSControl>(f.session.tdm, attach, init);
    control->SetTimerInterval(1000);
  }
  control->Bind(&f.reports);
  control->SetTimerEnable(true);

  const std::uint32_t sources[2] = {radio_test::ip("10.0.0.7").s_addr, radio_test::ip("10.0.0.8").s_addr};
  for (std::size_t at = 1; at < size;) {
    const std::uint8_t head = data[at++];
    if (head == 0xFF) {
      run_for(1000);
      continue;
    }
    std::size_t len = head & 0x3F;
    if (len > size - at) len = size - at;
    platform::sim::rtp_ext().inject(f.session.tdm, sources[(head >> 6) & 1], 4660,
                                    std::vector<std::uint8_t>(data + at, data + at + len));
    at += len;
    if (head & 0x80) run_for(1);
  }
  run_for(1);
  f.check_sent();

  control->RtpExtStop();
  control->UnBind();
  control->SetTimerEnable(false);
  control.reset();
  run_for(1);
  f.check_sent();
  // The control closed its instance: once the model has seen that, its
  // history of instances, which would only grow from input to input, goes.
  platform::sim::rtp_ext().refresh();
  for (const auto& in : platform::sim::rtp_ext().instances)
    if (in.open) std::abort();
  platform::sim::rtp_ext().instances.clear();
  return 0;
}
