#ifndef ASN1_TYPEINFO_H
#define ASN1_TYPEINFO_H

// Type-information records of the ASN.1 runtime.
//
// A value does not know its ASN.1 type by its C++ class: every value holds a
// pointer to one static record of its type, and the record says everything
// type-specific (how to make a value, tag, constraint, fields, alternatives,
// item names, character set). The records are plain aggregates so that a
// generated module can write them as constant data, e.g.
//
//   // INTEGER (0..1023)
//   &ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>::theInfo
//
//   // Message ::= SEQUENCE { seq INTEGER OPTIONAL,
//   //                        slot INTEGER (0..1023) OPTIONAL, pdu Pdu }
//   void const* const Message::fieldInfos[3] = {
//       &ASN1::INTEGER::theInfo,
//       &ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>::theInfo,
//       &Pdu::theInfo };
//   unsigned const Message::fieldIds[3] = { 0, 1, ASN1::MandatoryField };
//   char const* const Message::fieldNames[3] = { "seq", "slot", "pdu" };
//   ASN1::SEQUENCE::InfoType const Message::theInfo = {
//       { &ASN1::createValue<Message>, 16 },
//       false,              // no extension marker
//       fieldInfos, fieldIds,
//       3, 0, 2,            // root fields, known extensions, optional roots
//       nullptr, nullptr,   // extension presence preset, tag table
//       fieldNames };
//
// Rules for the records of a generated type:
// - create: a function that makes a default value bound to the record it is
//   given, of the very class the accessors will see the value as. Values are
//   made from records by containers and decoders and copies are made through
//   the record too, so an accessor may static_cast the value to that class.
//   For a generated class T write &ASN1::createValue<T> (T then needs a
//   constructor from a record pointer, `explicit T(void const* info)`); for a
//   runtime class use its own `create` (ASN1::INTEGER::create,
//   ASN1::IA5String::create, ...).
// - tag: the universal tag number (16 SEQUENCE and SEQUENCE OF, 17 SET OF,
//   10 ENUMERATED, 0 CHOICE, ...).
// - SEQUENCE: fieldInfos lists the records of the root fields in order, then
//   the known extension additions. fieldIds has one entry per root field:
//   ASN1::MandatoryField, or the optional-field number (0, 1, ... counting
//   the OPTIONAL root fields in order). The known extension k has the
//   optional-field number P + k (P = number of OPTIONAL root fields) and the
//   field index R + k (R = number of root fields). fieldNames holds one name
//   per field (root and extension), as the module writes it ("-" kept).
// - CHOICE: selectionInfos and selectionNames list every alternative, root
//   alternatives first; numChoices counts the root alternatives,
//   totalChoices all of them. The alternative index stored and encoded is
//   the position in these tables.
// - ENUMERATED: names is the item-name table in module order, one entry per
//   item: "name" when its value is the previous value + 1 (0 for the first),
//   else "name=value" (value in decimal, maybe negative); numNames is the
//   number of entries; maximum is the largest item value of the root.
// - SEQUENCE OF / SET OF: use the record of the runtime template,
//   ASN1::SEQUENCE_OF<T, ASN1::EmptyConstraint>::theInfo (SET OF:
//   ASN1::SET_OF<T, ASN1::EmptyConstraint>::theInfo). Its create word is
//   already filled with the template's own create; a module initialiser
//   that (re)fills it must store that same function
//   (ASN1::SEQUENCE_OF<...>::create, or call ASN1::SEQUENCE_OF<...>::init()),
//   never ASN1::SEQUENCE_OF_Base::create, whose plain lists the typed
//   accessors must not downcast.
// - Character strings with a size constraint: an AbstractString::InfoType
//   with the constraint and the character table of the unconstrained type
//   (e.g. ASN1::IA5StringSet, 128, 7, 7, 8), create ASN1::IA5String::create.

namespace ASN1 {

class AbstractData;

// Makes a default value bound to the record `info` (the record's own address).
typedef AbstractData* (*CreateFun)(void const* info);

enum ConstraintType {
  Unconstrained = 0,
  PartiallyConstrained = 1,  // lower bound only
  FixedConstraint = 2,       // lower and upper bound
  ExtendableConstraint = 3   // bounds with an extension marker
};

// fieldIds entry of a mandatory SEQUENCE field.
unsigned const MandatoryField = 0xFFFFFFFFu;

// Fields common to every record.
struct CommonInfo {
  CreateFun create;
  unsigned tag;
};

// INTEGER, BIT STRING, OCTET STRING, character strings, SEQUENCE OF: for a
// value type the bounds limit the value, for the others the size.
// Unconstrained: Unconstrained, 0, 0xFFFFFFFF.
struct ConstrainedInfo : CommonInfo {
  ConstraintType type;
  int lowerLimit;
  unsigned upperLimit;
};

struct NameEntry {
  int value;
  char const* name;
};

// INTEGER with named numbers; entries sorted by value.
struct NamedNumberInfo : ConstrainedInfo {
  NameEntry const* entries;
  unsigned numEntries;
};

struct EnumeratedInfo : CommonInfo {
  bool extendableFlag;
  int maximum;
  char const* const* names;
  unsigned numNames;
};

// Restricted character strings (IA5String, NumericString, ...).
struct StringInfo : ConstrainedInfo {
  char const* characterSet;  // permitted characters in ascending order
  unsigned characterSetSize;
  unsigned canonicalSetBits;  // CountBits(characterSetSize)
  unsigned unalignedBits;     // bits per character, unaligned variant
  unsigned alignedBits;       // bits per character, aligned variant
};

struct BMPStringInfo : ConstrainedInfo {
  unsigned firstChar;
  unsigned lastChar;
  unsigned unalignedBits;
  unsigned alignedBits;
};

struct SequenceInfo : CommonInfo {
  bool extendableFlag;
  void const* const* fieldInfos;
  unsigned const* fieldIds;
  unsigned numFields;                    // root fields
  unsigned knownExtensions;              // extension additions known to the type
  unsigned numOptional;                  // OPTIONAL root fields
  unsigned char const* extensionPreset;  // null in every record
  unsigned const* tags;                  // null: context tags by field index
  char const* const* fieldNames;
};

struct ChoiceInfo : CommonInfo {
  bool extendableFlag;
  void const* const* selectionInfos;
  unsigned numChoices;    // root alternatives
  unsigned totalChoices;  // root and known extension alternatives
  unsigned const* tags;   // null: context tags by index
  char const* const* selectionNames;
};

// SEQUENCE OF / SET OF: the size constraint limits the element count.
struct SequenceOfInfo : ConstrainedInfo {
  void const* elementInfo;
};

// Open type constrained to one type.
struct TypeConstrainedOpenInfo : CommonInfo {
  void const* typeInfo;
};

}  // namespace ASN1

#endif
