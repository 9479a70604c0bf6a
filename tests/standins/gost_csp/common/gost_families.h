#pragma once
// The three GOST R 34.10 key families the stand-in knows, with everything that
// depends on the family: provider type, algorithm identifiers, sizes, OIDs and
// the DER key parameters that travel in public-key blobs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gost_standin {

using bytes = std::vector<std::uint8_t>;

struct key_family {
    const char* label;             // "2001", "2012-256", "2012-512"
    std::uint32_t provider_type;   // 75, 80, 81
    const char* provider_name;
    std::uint32_t sign_alg;        // CALG_GR3410*
    std::uint32_t exchange_alg;    // CALG_DH_*_SF
    std::uint32_t ephemeral_alg;   // CALG_DH_*_EPHEM
    std::uint32_t hash_alg;        // CALG_GR3411*
    std::uint32_t export_alg;      // CALG_PRO_EXPORT / CALG_PRO12_EXPORT
    std::size_t private_size;      // bytes
    std::size_t public_size;       // bytes of the raw public key
    std::size_t signature_size;    // bytes of a signature
    const char* public_key_oid;    // SubjectPublicKeyInfo algorithm
    const char* signature_oid;     // certificate signature algorithm
    const char* hash_oid;
    const char* exchange_oid;      // the DH algorithm of the family
    const char* key_param_oid;     // public-key parameter set
    const char* digest_param_oid;  // digest parameter set
    const char* cipher_param_oid;  // GOST 28147-89 parameter set of session keys
};

const std::vector<key_family>& key_families();

// Null when nothing matches.
const key_family* family_by_label(const std::string& label);
const key_family* family_by_provider_type(std::uint32_t type);
// Any of the family's key-pair algorithms (signature, exchange, ephemeral).
const key_family* family_by_key_alg(std::uint32_t alg);
const key_family* family_by_hash_alg(std::uint32_t alg);

// DER of SEQUENCE { OID key parameters, OID digest parameters }.
std::vector<std::uint8_t> key_parameters_der(const key_family& family);
// DER of SEQUENCE { OID cipher parameters }.
std::vector<std::uint8_t> cipher_parameters_der(const key_family& family);
// DER of one OBJECT IDENTIFIER (tag, length, contents) from dotted text.
std::vector<std::uint8_t> oid_der(const std::string& dotted);

}  // namespace gost_standin
