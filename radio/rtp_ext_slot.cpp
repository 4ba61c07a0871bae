#include "radio/rtp_ext_slot.h"

#include "platform/device.h"
#include "platform/rtp.h"

RtpExtSlot::RtpExtSlot(int timeslot, Fd fd, rtp_connection_params const& params, rtp_ext_attach_session_params const&,
                       rtp_ext_init_params const&)
    : RtpSlot(timeslot, fd, params) {}

RtpExtSlot::RtpExtSlot(int timeslot, Fd fd, rtp_connection_params const& params, rtp_ext_init_params const&)
    : RtpSlot(timeslot, fd, params) {}

RtpExtSlot::RtpExtSlot(int timeslot, Fd fd, rtp_connection_params const& params, rtp_attach_session_params const&)
    : RtpSlot(timeslot, fd, params) {}

RtpExtSlot::~RtpExtSlot() { ReleaseControl(); }

void RtpExtSlot::ReleaseControl() {
  if (!radioControl) return;
  radioControl->UnBind();
  radioControl->SetTimerEnable(false);
  delete radioControl;
  radioControl = nullptr;
}

void RtpExtSlot::IAfterCreate() {
  RtpSlot::IAfterCreate();
  if (radioControl) radioControl->SendASNToChan(radioStatus);
}

bool RtpExtSlot::IBeforeDestroy() {
  if (radioControl) radioControl->RtpExtStop();
  return RtpSlot::IBeforeDestroy();
}

bool RtpExtSlot::Ioctl(LGCP::IoctlParams const& req) {
  if (!radioControl) return RtpSlot::Ioctl(req);
  bool result;
  if (req.rtpExt_isSelected()) {
    result = radioControl->SendASNToChan(req.get_rtpExt());
  } else {
    // A codec change may begin a new RTP session: the header-extension
    // session is stopped around it and attached again to the session in
    // force afterwards (the new one, or the old one when the change failed
    // and kept it).
    const bool codec = req.encoder_mode_isSelected() || req.decoder_mode_isSelected();
    const bool stopped = codec && radioControl->RtpExtStop();
    result = RtpSlot::Ioctl(req);
    if (stopped) {
      radioControl->SetRtpSession(fd.lowlevel_fd());
      const bool started = radioControl->RtpExtStart(false);
      if (result) result = started;
    }
  }
  GateTransmission();
  return result;
}

void RtpExtSlot::GateTransmission() {
  if (!transmissionDependOnSQU) return;
  const bool open = radioControl->GetSQU();
  if (open && !transmitting) {
    platform::dev_ioctl(fd.lowlevel_fd(), rtp::RTP_START_TX, nullptr);
    transmitting = true;
  } else if (!open && transmitting) {
    platform::dev_ioctl(fd.lowlevel_fd(), rtp::RTP_STOP_TX, nullptr);
    transmitting = false;
  }
}

void RtpExtSlot::RadioControlNotify(TERM::RtpRadioRequest const& request) { OnRtpRadioEvent(request); }

void RtpExtSlot::RadioControlNotify(int cause) { OnAbort(cause); }
