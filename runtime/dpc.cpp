#include "runtime/dpc.h"

#include "runtime/multiplexer.h"

DpcHandler::~DpcHandler() = default;

void DpcHandler1::Invoke() {
  if (func) func();
}

Dpc::~Dpc() { Deactivate(); }

void Dpc::Bind(DpcHandler* h) {
  // Bound from inside its own call, the old handler is the one running: it
  // is destroyed here, before its Invoke returns. That is safe only because
  // no Invoke touches its handler again after the call it makes.
  std::unique_ptr<DpcHandler> old(handler.release());
  handler.reset(h);
}

void Dpc::Bind(void (*f)()) { Bind(new DpcHandler1(f)); }

void Dpc::Activate() {
  if (!active) multiplexer.attach(this);
  active = true;
}

void Dpc::Deactivate() {
  if (active) multiplexer.dettach(this);
  active = false;
}

void Dpc::Invoke() {
  if (handler) handler->Invoke();
}
