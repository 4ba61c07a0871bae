#include "records.h"

namespace rec {

using namespace ASN1;

namespace {
unsigned const M = MandatoryField;

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

void const* const commandInfos[] = {
    &Null::theInfo, &Null::theInfo, &Int1023::theInfo, &Null::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo, &OCTET_STRING::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo};
char const* const commandNames[] = {
    "query", "testBpc", "connect", "disconnect", "create", "destroy", "activate", "deactivate",
    "userData", "ioctl", "trunkCfg", "clockCfg", "ping", "display", "protoZarn"};
void const* const responseInfos[] = {&Null::theInfo, &ErrorCause::theInfo};
char const* const responseNames[] = {"success", "error"};
void const* const pduInfos[] = {&Command::theInfo, &Response::theInfo, &Null::theInfo};
char const* const pduNames[] = {"command", "response", "signal"};
void const* const altInfos[] = {&Null::theInfo, &Int255::theInfo, &Rec::theInfo,
                                &IA5String::theInfo};
char const* const altNames[] = {"x", "y", "z", "w"};

void const* const messageInfos[] = {&INTEGER::theInfo, &Int1023::theInfo, &PDU::theInfo};
unsigned const messageIds[] = {0, 1, M};
char const* const messageNames[] = {"seq", "slot", "pdu"};
void const* const innerInfos[] = {&Int7::theInfo};
unsigned const innerIds[] = {M};
char const* const innerNames[] = {"b"};
void const* const recInfos[] = {&Int7::theInfo, &BOOLEAN::theInfo, &IA5String::theInfo,
                                &Inner::theInfo, &INTEGER::theInfo, &OCTET_STRING::theInfo};
unsigned const recIds[] = {M, 0, 1, M};
char const* const recNames[] = {"a", "b", "c", "inner", "d", "e"};
void const* const optInfos[] = {&INTEGER::theInfo, &BOOLEAN::theInfo};
unsigned const optIds[] = {0, 1};
char const* const optNames[] = {"x", "y"};

void const* const allInfos[] = {
    &Null::theInfo, &BOOLEAN::theInfo, &INTEGER::theInfo, &Int7::theInfo, &Int1023::theInfo,
    &IntSigned8::theInfo, &Int32u::theInfo, &IntWide::theInfo, &IntFrom0::theInfo,
    &IntExt15::theInfo, &StandbyState::theInfo, &ErrorCause::theInfo, &RadioStandby::theInfo,
    &OBJECT_IDENTIFIER::theInfo, &BIT_STRING::theInfo, &OCTET_STRING::theInfo,
    &IA5String::theInfo, &NumericString::theInfo, &PrintableString::theInfo,
    &BMPString::theInfo, &Alt::theInfo, &RecList::theInfo, &IntList::theInfo,
    &NameSet::theInfo, &OpenData::theInfo, &RecOpenInfo, &GeneralizedTime::theInfo,
    &Rec::theInfo, &IA5String::theInfo};
unsigned const allIds[] = {M, M, M, M, 0, M, M, M, M, M, M, M, 1, 2,
                           M, M, M, M, M, 3, M, M, 4, 5, 6, 7, 8};
char const* const allNames[] = {
    "n",   "f",   "i",    "i7",    "i1023", "s8",    "u32",  "wide", "from0", "x15",
    "st",  "err", "rs",   "oid",   "bits",  "oct",   "ia5",  "num",  "pr",    "bmp",
    "alt", "list", "ints", "names", "open", "typed", "time", "ext1", "ext2"};
} // namespace

EnumeratedInfo const ErrorCause::theInfo = {
    {&createValue<ErrorCause>, 10}, true, 12, errorCauseNames, 13};
EnumeratedInfo const StandbyState::theInfo = {
    {&createValue<StandbyState>, 10}, false, 16, standbyStateNames, 6};
EnumeratedInfo const RadioStandby::theInfo = {
    {&createValue<RadioStandby>, 10}, false, 1, radioStandbyNames, 3};
EnumeratedInfo const Payload::theInfo = {
    {&createValue<Payload>, 10}, false, 123, payloadNames, 15};

ChoiceInfo const Command::theInfo = {
    {&createValue<Command>, 0}, true, commandInfos, 15, 15, nullptr, commandNames};
ChoiceInfo const Response::theInfo = {
    {&createValue<Response>, 0}, false, responseInfos, 2, 2, nullptr, responseNames};
ChoiceInfo const PDU::theInfo = {
    {&createValue<PDU>, 0}, false, pduInfos, 3, 3, nullptr, pduNames};
ChoiceInfo const Alt::theInfo = {
    {&createValue<Alt>, 0}, true, altInfos, 3, 4, nullptr, altNames};

SequenceInfo const Message::theInfo = {
    {&createValue<Message>, 16}, false, messageInfos, messageIds, 3, 0, 2, nullptr, nullptr,
    messageNames};
SequenceInfo const Inner::theInfo = {
    {&createValue<Inner>, 16}, false, innerInfos, innerIds, 1, 0, 0, nullptr, nullptr, innerNames};
SequenceInfo const Rec::theInfo = {
    {&createValue<Rec>, 16}, true, recInfos, recIds, 4, 2, 2, nullptr, nullptr, recNames};
SequenceInfo const Opt::theInfo = {
    {&createValue<Opt>, 16}, false, optInfos, optIds, 2, 0, 2, nullptr, nullptr, optNames};
SequenceInfo const All::theInfo = {
    {&createValue<All>, 16}, true, allInfos, allIds, 27, 2, 9, nullptr, nullptr, allNames};

TypeConstrainedOpenInfo const RecOpenInfo = {{&TypeConstrainedOpenData::create, 0},
                                             &Rec::theInfo};

} // namespace rec
