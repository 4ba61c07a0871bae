#ifndef ASN1_ASN1_H
#define ASN1_ASN1_H

// Everything of the ASN.1 runtime that the schemas and their users need.

#include "asn1/abstractdata.h"
#include "asn1/abstractstring.h"
#include "asn1/avndecoder.h"
#include "asn1/berdecoder.h"
#include "asn1/berencoder.h"
#include "asn1/bit_string.h"
#include "asn1/bmpstring.h"
#include "asn1/boolean.h"
#include "asn1/choice.h"
#include "asn1/coderenv.h"
#include "asn1/enumerated.h"
#include "asn1/generalizedtime.h"
#include "asn1/integer.h"
#include "asn1/null.h"
#include "asn1/object_identifier.h"
#include "asn1/octet_string.h"
#include "asn1/opendata.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/typeinfo.h"
#include "asn1/validity.h"
#include "asn1/visitor.h"

#endif
