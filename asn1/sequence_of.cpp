#include "asn1/sequence_of.h"

#include <algorithm>

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

SEQUENCE_OF_Base::SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other) : ConstrainedObject(other) {
  container_.reserve(other.container_.size());
  for (AbstractData const* e : other.container_) container_.push_back(e->clone());
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(SEQUENCE_OF_Base const& other) {
  if (this != &other) {
    Container copy;
    copy.reserve(other.container_.size());
    for (AbstractData const* e : other.container_) copy.push_back(e->clone());
    container_.swap(copy);
    for (AbstractData* e : copy) delete e;
  }
  return *this;
}

SEQUENCE_OF_Base::~SEQUENCE_OF_Base() { clear(); }

AbstractData* SEQUENCE_OF_Base::create(void const* info) { return info ? new SEQUENCE_OF_Base(info) : 0; }

void SEQUENCE_OF_Base::resize(size_type n) {
  if (container_.size() > n) {
    erase(container_.begin() + static_cast<std::ptrdiff_t>(n), container_.end());
    return;
  }
  container_.reserve(n);
  while (container_.size() < n) {
    AbstractData* e = createElement();
    if (!e) return;
    container_.push_back(e);
  }
}

void SEQUENCE_OF_Base::insert(iterator position, size_type n, AbstractData const& x) {
  Container copies;
  copies.reserve(n);
  create_from0 make(x);
  for (size_type i = 0; i < n; ++i) copies.push_back(make());
  container_.insert(position, copies.begin(), copies.end());
}

void SEQUENCE_OF_Base::insert(iterator position, const_iterator first, const_iterator last) {
  Container copies;
  copies.reserve(static_cast<size_type>(last - first));
  std::transform(first, last, std::back_inserter(copies), create_from_ptr());
  container_.insert(position, copies.begin(), copies.end());
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::erase(iterator first, iterator last) {
  for (iterator it = first; it != last; ++it) delete *it;
  return container_.erase(first, last);
}

void SEQUENCE_OF_Base::clear() {
  for (AbstractData* e : container_) delete e;
  container_.clear();
}

int SEQUENCE_OF_Base::do_compare(AbstractData const& other) const {
  SEQUENCE_OF_Base const& o = *boost::polymorphic_downcast<SEQUENCE_OF_Base const*>(&other);
  size_type const n = std::min(size(), o.size());
  for (size_type i = 0; i < n; ++i) {
    int const r = container_[i]->compare(*o.container_[i]);
    if (r != 0) return r;
  }
  return static_cast<int>(size()) - static_cast<int>(o.size());
}

AbstractData* SEQUENCE_OF_Base::do_clone() const { return cloneOf(*this); }

bool SEQUENCE_OF_Base::do_accept(Visitor& v) { return v.visit(*this); }

bool SEQUENCE_OF_Base::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
