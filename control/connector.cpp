#include "control/connector.h"

#include <cerrno>
#include <iostream>

#include "runtime/errno_text.h"

namespace Control {

template <class Base>
Connector<Base>::Connector(const char* event_name) {
  connect_event.Bind(event_name, &Connector::OnSocketEvent, this);
}

template <class Base>
Connector<Base>::~Connector() = default;

template <class Base>
int Connector<Base>::ImplActivate() {
  schedule.Restart();
  TryConnect();
  return 1;
}

template <class Base>
void Connector<Base>::ImplDeactivate() {
  this->Release();
  connecting.close();
  retry_timer.reset();
  connect_event.Release();
}

template <class Base>
void Connector<Base>::ImplOnDisconnect() {
  retry_timer.set(ConnectorRetry::reconnect_ms, &Connector::OnTimeout, this);
}

template <class Base>
void Connector<Base>::OnTimeout(Timer*) {
  TryConnect();
}

template <class Base>
void Connector<Base>::Retry(unsigned int long_delay_ms) {
  retry_timer.set(schedule.Next(long_delay_ms), &Connector::OnTimeout, this);
}

template <class Base>
void Connector<Base>::NoSocket(char const* what, int made, Errno const& socket_err) {
  // A socket made but not copied: the copy's errno is the one to show.
  const Errno copy_err;
  const Errno& cause = made < 0 ? socket_err : copy_err;
  std::cerr << what << cause << std::endl;
  const int err = cause.value();
  if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM)
    Retry(ConnectorRetry::refused_retry_ms);
  else
    this->Deactivate();
}

template class Connector<ServiceNet>;
template class Connector<ServiceUnix>;

}  // namespace Control
