// Framing, reception and sending of signal units, the transmission buffer,
// and what the owner configures and reads.
#include "signalling/ss7/slc.h"

#include "runtime/ext_output.h"
#include "runtime/mux_time.h"

#include <iostream>
#include <new>

namespace SS7 {

namespace {

constexpr std::uint32_t header_size = 3;
constexpr std::uint32_t li_max = 63;  // an LI of 63 stands for 63 octets or more
// An MSU holds the SIO and at least two SIF octets: anything shorter would
// go out with the LI of a FISU or an LSSU and throw the peer out of service.
constexpr std::uint32_t msu_min = 3;

}  // namespace

std::ostream& operator<<(std::ostream& os, Octets o) {
  const std::ios_base::fmtflags saved = os.flags();
  os << std::hex;
  for (std::uint32_t i = 0, n = o.p.length(); i < n; ++i) os << ' ' << unsigned(o.p[int(i)]);
  os.flags(saved);
  return os;
}

const SLC::TimerVal SLC::T1 = {45000, &SLC::on_T1};
const SLC::TimerVal SLC::T2 = {7000, &SLC::on_T2};
const SLC::TimerVal SLC::T3 = {1500, &SLC::on_T3};
const SLC::TimerVal SLC::T4n = {8200, &SLC::on_T4};
const SLC::TimerVal SLC::T4e = {500, &SLC::on_T4};
const SLC::TimerVal SLC::T5 = {100, &SLC::on_T5};
const SLC::TimerVal SLC::T6 = {4500, &SLC::on_T6};
const SLC::TimerVal SLC::T7 = {12000, &SLC::on_T7};

SLC::SLC() : congestion_time(std::uint32_t(Mux::milliseconds())) {}

SLC::~SLC() { timer.reset(); }

const char* SLC::state_name(int type) {
  switch (type) {
    case State::idle: return "idle";
    case State::not_aligned: return "not aligned";
    case State::aligned: return "aligned";
    case State::proving: return "proving";
    case State::aligned_ready: return "aligned ready";
    case State::worked: return "worked";
  }
  return "unknown";
}

std::ostream& operator<<(std::ostream& os, SLC::Indication i) {
  switch (i) {
    case SLC::SIO: return os << "out of alignment";
    case SLC::SIN: return os << "normal alignment";
    case SLC::SIE: return os << "emergency alignment";
    case SLC::SIOS: return os << "out of service";
  }
  const std::ios_base::fmtflags saved = os.flags();
  os << "unknown:" << std::hex << unsigned(i);
  os.flags(saved);
  return os;
}

std::ostream& operator<<(std::ostream& os, SLC::DumpPtr d) {
  const std::ios_base::fmtflags saved = os.flags();
  os << std::dec << " BSN=" << unsigned(d.link->bsnr) << " BIB=" << int(d.link->bibr) << " FSN=" << unsigned(d.link->fsnr)
     << " FIB=" << int(d.link->fibr);
  os.flags(saved);
  return os;
}

std::ostream& SLC::PutShortInfo(std::ostream& os) const {
  const std::ios_base::fmtflags saved = os.flags();
  os << std::dec << "SS7/L2 [dpc=" << dpc << ", slc=" << slc << ", trunk=" << linkno << "]";
  os.flags(saved);
  return os;
}

std::ostream& SLC::PutHeader(std::ostream& os) const {
  return PutShortInfo(os) << " (" << state_name(get_state_id()) << "): ";
}

void SLC::protocol_info(std::ostream& os) const { os << "MTP/L2"; }

void SLC::local_prepare_head(Packet& p) { p.reserve_head(header_size); }

void SLC::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void SLC::local_activate() {
  if (current == &idle_state) {
    if (trace.mtp_activate) std::clog << ext::header(this) << "local_activate: executing..." << std::endl;
    next_state(not_aligned_state);
    return;
  }
  if (trace.mtp_activate) std::clog << ext::header(this) << "local_activate: ignored." << std::endl;
  if (in_service()) Protocol::on_activate();
}

void SLC::local_deactivate() {
  if (trace.mtp_activate) std::clog << ext::header(this) << "local_deactivate()" << std::endl;
  next_state(idle_state);
}

int SLC::message(Packet& p) {
  if (trace.mtp_transmit) std::clog << ext::header(this) << " mtp tx" << Octets{p} << std::endl;
  current->message(*this, p);
  return 0;
}

void SLC::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  std::clog << ext::header(this) << "hdlc error [cause=" << std::dec << int(cause) << "]" << std::endl;
}

void SLC::on_hdlc_ready() {
  std::clog << ext::header(this) << "hdlc ready" << std::endl;
  process_tb();
}

void SLC::OnTrunkHardStatus(bool up) {
  if (up || current == &idle_state) return;
  std::clog << ext::header(this) << " transport OFF by low level terminated" << std::endl;
  next_state(idle_state);
}

const SLC::Statistics& SLC::statistics() {
  stats.rtb_size = std::uint32_t(rtb_count_);
  return stats;
}

bool SLC::CoutCongestion() {
  const std::uint32_t now = std::uint32_t(Mux::milliseconds());
  if (now - congestion_time < 1000) return true;
  congestion_time = now;
  return false;
}

// ---- Reception ----

