#include "radio/zarn/rtp_zarn_slot.h"

namespace {

// The session record names the slot's own duplicate of the RTP descriptor:
// the factory's closes when the creation is done, and a restart of the
// header-extension session must still find the slot's session.
rtp_ext_attach_session_params OnSlotSession(rtp_ext_attach_session_params attach, const Fd& rtp) {
  attach.fd_rtp = rtp.lowlevel_fd();
  return attach;
}

}  // namespace

RtpZARNRadioGWSlot::RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                       bool timer)
    : RtpZARNSlot(channel, rtp, params, attach, init) {
  radioControl = new RTPSignalling::ZarnRadioGWControl(channel, OnSlotSession(attach, fd), init);
  Configure(timer);
}

RtpZARNRadioGWSlot::RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpZARNSlot(channel, rtp, params, init) {
  radioControl = new RTPSignalling::ZarnRadioGWControl(init);
  Configure(false);
}

RtpZARNRadioGWSlot::RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpZARNSlot(channel, rtp, params, attach) {
  radioControl = new RTPSignalling::ZarnRadioGWControl(channel, fd, attach);
  Configure(false);
}

RtpZARNRadioGWSlot::~RtpZARNRadioGWSlot() { ReleaseControl(); }

void RtpZARNRadioGWSlot::Configure(bool timer) {
  radioControl->Bind(this);
  radioControl->SetDebug(false);
  radioControl->SetTimerEnable(timer);
  radioControl->SetRadioControlMode(RTPSignalling::RadioControl::gateway);
}

RtpZARNRadioWSSlot::RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : RtpZARNSlot(channel, rtp, params, attach, init) {
  radioControl = new RTPSignalling::ZarnRadioWSControl(channel, OnSlotSession(attach, fd), init);
  Configure();
}

RtpZARNRadioWSSlot::RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpZARNSlot(channel, rtp, params, init) {
  radioControl = new RTPSignalling::ZarnRadioWSControl(init);
  Configure();
}

RtpZARNRadioWSSlot::RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpZARNSlot(channel, rtp, params, attach) {
  radioControl = new RTPSignalling::ZarnRadioWSControl(channel, fd, attach);
  Configure();
}

RtpZARNRadioWSSlot::~RtpZARNRadioWSSlot() { ReleaseControl(); }

void RtpZARNRadioWSSlot::Configure() {
  radioControl->Bind(this);
  radioControl->SetDebug(false);
  radioControl->SetTimerEnable(false);
  radioControl->SetRadioControlMode(RTPSignalling::RadioControl::workstation);
}
