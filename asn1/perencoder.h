#ifndef ASN1_PERENCODER_H
#define ASN1_PERENCODER_H

#include <vector>

#include "asn1/abstractdata.h"
#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

// Aligned PER writer. Bits fill each octet from the top; the last octet may
// be partly filled (its low bits stay zero).
class PEREncoder : public ConstVisitor {
 public:
  // Clears `out` and writes into it.
  PEREncoder(std::vector<char>& out, bool aligned = true);
  // Writes after what `out` holds, from a fresh octet.
  enum AppendTag { append };
  PEREncoder(std::vector<char>& out, bool aligned, AppendTag);

  void encodeSingleBit(bool value) {
    if (bitsFree_ == 8) out_.push_back(0);
    --bitsFree_;
    if (value) out_.back() = static_cast<char>(static_cast<unsigned char>(out_.back()) | (1u << bitsFree_));
    if (bitsFree_ == 0) bitsFree_ = 8;
  }
  // The low nbits of value (at most 32), most significant first.
  void encodeMultiBit(unsigned value, unsigned nbits) {
    if (nbits == 0) return;
    if (nbits > 32) nbits = 32;
    // The bits already in the last octet and the new ones, as one number
    // of at most 39 bits, written out as whole octets.
    unsigned const used = 8u - bitsFree_;
    unsigned const total = used + nbits;
    unsigned const octets = (total + 7) / 8;
    unsigned long long acc = nbits == 32 ? value : value & ((1u << nbits) - 1);
    if (used) acc |= static_cast<unsigned long long>(static_cast<unsigned char>(out_.back()) >> bitsFree_) << nbits;
    unsigned const pad = octets * 8 - total;
    acc <<= pad;
    unsigned i = octets;
    if (used) {
      out_.back() = static_cast<char>(acc >> (8 * --i));
    }
    while (i-- > 0) out_.push_back(static_cast<char>(acc >> (8 * i)));
    bitsFree_ = static_cast<unsigned short>(pad ? pad : 8);
  }
  void byteAlign() { bitsFree_ = 8; }
  bool aligned() const { return aligned_; }
  void encodeByte(unsigned value);
  void encodeBlock(char const* data, unsigned n);
  void encodeBitMap(std::vector<char> const& bitmap, unsigned nbits);
  // The first nbits of `bytes` octets (missing octets count as zero).
  void encodeBitMap(unsigned char const* bitmap, unsigned bytes, unsigned nbits);
  // A range of up to 255 values (a bit field, the common case) is written
  // here, the others out of line.
  bool encodeUnsigned(unsigned value, unsigned lower, unsigned upper) {
    unsigned const offset = value - lower;
    if (offset > upper - lower) return false;
    if (lower == upper) return true;
    unsigned const range = upper - lower + 1;  // 0: the full 2^32 range
    if (range - 1 >= 255u) return encodeWideUnsigned(offset, range);
    encodeMultiBit(offset, CountBits(range));
    return true;
  }
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
  ASN1_CONST_VISITOR_TYPE_OPERATIONS;

  bool preVisitExtensionRoots(SEQUENCE const& v) override;
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool preVisitExtensions(SEQUENCE const& v) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;

 private:
  // encodeUnsigned of a range of 256 values or more (0: 2^32).
  bool encodeWideUnsigned(unsigned offset, unsigned range);
  // A length with no bound, then the octets as an aligned block.
  bool encodeOpenOctets(char const* data, unsigned n);

  std::vector<char>& out_;
  unsigned short bitsFree_;
  bool aligned_;
};

}  // namespace ASN1

#endif
