#ifndef TESTS_ASN1_RECORDS_H
#define TESTS_ASN1_RECORDS_H

// Small hand-made types over the ASN.1 runtime, written the way a generated
// module writes them.

#include "asn1/asn1.h"

namespace rec {

typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> Int1023;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 7> Int7;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 255> Int255;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -128, 127> IntSigned8;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> Int32u;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 112000, 399975> IntWide;
typedef ASN1::Constrained_INTEGER<ASN1::PartiallyConstrained, 0, 4294967295u> IntFrom0;
typedef ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 15> IntExt15;

// A type of the records: its class adds nothing but its record.
#define REC_TYPE(Name, Base)                                                 \
    struct Name : Base {                                                     \
        static InfoType const theInfo;                                       \
        explicit Name(void const* info = &theInfo) : Base(info) {}           \
    }

// ErrorCause ::= ENUMERATED { invalidParams, ..., destroyInProgress, ... }
REC_TYPE(ErrorCause, ASN1::ENUMERATED);
// StandbyState ::= ENUMERATED { initial, learn, listen, speak(4), standby(8), active(16) }
REC_TYPE(StandbyState, ASN1::ENUMERATED);
// RadioStandby ::= ENUMERATED { not-use(-1), active, standby }
REC_TYPE(RadioStandby, ASN1::ENUMERATED);
// Payload ::= ENUMERATED { pt0 .. pt13 (14 plain names), ptR2S(123) }
REC_TYPE(Payload, ASN1::ENUMERATED);

// Command ::= CHOICE { query NULL, testBpc NULL, connect INTEGER (0..1023),
//   disconnect NULL, create NULL, destroy NULL, activate NULL, deactivate NULL,
//   userData OCTET STRING, ioctl NULL, trunkCfg NULL, clockCfg NULL,
//   ping NULL, display NULL, protoZarn NULL, ... }
REC_TYPE(Command, ASN1::CHOICE);
// Response ::= CHOICE { success NULL, error ErrorCause }
REC_TYPE(Response, ASN1::CHOICE);
// PDU ::= CHOICE { command Command, response Response, signal NULL }
REC_TYPE(PDU, ASN1::CHOICE);
// Message ::= SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pdu PDU }
REC_TYPE(Message, ASN1::SEQUENCE);
// Inner ::= SEQUENCE { b INTEGER (0..7) }
REC_TYPE(Inner, ASN1::SEQUENCE);
// Rec ::= SEQUENCE {
//   a INTEGER (0..7), b BOOLEAN OPTIONAL, c IA5String OPTIONAL, inner Inner,
//   ...,
//   d INTEGER OPTIONAL, e OCTET STRING OPTIONAL }
// Root fields 0..3 (optional numbers b 0, c 1), extensions d (4, id 2) and
// e (5, id 3).
REC_TYPE(Rec, ASN1::SEQUENCE);
// Opt ::= SEQUENCE { x INTEGER OPTIONAL, y BOOLEAN OPTIONAL }
REC_TYPE(Opt, ASN1::SEQUENCE);
// Alt ::= CHOICE { x NULL, y INTEGER (0..255), z Rec, ..., w IA5String }
REC_TYPE(Alt, ASN1::CHOICE);

typedef ASN1::SEQUENCE_OF<Rec, ASN1::EmptyConstraint> RecList;
typedef ASN1::SEQUENCE_OF<ASN1::INTEGER, ASN1::EmptyConstraint> IntList;
typedef ASN1::SET_OF<ASN1::IA5String, ASN1::EmptyConstraint> NameSet;

// Open type constrained to Rec.
extern ASN1::TypeConstrainedOpenInfo const RecOpenInfo;

// Every kind in one extensible SEQUENCE, for round trips.
// All ::= SEQUENCE {
//   n NULL, f BOOLEAN, i INTEGER, i7 INTEGER (0..7), i1023 INTEGER (0..1023) OPTIONAL,
//   s8 INTEGER (-128..127), u32 INTEGER (0..4294967295), wide INTEGER (112000..399975),
//   from0 INTEGER (0..MAX), x15 INTEGER (0..15, ...), st StandbyState, err ErrorCause,
//   rs RadioStandby OPTIONAL, oid OBJECT IDENTIFIER OPTIONAL, bits BIT STRING,
//   oct OCTET STRING, ia5 IA5String, num NumericString, pr PrintableString,
//   bmp BMPString OPTIONAL, alt Alt, list RecList, ints IntList OPTIONAL,
//   names NameSet OPTIONAL, open OpenType OPTIONAL, typed Rec-open OPTIONAL,
//   time GeneralizedTime OPTIONAL,
//   ...,
//   ext1 Rec OPTIONAL, ext2 IA5String OPTIONAL }
struct All : ASN1::SEQUENCE {
    enum {
        n, f, i, i7, i1023, s8, u32, wide, from0, x15, st, err, rs, oid, bits, oct, ia5, num,
        pr, bmp, alt, list, ints, names, open, typed, time, ext1, ext2
    };
    static InfoType const theInfo;
    explicit All(void const* info = &theInfo) : ASN1::SEQUENCE(info) {}
};

} // namespace rec

#endif
