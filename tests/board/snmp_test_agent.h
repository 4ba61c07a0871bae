#pragma once
// A loopback SNMP agent for tests of the monitoring links: it listens on
// 127.0.0.1, takes the gateway's connections one after the other, records
// every TPKT frame as a MON::Message with its arrival time (real
// milliseconds), and answers each command with a success response or stays
// silent.
#include "asn1/asn1.h"
#include "schema/mon/MON.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class SnmpTestAgent {
 public:
  struct Frame {
    std::int64_t ms;  // arrival, real time
    int connection;   // 1 for the first connection taken, ...
    bool decoded;
    std::shared_ptr<MON::Message> msg;
    std::size_t octets;  // the message, without the TPKT head
  };
  // One snmp-set value as it arrived.
  struct Value {
    int frame;  // index into frames
    int uniq;
    std::string section, name;
    int index;
    std::string value;
  };

  explicit SnmpTestAgent(bool answer) : answer_(answer) {}

  std::uint16_t port() const { return listener_.port(); }
  bool connected() const { return peer_ && peer_->connected(); }

  // Takes a pending connection and reads what is there; returns at once
  // when nothing is, or after at most timeout_ms for the first bytes.
  void pump(int timeout_ms = 0) {
    if (!connected()) {
      const int fd = listener_.accept(timeout_ms);
      if (fd < 0) return;
      peer_.reset(new LoopbackPeer(fd));
      ++connections_;
      buf_.clear();
    }
    struct pollfd p = {peer_->fd(), POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return;
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::recv(peer_->fd(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        buf_.append(chunk, static_cast<std::size_t>(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) peer_->close();
      break;
    }
    while (buf_.size() >= 4) {
      const std::size_t len = (static_cast<unsigned char>(buf_[2]) << 8) | static_cast<unsigned char>(buf_[3]);
      if (len < 4 || buf_.size() < len) break;
      const std::string payload = buf_.substr(4, len - 4);
      buf_.erase(0, len);
      Frame f{real_ms(), connections_, false, std::make_shared<MON::Message>(), payload.size()};
      ASN1::CoderEnv env;
      env.set_encodingRule(ASN1::CoderEnv::per);
      f.decoded = ASN1::decode(payload.data(), payload.data() + payload.size(), &env, *f.msg, true);
      frames.push_back(f);
      if (f.decoded && answer_ && f.msg->get_pdu().command_isSelected() && connected()) respond();
    }
  }

  // Pumps until the condition holds or the time is up.
  bool wait(const std::function<bool()>& cond, int timeout_ms = patience_ms) {
    const std::int64_t end = real_ms() + timeout_ms;
    for (;;) {
      pump(0);
      if (cond()) return true;
      if (real_ms() >= end) return false;
      pump(20);
    }
  }

  // Every snmp-set value received so far, in arrival order.
  std::vector<Value> values() const {
    std::vector<Value> out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const auto& pdu = frames[i].msg->get_pdu();
      if (!frames[i].decoded || !pdu.command_isSelected() || !pdu.get_command().snmp_set_isSelected()) continue;
      for (const auto& c : pdu.get_command().get_snmp_set().get_commands()) {
        Value v{static_cast<int>(i), c.get_uniq().getValue(), "", "", 0, c.get_value()};
        if (c.get_id().name_isSelected()) {
          v.section = c.get_id().get_name().get_section();
          v.name = c.get_id().get_name().get_name();
          v.index = c.get_id().get_name().get_index().getValue();
        }
        out.push_back(v);
      }
    }
    return out;
  }
  // The values of one item name (and index), in arrival order.
  std::vector<Value> values_of(const std::string& name, int index = -1) const {
    std::vector<Value> out;
    for (const auto& v : values())
      if (v.name == name && (index < 0 || v.index == index)) out.push_back(v);
    return out;
  }
  int count_commands(bool (MON::Command::*selected)() const) const {
    int n = 0;
    for (const auto& f : frames)
      if (f.decoded && f.msg->get_pdu().command_isSelected() && (f.msg->get_pdu().get_command().*selected)()) ++n;
    return n;
  }

  // An agent that stops answering (or starts again) on its connection.
  void set_answer(bool answer) { answer_ = answer; }
  bool answering() const { return answer_; }

  void close_peer() {
    if (peer_) peer_->close();
  }
  int connections() const { return connections_; }

  std::vector<Frame> frames;

 private:
  void respond() {
    MON::Message m;
    m.set_pdu().select_response().select_ping().select_success();
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    std::vector<char> out;
    ASN1::encode(m, &env, std::back_inserter(out));
    peer_->send(tpkt_frame(std::string(out.begin(), out.end())));
  }

  bool answer_;
  LoopbackListener listener_;
  std::unique_ptr<LoopbackPeer> peer_;
  int connections_ = 0;
  std::string buf_;
};

}  // namespace testsupport
