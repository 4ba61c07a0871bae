#include "platform/sim/rtp.h"

#include "platform/rtp.h"
#include "platform/sim/control_words.h"
#include "platform/voice.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sstream>

namespace platform {
namespace sim {
namespace {

template <class T>
T field(const std::uint8_t* rec, std::size_t off) {
  T v;
  std::memcpy(&v, rec + off, sizeof v);
  return v;
}

std::string dotted(std::uint32_t network_order) {
  in_addr a;
  a.s_addr = network_order;
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

}  // namespace

std::string Rtp::Session::describe() const {
  std::ostringstream os;
  os << (open ? "open" : "closed") << ",tdm=" << tdm;
  os << ",remote=" << dotted(field<std::uint32_t>(record, 0)) << ":" << field<std::uint16_t>(record, 4);
  os << ",local=" << dotted(field<std::uint32_t>(record, 8)) << ":" << field<std::uint16_t>(record, 12);
  os << ",rx_pt=" << field<std::uint16_t>(record, 14) << ",tx_pt=" << field<std::uint16_t>(record, 16);
  os << ",pfactor=" << field<std::uint16_t>(record, 18) << ",vad=" << unsigned(record[20])
     << ",crate=" << unsigned(record[21]);
  os << ",ssrc=" << field<std::uint32_t>(record, 24) << ",ttl=" << field<std::uint32_t>(record, 36)
     << ",tos=" << field<std::int32_t>(record, 40);
  os << ",ops=";
  for (std::size_t i = 0; i < ops.size(); ++i) os << (i ? "/" : "") << ops[i];
  return os.str();
}

void Rtp::fail(const std::string& step, int err) { failures_.set(step, err, 1); }

void Rtp::clear() {
  refresh();
  failures_.clear();
  assigned_.clear();
  fail_open = 0;
  // Open sessions stay known; the closed ones are forgotten.
  std::vector<Session> kept;
  std::map<const Channel*, std::size_t> index;
  for (auto& c : of_channel_) {
    index[c.first] = kept.size();
    kept.push_back(sessions[c.second]);
  }
  sessions = std::move(kept);
  of_channel_ = std::move(index);
}

int Rtp::open_error() {
  if (int e = failures_.take("open")) return e;
  return fail_open;
}

void Rtp::on_open(Channel& ch) {
  of_channel_[&ch] = sessions.size();
  sessions.emplace_back();
  sessions.back().serial = next_serial_++;
}

int Rtp::session_of_fd(int fd) {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return -1;
  for (Channel* c : channels()) {
    if (c->ino != st.st_ino) continue;
    auto it = of_channel_.find(c);
    return it == of_channel_.end() ? -1 : static_cast<int>(it->second);
  }
  return -1;
}

int Rtp::index_of(unsigned serial) const {
  for (std::size_t i = 0; i < sessions.size(); ++i)
    if (sessions[i].serial == serial) return static_cast<int>(i);
  return -1;
}

void Rtp::on_close(Channel& ch) {
  auto it = of_channel_.find(&ch);
  if (it == of_channel_.end()) return;
  sessions[it->second].open = false;
  of_channel_.erase(it);
}

int Rtp::on_ioctl(Channel& ch, unsigned long request, void* arg) {
  auto it = of_channel_.find(&ch);
  if (it == of_channel_.end()) {
    errno = EBADF;
    return -1;
  }
  Session& s = sessions[it->second];
  const bool needs_arg = request == rtp::RTP_BEGIN_SESSION || request == rtp::RTP_ADD_CHANNEL ||
                         request == rtp::RTP_SET_EVENT_PD || request == rtp::RTP_RESET_EVENT_PD ||
                         request == rtp::RTP_ATTACH_SESSION;
  if (needs_arg && !arg) {
    errno = EFAULT;
    return -1;
  }
  auto* words = static_cast<std::int32_t*>(arg);
  switch (request) {
    case rtp::RTP_BEGIN_SESSION:
      if (int e = failures_.take("begin")) {
        errno = e;
        return -1;
      }
      std::memcpy(s.record, arg, sizeof s.record);
      s.ops.push_back("begin");
      return 0;
    case rtp::RTP_ADD_CHANNEL: {
      if (int e = failures_.take("add")) {
        errno = e;
        return -1;
      }
      const int asked = words[0];
      int tdm = asked;
      if (asked < 0 && !assigned_.empty()) {
        tdm = assigned_.front();
        assigned_.erase(assigned_.begin());
      } else if (asked < 0) {
        std::set<int> held;
        for (auto& c : of_channel_) held.insert(sessions[c.second].tdm);
        tdm = first_channel;
        while (held.count(tdm) || switch_channel_held(tdm)) ++tdm;
      }
      s.tdm = tdm;
      words[0] = tdm;
      std::string op = "add:" + std::to_string(asked);
      if (words[3] != 0) op += "." + std::to_string(words[3]);
      s.ops.push_back(op);
      return 0;
    }
    case rtp::RTP_START_TX:
      s.ops.push_back("start_tx");
      return 0;
    case rtp::RTP_STOP_TX:
      s.ops.push_back("stop_tx");
      return 0;
    case rtp::RTP_SET_EVENT_PD: {
      if (int e = failures_.take("pd_set")) {
        errno = e;
        return -1;
      }
      std::string op = "pd_set:";
      for (int i = 0; i < rtp::PD_REQUEST_WORDS; ++i) op += (i ? "." : "") + std::to_string(words[i]);
      s.ops.push_back(op);
      return 0;
    }
    case rtp::RTP_RESET_EVENT_PD:
      if (int e = failures_.take("pd_reset")) {
        errno = e;
        return -1;
      }
      s.ops.push_back("pd_reset:" + std::to_string(words[0]));
      return 0;
    case rtp::RTP_ATTACH_SESSION:
      // The driver refuses a descriptor or process that names no session.
      if (int e = failures_.take("attach")) {
        s.ops.push_back("attach-refused:" + std::to_string(words[0]) + "." + std::to_string(words[1]));
        errno = e;
        return -1;
      }
      s.ops.push_back("attach:" + std::to_string(words[0]) + "." + std::to_string(words[1]));
      return 0;
    case rtp::RTP_TEARDOWN_10:
      s.ops.push_back("r10");
      return 0;
    case rtp::RTP_TEARDOWN_3:
      s.ops.push_back("r3");
      return 0;
    case rtp::RTP_TEARDOWN_11:
      s.ops.push_back("r11");
      return 0;
    default:
      errno = ENOTTY;
      return -1;
  }
}

ssize_t Rtp::on_read(Channel&, int fd, void* buf, size_t len) {
  if (int e = failures_.take("read")) {
    errno = e;
    return -1;
  }
  // The event reader is opened blocking and relies on this.
  return ::recv(fd, buf, len, MSG_DONTWAIT);
}

bool Rtp::deliver_to(int tdm, const void* buf, std::size_t len) {
  refresh();
  // The newest open session of the channel is the one with the highest index.
  const Channel* target = nullptr;
  std::size_t best = 0;
  for (auto& c : of_channel_) {
    if (sessions[c.second].tdm == tdm && (!target || c.second > best)) {
      target = c.first;
      best = c.second;
    }
  }
  if (!target) return false;
  return deliver(buf, len, const_cast<Channel*>(target));
}

bool Rtp::event(int tdm, std::uint32_t type, std::uint32_t value, std::uint32_t timeout) {
  std::uint32_t words[rtp::EVENT_WORDS] = {type, value, timeout};
  return deliver_to(tdm, words, sizeof words);
}

Rtp& rtp() { return installed_model<Rtp>("/dev/rtp"); }

int Voice::on_ioctl(Channel&, unsigned long request, void* arg) {
  if (request != voice::VOICE_CODEC_CAPACITY) {
    errno = ENOTTY;
    return -1;
  }
  if (!arg) {
    errno = EFAULT;
    return -1;
  }
  std::int32_t codec;
  std::memcpy(&codec, arg, sizeof codec);
  auto it = counts.find(codec);
  return it == counts.end() ? 0 : it->second;
}

Voice& voice() { return installed_model<Voice>("/dev/voice"); }

namespace {

DefaultModel installed_rtp([] { rtp(); });
SwitchChannelHolder rtp_holder([](int channel) {
  rtp().refresh();  // a session whose descriptors are all closed holds nothing
  for (const Rtp::Session& s : rtp().sessions)
    if (s.open && s.tdm == channel) return true;
  return false;
});
DefaultModel installed_voice([] { voice(); });

std::string rtp_words(const Args& args, std::ostream& out) {
  Rtp& m = rtp();
  if (args.empty())
    return "usage: rtp sessions | rtp event TDM TYPE VALUE TIMEOUT | rtp raw TDM [HEX] | rtp fail STEP ERRNO";
  long long n[4] = {};
  if (args[0] == "sessions") {
    if (args.size() != 1) return "usage: rtp sessions";
    m.refresh();
    for (const auto& s : m.sessions) out << s.describe() << "\n";
    return "";
  }
  if (args[0] == "event") {
    if (args.size() != 5) return "usage: rtp event TDM TYPE VALUE TIMEOUT";
    for (int i = 0; i < 4; ++i)
      if (!parse_int(args[i + 1], n[i])) return "usage: rtp event TDM TYPE VALUE TIMEOUT";
    if (!m.event(static_cast<int>(n[0]), static_cast<std::uint32_t>(n[1]), static_cast<std::uint32_t>(n[2]),
                 static_cast<std::uint32_t>(n[3])))
      return "no open session on channel " + args[1];
    return "";
  }
  if (args[0] == "raw") {
    std::vector<std::uint8_t> bytes;
    if (args.size() < 2 || !parse_int(args[1], n[0])) return "usage: rtp raw TDM [HEX]";
    for (std::size_t i = 2; i < args.size(); ++i)
      if (!parse_hex(args[i], bytes)) return "usage: rtp raw TDM [HEX]";
    if (!m.deliver_to(static_cast<int>(n[0]), bytes.data(), bytes.size()))
      return "no open session on channel " + args[1];
    return "";
  }
  if (args[0] == "assign") {
    if (args.size() != 2 || !parse_int(args[1], n[0]) || n[0] < -2147483648LL || n[0] > 2147483647LL)
      return "usage: rtp assign TDM";
    m.assign(static_cast<int>(n[0]));
    return "";
  }
  if (args[0] == "fail") {
    int err = 0;
    if (args.size() != 3 || (args[1] != "open" && args[1] != "begin" && args[1] != "add" && args[1] != "pd_set" &&
                              args[1] != "pd_reset" && args[1] != "attach" &&
                              args[1] != "read") ||
        !parse_errno(args[2], err))
      return "usage: rtp fail open|begin|add|pd_set|pd_reset|attach|read ERRNO";
    m.fail(args[1], err);
    return "";
  }
  return "unknown rtp request " + args[0];
}

std::string voice_words(const Args& args, std::ostream&) {
  long long codec = 0, count = 0;
  if (args.size() != 2 || !parse_int(args[0], codec) || !parse_int(args[1], count) || count < -1 ||
      count > 0x7FFFFFFF)
    return "usage: voice CODEC COUNT";
  voice().counts[codec] = static_cast<int>(count);
  return "";
}

Words rtp_family("rtp", rtp_words);
Words voice_family("voice", voice_words);

}  // namespace
}  // namespace sim
}  // namespace platform
