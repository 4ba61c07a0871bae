#pragma once
// Request of the board's voice device "/dev/voice" (request type 'V'): the
// capacity of a codec. The argument points to the 32-bit codec number; the
// request's return value is the count of channels.
namespace voice {

constexpr unsigned long VOICE_CODEC_CAPACITY = 0x40045602UL;

// Codec numbers asked by the RTP factories.
constexpr int CODEC_G711 = 1;
constexpr int CODEC_G723 = 2;
constexpr int CODEC_G729 = 4;
constexpr int CODEC_G711MCC = 8;
constexpr int CODEC_UNIVERSAL = 65;

}  // namespace voice
