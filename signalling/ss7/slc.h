#pragma once
// SS7::SLC: the signalling link control of an SS7 link at MTP level 2.
//
// The link aligns with its peer by exchanging link status signal units,
// proves the link, then carries message signal units both ways with the
// basic error-correction method: forward and backward sequence numbers and
// indicator bits, a retransmission buffer (RTB) and retransmission on a
// negative acknowledgement. Level 3 does not run here: an MSU's octets (SIO
// and SIF) travel opaquely between the layer above and the line.
//
// Signal units go to and come from a GenericHDLC without flags and check
// bits:
//
//   octet 1: BSN (bits 0-6), BIB (bit 7)
//   octet 2: FSN (bits 0-6), FIB (bit 7)
//   octet 3: LI (bits 0-5), spare bits sent as 0
//   then nothing (FISU), one status octet (LSSU) or SIO + SIF (MSU)
//
// The state machine is written as its table: one state object per state,
// whose operations call the link's handler overloaded for that state class
// (the aligned ready state derives from proving, so a proving handler serves
// it where it has none; a plain State handler does nothing).
#include "control/protocol.h"
#include "runtime/clean_queue.h"
#include "runtime/cyclic.h"
#include "runtime/packet.h"
#include "runtime/timer.h"
#include "slots/hdlc.h"

#include <cstdint>
#include <iosfwd>

namespace SS7 {

class SLC : public Protocol, public HDLC::Notify {
 public:
  using Seq = Cyclic<unsigned int, 127u>;

  // Trace switches, in the order and with the names the controller's
  // "ss7Log" request gives them.
  struct Trace {
    bool state = false;
    bool raw_receive = false;
    bool raw_transmit = false;
    bool mtp_transmit = false;
    bool mtp_receive = false;
    bool mtp_activate = false;
    bool timers = false;
    bool msu_processing = false;
  };

  // The status octet of an LSSU; a received one may hold any value.
  enum Indication : std::uint8_t { SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

  struct Statistics {
    std::uint32_t su_sent = 0;           // FISUs and MSUs that went through send
    std::uint32_t su_received = 0;       // signal units of 3 octets or more
    std::uint32_t octets_sent = 0;
    std::uint32_t octets_received = 0;   // every frame, refused ones too
    std::uint32_t tb_overflows = 0;
    std::uint32_t rtb_size = 0;          // filled in by statistics()
    std::uint32_t retransmissions = 0;
    std::uint32_t negative_acks = 0;
  };

  class State {
   public:
    enum type { idle = 0, not_aligned = 1, aligned = 2, proving = 3, aligned_ready = 4, worked = 5 };
    virtual ~State() = default;
    virtual void on_enter(SLC&) {}
    virtual void on_leave(SLC&) {}
    virtual void fisu(SLC&) {}
    virtual void lssu(SLC&, Indication) {}
    virtual void msu(SLC&, Packet&) {}
    virtual void message(SLC&, Packet&) {}
    virtual type get_state_id() const = 0;
  };

  template <State::type T, class Base>
  class TState : public Base {
   public:
    void on_enter(SLC& l) override { l.on_enter(*this); }
    void on_leave(SLC& l) override { l.on_leave(*this); }
    void fisu(SLC& l) override { l.fisu(*this); }
    void lssu(SLC& l, Indication i) override { l.lssu(*this, i); }
    void msu(SLC& l, Packet& p) override { l.msu(*this, p); }
    void message(SLC& l, Packet& p) override { l.message(*this, p); }
    State::type get_state_id() const override { return T; }
  };

  using IdleState = TState<State::idle, State>;
  using NotAlignedState = TState<State::not_aligned, State>;
  using AlignedState = TState<State::aligned, State>;
  using ProvingState = TState<State::proving, State>;
  using AlignedReadyState = TState<State::aligned_ready, ProvingState>;
  using WorkedState = TState<State::worked, State>;

  // Level-2 timers: one shared Timer runs at most one of them.
  struct TimerVal {
    unsigned int ms;
    void (SLC::*handler)(Timer*);
  };
  static const TimerVal T1, T2, T3, T4n, T4e, T5, T6, T7;

  // The received header fields, for log lines.
  struct DumpPtr {
    const SLC* link;
  };

  // The TB refuses MSUs from level 3 once it holds this many; a
  // retransmission may put up to 127 more in front of them.
  static constexpr std::uint32_t tb_limit = 200;
  static constexpr std::int32_t rtb_window = 127;  // MSUs sent and not yet acknowledged

  SLC();
  ~SLC() override;

  // Configuration by the owner, before activation.
  void set_emergency(bool on) { emergency = on; }
  void set_opc(std::uint32_t v) { opc = v; }
  void set_dpc(std::uint32_t v) { dpc = v; }
  void set_slc(std::uint32_t v) { slc = v; }
  void set_linkno(std::uint32_t v) { linkno = v; }
  void hdlc(GenericHDLC* h) { hdlc_ = h; }

  Trace trace;

  // Protocol.
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  int message(Packet& p) override;
  int receive(Packet& p) override;
  void protocol_info(std::ostream& os) const override;
  const Protocol_name& name() const override { return protocol_name; }

