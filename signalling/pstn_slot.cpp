#include "signalling/pstn_slot.h"

#include <iostream>
#include <new>

const TimerSpec<PstnSlot> PstnSlot::TUpdatespec = {&PstnSlot::OnUpdateTimer, 3000};

Slot* PstnSlot::Create(const LGCP::PstnParams& params) { return new PstnSlot(params); }

PstnSlot::PstnSlot(const LGCP::PstnParams& params) : hdlc_(new HDLC) {
  hdlc_->bind(this);
  if (params.ss7_isSelected()) {
    const LGCP::SS7Params& p = params.get_ss7();
    const int trunk = p.get_trunk().getValue();
    slc_ = new SS7::SLC;
    listener_ = slc_;
    slc_->hdlc(hdlc_.get());
    slc_->set_linkno(static_cast<std::uint32_t>(trunk));
    slc_->set_slc(static_cast<std::uint32_t>(p.get_slc().getValue()));
    slc_->set_dpc(static_cast<std::uint32_t>(p.get_dpc().getValue()));
    slc_->set_opc(static_cast<std::uint32_t>(p.get_opc().getValue()));
    slc_->set_emergency(static_cast<bool>(p.get_emergency()));
    add_protocol_tail(slc_);
    hdlc_->trunk(static_cast<std::uint32_t>(trunk));
    // Unsigned: the lowest int the controller may send has no signed
    // predecessor.
    trunk_ = static_cast<std::uint32_t>(trunk) - 1u;
    kind_ = ss7;
  } else if (params.isdn_isSelected()) {
    const LGCP::IsdnParams& p = params.get_isdn();
    const int trunk = p.get_trunk().getValue();
    const unsigned log = static_cast<unsigned>(p.get_log().getValue());
    const bool bri = p.get_type().asInt() == LGCP::IsdnType::bri;
    const bool network = p.get_side().network_isSelected();
    if (bri && network) {
      nt_ = new ISDN::LAPD_NT;
      nt_->set_log(log);
      add_protocol_tail(nt_);
      // The manager's frames go through the engine like an ISDN link's.
      hdlc_->logLevel(log);
      hdlc_->trunk(static_cast<std::uint32_t>(trunk));
      kind_ = bri_network;
    } else {
      lapd_ = new ISDN::LAPD(ISDN::Side::user, 0);
      listener_ = lapd_;
      lapd_->hdlc(hdlc_.get());
      lapd_->set_side(network ? ISDN::Side::network : ISDN::Side::user);
      lapd_->set_linkno(static_cast<unsigned>(trunk));
      lapd_->set_log(log);
      lapd_->BindNotify(this);
      hdlc_->logLevel(log);
      hdlc_->trunk(static_cast<std::uint32_t>(trunk));
      trunk_ = static_cast<std::uint32_t>(trunk) - 1u;
      if (bri) {
        lapd_->change_to_bri();
        kind_ = isdn_bri;
      } else {
        kind_ = isdn_pri;
      }
      add_protocol_tail(lapd_);
    }
  }
  update_timer_.set(this);
}

PstnSlot::~PstnSlot() {
  update_timer_.reset();
  hdlc_->unbind();
  hdlc_->deactivate();
  // The links go before the engine they write to.
  while (Protocol* p = top()) delete p;
}

// Switching.

bool PstnSlot::IHwConnectReceiver(Slot* source) {
  HDLC::Params p = hdlc_->params();
  if (kind_ == ss7 || kind_ == isdn_pri) {
    p.trunk = source->GetTrunk();
    if (static_cast<unsigned>(p.trunk) > 3) {
      std::cerr << "pstn-slot: invalid trunk number: " << static_cast<unsigned>(p.trunk) << std::endl;
      return false;
    }
    p.timeslot = source->GetTrunkTimeSlot();
    if (static_cast<unsigned>(p.timeslot) > 31) {
      std::cerr << "pstn-slot: invalid timeslot: " << static_cast<unsigned>(p.timeslot) << std::endl;
      return false;
    }
  }
  p.type = kind_ == ss7 ? 0 : kind_ == isdn_pri ? 1 : 2;
  p.tdm = source->GetTransmitChannel();
  hdlc_->params(p);
  if (kind_ == ss7 || kind_ == isdn_pri || p.tdm2 != -1) activation_step();
  return true;
}

bool PstnSlot::IHwConnectTransmitter(Slot* receiver) {
  if (kind_ == ss7 || kind_ == isdn_pri) {
    // The link sends on the line it listens to, wired with its source. A
    // disconnect of that line left it idle: connected again, the line
    // carries the link once more.
    if (receiver->GetReceiveChannel() == hdlc_->params().tdm) return hdlc_->drive_line();
    return true;
  }
  HDLC::Params p = hdlc_->params();
  p.tdm2 = receiver->GetReceiveChannel();
  hdlc_->params(p);
  if (p.tdm != -1) activation_step();
  return true;
}

