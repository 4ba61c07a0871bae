#include "asn1/opendata.h"

#include <algorithm>

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

OpenData::InfoType const OpenData::theInfo = {&OpenData::create, 0};

OpenData::OpenData(OpenData const& other)
    : AbstractData(other),
      data_(other.data_ ? other.data_->clone() : 0),
      buf_(other.buf_ ? new std::vector<char>(*other.buf_) : 0) {}

OpenData& OpenData::operator=(OpenData const& other) {
  if (this != &other) {
    OpenData copy(other);
    swap(copy);
  }
  return *this;
}

OpenData::~OpenData() {
  delete data_;
  delete buf_;
}

void OpenData::swap(OpenData& other) {
  std::swap(data_, other.data_);
  std::swap(buf_, other.buf_);
}

AbstractData* OpenData::create(void const* info) { return info ? new OpenData(info) : 0; }

void OpenData::grab(std::vector<char>* buf) {
  if (buf != buf_) delete buf_;
  buf_ = buf;
}

int OpenData::do_compare(AbstractData const& other) const {
  OpenData const& o = *boost::polymorphic_downcast<OpenData const*>(&other);
  if (data_ && o.data_) return data_->compare(*o.data_);
  if (buf_ && o.buf_)
    return lexicographic_compare_bytes(buf_->data(), buf_->data() + buf_->size(), o.buf_->data(),
                                       o.buf_->data() + o.buf_->size());
  if (isEmpty() && o.isEmpty()) return 0;
  return data_ ? 1 : -1;
}

AbstractData* OpenData::do_clone() const { return cloneOf(*this); }

bool OpenData::do_accept(Visitor& v) { return v.visit(*this); }

bool OpenData::do_accept(ConstVisitor& v) const { return v.visit(*this); }

AbstractData* TypeConstrainedOpenData::create(void const* info) {
  if (!info) return 0;
  void const* type = static_cast<TypeConstrainedOpenInfo const*>(info)->typeInfo;
  return new TypeConstrainedOpenData(AbstractData::create(type), info);
}

bool TypeConstrainedOpenData::do_accept(Visitor& v) { return v.visit(*this); }

}  // namespace ASN1
