#ifndef ASN1_INTEGER_H
#define ASN1_INTEGER_H

#include <string>

#include "asn1/abstractdata.h"

namespace ASN1 {

// A 32-bit INTEGER; the record's constraint limits the value. Accessors
// never check it: the validity checks and the encoder do.
class INTEGER : public ConstrainedObject, public detail::Allocator<INTEGER> {
 public:
  static InfoType const theInfo;  // unconstrained

  explicit INTEGER(void const* info = &theInfo) : ConstrainedObject(info), value_(0) {}
  INTEGER(int value, void const* info = &theInfo) : ConstrainedObject(info), value_(value) {}
  INTEGER(INTEGER const& other) : ConstrainedObject(other), value_(other.value_) {}
  INTEGER& operator=(INTEGER const& other) {
    value_ = other.value_;
    return *this;
  }
  INTEGER& operator=(int value) {
    value_ = value;
    return *this;
  }

  static AbstractData* create(void const* info);

  void setValue(int value) { value_ = value; }
  int getValue() const { return value_; }
  bool operator==(INTEGER const& other) const { return value_ == other.value_; }
  bool operator!=(INTEGER const& other) const { return value_ != other.value_; }

  INTEGER* clone() const { return static_cast<INTEGER*>(AbstractData::clone()); }

  bool isStrictValid() const;
  bool isValid() const;

 protected:
  int value_;

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

namespace detail {
struct FromRecord {};
}  // namespace detail

// Typed view of an INTEGER with a fixed range, held as an unsigned number
// (so 0..4294967295 fits). Its record is the one static theInfo per range.
template <ConstraintType Type, int Lower, unsigned Upper>
class Constrained_INTEGER : public INTEGER {
 public:
  static InfoType const theInfo;

  Constrained_INTEGER() : INTEGER(&theInfo) {}
  Constrained_INTEGER(unsigned value) : INTEGER(static_cast<int>(value), &theInfo) {}
  Constrained_INTEGER(void const* info, detail::FromRecord) : INTEGER(info) {}
  Constrained_INTEGER(Constrained_INTEGER const& other) : INTEGER(other) {}

  Constrained_INTEGER& operator=(Constrained_INTEGER const& other) {
    value_ = other.value_;
    return *this;
  }
  Constrained_INTEGER& operator=(unsigned value) {
    value_ = static_cast<int>(value);
    return *this;
  }
  unsigned getValue() const { return static_cast<unsigned>(value_); }

  static AbstractData* create(void const* info) {
    return info ? new Constrained_INTEGER(info, detail::FromRecord()) : 0;
  }
};

template <ConstraintType Type, int Lower, unsigned Upper>
ConstrainedInfo const Constrained_INTEGER<Type, Lower, Upper>::theInfo = {
    {&Constrained_INTEGER<Type, Lower, Upper>::create, 2}, Type, Lower, Upper};

inline unsigned operator+(unsigned n, Constrained_INTEGER<FixedConstraint, 0, 127> const& v) {
  return n + v.getValue();
}

// INTEGER whose values may have names (record: NamedNumberInfo).
class IntegerWithNamedNumber : public INTEGER {
 public:
  typedef NamedNumberInfo InfoType;
  typedef ASN1::NameEntry NameEntry;

  // Orders an entry before a value when the entry's value is smaller.
  struct NameEntryCmp {
    bool operator()(NameEntry const& e, int value) const { return e.value < value; }
  };

  explicit IntegerWithNamedNumber(void const* info) : INTEGER(info) {}
  IntegerWithNamedNumber(int value, void const* info) : INTEGER(value, info) {}
  IntegerWithNamedNumber& operator=(int value) {
    value_ = value;
    return *this;
  }

  static AbstractData* create(void const* info);

  InfoType const* info() const { return static_cast<InfoType const*>(info_); }

  // The name of the held value, if it has one.
  bool getName(std::string& name) const;
  bool setFromName(std::string const& name);

 private:
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

// Octets (1 to 4) of the shortest two's complement form of the value.
inline int getIntegerDataLength(int value) {
  // Sign bits above the top significant bit: value ^ (value >> 31) has
  // them cleared.
  unsigned const magnitude = static_cast<unsigned>(value ^ (value >> 31));
  if (magnitude >> 23) return 4;
  if (magnitude >> 15) return 3;
  if (magnitude >> 7) return 2;
  return 1;
}

}  // namespace ASN1

#endif
