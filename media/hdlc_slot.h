#pragma once
// HDLC package slots: the controller exchanges small addressed packages with
// a device on a TDM time slot. Each frame on the HDLC channel carries a
// 16-bit address, a control byte (send sequence in bits 7..5, the last
// sequence received from the device in bits 4..0) and the package body.
// Answers are gathered while the device marks them as continued and sent to
// the controller as one ioctl signal; the channel counters are reported
// every 3000 ms.
#include "runtime/clean_queue.h"
#include "runtime/packet.h"
#include "runtime/timer.h"
#include "schema/lgcp/LGCP.h"
#include "slots/hdlc.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <cstdint>
#include <memory>
#include <ostream>

class HdlcSlot : private Slot, public HDLC::Notify {
 public:
  // Builds the slot from its creation parameters; returned as the Slot the
  // framework owns.
  static Slot* Create(const LGCP::HdlcParams& params);
  ~HdlcSlot() override;

  std::ostream& PutHeader(std::ostream& os) const;

  static const TimerSpec<HdlcSlot> TUpdatespec;

 private:
  explicit HdlcSlot(const LGCP::HdlcParams& params);

  // Slot
  void OnTrunkStatus(unsigned trunk, ACP::TrunkState const& state) override;
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  // The slot does the switching of its connections itself (the channel
  // wires the line when it opens).
  int GetConnectionPriority() override { return 1; }
  bool IHwConnectTransmitter(Slot* receiver) override;
  bool IHwConnectReceiver(Slot* source) override;
  bool IHwDisconnectTransmitter(Slot* receiver) override;
  bool IHwDisconnectReceiver(Slot* source) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  const char* GetName() const override { return "hdlc-slot"; }

  // HDLC::Notify
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  void connect_line(int tdm);
  // Gives the channel the line of a connection that stays, or none, once a
  // connection goes.
  void keep_line(Slot* leaving_source, Slot* leaving_receiver);
  void iactivate();
  void transmitPacket(const Packet& frame);
  void flushResponce();
  void OnUpdateTimer();

  std::unique_ptr<HDLC> hdlc;
  LGCP::IoctlResponse response;
  std::uint32_t trunk = 0;
  TimerSpec<HdlcSlot>::SpecTimer<TUpdatespec> update_timer;
  Timer gather_timer;
  CleanQueue<Packet, 120> tx_queue;
  std::uint16_t address = 0;
  std::uint8_t tx_seq = 0;
  std::uint8_t rx_seq = 0;
  std::uint32_t gathered_octets = 0;  // size of `response`'s bodies, roughly
};

class HdlcSlotFactory : public SlotFactory {
 public:
  static HdlcSlotFactory& instance();

  const char* GetName() const override { return "HdlcSlotFactory"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  void SelfSignal(const LGCP::Signal& signal) override;

 private:
  HdlcSlotFactory() = default;
};
