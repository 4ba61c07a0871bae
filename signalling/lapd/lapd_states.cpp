// What each event does in each state of the link.
#include "signalling/lapd/lapd.h"

#include <iostream>

namespace ISDN {

using namespace lapd_frame;

namespace {
const char* kind(bool cmd) { return cmd ? "command" : "response"; }
const char* const T200_exhausted = "link error (T200 expired N200 times)";
}  // namespace

// ---- requests of layer 3 ---------------------------------------------------

void LAPD::local_activate() {
  if (log_ > 0) trace() << "DL-ESTABLISH" << std::endl;
  switch (state) {
    case TEI_unassigned:
      RC = 0;
      on_mdl_assign();
      BeginTeiAssignProcedure();
      change_state(Establish_awaiting_TEI);
      break;
    case Assign_awaiting_TEI:
      // A message while unassigned came here without asking for a TEI: ask
      // now, or the establishment would wait for an answer to nothing.
      if (!T202run) {
        RC = 0;
        BeginTeiAssignProcedure();
      }
      change_state(Establish_awaiting_TEI);
      break;
    case TEI_assigned:
      establish_dl();
      L3Initiated = true;
      change_state(Awaiting_establishment);
      break;
    case Awaiting_establishment:
      discard_queue();
      L3Initiated = true;
      break;
    case Multiple_frame_established:
    case Timer_recovery:
      discard_queue();
      establish_dl();
      L3Initiated = true;
      change_state(Awaiting_establishment);
      break;
    default:
      break;
  }
}

void LAPD::local_deactivate() {
  if (log_ > 1) trace() << "DL-RELEASE" << std::endl;
  const char* text = "success (deactivated locally)";
  switch (state) {
    case TEI_assigned:
      down_success(text);
      break;
    case Awaiting_establishment:
      discard_queue();
      RC = 0;
      tx_cmd(DISC, 1);
      stop_T203();
      stop_T202();
      start_T200();
      change_state(TEI_assigned);
      down_success(text);
      break;
    case Multiple_frame_established:
      discard_queue();
      RC = 0;
      tx_cmd(DISC, 1);
      stop_T203();
      start_T200();
      change_state(Awaiting_release);
      break;
    case Timer_recovery:
      discard_queue();
      RC = 0;
      tx_cmd(DISC, 1);
      start_T200();
      change_state(Awaiting_release);
      break;
    default:
      break;
  }
}

// ---- unnumbered frames -----------------------------------------------------

void LAPD::on_SABME(bool cmd, int p) {
  if (log_ > 3) trace() << "SABME " << kind(cmd) << std::endl;
  reset_sequence();
  switch (state) {
    case TEI_assigned:
      if (Establishable) {
        tx_response(UA, p);
        clear_exception();
        start_T203();
        change_state(Multiple_frame_established);
        up();
      } else {
        tx_response(DM, p);
      }
      break;
    case Awaiting_establishment:
      tx_response(UA, p);
      break;
    case Awaiting_release:
      tx_response(DM, p);
      break;
    case Multiple_frame_established:
    case Timer_recovery:
      tx_response(UA, p);
      clear_exception();
      on_error(32);
      stop_T200();
      start_T203();
      change_state(Multiple_frame_established);
      up();
      break;
    default:
      break;
  }
}

void LAPD::on_DISC(bool cmd, int p) {
  if (log_ > 3) trace() << "DISC " << kind(cmd) << std::endl;
  switch (state) {
    case TEI_assigned:
    case Awaiting_establishment:
      tx_response(DM, p);
      break;
    case Awaiting_release:
      tx_response(UA, p);
      break;
    case Multiple_frame_established:
    case Timer_recovery: {
      Smart_pointer<Internal_protocol_status> s(new Status(*this, "remote error (DISC received)"));
      discard_queue();
      tx_response(UA, p);
      stop_T200();
      stop_T203();
      change_state(TEI_assigned);
      down(s);
      break;
    }
    default:
      break;
  }
}

// Only a UA that completes establishment restarts the numbering; any other
// is reported and changes nothing.
void LAPD::on_UA(bool cmd, int f) {
  if (log_ > 3) trace() << "UA " << kind(cmd) << std::endl;
  switch (state) {
    case TEI_assigned:
    case Multiple_frame_established:
    case Timer_recovery:
      on_error(12);
      break;
    case Awaiting_establishment:
      if (!f) {
        on_error(8);
        break;
      }
      reset_sequence();
      stop_T200();
      start_T203();
      change_state(Multiple_frame_established);
      up();
      break;
    case Awaiting_release:
      if (!f) {
        on_error(8);
        break;
      }
      stop_T200();
      change_state(TEI_assigned);
      down_success("success (UA received)");
      break;
    default:
      break;
  }
}

void LAPD::on_DM(bool cmd, int f) {
  if (log_ > 3) trace() << "DM " << kind(cmd) << std::endl;
  bool final_response = !cmd && f;
  switch (state) {
    case TEI_assigned:
      if (!cmd && !f && Establishable) {
        establish_dl();
        L3Initiated = true;
        change_state(Awaiting_establishment);
      }
      break;
    case Awaiting_establishment:
    case Awaiting_release:
      if (final_response) {
        Smart_pointer<Internal_protocol_status> s(new Status(*this, "error (DM received)"));
        if (state == Awaiting_establishment) discard_queue();
        stop_T200();
        change_state(TEI_assigned);
        down(s);
      }
      break;
    case Multiple_frame_established:
      if (final_response) {
        on_error(2);
        break;
      }
      on_error(16);
      establish_dl();
      L3Initiated = false;
      change_state(Awaiting_establishment);
      break;
    case Timer_recovery:
      on_error(final_response ? 2 : 16);
      establish_dl();
      L3Initiated = false;
      change_state(Awaiting_establishment);
      break;
    default:
      break;
  }
}

void LAPD::on_FRMR(bool cmd, int f) {
  if (log_ > 3) trace() << "FRMR " << kind(cmd) << " pf=" << f << std::endl;
  if (state == Multiple_frame_established || state == Timer_recovery) {
    on_error(1024);
    establish_dl();
    L3Initiated = false;
    change_state(Awaiting_establishment);
  }
}

// ---- supervisory frames ----------------------------------------------------

// The three supervisory frames share one procedure per state; they differ
// in what the peer's busy condition becomes and in how N(R) moves the
// timers.
void LAPD::on_supervisory(Supervisory type, bool cmd, int pf, Seq nr) {
  const char* name = type == RR ? "RR " : type == RNR ? "RNR " : "REJ ";
  if (log_ > 3) trace() << name << kind(cmd) << " pf=" << pf << std::endl;
  if (state == Multiple_frame_established)
    established_supervisory(type, cmd, pf, nr);
  else if (state == Timer_recovery)
    recovery_supervisory(type, cmd, pf, nr);
}

void LAPD::established_supervisory(Supervisory type, bool cmd, int pf, Seq nr) {
  peerBusy = type == RNR;
  if (cmd && pf) tx_enquiry_response();
  if (!cmd && pf) {
    if (type != RR)
      on_error(1);
    else if (log_ > 3)
      trace() << "receive RR (solicited response) in MFE_EST" << std::endl;
  }
  if (!nr_valid(nr)) {
    nr_error();
    return;
  }
  switch (type) {
    case RR:
      if (nr == VS) {
        VA = nr;
        stop_T200();
        start_T203();
      } else if (nr != VA) {
        VA = nr;
        start_T200();
      }
      break;
    case REJ:
      stop_T200();
      start_T203();
      retransmission(nr);
      break;
    case RNR:
      VA = nr;
      stop_T203();
      start_T200();
      break;
  }
}

// A final response answers the enquiry and ends the recovery: sending
// resumes from its N(R). Anything else only acknowledges.
void LAPD::recovery_supervisory(Supervisory type, bool cmd, int pf, Seq nr) {
  peerBusy = type == RNR;
  if (!cmd && pf) {
    if (!nr_valid(nr)) {
      nr_error();
      return;
    }
    if (peerBusy) {
      start_T200();
    } else {
      stop_T200();
      start_T203();
    }
    retransmission(nr);
    change_state(Multiple_frame_established);
    return;
  }
  if (cmd && pf) tx_enquiry_response();
  if (nr_valid(nr)) {
    VA = nr;
    return;
  }
  if (type == RR && log_ > 3) trace() << "receive RR with out of order N(R)" << std::endl;
  nr_error();
}

// ---- information frames ----------------------------------------------------

void LAPD::on_ICOM(Packet& p, int pf, Seq ns, Seq nr) {
  if (state != Multiple_frame_established && state != Timer_recovery) return;
  if (log_ > 3) trace() << "I-Command" << " pf=" << pf << std::endl;
  bool deliver = false;
  if (ownBusy) {
    if (pf) {
      tx_response(RNR, 1, true);
      AckRQ = false;
    }
  } else if (ns == VR) {
    ++VR;
    RejectException = false;
    ++stats_.rxMessages;
    if (pf) {
      AckRQ = false;
      tx_response(RR, 1, true);
    } else {
      AckRQ = true;
    }
    deliver = true;
  } else {
    ++stats_.rejected;
    if (!RejectException) {
      RejectException = true;
      tx_response(REJ, pf, true);
      AckRQ = false;
    } else if (pf) {
      tx_response(RR, 1, true);
      AckRQ = false;
    }
  }

  if (!nr_valid(nr)) {
    nr_error();
  } else {
    if (state == Multiple_frame_established && !peerBusy) {
      if (nr == VS) {
        stop_T200();
        start_T203();
      } else if (nr != VA) {
        start_T200();
      }
    }
    VA = nr;
  }
  // Handed up last: the layer above may answer at once, with the link's
  // bookkeeping for this frame complete.
  if (deliver) on_message(p);
}

// ---- unnumbered information ------------------------------------------------

void LAPD::on_UI(Packet& p) {
  if (!bri_ || p.empty()) return;
  if (log_ > 3) trace() << "on_UI()" << std::endl;
  if (p[0] == 0x0F) {
    on_tei_management(p);
    return;
  }
  if (side_ == Side::user) {
    if (state == Awaiting_establishment) change_state(TEI_assigned);
    if (state == TEI_assigned) local_activate();
  }
  on_message(p);
}

// ---- timer expiries --------------------------------------------------------

void LAPD::on_T200A() {
  switch (state) {
    case Awaiting_establishment:
    case Awaiting_release: {
      // SABME or DISC unanswered: sent again, N200 times at most.
      bool establishing = state == Awaiting_establishment;
      if (RC == N200) {
        Smart_pointer<Internal_protocol_status> s(new Status(*this, T200_exhausted));
        if (establishing) discard_queue();
        on_error(establishing ? 64 : 128);
        change_state(TEI_assigned);
        down(s);
      } else {
        ++RC;
        tx_cmd(establishing ? SABME : DISC, 1);
        start_T200();
      }
      break;
    }
    case Multiple_frame_established:
      RC = 0;
      tx_enquiry();
      RC = 1;
      if (log_ > 1) trace() << "ack expired" << std::endl;
      change_state(Timer_recovery);
      break;
    case Timer_recovery:
      if (RC == N200) {
        if (log_ > 1) trace() << "ack error !!!" << std::endl;
        on_error(256);
        establish_dl();
        L3Initiated = false;
        change_state(Awaiting_establishment);
      } else {
        if (log_ > 1) trace() << "ack timeout expired RC=" << RC << std::endl;
        tx_enquiry();
        ++RC;
      }
      break;
    default:
      break;
  }
}

void LAPD::on_T203A() {
  trace() << "T203." << std::endl;
  if (state == Multiple_frame_established) {
    tx_enquiry();
    RC = 0;
    change_state(Timer_recovery);
  }
}

}  // namespace ISDN
