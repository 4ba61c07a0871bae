#include "platform/sim/mcc.h"

#include "platform/sim/control_words.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>

namespace platform {
namespace sim {

namespace {

bool parse_int(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0';
}

}  // namespace

void Mcc::fail(Step step, int err, int count, int after) { failures_.set(step, err, count, after); }

bool Mcc::take_failure(Step step) {
  const int err = failures_.take(step);
  if (err) errno = err;
  return err != 0;
}

ssize_t Mcc::on_read(Channel& ch, int fd, void* buf, size_t len) {
  if (take_failure(Step::read)) return -1;
  return DeviceModel::on_read(ch, fd, buf, len);
}

int Mcc::open_error() {
  if (fail_open) return fail_open;
  return take_failure(Step::open) ? errno : 0;
}

int Mcc::fresh_timeslot() {
  // Skip numbers still held by an open channel, or by another driver.
  for (int tries = 0; tries < timeslot_range; ++tries) {
    int ts = first_timeslot + next_;
    next_ = (next_ + 1) % timeslot_range;
    if (!find(ts, nullptr) && !switch_channel_held(ts)) return ts;
  }
  return -1;
}

DeviceModel::Channel* Mcc::find(int timeslot, State** state) {
  for (Channel* ch : channels()) {
    auto it = state_.find(ch);
    if (it != state_.end() && it->second.allocated && it->second.timeslot == timeslot) {
      if (state) *state = &it->second;
      return ch;
    }
  }
  return nullptr;
}

int Mcc::on_ioctl(Channel& ch, unsigned long request, void* arg) {
  switch (request) {
    case mcc::MCC_ALLOCATE: {
      if (take_failure(Step::allocate)) return -1;
      State& s = state_[&ch];
      if (s.allocated || !arg) {
        errno = s.allocated ? EBUSY : EFAULT;
        return -1;
      }
      const auto* p = static_cast<const mcc_allocate_params*>(arg);
      s.params = *p;
      s.timeslot = next_timeslot >= 0 && !find(next_timeslot, nullptr) ? next_timeslot : fresh_timeslot();
      next_timeslot = -1;
      if (s.timeslot < 0) {
        errno = ENOSPC;
        return -1;
      }
      s.allocated = true;
      return 0;
    }
    case mcc::MCC_TIMESLOT: {
      auto it = state_.find(&ch);
      if (it == state_.end() || !it->second.allocated) {
        errno = EINVAL;
        return -1;
      }
      if (take_failure(Step::timeslot)) return -1;
      return it->second.timeslot;
    }
    case mcc::MCC_RESOURCES: {
      if (take_failure(Step::resources)) return -1;
      if (!arg) {
        errno = EFAULT;
        return -1;
      }
      *static_cast<mcc_resources*>(arg) = resources;
      return 0;
    }
    default:
      errno = ENOTTY;
      return -1;
  }
}

void Mcc::drain(Channel& ch, State& s) {
  // Plain writes on the caller's descriptor (a copier, a child process)
  // wait in the model's end; each one is a frame. An empty record reads
  // like the end of the channel, so draining stops there.
  std::vector<unsigned char> buf(64 * 1024);
  for (;;) {
    const ssize_t n = ::recv(ch.driver_fd, buf.data(), buf.size(), MSG_DONTWAIT);
    if (n <= 0) return;
    s.written.emplace_back(buf.begin(), buf.begin() + n);
  }
}

ssize_t Mcc::on_write(Channel& ch, const void* buf, size_t len) {
  auto it = state_.find(&ch);
  if (it == state_.end() || !it->second.allocated) {
    errno = EINVAL;
    return -1;
  }
  State& s = it->second;
  drain(ch, s);
  if (take_failure(Step::write)) return -1;
  if (s.eagain > 0) {
    --s.eagain;
    errno = EAGAIN;
    return -1;
  }
  if (s.wired) {
    // A full receiver pushes back like a busy controller channel.
    if (::send(s.wired->driver_fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL) != static_cast<ssize_t>(len)) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) errno = EIO;
      return -1;
    }
    return static_cast<ssize_t>(len);
  }
  const auto* p = static_cast<const unsigned char*>(buf);
  s.written.emplace_back(p, p + len);
  if (s.params.mode == 3 && len >= 3 && len <= 5) s.last_unit.assign(p, p + len);
  return static_cast<ssize_t>(len);
}

void Mcc::on_close(Channel& ch) {
  state_.erase(&ch);
  for (auto& s : state_)
    if (s.second.wired == &ch) s.second.wired = nullptr;
}

std::vector<Mcc::Allocation> Mcc::allocations() {
  std::vector<Allocation> out;
  for (Channel* ch : channels()) {
    auto it = state_.find(ch);
    if (it != state_.end() && it->second.allocated) out.push_back({it->second.timeslot, it->second.params});
  }
  return out;
}

