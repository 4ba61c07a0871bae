#pragma once
// A basic-rate bus without a board, for tests and tools: the stack that
// holds the network side (ISDN::LAPD_NT) as its layer, and terminals, each a
// GenericHDLC end for a user-side link. A frame the network side transmits
// reaches every terminal; a terminal's frame reaches the network side only.
// Frames arrive after the bus latency (at least a millisecond of the loop
// clock: a later pass, never inside the sender's call). A test can send as
// any terminal and cut one off the bus.
#include "control/protocols_list.h"
#include "runtime/timer.h"
#include "slots/hdlc.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

class HdlcBus : public ProtocolsFamily {
 public:
  static constexpr unsigned max_terminals = 8;

  class Terminal : public GenericHDLC {
   public:
    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override { return true; }
    bool is_ready() const override { return true; }
    void bind(HDLC::Notify* n) { notify_ = n; }

   private:
    friend class HdlcBus;
    HdlcBus* bus_ = nullptr;
    unsigned index_ = 0;
    HDLC::Notify* notify_ = nullptr;
    bool cut_ = false;
  };

  // Every frame on the bus, in order: from the network side (terminal -1)
  // or from a terminal.
  using Tap = std::function<void(int from_terminal, const Packet& frame)>;
  // Layer-3 messages the network side passes up.
  using Upper = std::function<void(Packet& message)>;

  explicit HdlcBus(unsigned terminals);
  ~HdlcBus() override;

  Terminal& terminal(unsigned i) { return terminals_[i % max_terminals]; }
  unsigned terminals() const { return count_; }
  void latency(unsigned ms) { latency_ = ms ? ms : 1; }
  void tap(Tap t) { tap_ = std::move(t); }
  void upper(Upper u) { upper_ = std::move(u); }
  // Frames to and from a cut terminal are lost.
  void cut(unsigned i, bool off = true) { terminal(i).cut_ = off; }
  // A frame as if the terminal had sent it.
  void inject(unsigned i, const Packet& frame) { put(static_cast<int>(i), frame); }
  bool idle() const { return line_.empty(); }

  // The network side's frames leave its stack here.
  int transmit(Packet& frame) override;
  int on_message(Packet& message) override;

 private:
  struct InFlight {
    Packet frame;
    int from;
    std::uint32_t due;
  };
  void put(int from, const Packet& frame);
  void deliver();
  void schedule();

  Terminal terminals_[max_terminals];
  unsigned count_;
  unsigned latency_ = 1;
  std::deque<InFlight> line_;
  Timer timer_;
  Tap tap_;
  Upper upper_;
};
