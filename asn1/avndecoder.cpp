#include "asn1/avndecoder.h"

#include <cctype>
#include <cstdlib>
#include <ios>
#include <istream>
#include <locale>
#include <sstream>

#include "asn1/asn1.h"
#include "asn1/literals.h"

namespace ASN1 {

AVNDecoder::AVNDecoder(std::istream& is, CoderEnv* env) : Visitor(env), is_(is) {}

bool AVNDecoder::getChar(char& c) {
  std::locale const loc = is_.getloc();
  while (is_.get(c)) {
    if (!std::isspace(c, loc)) return true;
  }
  return false;
}

bool AVNDecoder::peekChar(char& c) {
  if (!getChar(c)) return false;
  is_.putback(c);
  return true;
}

bool AVNDecoder::getWord(std::string& word) {
  word.clear();
  char c;
  if (!getChar(c)) return false;
  word += c;
  std::locale const loc = is_.getloc();
  while (is_.get(c)) {
    if (std::isspace(c, loc)) break;
    if (c == ',' || c == '}') {
      is_.putback(c);
      break;
    }
    word += c;
  }
  is_.clear(is_.rdstate() & ~std::ios_base::failbit);  // a word may end the text
  return true;
}

bool AVNDecoder::getLetters(std::string& word) {
  word.clear();
  char c;
  while (peekChar(c) && std::isalpha(static_cast<unsigned char>(c))) {
    is_.get(c);
    word += c;
  }
  is_.clear(is_.rdstate() & ~std::ios_base::failbit);
  return !word.empty();
}

bool AVNDecoder::do_visit(Null&) {
  std::string word;
  return getLetters(word) && word == "NULL";
}

bool AVNDecoder::do_visit(BOOLEAN& v) {
  std::string word;
  if (!getLetters(word)) return false;
  if (word == "TRUE")
    v = true;
  else if (word == "FALSE")
    v = false;
  else
    return false;
  return true;
}

bool AVNDecoder::do_visit(INTEGER& v) {
  // The printer's form: unsigned above a lower bound of 0 or more.
  if (v.constrained() && v.getLowerLimit() >= 0) {
    unsigned n = 0;
    is_ >> n;
    v.setValue(static_cast<int>(n));
  } else {
    int n = 0;
    is_ >> n;
    v.setValue(n);
  }
  return input_success(is_);
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& v) {
  char c;
  if (!peekChar(c)) return false;
  if (!std::isdigit(static_cast<unsigned char>(c)) && c != '-') {
    std::string name;
    return getWord(name) && v.setFromName(name);
  }
  return do_visit(static_cast<INTEGER&>(v));
}

bool AVNDecoder::do_visit(ENUMERATED& v) {
  std::string name;
  return getWord(name) && v.setFromName(name);
}

namespace {
// An unsigned decimal number making up the whole text.
bool arcNumber(std::string const& text, unsigned& arc) {
  if (text.empty() || text.size() > 10) return false;
  unsigned long long n = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n > 0xFFFFFFFFull) return false;
  arc = static_cast<unsigned>(n);
  return true;
}
}  // namespace

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  char c;
  if (!getChar(c) || c != '{') return false;
  std::string body;
  if (!std::getline(is_, body, '}') || is_.eof()) return false;
  std::istringstream parts(body);
  std::vector<std::string> components;
  for (std::string part; parts >> part;) components.push_back(part);
  OBJECT_IDENTIFIER result;
  for (std::size_t i = 0; i < components.size(); ++i) {
    std::string const& part = components[i];
    unsigned arc;
    if (std::isdigit(static_cast<unsigned char>(part[0]))) {
      if (!arcNumber(part, arc)) return false;
    } else {
      // name(number) or name (number); a bare name gives no number and
      // is refused rather than guessed.
      std::string number;
      std::string::size_type const open = part.find('(');
      if (open != std::string::npos)
        number = part.substr(open);
      else if (i + 1 < components.size() && components[i + 1][0] == '(')
        number = components[++i];
      if (number.size() < 3 || number.back() != ')' || !arcNumber(number.substr(1, number.size() - 2), arc))
        return false;
    }
    result.append(arc);
  }
  v = result;
  return true;
}

bool AVNDecoder::do_visit(OCTET_STRING& v) {
  std::vector<char> octets;
  unsigned bits = 0;
  if (!get_value_from(is_, octets, bits)) return false;
  v = octets;
  return true;
}

