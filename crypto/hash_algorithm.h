#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "crypto/byte_vector.h"

namespace crypto {

// A digest computed by the system's own code. Call init() before the first
// update(); final() returns the digest and leaves the object finished: call
// init() again to hash another message with the same object.
class hash_algorithm {
public:
    virtual ~hash_algorithm() = default;
    virtual void init() = 0;
    // A length of 0 changes nothing, whatever the pointer; a null pointer
    // changes nothing, whatever the length.
    virtual void update(const void* data, std::uint32_t length) = 0;
    virtual byte_vector final() = 0;
    virtual int size() const = 0;
};

// By OID text, compared exactly. SHA-2 is named by the RSA signature OIDs
// (1.2.840.113549.1.1.11/12/13); an unknown OID gives an empty pointer.
std::shared_ptr<hash_algorithm> make_hash_algorithm_from_oid(const std::string& oid);

// By CryptoAPI ALG_ID (SHA-256/384/512, GOST R 34.11-94, GOST R 34.11-2012);
// anything else, CALG_SHA1 included, gives an empty pointer.
std::shared_ptr<hash_algorithm> make_hash_algorithm_from_alg_id(std::uint32_t alg_id);

}  // namespace crypto
