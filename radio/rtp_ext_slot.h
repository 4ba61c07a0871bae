#pragma once
// RtpExtSlot: the base of every radio-over-IP slot. An RTP voice slot whose
// radio signalling (push-to-talk, squelch, keep-alive, status) travels in
// the RTP header extension of the same stream and is handled by the radio
// control that the slot owns. The slot relays between the control and the
// controller: "rtpExt" ioctls go to the control, its radio events and abort
// causes come back as the slot's signals. When told so, it also switches
// the session's transmission from the radio's squelch.
//
// The concrete slots (ED-137, Zarn) create the control in their
// constructors and hand it to this base.
#include "media/rtp_slot.h"
#include "radio/control/radio_control.h"

class RtpExtSlot : public RtpSlot, public RTPSignalling::IRadioControlNotify {
 public:
  // For a control with its own header-extension session (type 0).
  RtpExtSlot(int timeslot, Fd fd, rtp_connection_params const& params, rtp_ext_attach_session_params const& attach,
             rtp_ext_init_params const& init);
  // For a control with an unattached session (type 2).
  RtpExtSlot(int timeslot, Fd fd, rtp_connection_params const& params, rtp_ext_init_params const& init);
  // For a control attached through the RTP device (type 1).
  RtpExtSlot(int timeslot, Fd fd, rtp_connection_params const& params, rtp_attach_session_params const& attach);
  // Deletes a control that a subclass left.
  ~RtpExtSlot() override;

  void SetRadioStatus(TERM::RadioStatus const& status) { radioStatus = status; }

  // Streams available, then the stored status to the control.
  void IAfterCreate() override;
  // The header-extension session ends before the RTP session.
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  const char* GetName() const override { return "rtp ext"; }

  void RadioControlNotify(TERM::RtpRadioRequest const& request) override;
  void RadioControlNotify(int cause) override;

  RTPSignalling::RadioControl* GetRadioControl() const { return radioControl; }
  const TERM::RadioStatus& GetRadioStatus() const { return radioStatus; }

 protected:
  // Unbinds, stops the timer and deletes the control.
  void ReleaseControl();

  TERM::RadioStatus radioStatus;
  RTPSignalling::RadioControl* radioControl = nullptr;

 private:
  // Transmission on while the radio's squelch is open, off when closed.
  void GateTransmission();
};
