#ifndef ASN1_BOOLEAN_H
#define ASN1_BOOLEAN_H

#include "asn1/abstractdata.h"

namespace ASN1 {

class BOOLEAN : public AbstractData, public detail::Allocator<BOOLEAN> {
 public:
  static InfoType const theInfo;

  explicit BOOLEAN(void const* info = &theInfo) : AbstractData(info), value_(false) {}
  explicit BOOLEAN(bool value, void const* info = &theInfo) : AbstractData(info), value_(value) {}
  BOOLEAN(BOOLEAN const& other) : AbstractData(other), value_(other.value_) {}
  BOOLEAN& operator=(BOOLEAN const& other) {
    value_ = other.value_;
    return *this;
  }
  BOOLEAN& operator=(bool value) {
    value_ = value;
    return *this;
  }
  operator bool() const { return value_; }

  static AbstractData* create(void const* info);

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  bool value_;
};

}  // namespace ASN1

#endif
