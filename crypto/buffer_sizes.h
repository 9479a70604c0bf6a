#pragma once
#include <cstddef>

// Sizes at which large inputs are handled piece by piece. The fuzz build
// (KELVORA_SMALL_BUFFERS) shrinks them, so that the piecewise paths (large
// JSON strings, multi-chunk frames, multi-piece base64 decoding) are reached
// by inputs of a few kilobytes.
namespace crypto::buffer_sizes {

#ifdef KELVORA_SMALL_BUFFERS
constexpr std::size_t large_json_string = 64;
constexpr std::size_t frame_chunk = 256;
constexpr std::size_t base64_piece_bytes = 48;
#else
// A JSON string literal at least this long is handled apart (a document).
constexpr std::size_t large_json_string = 64 * 1024;
// Request bodies are read in pieces of at most this size.
constexpr std::size_t frame_chunk = 1u << 20;
// Decoded bytes per piece of a streamed base64 decoding: small enough to stay
// in the cache between decoding and the consumer.
constexpr std::size_t base64_piece_bytes = 256 * 1024;
#endif

}  // namespace crypto::buffer_sizes
