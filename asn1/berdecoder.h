#ifndef ASN1_BERDECODER_H
#define ASN1_BERDECODER_H

#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

// Basic encoding rules reader over a range of octets. Input is hostile:
// every header must lie inside the input and inside the value enclosing it,
// the indefinite length form is refused, and nothing is read past the end.
class BERDecoder : public Visitor {
 public:
  BERDecoder(char const* begin, char const* end, CoderEnv* env = 0);

  bool atEnd() const { return position_ >= limit(); }
  void rollback(char const* p) { position_ = p; }
  char const* getPosition() const { return position_; }
  // False when no octet is left inside the current value.
  bool decodeByte(unsigned char& octet);
  // Copies min(n, octets left) octets and returns the count.
  unsigned decodeBlock(char* data, unsigned n);
  // Identifier and length octets; the contents must follow in full.
  bool decodeHeader(unsigned& tag, bool& primitive, unsigned& length);
  // A header that must carry the value's own tag (or any tag while the
  // tolerance count is above 0, which a field or alternative tag uses up).
  bool decodeHeader(AbstractData const& v, unsigned& length);
  bool decodeChoicePreamle(CHOICE& v, char const*& alternativeEnd);

 protected:
  using Visitor::do_visit;
  ASN1_VISITOR_TYPE_OPERATIONS;

  int preVisitExtensionRoots(SEQUENCE& v) override;
  int visitExtensionRoot(SEQUENCE& v, int index, int optId) override;
  int visitKnownExtension(SEQUENCE& v, int index, int optId) override;
  int visitUnknownExtensions(SEQUENCE& v) override;

 private:
  // End of the innermost value being read (or of the input).
  char const* limit() const { return ends_.empty() ? end_ : ends_.back(); }
  unsigned long left() const { return static_cast<unsigned long>(limit() - position_); }
  // A two's complement number of 1 to 4 octets (5 with a leading 00
  // when `unsignedForm`).
  bool decodeNumber(unsigned length, bool unsignedForm, int& value);
  // The contents of a string type.
  bool decodeContents(AbstractData const& v, std::vector<char>& octets);

  char const* position_;
  char const* end_;
  std::vector<char const*> ends_;  // ends of the constructed values being read
  unsigned tolerance_;
};

}  // namespace ASN1

#endif
