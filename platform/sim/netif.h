#pragma once
// Simulated packet socket: the interface table that answers SIOCGIFNAME and
// SIOCGIFFLAGS, copied from the host's interfaces of index 0 to 15 at first
// use. A test can pin an interface's running flag and make the socket or
// either request fail.
//
// Control-socket words:
//   netif list                    -> "IDX NAME up|down" per interface
//   netif set IDX up|down         -> pins the running flag
//   netif fail socket|name|flags E [N]
//                                 -> fail with errno E: the next N, or all
//                                    until "netif fail K 0"
#include "platform/sim/failures.h"

#include <map>
#include <string>

namespace platform {
namespace sim {

class NetIfs {
 public:
  struct Interface {
    std::string name;
    unsigned int flags;  // IFF_* as copied, with the pinned running flag
  };
  enum class Kind { socket, name, flags };

  std::map<int, Interface>& table();
  // False when no interface has this index.
  bool set_running(int index, bool running);
  void fail(Kind kind, int err, long long count = -1);
  // errno for this request (0: none), consuming a counted failure.
  int take_failure(Kind kind) { return failures_.take(kind); }
  // Copies the host's table again and clears the failures.
  void reset();

 private:
  bool loaded_ = false;
  std::map<int, Interface> table_;
  Failures<Kind> failures_;
};

NetIfs& netifs();

}  // namespace sim
}  // namespace platform
