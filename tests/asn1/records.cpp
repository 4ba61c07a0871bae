#include "records.h"

namespace rec {

namespace {
char const* const errorCauseNames[] = {
    "invalidParams", "insufficientResources", "invalidSlot", "slotNotExists",
    "unexpectedMsgType", "internal", "unsupported", "reconnectionFail",
    "disconnectFail", "connectFail", "busError", "slotIdBusy", "destroyInProgress"};
char const* const standbyStateNames[] = {"initial", "learn", "listen", "speak=4", "standby=8",
                                         "active=16"};
char const* const radioStandbyNames[] = {"not-use=-1", "active", "standby"};
char const* const payloadNames[] = {"ptPCMU", "pt1", "pt2", "ptG723", "pt4", "pt5", "pt6",
                                    "pt7", "ptPCMA", "ptG722", "pt10", "pt11", "pt12",
                                    "ptG728", "ptR2S=123"};
} // namespace

ASN1::ENUMERATED::InfoType const ErrorCause::theInfo = {
    {&ASN1::createValue<ErrorCause>, 10}, true, 12, errorCauseNames, 13};
ASN1::ENUMERATED::InfoType const StandbyState::theInfo = {
    {&ASN1::createValue<StandbyState>, 10}, false, 16, standbyStateNames, 6};
ASN1::ENUMERATED::InfoType const RadioStandby::theInfo = {
    {&ASN1::createValue<RadioStandby>, 10}, false, 1, radioStandbyNames, 3};
ASN1::ENUMERATED::InfoType const Payload::theInfo = {
    {&ASN1::createValue<Payload>, 10}, false, 123, payloadNames, 15};

void const* const Command::selectionInfos[15] = {
    &ASN1::Null::theInfo, &ASN1::Null::theInfo, &Int1023::theInfo,
    &ASN1::Null::theInfo, &ASN1::Null::theInfo, &ASN1::Null::theInfo,
    &ASN1::Null::theInfo, &ASN1::Null::theInfo, &ASN1::OCTET_STRING::theInfo,
    &ASN1::Null::theInfo, &ASN1::Null::theInfo, &ASN1::Null::theInfo,
    &ASN1::Null::theInfo, &ASN1::Null::theInfo, &ASN1::Null::theInfo};
char const* const Command::selectionNames[15] = {
    "query", "testBpc", "connect", "disconnect", "create", "destroy", "activate", "deactivate",
    "userData", "ioctl", "trunkCfg", "clockCfg", "ping", "display", "protoZarn"};
ASN1::CHOICE::InfoType const Command::theInfo = {
    {&ASN1::createValue<Command>, 0}, true, selectionInfos, 15, 15, nullptr, selectionNames};

void const* const Response::selectionInfos[2] = {&ASN1::Null::theInfo, &ErrorCause::theInfo};
char const* const Response::selectionNames[2] = {"success", "error"};
ASN1::CHOICE::InfoType const Response::theInfo = {
    {&ASN1::createValue<Response>, 0}, false, selectionInfos, 2, 2, nullptr, selectionNames};

void const* const PDU::selectionInfos[3] = {&Command::theInfo, &Response::theInfo,
                                            &ASN1::Null::theInfo};
char const* const PDU::selectionNames[3] = {"command", "response", "signal"};
ASN1::CHOICE::InfoType const PDU::theInfo = {
    {&ASN1::createValue<PDU>, 0}, false, selectionInfos, 3, 3, nullptr, selectionNames};

void const* const Message::fieldInfos[3] = {&ASN1::INTEGER::theInfo, &Int1023::theInfo,
                                            &PDU::theInfo};
unsigned const Message::fieldIds[3] = {0, 1, ASN1::MandatoryField};
char const* const Message::fieldNames[3] = {"seq", "slot", "pdu"};
ASN1::SEQUENCE::InfoType const Message::theInfo = {
    {&ASN1::createValue<Message>, 16}, false, fieldInfos, fieldIds, 3, 0, 2, nullptr, nullptr,
    fieldNames};

void const* const Inner::fieldInfos[1] = {&Int7::theInfo};
unsigned const Inner::fieldIds[1] = {ASN1::MandatoryField};
char const* const Inner::fieldNames[1] = {"b"};
ASN1::SEQUENCE::InfoType const Inner::theInfo = {
    {&ASN1::createValue<Inner>, 16}, false, fieldInfos, fieldIds, 1, 0, 0, nullptr, nullptr,
    fieldNames};

void const* const Rec::fieldInfos[6] = {&Int7::theInfo,          &ASN1::BOOLEAN::theInfo,
                                        &ASN1::IA5String::theInfo, &Inner::theInfo,
                                        &ASN1::INTEGER::theInfo,  &ASN1::OCTET_STRING::theInfo};
unsigned const Rec::fieldIds[4] = {ASN1::MandatoryField, 0, 1, ASN1::MandatoryField};
char const* const Rec::fieldNames[6] = {"a", "b", "c", "inner", "d", "e"};
ASN1::SEQUENCE::InfoType const Rec::theInfo = {
    {&ASN1::createValue<Rec>, 16}, true, fieldInfos, fieldIds, 4, 2, 2, nullptr, nullptr,
    fieldNames};

void const* const Opt::fieldInfos[2] = {&ASN1::INTEGER::theInfo, &ASN1::BOOLEAN::theInfo};
unsigned const Opt::fieldIds[2] = {0, 1};
char const* const Opt::fieldNames[2] = {"x", "y"};
ASN1::SEQUENCE::InfoType const Opt::theInfo = {
    {&ASN1::createValue<Opt>, 16}, false, fieldInfos, fieldIds, 2, 0, 2, nullptr, nullptr,
    fieldNames};

void const* const Alt::selectionInfos[4] = {&ASN1::Null::theInfo, &Int255::theInfo,
                                            &Rec::theInfo, &ASN1::IA5String::theInfo};
char const* const Alt::selectionNames[4] = {"x", "y", "z", "w"};
ASN1::CHOICE::InfoType const Alt::theInfo = {
    {&ASN1::createValue<Alt>, 0}, true, selectionInfos, 3, 4, nullptr, selectionNames};

ASN1::TypeConstrainedOpenInfo const RecOpenInfo = {
    {&ASN1::TypeConstrainedOpenData::create, 0}, &Rec::theInfo};

void const* const All::fieldInfos[29] = {
    &ASN1::Null::theInfo,         &ASN1::BOOLEAN::theInfo,         &ASN1::INTEGER::theInfo,
    &Int7::theInfo,               &Int1023::theInfo,               &IntSigned8::theInfo,
    &Int32u::theInfo,             &IntWide::theInfo,               &IntFrom0::theInfo,
    &IntExt15::theInfo,           &StandbyState::theInfo,          &ErrorCause::theInfo,
    &RadioStandby::theInfo,       &ASN1::OBJECT_IDENTIFIER::theInfo, &ASN1::BIT_STRING::theInfo,
    &ASN1::OCTET_STRING::theInfo, &ASN1::IA5String::theInfo,       &ASN1::NumericString::theInfo,
    &ASN1::PrintableString::theInfo, &ASN1::BMPString::theInfo,    &Alt::theInfo,
    &RecList::theInfo,            &IntList::theInfo,               &NameSet::theInfo,
    &ASN1::OpenData::theInfo,     &RecOpenInfo,                    &ASN1::GeneralizedTime::theInfo,
    &Rec::theInfo,                &ASN1::IA5String::theInfo};
unsigned const All::fieldIds[27] = {
    ASN1::MandatoryField, ASN1::MandatoryField, ASN1::MandatoryField, ASN1::MandatoryField, 0,
    ASN1::MandatoryField, ASN1::MandatoryField, ASN1::MandatoryField, ASN1::MandatoryField,
    ASN1::MandatoryField, ASN1::MandatoryField, ASN1::MandatoryField, 1, 2,
    ASN1::MandatoryField, ASN1::MandatoryField, ASN1::MandatoryField, ASN1::MandatoryField,
    ASN1::MandatoryField, 3, ASN1::MandatoryField, ASN1::MandatoryField, 4, 5, 6, 7, 8};
char const* const All::fieldNames[29] = {
    "n",   "f",   "i",   "i7",  "i1023", "s8",  "u32",  "wide",  "from0", "x15",
    "st",  "err", "rs",  "oid", "bits",  "oct", "ia5",  "num",   "pr",    "bmp",
    "alt", "list", "ints", "names", "open", "typed", "time", "ext1", "ext2"};
ASN1::SEQUENCE::InfoType const All::theInfo = {
    {&ASN1::createValue<All>, 16}, true, fieldInfos, fieldIds, 27, 2, 9, nullptr, nullptr,
    fieldNames};

} // namespace rec
