#include "media/hdlc_slot.h"

#include "control/trace_ctl.h"
#include "runtime/ext_output.h"

#include <algorithm>
#include <iostream>
#include <new>

namespace {

bool tracing() { return traces.signalling.hdlc; }

// The address and control bytes in front of every body.
constexpr std::uint32_t header_size = 3;
constexpr std::uint32_t gather_ms = 100;
// Gathered answers go out before they outgrow one control message (a TPKT
// frame carries at most 65,531 octets).
constexpr std::uint32_t gather_limit = 32768;
// Nor more packages than the controller decodes in one list.
constexpr std::size_t gather_packages = 128;
// The control link writes no octet string longer than this (it sends no
// fragmented lengths): a longer body would make the whole answer fail.
constexpr std::uint32_t body_limit = 16383;

}  // namespace

const TimerSpec<HdlcSlot> HdlcSlot::TUpdatespec = {&HdlcSlot::OnUpdateTimer, 3000};

Slot* HdlcSlot::Create(const LGCP::HdlcParams& params) { return new HdlcSlot(params); }

HdlcSlot::HdlcSlot(const LGCP::HdlcParams& params) : hdlc(new HDLC) {
  hdlc->bind(this);
  response.select_hdlcPackages();
  const int given_trunk = params.get_trunk().getValue();
  address = static_cast<std::uint16_t>(params.get_address().getValue() & 0xFFFF);
  hdlc->trunk(static_cast<std::uint32_t>(given_trunk));
  // Unsigned: the lowest int the controller may send has no signed
  // predecessor.
  trunk = static_cast<std::uint32_t>(given_trunk) - 1u;
  hdlc->logLevel(static_cast<std::uint32_t>(params.get_log().getValue()));
  // Type 1 from the start: an activation before any connection must find a
  // channel kind the controller knows.
  HDLC::Params p = hdlc->params();
  p.trunk = given_trunk;
  p.type = 1;
  hdlc->params(p);
  if (tracing()) std::clog << ext::header(this) << "trunk=" << trunk << ", address=" << address << std::endl;
  update_timer.set(this);
}

HdlcSlot::~HdlcSlot() = default;

std::ostream& HdlcSlot::PutHeader(std::ostream& os) const { return os << "HdlcSlot[" << trunk << "/*]" << ": "; }

void HdlcSlot::OnTrunkStatus(unsigned, ACP::TrunkState const&) {}

void HdlcSlot::connect_line(int tdm) {
  HDLC::Params p = hdlc->params();
  p.tdm = tdm;
  p.type = 1;
  hdlc->params(p);
  if (p.tdm != -1) iactivate();
}

bool HdlcSlot::IHwConnectTransmitter(Slot* receiver) {
  if (tracing()) std::clog << ext::header(this) << "IHwConnectTransmitter" << std::endl;
  connect_line(receiver->GetReceiveChannel());
  return true;
}

bool HdlcSlot::IHwConnectReceiver(Slot* source) {
  if (tracing()) std::clog << ext::header(this) << "IHwConnectReceiver" << std::endl;
  connect_line(source->GetTransmitChannel());
  return true;
}

bool HdlcSlot::IHwDisconnectTransmitter(Slot* receiver) {
  if (tracing()) std::clog << ext::header(this) << "IHwDisconnectTransmitter" << std::endl;
  // A line the switch would not quieten is still fed: the controller hears
  // disconnectFail, not success.
  const bool unwired = Slot::IHwDisconnectTransmitter(receiver);
  const bool quiet = hdlc->deactivate();
  keep_line(nullptr, receiver);
  return unwired && quiet;
}

bool HdlcSlot::IHwDisconnectReceiver(Slot* source) {
  if (tracing()) std::clog << ext::header(this) << "IHwDisconnectReceiver" << std::endl;
  const bool unwired = Slot::IHwDisconnectReceiver(source);
  const bool quiet = hdlc->deactivate();
  keep_line(source, nullptr);
  return unwired && quiet;
}

