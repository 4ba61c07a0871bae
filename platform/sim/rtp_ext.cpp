#include "platform/sim/rtp_ext.h"

#include "platform/clock.h"
#include "platform/rtp_ext.h"
#include "platform/sim/control_words.h"
#include "platform/sim/rtp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace platform {
namespace sim {
namespace {

std::uint32_t word(const void* arg, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, static_cast<const std::uint8_t*>(arg) + off, sizeof v);
  return v;
}

void put_word(void* arg, std::size_t off, std::uint32_t v) {
  std::memcpy(static_cast<std::uint8_t*>(arg) + off, &v, sizeof v);
}

std::string dotted(std::uint32_t network_order) {
  in_addr a;
  a.s_addr = network_order;
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string s;
  char b[3];
  for (std::uint8_t c : bytes) {
    std::snprintf(b, sizeof b, "%02X", c);
    s += b;
  }
  return s;
}

std::int64_t now_ms() {
  struct timeval tv;
  platform::gettimeofday(&tv);
  return std::int64_t(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

}  // namespace

std::string RtpExt::Instance::describe() const {
  std::ostringstream os;
  char etext[8];
  std::snprintf(etext, sizeof etext, "%04X", etype);
  os << number << "," << (open ? "open" : "closed") << ",etype=0x" << etext << ",init=" << init[0] << "."
     << init[1] << "." << init[2] << "." << init[3];
  const int k = rtp_serial ? rtp().index_of(rtp_serial) : -1;
  os << ",rtp=" << (k >= 0 ? std::to_string(k + 1) : std::string("-")) << ",pid=" << pid;
  os << ",filter=" << (filter ? dotted(filter_addr) : std::string("-")) << ",dropped=" << dropped << ",ops=";
  for (std::size_t i = 0; i < ops.size(); ++i) os << (i ? "/" : "") << ops[i];
  return os.str();
}

void RtpExt::fail(const std::string& step, int err) { failures_.set(step, err, 1); }

int RtpExt::open_error() {
  if (int e = failures_.take("open")) return e;
  return fail_open;
}

void RtpExt::on_open(Channel& ch) {
  of_channel_[&ch] = instances.size();
  instances.emplace_back();
  instances.back().number = static_cast<int>(instances.size());
}

void RtpExt::on_close(Channel& ch) {
  auto it = of_channel_.find(&ch);
  if (it == of_channel_.end()) return;
  Instance& in = instances[it->second];
  in.open = false;
  in.queue.clear();
  of_channel_.erase(it);
}

RtpExt::Instance* RtpExt::of(const Channel& ch) {
  auto it = of_channel_.find(&ch);
  return it == of_channel_.end() ? nullptr : &instances[it->second];
}

void RtpExt::wake(Channel& ch, Instance& in) {
  if (!in.queue.empty() && !in.readable) {
    const std::uint8_t token = 0;
    in.readable = deliver(&token, 1, &ch);
  }
}

int RtpExt::on_ioctl(Channel& ch, unsigned long request, void* arg) {
  Instance* in = of(ch);
  if (!in) {
    errno = EBADF;
    return -1;
  }
  const bool needs_arg = request == rtp_ext::RTP_EXT_INIT_SESSION || request == rtp_ext::RTP_EXT_ATTACH_SESSION ||
                         request == rtp_ext::RTP_EXT_GET_SOURCE || request == rtp_ext::RTP_EXT_SET_FILTER;
  if (needs_arg && !arg) {
    errno = EFAULT;
    return -1;
  }
  const auto failed = [](int e) {
    errno = e;
    return -1;
  };
  switch (request) {
    case rtp_ext::RTP_EXT_INIT_SESSION: {
      if (int e = failures_.take("init")) return failed(e);
      std::uint16_t etype;
      std::memcpy(&etype, arg, sizeof etype);
      in->etype = etype;
      for (int i = 0; i < 4; ++i) in->init[i] = word(arg, 4 + 4 * i);
      in->initialised = true;
      in->ops.push_back("init");
      return 0;
    }
    case rtp_ext::RTP_EXT_ATTACH_SESSION: {
      if (int e = failures_.take("attach")) return failed(e);
      if (!in->initialised) return failed(EINVAL);
      const std::int32_t fd = static_cast<std::int32_t>(word(arg, 0));
      const std::int32_t pid = static_cast<std::int32_t>(word(arg, 4));
      if (pid != -1 && pid != static_cast<std::int32_t>(::getpid())) return failed(EBADF);
      const int k = rtp().session_of_fd(fd);
      if (k < 0) return failed(EBADF);
      in->rtp_serial = rtp().sessions[static_cast<std::size_t>(k)].serial;
      in->pid = pid;
      in->ops.push_back("attach:" + std::to_string(k + 1));
      return 0;
    }
    case rtp_ext::RTP_EXT_DETACH_SESSION:
      if (int e = failures_.take("detach")) return failed(e);
      if (!in->rtp_serial) return failed(EINVAL);
      in->rtp_serial = 0;
      in->queue.clear();
      in->ops.push_back("detach");
      return 0;
    case rtp_ext::RTP_EXT_GET_SOURCE: {
      if (int e = failures_.take("source")) return failed(e);
      if (in->queue.empty()) return 0;
      put_word(arg, 0, in->queue.front().ssrc);
      put_word(arg, 4, in->queue.front().addr);
      put_word(arg, 8, 0);
      return static_cast<int>(in->queue.size());
    }
    case rtp_ext::RTP_EXT_SET_FILTER: {
      if (int e = failures_.take("filter")) return failed(e);
      in->filter = true;
      in->filter_addr = word(arg, 0);
      for (auto it = in->queue.begin(); it != in->queue.end();) {
        if (it->addr != in->filter_addr) {
          it = in->queue.erase(it);
          ++in->dropped;
        } else {
          ++it;
        }
      }
      in->ops.push_back("filter:" + dotted(in->filter_addr));
      return 0;
    }
    case rtp_ext::RTP_EXT_RESET_FILTER:
      if (int e = failures_.take("reset")) return failed(e);
      in->filter = false;
      in->filter_addr = 0;
      in->ops.push_back("reset");
      return 0;
    default:
      return failed(ENOTTY);
  }
}

ssize_t RtpExt::on_read(Channel& ch, int fd, void* buf, size_t len) {
  Instance* in = of(ch);
  if (!in) {
    errno = EBADF;
    return -1;
  }
  if (int e = failures_.take("read")) {
    errno = e;
    return -1;
  }
  if (in->readable) {
    std::uint8_t token;
    ::recv(fd, &token, sizeof token, MSG_DONTWAIT);
    in->readable = false;
  }
  if (in->queue.empty()) {
    errno = EAGAIN;
    return -1;
  }
  Payload p = std::move(in->queue.front());
  in->queue.pop_front();
  const std::size_t n = p.bytes.size() < len ? p.bytes.size() : len;
  if (n) std::memcpy(buf, p.bytes.data(), n);
  wake(ch, *in);
  return static_cast<ssize_t>(n);
}

ssize_t RtpExt::on_write(Channel& ch, const void* buf, size_t len) {
  Instance* in = of(ch);
  if (!in) {
    errno = EBADF;
    return -1;
  }
  if (int e = failures_.take("write")) {
    errno = e;
    return -1;
  }
  Written w;
  w.ms = now_ms();
  const auto* bytes = static_cast<const std::uint8_t*>(buf);
  w.bytes.assign(bytes, bytes + len);
  const int k = in->rtp_serial ? rtp().index_of(in->rtp_serial) : -1;
  if (k >= 0) {
    const Rtp::Session& s = rtp().sessions[static_cast<std::size_t>(k)];
    w.tdm = s.tdm;
    send_rtp(*in, s.record, buf, len);
  }
  written.push_back(std::move(w));
  return static_cast<ssize_t>(len);
}

void RtpExt::send_rtp(Instance& in, const std::uint8_t* record, const void* buf, std::size_t len) {
  std::uint32_t remote;
  std::uint16_t port, tx_pt;
  std::uint32_t ssrc;
  std::memcpy(&remote, record, 4);
  std::memcpy(&port, record + 4, 2);
  std::memcpy(&tx_pt, record + 16, 2);
  std::memcpy(&ssrc, record + 24, 4);
  if ((ntohl(remote) >> 24) != 127 || len > 1024) return;
  if (udp_ < 0) udp_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (udp_ < 0) return;
  const std::size_t words = (len + 3) / 4;
  std::vector<std::uint8_t> pkt;
  const auto put16 = [&](unsigned v) {
    pkt.push_back(static_cast<std::uint8_t>(v >> 8));
    pkt.push_back(static_cast<std::uint8_t>(v));
  };
  const auto put32 = [&](std::uint32_t v) {
    put16(v >> 16);
    put16(v & 0xFFFF);
  };
  ++in.seq;
  pkt.push_back(0x90);  // version 2, header extension
  pkt.push_back(static_cast<std::uint8_t>(tx_pt & 0x7F));
  put16(in.seq);
  put32(static_cast<std::uint32_t>(in.seq) * 160u);
  put32(ssrc);
  put16(in.etype);
  put16(static_cast<unsigned>(words));
  const auto* p = static_cast<const std::uint8_t*>(buf);
  pkt.insert(pkt.end(), p, p + len);
  pkt.resize(12 + 4 + words * 4, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = remote;
  to.sin_port = htons(port);
  ::sendto(udp_, pkt.data(), pkt.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool RtpExt::inject(int tdm, std::uint32_t addr, std::uint32_t ssrc, const std::vector<std::uint8_t>& bytes) {
  rtp().refresh();
  // The newest open RTP session on the channel...
  unsigned serial = 0;
  for (const auto& s : rtp().sessions)
    if (s.open && s.tdm == tdm) serial = s.serial;
  if (!serial) return false;
  // ...and the newest open instance attached to it.
  Channel* target = nullptr;
  Instance* in = nullptr;
  for (Channel* c : channels()) {
    Instance* i = of(*c);
    if (i && i->rtp_serial == serial && (!in || i->number > in->number)) {
      in = i;
      target = c;
    }
  }
  if (!in) return false;
  if (in->filter && addr != in->filter_addr) {
    ++in->dropped;
    return true;
  }
  Payload p;
  p.addr = addr;
  p.ssrc = ssrc;
  p.bytes = bytes;
  in->queue.push_back(std::move(p));
  wake(*target, *in);
  return true;
}

std::vector<RtpExt::Written> RtpExt::take_sent(int tdm) {
  std::vector<Written> out;
  for (auto& w : written) {
    if (w.reported || w.tdm != tdm) continue;
    w.reported = true;
    out.push_back(w);
  }
  return out;
}

RtpExt& rtp_ext() { return installed_model<RtpExt>("/dev/rtp_ext"); }

namespace {

DefaultModel installed_rtp_ext([] { rtp_ext(); });

std::string rtp_ext_words(const Args& args, std::ostream& out) {
  RtpExt& m = rtp_ext();
  const char* usage =
      "usage: rtpext sessions | rtpext inject TDM ADDR SSRC HEX [ADDR SSRC HEX ...] | rtpext sent TDM | "
      "rtpext fail STEP ERRNO";
  if (args.empty()) return usage;
  long long n = 0;
  if (args[0] == "sessions") {
    if (args.size() != 1) return "usage: rtpext sessions";
    m.refresh();
    rtp().refresh();
    for (const auto& in : m.instances) out << in.describe() << "\n";
    return "";
  }
  if (args[0] == "inject") {
    // Several payloads in one request queue up in one step: the server
    // reads them as one batch.
    const char* inject_usage = "usage: rtpext inject TDM ADDR SSRC HEX [ADDR SSRC HEX ...]";
    if (args.size() < 5 || (args.size() - 2) % 3 != 0 || !parse_int(args[1], n)) return inject_usage;
    std::vector<RtpExt::Payload> batch;
    for (std::size_t i = 2; i < args.size(); i += 3) {
      long long ssrc = 0;
      in_addr a;
      RtpExt::Payload p;
      if (::inet_pton(AF_INET, args[i].c_str(), &a) != 1 || !parse_int(args[i + 1], ssrc) || ssrc < 0 ||
          ssrc > 0xFFFFFFFFLL || !parse_hex(args[i + 2], p.bytes))
        return inject_usage;
      p.addr = a.s_addr;
      p.ssrc = static_cast<std::uint32_t>(ssrc);
      batch.push_back(std::move(p));
    }
    for (const auto& p : batch)
      if (!m.inject(static_cast<int>(n), p.addr, p.ssrc, p.bytes)) return "no rtp_ext instance on channel " + args[1];
    return "";
  }
  if (args[0] == "sent") {
    if (args.size() != 2 || !parse_int(args[1], n)) return "usage: rtpext sent TDM";
    for (const auto& w : m.take_sent(static_cast<int>(n))) out << w.ms << " " << hex(w.bytes) << "\n";
    return "";
  }
  if (args[0] == "fail") {
    static const char* const steps[] = {"open",   "init",   "attach", "detach", "source",
                                        "filter", "reset",  "read",   "write"};
    int err = 0;
    bool known = false;
    for (const char* s : steps) known = known || (args.size() == 3 && args[1] == s);
    if (!known || !parse_errno(args[2], err))
      return "usage: rtpext fail open|init|attach|detach|source|filter|reset|read|write ERRNO";
    m.fail(args[1], err);
    return "";
  }
  return "unknown rtpext request " + args[0];
}

Words rtp_ext_family("rtpext", rtp_ext_words);

}  // namespace
}  // namespace sim
}  // namespace platform
