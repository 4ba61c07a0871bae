#include "radio/ed137/ed137_factory.h"

#include "radio/ed137/ed137_slot.h"
#include "runtime/ext_output.h"

#include <cstring>
#include <iostream>

RtpED137Factory& RtpED137Factory::instance() {
  static RtpED137Factory factory;
  return factory;
}

rtp_ext_init_params RtpED137Factory::InitParams(RTPSignalling::ED137RadioParams const& radio,
                                                std::uint16_t packetFactor) {
  rtp_ext_init_params init;
  std::memset(&init, 0, sizeof init);
  init.etype = 0x0167;
  const std::uint32_t pf = packetFactor ? packetFactor : 2;
  init.param[0] = 1;
  init.param[1] = 123;
  init.param[2] = radio.r2sKeepAlivePeriod / (pf * 10);
  init.param[3] = 1;
  if (radio.sigtime != 0) {
    init.param[2] *= radio.sigtime;
    init.param[3] *= radio.sigtime;
  }
  return init;
}

Slot* RtpED137Factory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.rtp_isSelected()) return nullptr;
  const LGCP::CreateRtpParams& create = params.get_rtp();
  const TERM::RtpParams& rtp = create.get_codecRTP();
  if (!rtp.radio_isPresent() || !rtp.get_radio().get_status().ed_137_isSelected()) return nullptr;

  // Through a string: a value the controller sent with an alternative this
  // side does not know cannot be printed, and would leave the log failed.
  std::clog << ext::header(this) << "do create rtp ext ED137: " << rtp.asValueNotation() << std::endl;
  // A status the header extension cannot hold would be sent as another one
  // with every keep-alive: no slot.
  if (!RTPSignalling::ED137RadioState::Carried(rtp.get_radio().get_status().get_ed_137())) {
    std::cerr << ext::header(this) << "rtp ext ED137 not created: status beyond the header extension's fields"
              << std::endl;
    return nullptr;
  }
  Session s;
  if (!OpenSession(create, s)) return nullptr;

  RTPSignalling::ED137RadioParams radio;
  const TERM::ED137RadioStatus& status = rtp.get_radio().get_status().get_ed_137();
  if (status.radio_response_isPresent()) radio.Init(status.get_radio_response());
  const rtp_ext_init_params init = InitParams(radio, s.params.packet_factor);
  const rtp_ext_attach_session_params attach = {s.dev.lowlevel_fd(), -1};

  auto* slot = new RtpED137RadioGWSlot(s.info.tdm, s.dev, s.params, attach, init, radio);
  slot->setTransmissionDependOnSQU(radio.transmissionDependOnSQU);
  if (!StartSlot(*slot, s, rtp)) {
    delete slot;
    return nullptr;
  }
  return slot;
}
