#ifndef ASN1_SEQUENCE_H
#define ASN1_SEQUENCE_H

#include <vector>

#include "asn1/abstractdata.h"

namespace ASN1 {

// The value of every SEQUENCE type: fields, optional and extension presence,
// all described by the type's record (SequenceInfo).
//
// Optional-field numbers: an optional root field has its fieldIds entry
// (0 .. P-1); known extension k has P + k. A number below P addresses the
// optional map, any other number - P the extension map.
class SEQUENCE : public AbstractData, public detail::Allocator<SEQUENCE> {
 public:
  typedef SequenceInfo InfoType;

  // Owned field values, root fields then known extensions; null = not made.
  // The pointer array comes from the value pool.
  class FieldVector : public std::vector<AbstractData*, detail::PoolAllocator<AbstractData*> > {
    typedef std::vector<AbstractData*, detail::PoolAllocator<AbstractData*> > Base;

   public:
    FieldVector() {}
    explicit FieldVector(size_type n) : Base(n, static_cast<AbstractData*>(0)) {}
    FieldVector(FieldVector const& other);
    ~FieldVector();
    void swap(FieldVector& other) { Base::swap(other); }

   private:
    FieldVector& operator=(FieldVector const&);
  };

  // Presence bits; bit i is in byte i / 8 under the mask 0x80 >> (i % 8).
  // Up to 64 bits live in the object itself; a longer map (only an
  // extension map can be) takes its octets from the value pool.
  class BitMap {
   public:
    BitMap() : size_(0), capacity_(InlineBytes) { bits_.word = 0; }
    BitMap(BitMap const& other);
    BitMap& operator=(BitMap const& other);
    ~BitMap() { release(); }

    // Octets added are zero; octets cut off are gone.
    void resize(unsigned n) {
      if (n <= InlineBytes * 8 && size_ == 0 && !onHeap()) {
        size_ = n;  // the local octets are all zero
        return;
      }
      resizeSlow(n);
    }
    unsigned size() const { return size_; }
    int operator[](unsigned i) const {
      if (i >= size_) return 0;
      return (data()[i / 8] >> (7 - i % 8)) & 1;
    }
    void set(unsigned i) {
      if (i < size_) data()[i / 8] = static_cast<unsigned char>(data()[i / 8] | (0x80u >> (i % 8)));
    }
    void clear(unsigned i) {
      if (i < size_) data()[i / 8] = static_cast<unsigned char>(data()[i / 8] & ~(0x80u >> (i % 8)));
    }
    bool any() const;
    void swap(BitMap& other);

    // The octets of the map, (size() + 7) / 8 of them.
    unsigned char* data() { return onHeap() ? bits_.heap : bits_.local; }
    unsigned char const* data() const { return onHeap() ? bits_.heap : bits_.local; }
    unsigned byteCount() const { return static_cast<unsigned>((size_ + 7ull) / 8); }

   private:
    static unsigned const InlineBytes = 8;
    bool onHeap() const { return capacity_ > InlineBytes; }
    void release();
    void resizeSlow(unsigned n);

    unsigned size_;
    unsigned capacity_;  // octets of storage; InlineBytes: the local ones
    union {
      unsigned char local[InlineBytes];
      unsigned char* heap;
      unsigned long long word;
    } bits_;
  };

  explicit SEQUENCE(void const* info);
  SEQUENCE(SEQUENCE const& other);
  SEQUENCE& operator=(SEQUENCE const& other);
  ~SEQUENCE() override;
  void swap(SEQUENCE& other);

  static AbstractData* create(void const* info);

  InfoType const* info() const { return static_cast<InfoType const*>(info_); }
  bool extendable() const { return info()->extendableFlag; }

  // Number of root fields and of known extension fields.
  unsigned rootCount() const { return info()->numFields; }
  unsigned knownExtensionCount() const { return info()->knownExtensions; }
  unsigned fieldCount() const { return static_cast<unsigned>(fields_.size()); }

  AbstractData* getField(unsigned index) { return fields_[index]; }
  AbstractData const* getField(unsigned index) const { return fields_[index]; }
  // The field in the slot, made from its record when missing (null when the
  // record cannot make one). For the decoders.
  AbstractData* makeField(unsigned index) {
    AbstractData* f = fields_[index];
    return f ? f : createField(index);
  }
  char const* getFieldName(int index) const { return info()->fieldNames[index]; }

  bool hasOptionalField(unsigned id) const {
    unsigned const p = optionalMap_.size();
    return id < p ? optionalMap_[id] != 0 : extensionMap_[id - p] != 0;
  }
  // Marks the field present and makes it when missing; an existing value
  // stays. Returns the field.
  AbstractData* includeOptionalField(unsigned id, unsigned index);
  // Clears the presence bit only; the value stays in its slot.
  void removeOptionalField(unsigned id);

  // Presence maps, written directly by the decoders.
  BitMap const& optionalMap() const { return optionalMap_; }
  BitMap& optionalMap() { return optionalMap_; }
  BitMap const& extensionMap() const { return extensionMap_; }
  BitMap& extensionMap() { return extensionMap_; }

  // Marker of a tag table that takes each field's own tag.
  static unsigned const defaultTag[1];
  int tagMode() const;
  unsigned getFieldTag(int index) const;

 private:
  AbstractData* createField(unsigned index);

  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  FieldVector fields_;
  BitMap optionalMap_;
  BitMap extensionMap_;
};

}  // namespace ASN1

#endif
