#include "crypto/signature_algorithm.h"

#include <stdexcept>
#include <utility>

#include "crypto/secure_wipe.h"

namespace crypto {
namespace {

const signature_kind_info kinds[] = {
    {signature_kind::gost_3410_2001, "1.2.643.2.2.3", "1.2.643.2.2.9", "1.2.643.2.2.9", 0x801E, true},
    {signature_kind::gost_3410_2012_256, "1.2.643.7.1.1.3.2", "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.2.2", 0x8021, true},
    {signature_kind::gost_3410_2012_512, "1.2.643.7.1.1.3.3", "1.2.643.7.1.1.2.3", "1.2.643.7.1.1.2.3", 0x8022, true},
    // The hash factory knows SHA-2 by the RSA signature OIDs.
    {signature_kind::rsa_sha256, "1.2.840.113549.1.1.11", "1.2.840.113549.1.1.11", "2.16.840.1.101.3.4.2.1", 0x800C,
     false},
    {signature_kind::rsa_sha384, "1.2.840.113549.1.1.12", "1.2.840.113549.1.1.12", "2.16.840.1.101.3.4.2.2", 0x800D,
     false},
    {signature_kind::rsa_sha512, "1.2.840.113549.1.1.13", "1.2.840.113549.1.1.13", "2.16.840.1.101.3.4.2.3", 0x800E,
     false},
};

}  // namespace

const signature_kind_info* find_signature_kind(const std::string& signature_oid)
{
    for (const auto& row : kinds)
        if (signature_oid == row.signature_oid)
            return &row;
    return nullptr;
}

const signature_kind_info& signature_kind_row(signature_kind kind)
{
    return kinds[static_cast<int>(kind)];
}

signature_algorithm::signature_algorithm(certificate_ptr certificate, std::string pin)
    : certificate_(std::move(certificate)), pin_(std::move(pin))
{
}

signature_algorithm::~signature_algorithm()
{
    secure_wipe(pin_);
}

signature_set signature_algorithm::sign_hashes_checked(const hash_set& hashes, const signature_check& check)
{
    signature_set signatures = sign_hashes(hashes);
    if (check)
        for (const auto& [id, signature] : signatures)
            check(id, signature);
    return signatures;
}

void signature_algorithm::check_hash(const byte_vector& hash) const
{
    if (hash.empty())
        throw std::invalid_argument("Empty hash");
    const auto digest = create_hash();
    const auto expected = static_cast<std::size_t>(digest ? digest->size() : 0);
    if (hash.size() != expected)
        throw std::invalid_argument("Invalid hash length: expected " + std::to_string(expected) + " bytes, got " +
                                    std::to_string(hash.size()));
}

}  // namespace crypto
