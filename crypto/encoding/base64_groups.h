#pragma once
// The base64 group decoders behind base64_decode and base64_decode_each: the
// portable table loop and the vector ones chosen at run time. Each decodes
// whole groups of in[0, length) (length a multiple of 4) into out and
// returns the end of what it wrote; a character outside the alphabet throws
// boost::archive::iterators::dataflow_exception, and "=" counts as zero bits.
// Every decoder gives the portable one's bytes and exceptions exactly.
#include <cstddef>
#include <cstdint>

namespace crypto::detail {

using base64_group_decoder = std::uint8_t* (*)(const unsigned char* in, std::size_t length, std::uint8_t* out);

std::uint8_t* base64_decode_groups_portable(const unsigned char* in, std::size_t length, std::uint8_t* out);

// Vector decoders (16 and 32 characters a step); null where the build has
// none. Call only when the processor has the feature (cpu_ssse3, cpu_avx2).
extern const base64_group_decoder base64_decode_groups_ssse3;
extern const base64_group_decoder base64_decode_groups_avx2;

// The decoder base64_decode uses now: the fastest the processor and the
// feature switch allow.
base64_group_decoder base64_group_decoder_selected();

}  // namespace crypto::detail