bool AVNDecoder::do_visit(BIT_STRING& v) {
  std::vector<char> octets;
  unsigned bits = 0;
  if (!get_value_from(is_, octets, bits)) return false;
  v.assign(octets, bits);
  return true;
}

bool AVNDecoder::do_visit(AbstractString& v) {
  std::string text;
  if (!get_string(is_, text)) return false;
  v.assign(text);
  return true;
}

bool AVNDecoder::do_visit(BMPString& v) {
  std::string text;
  if (!get_string(is_, text)) return false;
  std::size_t const n = std::mbstowcs(0, text.c_str(), 0);
  if (n == static_cast<std::size_t>(-1)) return false;
  std::wstring wide(n, L'\0');
  std::mbstowcs(&wide[0], text.c_str(), n);
  v.assign(wide.data(), wide.size());
  return true;
}

bool AVNDecoder::do_visit(GeneralizedTime& v) {
  std::string text;
  if (!get_string(is_, text)) return false;
  // From the defaults, so nothing of an earlier value stays.
  GeneralizedTime fresh;
  fresh.set(text.c_str());
  v = fresh;
  return true;
}

bool AVNDecoder::do_visit(CHOICE& v) {
  std::string name;
  char colon;
  if (!getWord(name) || !getChar(colon) || colon != ':') return false;
  unsigned id;
  if (!get_id(v.info()->selectionNames, v.getTotalChoices(), name, id)) return false;
  if (!v.select(static_cast<int>(id)) || !v.getSelection()) return false;
  return v.getSelection()->accept(*this);
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& v) {
  char c;
  if (!getChar(c) || c != '{') return false;
  v.clear();
  if (!peekChar(c)) return false;
  if (c == '}') {
    is_.get(c);
    return true;
  }
  for (;;) {
    AbstractData* element = v.createElement();
    if (!element || !element->accept(*this)) {
      delete element;
      return false;
    }
    bool const more = getChar(c);
    v.push_back(element);
    if (!more) return false;
    if (c == '}') return true;
    if (c != ',') return false;
  }
}

bool AVNDecoder::do_visit(OpenData&) {
  return false;  // nothing says what an open type holds
}

bool AVNDecoder::do_revisit(OpenData&) { return false; }

bool AVNDecoder::do_visit(TypeConstrainedOpenData& v) { return v.has_data() && v.get_data().accept(*this); }

int AVNDecoder::preVisitExtensionRoots(SEQUENCE&) {
  char c;
  if (!getChar(c) || c != '{') return Fail;
  if (!peekChar(c)) return Fail;
  if (c == '}') {
    is_.get(c);
    return Stop;
  }
  std::string name;
  if (!getWord(name)) return Fail;
  names_.push_back(name);
  return ContinueWithExt;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optId) {
  if (names_.empty()) return Fail;
  if (names_.back() != v.getFieldName(index)) return absentField(v, optId);
  AbstractData* field = presentField(v, index, optId);
  if (!field || !field->accept(*this)) return Fail;
  char c;
  if (!getChar(c)) return Fail;
  if (c == '}') {
    names_.pop_back();
    return Stop;
  }
  if (c != ',' || !getWord(names_.back())) return Fail;
  return ContinueWithExt;
}

int AVNDecoder::visitKnownExtension(SEQUENCE& v, int index, int optId) { return visitExtensionRoot(v, index, optId); }

int AVNDecoder::visitUnknownExtensions(SEQUENCE&) {
  // Reached with every field passed: only a "," right before the closing
  // brace may be left.
  if (names_.empty() || names_.back() != "}") return Fail;
  names_.pop_back();
  return Stop;
}

int ExtractorWrapper::do_real_io() {
  std::istream::sentry guard(is_);
  if (!guard) return 0;
  return value_.get_from(is_);
}

std::istream& g_extractor(std::istream& is, AbstractData& value) {
  if (!is.good()) return is;
  ExtractorWrapper io(is, value);
  io.do_it(is);
  return is;
}

std::istream& operator>>(std::istream& is, AbstractData& value) {
  if (!is.good()) return is;
  return g_extractor(is, value);
}

int AbstractData::get_from(std::istream& is) {
  AVNDecoder parser(is, 0);
  return accept(parser) ? 0 : static_cast<int>(std::ios_base::failbit);
}

bool AbstractData::setFromValueNotation(std::string const& text) {
  std::istringstream is(text);
  AVNDecoder parser(is, 0);
  return accept(parser);
}

}  // namespace ASN1