void HdlcSlot::keep_line(Slot* leaving_source, Slot* leaving_receiver) {
  // The line of the connection that goes may get another source or slot:
  // an activation must not wire the channel to it again. The line of a
  // connection that stays is the channel's line then, or none is.
  std::vector<int> kept;
  if (GetSource() && GetSource() != leaving_source) kept.push_back(GetSource()->GetTransmitChannel());
  for (Slot* r : GetReceivers())
    if (r != leaving_receiver) kept.push_back(r->GetReceiveChannel());
  HDLC::Params p = hdlc->params();
  if (std::find(kept.begin(), kept.end(), p.tdm) != kept.end()) return;
  p.tdm = kept.empty() ? -1 : kept.front();
  hdlc->params(p);
}

void HdlcSlot::iactivate() {
  if (tracing()) std::clog << ext::header(this) << "Try to activate HDCL, params.tdm = " << hdlc->params().tdm << std::endl;
  if (!hdlc->activate()) {
    OnDeactivated();
    return;
  }
  if (tracing()) std::clog << ext::header(this) << "HDLC activated successfully" << std::endl;
}

bool HdlcSlot::IActivate(const TERM::TermActivateParams&) {
  if (tracing()) std::clog << ext::header(this) << "IActivate" << std::endl;
  iactivate();
  return true;
}

bool HdlcSlot::IDeactivate() {
  OnUpdateTimer();
  return true;
}

bool HdlcSlot::Ioctl(const LGCP::IoctlParams& params) {
  if (!params.hdlcPackages_isSelected()) return false;
  for (const LGCP::HdlcPackage& package : params.get_hdlcPackages()) {
    const auto& body = package.get_body();
    const std::uint8_t control = static_cast<std::uint8_t>((tx_seq * 32) | rx_seq);
    ++tx_seq;
    if (body.size() > packet_max_size - header_size) {
      std::cerr << ext::header(this) << "package of " << body.size() << " bytes does not fit a frame, dropped"
                << std::endl;
      continue;
    }
    Packet frame;
    try {
      packet_queue_claim();  // the queue may not take the pool's reserve
      frame.reserve_tail(static_cast<std::uint32_t>(header_size + body.size()));
    } catch (const std::bad_alloc&) {
      std::cerr << ext::header(this) << "no packet buffer, package dropped" << std::endl;
      continue;
    }
    frame.put16_b(address);
    frame.put8(control);
    if (!body.empty()) {
      unsigned char* at = frame.put(static_cast<std::uint32_t>(body.size()));
      for (std::size_t i = 0; i < body.size(); ++i) at[i] = static_cast<unsigned char>(body[i]);
    }
    if (tracing()) {
      std::clog << ext::header(this) << "enqueue package: " << std::endl;
      std::clog << ext::header(this) << frame.text() << std::endl;
    }
    transmitPacket(frame);
  }
  // The device's answers come later as signals; the command itself is
  // answered as not handled.
  return false;
}

void HdlcSlot::transmitPacket(const Packet& frame) {
  tx_queue.put(frame);  // a full queue drops the new frame
  if (!tx_queue.empty() && hdlc->is_ready()) on_hdlc_ready();
}

void HdlcSlot::on_hdlc_ready() {
  Packet frame;
  while (tx_queue.get(frame)) {
    if (!hdlc->hdlc_transmit(frame)) {
      // A closed or full channel: back to the head, it goes first when the
      // channel reports ready. A frame the open channel refused (counted as
      // a send error) has no ready report to wait for: kept, it would go
      // out whenever the next package came, and one the driver never takes
      // would hold every later package.
      if (!hdlc->is_open() || !hdlc->is_ready()) {
        tx_queue.append(frame);
        return;
      }
      std::cerr << ext::header(this) << "frame refused by the channel, dropped" << std::endl;
      continue;
    }
    if (tracing()) std::clog << ext::header(this) << "on_hdlc_ready " << frame.text() << std::endl;
  }
}

