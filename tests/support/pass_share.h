#pragma once
// The most a handler delivered within one pass of the event loop (header
// only: it uses the runtime). A handler that reads for as long as its
// source delivers never lets the loop poll the rest: a source that refills
// with every read shows it as a share that grows without bound.
//
//   testsupport::PassShare share;      // counts from the next pass on
//   ... in the owner's callback: share.delivered(); refill the source ...
//   EXPECT_LE(share.most, 64u);
#include "platform/sim/device_model.h"
#include "runtime/dpc.h"

#include <algorithm>
#include <functional>

namespace testsupport {

class PassShare {
 public:
  PassShare() {
    dpc_.Bind(this, &PassShare::next_pass);
    dpc_.Activate();
  }
  void delivered() { most = std::max(most, ++now_); }
  unsigned most = 0;

 private:
  void next_pass() { now_ = 0; }
  unsigned now_ = 0;
  Dpc dpc_;
};

// A simulated device that refills as fast as it is read: after each read
// that delivered, counts it for the pass and calls `refill` (up to `total`
// reads). Forgets the device on destruction.
class FloodedDevice {
 public:
  FloodedDevice(platform::sim::DeviceModel& model, std::function<void()> refill, unsigned total = 1000)
      : model_(model) {
    model_.after_read = [this, refill, total](platform::sim::DeviceModel::Channel&, ssize_t n) {
      if (n <= 0) return;
      share.delivered();
      if (++reads < total) refill();
    };
  }
  ~FloodedDevice() { model_.after_read = nullptr; }
  FloodedDevice(const FloodedDevice&) = delete;
  FloodedDevice& operator=(const FloodedDevice&) = delete;

  PassShare share;
  unsigned reads = 0;

 private:
  platform::sim::DeviceModel& model_;
};

}  // namespace testsupport
