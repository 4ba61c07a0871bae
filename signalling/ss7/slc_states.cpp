// The alignment state machine and the basic error correction in service.
#include "signalling/ss7/slc.h"

#include "runtime/ext_output.h"

#include <iostream>

namespace SS7 {

void SLC::next_state(State& s) {
  if (trace.state)
    std::clog << ext::shortinfo(this) << ": change state from \"" << state_name(current->get_state_id()) << "\" to \""
              << state_name(s.get_state_id()) << "\"" << std::endl;
  current->on_leave(*this);
  current = &s;
  s.on_enter(*this);
}

void SLC::reset() {
  for (std::int32_t k = 0; k < rtb_count_; ++k) rtb[rtb_oldest + k].clear();
  rtb_oldest = 0;
  rtb_last = 127;
  rtb_count_ = 0;
  nack_pending = bad_bsn = bad_fib = false;
  bsn_own = 127;
  fsn_own = 127;
  bib_own = true;
  fib_own = true;
}

void SLC::make_expected() {
  fsn_expected = bsn_own;
  bib_expected = bib_own;
  fib_expected = fib_own;
}

// ---- Entering and leaving states ----

void SLC::on_enter(IdleState&) {
  reset();
  sios();
  Protocol::on_deactivate(Smart_pointer<Internal_protocol_status>(new Protocol_status_error(this, "impossible phasing")));
}

void SLC::on_enter(NotAlignedState&) {
  reset();
  set(T2);
  sio();
}

void SLC::on_enter(AlignedState&) {
  set(T3);
  if (trace.timers) std::clog << ext::header(this) << "set T3" << std::endl;
  if (emergency)
    sie();
  else
    sin();
}

void SLC::on_enter(ProvingState&) {
  if (emergency) {
    set(T4e);
    sie();
  } else {
    set(T4n);
    sin();
  }
  if (trace.timers) std::clog << ext::header(this) << "set T4" << std::endl;
}

void SLC::on_enter(AlignedReadyState&) {
  set(T1);
  fisu();
}

void SLC::on_enter(WorkedState&) {
  if (!tb.empty()) {
    std::cerr << ext::header(this) << "discard " << tb.count() << " msu in TB" << std::endl;
    tb.clear();
  }
  reset();
  fisu();
  process_tb();
  Protocol::on_activate();
}

void SLC::on_leave(State&) { timer.reset(); }

// ---- Alignment ----

void SLC::lssu(IdleState&, Indication i) {
  if (i == SIO)
    next_state(aligned_state);
  else if (i == SIN || i == SIE)
    next_state(proving_state);
}

void SLC::lssu(NotAlignedState&, Indication i) {
  if (i == SIO)
    next_state(aligned_state);
  else if (i == SIN || i == SIE)
    next_state(proving_state);
}

void SLC::lssu(AlignedState&, Indication i) {
  if (i == SIN || i == SIE) next_state(proving_state);
}

void SLC::lssu(ProvingState&, Indication i) {
  if (i != SIN && i != SIE) next_state(idle_state);
}

void SLC::fisu(ProvingState&) { next_state(worked_state); }

void SLC::msu(ProvingState&, Packet&) { next_state(worked_state); }

void SLC::on_T1(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T1 expired" << std::endl;
  next_state(idle_state);
}

void SLC::on_T2(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T2 expired" << std::endl;
  next_state(idle_state);
}

void SLC::on_T3(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T3 expired" << std::endl;
  next_state(idle_state);
}

void SLC::on_T4(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T4 expired." << std::endl;
  next_state(aligned_ready_state);
}

void SLC::on_T7(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T7 expired: " << rtb_count_ << " packets in RTB." << std::endl;
  next_state(idle_state);
}

// ---- In service ----

void SLC::lssu(WorkedState&, Indication i) {
  std::cerr << ext::header(this) << "receive lssu: " << i << " " << DumpPtr{this} << std::endl;
  next_state(idle_state);
}

void SLC::message(WorkedState&, Packet& p) {
  if (!acceptable_msu(p)) return;
  put_to_tb(p);
  process_tb();
}

void SLC::fisu(WorkedState&) {
  make_expected();
  if (fibr != bib_expected) {
    unexpected_fib();
    return;
  }
  nack_pending = bad_fib = false;
  if (!process_bsnr()) return;
  if (fsnr != fsn_expected) nack();  // the peer sent an MSU we never saw
}

void SLC::msu(WorkedState&, Packet& p) {
  make_expected();
  if (fsnr == fsn_expected) {
    if (trace.msu_processing)
      std::clog << ext::header(this) << "discard msu due to 5.2.2/i Q.702" << " fsnr=" << unsigned(fsnr)
                << " fsnx=" << unsigned(fsn_expected) << std::endl;
    return;
  }
  if (fibr != bib_expected) {
    unexpected_fib();
    return;
  }
  nack_pending = bad_fib = false;
  if (!process_bsnr()) return;
  if (fsnr != fsn_expected + 1) {
    if (trace.msu_processing)
      std::clog << ext::header(this) << "discard msu due to 5.2.2/ii Q.702" << " fsnr=" << unsigned(fsnr)
                << " fsnx=" << unsigned(fsn_expected) << std::endl;
    nack();
    return;
  }
  ack();
  if (trace.mtp_receive) std::clog << ext::header(this) << " mtp rx" << Octets{p} << std::endl;
  Protocol::on_message(p);
}

void SLC::unexpected_fib() {
  if (nack_pending) {
    // The retransmission has not reached us yet: only take the acknowledgement.
    process_bsnr();
  } else if (bad_fib) {
    if (trace.msu_processing)
      std::cerr << ext::header(this) << "bad start of a retransmission: " << DumpPtr{this} << std::endl;
    next_state(idle_state);
  } else {
    bad_fib = true;
  }
}

bool SLC::process_bsnr() {
  if (!((rtb_oldest - 1) <= bsnr <= rtb_last)) {
    if (!bad_bsn) {
      bad_bsn = true;
      return true;
    }
    if (trace.msu_processing)
      std::cerr << ext::header(this) << "bad su acknowledgement received: " << DumpPtr{this} << std::endl;
    next_state(idle_state);
    return false;
  }
  bad_bsn = false;
  const Seq next = bsnr + 1;
  const bool advances = next != rtb_oldest;
  if (advances) set(T7);
  while (rtb_oldest != next) {
    rtb[rtb_oldest].clear();
    --rtb_count_;
    ++rtb_oldest;
  }
  if (rtb_count_ == 0) timer.reset();
  if (bibr != fib_expected) {
    retransmit();  // the peer asks for everything it has not acknowledged
  } else if (advances) {
    // Room in the RTB again: MSUs waiting in the TB go out now rather than
    // at the next MSU from level 3, which may never come.
    drain_tb();
  }
  return in_service();
}

void SLC::ack() {
  bsn_own = fsnr;
  if (trace.msu_processing) std::cerr << ext::header(this) << "ack!" << std::endl;
  fisu();
}

void SLC::nack() {
  bib_own = !bib_own;
  bib_expected = bib_own;
  nack_pending = true;
  fisu();
  ++stats.negative_acks;
  if (trace.msu_processing) std::cerr << ext::header(this) << "nack!" << std::endl;
}

void SLC::retransmit() {
  if (trace.msu_processing) std::cerr << ext::header(this) << "retransmit" << " rtb=" << rtb_count_ << std::endl;
  ++stats.retransmissions;
  fsn_own = rtb_oldest - 1;
  fib_own = bibr;
  // Newest first to the TB's front, so that the TB starts in FSN order.
  Seq at = rtb_last;
  for (std::int32_t k = 0; k < rtb_count_; ++k, --at) {
    if (!tb.append(rtb[at]))
      std::cerr << ext::header(this) << "no space in TB buffer for retransmission, msu lost: " << rtb[at] << std::endl;
    rtb[at].clear();
  }
  rtb_last = fsn_own;
  rtb_count_ = 0;
  process_tb();
}

}  // namespace SS7
