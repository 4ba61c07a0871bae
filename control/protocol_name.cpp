#include "control/protocol_name.h"

#include <cstring>
#include <ostream>

namespace {
const char no_name[] = "(no name)";
}

Protocol_name::~Protocol_name() = default;

void Protocol_name::out(std::ostream& os) const { os << name(); }

std::ostream& operator<<(std::ostream& os, const Protocol_name& n) {
  n.out(os);
  return os;
}

const char* Protocol_name_null::name() const { return no_name; }

Protocol_name_str::Protocol_name_str(const char* text) : text_(text ? text : no_name) {}

bool Protocol_name_str::compare(const Protocol_name& other) const {
  return compatible(other) && std::strcmp(name(), other.name()) == 0;
}

Protocol_info::~Protocol_info() = default;

bool Protocol_info::compare_name(const Protocol_name&) const { return false; }

const Protocol_name& Protocol_info::name() const { return null_name_; }

void Protocol_info::out(std::ostream& os) const { name().out(os); }

std::ostream& operator<<(std::ostream& os, const Protocol_info& p) {
  p.out(os);
  return os;
}
