#include "slots/slot.h"

#include "slots/hw_mux.h"
#include "slots/slot_factory.h"
#include "slots/slots.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>

Slot::Slot()
    : id(-1), source(nullptr), factory(nullptr), inputStream(false), outputStream(false), releasing(false) {}

Slot::~Slot() = default;

int Slot::GetTrunk() { return -1; }
int Slot::GetTrunkTimeSlot() { return -1; }
void Slot::OnTrunkStatus(unsigned, ACP::TrunkState const&) {}
void Slot::IAfterCreate() {}
bool Slot::IBeforeDestroy() { return true; }
bool Slot::IActivate(TERM::TermActivateParams const&) { return false; }
bool Slot::IDeactivate() { return false; }
bool Slot::IUserData(std::vector<char> const&) { return false; }
bool Slot::Ioctl(LGCP::IoctlParams const&) { return false; }
int Slot::GetConnectionPriority() { return 0; }
bool Slot::IHwConnectTransmitter(Slot* receiver) { return MuxConnect(this, receiver); }
bool Slot::IHwConnectReceiver(Slot* src) { return MuxConnect(src, this); }
bool Slot::IHwDisconnectTransmitter(Slot* receiver) { return MuxDisconnect(receiver); }
bool Slot::IHwDisconnectReceiver(Slot*) { return MuxDisconnect(this); }
bool Slot::IOnOutputStream() { return false; }
bool Slot::IOnInputStream() { return false; }
void Slot::IOnOutputRelease() {}
void Slot::IOnInputRelease() {}
int Slot::IGetTransmitChannel() { return -1; }
int Slot::IGetReceiveChannel() { return -1; }

void Slot::Put(std::ostream& os) const {
  if (id == -1) {
    os << "na";
  } else if (static_cast<std::uint32_t>(id) > 1023) {
    os << "i" << static_cast<std::uint32_t>(id);
  } else {
    const char fill = os.fill('0');
    os << std::right << std::setw(2) << id;
    os.fill(' ');
    (void)fill;
  }
  os << ":" << GetName();
}

std::ostream& operator<<(std::ostream& os, Slot const& s) {
  s.Put(os);
  return os;
}

// Signals.

void Slot::SendSignal(LGCP::Signal const& sig) {
  if (id >= 0)
    Slots::instance().SendSignal(static_cast<unsigned>(id), sig);
  else
    Slots::instance().SendSignal(sig);
}

void Slot::OnTonecEvent(LGCP::TonecEvent const& ev) { SendSignal(LGCP::Signal(LGCP::Signal::tonec::index, ev)); }

void Slot::OnNumber(std::string const& digits) { SendSignal(LGCP::Signal(LGCP::Signal::number::index, digits)); }

void Slot::OnModem(TERM::ModemProceeding const& p) {
  SendSignal(LGCP::Signal(LGCP::Signal::modemProceeding::index, p));
}

void Slot::OnModem(TERM::ModemInformation const& i) {
  SendSignal(LGCP::Signal(LGCP::Signal::modemInformation::index, i));
}

void Slot::OnActivated() { SendSignal(LGCP::Signal(LGCP::Signal::activated::index, ASN1::Null())); }

void Slot::OnDeactivated() {
  SendSignal(LGCP::Signal(LGCP::Signal::deactivated::index, LGCP::DeactivateCause::networkError));
}

void Slot::OnAbort(int cause) { SendSignal(LGCP::Signal(LGCP::Signal::abort::index, cause)); }

void Slot::OnUserData(std::vector<char> const& data) {
  SendSignal(LGCP::Signal(LGCP::Signal::userData::index, data));
}

void Slot::OnIoctlResponse(LGCP::IoctlResponse const& r) { SendSignal(LGCP::Signal(LGCP::Signal::ioctl::index, r)); }

void Slot::OnRtpRadioEvent(TERM::RtpRadioRequest const& r) {
  SendSignal(LGCP::Signal(LGCP::Signal::rtpExt::index, r));
}

void Slot::OnVADEvent(LGCP::VADEvent const& ev) { SendSignal(LGCP::Signal(LGCP::Signal::vad::index, ev)); }

