#ifndef ASN1_AVNDECODER_H
#define ASN1_AVNDECODER_H

#include <iosfwd>
#include <string>
#include <vector>

#include "asn1/avnencoder.h"
#include "asn1/visitor.h"

namespace ASN1 {

// Reads a value in ASN.1 value notation (what AVNEncoder writes) into an
// existing value. Nothing is rolled back on failure.
class AVNDecoder : public Visitor {
 public:
  AVNDecoder(std::istream& is, CoderEnv* env);

 protected:
  using Visitor::do_visit;
  ASN1_VISITOR_TYPE_OPERATIONS;
  bool do_visit(IntegerWithNamedNumber& v) override;

  int preVisitExtensionRoots(SEQUENCE& v) override;
  int visitExtensionRoot(SEQUENCE& v, int index, int optId) override;
  int visitKnownExtension(SEQUENCE& v, int index, int optId) override;
  int visitUnknownExtensions(SEQUENCE& v) override;

 private:
  // The next character that is not white space.
  bool getChar(char& c);
  bool peekChar(char& c);
  // A word up to white space, or up to a "," or "}" (put back) that does
  // not start it: the printer writes "clkSel0 internal," with the comma
  // right behind a name, and text may close right behind one
  // ("error : slotIdBusy}").
  bool getWord(std::string& word);
  // Letters, white space between them skipped, up to a non-letter.
  bool getLetters(std::string& word);

  std::istream& is_;
  std::vector<std::string> names_;  // field name read last, per SEQUENCE
};

class ExtractorWrapper : public IOWrapper {
 public:
  ExtractorWrapper(std::istream& is, AbstractData& value) : is_(is), value_(value) {}

 private:
  int do_real_io() override;

  std::istream& is_;
  AbstractData& value_;
};

std::istream& g_extractor(std::istream& is, AbstractData& value);

}  // namespace ASN1

#endif
