#pragma once
// The state of a Zarn radio as one plain record, and the translations
// between it, the Zarn packet record (sig_proto) and the controller's TERM
// radio types. The radio control keeps two of these records (the radio's
// own state and what the far end commanded) and decodes every packet and
// every controller request into a third, working one.
#include "radio/zarn/sig_proto.h"
#include "schema/term/TERM.h"

#include <netinet/in.h>

#include <cstdint>

namespace RTPSignalling {

struct ZarnRadioState {
  ZarnRadioState();

  int type;  // packet type; 0 for a full status from the controller
  int priority;  // 0 to 15, lower is higher
  int ptt;
  in_addr session_addr;  // the push-to-talk holder
  std::uint32_t session_ssrc;
  char text[SIG_PROTO_CALLER_ID_AREA];  // selective-call caller identity, zero-terminated
  int bss;
  int vad_rx;
  int vad_tx;
  int sql;  // squelch open
  int sh;
  int pwr;
  int rv;
  int resv;
  int selcall;  // 0 to 3
  int li;  // 0 to 511
  int remote_no;
  int remote_ch;
  int channel;
  float frequency;
  int squelshe;  // TERM::RadioSquelshe value, -1 when not set
  int rte;  // TERM::RadioRTE value, -1 when not set
  int standby_state_channel;  // TERM::RadioStandby values, -1 when not set
  int standby_group;
  int standby_state_receiver;
  float quality;
  in_addr source_addr;  // who sent the packet, or whom the request names
  std::uint32_t source_ssrc;
};

// Packet record into s; -1 for a type without a layout (the header fields
// are taken all the same).
int DecodeProto(sig_proto const& record, ZarnRadioState& s);
// s into a packet record, as the radio gateway sends it (WM_* types) or as
// a workstation sends it (GW_* types); -1 for a type that side never sends.
int EncodeProtoGW(ZarnRadioState const& s, sig_proto& record);
int EncodeProtoWS(ZarnRadioState const& s, sig_proto& record);

// A controller request into s (a copy of the radio state: what the request
// does not carry keeps its value). -1 when an address of the request is not
// a dotted quad: inet_addr would make it 255.255.255.255, and such a holder
// shuts every source out; -1 too for a priority beyond the packet's four
// bits. The caller then refuses the request.
int DecodeASN(TERM::ZarnRadioModifier const& m, ZarnRadioState& s);
// Whether the packet header holds the status's priority (0 to 15).
bool Carried(TERM::ZarnRadioStatus const& st);
// A full radio status into s; the holder, the text, the quality and the
// source are left alone. -1, s untouched, when it is not Carried.
int DecodeASN(TERM::ZarnRadioStatus const& st, ZarnRadioState& s);

// s as the status of req. Values outside what the TERM types can carry
// (the -1 of a squelch, RTE or standby setting never given) go as the
// nearest neutral value, so the report is never lost to the encoder.
int EncodeStatusASN(ZarnRadioState const& s, TERM::RtpRadioRequest& req);
// The radio state as status and the received state r as the request, with
// r's source as its address.
int EncodeASN(ZarnRadioState const& radio, ZarnRadioState const& r, TERM::RtpRadioRequest& req);

// Field values that a packet can carry but the TERM enumerations cannot:
// the receive path drops such packets as undecodable.
bool ProtoValuesInRange(sig_proto const& record);

}  // namespace RTPSignalling
