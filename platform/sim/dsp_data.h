#pragma once
// Model of the ATS-QSIG signalling device "/dev/dsp-data". Each open is one
// D channel with the time slot set for it beforehand (default 1000, then
// counting up); one write is one frame sent, one read one frame received.
// Up to three B channels per descriptor get free switch channels (from
// 2048 on, past those another driver holds); closing the descriptor frees
// them. Tests see the channels, read what was sent, inject frames, make
// writes meet EAGAIN and fail any step.
#include "platform/dsp_data.h"
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace platform {
namespace sim {

class DspData : public DeviceModel {
 public:
  using Frame = std::vector<unsigned char>;
  enum class Step { open, timeslot, add, remove };

  static constexpr int first_b_channel = 2048;

  // The simulator's control words, given without the leading "dspdata":
  //   timeslot TS       -> the D time slot of the next open
  //   channels          -> "TS b0 b1 b2" per open descriptor ("-": none)
  //   read TS           -> frames written since the last read, hex lines
  //   inject TS HEX     -> queues a received frame
  //   eagain TS N       -> the next N writes fail with EAGAIN
  //   hangup TS         -> the driver drops the D channel: its descriptor
  //                        reads end of file and polls hung up
  //   fail K E [N]      -> step K (open, timeslot, add, remove) fails with
  //                        errno E: the next N, or all until "fail K 0"
  std::string command(const std::vector<std::string>& words, std::ostream& out);

  // An open descriptor's D channel or one of its B channels is there.
  bool holds(int channel);

  ssize_t on_write(Channel& ch, const void* buf, size_t len) override;
  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;
  void on_open(Channel& ch) override;
  void on_close(Channel& ch) override;
  int open_error() override;

 private:
  struct State {
    int timeslot = -1;
    int b[3] = {-1, -1, -1};
    int eagain = 0;
    std::vector<Frame> written;
  };
  bool take_failure(Step step);
  Channel* find(int timeslot, State** state);
  int free_b_channel() const;

  std::map<const Channel*, State> state_;
  Failures<Step> failures_;
  int next_timeslot_ = 1000;
};

DspData& dsp_data();

}  // namespace sim
}  // namespace platform
