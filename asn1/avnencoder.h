#ifndef ASN1_AVNENCODER_H
#define ASN1_AVNENCODER_H

#include <iosfwd>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

// Writes a value in ASN.1 value notation (the form of the log lines).
class AVNEncoder : public ConstVisitor {
 public:
  explicit AVNEncoder(std::ostream& os) : os_(os), indent_(0) {}

 protected:
  using ConstVisitor::do_visit;
  ASN1_CONST_VISITOR_TYPE_OPERATIONS;
  bool do_visit(IntegerWithNamedNumber const& v) override;

  bool preVisitExtensionRoots(SEQUENCE const& v) override;
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;
  bool afterVisitSequence(SEQUENCE const& v) override;

 private:
  bool printOctets(std::vector<char> const& octets);

  std::ostream& os_;
  int indent_;
  std::vector<bool> hasField_;  // per SEQUENCE being printed
};

// Runs a stream operation and applies its state bits to the stream; an
// exception adds badbit (allocation failure) or failbit and is passed on
// only when the stream's exception mask asks for it.
class IOWrapper {
 public:
  virtual ~IOWrapper() {}
  void do_it(std::ios& s);

 private:
  virtual int do_real_io() = 0;
};

class InserterWrapper : public IOWrapper {
 public:
  InserterWrapper(std::ostream& os, AbstractData const& value) : os_(os), value_(value) {}

 private:
  int do_real_io() override;

  std::ostream& os_;
  AbstractData const& value_;
};

std::ostream& g_inserter(std::ostream& os, AbstractData const& value);

}  // namespace ASN1

#endif
