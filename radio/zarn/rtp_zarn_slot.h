#pragma once
// The Zarn radio slots: RTP voice slots whose radio signalling travels as
// Zarn packets in the RTP header extension (type 0x1337), handled by a Zarn
// radio control that the slot owns. The gateway slot (the radio side) is the
// one the factory creates; the workstation slot is its mirror image.
#include "radio/rtp_ext_slot.h"
#include "radio/zarn/zarn_radio_control.h"

class RtpZARNSlot : public RtpExtSlot {
 public:
  RtpZARNSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_attach_session_params const& attach,
              rtp_ext_init_params const& init)
      : RtpExtSlot(channel, rtp, params, attach, init) {}
  RtpZARNSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const& init)
      : RtpExtSlot(channel, rtp, params, init) {}
  RtpZARNSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_attach_session_params const& attach)
      : RtpExtSlot(channel, rtp, params, attach) {}
  ~RtpZARNSlot() override {}
  const char* GetName() const override { return "rtp ext ZARN"; }
};

class RtpZARNRadioGWSlot : public RtpZARNSlot {
 public:
  // Own header-extension session; `timer` runs the periodic status.
  RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                     rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init, bool timer);
  // Header-extension session initialised, not attached.
  RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const& init);
  // Attached to an existing RTP session through the RTP device.
  RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                     rtp_attach_session_params const& attach);
  ~RtpZARNRadioGWSlot() override;
  const char* GetName() const override { return "rtp ext ZARN (GW)"; }

 private:
  void Configure(bool timer);
};

class RtpZARNRadioWSSlot : public RtpZARNSlot {
 public:
  RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                     rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const& init);
  RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                     rtp_attach_session_params const& attach);
  ~RtpZARNRadioWSSlot() override;
  const char* GetName() const override { return "rtp ext ZARN (WS)"; }

 private:
  void Configure();
};
