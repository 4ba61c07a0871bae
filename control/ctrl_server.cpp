#include "control/ctrl_server.h"

#include "asn1/asn1.h"
#include "control/ctrl_service.h"
#include "runtime/ext_output.h"

#include <iostream>
#include <iterator>

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

namespace {

// Slot numbers are 0 to 1023; the wire has room for more.
constexpr std::uint32_t max_slot = 1023;

}  // namespace

Server::~Server() {
  if (!conn) return;
  conn->Deactivate();
  conn->UnBind();
  delete conn;
}

void Server::Bind(Service* s) {
  bound.push_back(s);
  s->srv = this;
}

int Server::Activate(Control::Service* c) {
  Deactivate();
  conn = c;
  conn->service_name("server");
  conn->Bind(this);
  return conn->Activate();
}

void Server::Deactivate() {
  if (!conn) return;
  conn->Deactivate();
  OnDisconnect();
  conn->UnBind();
  delete conn;
  conn = nullptr;
}

void Server::OnConnect() {
  std::clog << ext::header(this) << "controller connect." << std::endl;
  for (Service* s : bound) s->OnConnect();
}

void Server::OnDisconnect() {
  for (Service* s : bound) s->OnDisconnect();
}

void Server::OnMessage(char const* data, int len) {
  if (!data || len < 0) {
    data = "";
    len = 0;
  }
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  LGCP::Message msg;
  if (ASN1::decode(data, data + len, &env, msg, true)) {
    Handle(msg);
  } else {
    std::cerr << ext::header(this) << "receive fail: decode error!" << std::endl
              << " msg: " << ext::hex(data, static_cast<std::size_t>(len)) << std::endl;
  }
  slot = -1;
}

void Server::Handle(LGCP::Message const& msg) {
  answer = NotAnswered;
  seqPresent = msg.seq_isPresent();
  if (seqPresent) seq = static_cast<std::uint32_t>(msg.get_seq().getValue());
  slot = -1;

  if (!msg.get_pdu().command_isSelected()) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
    return;
  }
  if (msg.slot_isPresent()) {
    const std::uint32_t n = static_cast<std::uint32_t>(msg.get_slot().getValue());
    if (n > max_slot) {
      Error(LGCP::ErrorCause::invalidSlot);
      return;
    }
    slot = static_cast<std::int32_t>(n);
  }

  LGCP::Command const& cmd = msg.get_pdu().get_command();
  bool claimed = false;
  for (Service* s : bound) {
    if (s->OnCommand(cmd)) {
      claimed = true;
      break;
    }
  }
  if (!claimed) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
  } else if (answer == NotAnswered) {
    std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl
              << "please report this to technical support." << std::endl;
    Error(LGCP::ErrorCause::internal);
  }
}

void Server::Success() {
  if (answer != NotAnswered) return;
  LGCP::Response r;
  r.select_success();
  Respond(r);
  answer = SuccessSent;
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause) {
  // Never two errors; an error may still follow a success or a deferral,
  // which is how a service reports a failure found after it answered.
  if (answer == ErrorSent) return;
  LGCP::Response r;
  r.select_error(cause);
  Respond(r);
  answer = ErrorSent;
}

void Server::Respond(LGCP::Response const& response) {
  LGCP::Message m;
  if (seqPresent) m.set_seq(static_cast<int>(seq));
  if (slot != -1) m.set_slot(static_cast<unsigned>(slot));
  m.set_pdu().select_response(response);
  SendMsg(m);
}

DelayedSeq Server::delayResponse() {
  if (answer == NotAnswered) answer = Deferred;
  DelayedSeq d;
  d.present = seqPresent;
  d.value = seq;
  return d;
}

void Server::delayedSuccess(unsigned int slot_no, DelayedSeq d) {
  LGCP::Message m;
  if (d.present) m.set_seq(static_cast<int>(d.value));
  m.set_slot(slot_no);
  m.set_pdu().select_response().select_success();
  SendMsg(m);
}

void Server::SendSignal(LGCP::Signal const& sig) {
  LGCP::Message m;
  if (slot != -1) m.set_slot(static_cast<unsigned>(slot));
  m.set_pdu().select_signal(sig);
  SendMsg(m);
}

void Server::SendSignal(unsigned int slot_no, LGCP::Signal const& sig) {
  LGCP::Message m;
  m.set_slot(slot_no);
  m.set_pdu().select_signal(sig);
  SendMsg(m);
}

void Server::SendMsg(LGCP::Message const& msg) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  out.reserve(200);
  if (!ASN1::encode(msg, &env, std::back_inserter(out))) {
    // Through a string: a message that fails to print would otherwise leave
    // the error log's stream failed, and every later line would be lost.
    std::cerr << ext::header(this) << "send fail: encode error!" << msg.asValueNotation() << std::endl;
    return;
  }
  if (!conn) {
    std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
    return;
  }
  conn->Send(out.data(), static_cast<int>(out.size()));
}

bool Server::CheckServerConnection(bool& connected) const {
  if (!conn) return false;
  connected = conn->IsConnected();
  return true;
}

void Server::OnHeartbeatTimeout() {
  if (conn) conn->Disconnect();
}

std::ostream& Server::PutHeader(std::ostream& os) const {
  if (!conn) return os << "ctrl [null]: ";
  if (conn->IsConnected()) return os << "ctrl [" << conn->GetAddr() << "]: ";
  return os << "ctrl [not connected]: ";
}

}  // namespace CtrlSrv
