// Our side of the aligned PER differential check (tools/per-diff.sh): reads
// one request per line on stdin and answers one line on stdout.
//
//   D TYPE HEX    decode HEX as TYPE the way the links do, encode the value
//                 again: "OK HEX" | "ERR" (refused) | "NOENC" (decoded, but
//                 the value cannot be sent again), followed by the notes of
//                 NotingDecoder below
//   R TYPE SEED   a random value of TYPE encoded: "OK HEX" | "ERR VALUE"
//   S TYPE HEX HEX  decode both: "SAME" when both decode to equal values,
//                 else "DIFF"
//   V TYPE HEX    as D, but answers the value read in value notation, on
//                 one line (for reading a disagreement)
//
// TYPE is MODULE.Type, one of the types in the table below.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/perdecoder.h"
#include "schema/acp/ACP.h"
#include "schema/ccp/CCP.h"
#include "schema/hsp/HSP.h"
#include "schema/lgcp/LGCP.h"
#include "schema/media/MEDIA.h"
#include "schema/mon/MON.h"
#include "schema/term/TERM.h"
#include "schema/zarngw/ZARNGW.h"

namespace {

using namespace ASN1;

template <class T>
AbstractData* make() {
  return new T;
}

struct TypeEntry {
  char const* name;
  AbstractData* (*create)();
};

TypeEntry const types[] = {
    {"LGCP.Message", &make<LGCP::Message>}, {"MON.Message", &make<MON::Message>},
    {"CCP.Message", &make<CCP::Message>},   {"ACP.AcpPDU", &make<ACP::AcpPDU>},
    {"HSP.HspPDU", &make<HSP::HspPDU>},     {"MEDIA.MediaPDU", &make<MEDIA::MediaPDU>},
    {"TERM.TermPDU", &make<TERM::TermPDU>}, {"ZARNGW.ProtoZarnPackets", &make<ZARNGW::ProtoZarnPackets>},
    {"LGCP.Command", &make<LGCP::Command>}, {"LGCP.Response", &make<LGCP::Response>},
    {"LGCP.Signal", &make<LGCP::Signal>},
};

AbstractData* create(std::string const& name) {
  for (TypeEntry const& t : types)
    if (name == t.name) return t.create();
  return nullptr;
}

// Random values of any generated type, walked through the type records.
class Filler {
 public:
  explicit Filler(unsigned seed) : rng_(seed) {}

  void fill(AbstractData& v, int depth) {
    if (auto* s = dynamic_cast<SEQUENCE*>(&v)) return sequence(*s, depth);
    if (auto* c = dynamic_cast<CHOICE*>(&v)) return choice(*c, depth);
    if (auto* l = dynamic_cast<SEQUENCE_OF_Base*>(&v)) return list(*l, depth);
    if (auto* e = dynamic_cast<ENUMERATED*>(&v)) return enumerated(*e);
    if (auto* i = dynamic_cast<INTEGER*>(&v)) return integer(*i);
    if (auto* b = dynamic_cast<BOOLEAN*>(&v)) {
      *b = coin();
      return;
    }
    if (auto* o = dynamic_cast<OCTET_STRING*>(&v)) return octets(*o);
    if (auto* a = dynamic_cast<AbstractString*>(&v)) return text(*a);
    if (auto* oid = dynamic_cast<OBJECT_IDENTIFIER*>(&v)) return objectId(*oid);
    if (dynamic_cast<Null*>(&v)) return;
    std::fprintf(stderr, "per_diff_driver: no random values for tag %u\n", v.info()->tag);
    std::exit(2);
  }

