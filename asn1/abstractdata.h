#ifndef ASN1_ABSTRACTDATA_H
#define ASN1_ABSTRACTDATA_H

#include <iosfwd>
#include <iterator>
#include <string>
#include <vector>

#include "asn1/allocator.h"
#include "asn1/typeinfo.h"

namespace ASN1 {

class Visitor;
class ConstVisitor;
class CoderEnv;

// Base of every ASN.1 value. It holds only the pointer to its type's record.
class AbstractData {
 public:
  typedef CommonInfo InfoType;

  virtual ~AbstractData() {}

  // A new default value of the record's type, or null for a null record
  // (or a record without a create function). Owned by the caller. Inline:
  // the decoders make every field through it.
  static AbstractData* create(void const* info) {
    if (!info) return 0;
    CreateFun const fn = static_cast<CommonInfo const*>(info)->create;
    return fn ? fn(info) : 0;
  }

  int compare(AbstractData const& other) const { return do_compare(other); }
  bool operator==(AbstractData const& other) const { return compare(other) == 0; }
  bool operator!=(AbstractData const& other) const { return compare(other) != 0; }

  // Deep copy, of the class the record creates, owned by the caller.
  AbstractData* clone() const { return do_clone(); }

  bool accept(Visitor& v) { return do_accept(v); }
  bool accept(ConstVisitor& v) const { return do_accept(v); }

  unsigned getTag() const { return info()->tag; }
  InfoType const* info() const { return static_cast<InfoType const*>(info_); }
  void const* infoPtr() const { return info_; }

  // Value notation: the text (whatever was written before a failure), or
  // printed to a stream, 0 on success and failbit on failure.
  std::string asValueNotation() const;
  int print_on(std::ostream& os) const;
  // Reads value notation into the value: 0 (or true) on success, failbit
  // (or false) on failure, with whatever was read before it kept.
  int get_from(std::istream& is);
  bool setFromValueNotation(std::string const& text);

  // Whether the value respects its constraints, beyond the root of an
  // extensible type (valid) or inside it (strictly valid).
  bool isValid() const;
  bool isStrictlyValid() const;

 protected:
  explicit AbstractData(void const* info) : info_(info) {}
  AbstractData(AbstractData const& other) : info_(other.info_) {}
  // Assignment copies values, never the record.
  AbstractData& operator=(AbstractData const&) { return *this; }

  // A new value from this value's record, for do_clone; null when the
  // record cannot make one.
  AbstractData* createSame() const { return create(info_); }

  // do_clone of a class T: a value made by the record (so of the class
  // the record's users expect) given T's value; a plain T copy when the
  // record makes none.
  template <class T>
  static AbstractData* cloneOf(T const& self) {
    AbstractData* made = self.createSame();
    if (!made) return new T(self);
    static_cast<T&>(*made) = self;
    return made;
  }

  void const* info_;

 private:
  virtual int do_compare(AbstractData const& other) const = 0;
  virtual AbstractData* do_clone() const = 0;
  virtual bool do_accept(Visitor& v) = 0;
  virtual bool do_accept(ConstVisitor& v) const = 0;
};

// Factory for the record of a generated class T: `new T(info)`.
template <class T>
AbstractData* createValue(void const* info) {
  return new T(info);
}

// Base of the values whose record carries a constraint.
class ConstrainedObject : public AbstractData {
 public:
  typedef ConstrainedInfo InfoType;

  InfoType const* info() const { return static_cast<InfoType const*>(info_); }
  ConstraintType getConstraintType() const { return info()->type; }
  bool constrained() const { return info()->type != Unconstrained; }
  bool extendable() const { return info()->type == ExtendableConstraint; }
  int getLowerLimit() const { return info()->lowerLimit; }
  unsigned getUpperLimit() const { return info()->upperLimit; }

 protected:
  explicit ConstrainedObject(void const* info) : AbstractData(info) {}
  ConstrainedObject(ConstrainedObject const& other) : AbstractData(other) {}
  ConstrainedObject& operator=(ConstrainedObject const&) { return *this; }

  // lower <= size <= upper (strict), or without the upper test unless the
  // constraint is fixed (lenient), or unless it is extendable (the
  // lenient test of strings and lists); sizes compared unsigned.
  bool sizeStrictlyValid(unsigned size) const;
  bool sizeValid(unsigned size) const;
  bool sizeValidUnlessExtendable(unsigned size) const;
};

// Least b in 0..31 with 2^b >= n; 32 for 0 and for n above 2^31. The bits
// below the top bit of n - 1 are filled in and counted: n - 1 wraps to all
// ones for 0, and has its top bit set above 2^31, so both count 32.
inline unsigned CountBits(unsigned n) {
  unsigned x = n - 1;
  x |= x >> 1;
  x |= x >> 2;
  x |= x >> 4;
  x |= x >> 8;
  x |= x >> 16;
  return static_cast<unsigned>(__builtin_popcount(x));
}

// Byte-wise three-way comparison of two ranges (octets unsigned).
int lexicographic_compare_bytes(char const* b1, char const* e1, char const* b2, char const* e2);

// Coding entry points (rule chosen by the environment). A null environment
// fails.
bool encode(AbstractData const& value, CoderEnv* env, std::back_insert_iterator<std::vector<char> > out);
bool decode(char const* begin, char const* end, CoderEnv* env, AbstractData& value, bool defer);

// Value notation of a value; nothing happens on a stream that is not good.
std::ostream& operator<<(std::ostream& os, AbstractData const& value);
std::istream& operator>>(std::istream& is, AbstractData& value);

// True when the value is valid; otherwise writes the text, why it is not
// and an end of line, and returns false.
bool trace_invalid(std::ostream& os, char const* text, AbstractData const& value);

// BER lengths: of the contents, and of the whole object under a tag (0: the
// contents alone; 0xFFFFFFFF: the value's own tag).
unsigned getDataLength(AbstractData const& value);
unsigned getObjectLength(AbstractData const& value, unsigned tag);

}  // namespace ASN1

#endif