  // HDLC::Notify.
  void on_hdlc_receive(Packet& frame) override { receive(frame); }
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // The trunk under the link went up (true) or down (false).
  void OnTrunkHardStatus(bool up);
  const Statistics& statistics();
  State::type get_state_id() const { return current->get_state_id(); }
  unsigned int get_bsn() const { return bsn_own; }
  // Sends a copy of the MSU at once with the current sequence state,
  // outside the TB and RTB.
  bool send_msu(const Packet& p);
  // True while fewer than 1000 ms have passed since it last returned false.
  bool CoutCongestion();

  // Frames lost because the packet pool was empty.
  std::uint32_t buffer_shortages() const { return no_buffer; }
  // What the TB and RTB hold now.
  std::uint32_t tb_count() const { return tb.count(); }
  std::int32_t rtb_count() const { return rtb_count_; }

  std::ostream& PutHeader(std::ostream& os) const;
  std::ostream& PutShortInfo(std::ostream& os) const;

  static const char* state_name(int type);

 private:
  friend std::ostream& operator<<(std::ostream& os, DumpPtr d);

  // State handlers, overloaded by state class.
  void on_enter(State&) {}
  void on_enter(IdleState&);
  void on_enter(NotAlignedState&);
  void on_enter(AlignedState&);
  void on_enter(ProvingState&);
  void on_enter(AlignedReadyState&);
  void on_enter(WorkedState&);
  void on_leave(State&);
  void on_leave(IdleState&) {}
  void fisu(State&) {}
  void fisu(ProvingState&);
  void fisu(WorkedState&);
  void lssu(State&, Indication) {}
  void lssu(IdleState&, Indication i);
  void lssu(NotAlignedState&, Indication i);
  void lssu(AlignedState&, Indication i);
  void lssu(ProvingState&, Indication i);
  void lssu(WorkedState&, Indication i);
  void msu(State&, Packet&) {}
  void msu(ProvingState&, Packet&);
  void msu(WorkedState&, Packet& p);
  void message(State&, Packet&) {}
  void message(WorkedState&, Packet& p);

  void on_T1(Timer*);
  void on_T2(Timer*);
  void on_T3(Timer*);
  void on_T4(Timer*);
  void on_T5(Timer*) {}
  void on_T6(Timer*) {}
  void on_T7(Timer*);
  void set(const TimerVal& t) { timer.set(t.ms, t.handler, this); }

  void next_state(State& s);
  bool in_service() const { return current == &worked_state; }
  void reset();
  void make_expected();
  // The unit's FIB is not the one expected: the steps shared by FISU and MSU.
  void unexpected_fib();
  // False when the acknowledgement took the link out of service.
  bool process_bsnr();
  void ack();
  void nack();
  void retransmit();
  // Level 3 MSUs shorter than SIO and two SIF octets are refused: they would
  // go out with the LI of a FISU or an LSSU.
  bool acceptable_msu(const Packet& p);
  void put_to_tb(Packet& p);
  void process_tb();
  // Sends TB MSUs while the RTB has room; no FISU when there is nothing.
  void drain_tb();

  bool send(Packet& p);
  void fisu();
  void lssu(Indication i);
  void sio() { lssu(SIO); }
  void sin() { lssu(SIN); }
  void sie() { lssu(SIE); }
  void sios() { lssu(SIOS); }

  // Received header fields of the last signal unit.
  Seq bsnr = 0;
  bool bibr = false;
  Seq fsnr = 0;
  bool fibr = false;
  std::uint32_t li = 0;

  // Own sequence state.
  Seq bsn_own = 127;  // FSN of the last accepted MSU, sent as BSN
  bool bib_own = true;
  Seq fsn_own = 127;  // FSN of the MSU being sent
  bool fib_own = true;

  // Copies taken by make_expected.
  Seq fsn_expected = 127;
  bool bib_expected = true;
  bool fib_expected = true;

  bool nack_pending = false;
  bool bad_bsn = false;
  bool bad_fib = false;

  Packet rtb[128];  // indexed by FSN; an empty packet marks a free entry
  Seq rtb_oldest = 0;
  Seq rtb_last = 127;
  std::int32_t rtb_count_ = 0;

  CleanQueue<Packet, 327> tb;
  Timer timer;

  IdleState idle_state;
  NotAlignedState not_aligned_state;
  AlignedState aligned_state;
  ProvingState proving_state;
  AlignedReadyState aligned_ready_state;
  WorkedState worked_state;
  State* current = &idle_state;

  bool emergency = false;
  Protocol_name_str protocol_name{"MTP/L2"};
  std::uint32_t congestion_time;

  std::uint32_t linkno = 0;
  std::uint32_t slc = 0;
  std::uint32_t dpc = 0;
  std::uint32_t opc = 0;

  Statistics stats;
  std::uint32_t no_buffer = 0;
  GenericHDLC* hdlc_ = nullptr;
};

std::ostream& operator<<(std::ostream& os, SLC::Indication i);

// A packet's octets for trace lines: a blank and the value in hexadecimal
// per octet.
struct Octets {
  const Packet& p;
};
std::ostream& operator<<(std::ostream& os, Octets o);
std::ostream& operator<<(std::ostream& os, SLC::DumpPtr d);

}  // namespace SS7
