#include "asn1/boolean.h"

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

BOOLEAN::InfoType const BOOLEAN::theInfo = {&BOOLEAN::create, 1};

AbstractData* BOOLEAN::create(void const* info) { return info ? new BOOLEAN(info) : 0; }

int BOOLEAN::do_compare(AbstractData const& other) const {
  BOOLEAN const& o = *boost::polymorphic_downcast<BOOLEAN const*>(&other);
  return static_cast<int>(value_) - static_cast<int>(o.value_);
}

AbstractData* BOOLEAN::do_clone() const { return cloneOf(*this); }

bool BOOLEAN::do_accept(Visitor& v) { return v.visit(*this); }

bool BOOLEAN::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
