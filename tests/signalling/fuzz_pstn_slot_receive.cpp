// Device frames of any shape through an activated PSTN slot: the HDLC
// controller's reads go up into the slot's link (SS7, ISDN user or network
// side, primary or basic rate, the basic-rate network side's manager) and
// whatever the link makes of them reaches the slot's signals; the link
// timers run in between and the slot is destroyed at the end.
// Input: one octet choosing the link (low 3 bits: SS7, PRI user, PRI
// network, BRI user, BRI network), then records of one length byte (low 7
// bits; the top bit lets 1000 ms pass afterwards, so link timers fire) and
// that many frame bytes. The head 0xFF empties the packet pool or gives it
// back, 0xFE gives one buffer back, so the link meets an empty pool while it
// answers.
#include "platform/clock.h"
#include "platform/sim/mcc.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/packet.h"
#include "runtime/timer.h"
#include "signalling/pstn_slot.h"
#include "slots/slots.h"
#include "tests/support/fuzz_loop.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
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
  return true;
}

LGCP::CreateParams params(unsigned kind) {
  LGCP::CreateParams p;
  if (kind == 0) {
    LGCP::SS7Params& s = p.select_pstn().select_ss7();
    s.set_trunk(1);
    s.set_slc(2);
    s.set_dpc(3);
    s.set_opc(4);
    s.set_emergency(false);
    return p;
  }
  LGCP::IsdnParams& i = p.select_pstn().select_isdn();
  i.set_type(kind >= 3 ? LGCP::IsdnType::bri : LGCP::IsdnType::pri);
  i.set_trunk(1);
  i.set_log(0);
  if (kind == 2 || kind == 4)
    i.set_side().select_network();
  else
    i.set_side().select_user();
  return p;
}

// The newest channel allocated on the controller; -1 when none.
int timeslot() {
  const auto a = platform::sim::mcc().allocations();
  return a.empty() ? -1 : a.back().timeslot;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = set_up();
  (void)ready;
  if (size == 0) return 0;
  Slot* slot = PstnFactory::instance().NewSlot(params((data[0] & 7) % 5));
  if (!slot) std::abort();
  TERM::TermActivateParams act;
  act.select_empty();
  slot->IActivate(act);
  run_for(1);
  const int ts = timeslot();
  fuzzsupport::play_frames(data, size, 1, [&](const std::uint8_t* frame, std::size_t len) {
    if (ts >= 0) platform::sim::mcc().inject(ts, frame, len);
  });
  slot->IDeactivate();
  run_for(1);
  Slots::instance().Destroy(slot);
  // A release still under way ends on the loop.
  run_for(3000);
  return 0;
}
