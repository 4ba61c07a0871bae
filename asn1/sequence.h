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
    class FieldVector : public std::vector<AbstractData*> {
    public:
        FieldVector() {}
        FieldVector(FieldVector const& other);
        ~FieldVector();
        void swap(FieldVector& other) { std::vector<AbstractData*>::swap(other); }

    private:
        FieldVector& operator=(FieldVector const&);
    };

    // Presence bits; bit i is in byte i / 8 under the mask 0x80 >> (i % 8).
    class BitMap {
    public:
        BitMap() : size_(0) {}
        void resize(unsigned n);
        unsigned size() const { return size_; }
        int operator[](unsigned i) const;
        void set(unsigned i);
        void clear(unsigned i);
        bool any() const;
        void swap(BitMap& other);
        std::vector<char> const& bytes() const { return bytes_; }
        std::vector<char>& bytes() { return bytes_; }

    private:
        unsigned size_;
        std::vector<char> bytes_;
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
    AbstractData* makeField(unsigned index);
    char const* getFieldName(int index) const { return info()->fieldNames[index]; }

    bool hasOptionalField(unsigned id) const;
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
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

    FieldVector fields_;
    BitMap optionalMap_;
    BitMap extensionMap_;
};

} // namespace ASN1

#endif
