#include "asn1/null.h"

#include "asn1/visitor.h"

namespace ASN1 {

Null::InfoType const Null::theInfo = {&Null::create, 5};

AbstractData* Null::create(void const* info) { return info ? new Null(info) : 0; }

int Null::do_compare(AbstractData const&) const { return 0; }

AbstractData* Null::do_clone() const { return cloneOf(*this); }

bool Null::do_accept(Visitor& v) { return v.visit(*this); }

bool Null::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
