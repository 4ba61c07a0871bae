#include "radio/ed137/ed137_slot.h"

using RTPSignalling::ED137RadioGWControl;

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int timeslot, Fd fd, rtp_connection_params const& params,
                                         rtp_ext_attach_session_params const& attach,
                                         rtp_ext_init_params const& init, RTPSignalling::ED137RadioParams const& radio)
    : RtpED137Slot(timeslot, fd, params, attach, init) {
  transmissionDependOnSQU = radio.transmissionDependOnSQU;
  // The attach record names this slot's own descriptor of the session: the
  // factory's closes once the slot is made, and a restart of the
  // header-extension session must still find the session.
  rtp_ext_attach_session_params own = attach;
  own.fd_rtp = this->fd.lowlevel_fd();
  auto* control = new ED137RadioGWControl(timeslot, own, init);
  radioControl = control;
  control->SetParams(radio);
  control->Bind(this);
  control->SetDebug(false);
  control->SetTimerInterval((static_cast<unsigned long>(radio.r2sKeepAlivePeriod) * radio.r2sKeepAliveMultiplier) >> 1);
  control->SetTimerEnable(true);
  control->SetRadioControlMode(RTPSignalling::RadioControl::gateway);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int timeslot, Fd fd, rtp_connection_params const& params,
                                         rtp_ext_init_params const& init)
    : RtpED137Slot(timeslot, fd, params, init) {
  Configure(new ED137RadioGWControl(init), false);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int timeslot, Fd fd, rtp_connection_params const& params,
                                         rtp_attach_session_params const& attach)
    : RtpED137Slot(timeslot, fd, params, attach) {
  Configure(new ED137RadioGWControl(timeslot, this->fd, attach), false);
}

void RtpED137RadioGWSlot::Configure(ED137RadioGWControl* control, bool timer) {
  radioControl = control;
  control->Bind(this);
  control->SetDebug(false);
  control->SetTimerEnable(timer);
  control->SetRadioControlMode(RTPSignalling::RadioControl::gateway);
}

RtpED137RadioGWSlot::~RtpED137RadioGWSlot() { ReleaseControl(); }
