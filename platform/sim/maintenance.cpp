#include "platform/sim/maintenance.h"

#include "platform/sim/control_words.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace platform {
namespace sim {

void Maintenance::fail(const std::string& kind, int err, long long count) { failures_.set(kind, err, count); }

void Maintenance::clear() {
  for (auto& t : trunks) t = Trunk();
  tclk_mask = 0;
  tclk_writes = 0;
  clock_source = -1;
  failures_.clear();
  fail_open = 0;
}

int Maintenance::open_error() {
  if (int e = failures_.take("open")) return e;
  return fail_open;
}

int Maintenance::on_ioctl(Channel&, unsigned long request, void* arg) {
  switch (request) {
    case maintenance::E1_SYNC_STATUS: {
      if (!arg) {
        errno = EFAULT;
        return -1;
      }
      auto* rec = static_cast<maintenance::e1_sync_status*>(arg);
      if (rec->trunk >= static_cast<std::uint32_t>(maintenance::e1_trunks)) {
        errno = EINVAL;
        return -1;
      }
      const Trunk& t = trunks[rec->trunk];
      if (t.read_error) {
        errno = t.read_error;
        return -1;
      }
      rec->slips = t.slips;
      rec->lossBF = t.lossBF;
      rec->lossCarrier = t.lossCarrier;
      rec->lossAIS = t.lossAIS;
      rec->lossRAI = t.lossRAI;
      rec->state = t.state;
      return 0;
    }
    case maintenance::E1_CLOCK_SOURCE:
      clock_source = static_cast<int>(reinterpret_cast<std::intptr_t>(arg));
      return 0;
    case maintenance::E1_TCLK_MASK:
      if (int e = failures_.take("tclk")) {
        errno = e;
        return -1;
      }
      tclk_mask = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(arg));
      ++tclk_writes;
      return 0;
    default:
      errno = ENOTTY;
      return -1;
  }
}

Maintenance& maintenance_model() { return installed_model<Maintenance>("/dev/maintenance"); }

namespace {

DefaultModel installed([] { maintenance_model(); });

std::string e1_words(const Args& args, std::ostream& out) {
  Maintenance& m = maintenance_model();
  if (args.empty()) return "usage: e1 status T S [SLIPS BF CARRIER AIS RAI] | e1 status T error E | e1 tclk | e1 fail K E [N]";
  if (args[0] == "status") {
    long long t = 0, v = 0;
    if (args.size() < 3 || !parse_int(args[1], t) || t < 0 || t >= maintenance::e1_trunks)
      return "usage: e1 status T S [SLIPS BF CARRIER AIS RAI] | e1 status T error E";
    Maintenance::Trunk& trunk = m.trunks[t];
    if (args[2] == "error") {
      if (args.size() != 4 || !parse_int(args[3], v) || v < 0) return "usage: e1 status T error E";
      trunk.read_error = static_cast<int>(v);
      return "";
    }
    long long n[6] = {0, 0, 0, 0, 0, 0};
    if (args.size() != 3 && args.size() != 8) return "usage: e1 status T S [SLIPS BF CARRIER AIS RAI]";
    for (size_t i = 2; i < args.size(); ++i)
      if (!parse_int(args[i], n[i - 2])) return "usage: e1 status T S [SLIPS BF CARRIER AIS RAI]";
    // A driver may give any state word; the service names 0 to 6.
    if (n[0] < INT32_MIN || n[0] > INT32_MAX) return "usage: e1 status T S: S is a 32-bit number";
    trunk.state = static_cast<int>(n[0]);
    trunk.slips = static_cast<int>(n[1]);
    trunk.lossBF = static_cast<int>(n[2]);
    trunk.lossCarrier = static_cast<int>(n[3]);
    trunk.lossAIS = static_cast<int>(n[4]);
    trunk.lossRAI = static_cast<int>(n[5]);
    return "";
  }
  if (args[0] == "tclk") {
    if (args.size() != 1) return "usage: e1 tclk";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", m.tclk_mask);
    out << "mask 0x" << buf << " writes " << m.tclk_writes << "\n";
    return "";
  }
  if (args[0] == "fail") {
    long long err = 0, count = -1;
    if (args.size() < 3 || args.size() > 4 || (args[1] != "open" && args[1] != "tclk") || !parse_int(args[2], err) ||
        err < 0 || (args.size() == 4 && (!parse_int(args[3], count) || count < 1)))
      return "usage: e1 fail open|tclk ERRNO [COUNT]";
    m.fail(args[1], static_cast<int>(err), count);
    return "";
  }
  return "unknown e1 request " + args[0];
}

Words words("e1", e1_words);

}  // namespace
}  // namespace sim
}  // namespace platform