 private:
  int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool coin() { return between(0, 1) == 1; }
  unsigned any32() {
    switch (between(0, 3)) {
      case 0:
        return static_cast<unsigned>(between(0, 300));
      case 1:
        return static_cast<unsigned>(-between(0, 300));
      default:
        return std::uniform_int_distribution<unsigned>()(rng_);
    }
  }
  // Mostly short, now and then across a length boundary.
  unsigned size(unsigned lo, unsigned hi, unsigned often) {
    unsigned n;
    switch (between(0, 19)) {
      case 0:
        n = static_cast<unsigned>(between(120, 300));
        break;
      case 1:
        n = static_cast<unsigned>(between(16370, 16383));
        break;
      default:
        n = static_cast<unsigned>(between(0, static_cast<int>(often)));
    }
    if (n < lo) n = lo;
    if (n > hi) n = hi;
    return n;
  }

  void sequence(SEQUENCE& s, int depth) {
    SEQUENCE::InfoType const* info = s.info();
    unsigned const optional = info->numOptional;
    for (unsigned i = 0; i < info->numFields + info->knownExtensions; ++i) {
      unsigned const id = i < info->numFields ? info->fieldIds[i] : optional + (i - info->numFields);
      if (id == MandatoryField) {
        fill(*s.makeField(i), depth + 1);
      } else if (depth < 8 && between(0, 2) != 0) {
        fill(*s.includeOptionalField(id, i), depth + 1);
      } else {
        s.removeOptionalField(id);
      }
    }
  }

  void choice(CHOICE& c, int depth) {
    c.select(between(0, static_cast<int>(c.getTotalChoices()) - 1));
    fill(*c.getSelection(), depth + 1);
  }

  void list(SEQUENCE_OF_Base& l, int depth) {
    unsigned n = static_cast<unsigned>(between(0, depth < 6 ? 3 : 1));
    if (depth < 3 && between(0, 40) == 0) n = static_cast<unsigned>(between(120, 128));
    l.resize(n);
    for (AbstractData* e : l) fill(*e, depth + 1);
  }

  void enumerated(ENUMERATED& e) {
    // Mostly a named item, sometimes any number the wire can carry.
    EnumeratedInfo const* info = static_cast<EnumeratedInfo const*>(e.info());
    if (between(0, 4) == 0) {
      e.setFromInt(between(0, info->maximum));
      return;
    }
    int value = -1;
    unsigned const pick = static_cast<unsigned>(between(0, static_cast<int>(info->numNames) - 1));
    for (unsigned k = 0; k <= pick; ++k) {
      char const* eq = std::strchr(info->names[k], '=');
      value = eq ? std::atoi(eq + 1) : value + 1;
    }
    e.setFromInt(value < 0 ? 0 : value);
  }

  void integer(INTEGER& i) {
    if (!i.constrained()) {
      i.setValue(static_cast<int>(any32()));
      return;
    }
    unsigned const span = i.getUpperLimit() - static_cast<unsigned>(i.getLowerLimit());
    unsigned offset = any32();
    if (span != 0xFFFFFFFFu) offset %= span + 1;
    if (between(0, 5) == 0) offset = coin() ? 0 : span;
    i.setValue(static_cast<int>(static_cast<unsigned>(i.getLowerLimit()) + offset));
  }

  void octets(OCTET_STRING& o) {
    unsigned const lo = o.constrained() ? static_cast<unsigned>(o.getLowerLimit()) : 0;
    o.resize(size(lo, o.constrained() ? o.getUpperLimit() : 16384, 5));
    for (char& c : o) c = static_cast<char>(between(0, 255));
  }

  void text(AbstractString& a) {
    unsigned const lo = a.constrained() ? static_cast<unsigned>(a.getLowerLimit()) : 0;
    std::string s(size(lo, a.constrained() ? a.getUpperLimit() : 16384, 12), ' ');
    for (char& c : s) c = a.getCharacterSet()[between(0, static_cast<int>(a.getCharacterSetSize()) - 1)];
    a.assign(s);
  }