void Slot::OnSDEvent(LGCP::SDEvent const& ev) { SendSignal(LGCP::Signal(LGCP::Signal::sd::index, ev)); }

void Slot::OnRtpEvent(LGCP::RtpEvent const& ev) { SendSignal(LGCP::Signal(LGCP::Signal::rtp::index, ev)); }

void Slot::OnProtoZarnEvent(ZARNGW::ProtoZarnPackets const& p) {
  SendSignal(LGCP::Signal(LGCP::Signal::protoZarn::index, p));
}

void Slot::OnChangeInputStream(bool active) {
  if (inputStream == active) return;
  LGCP::Signal sig;
  LGCP::Stream& stream = sig.select_receiver();
  if (active) {
    stream.select_active(IGetReceiveChannel());
  } else {
    stream.select_inactive();
    Disconnect(this);
  }
  inputStream = active;
  SendSignal(sig);
}

void Slot::OnChangeOutputStream(bool active) {
  if (outputStream == active) return;
  LGCP::Signal sig;
  LGCP::Stream& stream = sig.select_transmitter();
  if (active) {
    stream.select_active(IGetTransmitChannel());
  } else {
    stream.select_inactive();
    const std::size_t n = receivers.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (receivers.empty()) {
        std::cerr << "mux: internal error: expected slots not exists." << std::endl;
        break;
      }
      Disconnect(receivers.front());
    }
  }
  outputStream = active;
  SendSignal(sig);
}

// Hardware event translators.

void Slot::processTonecEvent(Hardware::TonecEventParams const& p) {
  LGCP::TonecEvent ev;
  ev.set_timestamp(static_cast<int>(p.timestamp));
  LGCP::TonecCode& code = ev.set_event();
  const std::int32_t c = static_cast<std::int32_t>(p.code);
  if (c == 17) {
    code.select_ced();
  } else if (c == 18) {
    code.select_cng();
  } else if (c >= 0 && c <= 127) {
    code.select_dtmf(c);
  } else {
    const std::int32_t iva = c >> 8;
    if (iva >= 1 && iva <= 20) {
      code.select_iva().select_code(iva);
    } else if (iva == 21) {
      code.select_iva().select_ringoff();
    } else {
      std::cerr << "bad DTMF code, ignored." << std::endl;
      return;
    }
  }
  OnTonecEvent(ev);
}

void Slot::processToneGenEvent() {
  LGCP::TonecEvent ev;
  ev.set_timestamp(0);
  ev.set_event().select_dtmfDone();
  OnTonecEvent(ev);
}

void Slot::processVADEvent(Hardware::DSProcVADEvent const& e) {
  LGCP::VADEvent ev;
  if (e.rx >= 0) ev.set_vad_rx(e.rx > 0);
  if (e.tx >= 0) ev.set_vad_tx(e.tx > 0);
  if (!ev.vad_rx_isPresent() && !ev.vad_tx_isPresent()) {
    std::cerr << "bad VAD event, ignored." << std::endl;
    return;
  }
  OnVADEvent(ev);
}

void Slot::processSDEvent(Hardware::DSProcSDEvent const& e) {
  if (e.rx < 0) {
    std::cerr << "bad SD event, ignored." << std::endl;
    return;
  }
  LGCP::SDEvent ev;
  ev.set_sd_rx(e.rx > 0);
  OnSDEvent(ev);
}

void Slot::processToneFltEvent(dsproc_tone_event const& e) {
  LGCP::TonecEvent ev;
  ev.set_timestamp(0);
  LGCP::TonePresence& tp = ev.set_event().select_tone_presence();
  tp.set_freq(e.freq);
  tp.set_presence(e.presence > 0);
  OnTonecEvent(ev);
}

void Slot::processFlagsEvent(dsproc_flags_event const& e) {
  const std::uint32_t vad_rx = 1u << 29, vad_tx = 1u << 30, selcal = 1u << 31;
  if (e.mask & (vad_rx | vad_tx)) {
    LGCP::VADEvent ev;
    if (e.mask & vad_rx) ev.set_vad_rx((e.flags & vad_rx) != 0);
    if (e.mask & vad_tx) ev.set_vad_tx((e.flags & vad_tx) != 0);
    OnVADEvent(ev);
  }
  if (e.mask & selcal) {
    LGCP::Signal sig;
    sig.select_selcal().set_in_progress((e.flags & selcal) != 0);
    SendSignal(sig);
  }
}

