#include "signalling/lapd/lapd_nt.h"

#include "signalling/lapd/lapd_frame.h"

#include <iostream>
#include <new>

namespace ISDN {

using namespace lapd_frame;

namespace {

std::uint8_t mod128(int v) { return static_cast<std::uint8_t>(v & 127); }

}  // namespace

// ---- manager ---------------------------------------------------------------

LAPD_NT::LAPD_NT() {
  for (LAPD_NT_user& u : users_) u.set_lapd(this);
}

LAPD_NT::~LAPD_NT() { check_timer_.reset(); }

std::ostream& LAPD_NT::PutHeader(std::ostream& os) const { return os << "LAPD(NT BRI): "; }

std::ostream& LAPD_NT::log() const { return PutHeader(std::clog); }

void LAPD_NT::set_log(unsigned level) {
  log_ = level;
  for (LAPD_NT_user& u : users_) u.set_log(level);
}

void LAPD_NT::local_prepare_head(Packet& p) { p.reserve_head(header_room); }

void LAPD_NT::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void LAPD_NT::local_activate() {
  if (log_) log() << "activate" << std::endl;
  check_all_Tei();
  on_activate();
}

void LAPD_NT::local_deactivate() {
  if (log_) log() << "deactivate" << std::endl;
  check_timer_.reset();
  for (LAPD_NT_user& u : users_) u.unassign();
}

bool LAPD_NT::new_frame(Packet& p) {
  try {
    prepare_head(p);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void LAPD_NT::send_to_layer1(Packet& frame) { transmit(frame); }

void LAPD_NT::send_to_layer3(Packet& msg) { on_message(msg); }

const LAPD_NT_user* LAPD_NT::find(std::uint8_t tei) const {
  for (const LAPD_NT_user& u : users_)
    if (u.is_assigned() && u.get_Tei() == tei) return &u;
  return nullptr;
}

LAPD_NT_user* LAPD_NT::find_Tei(std::uint8_t tei) { return const_cast<LAPD_NT_user*>(find(tei)); }

// The first unassigned user, given this TEI; for 127 the lowest automatic
// value no assigned user holds.
LAPD_NT_user* LAPD_NT::find_free_Tei(std::uint8_t tei) {
  for (LAPD_NT_user& u : users_) {
    if (u.is_assigned()) continue;
    if (tei == broadcast_tei) {
      for (int v = 64; v <= 126; ++v)
        if (!find(static_cast<std::uint8_t>(v))) {
          u.set_Tei(static_cast<std::uint8_t>(v));
          return &u;
        }
      return nullptr;
    }
    u.set_Tei(tei);
    return &u;
  }
  return nullptr;
}

int LAPD_NT::message(Packet& p) {
  if (p.length() < 4) return 0;
  const Packet& m = p;
  if (m[3] == 0x05) {  // SETUP: to every terminal
    Packet f;
    if (!new_frame(f)) return 0;
    f.put8(0x02);
    f.put8(0xFF);
    f.put8(0x03);
    f.put(p);
    send_to_layer1(f);
    return 0;
  }
  for (LAPD_NT_user& u : users_)
    if (u.message(p)) return 0;
  return 0;
}

int LAPD_NT::receive(Packet& p) {
  if (p.length() <= 2) return 0;
  const Packet& f = p;
  std::uint8_t a1 = f[0], a2 = f[1];
  if ((a1 & 1) || !(a2 & 1)) return 0;
  int sapi = a1 >> 2;
  std::uint8_t tei = static_cast<std::uint8_t>(a2 >> 1);
  bool command = (a1 & 2) == 0;
  try {
    if (tei == broadcast_tei) {
      if (f[2] != UI) return 0;
      p.pull(3);
      if (sapi == 63)
        on_tei_procedure(p);
      else
        send_to_layer3(p);
      return 0;
    }
    LAPD_NT_user* u = find_Tei(tei);
    if (!u) {
      u = find_free_Tei(tei);
      if (!u) {
        if (log_) log() << "recieved packet with unassigned TEI=" << unsigned(tei) << ",removed" << std::endl;
        remove_twice(tei);
        return 0;
      }
      if (log_) log() << "Warning:recieved packet with unassigned TEI=" << unsigned(tei) << std::endl;
      u->assign();
    }
    p.pull(2);
    u->receive(p, command);
  } catch (const std::bad_alloc&) {
    // No buffer to make the frame our own: dropped, as on a bad line.
  }
  return 0;
}

void LAPD_NT::tx_identity(std::uint16_t ri, std::uint8_t ai, std::uint8_t type) {
  Packet f;
  if (!new_frame(f)) return;
  f.put8(0xFE);
  f.put8(0xFF);
  f.put8(UI);
  f.put8(management_entity);
  f.put16(ri);  // the order Ri is read in, so a received one goes back unchanged
  f.put8(type);
  f.put8(static_cast<std::uint8_t>((ai << 1) | 1));
  send_to_layer1(f);
}

void LAPD_NT::remove_twice(std::uint8_t ai) {
  tx_identity(0, ai, identity_remove);
  tx_identity(0, ai, identity_remove);
}

void LAPD_NT::on_tei_procedure(Packet& p) {
  if (p.length() <= 4) return;
  const Packet& m = p;
  if (m[0] != management_entity) return;
  std::uint16_t ri = static_cast<std::uint16_t>(m[1] | (m[2] << 8));
  std::uint8_t type = m[3];
  std::uint8_t ai = static_cast<std::uint8_t>(m[4] >> 1);
  switch (type) {
    case identity_request: {
      if (ai < 64) {
        if (log_) log() << "recieved identity request with wrong Ai=" << unsigned(ai) << ",ignored" << std::endl;
      } else if (ai == broadcast_tei) {
        LAPD_NT_user* u = find_free_Tei(broadcast_tei);
        if (u) {
          if (log_) log() << "recieved identity request,TEI assigned:" << unsigned(u->get_Tei()) << std::endl;
          tx_identity(ri, u->get_Tei(), identity_assigned);
          u->assign();
        } else {
          if (log_) log() << "recieved identity request, but all TEI values is ussigned" << std::endl;
          tx_identity(ri, broadcast_tei, identity_denied);
        }
      } else {
        if (log_) log() << "recieved identity request with wrong Ai=" << unsigned(ai) << ",denied" << std::endl;
        tx_identity(ri, ai, identity_denied);
      }
      break;
    }
    case identity_check_response: {
      if (ai == broadcast_tei) {
        if (log_) log() << "recieved check response with wrong Ai=" << unsigned(ai) << ",removed" << std::endl;
        remove_twice(ai);
        break;
      }
      LAPD_NT_user* u = find_Tei(ai);
      if (!u) {
        u = find_free_Tei(ai);
        if (!u) {
          if (log_) log() << "recieved check response with wrong Ai=" << unsigned(ai) << ",removed" << std::endl;
          remove_twice(ai);
          break;
        }
      } else if (!u->is_check()) {
        if (u->has_check_ref() && ri == u->check_ref()) break;  // a repeated response
        if (log_) log() << "recieved check response with dublicated Ai=" << unsigned(ai) << ",removed" << std::endl;
        u->unassign();
        remove_twice(ai);
        break;
      }
      if (log_) log() << "TEI " << unsigned(ai) << " checked" << std::endl;
      u->assign();
      u->set_check_ref(ri);
      break;
    }
    case identity_verify:
      if (log_) log() << "recieved verify request" << std::endl;
      check_all_Tei();
      break;
    default:
      break;
  }
}

void LAPD_NT::check_all_Tei() {
  if (log_) log() << "Checking Tei values...." << std::endl;
  check_timer_.reset();
  for (LAPD_NT_user& u : users_) u.checking();
  tx_identity(0, broadcast_tei, identity_check_request);
  check_timer_.set(check_period_ms, &LAPD_NT::check_all_Tei, this);
}

// ---- one terminal ----------------------------------------------------------

LAPD_NT_user::~LAPD_NT_user() {
  link_timer_.reset();
  check_timer_.reset();
  out_.clear();
  ack_.clear();
}

std::ostream& LAPD_NT_user::PutHeader(std::ostream& os) const {
  os << "LAPD_user(NT BRI)[";
  if (state_ == unassigned) return os << "unassigned]: ";
  os << "Tei=" << unsigned(tei_) << (state_ == assigned ? ",assigned" : ",wait_answer");
  if (check_) os << ",check";
  if (busy_) os << ",busy";
  return os << "] ";
}

std::ostream& LAPD_NT_user::log() const { return PutHeader(std::clog); }

void LAPD_NT_user::send(Packet& frame) {
  if (owner_) owner_->send_to_layer1(frame);
}

void LAPD_NT_user::tx_U(std::uint8_t control, bool command, bool pf) {
  Packet f;
  if (!owner_ || !owner_->new_frame(f)) return;
  if (log_ > 1) log() << "transmit U frame" << std::endl;
  f.put8(command ? 0x02 : 0x00);
  f.put8(static_cast<std::uint8_t>((tei_ << 1) | 1));
  f.put8(static_cast<std::uint8_t>(control | (pf ? PF_U : 0)));
  send(f);
}

void LAPD_NT_user::tx_S(std::uint8_t control, bool command, bool pf) {
  Packet f;
  if (!owner_ || !owner_->new_frame(f)) return;
  if (log_ > 1) log() << "transmit S frame" << std::endl;
  f.put8(command ? 0x02 : 0x00);
  f.put8(static_cast<std::uint8_t>((tei_ << 1) | 1));
  f.put8(control);
  f.put8(static_cast<std::uint8_t>((vr_ << 1) | (pf ? 1 : 0)));
  send(f);
}

// Sent with P set and kept for retransmission; the caller has made sure the
// ack queue has room.
void LAPD_NT_user::tx_I(Packet& msg) {
  Packet f;
  if (!owner_ || !owner_->new_frame(f)) return;
  if (f.tailroom() < msg.length() + 4) return;
  if (log_ > 1) log() << "transmit I frame" << std::endl;
  f.put8(0x02);
  f.put8(static_cast<std::uint8_t>((tei_ << 1) | 1));
  f.put8(static_cast<std::uint8_t>(vs_ << 1));
  f.put8(static_cast<std::uint8_t>((vr_ << 1) | 1));
  f.put(msg);
  ack_.put(f);
  vs_ = mod128(vs_ + 1);
  send(f);
}

void LAPD_NT_user::start_T200() {
  link_timer_.set(T200_ms, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::start_T203() {
  link_timer_.set(T203_ms, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::assign() {
  if (check_ && is_assigned()) {
    if (log_ > 1) log() << "checked" << std::endl;
    check_ = false;
    check_timer_.reset();
    return;
  }
  // Told before the state changes: the line heads with the state it leaves.
  if (log_ > 1) log() << "assigned" << std::endl;
  vr_ = va_ = vs_ = 0;
  // The user may have served another terminal: that one's last call is not
  // this terminal's, and the controller's messages for it must not come here.
  callref_ = 0;
  callref_seen_ = false;
  // Nor is the last terminal's check reference this one's.
  check_ri_seen_ = false;
  state_ = assigned;
  tx_U(SABME, true, true);
  busy_ = false;
  check_ = false;
  check_timer_.reset();
  out_.clear();
  ack_.clear();
  retry_ = 0;
  start_T203();
}

void LAPD_NT_user::unassign() {
  if (log_ > 1) log() << "unassigned" << std::endl;
  state_ = unassigned;
  check_ = false;
  link_timer_.reset();
  check_timer_.reset();
}

void LAPD_NT_user::checking() {
  if (!is_assigned()) return;
  if (log_ > 1) log() << "checking started" << std::endl;
  check_ = true;
  check_timer_.set(check_ms, &LAPD_NT_user::unassign, this);
}

void LAPD_NT_user::receive(Packet& p, bool command) {
  if (p.empty()) return;
  const Packet& f = p;
  std::uint8_t c = f[0];
  if ((c & 3) == 3) {
    bool pf = (c & PF_U) != 0;
    switch (static_cast<std::uint8_t>(c & ~PF_U)) {
      case SABME: if (command) on_SABME(pf); break;
      case DISC: if (command) on_DISC(pf); break;
      case DM: if (!command) on_DM(); break;
      case FRMR: if (!command) on_FRMR(); break;
      case XID: on_XID(); break;
      default: break;
    }
  } else if (c & 1) {
    if (p.length() < 2) return;
    std::uint8_t nr = static_cast<std::uint8_t>(f[1] >> 1);
    bool pf = (f[1] & 1) != 0;
    switch (c) {
      case RR: on_RR(command, pf, nr); break;
      case RNR: on_RNR(command, pf, nr); break;
      case REJ: on_REJ(command, pf, nr); break;
      default: break;
    }
  } else {
    if (!command || p.length() < 2) return;
    std::uint8_t ns = static_cast<std::uint8_t>(c >> 1);
    std::uint8_t nr = static_cast<std::uint8_t>(f[1] >> 1);
    bool pf = (f[1] & 1) != 0;
    p.pull(2);
    on_I(p, pf, ns, nr);
  }
}

void LAPD_NT_user::on_SABME(bool pf) {
  if (log_ > 1) log() << "received SABME frame" << std::endl;
  vr_ = va_ = vs_ = 0;
  if (pf) tx_U(UA, false, true);
  ack_.clear();
  set_unbusy();
}

void LAPD_NT_user::on_DISC(bool pf) {
  if (log_ > 1) log() << "received DISC frame" << std::endl;
  if (pf) tx_U(UA, false, true);
  unassign();
}

void LAPD_NT_user::on_DM() {
  if (log_ > 1) log() << "received DM frame" << std::endl;
  unassign();
}

void LAPD_NT_user::on_FRMR() {
  if (log_ > 1) log() << "received FRMR frame" << std::endl;
  unassign();
}

void LAPD_NT_user::on_XID() {
  if (log_ > 1) log() << "received XID frame" << std::endl;
}

// After a valid acknowledgement: held messages go out as far as the ack
// queue has room, and the timer follows what is outstanding (T200 while
// frames wait for their acknowledgement, so a lost one is sent again).
void LAPD_NT_user::settle() {
  if (!busy_) send_held();
  if (ack_.empty() || busy_) {
    state_ = assigned;
    start_T203();
  } else {
    state_ = wait_answer;
    start_T200();
  }
}

bool LAPD_NT_user::acknowledged(bool command, bool pf, std::uint8_t nr) {
  if (command && pf) tx_S(RR, false, true);
  if (ack_queue(nr)) return true;
  unassign();
  return false;
}

void LAPD_NT_user::on_RR(bool command, bool pf, std::uint8_t nr) {
  if (log_ > 1) log() << "received RR frame" << std::endl;
  if (!acknowledged(command, pf, nr)) return;
  set_unbusy();
  settle();
}

void LAPD_NT_user::on_RNR(bool command, bool pf, std::uint8_t nr) {
  if (log_ > 1) log() << "received RNR frame" << std::endl;
  set_busy();
  if (!acknowledged(command, pf, nr)) return;
  state_ = assigned;
  start_T203();
}

void LAPD_NT_user::on_REJ(bool command, bool pf, std::uint8_t nr) {
  if (log_ > 1) log() << "received REJ frame" << std::endl;
  if (!acknowledged(command, pf, nr)) return;
  retransmit();
  set_unbusy();
  state_ = wait_answer;
  retry_ = 0;
  start_T200();
}

void LAPD_NT_user::on_I(Packet& p, bool pf, std::uint8_t ns, std::uint8_t nr) {
  if (log_ > 1) log() << "received I frame" << std::endl;
  bool deliver = false;
  if (ns == vr_) {
    vr_ = mod128(vr_ + 1);
    if (pf) tx_S(RR, false, true);
    // A short message still goes up; only a call reference needs 4 octets.
    if (p.length() >= 4) {
      callref_ = static_cast<std::uint8_t>(p[2] & 0x7F);
      callref_seen_ = true;
    }
    deliver = true;
  } else {
    tx_S(REJ, false, pf);
  }
  const std::uint8_t sent_before = vs_;
  if (ack_queue(nr)) {
    settle();
  } else {
    unassign();
  }
  if (deliver) {
    // Acknowledged by an I frame sent meanwhile, or here by an RR.
    bool owed = !pf;
    if (owner_) owner_->send_to_layer3(p);
    if (owed && vs_ == sent_before && is_assigned()) tx_S(RR, false, false);
  }
}

bool LAPD_NT_user::ack_queue(std::uint8_t nr) {
  if (log_ > 1) log() << "ack queue" << std::endl;
  if (nr == va_) return true;
  if (mod128(nr - va_) > mod128(vs_ - va_)) return false;
  int count = static_cast<int>(ack_.count());
  int remove = mod128(nr - mod128(vs_ - count));
  Packet dropped;
  for (int i = 0; i < remove && ack_.get(dropped); ++i) {
  }
  va_ = nr;
  return true;
}

// Each frame again, oldest first, with the current N(R): one sent before
// the terminal saw a later acknowledgement would otherwise carry a stale
// N(R), which the terminal takes for an error and sets the link up again.
void LAPD_NT_user::retransmit() {
  if (log_ > 1) log() << "retransmit queue" << std::endl;
  for (std::uint32_t n = ack_.count(); n > 0; --n) {
    Packet f;
    ack_.get(f);
    try {
      f[3] = static_cast<unsigned char>((vr_ << 1) | (f[3] & 1));
    } catch (const std::bad_alloc&) {
    }
    Packet copy = f;
    send(copy);
    ack_.put(f);
  }
}

void LAPD_NT_user::set_busy() {
  if (!busy_ && log_ > 1) log() << "set busy" << std::endl;
  busy_ = true;
}

void LAPD_NT_user::set_unbusy() {
  if (busy_ && log_ > 1) log() << "set unbusy" << std::endl;
  busy_ = false;
  if (out_.empty()) {
    state_ = assigned;
    start_T203();
    return;
  }
  send_held();
  retry_ = 0;
  state_ = wait_answer;
  start_T200();
}

// Held messages go out while the ack queue can keep them.
void LAPD_NT_user::send_held() {
  Packet m;
  while (ack_.count() < ack_.size() && out_.get(m)) tx_I(m);
}

bool LAPD_NT_user::message(Packet& p) {
  if (!is_assigned() || !callref_seen_ || p.length() < 3) return false;
  const Packet& m = p;
  if ((m[2] & 0x7F) != callref_) return false;
  if (busy_ || !out_.empty() || ack_.count() >= ack_.size()) {
    // Held while the terminal is busy or seven frames wait for their
    // acknowledgement (an eighth could not be kept for retransmission).
    Packet oldest;
    if (out_.count() >= held_limit) out_.get(oldest);
    out_.put(p);
    const std::uint8_t before = vs_;
    if (!busy_) send_held();
    if (vs_ != before) {
      state_ = wait_answer;
      start_T200();
    }
    return true;
  }
  tx_I(p);
  state_ = wait_answer;
  start_T200();
  return true;
}

void LAPD_NT_user::on_timer() {
  if (state_ == assigned) {
    state_ = wait_answer;
    tx_S(RR, true, true);
    retry_ = 0;
    start_T200();
    return;
  }
  if (state_ != wait_answer) return;
  if (retry_ < N200) {
    ++retry_;
    if (va_ == vs_)
      tx_S(RR, true, true);
    else
      retransmit();
    start_T200();
    return;
  }
  if (log_ > 1) log() << "T200 expiried N200 times" << std::endl;
  unassign();
}

}  // namespace ISDN
