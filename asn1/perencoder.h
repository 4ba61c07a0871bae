#ifndef ASN1_PERENCODER_H
#define ASN1_PERENCODER_H

#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

// Aligned PER writer. Bits fill each octet from the top; the last octet may
// be partly filled (its low bits stay zero).
class PEREncoder : public ConstVisitor {
public:
    // Clears `out` and writes into it.
    PEREncoder(std::vector<char>& out, bool aligned = true);

    void encodeSingleBit(bool value);
    void encodeMultiBit(unsigned value, unsigned nbits);
    void byteAlign() { bitsFree_ = 8; }
    bool aligned() const { return aligned_; }
    void encodeByte(unsigned value);
    void encodeBlock(char const* data, unsigned n);
    void encodeBitMap(std::vector<char> const& bitmap, unsigned nbits);
    bool encodeUnsigned(unsigned value, unsigned lower, unsigned upper);
    // upper 0x7FFFFFFF: no upper bound.
    bool encodeLength(unsigned len, unsigned lower, unsigned upper);
    void encodeSmallUnsigned(unsigned value);
    // Writes the extension bit of an extensible constraint; true when the
    // value goes without its constraint.
    bool encodeConstraint(ConstrainedObject const& obj, unsigned value);
    bool encodeConstrainedLength(ConstrainedObject const& obj, unsigned len);
    bool encodeAnyType(AbstractData const* value);

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

    bool preVisitExtensionRoots(SEQUENCE const& v) override;
    bool visitExtensionRoot(SEQUENCE const& v, int index) override;
    bool preVisitExtensions(SEQUENCE const& v) override;
    bool visitKnownExtension(SEQUENCE const& v, int index) override;

private:
    // A length with no bound, then the octets as an aligned block.
    bool encodeOpenOctets(char const* data, unsigned n);

    std::vector<char>& out_;
    unsigned short bitsFree_;
    bool aligned_;
};

} // namespace ASN1

#endif
