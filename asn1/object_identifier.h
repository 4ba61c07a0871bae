#ifndef ASN1_OBJECT_IDENTIFIER_H
#define ASN1_OBJECT_IDENTIFIER_H

#include <vector>

#include "asn1/abstractdata.h"

namespace ASN1 {

class OBJECT_IDENTIFIER : public AbstractData, public detail::Allocator<OBJECT_IDENTIFIER> {
 public:
  static InfoType const theInfo;

  explicit OBJECT_IDENTIFIER(void const* info = &theInfo) : AbstractData(info) {}
  OBJECT_IDENTIFIER(OBJECT_IDENTIFIER const& other) : AbstractData(other), arcs_(other.arcs_) {}
  OBJECT_IDENTIFIER& operator=(OBJECT_IDENTIFIER const& other) {
    arcs_ = other.arcs_;
    return *this;
  }

  static AbstractData* create(void const* info);

  unsigned levels() const { return static_cast<unsigned>(arcs_.size()); }
  // The index must be below levels().
  unsigned operator[](unsigned index) const { return arcs_[index]; }
  void append(unsigned arc) { arcs_.push_back(arc); }

  // Contents octets shared by the coders, inserted at the front of `out`
  // (emptied with fewer than two arcs).
  void encodeCommon(std::vector<char>& out) const;
  // Rebuilds the arcs from contents octets; false when they end inside a
  // subidentifier or an arc does not fit in 32 bits.
  bool decodeCommon(char const* octets, unsigned count);

  bool isStrictlyValid() const { return !arcs_.empty(); }
  bool isValid() const { return !arcs_.empty(); }

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  std::vector<unsigned> arcs_;
};

}  // namespace ASN1

#endif
