#ifndef ASN1_NULL_H
#define ASN1_NULL_H

#include "asn1/abstractdata.h"

namespace ASN1 {

class Null : public AbstractData, public detail::Allocator<Null> {
 public:
  static InfoType const theInfo;

  explicit Null(void const* info = &theInfo) : AbstractData(info) {}
  Null(Null const& other) : AbstractData(other) {}
  Null& operator=(Null const&) { return *this; }

  static AbstractData* create(void const* info);

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

}  // namespace ASN1

#endif