void HdlcSlot::on_hdlc_receive(Packet& frame) {
  if (tracing()) std::clog << ext::header(this) << "on_hdlc_receive " << frame.text() << std::endl;
  const std::uint32_t len = frame.length();
  const unsigned char* d = frame.get()->fdata;
  // Missing header bytes count as 0.
  const std::uint16_t addr = static_cast<std::uint16_t>(((len > 0 ? d[0] : 0) << 8) | (len > 1 ? d[1] : 0));
  const std::uint8_t control = len > 2 ? d[2] : 0;
  const unsigned char* body = d + (len < header_size ? len : header_size);
  const std::uint32_t body_len = len > header_size ? len - header_size : 0;

  if (addr == address) rx_seq = static_cast<std::uint8_t>(control >> 5);
  if (addr == address && body_len > body_limit) {
    // Gathered, it would take the packages gathered with it down too.
    std::cerr << ext::header(this) << "package of " << body_len << " octets is too long for the controller, dropped"
              << std::endl;
  } else if (addr == address) {
    const std::size_t held = response.get_hdlcPackages().size();
    if (held != 0 && (gathered_octets + body_len > gather_limit || held >= gather_packages)) {
      gather_timer.reset();
      flushResponce();
    }
    gathered_octets += body_len + 4;
    LGCP::HdlcPackage package;
    package.set_body().assign(reinterpret_cast<const char*>(body), reinterpret_cast<const char*>(body) + body_len);
    response.ref_hdlcPackages().push_back(package);
  }

  // The device marks a continued answer with bit 7 of the body's second
  // byte; a body too short to carry the mark ends the answer.
  if (body_len >= 2 && (body[1] & 0x80)) {
    if (!gather_timer.is_running()) gather_timer.set(gather_ms, &HdlcSlot::flushResponce, this);
  } else {
    gather_timer.reset();
    flushResponce();
  }
}

void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type) {
  std::clog << ext::header(this) << "on_hdlc_error" << std::endl;
}

void HdlcSlot::flushResponce() {
  const std::size_t gathered = response.get_hdlcPackages().size();
  if (tracing()) std::clog << ext::header(this) << "flushResponce: " << gathered << std::endl;
  if (gathered > 0) OnIoctlResponse(response);
  response.select_hdlcPackages();
  gathered_octets = 0;
}

void HdlcSlot::OnUpdateTimer() {
  update_timer.set(this);
  const HDLC::LinkCounters& c = hdlc->statistics();
  LGCP::IoctlResponse info;
  LGCP::HdlcLinkInfo& link = info.select_hdlcLinkInfo();
  link.set_txSU(static_cast<int>(c.sent));
  link.set_txDiscard(static_cast<int>(c.discarded));
  link.set_txError(static_cast<int>(c.send_errors));
  link.set_txOverflow(static_cast<int>(c.overflow));
  link.set_rxSU(static_cast<int>(c.received));
  OnIoctlResponse(info);
}

HdlcSlotFactory& HdlcSlotFactory::instance() {
  static HdlcSlotFactory factory;
  return factory;
}

Slot* HdlcSlotFactory::INewSlot(const LGCP::CreateParams& params) {
  if (tracing()) std::clog << std::endl << "HdlcSlotFactory.INewSlot" << std::endl << std::endl;
  if (!params.hdlcParams_isSelected()) return nullptr;
  return HdlcSlot::Create(params.get_hdlcParams());
}

void HdlcSlotFactory::SelfSignal(const LGCP::Signal& signal) {
  if (!signal.trunkStatus_isSelected()) return;
  const ACP::TrunkStatus& status = signal.get_trunkStatus();
  const std::vector<Slot*> list = slots;  // a slot may leave while told
  for (Slot* s : list) s->OnTrunkStatus(static_cast<unsigned>(status.get_trunk().getValue()), status.get_state());
}
