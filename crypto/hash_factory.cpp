#include "crypto/hash_algorithm.h"

#include "crypto/gost_3411_2012/gost_3411_12.h"
#include "crypto/gost_3411_94/gost_3411_94.h"
#include "crypto/sha1/sha1.h"
#include "crypto/sha2/sha256.h"
#include "crypto/sha2/sha512.h"

namespace crypto {

std::shared_ptr<hash_algorithm> make_hash_algorithm_from_oid(const std::string& oid)
{
    if (oid == "1.3.14.3.2.26") return std::make_shared<sha1>();
    if (oid == "1.2.643.2.2.9") return std::make_shared<gost_3411_94>();
    if (oid == "1.2.643.7.1.1.2.2") return std::make_shared<gost_3411_12_256>();
    if (oid == "1.2.643.7.1.1.2.3") return std::make_shared<gost_3411_12_512>();
    if (oid == "1.2.840.113549.1.1.11") return std::make_shared<sha256>();
    if (oid == "1.2.840.113549.1.1.12") return std::make_shared<sha384>();
    if (oid == "1.2.840.113549.1.1.13") return std::make_shared<sha512>();
    return {};
}

std::shared_ptr<hash_algorithm> make_hash_algorithm_from_alg_id(std::uint32_t alg_id)
{
    switch (alg_id) {
    case 0x800C: return std::make_shared<sha256>();            // CALG_SHA_256
    case 0x800D: return std::make_shared<sha384>();            // CALG_SHA_384
    case 0x800E: return std::make_shared<sha512>();            // CALG_SHA_512
    case 0x801E: return std::make_shared<gost_3411_94>();      // CALG_GR3411
    case 0x8021: return std::make_shared<gost_3411_12_256>();  // CALG_GR3411_2012_256
    case 0x8022: return std::make_shared<gost_3411_12_512>();  // CALG_GR3411_2012_512
    default: return {};
    }
}

}  // namespace crypto