bool PstnSlot::IHwDisconnectTransmitter(Slot* receiver) {
  if (kind_ == isdn_bri || kind_ == bri_network) {
    stop_link();
    // The line this receiver gave is no longer the link's: a later
    // activation must not drive it (it may have another source by then).
    // Another receiver that stays gives its line instead.
    HDLC::Params p = hdlc_->params();
    p.tdm2 = -1;
    for (Slot* r : GetReceivers())
      if (r != receiver) p.tdm2 = r->GetReceiveChannel();
    hdlc_->params(p);
  }
  // A line the switch would not quieten is still fed: the controller hears
  // disconnectFail, not success.
  return Slot::IHwDisconnectTransmitter(receiver);
}

bool PstnSlot::IHwDisconnectReceiver(Slot* source) {
  stop_link();
  // The channel stays open but stops hearing the old source's line: the
  // stopped link would take the far end's alignment or establishment from
  // it and come up again on a line the controller took away.
  bool quiet = hdlc_->quiet_input();
  HDLC::Params p = hdlc_->params();
  // An SS7 or primary-rate link was wired onto its source's line with the
  // source alone: unless the controller connected the link to that line as
  // well, the line stops carrying it.
  if (kind_ == ss7 || kind_ == isdn_pri) {
    bool kept = false;
    for (Slot* r : GetReceivers()) kept = kept || (p.tdm >= 0 && r->GetReceiveChannel() == p.tdm);
    if (!kept) quiet = hdlc_->quiet_output() && quiet;
  }
  // Nor may a later activation listen to it.
  p.tdm = -1;
  hdlc_->params(p);
  return Slot::IHwDisconnectReceiver(source) && quiet;
}

void PstnSlot::activation_step() {
  if (!hdlc_->activate()) {
    // The failed open closed the channel a running link was using.
    if (!stop_unwatched_link()) OnDeactivated();
    return;
  }
  activate();
}

bool PstnSlot::stop_unwatched_link() {
  // An ISDN link notices a lost channel through its own timers and reports
  // the loss; an SS7 link in service and the terminal manager have none
  // that would, and stayed reported up while everything they were given
  // was lost. Stopped, they report the loss, and an activate starts afresh.
  const bool running = (slc_ && slc_->get_state_id() != SS7::SLC::State::idle) || (nt_ && nt_active_);
  if (running) stop_link();
  return running;
}

void PstnSlot::stop_link() {
  deactivate();
  if (kind_ == bri_network && nt_active_) {
    nt_active_ = false;
    OnUpdateTimer();
    OnDeactivated();
  }
}

// Controller commands.

bool PstnSlot::IActivate(const TERM::TermActivateParams&) {
  activation_step();
  return true;
}

bool PstnSlot::IDeactivate() {
  stop_link();
  return true;
}

bool PstnSlot::IUserData(std::vector<char> const& data) {
  if (!top()) return true;  // no link: the message goes nowhere
  Packet p;
  try {
    // The link keeps what it cannot send yet; the pool's reserve is the
    // control link's and the receive paths'.
    packet_queue_claim();
    prepare_head(p);
    if (data.size() > p.tailroom()) {
      std::cerr << "pstn-slot: message of " << data.size() << " octets does not fit a frame, dropped" << std::endl;
      return true;
    }
    if (!data.empty()) {
      unsigned char* at = p.put(static_cast<std::uint32_t>(data.size()));
      for (std::size_t i = 0; i < data.size(); ++i) at[i] = static_cast<unsigned char>(data[i]);
    }
  } catch (const std::bad_alloc&) {
    std::cerr << "pstn-slot: no packet buffer, message dropped" << std::endl;
    return true;
  }
  message(p);
  return true;
}

bool PstnSlot::Ioctl(const LGCP::IoctlParams& params) {
  if (params.ss7RqBSN_isSelected()) {
    if (!slc_) return false;
    LGCP::IoctlResponse r;
    r.select_ss7BSN(static_cast<int>(slc_->get_bsn()));
    OnIoctlResponse(r);
    return true;
  }
  if (params.ss7Log_isSelected()) {
    if (!slc_) return false;
    const LGCP::SS7L2Log& l = params.get_ss7Log();
    SS7::SLC::Trace& t = slc_->trace;
    t.state = l.get_state();
    t.raw_receive = l.get_raw_receive();
    t.raw_transmit = l.get_raw_transmit();
    t.mtp_transmit = l.get_mtp_transmit();
    t.mtp_receive = l.get_mtp_receive();
    t.mtp_activate = l.get_mtp_activate();
    t.timers = l.get_timers();
    t.msu_processing = l.get_msu_processing();
    return true;
  }
  return false;
}