bool Mcc::inject(int timeslot, const void* data, std::size_t len) {
  Channel* ch = find(timeslot, nullptr);
  if (!ch) return false;
  static const char none = 0;
  return ::send(ch->driver_fd, len ? data : &none, len, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(len);
}

std::vector<Mcc::Frame> Mcc::take_written(int timeslot) {
  State* s = nullptr;
  Channel* ch = find(timeslot, &s);
  if (!ch) return {};
  drain(*ch, *s);
  std::vector<Frame> out;
  out.swap(s->written);
  return out;
}

bool Mcc::eagain(int timeslot, int n) {
  State* s = nullptr;
  if (!find(timeslot, &s)) return false;
  s->eagain = n;
  return true;
}

bool Mcc::wire(int timeslot1, int timeslot2) {
  State* a = nullptr;
  State* b = nullptr;
  Channel* ca = find(timeslot1, &a);
  Channel* cb = find(timeslot2, &b);
  if (!ca || !cb) return false;
  a->wired = cb;
  b->wired = ca;
  const auto hand_over = [](State* from, Channel* to) {
    if (from->params.mode != 3 || from->last_unit.empty()) return;
    ::send(to->driver_fd, from->last_unit.data(), from->last_unit.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    from->last_unit.clear();
  };
  hand_over(a, cb);
  hand_over(b, ca);
  return true;
}

bool Mcc::hangup(int timeslot) {
  Channel* ch = find(timeslot, nullptr);
  return ch && ::shutdown(ch->driver_fd, SHUT_RDWR) == 0;
}

void Mcc::clear() {
  failures_.clear();
  fail_open = 0;
  resources = mcc_resources{0, 0, 0, 0};
  next_ = 0;
  next_timeslot = -1;
}

std::string Mcc::command(const std::vector<std::string>& w, std::ostream& out) {
  long ts = 0, n = 0;
  const std::string no_channel = "no such channel";
  if (w.empty()) return "missing word";
  const std::string& verb = w[0];
  if (verb == "channels" && w.size() == 1) {
    for (const Allocation& a : allocations()) {
      const mcc_allocate_params& p = a.params;
      out << a.timeslot << ':' << p.mode << ',' << p.packet_size << ',' << p.reserved << ',' << p.rx_threshold
          << ',' << p.tx_threshold << '\n';
    }
    return "";
  }
  if (verb == "read" && w.size() == 2 && parse_int(w[1], ts)) {
    if (!find(static_cast<int>(ts), nullptr)) return no_channel;
    for (const Frame& f : take_written(static_cast<int>(ts))) out << hex_word(f) << '\n';
    return "";
  }
  if (verb == "inject" && w.size() == 3 && parse_int(w[1], ts)) {
    Frame f;
    if (w[2] != "-" && (w[2].empty() || !parse_hex(w[2], f))) return "bad frame";
    return inject(static_cast<int>(ts), f.data(), f.size()) ? "" : no_channel;
  }
  if (verb == "eagain" && w.size() == 3 && parse_int(w[1], ts) && parse_int(w[2], n) && n >= 0)
    return eagain(static_cast<int>(ts), static_cast<int>(n)) ? "" : no_channel;
  if (verb == "wire" && w.size() == 3 && parse_int(w[1], ts) && parse_int(w[2], n))
    return wire(static_cast<int>(ts), static_cast<int>(n)) ? "" : no_channel;
  if (verb == "fail" && (w.size() == 3 || w.size() == 4)) {
    static const std::map<std::string, Step> steps = {
        {"open", Step::open}, {"allocate", Step::allocate}, {"timeslot", Step::timeslot},
        {"resources", Step::resources}, {"read", Step::read}, {"write", Step::write}};
    auto step = steps.find(w[1]);
    int err = 0;
    long count = -1;
    if (step == steps.end() || !parse_errno(w[2], err) || (w.size() == 4 && !parse_int(w[3], count)))
      return "usage: fail open|allocate|timeslot|resources|read|write ERRNO [COUNT]";
    fail(step->second, err, static_cast<int>(count));
    return "";
  }
  if (verb == "hangup" && w.size() == 2 && parse_int(w[1], ts))
    return hangup(static_cast<int>(ts)) ? "" : no_channel;
  if (verb == "next" && w.size() == 2 && parse_int(w[1], ts) && ts >= 0) {
    next_timeslot = static_cast<int>(ts);
    return "";
  }
  if (verb == "resources" && w.size() == 4) {
    long d = 0, b = 0, t = 0;
    if (!parse_int(w[1], d) || !parse_int(w[2], b) || !parse_int(w[3], t)) return "bad count";
    resources.data = static_cast<std::uint32_t>(d);
    resources.bri = static_cast<std::uint32_t>(b);
    resources.trans = static_cast<std::uint32_t>(t);
    return "";
  }
  return "unknown words";
}

Mcc& mcc() { return installed_model<Mcc>(mcc::device_path); }

namespace {

DefaultModel installed([] { mcc(); });
SwitchChannelHolder holder([](int channel) {
  for (const Mcc::Allocation& a : mcc().allocations())
    if (a.timeslot == channel) return true;
  return false;
});
Words words("mcc", [](const Args& args, std::ostream& out) { return mcc().command(args, out); });

}  // namespace

}  // namespace sim
}  // namespace platform
