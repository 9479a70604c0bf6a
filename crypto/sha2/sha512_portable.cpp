// SHA-384/SHA-512 compression in portable C++: unrolled rounds over a rolling
// window of 16 message words.
#include "crypto/sha2/big_endian.h"
#include "crypto/sha2/sha512_constants.h"
#include "crypto/sha2/sha512_dispatch.h"

namespace crypto::detail {

namespace {

inline std::uint64_t big_sigma0(std::uint64_t x) { return rotr64(x, 28) ^ rotr64(x, 34) ^ rotr64(x, 39); }
inline std::uint64_t big_sigma1(std::uint64_t x) { return rotr64(x, 14) ^ rotr64(x, 18) ^ rotr64(x, 41); }
inline std::uint64_t small_sigma0(std::uint64_t x) { return rotr64(x, 1) ^ rotr64(x, 8) ^ (x >> 7); }
inline std::uint64_t small_sigma1(std::uint64_t x) { return rotr64(x, 19) ^ rotr64(x, 61) ^ (x >> 6); }
inline std::uint64_t choose(std::uint64_t e, std::uint64_t f, std::uint64_t g) { return g ^ (e & (f ^ g)); }

// Schedule word t >= 16, computed in place in the 16-word window.
inline std::uint64_t expand(std::uint64_t* w, int t)
{
    return w[t & 15] += small_sigma1(w[(t + 14) & 15]) + w[(t + 9) & 15] + small_sigma0(w[(t + 1) & 15]);
}

// One round; the caller rotates the roles of a..h instead of moving values.
// Maj reuses a ^ b of this round as b ^ c of the next one (bc in, ab out).
#define KELVORA_SHA512_ROUND(a, b, c, d, e, f, g, h, kw, bc, ab) \
    do {                                                         \
        h += (kw) + choose(e, f, g) + big_sigma1(e);             \
        d += h;                                                  \
        ab = (a) ^ (b);                                          \
        h += big_sigma0(a) + (((ab) & (bc)) ^ (b));              \
    } while (0)

#define KELVORA_SHA512_EIGHT(t, word)                                                                         \
    KELVORA_SHA512_ROUND(a, b, c, d, e, f, g, h, sha512_round_constants[(t) + 0] + word((t) + 0), maj_x, maj_y); \
    KELVORA_SHA512_ROUND(h, a, b, c, d, e, f, g, sha512_round_constants[(t) + 1] + word((t) + 1), maj_y, maj_x); \
    KELVORA_SHA512_ROUND(g, h, a, b, c, d, e, f, sha512_round_constants[(t) + 2] + word((t) + 2), maj_x, maj_y); \
    KELVORA_SHA512_ROUND(f, g, h, a, b, c, d, e, sha512_round_constants[(t) + 3] + word((t) + 3), maj_y, maj_x); \
    KELVORA_SHA512_ROUND(e, f, g, h, a, b, c, d, sha512_round_constants[(t) + 4] + word((t) + 4), maj_x, maj_y); \
    KELVORA_SHA512_ROUND(d, e, f, g, h, a, b, c, sha512_round_constants[(t) + 5] + word((t) + 5), maj_y, maj_x); \
    KELVORA_SHA512_ROUND(c, d, e, f, g, h, a, b, sha512_round_constants[(t) + 6] + word((t) + 6), maj_x, maj_y); \
    KELVORA_SHA512_ROUND(b, c, d, e, f, g, h, a, sha512_round_constants[(t) + 7] + word((t) + 7), maj_y, maj_x)

#define KELVORA_SHA512_LOADED(t) w[t]
#define KELVORA_SHA512_EXPANDED(t) expand(w, t)

}  // namespace

void sha512_compress_portable(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count)
{
    for (; count != 0; --count, blocks += 128) {
        std::uint64_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be64(blocks + 8 * i);

        std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
        std::uint64_t maj_x = b ^ c, maj_y = 0;

        KELVORA_SHA512_EIGHT(0, KELVORA_SHA512_LOADED);
        KELVORA_SHA512_EIGHT(8, KELVORA_SHA512_LOADED);
        KELVORA_SHA512_EIGHT(16, KELVORA_SHA512_EXPANDED);
        KELVORA_SHA512_EIGHT(24, KELVORA_SHA512_EXPANDED);
        KELVORA_SHA512_EIGHT(32, KELVORA_SHA512_EXPANDED);
        KELVORA_SHA512_EIGHT(40, KELVORA_SHA512_EXPANDED);
        KELVORA_SHA512_EIGHT(48, KELVORA_SHA512_EXPANDED);
        KELVORA_SHA512_EIGHT(56, KELVORA_SHA512_EXPANDED);
        KELVORA_SHA512_EIGHT(64, KELVORA_SHA512_EXPANDED);
        KELVORA_SHA512_EIGHT(72, KELVORA_SHA512_EXPANDED);

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#undef KELVORA_SHA512_EXPANDED
#undef KELVORA_SHA512_LOADED
#undef KELVORA_SHA512_EIGHT
#undef KELVORA_SHA512_ROUND

}  // namespace crypto::detail
