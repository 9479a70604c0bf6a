#include "crypto/skf/digest_info.h"

#include <cstddef>
#include <cstdint>

namespace crypto::skf {
namespace {

constexpr std::size_t prefix_size = 19;

// SEQUENCE { SEQUENCE { OID, NULL }, OCTET STRING (hash) } up to the hash.
constexpr std::uint8_t sha256_prefix[prefix_size] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                     0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr std::uint8_t sha384_prefix[prefix_size] = {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                     0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
constexpr std::uint8_t sha512_prefix[prefix_size] = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                     0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

const std::uint8_t* prefix_for(std::size_t hash_size)
{
    switch (hash_size) {
    case 32:
        return sha256_prefix;
    case 48:
        return sha384_prefix;
    case 64:
        return sha512_prefix;
    default:
        return nullptr;
    }
}

}  // namespace

byte_vector make_digest_info(const byte_vector& hash)
{
    const std::uint8_t* prefix = prefix_for(hash.size());
    if (!prefix)
        return {};
    byte_vector info(prefix, prefix + prefix_size);
    info.insert(info.end(), hash.begin(), hash.end());
    return info;
}

}  // namespace crypto::skf
