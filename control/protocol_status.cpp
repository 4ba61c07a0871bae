#include "control/protocol_status.h"

#include <ostream>

Internal_protocol_status::~Internal_protocol_status() = default;

std::ostream& operator<<(std::ostream& os, const Internal_protocol_status& s) {
  s.out(os);
  return os;
}

void Protocol_status_text::out(std::ostream& os) const { os << text_; }