int SLC::receive(Packet& p) {
  try {
    if (trace.raw_receive) std::clog << ext::header(this) << " rx raw" << Octets{p} << std::endl;
    stats.octets_received += p.length();
    if (p.length() < header_size) {
      std::cerr << ext::header(this) << "ignore packet, length too small " << p << std::endl;
      return 0;
    }
    const std::uint8_t o1 = p.pull8();
    const std::uint8_t o2 = p.pull8();
    const std::uint8_t o3 = p.pull8();
    bsnr = o1 & 0x7F;
    bibr = (o1 & 0x80) != 0;
    fsnr = o2 & 0x7F;
    fibr = (o2 & 0x80) != 0;
    li = o3 & 0x3F;  // the two spare bits are not part of it

    const std::uint32_t rest = p.length();
    const std::uint32_t n = rest > li_max ? li_max : rest;
    if (li != n) {
      std::cerr << ext::header(this) << "invalid packet length," << " expected = " << li << ", received = " << rest
                << std::endl;
      if (n != li_max && li < n) {
        std::cerr << ext::header(this) << "truncate " << (n - li) << " octet(s) : " << p << std::endl;
        p.trim(n - li);
      } else if (n == li_max) {
        std::cerr << ext::header(this) << "can't truncate signalling unit." << std::endl;
      }
    }
    li = p.length();
    ++stats.su_received;

    if (li == 0)
      current->fisu(*this);
    else if (li <= 2)
      current->lssu(*this, Indication(p[0]));
    else
      current->msu(*this, p);
  } catch (const std::bad_alloc&) {
    ++no_buffer;
    std::cerr << ext::header(this) << "no packet buffer, received frame dropped" << std::endl;
  }
  return 0;
}

// ---- Sending ----

bool SLC::send(Packet& p) {
  if (!hdlc_) {
    std::cerr << ext::header(this) << "no HDLC interface attached!!!" << std::endl;
    return false;
  }
  try {
    const std::uint32_t len = p.length();
    if (len > packet_max_size - header_size) {
      std::cerr << ext::header(this) << "signalling unit too long (" << len << " octets), not sent" << std::endl;
      return false;
    }
    if (p.null()) {
      p.reserve_head(header_size);
    } else if (p._headroom() < header_size) {
      // No room for the header in front: move the payload into a frame of
      // its own.
      Packet frame;
      frame.reserve_head(header_size);
      frame.put(p);
      p = frame;
    }
    p.push8(std::uint8_t(len >= li_max ? li_max : len));
    p.push8(std::uint8_t(unsigned(fsn_own) | (fib_own ? 0x80 : 0)));
    p.push8(std::uint8_t(unsigned(bsn_own) | (bib_own ? 0x80 : 0)));
  } catch (const std::bad_alloc&) {
    ++no_buffer;
    std::cerr << ext::header(this) << "no packet buffer, signal unit not sent" << std::endl;
    return false;
  }
  if (!hdlc_->hdlc_transmit(p)) {
    if (trace.raw_transmit) std::clog << ext::header(this) << " tx full!" << std::endl;
    return false;
  }
  if (trace.raw_transmit) std::clog << ext::header(this) << " tx raw" << Octets{p} << std::endl;
  ++stats.su_sent;
  stats.octets_sent += p.length();
  return true;
}

void SLC::fisu() {
  Packet p;
  try {
    prepare_head(p);
  } catch (const std::bad_alloc&) {
    ++no_buffer;
    std::cerr << ext::header(this) << "no packet buffer, FISU not sent" << std::endl;
    return;
  }
  send(p);
}

void SLC::lssu(Indication i) {
  if (!hdlc_) return;
  Packet p;
  try {
    p.reserve_head(0);
    p.put8(0xFF);
    p.put8(0xFF);
    p.put8(1);
    p.put8(i);
  } catch (const std::bad_alloc&) {
    ++no_buffer;
    std::cerr << ext::header(this) << "no packet buffer, LSSU not sent" << std::endl;
    return;
  }
  hdlc_->hdlc_transmit(p);
}

bool SLC::send_msu(const Packet& p) {
  if (p.length() < msu_min) {
    if (trace.msu_processing) std::cerr << ext::header(this) << "fail to send msu (bad packet)" << std::endl;
    return false;
  }
  Packet copy = p;
  return send(copy);
}

// ---- Transmission buffer ----

bool SLC::acceptable_msu(const Packet& p) {
  if (p.length() >= msu_min) return true;
  std::cerr << ext::header(this) << "msu shorter than " << msu_min << " octets, ignoring msu: " << p << std::endl;
  return false;
}

void SLC::put_to_tb(Packet& p) {
  if (tb.count() >= tb_limit) {
    ++stats.tb_overflows;
    std::cerr << ext::header(this) << "no space in TB buffer," << " TB=" << tb.count() << " RTB=" << rtb_count_
              << " ignoring msu: " << p << std::endl;
    return;
  }
  tb.put(p);
}

void SLC::process_tb() {
  if (!in_service()) return;
  if (tb.empty())
    fisu();
  else
    drain_tb();
}

void SLC::drain_tb() {
  Packet head;
  while (rtb_count_ < rtb_window && tb.preview(&head)) {
    fsn_own = rtb_last + 1;
    Packet frame = head;  // the TB and RTB keep the MSU without header
    if (!send(frame)) {
      // The MSU stays at the TB's head; later units must not announce it.
      fsn_own = rtb_last;
      return;
    }
    tb.get(&head);
    rtb_last = fsn_own;
    rtb[rtb_last] = head;
    if (++rtb_count_ == 1) set(T7);
  }
}

}  // namespace SS7