  void objectId(OBJECT_IDENTIFIER& o) {
    o = OBJECT_IDENTIFIER();
    unsigned const first = static_cast<unsigned>(between(0, 2));
    o.append(first);
    o.append(first < 2 ? static_cast<unsigned>(between(0, 39)) : any32() % 100000);
    for (int n = between(0, 8); n > 0; --n) o.append(any32());
  }

  std::mt19937 rng_;
};

// Our decoder, noting where it read one of the forms in which our wire
// format departs from X.691 on purpose: an enumeration's extension form
// (ours carries the value, X.691 an index), a constrained number above its
// upper bound (ours takes it as it comes), empty or wide integers and object
// identifier arcs beyond 32 bits. The check then knows why the
// two sides disagree.
class NotingDecoder : public PERDecoder {
 public:
  NotingDecoder(char const* begin, char const* end) : PERDecoder(begin, end, nullptr, true), begin_(begin), end_(end) {}
  std::string notes;

 protected:
  using PERDecoder::do_visit;
  bool do_visit(ENUMERATED& v) override {
    if (v.extendable() && nextBit()) note(" ENUMEXT");
    bool const ok = PERDecoder::do_visit(v);
    if (ok && v.asInt() > v.getMaximum()) note(" ABOVE");
    return ok;
  }
  bool do_visit(INTEGER& v) override {
    // Read as a length and octets: ours takes 0 octets as 0 and refuses
    // more than 4; X.691 has neither limit nor empty numbers.
    bool const counted = v.getConstraintType() == Unconstrained || v.getConstraintType() == PartiallyConstrained ||
                         (v.extendable() && nextBit());
    if (counted) {
      Peek in{begin_, end_, here() + (v.extendable() ? 1 : 0)};
      in.align();
      unsigned const first = in.bits(8);
      unsigned const length = (first & 0xC0) == 0x80 ? (first & 0x3F) << 8 | in.bits(8) : first;
      if (in.ok && length == 0) note(" INTEGER0");
      if (in.ok && length > 4 && (first & 0xC0) != 0xC0) note(" INTEGERWIDE");
    }
    if (counted) unbounded(v.extendable() ? 1 : 0);
    bool const ok = PERDecoder::do_visit(v);
    if (ok && v.getConstraintType() == FixedConstraint &&
        static_cast<unsigned>(v.getValue()) - static_cast<unsigned>(v.getLowerLimit()) >
            v.getUpperLimit() - static_cast<unsigned>(v.getLowerLimit()))
      note(" ABOVE");
    return ok;
  }
  bool do_visit(OBJECT_IDENTIFIER& v) override {
    // Ours keeps arcs in 32 bits and refuses contents that end inside an
    // arc.
    Peek in{begin_, end_, here()};
    in.align();
    int const count = static_cast<int>(in.bits(8));
    char const* p = begin_ + in.pos / 8;
    if (in.ok && count > 0 && end_ - p >= count) {
      unsigned long long arc = 0;
      for (int i = 0; i < count; ++i) {
        arc = (arc << 7 | (static_cast<unsigned char>(p[i]) & 0x7Fu)) & 0xFFFFFFFFFFull;
        if (arc > 0xFFFFFFFFull) note(" OIDWIDE");
        if (!(static_cast<unsigned char>(p[i]) & 0x80)) arc = 0;
      }
      if (static_cast<unsigned char>(p[count - 1]) & 0x80) note(" OIDCUT");
    }
    return PERDecoder::do_visit(v);
  }
  // Ours refuses every fragmented length; Erlang takes one of no fragment.
  bool do_visit(OCTET_STRING& v) override {
    if (v.getConstraintType() == Unconstrained) unbounded(0);
    return PERDecoder::do_visit(v);
  }
  bool do_visit(AbstractString& v) override {
    if (v.getConstraintType() == Unconstrained) unbounded(0);
    return PERDecoder::do_visit(v);
  }
  bool do_visit(SEQUENCE_OF_Base& v) override {
    if (v.getConstraintType() == Unconstrained) unbounded(0);
    return PERDecoder::do_visit(v);
  }
  // An extension alternative: ours takes a normally small number of 0 or
  // more than 4 octets as 0 or refuses it, an empty open type, and for a
  // known alternative an open type that runs past the end (it resumes at
  // the end); X.691 has none of these.
  bool do_visit(CHOICE& v) override {
    Peek in{begin_, end_, here()};
    if (v.extendable() && in.bits(1) == 1) {
      if (in.bits(1) == 1) {
        in.align();
        unsigned const k = in.bits(8);
        if ((k & 0xC0) == 0xC0) note(" FRAGMENT");
        if (k == 0) note(" SMALL0");
        if (k > 4 && k < 0x80) note(" SMALLWIDE");
        in.pos += 8ul * (k < 0x80 ? k : 0);
      } else {
        in.bits(6);
      }
      in.align();
      unsigned len = in.bits(8);
      if ((len & 0xC0) == 0xC0) note(" FRAGMENT");
      if ((len & 0xC0) == 0x80) len = (len & 0x3F) << 8 | in.bits(8);
      if (in.ok && len == 0) note(" OPEN0");
      if (in.ok && in.pos + 8ul * len > static_cast<unsigned long>(end_ - begin_) * 8) note(" PASTEND");
    }
    return PERDecoder::do_visit(v);
  }
  // A SEQUENCE's extension bitmap: ours refuses more than 128 bits and
  // takes a normally small number of 0 octets as 0.
  int preVisitExtensions(SEQUENCE& v) override {
    Peek in{begin_, end_, here()};
    unsigned n = 0;
    if (in.bits(1) == 0) {
      n = in.bits(6);
    } else {
      in.align();
      unsigned const k = in.bits(8);
      if (k == 0) note(" SMALL0");
      for (unsigned i = 0; i < k && i < 4; ++i) n = n << 8 | in.bits(8);
      if (k > 4) n = ~0u;
    }
    if (in.ok && n >= 128) note(" BITMAPWIDE");
    return PERDecoder::preVisitExtensions(v);
  }
  // A known extension addition whose open type runs past the end: ours
  // reads what is there and resumes at the end.
  int visitKnownExtension(SEQUENCE& v, int index, int optId) override {
    if (v.hasOptionalField(static_cast<unsigned>(optId))) {
      Peek in{begin_, end_, here()};
      in.align();
      unsigned const first = in.bits(8);
      unsigned const len = (first & 0xC0) == 0x80 ? (first & 0x3F) << 8 | in.bits(8) : first;
      if (in.ok && (first & 0xC0) != 0xC0 && in.pos + 8ul * len > static_cast<unsigned long>(end_ - begin_) * 8)
        note(" PASTEND");
    }
    return PERDecoder::visitKnownExtension(v, index, optId);
  }

