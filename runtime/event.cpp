#include "runtime/event.h"

Event::Handler::~Handler() = default;

Event::~Event() {
  delete handler;
  handler = nullptr;
  if (fd.is_valid()) mux_detach();
}

void Event::Bind(Handler* h) {
  // The old handler may be the one running this call; delete it only after
  // the new one is stored, and never touch it again.
  Handler* old = handler;
  handler = h;
  if (old != h) delete old;
}

void Event::UnBind() {
  Handler* old = handler;
  handler = nullptr;
  delete old;
}

void Event::Schedule(Fd given, short mask) {
  if (fd.is_valid()) mux_detach();
  fd = given;  // closes the previous own descriptor, holds a close-on-exec duplicate
  events = mask;
  if (fd.is_valid()) mux_attach();
}

int Event::Release() {
  if (fd.is_valid()) mux_detach();
  return fd.close();
}

void Event::shedule_event(pollfd& entry) {
  entry.fd = fd.lowlevel_fd();
  entry.events = events;
}

void Event::svc_event(short revents) {
  if (revents & events) ++count;
  if (handler) handler->Invoke(fd.lowlevel_fd(), revents);
}
