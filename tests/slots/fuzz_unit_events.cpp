// Event records of any shape from the two DSP units ("/dev/dsp" and
// "/dev/dtmf") as the loop reads them, to receivers in the states the input
// chooses: whole records for known and unknown time slots, stale and
// current request ids, short and empty records, and the slot's turning of
// each event into its signal.
// Input: one octet of functions to switch on for the receiver on time slot
// 9 (bits: VAD, SD, DTMF detection, BSS, IVA detection, a tone filter;
// bit 6 switches the events' trace on), then records of a head
// octet and bytes: the low 5 bits are the length, bit 5 picks the tone unit,
// bit 6 puts the receiver's time slot (9) and current id into the record's
// first words, bit 7 runs the loop afterwards.
#include "control/trace_ctl.h"
#include "platform/clock.h"
#include "platform/dsp.h"
#include "platform/dtmf.h"
#include "platform/sim/dsp.h"
#include "platform/sim/dtmf.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"
#include "slots/dsproc_receiver.h"
#include "slots/tonec_receiver.h"
#include "tests/slots/tone_probe_slot.h"
#include "tests/support/fuzz_loop.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <vector>

namespace {

using fuzzsupport::run_for;

bool set_up() {
  fuzzsupport::start_quiet();
  return true;
}

void put32(std::vector<std::uint8_t>& rec, std::size_t off, std::uint32_t v) {
  if (rec.size() >= off + 4) std::memcpy(rec.data() + off, &v, 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = set_up();
  (void)ready;
  if (size == 0) return 0;
  constexpr std::uint32_t ts = 9;
  {
    slotstest::ToneProbeSlot slot(ts);
    const std::uint8_t on = data[0];
    traces.signalling.events = on & 64;
    LGCP::IoctlParams p;
    if (on & 1) {
      p.select_vad_enable(true);
      slot.Ioctl(p);
    }
    if (on & 2) {
      p.select_sd_enable(true);
      slot.Ioctl(p);
    }
    if (on & 4) {
      p.select_dtmf_enable(true);
      slot.Ioctl(p);
    }
    slot.enableBSSAndIVA(on & 8, on & 16);
    if (on & 32) {
      LGCP::ToneFilter& f = p.select_tone_filter();
      f.set_freq(2100);
      f.set_enable(true);
      f.set_duration_th_msec(100);
      f.set_det_level_dB(-20);
      slot.Ioctl(p);
    }
    run_for(1);
    // The ids the units handed out last: the records may carry the current one.
    const std::uint32_t dsp_id = Hardware::DSProcReceiverService::instance().request_counter();
    const std::uint32_t dtmf_id = Hardware::TonecReceiverService::instance().request_counter();

    for (std::size_t at = 1; at < size;) {
      const std::uint8_t head = data[at++];
      std::size_t len = head & 0x1F;
      if (len > size - at) len = size - at;
      std::vector<std::uint8_t> rec(data + at, data + at + len);
      at += len;
      const bool tone = head & 0x20;
      if (head & 0x40) {
        if (tone) {
          put32(rec, 4, ts);
          put32(rec, 12, dtmf_id);
        } else {
          put32(rec, 0, ts);
          put32(rec, 4, dsp_id);
        }
      }
      if (tone)
        platform::sim::dtmf().deliver_record(rec);
      else
        platform::sim::dsp().deliver_record(rec);
      if (head & 0x80) run_for(1);
    }
    run_for(1);
  }
  run_for(1);
  platform::sim::dsp().clear();
  platform::sim::dtmf().clear();
  return 0;
}
