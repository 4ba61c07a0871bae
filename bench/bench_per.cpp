// Aligned PER encode and decode of a message of about twenty fields, the
// size of a typical slot creation command.

#include <benchmark/benchmark.h>

#include <vector>

#include "asn1/asn1.h"

namespace {

using namespace ASN1;

typedef Constrained_INTEGER<FixedConstraint, 0, 1023> Slot;
typedef Constrained_INTEGER<FixedConstraint, 0, 65535> Port;
typedef Constrained_INTEGER<FixedConstraint, 0, 127> Small;
typedef Constrained_INTEGER<FixedConstraint, 0, 4294967295u> Counter;

char const* const modeNames[] = {"sendRecv", "sendOnly", "recvOnly", "inactive"};
EnumeratedInfo const modeInfo = {{&ENUMERATED::create, 10}, true, 3, modeNames, 4};

typedef SEQUENCE_OF<Small, EmptyConstraint> Payloads;

// Codec ::= CHOICE { pcmu NULL, pcma NULL, g729 INTEGER (0..127), ..., opus OCTET STRING }
void const* const codecInfos[] = {&Null::theInfo, &Null::theInfo, &Small::theInfo,
                                  &OCTET_STRING::theInfo};
char const* const codecNames[] = {"pcmu", "pcma", "g729", "opus"};
ChoiceInfo const codecInfo = {{&CHOICE::create, 0}, true, codecInfos, 3, 4, nullptr, codecNames};

// Params ::= SEQUENCE { 20 fields, 6 of them OPTIONAL, ..., note IA5String OPTIONAL }
void const* const fieldInfos[] = {
    &INTEGER::theInfo,   &Slot::theInfo,        &IA5String::theInfo, &BOOLEAN::theInfo,
    &modeInfo,           &Port::theInfo,        &Port::theInfo,      &OCTET_STRING::theInfo,
    &OCTET_STRING::theInfo, &Payloads::theInfo, &codecInfo,          &Small::theInfo,
    &Small::theInfo,     &Counter::theInfo,     &Counter::theInfo,   &BOOLEAN::theInfo,
    &IA5String::theInfo, &INTEGER::theInfo,     &Slot::theInfo,      &Null::theInfo,
    &IA5String::theInfo};
unsigned const M = MandatoryField;
unsigned const fieldIds[] = {M, M, M, M, M, M, M, M, 0, M, M, 1, 2, M, 3, 4, 5, M, M, M};
char const* const fieldNames[] = {"seq",    "slot",   "name",  "enabled", "mode",    "localPort",
                                  "remotePort", "localAddr", "remoteAddr", "payloads", "codec",
                                  "ptime",  "jitter", "ssrc",  "timestamp", "vad",   "label",
                                  "tos",    "peer",   "marker", "note"};
SequenceInfo const paramsInfo = {{&SEQUENCE::create, 16}, true, fieldInfos, fieldIds, 20, 1, 6,
                                 nullptr, nullptr, fieldNames};

template <class T>
T& at(SEQUENCE& s, unsigned i)
{
    return static_cast<T&>(*s.getField(i));
}

template <class T>
T& opt(SEQUENCE& s, unsigned id, unsigned i)
{
    return static_cast<T&>(*s.includeOptionalField(id, i));
}

void fill(SEQUENCE& p)
{
    at<INTEGER>(p, 0) = 4711;
    at<Slot>(p, 1) = 513u;
    at<IA5String>(p, 2) = "rtp-channel-17";
    at<BOOLEAN>(p, 3) = true;
    at<ENUMERATED>(p, 4).setFromInt(2);
    at<Port>(p, 5) = 20000u;
    at<Port>(p, 6) = 30002u;
    at<OCTET_STRING>(p, 7) = std::vector<char>{10, 0, 0, 1};
    opt<OCTET_STRING>(p, 0, 8) = std::vector<char>{char(192), char(168), 1, 20};
    Payloads& payloads = at<Payloads>(p, 9);
    for (unsigned pt : {0u, 8u, 18u, 101u})
        payloads.push_back(Small(pt));
    CHOICE& codec = at<CHOICE>(p, 10);
    codec.select(2);
    static_cast<Small&>(*codec.getSelection()) = 18u;
    opt<Small>(p, 1, 11) = 20u;
    opt<Small>(p, 2, 12) = 60u;
    at<Counter>(p, 13) = 0xDEADBEEFu;
    opt<Counter>(p, 3, 14) = 160000u;
    opt<BOOLEAN>(p, 4, 15) = false;
    opt<IA5String>(p, 5, 16) = "trunk 3";
    at<INTEGER>(p, 17) = 184;
    at<Slot>(p, 18) = 12u;
    opt<IA5String>(p, 6, 20) = "extension text";
}

std::vector<char> encoded(SEQUENCE const& p)
{
    CoderEnv env;
    env.set_encodingRule(2);
    std::vector<char> out;
    out.reserve(200);
    encode(p, &env, std::back_inserter(out));
    return out;
}

void BM_PerEncode(benchmark::State& state)
{
    SEQUENCE p(&paramsInfo);
    fill(p);
    for (auto _ : state) {
        CoderEnv env;
        env.set_encodingRule(2);
        std::vector<char> out;
        out.reserve(200);
        bool ok = encode(p, &env, std::back_inserter(out));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["octets"] = static_cast<double>(encoded(p).size());
}
BENCHMARK(BM_PerEncode);

void BM_PerDecode(benchmark::State& state)
{
    SEQUENCE p(&paramsInfo);
    fill(p);
    std::vector<char> const octets = encoded(p);
    for (auto _ : state) {
        CoderEnv env;
        env.set_encodingRule(2);
        SEQUENCE value(&paramsInfo);
        bool ok = decode(octets.data(), octets.data() + octets.size(), &env, value, true);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_PerDecode);

} // namespace
