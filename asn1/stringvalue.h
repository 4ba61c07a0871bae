#ifndef ASN1_STRINGVALUE_H
#define ASN1_STRINGVALUE_H

#include <boost/polymorphic_cast.hpp>

#include "asn1/abstractdata.h"

namespace ASN1 {
namespace detail {

// What the string value classes share: a size-constrained value that is its
// own standard string (of octets or of wide characters), copied with it and
// compared as that string. Comparison and equality of the value are the
// value's, not the string's.
template <class Str>
class StringValue : public ConstrainedObject, public Str {
 public:
  using ConstrainedObject::operator==;
  using ConstrainedObject::operator!=;
  using ConstrainedObject::compare;

  explicit StringValue(void const* info) : ConstrainedObject(info) {}
  StringValue(void const* info, Str const& text) : ConstrainedObject(info), Str(text) {}
  StringValue(void const* info, typename Str::value_type const* text) : ConstrainedObject(info), Str(text) {}
  StringValue(StringValue const& other) : ConstrainedObject(other), Str(other) {}

 protected:
  // The characters; the record stays.
  StringValue& operator=(StringValue const& other) {
    Str::operator=(other);
    return *this;
  }

 private:
  int do_compare(AbstractData const& other) const override {
    return Str::compare(*boost::polymorphic_downcast<StringValue const*>(&other));
  }
};

}  // namespace detail
}  // namespace ASN1

#endif
