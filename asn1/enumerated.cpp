#include "asn1/enumerated.h"

#include <cstdlib>
#include <cstring>

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

namespace {
// Value of an item-name entry: its "=value" part, else previous + 1.
int entryValue(char const* entry, int previous) {
  char const* eq = std::strchr(entry, '=');
  if (!eq) return previous + 1;
  return static_cast<int>(std::strtol(eq + 1, 0, 10));
}
}  // namespace

AbstractData* ENUMERATED::create(void const* info) { return info ? new ENUMERATED(info) : 0; }

char const* ENUMERATED::getName() const {
  InfoType const* i = info();
  int value = -1;
  for (unsigned n = 0; n < i->numNames; ++n) {
    value = entryValue(i->names[n], value);
    if (value == value_) return i->names[n];
  }
  return 0;
}

bool ENUMERATED::setFromName(std::string const& name) {
  InfoType const* i = info();
  int value = -1;
  for (unsigned n = 0; n < i->numNames; ++n) {
    value = entryValue(i->names[n], value);
    if (name == i->names[n]) {
      value_ = value;
      return true;
    }
  }
  value_ = static_cast<int>(static_cast<unsigned>(getMaximum()) + 1u);
  return false;
}

int ENUMERATED::do_compare(AbstractData const& other) const {
  ENUMERATED const& o = *boost::polymorphic_downcast<ENUMERATED const*>(&other);
  return static_cast<int>(static_cast<unsigned>(value_) - static_cast<unsigned>(o.value_));
}

AbstractData* ENUMERATED::do_clone() const { return cloneOf(*this); }

bool ENUMERATED::do_accept(Visitor& v) { return v.visit(*this); }

bool ENUMERATED::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
