#pragma once
// A line between two data links without a board: each end is a GenericHDLC
// transport. As with the device, a frame reaches the other end on a later
// pass of the event loop, never inside the sender's call. The line can hold
// a limited number of frames per direction (then it refuses, and tells the
// sender on_hdlc_ready once there is room again) and can lose every k-th
// frame. Used by the link tests, lapdtool and the benchmark.
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/packet.h"
#include "runtime/timer.h"
#include "slots/hdlc.h"

#include <cstdint>
#include <deque>
#include <functional>

class HdlcRelay {
 public:
  class End : public GenericHDLC {
   public:
    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override { return true; }
    bool is_ready() const override;
    void bind(HDLC::Notify* n) { notify_ = n; }

   private:
    friend class HdlcRelay;
    HdlcRelay* relay_ = nullptr;
    int index_ = 0;
    HDLC::Notify* notify_ = nullptr;
    unsigned in_flight_ = 0;
    bool refused_ = false;
  };

  // Told of every frame the line takes, in order: the sending end (0 or 1)
  // and whether the line loses it.
  using Tap = std::function<void(int from, const Packet& frame, bool lost)>;
  // Asked for every frame the line takes: true loses it.
  using Loss = std::function<bool(int from, const Packet& frame)>;

  HdlcRelay();
  HdlcRelay(const HdlcRelay&) = delete;
  HdlcRelay& operator=(const HdlcRelay&) = delete;

  End& end(int i) { return ends_[i & 1]; }
  // Loses every k-th frame taken (counting both directions); 0: none.
  void drop_every(unsigned k) { drop_every_ = k; }
  // Frames in flight per direction before the line refuses; 0: no limit.
  void capacity(unsigned frames) { capacity_ = frames; }
  // Time a frame spends on the line, in milliseconds of the loop clock; 0:
  // the next loop pass.
  void latency(unsigned ms) { latency_ = ms; }
  void tap(Tap t) { tap_ = std::move(t); }
  void loss(Loss l) { loss_ = std::move(l); }

  bool idle() const { return line_.empty(); }
  std::uint64_t taken() const { return taken_; }
  std::uint64_t lost() const { return lost_; }
  std::uint64_t refused() const { return refused_; }

  // Delivers the frames in flight now (the loop does it by itself).
  void deliver();

 private:
  bool accept(End& from, Packet& frame);
  void on_line(int fd, short revents);
  void on_timer();
  void schedule();
  void signal(bool pending);

  struct InFlight {
    Packet frame;
    int from;
    std::uint32_t due;
  };
  End ends_[2];
  std::deque<InFlight> line_;
  // Readable while frames are in flight, so the loop polls without waiting
  // and delivers them on its next pass, as a device would.
  Fd line_fd_;
  Event line_event_;
  bool signalled_ = false;
  unsigned latency_ = 0;
  Timer timer_;
  unsigned drop_every_ = 0;
  unsigned capacity_ = 0;
  std::uint64_t taken_ = 0;
  std::uint64_t lost_ = 0;
  std::uint64_t refused_ = 0;
  Tap tap_;
  Loss loss_;
};
