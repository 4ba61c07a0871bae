#include "signalling/lapd/lapd.h"

#include "runtime/ext_output.h"

#include <iostream>
#include <new>

namespace ISDN {

using namespace lapd_frame;

char logbuf[logbuf_size];

LAPD::Notify::~Notify() = default;

const LAPD::LinkTimer LAPD::timers_[3] = {
    {"T200", T200_ms, &LAPD::on_T200, &LAPDFullState::T200run},
    {"T202", T202_ms, &LAPD::on_T202, &LAPDFullState::T202run},
    {"T203", T203_ms, &LAPD::on_T203, &LAPDFullState::T203run},
};

LAPD::LAPD(Side::type side, unsigned log_level) : side_(side), log_(log_level) { discard_queue(); }

LAPD::~LAPD() = default;

std::ostream& LAPD::trace() const { return std::clog << ext::header(this); }

std::ostream& LAPD::PutHeader(std::ostream& os) const {
  return os << "LAPD[" << linkno_ << "] (" << statetext(state) << "): ";
}

void LAPD::local_prepare_head(Packet& p) { p.reserve_head(header_room); }

void LAPD::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

// ---- sending ---------------------------------------------------------------

// Octet 1: SAPI, C/R and EA 0. The network side sends commands with C/R 1,
// the user side with C/R 0; responses the other way round.
std::uint8_t LAPD::address1(bool command) const {
  bool cr = (side_ == Side::network) == command;
  return static_cast<std::uint8_t>(((ownSAPI & 0x3F) << 2) | (cr ? 2 : 0));
}

bool LAPD::tx_cmd_resp(bool command, std::uint8_t control, int pf, bool supervisory) {
  Packet frame;
  try {
    prepare_head(frame);
  } catch (const std::bad_alloc&) {
    // No buffer for the frame: it is lost like a refused one, and counted.
    ++stats_.errors;
    trace() << "no packet buffer for a frame" << std::endl;
    return false;
  }
  frame.put8(address1(command));
  frame.put8(address2());
  if (supervisory) {
    frame.put8(control);
    frame.put8(static_cast<std::uint8_t>((unsigned(VR) << 1) | (pf ? 1 : 0)));
  } else {
    frame.put8(static_cast<std::uint8_t>(control | (pf ? PF_U : 0)));
  }
  return xmit(frame);
}

// The header goes into the head room of the message (OutData only holds
// messages that have it); on refusal the message is bare again.
bool LAPD::tx_iframe(Packet& msg) {
  try {
    unsigned char* h = msg.push(header_room);  // a shared buffer is copied here
    h[0] = address1(true);
    h[1] = address2();
    h[2] = static_cast<std::uint8_t>(unsigned(VS) << 1);
    h[3] = static_cast<std::uint8_t>(unsigned(VR) << 1);  // P = 0
  } catch (const std::bad_alloc&) {
    ++stats_.errors;
    return false;
  }
  if (xmit(msg)) return true;
  strip(msg, header_room);
  return false;
}

bool LAPD::xmit(Packet& frame) {
  if (!hdlc_) {
    if (log_ > 3) trace() << "no HDLC device attached!!!" << std::endl;
    return false;
  }
  Packet sent = frame;
  if (!hdlc_->hdlc_transmit(sent)) {
    trace() << "tx full" << std::endl;
    return false;
  }
  if (log_ > 2) trace_frame("tx: ", frame, true);
  return true;
}

// Frames are labelled by the way they really travel: sent by the user side
// or received by the network side is user->network.
void LAPD::trace_frame(const char* prefix, const Packet& frame, bool sent) {
  if (frame.empty()) return;
  int to_user = (side_ == Side::network) == sent ? 1 : 0;
  logbuf[0] = '\0';
  // Read in place: a shared buffer must not be copied for a trace.
  const unsigned char* octets = static_cast<const Smart_pointer<_Packet>&>(frame)->fdata;
  dlogframe(octets, static_cast<int>(frame.length()), to_user, logbuf, logbuf_size);
  std::ostream& os = trace() << prefix << logbuf;
  std::size_t n = std::char_traits<char>::length(logbuf);
  if (n == 0 || logbuf[n - 1] != '\n') os << '\n';
  os << std::flush;
}

// ---- receiving -------------------------------------------------------------

// Drops the first n octets; a shared buffer is copied first, and with the
// pool empty the packet is lost and counted.
bool LAPD::strip(Packet& p, std::uint32_t n) {
  try {
    p.pull(n);
    return true;
  } catch (const std::bad_alloc&) {
    ++stats_.errors;
    trace() << "no packet buffer for a frame" << std::endl;
    return false;
  }
}

int LAPD::receive(Packet& p) {
  std::uint32_t len = p.length();
  if (len < 2) return 0;
  if (log_ > 2) trace_frame("rx:", p, false);
  const Packet& f = p;
  std::uint8_t a1 = f[0];
  std::uint8_t a2 = f[1];
  if (a1 & 1) return 0;  // extended address: not ours
  if (!(a2 & 1)) return 0;
  peerSAPI = a1 >> 2;
  bool cr = (a1 & 2) != 0;
  bool cmd = side_ == Side::user ? cr : !cr;
  peerTEI = a2 >> 1;
  if (bri_ && side_ == Side::user && peerTEI != ownTEI && peerTEI != 127) return 0;
  // A frame too short for its type is dropped, never read with missing
  // octets taken as 0.
  if (len < 3) return 0;
  std::uint8_t c = f[2];
  if ((c & 3) == 1) {
    if (len < 4) return 0;
    std::uint8_t c2 = f[3];
    Seq nr(c2 >> 1);
    int pf = c2 & 1;
    switch (c) {
      case RR:
      case RNR:
      case REJ: on_supervisory(static_cast<Supervisory>(c), cmd, pf, nr); break;
      default: break;
    }
  } else if ((c & 3) == 3) {
    int pf = (c & PF_U) ? 1 : 0;
    switch (c & ~PF_U) {
      case DISC: on_DISC(cmd, pf); break;
      case UI:
        if (!strip(p, 3)) return 0;
        on_UI(p);
        break;
      case DM: on_DM(cmd, pf); break;
      case SABME: on_SABME(cmd, pf); break;
      case UA: on_UA(cmd, pf); break;
      case FRMR: on_FRMR(cmd, pf); break;
      default: break;
    }
  } else {
    if (len < 4) return 0;
    std::uint8_t c2 = f[3];
    if (!strip(p, 4)) return 0;
    on_ICOM(p, c2 & 1, Seq(c >> 1), Seq(c2 >> 1));
  }
  local_events();
  return 0;
}

// ---- messages from above ---------------------------------------------------

int LAPD::message(Packet& p) {
  ++stats_.txMessages;
  if (p.empty()) {
    ++stats_.emptyMessages;
    return 0;
  }
  if (OutData.count() >= out_limit) {
    trace() << "discard outgoing message: buffer overflow" << std::endl;
    ++stats_.outOverflows;
  } else {
    if (log_ > 2) {
      if (OutData.count() > window)
        trace() << "outgoing queue size = " << OutData.count() << " tx counter = " << stats_.txMessages
                << std::endl;
      trace() << "add to tx queue: " << p << std::endl;
    }
    Packet msg = p;
    if (msg._headroom() < header_room) {
      // Not built through prepare_head: copied behind room for the header.
      Packet copy;
      try {
        prepare_head(copy);
        if (copy.tailroom() >= msg.length()) copy.put(msg);
      } catch (const std::bad_alloc&) {
        copy.clear();
      }
      msg = copy;
    }
    if (msg.empty()) {
      ++stats_.errors;
    } else {
      OutData.put(msg);
      QueuedUp = true;
    }
  }
  if (state == TEI_unassigned) change_state(Assign_awaiting_TEI);
  if (OutData.count() > congest_above) report_congestion();
  local_events();
  return 0;
}

// ---- pending work ----------------------------------------------------------

void LAPD::local_events() {
  ack_queue_refreash();
  queued_up();
  ack_pending();
  if (OutData.count() < release_below) release_congestion();
}

void LAPD::ack_queue_refreash() {
  unsigned outstanding = VS - VA;
  unsigned removed = 0;
  while (AckData.count() > outstanding) {
    Packet dropped;
    AckData.get(dropped);
    ++removed;
  }
  if (removed && log_ >= 3)
    trace() << "acknowledge " << removed << " frames" << " VS=" << unsigned(VS) << " VA=" << unsigned(VA)
            << std::endl;
  if (log_ > 2 && OutData.empty()) trace() << "outgoing queue empty." << std::endl;
  if (RetrRQ) {
    if (!AckData.empty() && log_ != 0)
      trace() << "retransmission " << " VS=" << unsigned(VS) << " VA=" << unsigned(VA) << std::endl;
    VS = VA;
    // Newest first to the front, so OutData starts with the oldest; each
    // goes back as a bare message and gets a fresh header when resent.
    Packet frame;
    while (AckData.get_last(&frame)) {
      // A frame lost to an empty pool is counted by strip, not as a retrain.
      if (!strip(frame, header_room)) continue;
      OutData.append(frame);
      ++stats_.retrains;
    }
    RetrRQ = false;
  }
}

void LAPD::queued_up() {
  while (QueuedUp) {
    QueuedUp = false;
    switch (state) {
      case Awaiting_establishment:
        // Kept for the moment the link is up, whoever asked for it.
        QueuedUp = !OutData.empty();
        return;
      case Timer_recovery:
        QueuedUp = true;
        return;
      case Multiple_frame_established: {
        if (peerBusy || VS == VA + window) {
          QueuedUp = true;
          return;
        }
        if (OutData.empty()) return;
        if (AckData.count() >= AckData.size()) {
          // Sent only when it can be kept for retransmission.
          trace() << "ack queue overflow!" << std::endl;
          ++stats_.ackOverflows;
          QueuedUp = true;
          return;
        }
        Packet msg;
        OutData.get(msg);
        if (!tx_iframe(msg)) {
          OutData.append(msg);
          QueuedUp = true;
          return;
        }
        AckData.put(msg);
        ++VS;
        AckRQ = false;
        stop_T203();
        if (!T200run) start_T200();
        if (!OutData.empty()) QueuedUp = true;
        break;
      }
      default:
        return;
    }
  }
}

void LAPD::ack_pending() {
  if (AckRQ && (state == Multiple_frame_established || state == Timer_recovery)) {
    if (tx_response(RR, 0, true)) AckRQ = false;
  }
}

void LAPD::discard_queue() {
  if (log_ != 0)
    trace() << "discard queue " << " OutData=" << OutData.count() << " AckData=" << AckData.count() << std::endl;
  OutData.clear();
  AckData.clear();
}

void LAPD::change_flowstatus(FlowStatus::Type f) {
  if (f == flow_) return;
  flow_ = f;
  if (notify_) notify_->OnLAPD_FlowStatusChange(this);
}

// ---- timers ----------------------------------------------------------------

// One timer stands for T200, T202 or T203, one at a time: a start replaces
// whichever was running (reported as a misuse when it was another one), and
// stopping a timer that is not running touches nothing.
void LAPD::start_timer(TimerId id) {
  for (int other = 0; other < 3; ++other) {
    if (other == id || !(this->*timers_[other].running)) continue;
    on_error(std::string("trying to start ") + timers_[id].name + " while " + timers_[other].name + " running");
    this->*timers_[other].running = false;
  }
  this->*timers_[id].running = true;
  timer_.set(timers_[id].ms, timers_[id].expiry, this);
}

void LAPD::stop_timer(TimerId id) {
  if (!(this->*timers_[id].running)) return;
  this->*timers_[id].running = false;
  timer_.reset();
}

void LAPD::on_T200() {
  T200run = false;
  ++stats_.T200;
  on_T200A();
  local_events();
}

void LAPD::on_T202() {
  T202run = false;
  ++stats_.T202;
  on_T202A();
  local_events();
}

void LAPD::on_T203() {
  T203run = false;
  ++stats_.T203;
  on_T203A();
  local_events();
}

// ---- common procedures -----------------------------------------------------

void LAPD::change_state(State s) {
  if (s == state) return;
  bool recovery_swap = (state == Multiple_frame_established && s == Timer_recovery) ||
                       (state == Timer_recovery && s == Multiple_frame_established);
  if (log_ > 3 || (log_ > 1 && !recovery_swap))
    std::clog << "LAPD[" << linkno_ << "] : change state \"" << statetext(state) << "\" -> \"" << statetext(s)
              << "\"" << std::endl;
  state = s;
}

void LAPD::clear_exception() {
  peerBusy = false;
  ownBusy = false;
  RejectException = false;
  AckRQ = false;
}

void LAPD::establish_dl() {
  clear_exception();
  RC = 0;
  tx_cmd(SABME, 1);
  stop_T203();
  start_T200();
}

void LAPD::tx_enquiry() {
  if (log_ > 3) trace() << "tx_enquiry, ownBusy=" << (ownBusy ? 1 : 0) << std::endl;
  tx_cmd(ownBusy ? RNR : RR, 1, true);
  AckRQ = false;
  start_T200();
}

void LAPD::tx_enquiry_response() {
  if (log_ > 3) trace() << "tx_enquiry_response" << std::endl;
  tx_response(ownBusy ? RNR : RR, 1, true);
  AckRQ = false;
}

void LAPD::retransmission(Seq nr) {
  VA = nr;
  RetrRQ = true;
  QueuedUp = true;
}

void LAPD::nr_recovery() {
  on_error(512);
  establish_dl();
  L3Initiated = false;
}

void LAPD::nr_error() {
  ++stats_.badConfirm;
  nr_recovery();
  change_state(Awaiting_establishment);
}

void LAPD::reset_sequence() {
  VS = 0;
  VA = 0;
  VR = 0;
  AckData.clear();
}

// Established: messages that waited for it go out at the next pending work.
void LAPD::up() {
  if (!OutData.empty()) QueuedUp = true;
  on_activate();
}

void LAPD::down(Smart_pointer<Internal_protocol_status> s) { on_deactivate(s); }

void LAPD::down_success(const std::string& text) {
  down(Smart_pointer<Internal_protocol_status>(new Protocol_status_success(this, text)));
}

}  // namespace ISDN
