#pragma once
// The radio control of a Zarn radio channel: Zarn packets in the RTP header
// extension on one side, the controller's TERM radio types on the other.
//
// Receive: every payload the device queued is decoded; runs of packets with
// the same type and source reach the controller once (as the last of the
// run); push-to-talk arbitration lets through only packets that may act on
// the radio. Send: the controller's status and requests update the radio
// state and go out as packets. The gateway kind also sends the radio's
// status groups periodically.
//
// The gateway kind (the radio side: takes GW_* commands, sends WM_* status)
// is the one the slots create; the workstation kind is its mirror image.
#include "radio/control/radio_control.h"
#include "radio/zarn/sig_proto.h"
#include "radio/zarn/zarn_radio_state.h"

#include <cstdint>

namespace RTPSignalling {

// Packet types that claim push-to-talk.
bool isPTTCommand(int type);
// The full-status type (0) and below.
bool isDefaultInitCommand(int type);

class ZarnRadioControl : public RadioControl {
 public:
  ZarnRadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit ZarnRadioControl(rtp_ext_init_params const& init);
  ZarnRadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);
  ~ZarnRadioControl() override;

  bool SendASNToChan(TERM::RadioStatus const& status) override;
  bool SendASNToChan(TERM::RadioModifier const& request) override;
  bool GetSQU() override;
  void OnRtpExtEvent(int fd, short events) override;

  // The kinds' hooks: store a controller command into the radio state
  // (-1: a full status, send nothing), store a received packet into the
  // received-command state, decide whether a received packet may act on the
  // radio, and build the packet of a state (-1: a type this kind never sends).
  virtual int PutProtoFromRadioToChan(ZarnRadioState const& s);
  virtual int PutProtoFromChanToRadio(ZarnRadioState const& r);
  virtual bool AccessFormChanToRadio(ZarnRadioState const& r);
  virtual int EncodeProto(ZarnRadioState const& s, sig_proto& record);

  ZarnRadioState const& GetRadioState() const { return radioState; }
  ZarnRadioState const& GetReceivedState() const { return receivedState; }

 protected:
  // One packet that survived the collapse of its run.
  int OnRtpProtoRXEvent(sig_proto const& record);
  // A controller command (a working copy of the radio state) to the radio.
  int SendRadioStateToChan(ZarnRadioState const& s);
  // The write's result (bytes written, or negative when it failed), or 0
  // when the record does not pack.
  int SendProtoToChan(sig_proto& record);

  // The periodic status groups, in the order of their stamps.
  enum Group { flagGroup, chanGroup, remoteGroup, standbyGroup, groups };
  void StampGroupOf(int type, std::uint32_t now);

  sig_proto current;
  sig_proto previous;
  std::uint32_t stamps[groups];
  ZarnRadioState receivedState;
  ZarnRadioState radioState;

 private:
  void InitZarn();
};

class ZarnRadioGWControl : public ZarnRadioControl {
 public:
  using ZarnRadioControl::ZarnRadioControl;
  ~ZarnRadioGWControl() override;

  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
  int PutProtoFromRadioToChan(ZarnRadioState const& s) override;
  int PutProtoFromChanToRadio(ZarnRadioState const& r) override;
  bool AccessFormChanToRadio(ZarnRadioState const& r) override;
  int EncodeProto(ZarnRadioState const& s, sig_proto& record) override;
};

class ZarnRadioWSControl : public ZarnRadioControl {
 public:
  using ZarnRadioControl::ZarnRadioControl;
  ~ZarnRadioWSControl() override;

  int PutProtoFromRadioToChan(ZarnRadioState const& s) override;
  int PutProtoFromChanToRadio(ZarnRadioState const& r) override;
  int EncodeProto(ZarnRadioState const& s, sig_proto& record) override;
};

}  // namespace RTPSignalling
