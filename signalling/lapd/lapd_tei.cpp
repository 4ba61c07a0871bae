// TEI management of a basic-rate user-side link, management errors, the
// status objects and the statistics record.
#include "signalling/lapd/lapd.h"

#include <cstdlib>
#include <iostream>

namespace ISDN {

using namespace lapd_frame;

namespace {

std::uint16_t new_ri() { return static_cast<std::uint16_t>(std::rand() & 0xFFFF); }

}  // namespace

// ---- states, full state, statistics ----------------------------------------

const char* statetext(int state) {
  static const char* const names[] = {
      "TEI unassigned",         "Assign awaiting TEI", "Establish awaiting TEI",     "TEI assigned",
      "Awaiting establishment", "Awaiting release",    "Multiple frame established", "Timer recovery",
  };
  return state >= 0 && state < 8 ? names[state] : "(unknown)";
}

std::ostream& operator<<(std::ostream& os, Side::type side) { return os << (side == Side::user ? "user" : "network"); }

void LAPDFullState::out(std::ostream& os) const {
  auto run = [](bool r) { return r ? "running" : "stopped"; };
  os << "\n   - state: " << statetext(state);
  os << "\n   - self: TEI=" << ownTEI << ", SAPI=" << ownSAPI << ", busy=" << int(ownBusy);
  os << "\n   - peer: TEI=" << peerTEI << ", SAPI=" << peerSAPI << ", busy=" << int(peerBusy);
  os << "\n   - counters: VS=" << unsigned(VS) << ", VA=" << unsigned(VA) << ", VR=" << unsigned(VR) << ", RC=" << RC;
  os << "\n   - internal signals: AckRQ=" << int(AckRQ) << ", RetrRQ=" << int(RetrRQ) << ", QueuedUp=" << int(QueuedUp);
  os << "\n   - flags: L3Initiated=" << int(L3Initiated) << ", Establishable=" << int(Establishable)
     << ", RejectException=" << int(RejectException);
  os << "\n   - timers: T200 " << run(T200run) << ", T202 " << run(T202run) << ", T203 " << run(T203run);
}

std::ostream& operator<<(std::ostream& os, const LAPDFullState& s) {
  s.out(os);
  return os;
}

void LAPD::Stats::out(std::ostream& os) const {
  os << "\n   - timers expire count: T200: " << T200 << ", T202: " << T202 << ", T203: " << T203;
  os << "\n   - errors: " << errors << ", retrains: " << retrains;
  os << "\n   - queue overflows: out: " << outOverflows << ", ack: " << ackOverflows;
}

std::ostream& operator<<(std::ostream& os, const LAPD::Stats& s) {
  s.out(os);
  return os;
}

void LAPD::show_stat() const {
  std::cout << " - current state: " << full_state() << "\n";
  std::cout << " - statistics: " << stats_ << "\n";
}

// ---- status objects and management errors ----------------------------------

LAPD::Status::Status(const LAPD& link, const std::string& text)
    : Protocol_status_error(&link, text), LAPDFullState(link.full_state()) {}

void LAPD::Status::out(std::ostream& os) const {
  os << message();
  LAPDFullState::out(os);
}

Smart_pointer<Internal_protocol_status> LAPD::status() const {
  return Smart_pointer<Internal_protocol_status>(new Status(*this, "current status"));
}

const char* LAPD::error_text(unsigned code) {
  switch (code) {
    case 1: return "Supervisory (F = 1)";
    case 2: return "DM (F = 1)";
    case 4: return "UA (F = 1)";
    case 8: return "UA (F = 0)";
    case 16: return "Receipt of DM response (F = 0)";
    case 32: return "Peer initiated re-establishment - SABME";
    case 64: return "Unsuccessful retransmission (N200 times) - SABME";
    case 128: return "Unsuccessful retransmission (N200 times) - DISC";
    case 256: return "Unsuccessful retransmission (N200 times) - Status enquiry";
    case 512: return "Other - N(R) error";
    case 1024: return "Other - Receipt of FRMR response";
    case 2048: return "Other - Receipt of undefined frame";
    case 4096: return "Other - Receipt of I field not permitted";
    case 8192: return "Other - Receipt of frame with wrong size";
    case 16384: return "Other - N201 error";
    case 32768: return "Tei Assign - Tei denied";
    default: return "Other - Unknown";
  }
}

void LAPD::on_error(unsigned code) { on_error(std::string(error_text(code))); }

void LAPD::on_error(const std::string& text) {
  on_status(Smart_pointer<Internal_protocol_status>(new Status(*this, text)));
}

// ---- statistics record -----------------------------------------------------

bool LAPD::GetInfo(ACP::IsdnLinkInfo& info) const {
  info.set_msuTxCount(static_cast<int>(stats_.txMessages));
  info.set_msuRxCount(static_cast<int>(stats_.rxMessages));
  info.set_mT200(static_cast<int>(stats_.T200));
  info.set_mT203(static_cast<int>(stats_.T203));
  info.set_errors(static_cast<int>(stats_.errors));
  info.set_retrains(static_cast<int>(stats_.retrains));
  info.set_outOverflows(static_cast<int>(stats_.outOverflows));
  info.set_ackOverflows(static_cast<int>(stats_.ackOverflows));
  info.set_rejected(static_cast<int>(stats_.rejected));
  info.set_badconfirm(static_cast<int>(stats_.badConfirm));
  info.set_lapdState(static_cast<ACP::LAPDState::NamedNumber>(state));
  info.set_rc(RC);
  info.set_peerBusy(peerBusy);
  info.set_ownBusy(ownBusy);
  info.set_rejException(RejectException);
  info.set_ackPending(false);
  info.set_l3Initiated(L3Initiated);
  info.set_establishable(Establishable);
  info.set_queuedUpRQ(QueuedUp);
  info.set_retrRQ(RetrRQ);
  info.set_ackRQ(AckRQ);
  info.set_t200run(T200run);
  info.set_t203run(T203run);
  info.set_vs(static_cast<int>(unsigned(VS)));
  info.set_va(static_cast<int>(unsigned(VA)));
  info.set_vr(static_cast<int>(unsigned(VR)));
  info.set_queueOut(static_cast<int>(OutData.count()));
  info.set_queueAck(static_cast<int>(AckData.count()));
  if (info == last_info_) return false;
  last_info_ = info;
  return true;
}

// ---- TEI management --------------------------------------------------------

void LAPD::tx_identity(std::uint16_t ri, std::uint8_t ai, std::uint8_t type) {
  if (!bri_) return;
  Packet frame;
  try {
    prepare_head(frame);
  } catch (const std::bad_alloc&) {
    ++stats_.errors;
    return;
  }
  frame.put8(side_ == Side::user ? 0xFC : 0xFE);
  frame.put8(0xFF);
  frame.put8(UI);
  frame.put8(management_entity);
  frame.put8(static_cast<std::uint8_t>(ri & 0xFF));
  frame.put8(static_cast<std::uint8_t>(ri >> 8));
  frame.put8(type);
  frame.put8(static_cast<std::uint8_t>((ai << 1) | 1));
  xmit(frame);
}

void LAPD::BeginTeiAssignProcedure() {
  if (!bri_ || side_ != Side::user) return;
  change_state(Assign_awaiting_TEI);
  on_mdl_assign();
  Ri_ = new_ri();
  tx_identity(Ri_, broadcast_tei, identity_request);
  RC = 0;
  stop_T200();
  stop_T203();
  start_T202();
}

void LAPD::on_T202A() {
  if (state != Assign_awaiting_TEI && state != Establish_awaiting_TEI) return;
  if (RC < N202) {
    Ri_ = new_ri();
    tx_identity(Ri_, broadcast_tei, identity_request);
    start_T202();
    ++RC;
    return;
  }
  state = TEI_unassigned;  // quietly: the release report says it
  down("link error (T202 expired N202 times)");
}

void LAPD::on_tei_management(Packet& p) {
  if (p.length() < 5) return;
  const Packet& m = p;
  std::uint16_t ri = static_cast<std::uint16_t>(m[1] | (m[2] << 8));
  int type = m[3];
  int ai = m[4] >> 1;
  if (log_ > 3) trace() << "on_UI() type=" << type << " Ai=" << ai << std::endl;
  switch (type) {
    case identity_denied:
      if (state != Assign_awaiting_TEI || ri != Ri_) return;
      if (ai == broadcast_tei)
        trace() << "ASP returned: All TEI's used" << std::endl;
      else
        trace() << "ASP returned: TEI " << ai << " denied" << std::endl;
      on_error(32768);
      break;
    case identity_assigned:
      if ((state != Assign_awaiting_TEI && state != Establish_awaiting_TEI) || ri != Ri_) return;
      // Only the automatic range: 127 is the broadcast TEI, below 64 the
      // fixed ones that are never handed out.
      if (ai < 64 || ai > 126) return;
      stop_T202();
      mdl_assign(static_cast<std::uint8_t>(ai));
      start_T200();
      break;
    case identity_check_request:
      if (state < TEI_assigned) return;
      if (ai != broadcast_tei && ai != ownTEI) return;
      tx_identity(Ri_, static_cast<std::uint8_t>(ownTEI), identity_check_response);
      break;
    case identity_remove:
      if (ai != broadcast_tei && ai != ownTEI) return;
      mdl_remove();
      BeginTeiAssignProcedure();
      break;
    default:
      break;
  }
}

void LAPD::mdl_assign(std::uint8_t tei) {
  if (log_ > 1) trace() << "MDL-ASSIGN" << " (tei=" << unsigned(tei) << ")" << std::endl;
  ownTEI = tei;
  if (state == Establish_awaiting_TEI) {
    establish_dl();
    L3Initiated = true;
    change_state(Awaiting_establishment);
  } else {
    change_state(TEI_assigned);
  }
}

void LAPD::mdl_remove() {
  trace() << "MDL-REMOVE" << std::endl;
  Smart_pointer<Internal_protocol_status> s(new Status(*this, "error (MDL-REMOVE received)"));
  switch (state) {
    case Establish_awaiting_TEI:
      // The establishment waited for the identity being withdrawn: layer 3
      // is told it failed, as when the request goes unanswered, rather than
      // left waiting for a report that would never come.
      stop_T202();
      change_state(TEI_unassigned);
      down(s);
      break;
    case TEI_assigned:
      discard_queue();
      change_state(TEI_unassigned);
      break;
    case Awaiting_establishment:
      discard_queue();
      stop_T200();
      change_state(TEI_unassigned);
      down(s);
      break;
    case Awaiting_release:
      stop_T200();
      change_state(TEI_unassigned);
      down(s);
      break;
    case Multiple_frame_established:
      discard_queue();
      stop_T200();
      stop_T203();
      change_state(TEI_unassigned);
      down(s);
      break;
    case Timer_recovery:
      discard_queue();
      stop_T200();
      change_state(TEI_unassigned);
      down(s);
      break;
    default:
      break;
  }
}

}  // namespace ISDN
