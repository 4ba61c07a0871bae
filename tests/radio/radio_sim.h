#pragma once
// In-process helpers of the radio tests on the simulated board: RTP
// sessions begun on "/dev/rtp" as a factory would, the control-socket words
// of the models asked directly, and the header-extension records.
#include "media/rtp_setup.h"
#include "platform/sim/control_words.h"
#include "platform/sim/rtp.h"
#include "platform/sim/rtp_ext.h"
#include "runtime/fd.h"
#include "slots/rtp_records.h"

#include <arpa/inet.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace radio_test {

// One begun session: its descriptor, switch channel and line in
// "rtp sessions" (from 1).
struct RtpSession {
  Fd fd;
  int tdm = -1;
  int line = 0;
  rtp_connection_params params;
};

// A session towards 127.0.0.1:port with the given SSRC.
inline RtpSession begin_session(std::uint16_t port, std::uint32_t ssrc = 0x01020304) {
  RtpSession s;
  std::memset(&s.params, 0, sizeof s.params);
  s.params.remote_addr = htonl(INADDR_LOOPBACK);
  s.params.remote_port = port;
  s.params.tx_pt = 8;
  s.params.ssrc = ssrc;
  rtp_channel_info info = {-1, -1, -1, 0};
  if (RtpSetup::BeginSession(s.params, info, s.fd) == RtpSetup::SessionStep::done) {
    s.tdm = info.tdm;
    platform::sim::rtp().refresh();
    s.line = static_cast<int>(platform::sim::rtp().sessions.size());
  }
  return s;
}

// The answer lines of a control-socket request ("ok" dropped; an error
// comes back as its line).
inline std::vector<std::string> words(const std::string& request) {
  std::vector<std::string> lines;
  std::istringstream in(platform::sim::control_request(request));
  for (std::string l; std::getline(in, l);)
    if (l != "ok") lines.push_back(l);
  return lines;
}

// The "rtpext sessions" line of the newest instance.
inline std::string last_instance() {
  const auto l = words("rtpext sessions");
  return l.empty() ? "" : l.back();
}
inline std::size_t instance_count() { return words("rtpext sessions").size(); }

// The line without its leading "N,".
inline std::string body(const std::string& line) { return line.substr(line.find(',') + 1); }

// The ops of the newest RTP session on a channel.
inline std::string rtp_ops(int tdm) {
  platform::sim::rtp().refresh();
  std::string found;
  for (const auto& s : platform::sim::rtp().sessions)
    if (s.tdm == tdm) {
      found.clear();
      for (std::size_t i = 0; i < s.ops.size(); ++i) found += (i ? "/" : "") + s.ops[i];
    }
  return found;
}

inline rtp_ext_init_params ed137_init(std::uint32_t w3 = 10, std::uint32_t w4 = 1) {
  rtp_ext_init_params p;
  std::memset(&p, 0, sizeof p);
  p.etype = 0x0167;
  p.param[0] = 1;
  p.param[1] = 123;
  p.param[2] = w3;
  p.param[3] = w4;
  return p;
}

inline in_addr ip(const char* dotted) {
  in_addr a;
  ::inet_pton(AF_INET, dotted, &a);
  return a;
}

}  // namespace radio_test
