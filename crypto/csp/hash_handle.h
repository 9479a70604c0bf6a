#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>

#include "crypto/byte_vector.h"

namespace crypto::csp {

// Owns one CryptoAPI hash handle (0 = none) holding a hash value to sign.
class hash_handle {
public:
    // A hash object of alg_id in provider holding value. Fails (no handle,
    // last error set) when the provider has no such hash, refuses the value,
    // or gives its digest another size than the value's (NTE_BAD_HASH).
    static hash_handle make(HCRYPTPROV provider, std::uint32_t alg_id, const byte_vector& value);

    hash_handle() = default;
    hash_handle(hash_handle&& other) noexcept;
    hash_handle& operator=(hash_handle&&) = delete;
    hash_handle(const hash_handle&) = delete;
    hash_handle& operator=(const hash_handle&) = delete;
    ~hash_handle();

    HCRYPTHASH handle() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }

    // The signature with the key of key_spec, as CryptSignHashW writes it. A
    // key-exchange spec that the container lacks (NTE_BAD_KEYSET) is retried
    // once as the signature key. Failures throw win32_exception; a signature
    // whose announced size is past the provider limit, or that is not
    // expected_size bytes long, throws std::runtime_error.
    byte_vector sign(std::uint32_t key_spec, std::size_t expected_size) const;
    // Whether sign would succeed; the signature is discarded.
    bool can_sign(std::uint32_t key_spec, std::size_t expected_size) const;

private:
    explicit hash_handle(HCRYPTHASH handle) : handle_(handle) {}
    HCRYPTHASH handle_ = 0;
};

}  // namespace crypto::csp