 private:
  struct Peek {
    char const* begin;
    char const* end;
    unsigned long pos;
    bool ok = true;
    unsigned bits(unsigned n) {
      unsigned v = 0;
      for (unsigned i = 0; i < n; ++i) {
        if (pos >= static_cast<unsigned long>(end - begin) * 8) {
          ok = false;
          return 0;
        }
        v = v << 1 | ((static_cast<unsigned char>(begin[pos / 8]) >> (7 - pos % 8)) & 1u);
        ++pos;
      }
      return v;
    }
    void align() { pos = (pos + 7) & ~7ul; }
  };
  // A length with no bound at the next octet boundary after `bits` bits.
  void unbounded(unsigned bits) {
    int const octet = nextAlignedOctet(bits);
    if (octet >= 0 && (octet & 0xC0) == 0xC0) note(" FRAGMENT");
  }
  // The bit the decoder reads next, counted from the start of the input
  // (the decoder's own end may be an open type's end).
  unsigned long here() const {
    unsigned const inOctet = getBitsLeft() % 8 ? getBitsLeft() % 8 : 8;
    return static_cast<unsigned long>(getPosition() - begin_) * 8 + (8 - inOctet);
  }
  // The octet at the next octet boundary after skipping `bits` bits; -1
  // past the end.
  int nextAlignedOctet(unsigned bits) const {
    Peek in{begin_, end_, here() + bits};
    in.align();
    unsigned const octet = in.bits(8);
    return in.ok ? static_cast<int>(octet) : -1;
  }
  bool nextBit() const {
    Peek in{begin_, end_, here()};
    return in.bits(1) == 1 && in.ok;
  }
  void note(char const* what) {
    if (notes.find(what) == std::string::npos) notes += what;
  }
  char const* begin_;
  char const* end_;
};

std::string hex(std::vector<char> const& v) {
  static char const digits[] = "0123456789ABCDEF";
  std::string s;
  for (char c : v) {
    s += digits[static_cast<unsigned char>(c) >> 4];
    s += digits[static_cast<unsigned char>(c) & 15];
  }
  return s;
}

bool unhex(std::string const& s, std::vector<char>& out) {
  if (s.size() % 2) return false;
  for (std::size_t i = 0; i < s.size(); i += 2) {
    char* end = nullptr;
    std::string const pair = s.substr(i, 2);
    long const b = std::strtol(pair.c_str(), &end, 16);
    if (*end) return false;
    out.push_back(static_cast<char>(b));
  }
  return true;
}

std::string oneLine(AbstractData const& v) {
  std::ostringstream text;
  text << v;
  std::string s = text.str();
  for (char& c : s)
    if (c == '\n') c = ' ';
  return s;
}

bool encode(AbstractData const& v, std::vector<char>& out) {
  CoderEnv env;
  env.set_encodingRule(CoderEnv::per);
  return ASN1::encode(v, &env, std::back_inserter(out));
}

std::string answer(std::string const& op, std::string const& type, std::string const& arg) {
  AbstractData* value = create(type);
  if (!value) return "BADTYPE";
  std::string result;
  std::vector<char> out;
  if (op == "D" || op == "V") {
    std::vector<char> in;
    if (!unhex(arg, in)) {
      result = "BADHEX";
    } else {
      NotingDecoder decoder(in.data(), in.data() + in.size());
      if (!value->accept(decoder))
        result = "ERR" + decoder.notes;
      else if (op == "V")
        result = oneLine(*value);
      else
        result = (encode(*value, out) ? "OK " + hex(out) : "NOENC") + decoder.notes;
    }
  } else if (op == "S") {
    std::size_t const gap = arg.find(' ');
    std::vector<char> one, two;
    AbstractData* other = create(type);
    CoderEnv env;
    env.set_encodingRule(CoderEnv::per);
    bool const same = gap != std::string::npos && unhex(arg.substr(0, gap), one) && unhex(arg.substr(gap + 1), two) &&
                      ASN1::decode(one.data(), one.data() + one.size(), &env, *value, true) &&
                      ASN1::decode(two.data(), two.data() + two.size(), &env, *other, true) &&
                      value->compare(*other) == 0;
    delete other;
    result = same ? "SAME" : "DIFF";
  } else if (op == "R") {
    Filler(static_cast<unsigned>(std::strtoul(arg.c_str(), nullptr, 10))).fill(*value, 0);
    result = encode(*value, out) ? "OK " + hex(out) : "ERR " + oneLine(*value);
  } else {
    result = "BADOP";
  }
  delete value;
  return result;
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::string op, type, arg;
    std::size_t const a = line.find(' ');
    std::size_t const b = a == std::string::npos ? a : line.find(' ', a + 1);
    op = line.substr(0, a);
    if (a != std::string::npos) type = line.substr(a + 1, b == std::string::npos ? b : b - a - 1);
    if (b != std::string::npos) arg = line.substr(b + 1);
    std::cout << answer(op, type, arg) << std::endl;
  }
  return 0;
}
