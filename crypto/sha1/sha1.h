#pragma once
#include <cstdint>
#include <memory>

#include "crypto/hash_algorithm.h"

namespace crypto {

// SHA-1 (FIPS 180-4). Used through the factory and directly as a local object
// for thumbprints and public-key hashes.
class sha1 final : public hash_algorithm {
public:
    sha1();
    ~sha1() override;
    sha1(const sha1&) = delete;
    sha1& operator=(const sha1&) = delete;

    void init() override;
    void update(const void* data, std::uint32_t length) override;
    byte_vector final() override;
    int size() const override;

private:
    struct state;
    std::unique_ptr<state> state_;
    int size_;
};

}  // namespace crypto
