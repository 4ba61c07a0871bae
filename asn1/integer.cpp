#include "asn1/integer.h"

#include <algorithm>
#include <cstring>

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

INTEGER::InfoType const INTEGER::theInfo = {{&INTEGER::create, 2}, Unconstrained, 0, 0xFFFFFFFFu};

AbstractData* INTEGER::create(void const* info) { return info ? new INTEGER(info) : 0; }

bool INTEGER::isStrictValid() const {
  int const lb = getLowerLimit();
  if (lb < 0) return lb <= value_ && value_ <= static_cast<int>(getUpperLimit());
  // A constrained range from 0 up holds unsigned values: 0..4294967295
  // must accept its top half. The unconstrained record keeps the signed
  // lower test, so negative values fail there.
  if (constrained())
    return static_cast<unsigned>(lb) <= static_cast<unsigned>(value_) &&
           static_cast<unsigned>(value_) <= getUpperLimit();
  return lb <= value_ && static_cast<unsigned>(value_) <= getUpperLimit();
}

bool INTEGER::isValid() const { return isStrictValid() || getConstraintType() == ExtendableConstraint; }

int INTEGER::do_compare(AbstractData const& other) const {
  INTEGER const& o = *boost::polymorphic_downcast<INTEGER const*>(&other);
  return static_cast<int>(static_cast<unsigned>(value_) - static_cast<unsigned>(o.value_));
}

AbstractData* INTEGER::do_clone() const { return cloneOf(*this); }

bool INTEGER::do_accept(Visitor& v) { return v.visit(*this); }

bool INTEGER::do_accept(ConstVisitor& v) const { return v.visit(*this); }

AbstractData* IntegerWithNamedNumber::create(void const* info) { return info ? new IntegerWithNamedNumber(info) : 0; }

bool IntegerWithNamedNumber::getName(std::string& name) const {
  NameEntry const* first = info()->entries;
  NameEntry const* last = first + info()->numEntries;
  NameEntry const* e = std::lower_bound(first, last, value_, NameEntryCmp());
  if (e == last || e->value != value_) return false;
  name = e->name;
  return true;
}

bool IntegerWithNamedNumber::setFromName(std::string const& name) {
  for (unsigned i = 0; i < info()->numEntries; ++i) {
    if (name == info()->entries[i].name) {
      value_ = info()->entries[i].value;
      return true;
    }
  }
  return false;
}

bool IntegerWithNamedNumber::do_accept(Visitor& v) { return v.visit(*this); }

bool IntegerWithNamedNumber::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