void PstnSlot::OnTrunkStatus(unsigned trunk, ACP::TrunkState const& state) {
  if (trunk != trunk_ || !slc_ || state.asInt() == last_state_) return;
  last_state_ = state.asInt();
  slc_->OnTrunkHardStatus(last_state_ == ACP::TrunkState::normal);
}

// Engine and stack.

void PstnSlot::on_hdlc_receive(Packet& frame) {
  if (listener_)
    listener_->on_hdlc_receive(frame);
  else if (nt_)
    receive(frame);
}

void PstnSlot::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  if (listener_) listener_->on_hdlc_error(cause);
  stop_unwatched_link();
}

void PstnSlot::on_hdlc_ready() {
  if (listener_) listener_->on_hdlc_ready();
}

int PstnSlot::transmit(Packet& p) {
  if (!nt_) return 0;
  return hdlc_->hdlc_transmit(p) ? 0 : -1;
}

void PstnSlot::on_activated(Protocol*) {
  if (nt_) nt_active_ = true;
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
  OnActivated();
}

void PstnSlot::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) {
  nt_active_ = false;
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
  OnUpdateTimer();
  OnDeactivated();
}

int PstnSlot::on_message(Packet& p) {
  const std::uint32_t len = p.length();
  const char* d = reinterpret_cast<const char*>(len ? p.get()->fdata : nullptr);
  OnUserData(std::vector<char>(d, d + len));
  return 0;
}

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* link) {
  LGCP::IoctlResponse r;
  r.select_isdnLinkStatus(link->GetFlowStatus() == ISDN::LAPD::FlowStatus::congested ? LGCP::IsdnLinkStatus::congested
                                                                                      : LGCP::IsdnLinkStatus::normal);
  OnIoctlResponse(r);
}

// Reports.

void PstnSlot::UpdateHDLC_Statistics() {
  const HDLC::LinkCounters& c = hdlc_->statistics();
  LGCP::IoctlResponse r;
  LGCP::HdlcLinkInfo& l = r.select_hdlcLinkInfo();
  l.set_txSU(static_cast<int>(c.sent));
  l.set_txDiscard(static_cast<int>(c.discarded));
  l.set_txError(static_cast<int>(c.send_errors));
  l.set_txOverflow(static_cast<int>(c.overflow));
  l.set_rxSU(static_cast<int>(c.received));
  OnIoctlResponse(r);
}

void PstnSlot::UpdateISDN_Statistics() {
  if (!lapd_) return;
  LGCP::IoctlResponse r;
  ACP::IsdnLinkInfo& info = r.select_isdnLinkInfo();
  info.set_side(lapd_->side() == ISDN::Side::network ? ACP::IsdnSide::network : ACP::IsdnSide::user);
  if (lapd_->GetInfo(info)) OnIoctlResponse(r);
}

void PstnSlot::UpdateSS7_Statistics() {
  if (!slc_) return;
  const SS7::SLC::Statistics& s = slc_->statistics();
  LGCP::IoctlResponse r;
  ACP::SS7LinkInfo& l = r.select_ss7LinkInfo();
  l.set_msuTxCount(static_cast<int>(s.su_sent));
  l.set_msuRxCount(static_cast<int>(s.su_received));
  l.set_octetsTx(static_cast<int>(s.octets_sent));
  l.set_octetsRx(static_cast<int>(s.octets_received));
  l.set_speedRx(0);
  l.set_speedTx(0);
  l.set_overflowCntr(static_cast<int>(s.tb_overflows));
  l.set_rtbSize(static_cast<int>(s.rtb_size));
  l.set_repeatCntr(static_cast<int>(s.retransmissions));
  l.set_badSeqCntr(static_cast<int>(s.negative_acks));
  l.set_ss7state(static_cast<ACP::SS7State::NamedNumber>(slc_->get_state_id()));
  OnIoctlResponse(r);
}

void PstnSlot::OnUpdateTimer() {
  update_timer_.set(this);
  UpdateHDLC_Statistics();
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
}

// Factory.

PstnFactory& PstnFactory::instance() {
  static PstnFactory factory;
  return factory;
}

Slot* PstnFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.pstn_isSelected()) return nullptr;
  return PstnSlot::Create(params.get_pstn());
}

void PstnFactory::SelfSignal(const LGCP::Signal& signal) {
  if (!signal.trunkStatus_isSelected()) return;
  const ACP::TrunkStatus& status = signal.get_trunkStatus();
  // The links that follow trunk status run on E1 trunks. A basic-rate
  // framer is numbered from 0 as well: its status, sent beside the E1
  // trunk's every second, would take a link of the E1 trunk of the same
  // number down and up again whenever the two lines differ.
  if (status.get_type().asInt() != ACP::TrunkType::e1) return;
  const std::vector<Slot*> list = slots;  // a slot may leave while told
  for (Slot* s : list) s->OnTrunkStatus(static_cast<unsigned>(status.get_trunk().getValue()), status.get_state());
}
