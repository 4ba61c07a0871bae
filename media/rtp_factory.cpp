#include "media/rtp_factory.h"

#include "media/rtp_setup.h"
#include "media/rtp_slot.h"
#include "platform/device.h"
#include "platform/voice.h"
#include "runtime/errno_text.h"
#include "runtime/ext_output.h"
#include "slots/device_names.h"

#include <fcntl.h>

#include <iostream>

RtpFactory& RtpFactory::instance() {
  static RtpFactory factory;
  return factory;
}

RtpFactory::RtpFactory() { IQuery(); }

std::ostream& RtpFactory::PutHeader(std::ostream& os) const {
  return os << "rtp[" << g723 << "," << g729 << "," << g711 << "," << universal << "]: ";
}

void RtpFactory::IQuery() {
  g729 = g723 = g711 = 0;
  if (!RtpSetup::CodecCapacity(g729, g723, g711, g711mcc, universal)) {
    const Errno err;
    std::cerr << ext::header(this) << "device " << ext::quoted(GetVoiceDevName()) << " open fail: " << err
              << std::endl;
  }
}

void RtpFactory::Query(LGCP::Resources& res) {
  IQuery();
  res.set_rtp_g729(static_cast<int>(g729));
  res.set_rtp_g723(static_cast<int>(g723));
  res.set_rtp_g711(static_cast<int>(g711));
  res.set_rtp_g711mcc(static_cast<int>(g711mcc));
  res.set_universal(static_cast<int>(universal));
}

Slot* RtpFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.rtp_isSelected()) return nullptr;
  const LGCP::CreateRtpParams& create = params.get_rtp();
  const TERM::RtpParams& rtp = create.get_codecRTP();
  if (rtp.radio_isPresent()) return nullptr;

  // Through a string: a value the controller sent with an alternative this
  // side does not know cannot be printed, and would leave the log failed.
  std::clog << ext::header(this) << "do create rtp: " << rtp.asValueNotation() << std::endl;
  std::uint16_t pt = 0;
  if (!RtpSetup::PayloadType(rtp.get_payload(), pt)) {
    std::clog << ext::header(this) << "rtp do not created: payload " << rtp.get_payload() << "not found" << std::endl;
    return nullptr;
  }

  const std::uint16_t rtcpPort = static_cast<std::uint16_t>(RtpSetup::LocalPort(rtp) + 1);
  Fd sock;
  switch (RtpSetup::BindRtcpSocket(rtcpPort, true, sock)) {
    case RtpSetup::SocketStep::socket: {
      const Errno err;
      std::clog << ext::header(this) << "rtp do not created: can not create socket [errno=" << err << "]"
                << std::endl;
      return nullptr;
    }
    case RtpSetup::SocketStep::bind: {
      const Errno err;
      std::clog << ext::header(this) << "rtp do not created: can not bind socket [errno=" << err
                << ", port=" << rtcpPort << "]" << std::endl;
      return nullptr;
    }
    case RtpSetup::SocketStep::done:
      break;
  }

  rtp_connection_params session;
  if (!RtpSetup::FillParams(rtp, create.get_txPayload(), create.get_rxPayload(), session)) {
    // inet_addr would have made such text 255.255.255.255 (broadcast).
    std::clog << ext::header(this) << "rtp do not created: address is not dotted text" << std::endl;
    return nullptr;
  }
  rtp_channel_info info;
  info.tdm = -1;
  info.dev_no = -1;
  info.chn = -1;
  info.reserved = 0;
  Fd dev;
  switch (RtpSetup::BeginSession(session, info, dev)) {
    case RtpSetup::SessionStep::open: {
      const Errno err;
      std::cerr << ext::header(this) << "device " << ext::quoted(GetRtpDevName()) << " open fail: " << err
                << std::endl;
      return nullptr;
    }
    case RtpSetup::SessionStep::begin:
      std::cerr << ext::header(this) << "begin session fail !!! " << std::endl;
      return nullptr;
    case RtpSetup::SessionStep::add:
      std::cerr << ext::header(this) << "add channel fail !!!" << std::endl;
      return nullptr;
    case RtpSetup::SessionStep::done:
      break;
  }

  RtpSlot* slot = new RtpSlot(info.tdm, dev, session);
  if (!slot->HoldsSession()) {
    const Errno err;
    std::cerr << ext::header(this) << "rtp do not created: session descriptor not held: " << err << std::endl;
    delete slot;
    return nullptr;
  }
  // An echo canceller the DSP refused is no slot: the session ends with it,
  // before the peer hears of it.
  if (rtp.echo_isPresent() && rtp.get_echo().get_suppressor() && !slot->echoCancel(rtp.get_echo().get_canceller())) {
    std::cerr << ext::header(this) << "rtp do not created: echo canceller refused" << std::endl;
    delete slot;
    return nullptr;
  }
  if (!slot->startRTPC(sock, RtpSetup::RtcpPeer(session, rtp))) {
    const Errno err;
    std::cerr << ext::header(this) << "rtp do not created: RTCP socket not held: " << err << std::endl;
    // The canceller is the time slot's and would outlive the refused slot.
    if (rtp.echo_isPresent() && rtp.get_echo().get_suppressor() && rtp.get_echo().get_canceller())
      slot->echoCancel(false);
    delete slot;
    return nullptr;
  }
  return slot;
}
