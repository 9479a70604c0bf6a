#include "signature_scheme.h"

#include <cstring>

#include "crypto/sha2/sha256.h"

namespace pkcs11_standin {

bool is_signing_mechanism(CK_MECHANISM_TYPE mechanism)
{
    return mechanism == CKM_GOSTR3410 || mechanism == CKM_GOSTR3410_WITH_GOSTR3411 || mechanism == gost_2012_512_sign || mechanism == gost_2012_256_with_hash ||
           mechanism == gost_2012_512_with_hash;
}

std::size_t signed_data_length(CK_MECHANISM_TYPE mechanism)
{
    if (mechanism == CKM_GOSTR3410)
        return 32;
    if (mechanism == gost_2012_512_sign)
        return 64;
    return 0;
}

std::size_t signature_length(CK_MECHANISM_TYPE mechanism)
{
    return mechanism == gost_2012_512_sign || mechanism == gost_2012_512_with_hash ? 128 : 64;
}

namespace {

bytes standin_blocks(CK_MECHANISM_TYPE mechanism, const bytes& key_id, const bytes& data, std::size_t size)
{
    static const char label[] = "kelvora-pkcs11-standin";
    const std::uint8_t mechanism_bytes[4] = {
        static_cast<std::uint8_t>(mechanism >> 24), static_cast<std::uint8_t>(mechanism >> 16),
        static_cast<std::uint8_t>(mechanism >> 8), static_cast<std::uint8_t>(mechanism)};
    bytes signature;
    for (std::size_t block = 0; signature.size() < size; ++block) {
        crypto::sha256 digest;
        digest.init();
        digest.update(label, static_cast<std::uint32_t>(std::strlen(label)));
        digest.update(mechanism_bytes, sizeof(mechanism_bytes));
        const std::uint8_t index = static_cast<std::uint8_t>(block);
        digest.update(&index, 1);
        digest.update(key_id.data(), static_cast<std::uint32_t>(key_id.size()));
        digest.update(data.data(), static_cast<std::uint32_t>(data.size()));
        const auto part = digest.final();
        signature.insert(signature.end(), part.begin(), part.end());
    }
    return signature;
}

}  // namespace

bytes standin_signature(CK_MECHANISM_TYPE mechanism, const bytes& key_id, const bytes& data)
{
    return standin_blocks(mechanism, key_id, data, signature_length(mechanism));
}

bool is_key_pair_mechanism(CK_MECHANISM_TYPE mechanism)
{
    return mechanism == CKM_GOSTR3410_KEY_PAIR_GEN || mechanism == gost_2012_512_key_pair_gen;
}

bytes standin_public_key(CK_MECHANISM_TYPE mechanism, const bytes& key_id)
{
    return standin_blocks(mechanism, key_id, bytes(), mechanism == gost_2012_512_key_pair_gen ? 128 : 64);
}

}  // namespace pkcs11_standin
