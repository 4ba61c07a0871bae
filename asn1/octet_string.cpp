#include "asn1/octet_string.h"

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

OCTET_STRING::InfoType const OCTET_STRING::theInfo = {{&OCTET_STRING::create, 4}, Unconstrained, 0, 0xFFFFFFFFu};

AbstractData* OCTET_STRING::create(void const* info) { return info ? new OCTET_STRING(info) : 0; }

int OCTET_STRING::do_compare(AbstractData const& other) const {
  OCTET_STRING const& o = *boost::polymorphic_downcast<OCTET_STRING const*>(&other);
  return lexicographic_compare_bytes(data(), data() + size(), o.data(), o.data() + o.size());
}

AbstractData* OCTET_STRING::do_clone() const { return cloneOf(*this); }

bool OCTET_STRING::do_accept(Visitor& v) { return v.visit(*this); }

bool OCTET_STRING::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
