#ifndef ASN1_BIT_STRING_H
#define ASN1_BIT_STRING_H

#include <vector>

#include "asn1/abstractdata.h"

namespace ASN1 {

// BIT STRING: bit i is bit 7 - (i mod 8) of octet i / 8.
class BIT_STRING : public ConstrainedObject, public detail::Allocator<BIT_STRING> {
 public:
  typedef ConstrainedInfo InfoType;
  static InfoType const theInfo;  // unconstrained

  explicit BIT_STRING(void const* info = &theInfo) : ConstrainedObject(info), bits_(0) {}
  BIT_STRING(BIT_STRING const& other) : ConstrainedObject(other), bits_(other.bits_), data_(other.data_) {}
  BIT_STRING& operator=(BIT_STRING const& other) {
    bits_ = other.bits_;
    data_ = other.data_;
    return *this;
  }

  static AbstractData* create(void const* info);

  unsigned size() const { return bits_; }
  // n bits in (n + 7) / 8 octets; new octets are zero.
  void resize(unsigned n);
  // The bit at the index, false at or beyond the count.
  bool operator[](unsigned index) const;
  // Sets one bit below the count (an index beyond it is ignored).
  void set(unsigned index, bool value = true);
  // Replaces the value by `bits` bits stored in `octets` (first bit in the
  // top of the first octet); the vector is cut or padded to fit.
  void assign(std::vector<char> const& octets, unsigned bits);
  std::vector<char> const& getData() const { return data_; }

  bool isStrictlyValid() const { return sizeStrictlyValid(bits_); }
  bool isValid() const { return sizeValid(bits_); }

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  unsigned bits_;
  std::vector<char> data_;
};

}  // namespace ASN1

#endif
