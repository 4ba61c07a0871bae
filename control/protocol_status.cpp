#include "control/protocol_status.h"

#include <ostream>

Internal_protocol_status::~Internal_protocol_status() = default;

std::ostream& operator<<(std::ostream& os, const Internal_protocol_status& s) {
  s.out(os);
  return os;
}

void Protocol_status_success::out(std::ostream& os) const { os << text_; }

void Protocol_status_error::out(std::ostream& os) const { os << text_; }
