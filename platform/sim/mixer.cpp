#include "platform/sim/mixer.h"

#include "platform/mixer.h"
#include "platform/sim/control_words.h"

#include <cerrno>
#include <cstring>
#include <sstream>

namespace platform {
namespace sim {

namespace {

// One word of a record, read or written in the machine's byte order.
std::int32_t word(const void* rec, std::size_t index) {
  std::int32_t v;
  std::memcpy(&v, static_cast<const char*>(rec) + index * 4, 4);
  return v;
}

void set_word(void* rec, std::size_t index, std::int32_t v) {
  std::memcpy(static_cast<char*>(rec) + index * 4, &v, 4);
}

std::string point(const std::int32_t* slot) {
  return std::to_string(slot[mixer::SLOT_DEV_NO]) + "/" + std::to_string(slot[mixer::SLOT_NUMBER]);
}

}  // namespace

std::size_t MixerDevice::Unit::entries() const {
  std::size_t n = 0;
  for (const auto& m : mixes) n += m.second.size();
  return n;
}

std::string MixerDevice::add_unit(int unit, int tdm_channels, int mixer_inputs) {
  // A unit may report no channels (nor inputs): the server must cope.
  if (unit < 0 || tdm_channels < 0 || mixer_inputs < 0) return "bad unit";
  if (units.count(unit)) return "unit " + std::to_string(unit) + " exists";
  // First fit in the block, between the units already there.
  int base = switch_first;
  bool moved = true;
  while (moved) {
    moved = false;
    for (const auto& u : units) {
      const int b = u.second.switch_base, e = b + u.second.tdm_channels;
      if (base < e && b < base + tdm_channels) {
        base = e;
        moved = true;
      }
    }
  }
  if (base + tdm_channels > switch_end) return "no switch channels left";
  Unit& u = units[unit];
  u.tdm_channels = tdm_channels;
  u.mixer_inputs = mixer_inputs;
  u.switch_base = base;
  return "";
}

bool MixerDevice::remove_unit(int unit) {
  if (!units.erase(unit)) return false;
  // Mixes of other units lose the inputs it held.
  for (auto& u : units) {
    for (auto m = u.second.mixes.begin(); m != u.second.mixes.end();) {
      for (auto in = m->second.begin(); in != m->second.end();)
        in = in->first.first == unit ? m->second.erase(in) : std::next(in);
      m = m->second.empty() ? u.second.mixes.erase(m) : std::next(m);
    }
  }
  return true;
}

bool MixerDevice::claim(int unit, int channels) {
  auto u = units.find(unit);
  if (u == units.end()) return false;
  u->second.claiming = true;
  u->second.claimed_channels = channels;
  return true;
}

std::vector<std::string> MixerDevice::mix(int unit, int channel) const {
  std::vector<std::string> out;
  auto u = units.find(unit);
  if (u == units.end()) return out;
  auto m = u->second.mixes.find(channel);
  if (m == u->second.mixes.end()) return out;
  for (const auto& in : m->second)
    out.push_back(std::to_string(in.first.first) + "/" + std::to_string(in.first.second) + ":" +
                  std::to_string(in.second));
  return out;
}

std::vector<std::string> MixerDevice::take_log() {
  std::vector<std::string> out;
  out.swap(log_);
  return out;
}

void MixerDevice::note(std::string line) {
  // Nobody may be reading: keep the newest lines only.
  if (log_.size() >= log_limit) log_.erase(log_.begin(), log_.begin() + log_limit / 2);
  log_.push_back(std::move(line));
}

bool MixerDevice::fail(const std::string& kind, long long nth) {
  if (kind != "clear" && kind != "add" && kind != "remove" && kind != "tdm" && kind != "info") return false;
  if (nth < 1) return false;
  failures_[kind].push_back(nth);
  return true;
}

void MixerDevice::clear() {
  units.clear();
  log_.clear();
  failures_.clear();
  fail_open = 0;
}

bool MixerDevice::take_failure(const std::string& kind) {
  auto it = failures_.find(kind);
  if (it == failures_.end()) return false;
  bool hit = false;
  auto& left = it->second;
  for (auto n = left.begin(); n != left.end();) {
    if (--*n == 0) {
      hit = true;
      n = left.erase(n);
    } else {
      ++n;
    }
  }
  if (left.empty()) failures_.erase(it);
  return hit;
}

int MixerDevice::check(const std::int32_t* slot) const {
  auto u = units.find(slot[mixer::SLOT_DEV_NO]);
  if (u == units.end()) return ENODEV;
  if (slot[mixer::SLOT_TYPE] != mixer::TYPE_TDM) return EINVAL;
  if (slot[mixer::SLOT_NUMBER] < 0 || slot[mixer::SLOT_NUMBER] >= u->second.tdm_channels) return EINVAL;
  return 0;
}

int MixerDevice::do_clear(const std::int32_t* slot) {
  note("clear:" + point(slot));
  if (take_failure("clear")) return EIO;
  if (int e = check(slot)) return e;
  units[slot[mixer::SLOT_DEV_NO]].mixes.erase(slot[mixer::SLOT_NUMBER]);
  return 0;
}

int MixerDevice::do_add(const std::int32_t* rec) {
  const std::int32_t* rx = rec + mixer::RECORD_RX;
  const std::int32_t* tx = rec + mixer::RECORD_TX;
  const std::int32_t weight = rec[mixer::RECORD_WEIGHT];
  note("add:" + point(rx) + "<" + point(tx) + ":" + std::to_string(weight));
  if (take_failure("add")) return EIO;
  if (int e = check(rx)) return e;
  if (int e = check(tx)) return e;
  Unit& u = units[rx[mixer::SLOT_DEV_NO]];
  auto& m = u.mixes[rx[mixer::SLOT_NUMBER]];
  const Point in{tx[mixer::SLOT_DEV_NO], tx[mixer::SLOT_NUMBER]};
  if (!m.count(in) && u.entries() >= static_cast<std::size_t>(u.mixer_inputs)) {
    if (m.empty()) u.mixes.erase(rx[mixer::SLOT_NUMBER]);
    return ENOSPC;
  }
  m[in] = weight;
  return 0;
}

int MixerDevice::do_remove(const std::int32_t* rec) {
  const std::int32_t* rx = rec + mixer::RECORD_RX;
  const std::int32_t* tx = rec + mixer::RECORD_TX;
  note("remove:" + point(rx) + "<" + point(tx) + ":" + std::to_string(rec[mixer::RECORD_WEIGHT]));
  if (take_failure("remove")) return EIO;
  if (int e = check(rx)) return e;
  if (int e = check(tx)) return e;
  Unit& u = units[rx[mixer::SLOT_DEV_NO]];
  auto m = u.mixes.find(rx[mixer::SLOT_NUMBER]);
  if (m == u.mixes.end() || !m->second.erase(Point{tx[mixer::SLOT_DEV_NO], tx[mixer::SLOT_NUMBER]})) return ENOENT;
  if (m->second.empty()) u.mixes.erase(m);
  return 0;
}

int MixerDevice::do_tdm(const std::int32_t* slot) {
  note("tdm:" + point(slot));
  if (take_failure("tdm")) return -EIO;
  if (int e = check(slot)) return -e;
  const Unit& u = units[slot[mixer::SLOT_DEV_NO]];
  return u.switch_base + slot[mixer::SLOT_NUMBER];
}

int MixerDevice::do_info(std::int32_t* rec) {
  const std::int32_t after = rec[mixer::INFO_UNIT];
  note("info:" + std::to_string(after));
  if (take_failure("info")) return EIO;
  auto u = units.upper_bound(after);
  if (u == units.end()) return ENODEV;
  rec[mixer::INFO_UNIT] = u->first;
  rec[mixer::INFO_TDM_CHANNELS] = u->second.claiming ? u->second.claimed_channels : u->second.tdm_channels;
  rec[mixer::INFO_MIXER_INPUTS] = u->second.mixer_inputs;
  return 0;
}

int MixerDevice::on_ioctl(Channel&, unsigned long request, void* arg) {
  std::size_t words;
  switch (request) {
    case mixer::MIX_RX_CLEAR:
    case mixer::MIX_TDM:
      words = mixer::MIX_SLOT_WORDS;
      break;
    case mixer::MIX_RX_ADD:
    case mixer::MIX_RX_REMOVE:
      words = mixer::MIX_RECORD_WORDS;
      break;
    case mixer::MIX_UNIT_INFO:
      words = mixer::UNIT_INFO_WORDS;
      break;
    default:
      errno = ENOTTY;
      return -1;
  }
  if (!arg) {
    errno = EFAULT;
    return -1;
  }
  // The record, field by field.
  std::int32_t rec[mixer::MIX_RECORD_WORDS] = {};
  for (std::size_t i = 0; i < words; ++i) rec[i] = word(arg, i);
  int e = 0;
  switch (request) {
    case mixer::MIX_RX_CLEAR:
      e = do_clear(rec);
      break;
    case mixer::MIX_RX_ADD:
      e = do_add(rec);
      break;
    case mixer::MIX_RX_REMOVE:
      e = do_remove(rec);
      break;
    case mixer::MIX_TDM: {
      const int r = do_tdm(rec);
      if (r >= 0) return r;
      e = -r;
      break;
    }
    case mixer::MIX_UNIT_INFO:
      e = do_info(rec);
      if (!e) {
        set_word(arg, mixer::INFO_UNIT, rec[mixer::INFO_UNIT]);
        set_word(arg, mixer::INFO_TDM_CHANNELS, rec[mixer::INFO_TDM_CHANNELS]);
        set_word(arg, mixer::INFO_MIXER_INPUTS, rec[mixer::INFO_MIXER_INPUTS]);
      }
      break;
  }
  if (e) {
    errno = e;
    return -1;
  }
  return 0;
}

MixerDevice& mixer() { return installed_model<MixerDevice>("/dev/mixer"); }

namespace {

DefaultModel installed([] { mixer(); });
SwitchChannelHolder holder([](int channel) {
  for (const auto& u : mixer().units)
    if (channel >= u.second.switch_base && channel < u.second.switch_base + u.second.tdm_channels) return true;
  return false;
});

bool int_arg(const std::string& w, int& v) {
  long long n = 0;
  if (!parse_int(w, n) || n < -2147483648LL || n > 2147483647LL) return false;
  v = static_cast<int>(n);
  return true;
}

std::string mixer_words(const Args& args, std::ostream& out) {
  MixerDevice& m = mixer();
  const char* usage =
      "usage: mixer add U TDM_CHANNELS MIXER_INPUTS | mixer remove U | mixer claim U N | mixer mix U C | "
      "mixer log | "
      "mixer fail clear|add|remove|tdm|info K";
  if (args.empty()) return usage;
  int a = 0, b = 0, c = 0;
  if (args[0] == "add") {
    if (args.size() != 4 || !int_arg(args[1], a) || !int_arg(args[2], b) || !int_arg(args[3], c))
      return "usage: mixer add U TDM_CHANNELS MIXER_INPUTS";
    return m.add_unit(a, b, c);
  }
  if (args[0] == "remove") {
    if (args.size() != 2 || !int_arg(args[1], a)) return "usage: mixer remove U";
    return m.remove_unit(a) ? "" : "no unit " + args[1];
  }
  if (args[0] == "claim") {
    if (args.size() != 3 || !int_arg(args[1], a) || !int_arg(args[2], b)) return "usage: mixer claim U N";
    return m.claim(a, b) ? "" : "no unit " + args[1];
  }
  if (args[0] == "mix") {
    if (args.size() != 3 || !int_arg(args[1], a) || !int_arg(args[2], b)) return "usage: mixer mix U C";
    if (!m.units.count(a)) return "no unit " + args[1];
    for (const auto& line : m.mix(a, b)) out << line << "\n";
    return "";
  }
  if (args[0] == "log") {
    if (args.size() != 1) return "usage: mixer log";
    for (const auto& line : m.take_log()) out << line << "\n";
    return "";
  }
  if (args[0] == "fail") {
    long long k = 0;
    if (args.size() != 3 || !parse_int(args[2], k) || !m.fail(args[1], k))
      return "usage: mixer fail clear|add|remove|tdm|info K";
    return "";
  }
  return "unknown mixer request " + args[0];
}

Words words("mixer", mixer_words);

}  // namespace
}  // namespace sim
}  // namespace platform
