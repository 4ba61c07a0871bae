#include "asn1/avnencoder.h"

#include <cstdlib>
#include <iomanip>
#include <new>
#include <ostream>
#include <string>

#include "asn1/asn1.h"

namespace ASN1 {

bool AVNEncoder::do_visit(Null const&) {
  os_ << "NULL";
  return os_.good();
}

bool AVNEncoder::do_visit(BOOLEAN const& v) {
  os_ << (v ? "TRUE" : "FALSE");
  return os_.good();
}

bool AVNEncoder::do_visit(INTEGER const& v) {
  if (v.constrained() && v.getLowerLimit() >= 0)
    os_ << static_cast<unsigned>(v.getValue());
  else
    os_ << v.getValue();
  return os_.good();
}

bool AVNEncoder::do_visit(IntegerWithNamedNumber const& v) {
  std::string name;
  if (!v.getName(name)) return do_visit(static_cast<INTEGER const&>(v));
  os_ << name;
  return os_.good();
}

bool AVNEncoder::do_visit(ENUMERATED const& v) {
  if (char const* name = v.getName())
    os_ << name;
  else
    os_ << v.asInt();
  return os_.good();
}

bool AVNEncoder::do_visit(OBJECT_IDENTIFIER const& v) {
  os_ << "{ ";
  for (unsigned i = 0; i < v.levels(); ++i) os_ << v[i] << ' ';
  os_ << '}';
  return os_.good();
}

bool AVNEncoder::do_visit(BIT_STRING const& v) {
  os_ << '\'';
  for (unsigned i = 0; i < v.size(); ++i) os_ << (v[i] ? '1' : '0');
  os_ << "'B";
  return os_.good();
}

bool AVNEncoder::printOctets(std::vector<char> const& octets) {
  std::ios_base::fmtflags const flags = os_.flags();
  os_ << '\'' << std::hex << std::setfill('0');
  for (std::size_t i = 0; i < octets.size(); ++i) {
    if (i) os_ << ' ';
    os_ << std::setw(2) << static_cast<unsigned>(static_cast<unsigned char>(octets[i]));
  }
  os_ << "'H";
  os_.flags(flags);
  os_.fill(' ');
  return os_.good();
}

bool AVNEncoder::do_visit(OCTET_STRING const& v) { return printOctets(v); }

bool AVNEncoder::do_visit(AbstractString const& v) {
  os_ << '"' << static_cast<std::string const&>(v) << '"';
  return os_.good();
}

bool AVNEncoder::do_visit(BMPString const& v) {
  // In the default locale only characters below 128 convert.
  std::string text(v.size(), '\0');
  std::size_t const n = std::wcstombs(&text[0], v.c_str(), text.size());
  if (n != static_cast<std::size_t>(-1)) {
    text.resize(n);
    os_ << '"' << text << '"';
    return os_.good();
  }
  os_ << '{';
  for (std::size_t i = 0; i < v.size(); ++i) {
    unsigned const c = static_cast<unsigned>(v[i]);
    if (i) os_ << ", ";
    os_ << "{ 0, 0, " << (c >> 8) << ", " << (c & 0xFFu) << '}';
  }
  os_ << '}';
  return os_.good();
}

bool AVNEncoder::do_visit(CHOICE const& v) {
  int const id = v.currentSelection();
  if (id < 0 || static_cast<unsigned>(id) >= v.getTotalChoices() || !v.getSelection()) return false;
  os_ << v.getSelectionName() << " : ";
  return os_.good() && v.getSelection()->accept(*this);
}

bool AVNEncoder::do_visit(OpenData const& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (v.has_buf()) return printOctets(v.get_buf());
  return false;
}

bool AVNEncoder::do_visit(GeneralizedTime const& v) {
  os_ << '"' << v.get() << '"';
  return os_.good();
}

bool AVNEncoder::do_visit(SEQUENCE_OF_Base const& v) {
  int const outer = indent_;
  os_ << "{\n";
  indent_ += 2;
  for (SEQUENCE_OF_Base::const_iterator it = v.begin(); it != v.end(); ++it) {
    os_ << std::string(static_cast<std::size_t>(outer + 2), ' ');
    if (!(*it)->accept(*this)) {
      indent_ = outer;
      return false;
    }
    if (it + 1 != v.end()) os_ << ",\n";
  }
  indent_ = outer;
  if (!v.empty()) os_ << '\n';
  os_ << std::string(static_cast<std::size_t>(outer), ' ') << '}';
  return os_.good();
}

bool AVNEncoder::preVisitExtensionRoots(SEQUENCE const&) {
  hasField_.push_back(false);
  os_ << "{\n";
  return os_.good();
}

bool AVNEncoder::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  if (!field) return false;
  if (hasField_.back()) os_ << ",\n";
  os_ << std::string(static_cast<std::size_t>(indent_ + 2), ' ') << v.getFieldName(index) << ' ';
  indent_ += 2;
  bool const ok = field->accept(*this);
  indent_ -= 2;
  hasField_.back() = true;
  return ok && os_.good();
}

bool AVNEncoder::visitKnownExtension(SEQUENCE const& v, int index) { return visitExtensionRoot(v, index); }

bool AVNEncoder::afterVisitSequence(SEQUENCE const&) {
  if (hasField_.back()) os_ << '\n';
  hasField_.pop_back();
  os_ << std::string(static_cast<std::size_t>(indent_), ' ') << '}';
  return os_.good();
}

namespace {
// Sets `bit` on the stream without letting its exception mask throw; true
// when the mask asks for the bit (the caller then passes its exception on).
bool setQuietly(std::ios& s, std::ios_base::iostate bit) {
  std::ios_base::iostate const mask = s.exceptions();
  s.exceptions(std::ios_base::goodbit);
  s.setstate(bit);
  try {
    s.exceptions(mask);
  } catch (std::ios_base::failure const&) {
  }
  return (mask & bit) != 0;
}
}  // namespace

void IOWrapper::do_it(std::ios& s) {
  std::ios_base::iostate state = std::ios_base::goodbit;
  try {
    state = static_cast<std::ios_base::iostate>(do_real_io());
  } catch (std::bad_alloc const&) {
    if (setQuietly(s, std::ios_base::badbit)) throw;
    return;
  } catch (...) {
    if (setQuietly(s, std::ios_base::failbit)) throw;
    return;
  }
  if (state != std::ios_base::goodbit) s.setstate(state);
}

int InserterWrapper::do_real_io() {
  std::ostream::sentry guard(os_);
  if (!guard) return 0;
  return value_.print_on(os_);
}

std::ostream& g_inserter(std::ostream& os, AbstractData const& value) {
  if (!os.good()) return os;
  InserterWrapper io(os, value);
  io.do_it(os);
  return os;
}

}  // namespace ASN1
