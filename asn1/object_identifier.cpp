#include "asn1/object_identifier.h"

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

OBJECT_IDENTIFIER::InfoType const OBJECT_IDENTIFIER::theInfo = {&OBJECT_IDENTIFIER::create, 6};

AbstractData* OBJECT_IDENTIFIER::create(void const* info) { return info ? new OBJECT_IDENTIFIER(info) : 0; }

namespace {
// One subidentifier in base 128, most significant group first.
void appendSubId(std::vector<char>& out, unsigned value) {
  char groups[5];
  int n = 0;
  do {
    groups[n++] = static_cast<char>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (n > 1) out.push_back(static_cast<char>(groups[--n] | 0x80));
  out.push_back(groups[0]);
}
}  // namespace

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const {
  if (arcs_.size() < 2) {
    out.clear();
    return;
  }
  std::vector<char> contents;
  appendSubId(contents, arcs_[0] * 40 + arcs_[1]);
  for (std::size_t i = 2; i < arcs_.size(); ++i) appendSubId(contents, arcs_[i]);
  out.insert(out.begin(), contents.begin(), contents.end());
}

bool OBJECT_IDENTIFIER::decodeCommon(char const* octets, unsigned count) {
  arcs_.clear();
  if (count == 0) return true;
  arcs_.reserve(count + 1);
  arcs_.push_back(0);  // placeholder for the first arc
  unsigned i = 0;
  while (i < count) {
    unsigned value = 0;
    unsigned char c;
    do {
      if (i == count) return false;  // ended inside a subidentifier
      c = static_cast<unsigned char>(octets[i++]);
      // An arc past 32 bits would wrap into another, smaller one.
      if (value > 0x1FFFFFFu) return false;
      value = (value << 7) + (c & 0x7F);
    } while (c & 0x80);
    arcs_.push_back(value);
  }
  unsigned const first = arcs_[1];
  if (first < 40) {
    arcs_[0] = 0;
    arcs_[1] = first;
  } else if (first < 80) {
    arcs_[0] = 1;
    arcs_[1] = first - 40;
  } else {
    arcs_[0] = 2;
    arcs_[1] = first - 80;
  }
  return true;
}

int OBJECT_IDENTIFIER::do_compare(AbstractData const& other) const {
  OBJECT_IDENTIFIER const& o = *boost::polymorphic_downcast<OBJECT_IDENTIFIER const*>(&other);
  std::size_t const n = arcs_.size() < o.arcs_.size() ? arcs_.size() : o.arcs_.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (arcs_[i] != o.arcs_[i]) return static_cast<int>(arcs_[i] - o.arcs_[i]);
  }
  return static_cast<int>(arcs_.size()) - static_cast<int>(o.arcs_.size());
}

AbstractData* OBJECT_IDENTIFIER::do_clone() const { return cloneOf(*this); }

bool OBJECT_IDENTIFIER::do_accept(Visitor& v) { return v.visit(*this); }

bool OBJECT_IDENTIFIER::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
