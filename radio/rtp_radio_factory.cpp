#include "radio/rtp_radio_factory.h"

#include "platform/device.h"
#include "platform/voice.h"
#include "radio/rtp_ext_slot.h"
#include "runtime/errno_text.h"
#include "runtime/ext_output.h"
#include "slots/device_names.h"

#include <fcntl.h>

#include <iostream>

RtpRadioFactory::RtpRadioFactory(const char* name) : name(name) { IQuery(); }

std::ostream& RtpRadioFactory::PutHeader(std::ostream& os) const {
  return os << name << "[" << g723 << "," << g729 << "," << g711 << "," << universal << "]: ";
}

void RtpRadioFactory::IQuery() {
  g729 = g723 = g711 = g711mcc = universal = 0;
  if (!RtpSetup::CodecCapacity(g729, g723, g711, g711mcc, universal)) {
    const Errno err;
    std::cerr << ext::header(this) << "device " << ext::quoted(GetVoiceDevName()) << " open fail: " << err
              << std::endl;
  }
}

void RtpRadioFactory::Query(LGCP::Resources& res) {
  IQuery();
  res.set_rtp_g729(static_cast<int>(g729));
  res.set_rtp_g723(static_cast<int>(g723));
  res.set_rtp_g711(static_cast<int>(g711));
  res.set_rtp_g711mcc(static_cast<int>(g711mcc));
  res.set_universal(static_cast<int>(universal));
}

bool RtpRadioFactory::OpenSession(LGCP::CreateRtpParams const& create, Session& s) {
  const TERM::RtpParams& rtp = create.get_codecRTP();
  std::uint16_t pt = 0;
  if (!RtpSetup::PayloadType(rtp.get_payload(), pt)) {
    std::clog << ext::header(this) << "rtp do not created: payload " << rtp.get_payload() << "not found" << std::endl;
    return false;
  }

  const std::uint16_t rtcpPort = static_cast<std::uint16_t>(RtpSetup::LocalPort(rtp) + 1);
  switch (RtpSetup::BindRtcpSocket(rtcpPort, false, s.sock)) {
    case RtpSetup::SocketStep::socket: {
      const Errno err;
      std::clog << ext::header(this) << "rtp do not created: can not create socket [errno=" << err << "]"
                << std::endl;
      return false;
    }
    case RtpSetup::SocketStep::bind: {
      const Errno err;
      std::clog << ext::header(this) << "rtp do not created: can not bind socket [errno=" << err
                << ", port=" << static_cast<unsigned>(rtcpPort) << "]" << std::endl;
      return false;
    }
    case RtpSetup::SocketStep::done:
      break;
  }

  if (!RtpSetup::FillParams(rtp, create.get_txPayload(), create.get_rxPayload(), s.params)) {
    // inet_addr would have made such text 255.255.255.255 (broadcast).
    std::clog << ext::header(this) << "rtp do not created: address is not dotted text" << std::endl;
    s.sock.close();
    return false;
  }
  s.info.tdm = -1;
  s.info.dev_no = -1;
  s.info.chn = -1;
  const bool bss = rtp.radio_isPresent() && rtp.get_radio().bss_enable_isPresent() && rtp.get_radio().get_bss_enable();
  s.info.reserved = bss ? 1 : 0;
  const RtpSetup::SessionStep step = RtpSetup::BeginSession(s.params, s.info, s.dev);
  if (step == RtpSetup::SessionStep::done) return true;
  const Errno err;
  s.sock.close();
  switch (step) {
    case RtpSetup::SessionStep::open:
      std::cerr << ext::header(this) << "device " << ext::quoted(GetRtpDevName()) << " open fail: " << err
                << std::endl;
      break;
    case RtpSetup::SessionStep::begin:
      std::cerr << ext::header(this) << "begin session fail !!! " << std::endl;
      break;
    default:
      std::cerr << ext::header(this) << "add channel fail !!!" << std::endl;
      break;
  }
  return false;
}

bool RtpRadioFactory::StartSlot(RtpExtSlot& slot, Session& s, TERM::RtpParams const& rtp) {
  if (!slot.HoldsSession()) {
    const Errno err;
    std::cerr << ext::header(this) << "rtp do not created: session descriptor not held: " << err << std::endl;
    return false;
  }
  const TERM::RtpRadioRequest& radio = rtp.get_radio();
  slot.SetRadioStatus(radio.get_status());
  // The session's channel asks BSS of the driver as the radio request said;
  // a codec restart asks it again.
  slot.setChannelWord(s.info.reserved);
  // A radio channel without the voice processing it was created with is
  // not answered as made; the peer hears nothing of it.
  bool ok = true;
  // The canceller is the time slot's and outlives the slot: one switched
  // on for a slot then refused would go on working on the channel.
  bool canceller_on = false;
  if (rtp.echo_isPresent() && rtp.get_echo().get_suppressor()) {
    ok = slot.echoCancel(rtp.get_echo().get_canceller());
    canceller_on = ok && rtp.get_echo().get_canceller();
  }
  if (ok && (radio.rx_delay_isPresent() || radio.tx_delay_isPresent())) {
    const int rx = radio.rx_delay_isPresent() ? radio.get_rx_delay().getValue() : 0;
    const int tx = radio.tx_delay_isPresent() ? radio.get_tx_delay().getValue() : 0;
    // The unit's delays are unsigned: a negative one would reach it as a
    // delay of some 49 days.
    if (rx < 0 || tx < 0) {
      std::cerr << ext::header(this) << "negative delay refused: rx=" << rx << " tx=" << tx << std::endl;
      ok = false;
    } else {
      ok = slot.configureDelays(static_cast<std::uint32_t>(rx), static_cast<std::uint32_t>(tx));
    }
  }
  if (ok && radio.bss_enable_isPresent()) ok = slot.enableBSS(radio.get_bss_enable());
  if (ok && radio.ng_enable_isPresent()) ok = slot.enableNG(radio.get_ng_enable());
  if (!ok) {
    std::cerr << ext::header(this) << "rtp do not created: voice processing refused" << std::endl;
    if (canceller_on) slot.echoCancel(false);
    return false;
  }
  if (!slot.startRTPC(s.sock, RtpSetup::RtcpPeer(s.params, rtp))) {
    const Errno err;
    std::cerr << ext::header(this) << "rtp do not created: RTCP socket not held: " << err << std::endl;
    if (canceller_on) slot.echoCancel(false);
    return false;
  }
  return true;
}
