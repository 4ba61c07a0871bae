// Device frames of any shape through an activated ISDN slot: a D channel on
// the HDLC controller (primary or basic rate, user or network side) or an
// ATS-QSIG D channel on "/dev/dsp-data". The slot's reads go up into its
// LAPD link and whatever the link makes of them reaches the slot's signals;
// the link timers run in between and the slot is destroyed at the end.
// Input: one octet choosing the slot (low 3 bits: PRI user, PRI network,
// BRI user, BRI network, ATS-QSIG user, ATS-QSIG network), then records of
// one length byte (low 7 bits; the top bit lets 1000 ms pass afterwards, so
// link timers fire) and that many frame bytes.
#include "platform/clock.h"
#include "platform/sim/control_words.h"
#include "platform/sim/dsp_data.h"
#include "platform/sim/mcc.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/packet.h"
#include "runtime/timer.h"
#include "signalling/isdn_slot.h"
#include "slots/slots.h"
#include "tests/support/fuzz_loop.h"
#include "tests/support/lgcp_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

using fuzzsupport::run_for;

// All but some buffers of the pool are taken once for good, so emptying
// the rest during an input is cheap; the spare ones still hold full link
// queues.
constexpr std::size_t spare_cells = 512;

bool set_up() {
  fuzzsupport::keep_spare_cells(spare_cells);
  fuzzsupport::start_quiet();
  platform::sim::dsp_data();  // the ATS-QSIG device, installed on first use
  return true;
}

LGCP::CreateParams params(unsigned kind) {
  LGCP::CreateParams p;
  const bool network = kind & 1;
  if (kind >= 4) {
    LGCP::AtsQsigParams& q = p.select_ats_qsig();
    if (network)
      q.set_side().select_network();
    else
      q.set_side().select_user();
    return p;
  }
  testsupport::fill_isdn(p.select_isdn(), kind >= 2, network);
  return p;
}

std::string hex(const std::uint8_t* b, std::size_t n) {
  std::string s;
  char two[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02X", b[i]);
    s += two;
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = set_up();
  (void)ready;
  if (size == 0) return 0;
  const unsigned kind = (data[0] & 7) % 6;
  Slot* slot = IsdnFactory::instance().NewSlot(params(kind));
  if (!slot) std::abort();
  TERM::TermActivateParams act;
  act.select_empty();
  slot->IActivate(act);
  run_for(1);
  const bool qsig = kind >= 4;
  int ts = -1;
  if (qsig) {
    ts = static_cast<AtsQsigSlot*>(slot)->GetTimeslot();
  } else {
    const auto a = platform::sim::mcc().allocations();
    if (!a.empty()) ts = a.back().timeslot;
  }
  fuzzsupport::play_frames(data, size, 1, [&](const std::uint8_t* frame, std::size_t len) {
    if (ts < 0) return;
    if (qsig) {
      if (len) platform::sim::control_request("dspdata inject " + std::to_string(ts) + " " + hex(frame, len));
    } else {
      platform::sim::mcc().inject(ts, frame, len);
    }
  });
  slot->IDeactivate();
  run_for(1);
  Slots::instance().Destroy(slot);
  // A release still under way ends on the loop.
  run_for(3000);
  return 0;
}
