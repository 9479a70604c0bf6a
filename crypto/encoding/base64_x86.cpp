// Vector base64 decoding for x86 (SSSE3 and AVX2), in the i686 and the x86_64
// build. Each step turns 16 (or 32) characters into 12 (or 24) bytes with
// nibble-indexed table lookups. A step whose characters are not all in the
// 64-character alphabet ("=" included) is handed to the portable decoder,
// which decodes it ("=" as zero bits) or throws exactly as it would have, so
// results and exceptions are the portable ones. The functions carry their own
// target attribute and run only after the processor was checked.
#include "crypto/encoding/base64_groups.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

// 32-bit Windows keeps the stack only 4-byte aligned; realign on entry so
// spilled vector registers stay aligned.
#if defined(__i386__)
#define KELVORA_SSSE3_FUNCTION __attribute__((target("ssse3"), force_align_arg_pointer))
#define KELVORA_AVX2_FUNCTION __attribute__((target("avx2"), force_align_arg_pointer))
#else
#define KELVORA_SSSE3_FUNCTION __attribute__((target("ssse3")))
#define KELVORA_AVX2_FUNCTION __attribute__((target("avx2")))
#endif

namespace crypto::detail {

namespace {

// Tables indexed by the low and the high nibble of a character: their AND is
// non-zero exactly for characters outside A-Z a-z 0-9 + /. The roll table,
// indexed by the high nibble (one less for "/"), is what turns a character
// into its 6-bit value when added.
#define KELVORA_B64_LUT_LO \
    0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A
#define KELVORA_B64_LUT_HI \
    0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10
#define KELVORA_B64_LUT_ROLL 0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0
// Within each 4-byte group of 6-bit values, the 3 bytes they make, in order.
#define KELVORA_B64_PACK 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1

KELVORA_SSSE3_FUNCTION
std::uint8_t* decode_ssse3(const unsigned char* in, std::size_t length, std::uint8_t* out)
{
    const __m128i lut_lo = _mm_setr_epi8(KELVORA_B64_LUT_LO);
    const __m128i lut_hi = _mm_setr_epi8(KELVORA_B64_LUT_HI);
    const __m128i lut_roll = _mm_setr_epi8(KELVORA_B64_LUT_ROLL);
    const __m128i mask_2f = _mm_set1_epi8(0x2F);
    const __m128i pack = _mm_setr_epi8(KELVORA_B64_PACK);
    std::size_t i = 0;
    // A step stores 16 bytes of which 12 count: at least 24 characters must
    // remain so that the output has room for the 4 extra.
    while (i + 24 <= length) {
        __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i hi_nibbles = _mm_and_si128(_mm_srli_epi32(text, 4), mask_2f);
        const __m128i lo_nibbles = _mm_and_si128(text, mask_2f);
        const __m128i bad = _mm_and_si128(_mm_shuffle_epi8(lut_lo, lo_nibbles), _mm_shuffle_epi8(lut_hi, hi_nibbles));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(bad, _mm_setzero_si128())) != 0xFFFF) {
            out = base64_decode_groups_portable(in + i, 16, out);
            i += 16;
            continue;
        }
        const __m128i roll =
            _mm_shuffle_epi8(lut_roll, _mm_add_epi8(_mm_cmpeq_epi8(text, mask_2f), hi_nibbles));
        text = _mm_add_epi8(text, roll);
        // aaaaaa bbbbbb cccccc dddddd -> 24 bits per group, then 3 bytes each.
        text = _mm_maddubs_epi16(text, _mm_set1_epi32(0x01400140));
        text = _mm_madd_epi16(text, _mm_set1_epi32(0x00011000));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(text, pack));
        out += 12;
        i += 16;
    }
    return base64_decode_groups_portable(in + i, length - i, out);
}

KELVORA_AVX2_FUNCTION
std::uint8_t* decode_avx2(const unsigned char* in, std::size_t length, std::uint8_t* out)
{
    const __m256i lut_lo = _mm256_setr_epi8(KELVORA_B64_LUT_LO, KELVORA_B64_LUT_LO);
    const __m256i lut_hi = _mm256_setr_epi8(KELVORA_B64_LUT_HI, KELVORA_B64_LUT_HI);
    const __m256i lut_roll = _mm256_setr_epi8(KELVORA_B64_LUT_ROLL, KELVORA_B64_LUT_ROLL);
    const __m256i mask_2f = _mm256_set1_epi8(0x2F);
    const __m256i pack = _mm256_setr_epi8(KELVORA_B64_PACK, KELVORA_B64_PACK);
    // The 12 bytes of each half side by side.
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    std::size_t i = 0;
    // A step stores 32 bytes of which 24 count: at least 44 characters must
    // remain; 48 keeps whole steps.
    while (i + 48 <= length) {
        __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i hi_nibbles = _mm256_and_si256(_mm256_srli_epi32(text, 4), mask_2f);
        const __m256i lo_nibbles = _mm256_and_si256(text, mask_2f);
        const __m256i bad =
            _mm256_and_si256(_mm256_shuffle_epi8(lut_lo, lo_nibbles), _mm256_shuffle_epi8(lut_hi, hi_nibbles));
        if (!_mm256_testz_si256(bad, bad)) {
            out = base64_decode_groups_portable(in + i, 32, out);
            i += 32;
            continue;
        }
        const __m256i roll =
            _mm256_shuffle_epi8(lut_roll, _mm256_add_epi8(_mm256_cmpeq_epi8(text, mask_2f), hi_nibbles));
        text = _mm256_add_epi8(text, roll);
        text = _mm256_maddubs_epi16(text, _mm256_set1_epi32(0x01400140));
        text = _mm256_madd_epi16(text, _mm256_set1_epi32(0x00011000));
        text = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(text, pack), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), text);
        out += 24;
        i += 32;
    }
    // The rest (under 48 characters) 16 at a time.
    return decode_ssse3(in + i, length - i, out);
}

}  // namespace

const base64_group_decoder base64_decode_groups_ssse3 = decode_ssse3;
const base64_group_decoder base64_decode_groups_avx2 = decode_avx2;

}  // namespace crypto::detail

#else

namespace crypto::detail {

const base64_group_decoder base64_decode_groups_ssse3 = nullptr;
const base64_group_decoder base64_decode_groups_avx2 = nullptr;

}  // namespace crypto::detail

#endif
