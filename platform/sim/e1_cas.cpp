#include "platform/sim/e1_cas.h"

#include "platform/sim/control_words.h"

#include <cerrno>
#include <cstdint>
#include <vector>

namespace platform {
namespace sim {

void E1Cas::fail(const std::string& kind, int err, long long count) { failures_.set(kind, err, count); }

void E1Cas::clear() {
  for (bool& t : trunk_open) t = false;
  chans.clear();
  failures_.clear();
  trunks = 4;
  fail_open = 0;
}

int E1Cas::open_error() {
  if (int e = failures_.take("open")) return e;
  return fail_open;
}

void E1Cas::line_bits(int path, int timeslot, int bits) {
  Channel& c = chans[{path, timeslot}];
  c.rx = bits & 0x0F;
  e1cas::cas_channel rec{};
  rec.path = path;
  rec.timeslot = timeslot;
  rec.rx = static_cast<std::uint8_t>(c.rx);
  rec.tx = static_cast<std::uint8_t>(c.tx);
  deliver(&rec, sizeof rec);
}

int E1Cas::on_ioctl(DeviceModel::Channel&, unsigned long request, void* arg) {
  auto fails = [this](const char* kind) {
    if (int e = failures_.take(kind)) {
      errno = e;
      return true;
    }
    return false;
  };
  auto bad_trunk = [this](long p) { return p < 0 || p > 3 || !trunk_open[p]; };
  switch (request) {
    case e1cas::CAS_TRUNK_OPEN:
    case e1cas::CAS_TRUNK_CLOSE: {
      const bool open = request == e1cas::CAS_TRUNK_OPEN;
      if (fails(open ? "trunk-open" : "trunk-close")) return -1;
      // The trunk itself is the argument.
      const long p = static_cast<long>(reinterpret_cast<std::intptr_t>(arg));
      if (p < 0 || p > 3) {
        errno = EINVAL;
        return -1;
      }
      if (open && p >= trunks) {
        errno = ENODEV;
        return -1;
      }
      trunk_open[p] = open;
      if (!open)
        for (auto& c : chans)
          if (c.first.first == p) c.second.open = false;
      return 0;
    }
    case e1cas::CAS_SET:
    case e1cas::CAS_GET: {
      if (fails(request == e1cas::CAS_SET ? "set" : "get")) return -1;
      if (!arg) {
        errno = EFAULT;
        return -1;
      }
      auto* rec = static_cast<e1cas::cas_channel*>(arg);
      auto it = chans.find({rec->path, rec->timeslot});
      if (bad_trunk(rec->path) || it == chans.end() || !it->second.open) {
        errno = EINVAL;
        return -1;
      }
      if (request == e1cas::CAS_SET) {
        it->second.tx = rec->tx & 0x0F;
      } else {
        rec->rx = static_cast<std::uint8_t>(it->second.rx);
        rec->tx = static_cast<std::uint8_t>(it->second.tx);
      }
      return 0;
    }
    case e1cas::CAS_CONFIG: {
      if (fails("config")) return -1;
      if (!arg) {
        errno = EFAULT;
        return -1;
      }
      auto* cfg = static_cast<e1cas::cas_channel_config*>(arg);
      const int path = cfg->channel.path, ts = cfg->channel.timeslot;
      if (bad_trunk(path) || ts < 1 || ts > 31 || cfg->close > 1) {
        errno = EINVAL;
        return -1;
      }
      Channel& c = chans[{path, ts}];
      c.open = cfg->close == 0;
      c.tx = c.open ? (cfg->channel.tx & 0x0F) : 0;
      return 0;
    }
    default:
      errno = ENOTTY;
      return -1;
  }
}

E1Cas& e1_cas_model() { return installed_model<E1Cas>("/dev/e1-cas"); }

namespace {

DefaultModel installed([] { e1_cas_model(); });

bool hex_bytes(const std::string& text, std::vector<std::uint8_t>& out) {
  if (text.size() % 2) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int v = 0;
    for (size_t k = i; k < i + 2; ++k) {
      const char c = text[k];
      const int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                     : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

std::string cas_words(const Args& args, std::ostream& out) {
  E1Cas& m = e1_cas_model();
  if (args.empty())
    return "usage: cas trunk P | cas get P TS | cas rx P TS BITS | cas raw HEX | cas trunks N | cas fail K E [N]";
  long long p = 0, ts = 0, v = 0;
  if (args[0] == "trunk") {
    if (args.size() != 2 || !parse_int(args[1], p) || p < 0 || p > 3) return "usage: cas trunk P";
    out << (m.trunk_open[p] ? "open" : "closed") << "\n";
    return "";
  }
  if (args[0] == "get") {
    if (args.size() != 3 || !parse_int(args[1], p) || !parse_int(args[2], ts)) return "usage: cas get P TS";
    auto it = m.chans.find({static_cast<int>(p), static_cast<int>(ts)});
    if (it == m.chans.end() || !it->second.open)
      out << "closed\n";
    else
      out << "rx " << it->second.rx << " tx " << it->second.tx << "\n";
    return "";
  }
  if (args[0] == "rx") {
    if (args.size() != 4 || !parse_int(args[1], p) || !parse_int(args[2], ts) || !parse_int(args[3], v) || v < 0 ||
        v > 15)
      return "usage: cas rx P TS BITS";
    m.line_bits(static_cast<int>(p), static_cast<int>(ts), static_cast<int>(v));
    return "";
  }
  if (args[0] == "raw") {
    std::vector<std::uint8_t> bytes;
    if (args.size() != 2 || !hex_bytes(args[1], bytes) || bytes.empty()) return "usage: cas raw HEX";
    m.deliver(bytes.data(), bytes.size());
    return "";
  }
  if (args[0] == "trunks") {
    if (args.size() != 2 || !parse_int(args[1], p) || p < 0 || p > 4) return "usage: cas trunks 0..4";
    m.trunks = static_cast<int>(p);
    return "";
  }
  if (args[0] == "fail") {
    static const char* const kinds[] = {"open", "trunk-open", "trunk-close", "set", "get", "config"};
    bool known = false;
    if (args.size() >= 2)
      for (const char* k : kinds) known = known || args[1] == k;
    long long err = 0, count = -1;
    if (args.size() < 3 || args.size() > 4 || !known || !parse_int(args[2], err) || err < 0 ||
        (args.size() == 4 && (!parse_int(args[3], count) || count < 1)))
      return "usage: cas fail open|trunk-open|trunk-close|set|get|config ERRNO [COUNT]";
    m.fail(args[1], static_cast<int>(err), count);
    return "";
  }
  return "unknown cas request " + args[0];
}

Words words("cas", cas_words);

}  // namespace
}  // namespace sim
}  // namespace platform
