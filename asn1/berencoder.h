#ifndef ASN1_BERENCODER_H
#define ASN1_BERENCODER_H

// Basic encoding rules, definite lengths only. A tag is held in 32 bits: the
// tag number in the low 16 bits, the class bits of the identifier octet
// (0x00, 0x40, 0x80, 0xC0) in bits 16 to 23.

#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

namespace ber {
unsigned const ContextClass = 0x800000u;
// Pending tag of the encoder: the value's own tag.
unsigned const OwnTag = 0xFFFFFFFFu;

// An INTEGER whose constraint starts at 0 or above is coded as the unsigned
// number (4294967295 in 0..4294967295 is 00 FF FF FF FF), so that every
// other reader takes it for the same number.
bool codedUnsigned(INTEGER const& v);
// Octets of the contents of an INTEGER.
unsigned integerLength(INTEGER const& v);
}  // namespace ber

// Contents length of a value; the whole object length of a value under a tag.
class DataLengthCounter : public ConstVisitor {
 public:
  DataLengthCounter() : len_(0) {}
  unsigned getDataLen() const { return len_; }
  // Identifier and length octets plus the contents.
  unsigned getObjectLen(unsigned tag) const;

 protected:
  using ConstVisitor::do_visit;
  ASN1_CONST_VISITOR_TYPE_OPERATIONS;

  bool preVisitExtensionRoots(SEQUENCE const& v) override;
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;

 private:
  unsigned len_;
};

// Tells a primitive encoding (true) from a constructed one (false).
class PrimitiveChecker : public ConstVisitor {
 protected:
  using ConstVisitor::do_visit;
  bool do_visit(AbstractData const&) override { return true; }
  bool do_visit(CHOICE const& v) override;
  bool do_visit(OpenData const& v) override;
  bool do_visit(SEQUENCE_OF_Base const& v) override;
  bool preVisitExtensionRoots(SEQUENCE const& v) override;
};

// Octets of the identifier and of the length field.
unsigned berTagLength(unsigned tag);
unsigned berLengthLength(unsigned length);

class BEREncoder : public ConstVisitor {
 public:
  // Clears the vector and reserves room.
  explicit BEREncoder(std::vector<char>& out);

  void encodeByte(unsigned octet) { out_.push_back(static_cast<char>(octet)); }
  void encodeBlock(char const* data, unsigned n) { out_.insert(out_.end(), data, data + n); }
  // Identifier and length octets of the value under the pending tag.
  void encodeHeader(AbstractData const& v);

 protected:
  using ConstVisitor::do_visit;
  ASN1_CONST_VISITOR_TYPE_OPERATIONS;

  bool preVisitExtensionRoots(SEQUENCE const& v) override;
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;

 private:
  void encodeHeader(unsigned tag, bool constructed, unsigned length);
  void encodeSigned(long long value, unsigned octets);

  std::vector<char>& out_;
  unsigned tag_;  // pending: OwnTag, 0 for no header, or a tag
};

}  // namespace ASN1

#endif
