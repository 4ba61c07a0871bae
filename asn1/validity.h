#ifndef ASN1_VALIDITY_H
#define ASN1_VALIDITY_H

// Whether a value respects its type's constraints (valid: what an
// extensible type may carry beyond its root; strictly valid: inside the
// root), and why not, in words. The coders never call these.

#include <iosfwd>
#include <sstream>

#include "asn1/visitor.h"

namespace ASN1 {

class ValidChecker : public ConstVisitor {
protected:
    using ConstVisitor::do_visit;
    bool do_visit(Null const& v) override;
    bool do_visit(BOOLEAN const& v) override;
    bool do_visit(INTEGER const& v) override;
    bool do_visit(ENUMERATED const& v) override;
    bool do_visit(OBJECT_IDENTIFIER const& v) override;
    bool do_visit(BIT_STRING const& v) override;
    bool do_visit(OCTET_STRING const& v) override;
    bool do_visit(AbstractString const& v) override;
    bool do_visit(BMPString const& v) override;
    bool do_visit(CHOICE const& v) override;
    bool do_visit(OpenData const& v) override;
    bool do_visit(GeneralizedTime const& v) override;
    bool do_visit(SEQUENCE_OF_Base const& v) override;
    bool visitExtensionRoot(SEQUENCE const& v, int index) override;
    bool visitKnownExtension(SEQUENCE const& v, int index) override;
};

class StrictlyValidChecker : public ConstVisitor {
protected:
    using ConstVisitor::do_visit;
    bool do_visit(Null const& v) override;
    bool do_visit(BOOLEAN const& v) override;
    bool do_visit(INTEGER const& v) override;
    bool do_visit(ENUMERATED const& v) override;
    bool do_visit(OBJECT_IDENTIFIER const& v) override;
    bool do_visit(BIT_STRING const& v) override;
    bool do_visit(OCTET_STRING const& v) override;
    bool do_visit(AbstractString const& v) override;
    bool do_visit(BMPString const& v) override;
    bool do_visit(CHOICE const& v) override;
    bool do_visit(OpenData const& v) override;
    bool do_visit(GeneralizedTime const& v) override;
    bool do_visit(SEQUENCE_OF_Base const& v) override;
    bool visitExtensionRoot(SEQUENCE const& v, int index) override;
    bool visitKnownExtension(SEQUENCE const& v, int index) override;
};

// Collects the reason a value is not valid: the path to the offending part
// (".field", "[index]", ".alternative") and then what is wrong with it.
class InvalidTracer : public ConstVisitor {
public:
    InvalidTracer() : strm_(std::ios_base::in | std::ios_base::out) {}
    std::string str() const { return strm_.str(); }

protected:
    using ConstVisitor::do_visit;
    bool do_visit(Null const& v) override;
    bool do_visit(BOOLEAN const& v) override;
    bool do_visit(INTEGER const& v) override;
    bool do_visit(ENUMERATED const& v) override;
    bool do_visit(OBJECT_IDENTIFIER const& v) override;
    bool do_visit(BIT_STRING const& v) override;
    bool do_visit(OCTET_STRING const& v) override;
    bool do_visit(AbstractString const& v) override;
    bool do_visit(BMPString const& v) override;
    bool do_visit(CHOICE const& v) override;
    bool do_visit(OpenData const& v) override;
    bool do_visit(GeneralizedTime const& v) override;
    bool do_visit(SEQUENCE_OF_Base const& v) override;
    bool visitExtensionRoot(SEQUENCE const& v, int index) override;
    bool visitKnownExtension(SEQUENCE const& v, int index) override;

private:
    // Size texts shared by the sized types; false when one was written.
    bool traceSize(char const* what, unsigned size, int lower, unsigned upper, bool checkUpper);

    std::stringstream strm_;
};

std::ostream& operator<<(std::ostream& os, InvalidTracer const& tracer);

} // namespace ASN1

#endif
