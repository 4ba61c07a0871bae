#include "asn1/bmpstring.h"

#include "asn1/visitor.h"

namespace ASN1 {

BMPString::InfoType const BMPString::theInfo = {
    {{&BMPString::create, 30}, Unconstrained, 0, 0xFFFFFFFFu}, 0, 65535, 16, 16};

AbstractData* BMPString::create(void const* info) { return info ? new BMPString(info) : 0; }

bool BMPString::legalCharacter(wchar_t c) const {
  unsigned long const code = static_cast<unsigned long>(c);
  return getFirstChar() <= code && code <= getLastChar();
}

BMPString::size_type BMPString::first_illegal_at() const {
  for (size_type i = 0; i < size(); ++i) {
    if (!legalCharacter((*this)[i])) return i;
  }
  return size();
}

bool BMPString::isStrictlyValid() const {
  return sizeStrictlyValid(static_cast<unsigned>(size())) && first_illegal_at() == size();
}

bool BMPString::isValid() const {
  return sizeValidUnlessExtendable(static_cast<unsigned>(size())) && first_illegal_at() == size();
}

AbstractData* BMPString::do_clone() const { return cloneOf(*this); }

bool BMPString::do_accept(Visitor& v) { return v.visit(*this); }

bool BMPString::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
