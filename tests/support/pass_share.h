#pragma once
// The most a handler delivered within one pass of the event loop (header
// only: it uses the runtime). A handler that reads for as long as its
// source delivers never lets the loop poll the rest: a source that refills
// with every read shows it as a share that grows without bound.
//
//   testsupport::PassShare share;      // counts from the next pass on
//   ... in the owner's callback: share.delivered(); refill the source ...
//   EXPECT_LE(share.most, 64u);
#include "runtime/dpc.h"

#include <algorithm>

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

}  // namespace testsupport
