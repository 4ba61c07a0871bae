#include "asn1/sequence.h"

#include <cstring>
#include <utility>

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

unsigned const SEQUENCE::defaultTag[1] = {0};

SEQUENCE::FieldVector::FieldVector(FieldVector const& other) : Base() {
  reserve(other.size());
  for (AbstractData const* f : other) push_back(f ? f->clone() : 0);
}

SEQUENCE::FieldVector::~FieldVector() {
  for (AbstractData **f = data(), **end = f + size(); f != end; ++f) delete *f;
  clear();
}

SEQUENCE::BitMap::BitMap(BitMap const& other) : size_(0), capacity_(InlineBytes) {
  bits_.word = 0;
  resize(other.size_);
  unsigned const n = byteCount();
  if (n) std::memcpy(data(), other.data(), n);
}

SEQUENCE::BitMap& SEQUENCE::BitMap::operator=(BitMap const& other) {
  if (this != &other) {
    BitMap copy(other);
    swap(copy);
  }
  return *this;
}

void SEQUENCE::BitMap::release() {
  if (onHeap()) detail::PoolAllocator<unsigned char>().deallocate(bits_.heap, capacity_);
  capacity_ = InlineBytes;
  bits_.word = 0;
}

void SEQUENCE::BitMap::resizeSlow(unsigned n) {
  unsigned const old = byteCount();
  unsigned const bytes = static_cast<unsigned>((n + 7ull) / 8);
  if (bytes > capacity_) {
    unsigned char* fresh = detail::PoolAllocator<unsigned char>().allocate(bytes);
    std::memcpy(fresh, data(), old);
    std::memset(fresh + old, 0, bytes - old);
    release();
    bits_.heap = fresh;
    capacity_ = bytes;
  } else if (bytes < old) {
    // Octets beyond the map stay zero, so growing again adds zeros.
    std::memset(data() + bytes, 0, old - bytes);
  }
  size_ = n;
}

bool SEQUENCE::BitMap::any() const {
  unsigned char const* d = data();
  unsigned const whole = size_ / 8;
  for (unsigned i = 0; i < whole; ++i) {
    if (d[i]) return true;
  }
  unsigned const rest = size_ % 8;
  return rest && (d[whole] & (0xFF00u >> rest) & 0xFFu) != 0;
}

void SEQUENCE::BitMap::swap(BitMap& other) {
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
  std::swap(bits_.word, other.bits_.word);
}

SEQUENCE::SEQUENCE(void const* info)
    : AbstractData(info),
      fields_(static_cast<SequenceInfo const*>(info)->numFields +
              static_cast<SequenceInfo const*>(info)->knownExtensions) {
  InfoType const* i = this->info();
  optionalMap_.resize(i->numOptional);
  // Locals: the create calls could write anywhere, as far as the compiler
  // knows, so it would load the record's words again for every field.
  unsigned const roots = i->numFields;
  unsigned const* const ids = i->fieldIds;
  void const* const* const infos = i->fieldInfos;
  AbstractData** const slots = fields_.data();
  for (unsigned n = 0; n < roots; ++n) {
    if (ids[n] == MandatoryField) slots[n] = AbstractData::create(infos[n]);
  }
  if (i->extensionPreset) {
    extensionMap_.resize(i->knownExtensions);
    for (unsigned k = 0; k < extensionMap_.byteCount(); ++k)
      extensionMap_.data()[k] = static_cast<unsigned char>(i->extensionPreset[k]);
    for (unsigned k = 0; k < i->knownExtensions; ++k) {
      if (extensionMap_[k]) fields_[i->numFields + k] = AbstractData::create(i->fieldInfos[i->numFields + k]);
    }
  }
}

SEQUENCE::SEQUENCE(SEQUENCE const& other)
    : AbstractData(other),
      fields_(other.fields_),
      optionalMap_(other.optionalMap_),
      extensionMap_(other.extensionMap_) {}

SEQUENCE& SEQUENCE::operator=(SEQUENCE const& other) {
  if (this != &other) {
    FieldVector fields(other.fields_);
    BitMap optionalMap(other.optionalMap_);
    BitMap extensionMap(other.extensionMap_);
    fields_.swap(fields);
    optionalMap_.swap(optionalMap);
    extensionMap_.swap(extensionMap);
  }
  return *this;
}

SEQUENCE::~SEQUENCE() {}

void SEQUENCE::swap(SEQUENCE& other) {
  fields_.swap(other.fields_);
  optionalMap_.swap(other.optionalMap_);
  extensionMap_.swap(other.extensionMap_);
}

AbstractData* SEQUENCE::create(void const* info) { return info ? new SEQUENCE(info) : 0; }

AbstractData* SEQUENCE::createField(unsigned index) {
  fields_[index] = AbstractData::create(info()->fieldInfos[index]);
  return fields_[index];
}

AbstractData* SEQUENCE::includeOptionalField(unsigned id, unsigned index) {
  if (id < optionalMap_.size()) {
    optionalMap_.set(id);
  } else {
    unsigned const k = id - optionalMap_.size();
    if (extensionMap_.size() <= k) extensionMap_.resize(k + 1);
    extensionMap_.set(k);
  }
  return makeField(index);
}

void SEQUENCE::removeOptionalField(unsigned id) {
  if (id < optionalMap_.size())
    optionalMap_.clear(id);
  else
    extensionMap_.clear(id - optionalMap_.size());
}

int SEQUENCE::tagMode() const {
  if (!info()->tags) return 0;
  return info()->tags == defaultTag ? 2 : 1;
}

unsigned SEQUENCE::getFieldTag(int index) const {
  switch (tagMode()) {
    case 0:
      return static_cast<unsigned>(index) | 0x800000u;
    case 2:
      return static_cast<CommonInfo const*>(info()->fieldInfos[index])->tag;
    default:
      return info()->tags[index];
  }
}

int SEQUENCE::do_compare(AbstractData const& other) const {
  SEQUENCE const& o = *boost::polymorphic_downcast<SEQUENCE const*>(&other);
  InfoType const* i = info();
  // Root fields, then known extensions (numbered on from the optional
  // roots); an absent field on either side compares by presence.
  for (unsigned n = 0; n < fields_.size(); ++n) {
    unsigned const id = n < i->numFields ? i->fieldIds[n] : i->numOptional + (n - i->numFields);
    int r;
    if (id != MandatoryField && (!hasOptionalField(id) || !o.hasOptionalField(id)))
      r = static_cast<int>(hasOptionalField(id)) - static_cast<int>(o.hasOptionalField(id));
    else
      r = fields_[n] && o.fields_[n] ? fields_[n]->compare(*o.fields_[n]) : (fields_[n] != 0) - (o.fields_[n] != 0);
    if (r != 0) return r;
  }
  return 0;
}

AbstractData* SEQUENCE::do_clone() const { return cloneOf(*this); }

bool SEQUENCE::do_accept(Visitor& v) { return v.visit(*this); }

bool SEQUENCE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
