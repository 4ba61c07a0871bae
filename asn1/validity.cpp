#include "asn1/validity.h"

#include <ostream>

#include "asn1/asn1.h"

namespace ASN1 {

namespace {

// The selected alternative, when the index names one the value holds.
AbstractData const* alternative(CHOICE const& v) {
  int const id = v.currentSelection();
  if (id < 0 || static_cast<unsigned>(id) >= v.getTotalChoices()) return 0;
  return v.getSelection();
}

// The test of one value, strict or not.
template <bool Strict, class T>
bool valid(T const& v) {
  return Strict ? v.isStrictlyValid() : v.isValid();
}
template <bool Strict>
bool valid(INTEGER const& v) {
  return Strict ? v.isStrictValid() : v.isValid();
}

// Counts of a list against its size constraint: strictly within the bounds,
// or above the upper one only when the constraint is extendable.
template <bool Strict>
bool countValid(SEQUENCE_OF_Base const& v) {
  unsigned const n = static_cast<unsigned>(v.size());
  if (n < static_cast<unsigned>(v.getLowerLimit())) return false;
  return (!Strict && v.extendable()) || n <= v.getUpperLimit();
}

}  // namespace

// ---------------------------------------------------------------- valid, strictly valid

namespace detail {

template <bool S>
bool ValidityChecker<S>::do_visit(Null const&) {
  return true;
}
template <bool S>
bool ValidityChecker<S>::do_visit(BOOLEAN const&) {
  return true;
}
template <bool S>
bool ValidityChecker<S>::do_visit(INTEGER const& v) {
  return valid<S>(v);
}
template <bool S>
bool ValidityChecker<S>::do_visit(ENUMERATED const& v) {
  return valid<S>(v);
}
template <bool S>
bool ValidityChecker<S>::do_visit(OBJECT_IDENTIFIER const& v) {
  return valid<S>(v);
}
template <bool S>
bool ValidityChecker<S>::do_visit(BIT_STRING const& v) {
  return valid<S>(v);
}
template <bool S>
bool ValidityChecker<S>::do_visit(OCTET_STRING const& v) {
  return valid<S>(v);
}
template <bool S>
bool ValidityChecker<S>::do_visit(AbstractString const& v) {
  return valid<S>(v);
}
template <bool S>
bool ValidityChecker<S>::do_visit(BMPString const& v) {
  return valid<S>(v);
}
template <bool S>
bool ValidityChecker<S>::do_visit(GeneralizedTime const& v) {
  return valid<S>(v);
}

template <bool S>
bool ValidityChecker<S>::do_visit(CHOICE const& v) {
  AbstractData const* alt = alternative(v);
  if (!alt) return false;
  // Beyond the root: never strictly valid, valid in an extensible type.
  if (static_cast<unsigned>(v.currentSelection()) >= v.getNumChoices() && (S || !v.extendable())) return false;
  return alt->accept(*this);
}

template <bool S>
bool ValidityChecker<S>::do_visit(OpenData const& v) {
  return v.has_data() ? v.get_data().accept(*this) : v.has_buf();
}

template <bool S>
bool ValidityChecker<S>::do_visit(SEQUENCE_OF_Base const& v) {
  if (!countValid<S>(v)) return false;
  for (AbstractData const* e : v) {
    if (!e->accept(*this)) return false;
  }
  return true;
}

template <bool S>
bool ValidityChecker<S>::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  return field && field->accept(*this);
}

template <bool S>
bool ValidityChecker<S>::visitKnownExtension(SEQUENCE const& v, int index) {
  return visitExtensionRoot(v, index);
}

template class ValidityChecker<false>;
template class ValidityChecker<true>;

}  // namespace detail

// ---------------------------------------------------------------- tracer

bool InvalidTracer::do_visit(Null const&) { return true; }
bool InvalidTracer::do_visit(BOOLEAN const&) { return true; }

bool InvalidTracer::do_visit(INTEGER const& v) {
  if (v.isValid()) return true;
  int const lb = v.getLowerLimit();
  int const value = v.getValue();
  // Printed as the printer writes it: unsigned above a bound of 0 or more.
  bool const asUnsigned = v.constrained() && lb >= 0;
  bool const below = asUnsigned ? static_cast<unsigned>(value) < static_cast<unsigned>(lb) : value < lb;
  strm_ << " The INTEGER value ";
  if (asUnsigned)
    strm_ << static_cast<unsigned>(value);
  else
    strm_ << value;
  if (below)
    strm_ << " is smaller than lower bound " << lb;
  else
    strm_ << " is greater than upper bound " << v.getUpperLimit();
  return false;
}

