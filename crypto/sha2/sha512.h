#pragma once
#include <cstdint>
#include <memory>

#include "crypto/hash_algorithm.h"

namespace crypto {

namespace detail {
struct sha512_state;
}  // namespace detail

// SHA-512 (FIPS 180-4).
class sha512 final : public hash_algorithm {
public:
    sha512();
    ~sha512() override;
    sha512(const sha512&) = delete;
    sha512& operator=(const sha512&) = delete;

    void init() override;
    void update(const void* data, std::uint32_t length) override;
    byte_vector final() override;
    int size() const override;

private:
    std::unique_ptr<detail::sha512_state> state_;
    int size_;
};

// SHA-384 (FIPS 180-4): the SHA-512 compression with its own initial values,
// the digest cut to 48 bytes.
class sha384 final : public hash_algorithm {
public:
    sha384();
    ~sha384() override;
    sha384(const sha384&) = delete;
    sha384& operator=(const sha384&) = delete;

    void init() override;
    void update(const void* data, std::uint32_t length) override;
    byte_vector final() override;
    int size() const override;

private:
    std::unique_ptr<detail::sha512_state> state_;
    int size_;
};

}  // namespace crypto
