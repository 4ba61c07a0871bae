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

// ErrorCause ::= ENUMERATED { invalidParams, ..., destroyInProgress, ... }
struct ErrorCause : ASN1::ENUMERATED {
    static InfoType const theInfo;
    explicit ErrorCause(void const* info = &theInfo) : ASN1::ENUMERATED(info) {}
};
// StandbyState ::= ENUMERATED { initial, learn, listen, speak(4), standby(8), active(16) }
struct StandbyState : ASN1::ENUMERATED {
    static InfoType const theInfo;
    explicit StandbyState(void const* info = &theInfo) : ASN1::ENUMERATED(info) {}
};
// RadioStandby ::= ENUMERATED { not-use(-1), active, standby }
struct RadioStandby : ASN1::ENUMERATED {
    static InfoType const theInfo;
    explicit RadioStandby(void const* info = &theInfo) : ASN1::ENUMERATED(info) {}
};
// Payload ::= ENUMERATED { pt0 .. pt13 (14 plain names), ptR2S(123) }
struct Payload : ASN1::ENUMERATED {
    static InfoType const theInfo;
    explicit Payload(void const* info = &theInfo) : ASN1::ENUMERATED(info) {}
};

// Command ::= CHOICE { query NULL, testBpc NULL, connect INTEGER (0..1023),
//   disconnect NULL, create NULL, destroy NULL, activate NULL, deactivate NULL,
//   userData OCTET STRING, ioctl NULL, trunkCfg NULL, clockCfg NULL,
//   ping NULL, display NULL, protoZarn NULL, ... }
struct Command : ASN1::CHOICE {
    static InfoType const theInfo;
    static void const* const selectionInfos[15];
    static char const* const selectionNames[15];
    explicit Command(void const* info = &theInfo) : ASN1::CHOICE(info) {}
};
// Response ::= CHOICE { success NULL, error ErrorCause }
struct Response : ASN1::CHOICE {
    static InfoType const theInfo;
    static void const* const selectionInfos[2];
    static char const* const selectionNames[2];
    explicit Response(void const* info = &theInfo) : ASN1::CHOICE(info) {}
};
// PDU ::= CHOICE { command Command, response Response, signal NULL }
struct PDU : ASN1::CHOICE {
    static InfoType const theInfo;
    static void const* const selectionInfos[3];
    static char const* const selectionNames[3];
    explicit PDU(void const* info = &theInfo) : ASN1::CHOICE(info) {}
};
// Message ::= SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pdu PDU }
struct Message : ASN1::SEQUENCE {
    static InfoType const theInfo;
    static void const* const fieldInfos[3];
    static unsigned const fieldIds[3];
    static char const* const fieldNames[3];
    explicit Message(void const* info = &theInfo) : ASN1::SEQUENCE(info) {}
};

// Inner ::= SEQUENCE { b INTEGER (0..7) }
struct Inner : ASN1::SEQUENCE {
    static InfoType const theInfo;
    static void const* const fieldInfos[1];
    static unsigned const fieldIds[1];
    static char const* const fieldNames[1];
    explicit Inner(void const* info = &theInfo) : ASN1::SEQUENCE(info) {}
};

// Rec ::= SEQUENCE {
//   a INTEGER (0..7), b BOOLEAN OPTIONAL, c IA5String OPTIONAL, inner Inner,
//   ...,
//   d INTEGER OPTIONAL, e OCTET STRING OPTIONAL }
// Root fields 0..3 (optional numbers b 0, c 1), extensions d (4, id 2) and
// e (5, id 3).
struct Rec : ASN1::SEQUENCE {
    static InfoType const theInfo;
    static void const* const fieldInfos[6];
    static unsigned const fieldIds[4];
    static char const* const fieldNames[6];
    explicit Rec(void const* info = &theInfo) : ASN1::SEQUENCE(info) {}
};

// Opt ::= SEQUENCE { x INTEGER OPTIONAL, y BOOLEAN OPTIONAL }
struct Opt : ASN1::SEQUENCE {
    static InfoType const theInfo;
    static void const* const fieldInfos[2];
    static unsigned const fieldIds[2];
    static char const* const fieldNames[2];
    explicit Opt(void const* info = &theInfo) : ASN1::SEQUENCE(info) {}
};

// Alt ::= CHOICE { x NULL, y INTEGER (0..255), z Rec, ..., w IA5String }
struct Alt : ASN1::CHOICE {
    static InfoType const theInfo;
    static void const* const selectionInfos[4];
    static char const* const selectionNames[4];
    explicit Alt(void const* info = &theInfo) : ASN1::CHOICE(info) {}
};

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
    static void const* const fieldInfos[29];
    static unsigned const fieldIds[27];
    static char const* const fieldNames[29];
    explicit All(void const* info = &theInfo) : ASN1::SEQUENCE(info) {}
};

} // namespace rec

#endif
