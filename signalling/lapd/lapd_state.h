#pragma once
// The protocol state of an ISDN data link: the state proper, the variables
// and flags of the procedures, and which logical timer the shared timer
// stands for. A link keeps one; every status it reports carries a copy.
#include "runtime/cyclic.h"

#include <cstdint>
#include <iosfwd>

namespace ISDN {

struct Side {
  enum type : std::int32_t { user = 0, network = 1 };
};
std::ostream& operator<<(std::ostream& os, Side::type side);

enum State : std::int32_t {
  TEI_unassigned = 0,
  Assign_awaiting_TEI = 1,
  Establish_awaiting_TEI = 2,
  TEI_assigned = 3,
  Awaiting_establishment = 4,
  Awaiting_release = 5,
  Multiple_frame_established = 6,
  Timer_recovery = 7,
};

// The name of a state; "(unknown)" for any other number.
const char* statetext(int state);

using Seq = Cyclic<unsigned int, 127>;

class LAPDFullState {
 public:
  State state = TEI_assigned;
  int ownTEI = 0;
  int ownSAPI = 0;
  int peerTEI = 0;
  int peerSAPI = 0;
  int RC = 0;
  bool peerBusy = false;
  bool ownBusy = false;  // nothing sets it; only cleared and read
  bool RejectException = false;
  bool L3Initiated = false;
  bool Establishable = true;
  bool QueuedUp = false;
  bool RetrRQ = false;
  bool AckRQ = false;
  bool T200run = false;
  bool T202run = false;
  bool T203run = false;
  Seq VS;
  Seq VA;
  Seq VR;

  void out(std::ostream& os) const;
};

std::ostream& operator<<(std::ostream& os, const LAPDFullState& s);

}  // namespace ISDN