void Slot::processBSSEvent(dsproc_bss_event const& e) {
  char text[31];
  std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(e.score));
  LGCP::Signal sig;
  sig.select_bss().set_score(std::string(text));
  SendSignal(sig);
}

void Slot::processRtpEvent(rtp_event const& e) {
  if (e.type != 1) return;
  LGCP::RtpEvent ev;
  LGCP::RtpPDEvent& pd = ev.select_pd();
  pd.set_value(static_cast<int>(e.value));
  pd.set_timeout(static_cast<int>(e.timeout));
  OnRtpEvent(ev);
}

// Life cycle.

bool Slot::BeforeDestroy() {
  if (!IBeforeDestroy()) return false;
  if (factory)
    factory->Remove(this);
  else
    std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
  return true;
}

void Slot::on_release() {
  if (!releasing) return;
  if (factory) factory->Remove(this);
  Slots::instance().on_release(this);
}

void Slot::LogicalConnect(Slot* src) {
  source = src;
  auto& r = src->receivers;
  // Kept sorted by address without duplicates.
  auto at = std::lower_bound(r.begin(), r.end(), this);
  if (at == r.end() || *at != this) r.insert(at, this);
}

void Slot::LogicalDisconnect() {
  if (!source) return;
  auto& r = source->receivers;
  r.erase(std::remove(r.begin(), r.end(), this), r.end());
  source = nullptr;
}

// The connection model.

bool llConnect(Slot* source, Slot* receiver) {
  if (source->GetConnectionPriority() <= receiver->GetConnectionPriority())
    return receiver->IHwConnectReceiver(source);
  return source->IHwConnectTransmitter(receiver);
}

bool llDisconnect(Slot* receiver) {
  Slot* source = receiver->GetSource();
  if (!source) return false;
  if (receiver->GetConnectionPriority() <= source->GetConnectionPriority())
    return source->IHwDisconnectTransmitter(receiver);
  return receiver->IHwDisconnectReceiver(source);
}

bool MuxConnect(Slot* source, Slot* receiver) {
  const int tx = source->GetTransmitChannel();
  const int rx = receiver->GetReceiveChannel();
  if (!HwMux::instance().Connect(tx, rx)) return false;
  std::clog << "mux: slot " << *source << " [" << tx << "] -> " << *receiver << " [" << rx << "]" << std::endl;
  return true;
}

// Another connected slot on the receive channel whose source sends on the
// same transmit channel as this receiver's: the line carries its signal too.
static bool ReceiveLineSharedWithOther(Slot const* self, int channel, int tx) {
  Slots& slots = Slots::instance();
  for (int n = 0; n < Slots::table_size; ++n) {
    Slot* s = slots.Get(n);
    if (s && s != self && s->GetSource() && s->GetReceiveChannel() == channel &&
        s->GetSource()->GetTransmitChannel() == tx)
      return true;
  }
  return false;
}

// `leave_shared`: a line that another connected slot still takes from the
// same transmit channel stays up (one receiver leaving); a source that goes
// quiet takes all its lines down.
static bool Quieten(Slot* receiver, bool leave_shared) {
  const int rx = receiver->GetReceiveChannel();
  // A connected receiver names no channel only once it has given its line
  // up (its channel dropped or its program ended, the line quietened then,
  // or a newer slot's since): nothing is left to quieten and nothing failed.
  if (rx < 0) return true;
  // A channel two slots name carries the line the controller wired last:
  // once another slot has taken it over from this receiver's source, it is
  // not this receiver's to quieten; nor while another slot still takes the
  // very signal this receiver gives up.
  Slot* source = receiver->GetSource();
  if (source && source->GetConnectionPriority() <= receiver->GetConnectionPriority()) {
    const int tx = source->GetTransmitChannel();
    if (!HwMux::instance().Feeds(tx, rx) ? ReceiveLineHeldByOther(receiver, rx)
                                         : leave_shared && ReceiveLineSharedWithOther(receiver, rx, tx))
      return true;
  }
  if (!HwMux::instance().Disconnect(rx)) return false;
  std::clog << "mux: disconnect slot " << *receiver << " [" << rx << "]" << std::endl;
  return true;
}

