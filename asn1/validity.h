#ifndef ASN1_VALIDITY_H
#define ASN1_VALIDITY_H

// Whether a value respects its type's constraints (valid: what an
// extensible type may carry beyond its root; strictly valid: inside the
// root), and why not, in words. The coders never call these.

#include <iosfwd>
#include <sstream>

#include "asn1/visitor.h"

namespace ASN1 {

namespace detail {
// The two checkers walk alike; they differ in the test each value applies
// and in what a CHOICE may select beyond its root.
template <bool Strict>
class ValidityChecker : public ConstVisitor {
 protected:
  using ConstVisitor::do_visit;
  ASN1_CONST_VISITOR_TYPE_OPERATIONS;
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;
};
extern template class ValidityChecker<false>;
extern template class ValidityChecker<true>;
}  // namespace detail

class ValidChecker : public detail::ValidityChecker<false> {};
class StrictlyValidChecker : public detail::ValidityChecker<true> {};

// Collects the reason a value is not valid: the path to the offending part
// (".field", "[index]", ".alternative") and then what is wrong with it.
class InvalidTracer : public ConstVisitor {
 public:
  InvalidTracer() : strm_(std::ios_base::in | std::ios_base::out) {}
  std::string str() const { return strm_.str(); }

 protected:
  using ConstVisitor::do_visit;
  ASN1_CONST_VISITOR_TYPE_OPERATIONS;
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;

 private:
  // Size texts shared by the sized types; false when one was written.
  bool traceSize(char const* what, unsigned size, int lower, unsigned upper, bool checkUpper);

  std::stringstream strm_;
};

std::ostream& operator<<(std::ostream& os, InvalidTracer const& tracer);

}  // namespace ASN1

#endif
