// Aligned PER decode and encode of the controller's commands, as the control
// server does them: a fresh LGCP::Message per received frame, a fresh output
// vector of 200 octets per answer. Reported per image: ns per decode, per
// encode, per decode+encode, and the heap allocations per decode+encode.
//
// The heap is counted by replacing the global operator new of this program
// only; the library code is not instrumented.

#include <benchmark/benchmark.h>

#include <atomic>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "schema/lgcp/LGCP.h"

namespace {
// One thread: a plain counter keeps the hook cheap.
unsigned long heapAllocations = 0;
}

void* operator new(std::size_t n)
{
    ++heapAllocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n)
{
    return operator new(n);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

LGCP::Message command(LGCP::Command const& c, int seq, unsigned slot)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_slot(slot);
    m.set_pdu().select_command(c);
    return m;
}

LGCP::Message create(LGCP::CreateParams const& p, int seq, unsigned slot)
{
    return command(LGCP::Command(LGCP::Command::create::index, p), seq, slot);
}

void fillHost(TERM::HostAddress& h, char const* addr, unsigned port)
{
    h.set_iaddr(addr);
    h.set_port(port);
}

LGCP::Message ping()
{
    return command(LGCP::Command(LGCP::Command::ping::index, ASN1::Null()), 5, 0u);
}

LGCP::Message createTrunk()
{
    LGCP::CreateParams p;
    LGCP::TrunkParams& t = p.select_trunk();
    t.set_trunk(1u);
    t.set_timeslot(17u);
    return create(p, 1, 17u);
}

LGCP::Message createMixerIn()
{
    LGCP::CreateParams p;
    LGCP::MixerInParams& m = p.select_mixerIn();
    m.set_unit(2);
    m.set_channel().select_tdm(12);
    m.set_summator().select_rtp(3);
    m.set_ecm().set_ec(true);
    m.set_ecm().set_es(false);
    TERM::RtpParams& rtp = m.set_rtp();
    rtp.set_payload(TERM::Payload::ptG711_Alaw);
    fillHost(rtp.set_dhost(), "10.2.1.17", 40002u);
    rtp.set_ssrc(0x1234u);
    return create(p, 2, 512u);
}

LGCP::Message createT38Soft()
{
    LGCP::CreateParams p;
    LGCP::T38Soft& t = p.select_t38soft();
    fillHost(t.set_dhost(), "10.20.1.17", 40010u);
    fillHost(t.set_shost(), "10.2.1.2", 40011u);
    t.set_rx_packet_size(160);
    t.set_rx_threshold(3);
    t.set_tx_threshold(2);
    ASN1::IA5String arg;
    arg = "-ecm";
    t.set_args().push_back(arg);
    return create(p, 3, 600u);
}

LGCP::Message createRtp()
{
    LGCP::CreateParams p;
    LGCP::CreateRtpParams& c = p.select_rtp();
    TERM::RtpParams& rtp = c.set_codecRTP();
    rtp.set_payload(TERM::Payload::ptG729);
    fillHost(rtp.set_dhost(), "192.168.10.17", 40002u);
    fillHost(rtp.set_shost(), "192.168.10.2", 40004u);
    rtp.set_dname("radio7.site");
    rtp.set_jitter().set_start(40);
    rtp.set_jitter().set_max(200);
    rtp.set_pfactor(2);
    rtp.set_crate(8000);
    rtp.set_vad(true);
    rtp.set_echo().set_suppressor(true);
    rtp.set_echo().set_canceller(true);
    TERM::RtpRadioRequest& radio = rtp.set_radio();
    TERM::ED137RadioHeader& h = radio.set_status().select_ed_137().set_header();
    h.set_ptt(TERM::ED137RadioPTT::normal_ptt_on);
    h.set_squ(TERM::ED137RadioSQU::squ_on);
    h.set_ptt_id(5u);
    h.set_ptt_mute(false);
    h.set_ptt_summation(true);
    h.set_sct(false);
    TERM::ED137RadioResponse& r = radio.set_status().select_ed_137().set_radio_response();
    r.set_type(TERM::ED137RadioType::radio_txrx);
    r.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
    r.set_ptt_id(5u);
    r.set_fid(118000u);
    r.set_r2s_keepalive_period(200u);
    radio.set_rx_delay(20);
    radio.set_tx_delay(30);
    radio.set_bss_enable(true);
    radio.set_ng_enable(false);
    TERM::RtpE2M& e2m = rtp.set_rtp_e2m();
    e2m.set_slot(513);
    e2m.set_channel(4);
    TERM::RtpExtDescription& ext = e2m.set_mode().select_only_rtp();
    ext.set_fd(17);
    ext.set_pid(30211);
    rtp.set_ssrc(0xDEADBEEFu);
    rtp.set_ttl(64u);
    rtp.set_qos_dscp(TERM::IpQoSDSCP::af41);
    c.set_txPayload(TERM::Payload::ptG729);
    c.set_rxPayload(TERM::Payload::ptG711_Ulaw);
    return create(p, 4, 1023u);
}

