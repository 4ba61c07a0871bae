#pragma once
// The frame transport every data link sits on: the abstract GenericHDLC, its
// implementation HDLC on a channel of the board's HDLC controller, and the
// callbacks (HDLC::Notify) through which a channel hands its owner frames,
// errors and transmit readiness. Everything runs on the loop's thread.
#include "platform/mcc.h"
#include "runtime/event.h"
#include "runtime/packet.h"

#include <cstdint>
#include <ostream>

class GenericHDLC {
 public:
  virtual ~GenericHDLC() = default;
  // Sends one frame: true when it was written (or was empty), false when
  // the frame stays with the caller.
  virtual bool hdlc_transmit(Packet& frame) = 0;
  virtual bool is_open() const = 0;
  virtual bool is_ready() const = 0;
};

// mcc_allocate_params, the argument of MCC_ALLOCATE, comes with the
// controller's request numbers from platform/mcc.h.

class HDLC : public GenericHDLC {
 public:
  class Notify {
   public:
    struct Cause {
      enum Type : std::int32_t { read_failure = 0 };
    };
    virtual ~Notify() = default;
    virtual void on_hdlc_receive(Packet& frame) = 0;
    virtual void on_hdlc_error(Cause::Type cause) = 0;
    virtual void on_hdlc_ready() = 0;
  };

  struct Params {
    std::int32_t trunk = 0;
    std::int32_t timeslot = 0;
    std::int32_t tdm = -1;   // switch channel of the line, -1 = none yet
    std::int32_t tdm2 = -1;  // second switch channel, used with type 2 only
    std::int32_t type = 0;   // 0, 1 or 2: controller mode and transmit wiring
  };

  struct LinkCounters {
    std::uint32_t sent = 0;
    std::uint32_t discarded = 0;
    std::uint32_t send_errors = 0;
    std::uint32_t overflow = 0;
    std::uint32_t received = 0;
  };

  HDLC();
  ~HDLC() override;
  HDLC(const HDLC&) = delete;
  HDLC& operator=(const HDLC&) = delete;

  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return m_event.IsActive(); }
  bool is_ready() const override { return ready; }

  void bind(Notify* n);
  void unbind();

  void params(const Params& p) { params_ = p; }
  const Params& params() const { return params_; }
  const LinkCounters& statistics() const { return counters; }
  void logLevel(std::uint32_t level) { logLevel_ = level; }
  std::uint32_t logLevel() const { return logLevel_; }
  void trunk(std::uint32_t t) { trunk_ = t; }
  std::uint32_t trunk() const { return trunk_; }

  bool activate();
  // False when the line the channel drove could not be quietened: it may
  // still carry the freed channel.
  bool deactivate();
  // Feeds the line the open channel transmits on from the channel again,
  // once something else (a disconnect's idle byte) has taken it over. True
  // when the line carries the channel, or while there is no channel or line.
  bool drive_line();
  // The open channel no longer hears the line it was wired to receive from
  // (the idle byte goes into it instead), unless something else feeds it
  // since. False when the switch refused.
  bool quiet_input();
  // The line the open channel drives goes quiet (the idle byte), unless
  // something else feeds it since. False when the switch refused.
  bool quiet_output();

  // "hdlc [trunk/timeslot]: ", the start of every line of the channel.
  std::ostream& PutHeader(std::ostream& os) const;

  // Received frames dropped because the packet pool was empty.
  std::uint32_t pool_drops() const { return pool_drops_; }

 private:
  void on_event(int fd, short revents);
  // `hung_up`: poll reported a hang-up or an error, which it will report
  // again on every round.
  void do_read(bool hung_up);

  bool ready = false;
  Params params_;
  LinkCounters counters;
  Event m_event;
  std::uint32_t logLevel_ = 0;
  std::uint32_t trunk_ = 0;
  Notify* notify = nullptr;
  // The switch channel of the open controller channel, -1 when closed.
  int channel_ = -1;
  // The line the open controller channel drives, -1 when none.
  int line_out_ = -1;
  std::uint32_t pool_drops_ = 0;
  // Set while a read pass runs: an owner may destroy the channel from a
  // callback, and the pass must then stop without touching it again.
  bool* alive_ = nullptr;
  // Counts the channels opened: a poll report is for the channel that was
  // open when it was taken, not for one opened since by a callback.
  std::uint32_t openings_ = 0;
};
