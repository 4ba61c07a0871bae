#ifndef ASN1_PERDECODER_H
#define ASN1_PERDECODER_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "asn1/abstractdata.h"
#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

// Limits of the decoder: a count or length above them fails, equal passes.
extern unsigned const MaximumArraySize;   // SEQUENCE OF elements, extension bits
extern unsigned const MaximumStringSize;  // bits, octets, characters

namespace detail {
// Upper bound of a length that has none (the unbounded length form).
unsigned const NoUpperBound = 0x7FFFFFFFu;

// Eight octets as one number, the first on top, on either byte order.
inline std::uint64_t bigEndian64(char const* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

// A string counts as short and fixed, and goes without alignment, when ub
// characters of b bits fit in 16 bits; computed wide so that a huge bound
// cannot wrap into "short".
bool shortFixed(ConstrainedObject const& v, unsigned bitsPerChar);
}  // namespace detail

// Aligned PER reader over a range of octets; never reads past the end.
class PERDecoder : public Visitor {
 public:
  struct memento_type {
    memento_type() : position(0), bitsLeft(8) {}
    memento_type(char const* p, unsigned b) : position(p), bitsLeft(b) {}
    char const* position;  // null: nothing saved
    unsigned bitsLeft;
  };

  PERDecoder(char const* begin, char const* end, CoderEnv* env = 0, bool aligned = true);

  bool atEnd() const { return position_ >= end_; }
  bool aligned() const { return aligned_; }
  unsigned getBitsLeft() const {
    if (position_ >= end_) return 0;
    return static_cast<unsigned>(end_ - position_) * 8 - (8 - bitsLeft_);
  }
  void byteAlign();
  void setPosition(char const* p);
  void rollback(memento_type const& m);
  char const* getPosition() const { return position_; }

  // 0 when no bit is left.
  unsigned decodeSingleBit() {
    if (atEnd()) return 0;
    unsigned const bit = (static_cast<unsigned char>(*position_) >> (bitsLeft_ - 1)) & 1u;
    if (--bitsLeft_ == 0) {
      bitsLeft_ = 8;
      ++position_;
    }
    return bit;
  }
  bool decodeMultiBit(unsigned nbits, unsigned& value) {
    if (nbits > 32 || getBitsLeft() < nbits) return false;
    if (nbits == 0) {
      value = 0;
      return true;
    }
    // The eight octets from the position as one number (near the end:
    // the octets that hold the bits, zeros behind them), the bits
    // already read shifted out at the top; the field is the top nbits.
    unsigned const used = 8u - bitsLeft_;
    unsigned const total = used + nbits;
    std::uint64_t word;
    if (end_ - position_ >= 8) {
      word = detail::bigEndian64(position_);
    } else {
      word = 0;
      for (unsigned i = 0, n = (total + 7) / 8; i < n; ++i)
        word |= static_cast<std::uint64_t>(static_cast<unsigned char>(position_[i])) << (56 - 8 * i);
    }
    value = static_cast<unsigned>((word << used) >> (64 - nbits));
    position_ += total / 8;
    bitsLeft_ = static_cast<unsigned short>(8 - total % 8);
    return true;
  }
  bool decodeBitMap(std::vector<char>& bitmap, unsigned nbits);
  // Into `bytes` octets, which must hold nbits.
  bool decodeBitMap(unsigned char* bitmap, unsigned bytes, unsigned nbits);
  // Copies up to n octets (aligned first) and returns how many.
  unsigned decodeBlock(char* data, unsigned n);
  // 0 on success, -1 on failure. A range of up to 255 values (a bit field,
  // the common case) is read here, the others out of line.
  int decodeUnsigned(unsigned lower, unsigned upper, unsigned& value) {
    if (lower == upper) {
      value = lower;
      return 0;
    }
    if (atEnd()) return -1;
    unsigned const range = upper - lower + 1;  // 0: the full 2^32 range
    if (range - 1 >= 255u) return decodeWideUnsigned(lower, range, value);
    unsigned n = 0;
    if (!decodeMultiBit(CountBits(range), n)) return -1;
    value = n + lower;
    return 0;
  }
  int decodeLength(unsigned lower, unsigned upper, unsigned& len);
  bool decodeSmallUnsigned(unsigned& value);
  int decodeConstrainedLength(ConstrainedObject const& obj, unsigned& len);
  bool decodeChoicePreamle(CHOICE& v, memento_type& m);

 protected:
  using Visitor::do_visit;
  ASN1_VISITOR_TYPE_OPERATIONS;

  int preVisitExtensionRoots(SEQUENCE& v) override;
  int visitExtensionRoot(SEQUENCE& v, int index, int optId) override;
  int preVisitExtensions(SEQUENCE& v) override;
  int visitKnownExtension(SEQUENCE& v, int index, int optId) override;
  int visitUnknownExtensions(SEQUENCE& v) override;

 private:
  // decodeUnsigned of a range of 256 values or more (0: 2^32).
  int decodeWideUnsigned(unsigned lower, unsigned range, unsigned& value);
  // A length with no bound; false when missing.
  bool decodeOpenLength(unsigned& len);
  // A length with no bound and that many octets, all of which must be
  // present.
  bool decodeOpenOctets(std::vector<char>& octets);
  // Octets from the position to the end.
  unsigned long remaining() const;
  bool acceptWithin(AbstractData& value, char const* openEnd);
  char const* ahead(unsigned n) const;

  char const* position_;
  char const* end_;
  unsigned short bitsLeft_;
  bool aligned_;
};

}  // namespace ASN1

#endif
