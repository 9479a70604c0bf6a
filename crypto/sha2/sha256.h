#pragma once
#include <cstdint>
#include <memory>

#include "crypto/hash_algorithm.h"

namespace crypto {

// SHA-256 (FIPS 180-4).
class sha256 final : public hash_algorithm {
public:
    sha256();
    ~sha256() override;
    sha256(const sha256&) = delete;
    sha256& operator=(const sha256&) = delete;

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
