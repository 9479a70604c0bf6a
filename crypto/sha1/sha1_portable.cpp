// SHA-1 compression in portable C++: 80 unrolled rounds over a rolling
// window of 16 message words.
#include "crypto/sha1/sha1_dispatch.h"
#include "crypto/sha2/big_endian.h"

namespace crypto::detail {

namespace {

constexpr std::uint32_t k0 = 0x5A827999;
constexpr std::uint32_t k1 = 0x6ED9EBA1;
constexpr std::uint32_t k2 = 0x8F1BBCDC;
constexpr std::uint32_t k3 = 0xCA62C1D6;

inline std::uint32_t choose(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return d ^ (b & (c ^ d)); }
inline std::uint32_t parity(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return b ^ c ^ d; }
inline std::uint32_t majority(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return (b & c) | (d & (b | c)); }

// Word t of the schedule for t >= 16, computed in place in the 16-word window.
inline std::uint32_t expand(std::uint32_t* w, int t)
{
    const std::uint32_t x = w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15];
    return w[t & 15] = rotl32(x, 1);
}

// One round; the caller rotates the roles of a..e instead of moving values.
#define KELVORA_SHA1_ROUND(f, k, a, b, c, d, e, wt) \
    do {                                            \
        e += rotl32(a, 5) + f(b, c, d) + (k) + (wt); \
        b = rotl32(b, 30);                          \
    } while (0)

#define KELVORA_SHA1_FIVE_LOAD(t)                                   \
    KELVORA_SHA1_ROUND(choose, k0, a, b, c, d, e, w[(t) + 0]);      \
    KELVORA_SHA1_ROUND(choose, k0, e, a, b, c, d, w[(t) + 1]);      \
    KELVORA_SHA1_ROUND(choose, k0, d, e, a, b, c, w[(t) + 2]);      \
    KELVORA_SHA1_ROUND(choose, k0, c, d, e, a, b, w[(t) + 3]);      \
    KELVORA_SHA1_ROUND(choose, k0, b, c, d, e, a, w[(t) + 4])

#define KELVORA_SHA1_FIVE(f, k, t)                                  \
    KELVORA_SHA1_ROUND(f, k, a, b, c, d, e, expand(w, (t) + 0));    \
    KELVORA_SHA1_ROUND(f, k, e, a, b, c, d, expand(w, (t) + 1));    \
    KELVORA_SHA1_ROUND(f, k, d, e, a, b, c, expand(w, (t) + 2));    \
    KELVORA_SHA1_ROUND(f, k, c, d, e, a, b, expand(w, (t) + 3));    \
    KELVORA_SHA1_ROUND(f, k, b, c, d, e, a, expand(w, (t) + 4))

}  // namespace

void sha1_compress_portable(std::uint32_t* h, const std::uint8_t* blocks, std::size_t count)
{
    for (; count != 0; --count, blocks += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be32(blocks + 4 * i);

        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];

        KELVORA_SHA1_FIVE_LOAD(0);
        KELVORA_SHA1_FIVE_LOAD(5);
        KELVORA_SHA1_FIVE_LOAD(10);
        KELVORA_SHA1_ROUND(choose, k0, a, b, c, d, e, w[15]);
        KELVORA_SHA1_ROUND(choose, k0, e, a, b, c, d, expand(w, 16));
        KELVORA_SHA1_ROUND(choose, k0, d, e, a, b, c, expand(w, 17));
        KELVORA_SHA1_ROUND(choose, k0, c, d, e, a, b, expand(w, 18));
        KELVORA_SHA1_ROUND(choose, k0, b, c, d, e, a, expand(w, 19));

        KELVORA_SHA1_FIVE(parity, k1, 20);
        KELVORA_SHA1_FIVE(parity, k1, 25);
        KELVORA_SHA1_FIVE(parity, k1, 30);
        KELVORA_SHA1_FIVE(parity, k1, 35);

        KELVORA_SHA1_FIVE(majority, k2, 40);
        KELVORA_SHA1_FIVE(majority, k2, 45);
        KELVORA_SHA1_FIVE(majority, k2, 50);
        KELVORA_SHA1_FIVE(majority, k2, 55);

        KELVORA_SHA1_FIVE(parity, k3, 60);
        KELVORA_SHA1_FIVE(parity, k3, 65);
        KELVORA_SHA1_FIVE(parity, k3, 70);
        KELVORA_SHA1_FIVE(parity, k3, 75);

        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
}

#undef KELVORA_SHA1_FIVE
#undef KELVORA_SHA1_FIVE_LOAD
#undef KELVORA_SHA1_ROUND

}  // namespace crypto::detail
