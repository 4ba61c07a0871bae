#include "radio/zarn/rtp_zarn_factory.h"

#include "radio/zarn/rtp_zarn_slot.h"
#include "radio/zarn/zarn_radio_state.h"
#include "runtime/ext_output.h"

#include <unistd.h>

#include <cstring>
#include <iostream>

namespace {

// The header extension of Zarn radio packets.
constexpr std::uint16_t kZarnExtensionType = 0x1337;

}  // namespace

RtpZARNFactory& RtpZARNFactory::instance() {
  static RtpZARNFactory factory;
  return factory;
}

RtpZARNFactory::RtpZARNFactory() : RtpRadioFactory("rtp ext ZARN") {}

RtpZARNFactory::~RtpZARNFactory() {}

Slot* RtpZARNFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.rtp_isSelected()) return nullptr;
  const LGCP::CreateRtpParams& create = params.get_rtp();
  const TERM::RtpParams& rtp = create.get_codecRTP();
  if (!rtp.radio_isPresent() || !rtp.get_radio().get_status().zarn_isSelected()) return nullptr;

  // Through a string: a value the controller sent with an alternative this
  // side does not know cannot be printed, and would leave the log failed.
  std::clog << ext::header(this) << "do create rtp ext ZARN: " << rtp.asValueNotation() << std::endl;
  // A priority the packet header cannot hold would go out as another one
  // with every periodic status: no slot.
  if (!RTPSignalling::Carried(rtp.get_radio().get_status().get_zarn())) {
    std::cerr << ext::header(this) << "rtp ext ZARN not created: priority beyond the packet header's field"
              << std::endl;
    return nullptr;
  }
  Session s;
  if (!OpenSession(create, s)) return nullptr;

  // Which header-extension session: the slot's own unless the controller
  // names an RTP session to attach to.
  const TERM::RtpExtMode* mode = nullptr;
  if (rtp.rtp_e2m_isPresent() && rtp.get_rtp_e2m().mode_isPresent()) mode = &rtp.get_rtp_e2m().get_mode();

  RtpZARNRadioGWSlot* slot = nullptr;
  if (!mode || mode->both_rtp_and_rtp_ext_isSelected()) {
    rtp_ext_init_params init;
    std::memset(&init, 0, sizeof init);
    init.etype = kZarnExtensionType;
    rtp_ext_attach_session_params attach;
    attach.fd_rtp = s.dev.lowlevel_fd();
    attach.pid_rtp = static_cast<std::int32_t>(::getpid());
    slot = new RtpZARNRadioGWSlot(s.info.tdm, s.dev, s.params, attach, init, true);
  } else if (mode->only_rtp_isSelected()) {
    const TERM::RtpExtDescription& d = mode->get_only_rtp();
    rtp_attach_session_params attach;
    attach.fd_rtp = d.get_fd().getValue();
    attach.pid_rtp = d.get_pid().getValue();
    slot = new RtpZARNRadioGWSlot(s.info.tdm, s.dev, s.params, attach);
  } else {
    // A mode this side does not know: the session just begun ends with
    // the factory's descriptors.
    return nullptr;
  }
  if (!StartSlot(*slot, s, rtp)) {
    delete slot;
    return nullptr;
  }
  return slot;
}
