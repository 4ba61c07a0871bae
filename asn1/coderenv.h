#ifndef ASN1_CODERENV_H
#define ASN1_CODERENV_H

#include <cstring>
#include <iterator>
#include <vector>

#include <loki/AssocVector.h>

namespace ASN1 {

class AbstractData;

// An ASN.1 module known to an environment (none is ever registered).
class Module {
 public:
  virtual ~Module() {}
};

// The one door for coding whole values: the encoding rule and a registry of
// modules by name. Callers build one per call and set the rule first.
class CoderEnv {
 public:
  enum EncodingRules {
    avn = 0,  // value notation text
    ber = 1,
    per = 2  // aligned PER
  };

  struct StringListeralCmp {
    typedef char const* first_argument_type;
    typedef char const* second_argument_type;
    typedef bool result_type;
    bool operator()(char const* a, char const* b) const { return std::strcmp(a, b) < 0; }
  };
  typedef Loki::AssocVector<char const*, Module*, StringListeralCmp> ModuleRegistry;

  // No rule yet: coding fails until set_encodingRule.
  CoderEnv() : encodingRule_(-1) {}

  void set_encodingRule(int rule) { encodingRule_ = rule; }
  int get_encodingRule() const { return encodingRule_; }

  typedef std::back_insert_iterator<std::vector<char> > OutputIterator;

  // The whole encoding through `out`, or false with nothing written.
  bool encode(AbstractData const& value, OutputIterator out);
  bool encodePER(AbstractData const& value, OutputIterator out);
  bool encodeBER(AbstractData const& value, OutputIterator out);
  bool encodeAVN(AbstractData const& value, OutputIterator out);
  // Fills `value` from the octets; octets after the value are ignored.
  // `defer` true: nested decoders get no environment.
  bool decode(char const* begin, char const* end, AbstractData& value, bool defer);

 private:
  int encodingRule_;
  ModuleRegistry modules_;
};

}  // namespace ASN1

#endif
