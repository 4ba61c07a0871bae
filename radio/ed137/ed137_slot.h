#pragma once
// The ED-137 radio slots: RTP voice slots for EUROCAE ED-137 radios, whose
// push-to-talk, squelch, signal quality and keep-alive travel in the RTP
// header extension 0x0167. RtpED137RadioGWSlot is the gateway side, with an
// ED137RadioGWControl.
#include "radio/ed137/ed137_radio_control.h"
#include "radio/rtp_ext_slot.h"

class RtpED137Slot : public RtpExtSlot {
 public:
  using RtpExtSlot::RtpExtSlot;
  const char* GetName() const override { return "rtp ext ed137"; }
};

class RtpED137RadioGWSlot : public RtpED137Slot {
 public:
  // Own header-extension session, attached to this slot's RTP session; the
  // control runs its status timer every (period x multiplier) / 2 ms.
  RtpED137RadioGWSlot(int timeslot, Fd fd, rtp_connection_params const& params,
                      rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                      RTPSignalling::ED137RadioParams const& radio);
  // Unattached header-extension session; no parameters, timer off.
  RtpED137RadioGWSlot(int timeslot, Fd fd, rtp_connection_params const& params, rtp_ext_init_params const& init);
  // Attached through the RTP device; no parameters, timer off.
  RtpED137RadioGWSlot(int timeslot, Fd fd, rtp_connection_params const& params, rtp_attach_session_params const& attach);
  ~RtpED137RadioGWSlot() override;

  const char* GetName() const override { return "rtp ext ED137 (GW)"; }

 private:
  void Configure(RTPSignalling::ED137RadioGWControl* control, bool timer);
};
