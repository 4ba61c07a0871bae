#ifndef ASN1_OPENDATA_H
#define ASN1_OPENDATA_H

#include <vector>

#include "asn1/abstractdata.h"

namespace ASN1 {

// An open type: a value carried as length-prefixed octets. It may hold a
// decoded value, the octets, both or neither; it owns both.
class OpenData : public AbstractData, public detail::Allocator<OpenData> {
 public:
  static InfoType const theInfo;

  explicit OpenData(void const* info = &theInfo) : AbstractData(info), data_(0), buf_(0) {}
  OpenData(AbstractData* value, void const* info) : AbstractData(info), data_(value), buf_(0) {}
  OpenData(OpenData const& other);
  OpenData& operator=(OpenData const& other);
  ~OpenData() override;
  void swap(OpenData& other);

  static AbstractData* create(void const* info);

  bool has_data() const { return data_ != 0; }
  AbstractData& get_data() { return *data_; }
  AbstractData const& get_data() const { return *data_; }
  bool has_buf() const { return buf_ != 0; }
  std::vector<char>& get_buf() { return *buf_; }
  std::vector<char> const& get_buf() const { return *buf_; }
  // Owns `buf` as the octets, deleting those held before.
  void grab(std::vector<char>* buf);
  bool isEmpty() const { return !data_ && !buf_; }

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  AbstractData* data_;
  std::vector<char>* buf_;
};

// Open type constrained to one type (record: TypeConstrainedOpenInfo).
class TypeConstrainedOpenData : public OpenData {
 public:
  typedef TypeConstrainedOpenInfo InfoType;

  TypeConstrainedOpenData(AbstractData* value, void const* info) : OpenData(value, info) {}

  // An open type holding a default value of the constraining type.
  static AbstractData* create(void const* info);

  InfoType const* info() const { return static_cast<InfoType const*>(info_); }

 private:
  bool do_accept(Visitor& v) override;
};

}  // namespace ASN1

#endif
