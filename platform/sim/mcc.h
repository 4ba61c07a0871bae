#pragma once
// Model of the HDLC controller "/dev/mcc/ctl". Each open is one descriptor;
// MCC_ALLOCATE binds it to a controller channel with a fresh switch channel
// number (answered by MCC_TIMESLOT). From then on one write is one frame sent
// by the channel and one read one frame received. A test (or the control
// socket of the simulator) sees the allocations, reads what each channel
// sent, injects received frames, makes writes meet EAGAIN, cross-wires two
// channels and fails any step.
#include "platform/mcc.h"
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace platform {
namespace sim {

class Mcc : public DeviceModel {
 public:
  using Frame = std::vector<unsigned char>;

  enum class Step { open, allocate, timeslot, resources, read, write };

  struct Allocation {
    int timeslot;
    mcc_allocate_params params;
  };

  // Switch channels handed out: first_timeslot, first_timeslot + 1, ...
  // (fresh for every allocation, wrapping within timeslot_range), skipping
  // those another driver holds.
  static constexpr int first_timeslot = 4096;
  static constexpr int timeslot_range = 1024;
  // When not negative, the switch channel of the next allocation (once),
  // for a number outside that range such as 0.
  int next_timeslot = -1;

  // The next `count` runs of the step fail with `err` (count < 0: every run
  // until cleared; err 0 clears), after `after` runs that go through. A
  // failed MCC_TIMESLOT answers -1; a failed read or write takes or sends no
  // frame.
  void fail(Step step, int err, int count = -1, int after = 0);

  // What MCC_RESOURCES fills in.
  mcc_resources resources{0, 0, 0, 0};

  // Allocated channels of open descriptors, oldest first.
  std::vector<Allocation> allocations();

  // Queues a frame for the channel to read (an empty one reads as 0 bytes).
  // False when no open channel has that switch channel.
  bool inject(int timeslot, const void* data, std::size_t len);
  // Frames the channel has written since the last call, oldest first: one
  // per dev_write, and one per plain write on the descriptor.
  std::vector<Frame> take_written(int timeslot);
  // The next n writes of the channel fail with EAGAIN and send nothing.
  bool eagain(int timeslot, int n);
  // Frames written on either channel are received by the other instead of
  // being kept for take_written. Both must be allocated now. A channel in
  // SS7 mode (3) hands the other the last 3 to 5 octet unit it wrote before,
  // once, so links that started before the wire can still align.
  bool wire(int timeslot1, int timeslot2);

  // The driver drops the channel: its descriptor reads end of file and
  // polls hung up.
  bool hangup(int timeslot);

  // Forgets failures, resources and numbering (open channels stay).
  void clear();

  // The simulator's control words, given without the leading "mcc": writes
  // the data lines to `out` and returns "" when done, else the reason.
  //   channels          -> "TS:mode,size,reserved,rx,tx" per allocated
  //                        channel, oldest first
  //   read TS           -> the frames written since the last read, one hex
  //                        line each ("-" for an empty frame)
  //   inject TS HEX|-   -> queues a received frame ("-": an empty one)
  //   eagain TS N       -> the next N writes fail with EAGAIN
  //   wire TS1 TS2      -> cross-wires two channels
  //   fail K E [N]      -> step K (open, allocate, timeslot, resources, read,
  //                        write) fails with errno E: the next N, or all
  //                        until "fail K 0"
  //   resources D B T   -> what MCC_RESOURCES reports
  //   hangup TS         -> the driver drops the channel
  //   next TS           -> the switch channel of the next allocation (once),
  //                        as a driver that hands a freed number out again
  std::string command(const std::vector<std::string>& words, std::ostream& out);

  ssize_t on_write(Channel& ch, const void* buf, size_t len) override;
  ssize_t on_read(Channel& ch, int fd, void* buf, size_t len) override;
  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;
  void on_close(Channel& ch) override;
  int open_error() override;

 private:
  struct State {
    bool allocated = false;
    int timeslot = -1;
    mcc_allocate_params params{0, 0, 0, 0, 0};
    int eagain = 0;
    Channel* wired = nullptr;  // cleared when that channel closes
    std::vector<Frame> written;
    // SS7 mode (3): the last status-sized unit written while unwired; the
    // wire hands it over once, as the line would have carried it.
    Frame last_unit;
  };
  bool take_failure(Step step);
  void drain(Channel& ch, State& s);
  Channel* find(int timeslot, State** state);
  int fresh_timeslot();

  std::map<const Channel*, State> state_;
  Failures<Step> failures_;
  int next_ = 0;
};

// The model installed at "/dev/mcc/ctl" (installed on first call).
Mcc& mcc();

}  // namespace sim
}  // namespace platform
