#include "platform/sim/hal.h"

#include "platform/hal.h"
#include "platform/sim/control_words.h"

#include <cerrno>
#include <sstream>

namespace platform {
namespace sim {

bool Hal::kind_of(const std::string& name, Kind& kind) {
  static const std::map<std::string, Kind> names = {{"open", Kind::open},
                                                     {"connect", Kind::connect},
                                                     {"disable", Kind::disable},
                                                     {"write", Kind::write},
                                                     {"read", Kind::read}};
  auto it = names.find(name);
  if (it == names.end()) return false;
  kind = it->second;
  return true;
}

void Hal::fail(Kind kind, int err, long long count, long long after) { failures_.set(kind, err, count, after); }

void Hal::clear() {
  outputs.clear();
  peer_bytes.clear();
  requests.clear();
  failures_.clear();
  named_failures_.clear();
  record = false;
  fail_open = 0;
}

void Hal::add_request(unsigned long request, RequestHandler handler) { extra_requests_[request] = std::move(handler); }

void Hal::add_fail_kind(const std::string& name) { extra_kinds_.insert(name); }

void Hal::fail(const std::string& kind, int err, long long count) { named_failures_.set(kind, err, count); }

namespace {

std::map<std::string, WordHandler>& extra_words() {
  static std::map<std::string, WordHandler> words;
  return words;
}

}  // namespace

void Hal::add_words(const std::string& word, WordHandler handler) { extra_words()[word] = std::move(handler); }

int Hal::open_error() {
  if (int e = failures_.take(Kind::open)) return e;
  return fail_open;
}

std::string Hal::describe(int channel) const {
  auto it = outputs.find(channel);
  if (it == outputs.end()) return "none";
  switch (it->second.state) {
    case Output::disabled:
      return "disabled";
    case Output::byte:
      return "byte " + std::to_string(it->second.value);
    case Output::connected:
      return "connected " + std::to_string(it->second.value);
  }
  return "none";
}

int Hal::on_ioctl(Channel&, unsigned long request, void* arg) {
  Kind kind;
  switch (request) {
    case hal::HAL_MUX_CONNECT:
      kind = Kind::connect;
      break;
    case hal::HAL_MUX_DISABLE:
      kind = Kind::disable;
      break;
    case hal::HAL_MUX_WRITE:
      kind = Kind::write;
      break;
    case hal::HAL_MUX_READ:
      kind = Kind::read;
      break;
    default: {
      auto extra = extra_requests_.find(request);
      if (extra != extra_requests_.end()) return extra->second(arg);
      errno = ENOTTY;
      return -1;
    }
  }
  if (!arg) {
    errno = EFAULT;
    return -1;
  }
  // The records are read and written word by word in the machine's order.
  auto* words = static_cast<std::int32_t*>(arg);
  const int channel = words[0];
  const int value = kind == Kind::disable ? 0 : words[1];
  if (record) requests.push_back(Request{kind, channel, value});
  if (int e = failures_.take(kind)) {
    errno = e;
    return -1;
  }
  auto bad = [](int c) { return c < 0 || c > max_channel; };
  if (bad(channel) || (kind == Kind::connect && bad(value)) || (kind == Kind::write && (value < 0 || value > 255))) {
    errno = EINVAL;
    return -1;
  }
  switch (kind) {
    case Kind::connect:
      outputs[channel] = Output{Output::connected, value};
      break;
    case Kind::disable:
      outputs[channel] = Output{Output::disabled, 0};
      break;
    case Kind::write:
      outputs[channel] = Output{Output::byte, value};
      break;
    case Kind::read: {
      auto peer = peer_bytes.find(channel);
      auto it = outputs.find(channel);
      if (peer != peer_bytes.end())
        words[1] = peer->second;
      else
        words[1] = (it != outputs.end() && it->second.state == Output::byte) ? it->second.value : 255;
      break;
    }
    case Kind::open:
      break;
  }
  return 0;
}

Hal& hal() { return installed_model<Hal>("/dev/hal"); }

namespace {

DefaultModel installed([] { hal(); });

std::string hal_words(const Args& args, std::ostream& out) {
  Hal& h = hal();
  if (args.empty()) return "usage: hal get C | hal list | hal set C V|none | hal fail K E [N]";
  long long n = 0;
  if (args[0] == "get") {
    if (args.size() != 2 || !parse_int(args[1], n)) return "usage: hal get C";
    out << h.describe(static_cast<int>(n)) << "\n";
    return "";
  }
  if (args[0] == "list") {
    if (args.size() != 1) return "usage: hal list";
    for (const auto& o : h.outputs)
      if (o.second.state == Hal::Output::connected) out << o.first << " " << o.second.value << "\n";
    return "";
  }
  if (args[0] == "set") {
    long long v = 0;
    if (args.size() != 3 || !parse_int(args[1], n) || n < 0 || n > Hal::max_channel ||
        (args[2] != "none" && (!parse_int(args[2], v) || v < 0 || v > 255)))
      return "usage: hal set C V|none";
    if (args[2] == "none")
      h.peer_bytes.erase(static_cast<int>(n));
    else
      h.peer_bytes[static_cast<int>(n)] = static_cast<int>(v);
    return "";
  }
  if (args[0] == "fail" && args.size() >= 2 && h.has_fail_kind(args[1])) {
    long long err = 0, count = -1;
    if (args.size() < 3 || args.size() > 4 || !parse_int(args[2], err) || err < 0 ||
        (args.size() == 4 && (!parse_int(args[3], count) || count < 1)))
      return "usage: hal fail " + args[1] + " ERRNO [COUNT]";
    h.fail(args[1], static_cast<int>(err), count);
    return "";
  }
  if (args[0] == "fail") {
    Hal::Kind kind;
    long long err = 0, count = -1;
    if (args.size() < 3 || args.size() > 4 || !Hal::kind_of(args[1], kind) || !parse_int(args[2], err) || err < 0 ||
        (args.size() == 4 && (!parse_int(args[3], count) || count < 1)))
      return "usage: hal fail open|connect|disable|write|read ERRNO [COUNT]";
    h.fail(kind, static_cast<int>(err), count);
    return "";
  }
  auto extra = extra_words().find(args[0]);
  if (extra != extra_words().end()) return extra->second(args, out);
  return "unknown hal request " + args[0];
}

Words words("hal", hal_words);

}  // namespace
}  // namespace sim
}  // namespace platform
