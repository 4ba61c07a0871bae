#pragma once
// PSTN signalling slots: one signalling link on a trunk time slot. The link
// (ISDN data link of either side and rate, the network-side basic-rate
// manager, or an SS7 link) runs over an HDLC engine the slot owns. No
// layer 3 runs here: the controller's userData goes down as one message and
// every message the link delivers goes up as a userData signal. Link state
// and counters reach the controller as ioctl signals every 3000 ms and on
// activation, deactivation and flow-control changes.
#include "control/protocols_list.h"
#include "runtime/timer.h"
#include "schema/lgcp/LGCP.h"
#include "signalling/lapd/lapd.h"
#include "signalling/lapd/lapd_nt.h"
#include "signalling/ss7/slc.h"
#include "slots/hdlc.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <cstdint>
#include <memory>

class PstnSlot : private Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public HDLC::Notify {
 public:
  // Link kinds.
  enum Kind : unsigned { ss7 = 0, isdn_pri = 1, isdn_bri = 2, bri_network = 3 };

  static Slot* Create(const LGCP::PstnParams& params);
  ~PstnSlot() override;

  static const TimerSpec<PstnSlot> TUpdatespec;

  // Slot
  void OnTrunkStatus(unsigned trunk, ACP::TrunkState const& state) override;

  // Read access for tests.
  unsigned kind() const { return kind_; }
  const HDLC& engine() const { return *hdlc_; }
  SS7::SLC* ss7_link() const { return slc_; }
  ISDN::LAPD* isdn_link() const { return lapd_; }
  ISDN::LAPD_NT* manager() const { return nt_; }

 private:
  explicit PstnSlot(const LGCP::PstnParams& params);

  // Slot
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IUserData(std::vector<char> const& data) override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  int GetConnectionPriority() override { return 1; }
  bool IHwConnectTransmitter(Slot* receiver) override;
  bool IHwConnectReceiver(Slot* source) override;
  bool IHwDisconnectTransmitter(Slot* receiver) override;
  bool IHwDisconnectReceiver(Slot* source) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  const char* GetName() const override { return "pstn"; }

  // HDLC::Notify
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // The stack's face.
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> status) override;
  int on_message(Packet& p) override;
  // Frames the terminal manager sends down leave the stack here.
  int transmit(Packet& p) override;
  const Protocol_name& name() const override { return name_; }

  // ISDN::LAPD::Notify
  void OnLAPD_FlowStatusChange(ISDN::LAPD* link) override;

  void activation_step();
  // Stops the link; the manager reports nothing itself, so its end is
  // reported here.
  void stop_link();
  // Stops a link that would not notice the engine's channel is gone; true
  // when it was running (it has then reported its end).
  bool stop_unwatched_link();
  void UpdateHDLC_Statistics();
  void UpdateISDN_Statistics();
  void UpdateSS7_Statistics();
  void OnUpdateTimer();

  Protocol_name_str name_{"PSTN"};
  std::unique_ptr<HDLC> hdlc_;
  unsigned kind_ = ss7;
  std::uint32_t trunk_ = 0;
  SS7::SLC* slc_ = nullptr;      // owned by the stack
  ISDN::LAPD* lapd_ = nullptr;   // owned by the stack
  ISDN::LAPD_NT* nt_ = nullptr;  // owned by the stack
  HDLC::Notify* listener_ = nullptr;
  bool nt_active_ = false;
  int last_state_ = 5;  // ACP::TrunkState unknown
  TimerSpec<PstnSlot>::SpecTimer<TUpdatespec> update_timer_;
};

class PstnFactory : public SlotFactory {
 public:
  static PstnFactory& instance();

  const char* GetName() const override { return "PSTN"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  void SelfSignal(const LGCP::Signal& signal) override;

 private:
  PstnFactory() = default;
};
