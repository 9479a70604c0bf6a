#pragma once
#include <cstdint>
#include <memory>

#include "crypto/hash_algorithm.h"

namespace crypto {

struct streebog_state;

// GOST R 34.11-2012 (Streebog). This class holds the state and does the
// hashing; the two leaves only choose the digest length. The digest is the
// chaining value h written least significant byte first: all 64 bytes for
// the 512-bit hash, bytes 32..63 (its upper half) for the 256-bit one. The
// standard prints its digests as numbers, most significant byte first, so its
// examples read byte-reversed against this output.
class gost_3411_12 : public hash_algorithm {
public:
    gost_3411_12();
    ~gost_3411_12() override;
    gost_3411_12(const gost_3411_12&) = delete;
    gost_3411_12& operator=(const gost_3411_12&) = delete;

    void init() override;
    void update(const void* data, std::uint32_t length) override;
    byte_vector final() override;

private:
    std::unique_ptr<streebog_state> state_;  // null until the first init()
};

// 256-bit digest (OID 1.2.643.7.1.1.2.2, CALG_GR3411_2012_256).
class gost_3411_12_256 final : public gost_3411_12 {
public:
    int size() const override { return 32; }
};

// 512-bit digest (OID 1.2.643.7.1.1.2.3, CALG_GR3411_2012_512).
class gost_3411_12_512 final : public gost_3411_12 {
public:
    int size() const override { return 64; }
};

}  // namespace crypto
