#include "platform/sim/dsp_data.h"

#include "platform/sim/control_words.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>

namespace platform {
namespace sim {

bool DspData::take_failure(Step step) {
  const int err = failures_.take(step);
  if (err) errno = err;
  return err != 0;
}

int DspData::open_error() {
  if (fail_open) return fail_open;
  return take_failure(Step::open) ? errno : 0;
}

void DspData::on_open(Channel& ch) {
  DeviceModel::on_open(ch);
  state_[&ch].timeslot = next_timeslot_++;
}

void DspData::on_close(Channel& ch) { state_.erase(&ch); }

DeviceModel::Channel* DspData::find(int timeslot, State** state) {
  for (Channel* ch : channels()) {
    auto it = state_.find(ch);
    if (it != state_.end() && it->second.timeslot == timeslot) {
      if (state) *state = &it->second;
      return ch;
    }
  }
  return nullptr;
}

int DspData::free_b_channel() const {
  for (int c = first_b_channel;; ++c) {
    bool used = false;
    for (const auto& s : state_)
      for (int b : s.second.b) used = used || b == c;
    if (!used && !switch_channel_held(c)) return c;
  }
}

bool DspData::holds(int channel) {
  for (Channel* ch : channels()) {
    auto it = state_.find(ch);
    if (it == state_.end()) continue;
    if (it->second.timeslot == channel) return true;
    for (int b : it->second.b)
      if (b == channel) return true;
  }
  return false;
}

int DspData::on_ioctl(Channel& ch, unsigned long request, void* arg) {
  State& s = state_[&ch];
  switch (request) {
    case dsp_data::DSP_DATA_TIMESLOT:
      if (take_failure(Step::timeslot)) return -1;
      return s.timeslot;
    case dsp_data::DSP_DATA_ADD_B: {
      if (take_failure(Step::add)) return -1;
      auto* rec = static_cast<dsp_data_b_channel*>(arg);
      if (!rec || rec->index < 0 || rec->index > 2 || s.b[rec->index] != -1) {
        errno = rec ? EINVAL : EFAULT;
        return -1;
      }
      rec->channel = free_b_channel();
      s.b[rec->index] = rec->channel;
      return 0;
    }
    case dsp_data::DSP_DATA_REMOVE_B: {
      if (take_failure(Step::remove)) return -1;
      const auto* index = static_cast<const std::int32_t*>(arg);
      if (!index || *index < 0 || *index > 2) {
        errno = index ? EINVAL : EFAULT;
        return -1;
      }
      s.b[*index] = -1;
      return 0;
    }
    default:
      errno = ENOTTY;
      return -1;
  }
}

ssize_t DspData::on_write(Channel& ch, const void* buf, size_t len) {
  State& s = state_[&ch];
  if (s.eagain > 0) {
    --s.eagain;
    errno = EAGAIN;
    return -1;
  }
  const auto* p = static_cast<const unsigned char*>(buf);
  s.written.emplace_back(p, p + len);
  return static_cast<ssize_t>(len);
}

std::string DspData::command(const std::vector<std::string>& w, std::ostream& out) {
  long long ts = 0, n = 0;
  const std::string no_channel = "no such channel";
  if (w.empty()) return "missing word";
  const std::string& verb = w[0];
  if (verb == "timeslot" && w.size() == 2 && parse_int(w[1], ts)) {
    next_timeslot_ = static_cast<int>(ts);
    return "";
  }
  if (verb == "channels" && w.size() == 1) {
    for (Channel* ch : channels()) {
      auto it = state_.find(ch);
      if (it == state_.end()) continue;
      out << it->second.timeslot;
      for (int b : it->second.b) {
        if (b < 0)
          out << " -";
        else
          out << ' ' << b;
      }
      out << '\n';
    }
    return "";
  }
  State* s = nullptr;
  if (verb == "read" && w.size() == 2 && parse_int(w[1], ts)) {
    if (!find(static_cast<int>(ts), &s)) return no_channel;
    for (const Frame& f : s->written) out << hex_word(f) << '\n';
    s->written.clear();
    return "";
  }
  if (verb == "inject" && w.size() == 3 && parse_int(w[1], ts)) {
    Frame f;
    if (w[2].empty() || !parse_hex(w[2], f)) return "bad frame";
    Channel* ch = find(static_cast<int>(ts), nullptr);
    if (!ch) return no_channel;
    return deliver(f.data(), f.size(), ch) ? "" : no_channel;
  }
  if (verb == "eagain" && w.size() == 3 && parse_int(w[1], ts) && parse_int(w[2], n) && n >= 0) {
    if (!find(static_cast<int>(ts), &s)) return no_channel;
    s->eagain = static_cast<int>(n);
    return "";
  }
  if (verb == "hangup" && w.size() == 2 && parse_int(w[1], ts)) {
    Channel* ch = find(static_cast<int>(ts), nullptr);
    return ch && ::shutdown(ch->driver_fd, SHUT_RDWR) == 0 ? "" : no_channel;
  }
  if (verb == "fail" && (w.size() == 3 || w.size() == 4)) {
    static const std::map<std::string, Step> steps = {
        {"open", Step::open}, {"timeslot", Step::timeslot}, {"add", Step::add}, {"remove", Step::remove}};
    auto step = steps.find(w[1]);
    int err = 0;
    long long count = -1;
    if (step == steps.end() || !parse_errno(w[2], err) || (w.size() == 4 && !parse_int(w[3], count)))
      return "usage: fail open|timeslot|add|remove ERRNO [COUNT]";
    failures_.set(step->second, err, count);
    return "";
  }
  return "unknown words";
}

DspData& dsp_data() { return installed_model<DspData>(dsp_data::device_path); }

namespace {

DefaultModel installed([] { dsp_data(); });
SwitchChannelHolder holder([](int channel) { return dsp_data().holds(channel); });
Words words("dspdata", [](const Args& args, std::ostream& out) { return dsp_data().command(args, out); });

}  // namespace

}  // namespace sim
}  // namespace platform
