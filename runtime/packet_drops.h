#pragma once
// PacketDrops: what a receive path that takes one packet per frame does when
// the packet pool is empty. A flood that a peer controls must not end the
// process: the frame is dropped and counted instead, and the owner writes a
// line about it at most once per second.
//
//   Packet p;
//   if (!drops.Take(p)) {                 // pool empty: read into scratch
//     ...                                 // and when a frame was read:
//     drops.Count();
//     if (drops.ShouldLog()) log << "... " << drops.count() << " dropped";
//   }
#include "runtime/packet.h"

#include <cstdint>

class PacketDrops {
 public:
  static constexpr std::uint32_t log_period_ms = 1000;

  // An empty packet with the whole buffer as tailroom; false when the pool
  // has no buffer left.
  bool Take(Packet& p);
  // One more frame dropped.
  void Count() { ++dropped; }
  // True at the first drop and then at most once per log period.
  bool ShouldLog();
  std::uint32_t count() const { return dropped; }

 private:
  std::uint32_t dropped = 0;
  bool logged = false;
  std::uint32_t last_log_ms = 0;
};
