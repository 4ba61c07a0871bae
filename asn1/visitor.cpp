#include "asn1/visitor.h"

#include "asn1/asn1.h"

namespace ASN1 {

bool Visitor::do_visit(IntegerWithNamedNumber& v) { return visit(static_cast<INTEGER&>(v)); }

// The record is read into locals once: the hooks are virtual calls, after
// which the compiler would otherwise load every word again per field.
bool Visitor::visit(SEQUENCE& v) {
  SEQUENCE::InfoType const* info = v.info();
  int const s0 = preVisitExtensionRoots(v);
  if (s0 == Fail || s0 == Stop) return s0 == Stop;

  unsigned const roots = info->numFields;
  unsigned const* const ids = info->fieldIds;
  for (unsigned i = 0; i < roots; ++i) {
    int const s = visitExtensionRoot(v, static_cast<int>(i), static_cast<int>(ids[i]));  // -1: mandatory
    if (s == Fail || s == Stop) return s == Stop;
  }
  if (s0 != ContinueWithExt) return true;

  int s = preVisitExtensions(v);
  if (s != ContinueWithExt) return s != Fail;
  unsigned const fields = v.fieldCount();
  int id = static_cast<int>(info->numOptional);
  for (unsigned i = roots; i < fields; ++i, ++id) {
    s = visitKnownExtension(v, static_cast<int>(i), id);
    if (s != ContinueWithExt) return s != Fail;
  }
  return visitUnknownExtensions(v) != Fail;
}

int Visitor::absentField(SEQUENCE& v, int optId) {
  if (optId < 0) return Fail;
  v.removeOptionalField(static_cast<unsigned>(optId));
  return ContinueWithExt;
}

AbstractData* Visitor::presentField(SEQUENCE& v, int index, int optId) {
  return optId < 0 ? v.makeField(static_cast<unsigned>(index))
                   : v.includeOptionalField(static_cast<unsigned>(optId), static_cast<unsigned>(index));
}

bool ConstVisitor::visit(SEQUENCE const& v) {
  SEQUENCE::InfoType const* info = v.info();
  if (!preVisitExtensionRoots(v)) return false;
  unsigned const roots = info->numFields;
  unsigned const* const ids = info->fieldIds;
  for (unsigned i = 0; i < roots; ++i) {
    unsigned const id = ids[i];
    if (id == MandatoryField || v.hasOptionalField(id)) {
      if (!visitExtensionRoot(v, static_cast<int>(i))) return false;
    }
  }
  if (v.extensionMap().size() > 0) {
    if (!preVisitExtensions(v)) return false;
    unsigned const fields = v.fieldCount();
    unsigned id = info->numOptional;
    for (unsigned i = roots; i < fields; ++i, ++id) {
      if (v.hasOptionalField(id)) {
        if (!visitKnownExtension(v, static_cast<int>(i))) return false;
      }
    }
  }
  return afterVisitSequence(v);
}

// Every type defaults to the AbstractData operation.
bool ConstVisitor::do_visit(Null const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BOOLEAN const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(INTEGER const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(IntegerWithNamedNumber const& v) { return do_visit(static_cast<INTEGER const&>(v)); }
bool ConstVisitor::do_visit(ENUMERATED const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OBJECT_IDENTIFIER const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BIT_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OCTET_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(AbstractString const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BMPString const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(CHOICE const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OpenData const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(GeneralizedTime const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(SEQUENCE_OF_Base const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::preVisitExtensionRoots(SEQUENCE const& v) { return do_visit(static_cast<AbstractData const&>(v)); }

}  // namespace ASN1
