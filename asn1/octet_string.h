#ifndef ASN1_OCTET_STRING_H
#define ASN1_OCTET_STRING_H

#include <string>
#include <vector>

#include "asn1/abstractdata.h"

namespace ASN1 {

// OCTET STRING: the object is itself the byte vector.
class OCTET_STRING : public ConstrainedObject, public std::vector<char>, public detail::Allocator<OCTET_STRING> {
 public:
  typedef ConstrainedInfo InfoType;
  static InfoType const theInfo;  // unconstrained

  OCTET_STRING() : ConstrainedObject(&theInfo) {}
  explicit OCTET_STRING(void const* info) : ConstrainedObject(info) {}
  OCTET_STRING(size_type n, char octet, void const* info = &theInfo)
      : ConstrainedObject(info), std::vector<char>(n, octet) {}
  OCTET_STRING(std::vector<char> const& octets, void const* info = &theInfo)
      : ConstrainedObject(info), std::vector<char>(octets) {}
  OCTET_STRING(OCTET_STRING const& other) : ConstrainedObject(other), std::vector<char>(other) {}

  OCTET_STRING& operator=(OCTET_STRING const& other) {
    std::vector<char>::operator=(other);
    return *this;
  }
  OCTET_STRING& operator=(std::vector<char> const& octets) {
    std::vector<char>::operator=(octets);
    return *this;
  }
  operator std::string() const { return std::string(begin(), end()); }

  using ConstrainedObject::operator==;
  using ConstrainedObject::operator!=;

  static AbstractData* create(void const* info);

  InfoType const* info() const { return ConstrainedObject::info(); }

  bool isStrictlyValid() const { return sizeStrictlyValid(size()); }
  bool isValid() const { return sizeValid(size()); }

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

}  // namespace ASN1

#endif
