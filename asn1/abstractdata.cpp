#include "asn1/abstractdata.h"

#include <ios>
#include <sstream>

#include "asn1/avnencoder.h"

namespace ASN1 {

std::string AbstractData::asValueNotation() const {
  std::ostringstream os;
  print_on(os);
  return os.str();
}

int AbstractData::print_on(std::ostream& os) const {
  AVNEncoder printer(os);
  return accept(printer) ? 0 : static_cast<int>(std::ios_base::failbit);
}

bool ConstrainedObject::sizeStrictlyValid(unsigned size) const {
  return static_cast<unsigned>(getLowerLimit()) <= size && size <= getUpperLimit();
}

bool ConstrainedObject::sizeValid(unsigned size) const {
  if (size < static_cast<unsigned>(getLowerLimit())) return false;
  return getConstraintType() != FixedConstraint || size <= getUpperLimit();
}

bool ConstrainedObject::sizeValidUnlessExtendable(unsigned size) const {
  if (size < static_cast<unsigned>(getLowerLimit())) return false;
  return extendable() || size <= getUpperLimit();
}

int lexicographic_compare_bytes(char const* b1, char const* e1, char const* b2, char const* e2) {
  for (; b1 != e1 && b2 != e2; ++b1, ++b2) {
    if (*b1 != *b2) return static_cast<unsigned char>(*b1) - static_cast<unsigned char>(*b2);
  }
  if (b1 == e1) return b2 == e2 ? 0 : -1;
  return 1;
}

std::ostream& operator<<(std::ostream& os, AbstractData const& value) {
  if (!os.good()) return os;
  return g_inserter(os, value);
}

}  // namespace ASN1
