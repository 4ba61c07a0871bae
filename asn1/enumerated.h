#ifndef ASN1_ENUMERATED_H
#define ASN1_ENUMERATED_H

#include <string>

#include "asn1/abstractdata.h"

namespace ASN1 {

// An ENUMERATED value: the item's number itself (not its position).
class ENUMERATED : public AbstractData, public detail::Allocator<ENUMERATED> {
 public:
  typedef EnumeratedInfo InfoType;

  explicit ENUMERATED(void const* info) : AbstractData(info), value_(0) {}
  ENUMERATED(ENUMERATED const& other) : AbstractData(other), value_(other.value_) {}
  // Copies the value only; the record stays.
  ENUMERATED& operator=(ENUMERATED const& other) {
    value_ = other.value_;
    return *this;
  }

  static AbstractData* create(void const* info);

  InfoType const* info() const { return static_cast<InfoType const*>(info_); }

  void setFromInt(int value) { value_ = value; }
  int asInt() const { return value_; }
  int getMaximum() const { return info()->maximum; }
  bool extendable() const { return info()->extendableFlag; }

  // The item-name entry of the held value as stored ("speak=4"), or null.
  char const* getName() const;
  // Matches the whole entry text; on failure the value becomes maximum + 1.
  bool setFromName(std::string const& name);

  bool isStrictlyValid() const { return value_ <= getMaximum(); }
  bool isValid() const { return extendable() || isStrictlyValid(); }

 protected:
  int value_;

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

}  // namespace ASN1

#endif