bool MuxDisconnect(Slot* receiver) { return Quieten(receiver, true); }

void MuxQuietenReceivers(Slot* source) {
  const int tx = source->GetTransmitChannel();
  // A receiver's channel may be shared with a slot the controller wired
  // since (two external slots may name one channel): that line is not
  // this source's to cut.
  for (Slot* r : source->GetReceivers())
    if (r->GetConnectionPriority() <= source->GetConnectionPriority() &&
        HwMux::instance().Feeds(tx, r->GetReceiveChannel()))
      Quieten(r, false);
}

void MuxQuietenInput(Slot* slot) {
  Slot* source = slot->GetSource();
  if (!source) return;
  // As for the receivers: a channel shared with a slot the controller wired
  // since carries that slot's line. A source that wires its own lines
  // (higher priority) is not known by its channel: its line goes as before.
  if (source->GetConnectionPriority() <= slot->GetConnectionPriority() &&
      !HwMux::instance().Feeds(source->GetTransmitChannel(), slot->GetReceiveChannel()))
    return;
  Quieten(slot, false);
}

void MuxQuietenLines(Slot* slot) {
  MuxQuietenInput(slot);
  MuxQuietenReceivers(slot);
}

bool ReceiveLineHeldByOther(Slot const* self, int channel) {
  Slots& slots = Slots::instance();
  for (int n = 0; n < Slots::table_size; ++n) {
    Slot* s = slots.Get(n);
    if (s && s != self && s->GetSource() && s->GetReceiveChannel() == channel) return true;
  }
  return false;
}

// Drops the receiver's link to its source as Disconnect does, without the
// hardware step.
static void DropLink(Slot* receiver) {
  Slot* old = receiver->GetSource();
  receiver->LogicalDisconnect();
  receiver->IOnInputRelease();
  if (old && old->GetReceivers().empty()) old->IOnOutputRelease();
}

bool Connect(Slot* source, Slot* receiver) {
  if (receiver->GetSource() == source) return true;
  if (source->GetReceivers().empty()) {
    if (!source->IOnOutputStream()) {
      std::cerr << "slot " << *source << " don't have output stream to " << *receiver << std::endl;
      return false;
    }
    source->OnChangeOutputStream(true);
  }
  Slot* previous = receiver->GetSource();
  // A receive channel that another slot has taken over since carries that
  // slot's line: a failed move must not put the old path back onto it.
  const bool line_taken_over = previous &&
                               previous->GetConnectionPriority() <= receiver->GetConnectionPriority() &&
                               !HwMux::instance().Feeds(previous->GetTransmitChannel(), receiver->GetReceiveChannel()) &&
                               ReceiveLineHeldByOther(receiver, receiver->GetReceiveChannel());
  if (!previous) {
    if (!receiver->IOnInputStream()) {
      std::cerr << "slot " << *receiver << " don't have input stream from " << *source << std::endl;
      if (source->GetReceivers().empty()) source->IOnOutputRelease();
      return false;
    }
    receiver->OnChangeInputStream(true);
  } else {
    llDisconnect(receiver);
  }
  if (llConnect(source, receiver)) {
    if (previous) {
      receiver->LogicalDisconnect();
      if (previous->GetReceivers().empty()) previous->IOnOutputRelease();
    }
    receiver->LogicalConnect(source);
    return true;
  }
  if (!previous) {
    receiver->IOnInputRelease();
  } else if (!line_taken_over && !llConnect(previous, receiver)) {
    // The move failed and the old path cannot be restored either: the
    // receiver is left without a source rather than with a stale one.
    DropLink(receiver);
  }
  if (source->GetReceivers().empty()) source->IOnOutputRelease();
  return false;
}

bool Disconnect(Slot* receiver) {
  if (!receiver->GetSource()) return true;
  const bool r = llDisconnect(receiver);
  DropLink(receiver);
  return r;
}