std::vector<char> encoded(LGCP::Message const& m)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    std::vector<char> out;
    if (!ASN1::encode(m, &env, std::back_inserter(out))) {
        std::fprintf(stderr, "bench: an image does not encode\n");
        std::abort();
    }
    return out;
}

struct Image {
    char const* name;
    std::vector<char> octets;
};

std::vector<Image> const& images()
{
    static std::vector<Image> const all = {
        {"ping", encoded(ping())},
        {"createTrunk", encoded(createTrunk())},
        {"createMixerIn", encoded(createMixerIn())},
        {"createT38Soft", encoded(createT38Soft())},
        {"createRtp", encoded(createRtp())},
    };
    return all;
}

// What the control server does with a received frame.
bool decodeInto(Image const& image, LGCP::Message& msg)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    return ASN1::decode(image.octets.data(), image.octets.data() + image.octets.size(), &env, msg,
                        true);
}

// What the control server does to send a message.
bool encodeFrom(LGCP::Message const& msg, std::vector<char>& out)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    return ASN1::encode(msg, &env, std::back_inserter(out));
}

void fail(benchmark::State& state, char const* what)
{
    state.SkipWithError(what);
}

void report(benchmark::State& state, Image const& image, unsigned long allocations)
{
    state.counters["octets"] = static_cast<double>(image.octets.size());
    state.counters["allocs"] = state.iterations()
                                   ? static_cast<double>(allocations) / state.iterations()
                                   : 0.0;
}

void Decode(benchmark::State& state, Image const* image)
{
    unsigned long const before = heapAllocations;
    for (auto _ : state) {
        LGCP::Message msg;
        if (!decodeInto(*image, msg))
            return fail(state, "decode failed");
        benchmark::DoNotOptimize(&msg);
    }
    report(state, *image, heapAllocations - before);
}

void Encode(benchmark::State& state, Image const* image)
{
    LGCP::Message msg;
    if (!decodeInto(*image, msg))
        return fail(state, "decode failed");
    unsigned long const before = heapAllocations;
    for (auto _ : state) {
        std::vector<char> out;
        out.reserve(200);
        if (!encodeFrom(msg, out))
            return fail(state, "encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    report(state, *image, heapAllocations - before);
}

// One received frame and one sent, as the control server handles them.
void DecodeEncode(benchmark::State& state, Image const* image)
{
    unsigned long const before = heapAllocations;
    for (auto _ : state) {
        LGCP::Message msg;
        if (!decodeInto(*image, msg))
            return fail(state, "decode failed");
        std::vector<char> out;
        out.reserve(200);
        if (!encodeFrom(msg, out) || out != image->octets)
            return fail(state, "encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    report(state, *image, heapAllocations - before);
}

// The same message object and output vector for every frame.
void DecodeEncodeSameObjects(benchmark::State& state, Image const* image)
{
    LGCP::Message msg;
    std::vector<char> out;
    out.reserve(200);
    unsigned long const before = heapAllocations;
    for (auto _ : state) {
        if (!decodeInto(*image, msg))
            return fail(state, "decode failed");
        out.clear();
        if (!encodeFrom(msg, out))
            return fail(state, "encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    report(state, *image, heapAllocations - before);
}

// The least of the repetitions: on a busy machine the other figures mostly
// measure the neighbours.
double least(std::vector<double> const& v)
{
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

int registerAll()
{
    for (Image const& image : images()) {
        std::string const n(image.name);
        benchmark::RegisterBenchmark(("Decode/" + n).c_str(), Decode, &image)
            ->ComputeStatistics("min", least);
        benchmark::RegisterBenchmark(("Encode/" + n).c_str(), Encode, &image)
            ->ComputeStatistics("min", least);
        benchmark::RegisterBenchmark(("DecodeEncode/" + n).c_str(), DecodeEncode, &image)
            ->ComputeStatistics("min", least);
        benchmark::RegisterBenchmark(("DecodeEncodeSameObjects/" + n).c_str(),
                                     DecodeEncodeSameObjects, &image)
            ->ComputeStatistics("min", least);
    }
    return 0;
}

int const registered = registerAll();

} // namespace
