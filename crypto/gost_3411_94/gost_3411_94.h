#pragma once
#include <cstdint>
#include <memory>

#include "crypto/hash_algorithm.h"

namespace crypto {

struct gost_3411_94_state;

// GOST R 34.11-94 with the CryptoPro S-boxes (id-GostR3411-94-CryptoProParamSet)
// and the all-zero starting value: the digest of the GOST R 34.10-2001
// signatures (OID 1.2.643.2.2.9, CALG_GR3411). Blocks and the digest are
// 256-bit numbers stored least significant byte first.
class gost_3411_94 final : public hash_algorithm {
public:
    gost_3411_94();
    ~gost_3411_94() override;
    gost_3411_94(const gost_3411_94&) = delete;
    gost_3411_94& operator=(const gost_3411_94&) = delete;

    void init() override;
    void update(const void* data, std::uint32_t length) override;
    byte_vector final() override;
    int size() const override;

private:
    std::unique_ptr<gost_3411_94_state> state_;  // null until the first init()
    int size_;
};

}  // namespace crypto
