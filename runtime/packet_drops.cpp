#include "runtime/packet_drops.h"

#include "runtime/mux_time.h"

bool PacketDrops::Take(Packet& p) { return p.try_reserve_head(0); }

bool PacketDrops::ShouldLog() {
  const std::uint32_t now = static_cast<std::uint32_t>(Mux::milliseconds());
  if (logged && now - last_log_ms < log_period_ms) return false;
  logged = true;
  last_log_ms = now;
  return true;
}
