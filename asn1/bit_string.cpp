#include "asn1/bit_string.h"

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

BIT_STRING::InfoType const BIT_STRING::theInfo = {{&BIT_STRING::create, 3}, Unconstrained, 0, 0xFFFFFFFFu};

AbstractData* BIT_STRING::create(void const* info) { return info ? new BIT_STRING(info) : 0; }

void BIT_STRING::resize(unsigned n) {
  data_.resize((static_cast<unsigned long long>(n) + 7) / 8, 0);
  bits_ = n;
}

bool BIT_STRING::operator[](unsigned index) const {
  if (index >= bits_) return false;
  return (static_cast<unsigned char>(data_[index / 8]) & (0x80u >> (index % 8))) != 0;
}

void BIT_STRING::set(unsigned index, bool value) {
  if (index >= bits_) return;
  unsigned char mask = static_cast<unsigned char>(0x80u >> (index % 8));
  if (value)
    data_[index / 8] = static_cast<char>(data_[index / 8] | mask);
  else
    data_[index / 8] = static_cast<char>(data_[index / 8] & ~mask);
}

void BIT_STRING::assign(std::vector<char> const& octets, unsigned bits) {
  data_ = octets;
  resize(bits);
}

int BIT_STRING::do_compare(AbstractData const& other) const {
  BIT_STRING const& o = *boost::polymorphic_downcast<BIT_STRING const*>(&other);
  std::size_t const n = data_.size() < o.data_.size() ? data_.size() : o.data_.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned const a = static_cast<unsigned char>(data_[i]);
    unsigned const b = static_cast<unsigned char>(o.data_[i]);
    if (a != b) {
      unsigned const diff = a ^ b;
      return static_cast<int>(a & diff) - static_cast<int>(b & diff);
    }
  }
  return static_cast<int>(bits_ - o.bits_);
}

AbstractData* BIT_STRING::do_clone() const { return cloneOf(*this); }

bool BIT_STRING::do_accept(Visitor& v) { return v.visit(*this); }

bool BIT_STRING::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