bool InvalidTracer::do_visit(ENUMERATED const& v) {
  if (v.isValid()) return true;
  strm_ << " This ENUMERATED has invalid value " << v.asInt();
  return false;
}

bool InvalidTracer::do_visit(OBJECT_IDENTIFIER const& v) {
  if (v.isValid()) return true;
  strm_ << " This OBJECT IDENTIFIER is not assigned";
  return false;
}

bool InvalidTracer::traceSize(char const* what, unsigned size, int lower, unsigned upper, bool checkUpper) {
  if (size < static_cast<unsigned>(lower)) {
    strm_ << " This " << what << " has size " << size << " smaller than its lower bound " << lower;
    return false;
  }
  if (checkUpper && size > upper) {
    strm_ << " This " << what << " has size " << size << " greater than its upper bound " << upper;
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(BIT_STRING const& v) {
  return traceSize("BIT STRING", v.size(), v.getLowerLimit(), v.getUpperLimit(),
                   v.getConstraintType() == FixedConstraint);
}

bool InvalidTracer::do_visit(OCTET_STRING const& v) {
  return traceSize("OCTET STRING", static_cast<unsigned>(v.size()), v.getLowerLimit(), v.getUpperLimit(),
                   v.getConstraintType() == FixedConstraint);
}

bool InvalidTracer::do_visit(AbstractString const& v) {
  if (!traceSize("AbstractString", static_cast<unsigned>(v.size()), v.getLowerLimit(), v.getUpperLimit(),
                 !v.extendable()))
    return false;
  AbstractString::size_type const bad = v.find_first_invalid();
  if (bad == AbstractString::npos) return true;
  strm_ << " The character '" << v[bad] << "' is not valid for the string";
  return false;
}

bool InvalidTracer::do_visit(BMPString const& v) {
  if (!traceSize("BMPString", static_cast<unsigned>(v.size()), v.getLowerLimit(), v.getUpperLimit(), !v.extendable()))
    return false;
  BMPString::size_type const bad = v.first_illegal_at();
  if (bad == v.size()) return true;
  strm_ << " The character '" << static_cast<unsigned long>(v[bad]) << "' is not valid for the string";
  return false;
}

bool InvalidTracer::do_visit(CHOICE const& v) {
  int const id = v.currentSelection();
  if (id == CHOICE::NoSelection || (id >= 0 && !v.getSelection())) {
    strm_ << " This CHOICE is not selected";
    return false;
  }
  AbstractData const* alt = alternative(v);
  if (!alt || (static_cast<unsigned>(id) >= v.getNumChoices() && !v.extendable())) {
    strm_ << " This selection is not understood by this decoder";
    return false;
  }
  InvalidTracer inner;
  if (alt->accept(inner)) return true;
  strm_ << '.' << v.getSelectionName() << inner.str();
  return false;
}

bool InvalidTracer::do_visit(OpenData const& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (v.has_buf()) return true;
  strm_ << " This Open Type does not contain any valid data";
  return false;
}

bool InvalidTracer::do_visit(GeneralizedTime const& v) {
  if (v.isValid()) return true;
  strm_ << " This GeneralizedTime is not valid";
  return false;
}

bool InvalidTracer::do_visit(SEQUENCE_OF_Base const& v) {
  if (!traceSize("SEQUENCE OF", static_cast<unsigned>(v.size()), v.getLowerLimit(), v.getUpperLimit(), !v.extendable()))
    return false;
  unsigned index = 0;
  for (AbstractData const* e : v) {
    InvalidTracer element;
    if (!e->accept(element)) {
      strm_ << '[' << index << ']' << element.str();
      return false;
    }
    ++index;
  }
  return true;
}

bool InvalidTracer::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* value = v.getField(static_cast<unsigned>(index));
  InvalidTracer field;
  if (value && value->accept(field)) return true;
  strm_ << '.' << v.getFieldName(index) << field.str();
  return false;
}

bool InvalidTracer::visitKnownExtension(SEQUENCE const& v, int index) { return visitExtensionRoot(v, index); }

std::ostream& operator<<(std::ostream& os, InvalidTracer const& tracer) { return os << tracer.str(); }

bool AbstractData::isValid() const {
  ValidChecker checker;
  return accept(checker);
}

bool AbstractData::isStrictlyValid() const {
  StrictlyValidChecker checker;
  return accept(checker);
}

bool trace_invalid(std::ostream& os, char const* text, AbstractData const& value) {
  InvalidTracer tracer;
  if (value.accept(tracer)) return true;
  os << text << tracer << '\n';
  return false;
}

}  // namespace ASN1
