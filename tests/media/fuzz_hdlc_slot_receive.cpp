// Device frames of any shape through an open HDLC package slot: the
// address, control byte and body are taken apart, answers gathered and
// flushed, and nothing may read past the frame or trust its length.
// Input: records of one length byte (low 7 bits; the top bit lets 150 ms
// pass afterwards, so the gather timer fires) and that many frame bytes.
#include "media/hdlc_slot.h"
#include "platform/clock.h"
#include "platform/sim/mcc.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"
#include "tests/support/fuzz_loop.h"

#include <cstddef>
#include <cstdint>
#include <iostream>

namespace {

using fuzzsupport::run_for;

struct Fixture {
  Slot* slot = nullptr;
  int ts = -1;

  Fixture() {
    platform::vclock::enable();
    Mux::g_tv_time = Mux::timeval(0, 0);
    std::clog.rdbuf(nullptr);  // the loop and the slot log every pass
    LGCP::CreateParams p;
    LGCP::HdlcParams& h = p.select_hdlcParams();
    h.set_trunk(1);
    h.set_log(0);
    h.set_address(3);
    slot = HdlcSlotFactory::instance().NewSlot(p);
  }

  // Opens the slot's channel when a read failure closed it.
  void open() {
    auto a = platform::sim::mcc().allocations();
    if (!a.empty()) {
      ts = a.back().timeslot;
      return;
    }
    TERM::TermActivateParams act;
    act.select_empty();
    slot->IActivate(act);
    a = platform::sim::mcc().allocations();
    ts = a.empty() ? -1 : a.back().timeslot;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture f;
  std::size_t at = 0;
  while (at < size) {
    const std::uint8_t head = data[at++];
    std::size_t len = head & 0x7F;
    if (len > size - at) len = size - at;
    f.open();
    if (f.ts >= 0) platform::sim::mcc().inject(f.ts, data + at, len);
    at += len;
    run_for((head & 0x80) ? 150 : 1);
  }
  return 0;
}
