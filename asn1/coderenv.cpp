#include "asn1/coderenv.h"

#include <algorithm>
#include <sstream>
#include <string>

#include "asn1/abstractdata.h"
#include "asn1/avndecoder.h"
#include "asn1/avnencoder.h"
#include "asn1/berdecoder.h"
#include "asn1/berencoder.h"
#include "asn1/perdecoder.h"
#include "asn1/perencoder.h"

namespace ASN1 {

bool CoderEnv::encode(AbstractData const& value, OutputIterator out) {
  switch (encodingRule_) {
    case per:
      return encodePER(value, out);
    case ber:
      return encodeBER(value, out);
    case avn:
      return encodeAVN(value, out);
    default:
      return false;
  }
}

namespace {
// The vector behind a back-insert iterator (its protected member, reached
// the one way the language allows), so that the encoder can write into the
// caller's vector and cut its own octets off again when it fails.
struct OutputAccess : CoderEnv::OutputIterator {
  static std::vector<char>& of(CoderEnv::OutputIterator& it) { return *(it.*(&OutputAccess::container)); }
};
}  // namespace

bool CoderEnv::encodePER(AbstractData const& value, OutputIterator out) {
  std::vector<char>& target = OutputAccess::of(out);
  std::size_t const before = target.size();
  PEREncoder encoder(target, true, PEREncoder::append);
  if (!value.accept(encoder)) {
    target.resize(before);  // a failed encode writes nothing
    return false;
  }
  return true;
}

bool CoderEnv::encodeBER(AbstractData const& value, OutputIterator out) {
  std::vector<char> octets;
  BEREncoder encoder(octets);
  if (!value.accept(encoder)) return false;
  std::copy(octets.begin(), octets.end(), out);
  return true;
}

bool CoderEnv::encodeAVN(AbstractData const& value, OutputIterator out) {
  std::ostringstream text;
  AVNEncoder printer(text);
  if (!value.accept(printer)) return false;
  std::string const s = text.str();
  std::copy(s.begin(), s.end(), out);
  return true;
}

bool CoderEnv::decode(char const* begin, char const* end, AbstractData& value, bool defer) {
  CoderEnv* env = defer ? 0 : this;
  switch (encodingRule_) {
    case per: {
      PERDecoder decoder(begin, end, env, true);
      return value.accept(decoder);
    }
    case ber: {
      BERDecoder decoder(begin, end, env);
      return value.accept(decoder);
    }
    case avn: {
      std::istringstream text(std::string(begin, end));
      AVNDecoder parser(text, 0);
      return value.accept(parser);
    }
    default:
      return false;
  }
}

bool encode(AbstractData const& value, CoderEnv* env, std::back_insert_iterator<std::vector<char> > out) {
  return env && env->encode(value, out);
}

bool decode(char const* begin, char const* end, CoderEnv* env, AbstractData& value, bool defer) {
  return env && env->decode(begin, end, value, defer);
}

}  // namespace ASN1
